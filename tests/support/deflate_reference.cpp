#include "tests/support/deflate_reference.h"

#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace lum::test {

namespace {

constexpr std::int32_t kWindow = 32768;

// Position in a circular window of 32,768, for any integer.
std::int32_t Wrap(std::int32_t v) {
  return ((v % kWindow) + kWindow) % kWindow;
}

const codec::CodecCodeRecord& RecordFor(const codec::CodecCodeRecord* records, int count,
                                        std::int32_t value) {
  int lo = 0;
  int hi = count - 1;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (records[mid].highest < value) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return records[lo];
}

}  // namespace

DeflateParams ReferenceLevel(int level) {
  switch (level) {
    case 1:
      return {true, 2, 8};
    case 2:
      return {true, 6, 10};
    case 3:
      return {true, 12, 14};
    case 4:
      return {true, 24, 24};
    case 5:
      return {false, 8, 30};
    case 6:
      return {false, 16, 65};
    case 7:
      return {false, 32, 130};
    case 8:
      return {false, 64, 200};
    default:
      return {false, 1000, 32768};
  }
}

ReferenceDeflater::ReferenceDeflater(const codec::CodecEntryTable& table)
    : m_table(table),
      m_chain(std::make_unique_for_overwrite<ChainRecord[]>(kWindow)),
      m_window(std::make_unique_for_overwrite<std::uint8_t[]>(kWindow)),
      m_heads(std::make_unique_for_overwrite<std::int16_t[]>(65536)),
      m_candidates(std::make_unique_for_overwrite<std::int32_t[]>(1000)),
      m_kept(std::make_unique_for_overwrite<std::int32_t[]>(1000)) {
  // Every chain field and every head is −1 (all bits set). The window is not cleared at
  // creation; a recognisable filler stands for whatever memory held, so that any read of a
  // never-written byte would show as a difference.
  std::memset(m_chain.get(), 0xFF, kWindow * sizeof(ChainRecord));
  std::memset(m_heads.get(), 0xFF, 65536 * sizeof(std::int16_t));
  std::memset(m_window.get(), 0xA5, kWindow);
}

void ReferenceDeflater::WriteBits(std::uint32_t value, int count) {
  m_acc |= value << m_bitCount;
  m_bitCount += count;
  while (m_bitCount >= 8) {
    m_out.push_back(static_cast<std::uint8_t>(m_acc & 0xFF));
    m_acc >>= 8;
    m_bitCount -= 8;
  }
}

void ReferenceDeflater::WriteHuffman(std::uint32_t code, int length) {
  for (int k = length - 1; k >= 0; --k) WriteBits((code >> k) & 1u, 1);
}

void ReferenceDeflater::WriteLiteral(std::uint8_t c) {
  if (c <= 143) {
    WriteHuffman(0x30u + c, 8);
  } else {
    WriteHuffman(0x100u + c, 9);
  }
}

void ReferenceDeflater::WriteMatch(std::int32_t distance, std::int32_t length) {
  std::int32_t left = length;
  while (left > 0) {
    std::int32_t piece;
    if (left > 260) {
      piece = 258;
    } else if (left == 259 || left == 260) {
      piece = left - 3;
    } else {
      piece = left;
    }
    const auto& lc = RecordFor(m_table.pLengthCodes, codec::kLengthCodeCount, piece);
    if (lc.code <= 279) {
      WriteHuffman(lc.code - 256u, 7);  // symbol 256 (end of block) is code 0
    } else {
      WriteHuffman(0xC0u + (lc.code - 280u), 8);
    }
    WriteBits(static_cast<std::uint32_t>(piece - lc.lowest), lc.extraBits);
    const auto& dc = RecordFor(m_table.pDistanceCodes, codec::kDistanceCodeCount, distance);
    WriteHuffman(dc.code, 5);
    WriteBits(static_cast<std::uint32_t>(distance - dc.lowest), dc.extraBits);
    left -= piece;
  }
}

std::uint32_t ReferenceDeflater::HashOf(const std::uint8_t* four) const {
  const std::uint32_t w =
      four[0] | four[1] << 8 | four[2] << 16 | static_cast<std::uint32_t>(four[3]) << 24;
  return (w * 0x1E35A7BDu) >> 16;
}

void ReferenceDeflater::InsertPosition(std::uint8_t b, std::int32_t h) {
  const std::int32_t p = m_windowPos;
  ChainRecord& old = m_chain[p];
  if (old.newer != -1) {
    m_chain[old.newer].older = -1;
  } else if (old.hash != -1) {
    m_heads[old.hash] = -1;
  }
  ChainRecord& rec = m_chain[p];
  rec.hash = h;
  rec.newer = -1;
  rec.older = m_heads[h];
  m_heads[h] = static_cast<std::int16_t>(p);
  if (rec.older != -1) m_chain[rec.older].newer = static_cast<std::int16_t>(p);
  m_window[p] = b;
  m_windowPos = (p + 1) % kWindow;
}

void ReferenceDeflater::InsertOrPend(std::int32_t i) {
  if (m_size - i >= 4) {
    InsertPosition(m_in[i], static_cast<std::int32_t>(HashOf(m_in + i)));
  } else {
    if (m_pendingCount >= 4) std::abort();  // at most 3 are ever held
    m_pending[m_pendingCount++] = m_in[i];
  }
}

std::uint8_t ReferenceDeflater::CandidateByte(std::int32_t d, std::int32_t i,
                                              std::int32_t j) const {
  if (j < d) return m_window[Wrap(m_windowPos - d + j)];
  return m_in[i + j - d];
}

ReferenceDeflater::Match ReferenceDeflater::FindMatch(std::int32_t i) {
  const std::int32_t r = m_size - i;
  if (r < 4) return {0, 0};
  const std::int32_t h = static_cast<std::int32_t>(HashOf(m_in + i));
  std::int32_t count = 0;
  for (std::int32_t p = m_heads[h]; p != -1; p = m_chain[p].older) {
    const std::int32_t d = kWindow - Wrap(p - m_windowPos);
    bool equal = true;
    for (std::int32_t j = 0; j < 4; ++j) {
      if (CandidateByte(d, i, j) != m_in[i + j]) equal = false;
    }
    if (!equal) continue;
    m_candidates[count++] = d;
    if (count == m_params.maxCandidates) break;
  }
  if (count == 0) return {0, 0};

  const std::int32_t limit = std::min(m_params.compareLength, r);
  std::int32_t j = 4;
  // The list is narrowed into the second array, which then becomes the list.
  std::int32_t* list = m_candidates.get();
  std::int32_t* kept = m_kept.get();
  std::int32_t listCount = count;
  while (j < limit) {
    std::int32_t keptCount = 0;
    for (std::int32_t k = 0; k < listCount; ++k) {
      if (CandidateByte(list[k], i, j) == m_in[i + j]) kept[keptCount++] = list[k];
    }
    if (keptCount >= 2) {
      std::swap(list, kept);
      listCount = keptCount;
      ++j;
      continue;
    }
    if (keptCount == 1) list[0] = kept[0];
    break;
  }
  const std::int32_t d = list[0];
  while (j < r && CandidateByte(d, i, j) == m_in[i + j]) ++j;
  return {d, j};
}

std::vector<std::uint8_t> ReferenceDeflater::Deflate(const std::uint8_t* input, std::int32_t size,
                                                     bool final, const DeflateParams& params) {
  m_in = input;
  m_size = size;
  m_params = params;
  m_params.maxCandidates = std::clamp(params.maxCandidates, 1, 1000);
  m_out.clear();

  WriteBits(2u + (final ? 1u : 0u), 3);

  std::int32_t k = 0;
  while (k < m_pendingCount) {
    if ((m_pendingCount - k) + size < 4) break;
    std::uint8_t four[4];
    for (std::int32_t t = 0; t < 4; ++t) {
      four[t] = k + t < m_pendingCount ? m_pending[k + t] : input[k + t - m_pendingCount];
    }
    InsertPosition(m_pending[k], static_cast<std::int32_t>(HashOf(four)));
    ++k;
  }
  for (std::int32_t t = k; t < m_pendingCount; ++t) m_pending[t - k] = m_pending[t];
  m_pendingCount -= k;

  std::int32_t i = 0;
  if (params.greedy) {
    while (i < size) {
      const Match m = FindMatch(i);
      if (m.length == 0) {
        WriteLiteral(input[i]);
        InsertOrPend(i);
        ++i;
      } else {
        WriteMatch(m.distance, m.length);
        for (std::int32_t q = i; q < i + m.length; ++q) InsertOrPend(q);
        i += m.length;
      }
    }
  } else {
    bool haveDeferred = false;
    Match deferred{0, 0};
    std::uint8_t deferredByte = 0;
    while (i < size) {
      const Match m = FindMatch(i);
      if (m.length == 0) {
        if (haveDeferred) {
          WriteMatch(deferred.distance, deferred.length);
          for (std::int32_t q = i; q < i + deferred.length - 1; ++q) InsertOrPend(q);
          i += deferred.length - 1;
          haveDeferred = false;
        } else {
          WriteLiteral(input[i]);
          InsertOrPend(i);
          ++i;
        }
      } else if (haveDeferred) {
        if (m.length > deferred.length + 1) {
          WriteLiteral(deferredByte);
          deferred = m;
          deferredByte = input[i];
          InsertOrPend(i);
          ++i;
        } else {
          WriteMatch(deferred.distance, deferred.length);
          for (std::int32_t q = i; q < i + deferred.length - 1; ++q) InsertOrPend(q);
          i += deferred.length - 1;
          haveDeferred = false;
        }
      } else {
        haveDeferred = true;
        deferred = m;
        deferredByte = input[i];
        InsertOrPend(i);
        ++i;
      }
    }
    if (haveDeferred) std::abort();  // a deferred match never outlives its chunk
  }

  WriteHuffman(0, 7);
  if (final && m_bitCount > 0) WriteBits(0, 8 - m_bitCount);
  return m_out;
}

std::vector<std::vector<std::uint8_t>> ReferenceDeflateChunks(
    const codec::CodecEntryTable& table, const std::vector<std::uint8_t>& data,
    const std::vector<std::int32_t>& chunks, const DeflateParams& params) {
  ReferenceDeflater ref(table);
  std::vector<std::vector<std::uint8_t>> out;
  std::size_t at = 0;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    out.push_back(ref.Deflate(data.data() + at, chunks[c], c + 1 == chunks.size(), params));
    at += static_cast<std::size_t>(chunks[c]);
  }
  return out;
}

std::vector<std::int32_t> RandomChunks(std::size_t size, std::int32_t minChunk,
                                       std::int32_t maxChunk, std::uint64_t seed, bool emptyFinal) {
  Rng rng(seed);
  std::vector<std::int32_t> chunks;
  std::size_t left = size;
  while (left > 0) {
    const auto want = static_cast<std::size_t>(
        rng.Range(static_cast<std::uint64_t>(minChunk), static_cast<std::uint64_t>(maxChunk)));
    const std::size_t take = std::min(want, left);
    chunks.push_back(static_cast<std::int32_t>(take));
    left -= take;
  }
  if (emptyFinal || chunks.empty()) chunks.push_back(0);
  return chunks;
}

std::vector<std::int32_t> FixedChunks(std::size_t size, std::int32_t chunk) {
  std::vector<std::int32_t> chunks;
  for (std::size_t at = 0; at < size; at += static_cast<std::size_t>(chunk)) {
    chunks.push_back(static_cast<std::int32_t>(std::min<std::size_t>(chunk, size - at)));
  }
  if (chunks.empty()) chunks.push_back(0);
  return chunks;
}

std::vector<std::uint8_t> CodecDeflateRun::Joined() const {
  std::vector<std::uint8_t> all;
  for (const auto& o : outputs) all.insert(all.end(), o.begin(), o.end());
  return all;
}

CodecDeflateRun CodecDeflateChunks(const codec::CodecEntryTable& table,
                                   const std::vector<std::uint8_t>& data,
                                   const std::vector<std::int32_t>& chunks,
                                   const DeflateParams& params) {
  CodecDeflateRun run;
  const codec::CodecWord handle = table.pfnDeflateCreate(codec::Word(&table), 0, 0, 0);
  if (handle == 0) {
    run.ok = false;
    return run;
  }
  std::size_t at = 0;
  for (std::size_t c = 0; c < chunks.size() && run.ok; ++c) {
    codec::CodecBlock block{};
    block.pInput = data.data() + at;
    block.lInputSize = chunks[c];
    block.bFinal = c + 1 == chunks.size() ? 1 : 0;
    block.bGreedy = params.greedy ? 1 : 0;
    block.lMaxCandidates = params.maxCandidates;
    block.lCompareLength = params.compareLength;
    const codec::CodecWord result =
        table.pfnDeflate(handle, codec::Word(&block), codec::Word(&run.crc), 0);
    if (result != 1 || block.pOutput == nullptr) {
      run.ok = false;
    } else {
      run.outputs.emplace_back(block.pOutput, block.pOutput + block.lOutputSize);
    }
    table.pfnFree(block.pOutput);
    at += static_cast<std::size_t>(chunks[c]);
  }
  table.pfnDeflateDestroy(handle, 0, 0, 0);
  return run;
}

DeflateToken Lit(std::uint8_t c) {
  return {DeflateToken::kLiteral, c, 0};
}
DeflateToken Copy(std::int32_t length, std::int32_t distance) {
  return {DeflateToken::kMatch, length, distance};
}
DeflateToken EndOfBlock() {
  return {DeflateToken::kEndOfBlock, 0, 0};
}

std::string ToString(const std::vector<DeflateToken>& tokens) {
  std::string s;
  char buf[48];
  for (const auto& t : tokens) {
    switch (t.kind) {
      case DeflateToken::kLiteral:
        std::snprintf(buf, sizeof buf, "lit(%d) ", t.value);
        break;
      case DeflateToken::kMatch:
        std::snprintf(buf, sizeof buf, "match(%d,d=%d) ", t.value, t.distance);
        break;
      case DeflateToken::kEndOfBlock:
        std::snprintf(buf, sizeof buf, "eob ");
        break;
    }
    s += buf;
  }
  return s;
}

namespace {

// Reads bits least significant first, and Huffman codes most significant bit first.
class BitReader {
 public:
  explicit BitReader(const std::vector<std::uint8_t>& data) : m_data(data) {}
  bool Bits(int count, std::uint32_t& value) {
    value = 0;
    for (int k = 0; k < count; ++k) {
      if (m_pos >= m_data.size() * 8) return false;
      value |= static_cast<std::uint32_t>((m_data[m_pos / 8] >> (m_pos % 8)) & 1u) << k;
      ++m_pos;
    }
    return true;
  }
  bool Code(int count, std::uint32_t& value) {
    value = 0;
    for (int k = 0; k < count; ++k) {
      std::uint32_t bit;
      if (!Bits(1, bit)) return false;
      value = value << 1 | bit;
    }
    return true;
  }

 private:
  const std::vector<std::uint8_t>& m_data;
  std::size_t m_pos = 0;
};

// Reads one literal/length symbol of the fixed code (RFC 1951 section 3.2.6).
bool ReadSymbol(BitReader& in, std::uint32_t& symbol) {
  std::uint32_t c;
  if (!in.Code(7, c)) return false;
  if (c <= 0x17) {
    symbol = 256 + c;
    return true;
  }
  std::uint32_t bit;
  if (!in.Code(1, bit)) return false;
  c = c << 1 | bit;
  if (c >= 0x30 && c <= 0xBF) {
    symbol = c - 0x30;
    return true;
  }
  if (c >= 0xC0 && c <= 0xC7) {
    symbol = 280 + (c - 0xC0);
    return true;
  }
  if (!in.Code(1, bit)) return false;
  c = c << 1 | bit;
  symbol = 144 + (c - 0x190);
  return c >= 0x190 && c <= 0x1FF;
}

}  // namespace

bool ReadFixedTokens(const std::vector<std::uint8_t>& stream, std::vector<DeflateToken>& tokens) {
  static const std::int32_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const std::int32_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  BitReader in(stream);
  for (;;) {
    std::uint32_t final, type;
    if (!in.Bits(1, final) || !in.Bits(2, type) || type != 1) return false;
    for (;;) {
      std::uint32_t sym;
      if (!ReadSymbol(in, sym)) return false;
      if (sym < 256) {
        tokens.push_back(Lit(static_cast<std::uint8_t>(sym)));
        continue;
      }
      if (sym == 256) {
        tokens.push_back(EndOfBlock());
        break;
      }
      if (sym > 285) return false;
      std::uint32_t extra, dsym, dextra;
      if (!in.Bits(kLengthExtra[sym - 257], extra) || !in.Code(5, dsym) || dsym > 29) return false;
      const int dbits = dsym < 4 ? 0 : static_cast<int>(dsym / 2 - 1);
      const std::int32_t dbase = dsym < 4
                                     ? static_cast<std::int32_t>(dsym) + 1
                                     : ((2 + static_cast<std::int32_t>(dsym % 2)) << dbits) + 1;
      if (!in.Bits(dbits, dextra)) return false;
      tokens.push_back(Copy(kLengthBase[sym - 257] + static_cast<std::int32_t>(extra),
                            dbase + static_cast<std::int32_t>(dextra)));
    }
    if (final) return true;
  }
}

}  // namespace lum::test
