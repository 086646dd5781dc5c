// A slow, literal model of the Deflate encoder, used to check the real one byte for byte, and
// a small reader of fixed-Huffman streams that lists their symbols for tests that check what
// the encoder chose.
//
// The model follows the encoder's rules step by step with their own data structures: doubly
// linked chain records with 16-bit links, a circular window, a candidate list narrowed one
// byte at a time, pending bytes held in a 4-byte array, and a 32-bit bit accumulator fed one
// field at a time with Huffman codes written bit by bit. It shares no code with the encoder;
// from the entry table it takes only the length-code and distance-code records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec_table.h"

namespace lum::test {

struct DeflateParams {
  bool greedy;
  std::int32_t maxCandidates;
  std::int32_t compareLength;
};

// The parameters of level 1–9, written out here independently of the encoder's table.
DeflateParams ReferenceLevel(int level);

class ReferenceDeflater {
 public:
  explicit ReferenceDeflater(const codec::CodecEntryTable& table);

  // The bytes one call produces for `size` bytes at `input`. maxCandidates is limited to
  // 1–1,000 as the encoder limits it.
  std::vector<std::uint8_t> Deflate(const std::uint8_t* input, std::int32_t size, bool final,
                                    const DeflateParams& params);

 private:
  struct ChainRecord {
    std::int16_t older;
    std::int16_t newer;
    std::int32_t hash;
  };
  struct Match {
    std::int32_t distance;
    std::int32_t length;  // 0: none
  };

  void WriteBits(std::uint32_t value, int count);
  void WriteHuffman(std::uint32_t code, int length);
  void WriteLiteral(std::uint8_t c);
  void WriteMatch(std::int32_t distance, std::int32_t length);
  std::uint32_t HashOf(const std::uint8_t* four) const;
  void InsertPosition(std::uint8_t b, std::int32_t h);
  void InsertOrPend(std::int32_t i);
  std::uint8_t CandidateByte(std::int32_t d, std::int32_t i, std::int32_t j) const;
  Match FindMatch(std::int32_t i);

  const codec::CodecEntryTable& m_table;
  std::unique_ptr<ChainRecord[]> m_chain;
  std::unique_ptr<std::uint8_t[]> m_window;
  std::int32_t m_windowPos = 0;
  std::unique_ptr<std::int16_t[]> m_heads;
  std::uint8_t m_pending[4] = {};
  std::int32_t m_pendingCount = 0;
  std::unique_ptr<std::int32_t[]> m_candidates;
  std::unique_ptr<std::int32_t[]> m_kept;  // survivors of one narrowing step

  std::vector<std::uint8_t> m_out;
  std::uint32_t m_acc = 0;
  std::int32_t m_bitCount = 0;

  const std::uint8_t* m_in = nullptr;
  std::int32_t m_size = 0;
  DeflateParams m_params{};
};

// The whole stream of `data` cut into the chunk sizes `chunks` (which must add up to its size;
// the last chunk is final), one output per call.
std::vector<std::vector<std::uint8_t>> ReferenceDeflateChunks(
    const codec::CodecEntryTable& table, const std::vector<std::uint8_t>& data,
    const std::vector<std::int32_t>& chunks, const DeflateParams& params);

// Chunk sizes adding up to `size`: each between minChunk and maxChunk (minChunk may be 0 for
// empty chunks), then, if `emptyFinal`, one more empty chunk marked final.
std::vector<std::int32_t> RandomChunks(std::size_t size, std::int32_t minChunk,
                                       std::int32_t maxChunk, std::uint64_t seed,
                                       bool emptyFinal = false);
// Chunks of `chunk` bytes and a shorter last one (one empty chunk for empty data).
std::vector<std::int32_t> FixedChunks(std::size_t size, std::int32_t chunk);

// The codec's encoder run through `table` (slots 0–2) over `data` in `chunks`, the last one
// final, with a CRC register preset to 0xFFFFFFFF. `ok` is false when a call failed.
struct CodecDeflateRun {
  std::vector<std::vector<std::uint8_t>> outputs;  // one per call
  std::uint32_t crc = 0xFFFFFFFFu;                 // raw register after the last call
  bool ok = true;
  std::vector<std::uint8_t> Joined() const;
};
CodecDeflateRun CodecDeflateChunks(const codec::CodecEntryTable& table,
                                   const std::vector<std::uint8_t>& data,
                                   const std::vector<std::int32_t>& chunks,
                                   const DeflateParams& params);

// One symbol of a fixed-Huffman stream: a literal, a match, or the end of a block.
struct DeflateToken {
  enum Kind { kLiteral, kMatch, kEndOfBlock } kind;
  std::int32_t value;     // literal byte, or match length
  std::int32_t distance;  // matches only
  bool operator==(const DeflateToken&) const = default;
};
DeflateToken Lit(std::uint8_t c);
DeflateToken Copy(std::int32_t length, std::int32_t distance);
DeflateToken EndOfBlock();
std::string ToString(const std::vector<DeflateToken>& tokens);

// Symbols of a stream made only of fixed-Huffman blocks, until the final block ends. Returns
// false (with what was read) when the stream is malformed or holds another block type.
bool ReadFixedTokens(const std::vector<std::uint8_t>& stream, std::vector<DeflateToken>& tokens);

}  // namespace lum::test
