// Crc32UpdateFast: the fastest register-update form this CPU offers, chosen once.
//
// Two forms stand beside the four-table form of crc32.cpp:
//
// - Slicing by eight (here). A CRC is linear, so the register after an 8-byte word is the
//   XOR of the contributions of each of its bytes (the first four XORed with the register),
//   each shifted by the number of bytes that follow it; table k holds "byte n then k zero
//   bytes". One step takes 8 bytes with eight independent look-ups, twice the bytes per
//   step of the four-table form for the same dependency chain. The compiler builds the
//   tables, so there is nothing to initialise and nothing to race on.
// - Carry-less multiplication folding (crc32_pclmul.cpp), for x86 CPUs with PCLMULQDQ.
//
// The form is picked on the first call by asking the CPU and kept in an atomic pointer;
// later calls cost one relaxed load and an indirect call. Tests may force a form.
#include <atomic>
#include <bit>
#include <cstring>

#include "codec/crc32.h"
#include "codec/crc32_fast.h"

namespace lum::codec {
namespace {

using Slice8Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Slice8Tables MakeSlice8Tables() {
  Slice8Tables s{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    s[0][n] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (int n = 0; n < 256; ++n) {
      std::uint32_t prev = s[k - 1][n];
      s[k][n] = (prev >> 8) ^ s[0][prev & 0xFFu];
    }
  }
  return s;
}

inline std::uint32_t Load32(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  } else {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
  }
}

using UpdateFn = void (*)(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                          std::uint32_t& crc);

void UpdateTable(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                 std::uint32_t& crc) {
  Crc32UpdateTable(table, data, count, crc);
}

void UpdateSlice8(const std::uint32_t*, const std::uint8_t* data, std::size_t count,
                  std::uint32_t& crc) {
  Crc32UpdateSlice8(data, count, crc);
}

void UpdatePclmul(const std::uint32_t*, const std::uint8_t* data, std::size_t count,
                  std::uint32_t& crc) {
  Crc32UpdatePclmul(data, count, crc);
}

Crc32Path BestPath() {
  return Crc32PclmulAvailable() ? Crc32Path::kPclmul : Crc32Path::kSlicing8;
}

UpdateFn FnFor(Crc32Path path) {
  switch (path) {
    case Crc32Path::kTable:
      return &UpdateTable;
    case Crc32Path::kSlicing8:
      return &UpdateSlice8;
    case Crc32Path::kPclmul:
      return &UpdatePclmul;
  }
  return &UpdateSlice8;
}

void Resolve(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
             std::uint32_t& crc);

// Starts at Resolve, which replaces itself with the chosen form on the first call. Threads
// racing through Resolve all store the same value.
std::atomic<UpdateFn> g_update{&Resolve};

void Resolve(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
             std::uint32_t& crc) {
  UpdateFn fn = FnFor(BestPath());
  g_update.store(fn, std::memory_order_relaxed);
  fn(table, data, count, crc);
}

}  // namespace

constinit const Slice8Tables kCrc32Slice8 = MakeSlice8Tables();

void Crc32UpdateSlice8(const std::uint8_t* p, std::size_t count, std::uint32_t& crc) {
  const auto& t = kCrc32Slice8;
  std::uint32_t c = crc;
  for (; count >= 8; count -= 8, p += 8) {
    std::uint32_t a = c ^ Load32(p);
    std::uint32_t b = Load32(p + 4);
    c = t[7][a & 0xFFu] ^ t[6][(a >> 8) & 0xFFu] ^ t[5][(a >> 16) & 0xFFu] ^ t[4][a >> 24] ^
        t[3][b & 0xFFu] ^ t[2][(b >> 8) & 0xFFu] ^ t[1][(b >> 16) & 0xFFu] ^ t[0][b >> 24];
  }
  for (; count != 0; --count) c = t[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
  crc = c;
}

void Crc32UpdateFast(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                     std::uint32_t& crc) {
  g_update.load(std::memory_order_relaxed)(table, data, count, crc);
}

const char* Crc32FastPathName() {
  switch (BestPath()) {
    case Crc32Path::kTable:
      return "table";
    case Crc32Path::kSlicing8:
      return "slicing-by-8";
    case Crc32Path::kPclmul:
      return "pclmul folding";
  }
  return "?";
}

namespace testing {

bool SetCrc32Path(Crc32Path path) {
  if (path == Crc32Path::kPclmul && !Crc32PclmulAvailable()) return false;
  g_update.store(FnFor(path), std::memory_order_relaxed);
  return true;
}

void ResetCrc32Path() {
  g_update.store(FnFor(BestPath()), std::memory_order_relaxed);
}

Crc32Path ActiveCrc32Path() {
  UpdateFn fn = g_update.load(std::memory_order_relaxed);
  if (fn == &UpdateTable) return Crc32Path::kTable;
  if (fn == &UpdatePclmul) return Crc32Path::kPclmul;
  if (fn == &UpdateSlice8) return Crc32Path::kSlicing8;
  return BestPath();  // not resolved yet
}

}  // namespace testing

}  // namespace lum::codec
