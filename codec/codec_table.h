// The codec's call interface: the entry table through which an archive object reaches
// every codec routine, the constant tables it carries, and the record through which one
// chunk of data passes to the encoder or decoder.
//
// The codec has no fixed addresses of its own: its routines receive the entry table as
// their first argument (create and CRC routines) or remember it in their handle, and take
// the allocator and the constant tables from it. Slots are pointer-sized, so the table is
// 18 × 4 bytes in the 32-bit Windows build and 18 × 8 bytes natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lum::codec {

// One argument or result of a codec routine: a 32-bit value or an address.
using CodecWord = std::intptr_t;

// Every routine in slots 0–6 takes four such words and returns one; an argument a routine
// does not read is passed as 0.
using CodecRoutine = CodecWord (*)(CodecWord a1, CodecWord a2, CodecWord a3, CodecWord a4);

using CodecAllocFn = void* (*)(std::size_t size);
using CodecReallocFn = void* (*)(void* block, std::size_t size);
using CodecFreeFn = void (*)(void* block);

// A length-code or distance-code record: `code` covers the values lowest..highest, which
// are coded as the code followed by `extraBits` bits holding value − lowest.
struct CodecCodeRecord {
  std::uint16_t code;
  std::uint16_t extraBits;
  std::int32_t lowest;
  std::int32_t highest;
};
static_assert(sizeof(CodecCodeRecord) == 12);

inline constexpr int kLengthCodeCount = 29;    // codes 257..285
inline constexpr int kDistanceCodeCount = 30;  // codes 0..29
inline constexpr int kCrc32TableSize = 1024;   // four sub-tables of 256

// The archive object's table of codec routines and constant tables.
struct CodecEntryTable {
  CodecRoutine pfnDeflateCreate;   // 0: a1 = &table → encoder handle, 0 on failure
  CodecRoutine pfnDeflateDestroy;  // 1: a1 = encoder handle
  CodecRoutine pfnDeflate;         // 2: a1 = handle, a2 = &CodecBlock, a3 = &crc or 0 → 1/0
  CodecRoutine pfnInflateCreate;   // 3: a1 = &table → decoder handle, 0 on failure
  CodecRoutine pfnInflateDestroy;  // 4: a1 = decoder handle
  CodecRoutine pfnInflate;         // 5: a1 = handle, a2 = &CodecBlock, a3 = &crc or 0 → 1/0
  CodecRoutine pfnCrc32Update;     // 6: a1 = &table, a2 = data, a3 = count, a4 = &crc
  CodecWord lReserved1;            // 7–9: reserved, 0, never called
  CodecWord lReserved2;
  CodecWord lReserved3;
  CodecAllocFn pfnAlloc;                  // 10: CoTaskMemAlloc or its counterpart
  CodecReallocFn pfnRealloc;              // 11: CoTaskMemRealloc
  CodecFreeFn pfnFree;                    // 12: CoTaskMemFree
  const CodecCodeRecord* pLengthCodes;    // 13: 29 records, codes 257..285
  const CodecCodeRecord* pDistanceCodes;  // 14: 30 records, codes 0..29
  const std::uint8_t* pBitReverse;        // 15: 256 bytes, i with its bits reversed
  const std::uint8_t* pCodeLengthOrder;   // 16: 19 bytes and a terminating 0
  const std::uint32_t* pCrc32Table;       // 17: 1024 entries
};
static_assert(sizeof(CodecEntryTable) == 18 * sizeof(void*));

// One chunk passing through pfnDeflate or pfnInflate. The decoder reads and writes only
// the first four fields.
struct CodecBlock {
  const std::uint8_t* pInput;   // in: the chunk
  std::int32_t lInputSize;      // in: bytes in the chunk; 0 is allowed
  std::uint8_t* pOutput;        // out: buffer allocated by the call; the caller frees it
  std::int32_t lOutputSize;     // out: valid bytes in pOutput
  std::int32_t bFinal;          // in, encoder: non-zero for the last chunk of the stream
  std::int32_t bGreedy;         // in, encoder: non-zero greedy, zero lazy parsing
  std::int32_t lMaxCandidates;  // in, encoder: most match candidates per position (≤ 1000)
  std::int32_t lCompareLength;  // in, encoder: bytes over which candidates are compared
};

// The constant tables of the codec (RFC 1951 section 3.2.5 and 3.2.7).
extern const CodecCodeRecord kLengthCodes[kLengthCodeCount];
extern const CodecCodeRecord kDistanceCodes[kDistanceCodeCount];
extern const std::uint8_t kBitReverse[256];
extern const std::uint8_t kCodeLengthOrder[20];

// Codec routines, in the four-word calling shape. Reach them through the entry table.
CodecWord DeflateCreate(CodecWord table, CodecWord, CodecWord, CodecWord);
CodecWord DeflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord);
CodecWord Deflate(CodecWord handle, CodecWord block, CodecWord crc, CodecWord);
CodecWord InflateCreate(CodecWord table, CodecWord, CodecWord, CodecWord);
CodecWord InflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord);
CodecWord Inflate(CodecWord handle, CodecWord block, CodecWord crc, CodecWord);
CodecWord Crc32Update(CodecWord table, CodecWord data, CodecWord count, CodecWord crc);

// Helpers for callers written in C++: call a slot with typed arguments.
inline CodecWord Word(const void* p) {
  return reinterpret_cast<CodecWord>(p);
}

}  // namespace lum::codec
