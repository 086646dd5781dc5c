// ReadZipLayout: the archive's records field by field (see zip_layout.h).
#include "tests/support/zip_layout.h"

namespace lum::test {
namespace {

class Cursor {
 public:
  Cursor(const std::vector<std::uint8_t>& bytes, std::size_t at) : m_bytes(bytes), m_at(at) {}
  bool Ok() const { return m_ok; }
  std::size_t At() const { return m_at; }
  std::uint16_t U16() {
    if (!Has(2)) return 0;
    const auto v = static_cast<std::uint16_t>(m_bytes[m_at] | (m_bytes[m_at + 1] << 8));
    m_at += 2;
    return v;
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    if (!Has(n)) return {};
    std::vector<std::uint8_t> out(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_at),
                                  m_bytes.begin() + static_cast<std::ptrdiff_t>(m_at + n));
    m_at += n;
    return out;
  }

 private:
  bool Has(std::size_t n) {
    if (m_at + n > m_bytes.size()) m_ok = false;
    return m_ok;
  }
  const std::vector<std::uint8_t>& m_bytes;
  std::size_t m_at;
  bool m_ok = true;
};

}  // namespace

std::optional<ZipLayout> ReadZipLayout(const std::vector<std::uint8_t>& bytes) {
  ZipLayout z;
  // The end record is the last one whose comment reaches exactly to the end.
  std::optional<std::size_t> end;
  for (std::size_t back = 22; back <= bytes.size() && back <= 22 + 0xFFFF; ++back) {
    const std::size_t at = bytes.size() - back;
    Cursor c(bytes, at);
    if (c.U32() != 0x06054B50) continue;
    Cursor len(bytes, at + 20);
    if (len.U16() == back - 22) {
      end = at;
      break;
    }
  }
  if (!end) return std::nullopt;
  Cursor e(bytes, *end + 4);
  z.disk = e.U16();
  z.directoryDisk = e.U16();
  z.diskEntries = e.U16();
  z.totalEntries = e.U16();
  z.directorySize = e.U32();
  z.directoryOffset = e.U32();
  z.comment = e.Bytes(e.U16());

  Cursor c(bytes, z.directoryOffset);
  for (std::uint16_t i = 0; i < z.diskEntries; ++i) {
    LaidOutEntry entry;
    CentralHeaderFields& h = entry.central;
    if (c.U32() != 0x02014B50) return std::nullopt;
    h.versionMadeBy = c.U16();
    h.versionNeeded = c.U16();
    h.flags = c.U16();
    h.method = c.U16();
    h.time = c.U16();
    h.date = c.U16();
    h.crc32 = c.U32();
    h.compressedSize = c.U32();
    h.size = c.U32();
    h.nameLength = c.U16();
    h.extraLength = c.U16();
    h.commentLength = c.U16();
    h.diskStart = c.U16();
    h.internalAttributes = c.U16();
    h.externalAttributes = c.U32();
    h.localOffset = c.U32();
    h.name = c.Bytes(h.nameLength);
    h.extra = c.Bytes(h.extraLength);
    h.comment = c.Bytes(h.commentLength);
    if (!c.Ok()) return std::nullopt;

    LocalHeaderFields& l = entry.local;
    Cursor lc(bytes, h.localOffset);
    l.signature = lc.U32();
    l.versionNeeded = lc.U16();
    l.flags = lc.U16();
    l.method = lc.U16();
    l.time = lc.U16();
    l.date = lc.U16();
    l.crc32 = lc.U32();
    l.compressedSize = lc.U32();
    l.size = lc.U32();
    l.nameLength = lc.U16();
    l.extraLength = lc.U16();
    l.name = lc.Bytes(l.nameLength);
    lc.Bytes(l.extraLength);
    l.dataStart = lc.At();
    entry.data = lc.Bytes(h.compressedSize);
    if (!lc.Ok() || l.signature != 0x04034B50) return std::nullopt;
    z.entries.push_back(std::move(entry));
  }
  if (c.At() != z.directoryOffset + z.directorySize || c.At() != *end) return std::nullopt;
  return z;
}

}  // namespace lum::test
