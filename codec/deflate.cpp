// The Deflate encoder's entry points: create, destroy and compress one chunk.
//
// Each call turns one chunk into exactly one block with the fixed Huffman codes (RFC 1951
// section 3.2.6): a 3-bit header (final flag, type 01), the chunk's literals and matches, and
// the end-of-block code. Blocks are not byte-aligned; up to 7 bits carry over to the next call,
// and only the final call pads to a byte boundary. The history (last 32,768 bytes and their
// hash chains) carries over too, so matches reach back into earlier chunks.
//
// The output of a call is a new task-allocated buffer of 32,768 bytes that doubles when full;
// the caller owns it. Allocation failures are reported: create returns 0 after releasing what
// it made, and a call returns 0 with no output after releasing its buffer (the handle is then
// only fit to be destroyed).
#include "codec/deflate.h"

#include <new>

#include "codec/crc32.h"
#include "codec/deflate_parse.h"

namespace lum::codec {

CodecWord DeflateCreate(CodecWord tableWord, CodecWord, CodecWord, CodecWord) {
  const auto* table = reinterpret_cast<const CodecEntryTable*>(tableWord);
  if (table == nullptr) return 0;
  void* state = table->pfnAlloc(sizeof(DeflateState));
  void* finder = state ? table->pfnAlloc(sizeof(DeflateMatchFinder)) : nullptr;
  void* writer = finder ? table->pfnAlloc(sizeof(DeflateBitWriter)) : nullptr;
  if (writer == nullptr) {
    table->pfnFree(finder);
    table->pfnFree(state);
    return 0;
  }
  auto* s = new (state)
      DeflateState{table, new (finder) DeflateMatchFinder, new (writer) DeflateBitWriter};
  s->finder->Reset();
  s->writer->buffer = nullptr;
  s->writer->length = 0;
  s->writer->capacity = 0;
  s->writer->accumulator = 0;
  s->writer->bitCount = 0;
  BuildDeflateCodeTables(*table, s->writer->codes);
  return Word(s);
}

CodecWord DeflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord) {
  auto* s = reinterpret_cast<DeflateState*>(handle);
  if (s == nullptr) return 0;
  const CodecFreeFn release = s->table->pfnFree;
  release(s->writer);
  release(s->finder);
  release(s);
  return 0;
}

CodecWord Deflate(CodecWord handle, CodecWord blockWord, CodecWord crcWord, CodecWord) {
  auto* s = reinterpret_cast<DeflateState*>(handle);
  auto* block = reinterpret_cast<CodecBlock*>(blockWord);
  if (s == nullptr || block == nullptr) return 0;
  block->pOutput = nullptr;
  block->lOutputSize = 0;
  const std::int32_t n = block->lInputSize;
  if (n < 0 || (n > 0 && block->pInput == nullptr)) return 0;

  const CodecEntryTable& table = *s->table;
  auto* buffer = static_cast<std::uint8_t*>(table.pfnAlloc(kDeflateFirstBuffer));
  if (buffer == nullptr) return 0;

  const std::uint8_t* in = block->pInput;
  if (crcWord != 0) {
    Crc32UpdateFast(table.pCrc32Table, in, static_cast<std::size_t>(n),
                    *reinterpret_cast<std::uint32_t*>(crcWord));
  }

  DeflateBitWriter& w = *s->writer;
  DeflateBitSink out(buffer, kDeflateFirstBuffer, table.pfnRealloc, w.accumulator, w.bitCount);
  const bool final = block->bFinal != 0;
  out.Put(final ? 3u : 2u, 3);

  DeflateSearch search{DeflateClampCandidates(block->lMaxCandidates), block->lCompareLength};
  s->finder->BeginChunk(in, n);
  if (block->bGreedy != 0) {
    DeflateParseGreedy(*s->finder, out, w.codes, in, n, search);
  } else {
    DeflateParseLazy(*s->finder, out, w.codes, in, n, search);
  }
  s->finder->EndChunk();

  out.Put(0, 7);  // end of block: symbol 256 is seven 0 bits
  if (final) {
    out.AlignToByte();
  } else {
    out.Flush();
  }
  if (out.Failed()) {
    table.pfnFree(out.Buffer());
    return 0;
  }
  w.accumulator = out.PendingBits();
  w.bitCount = out.PendingCount();
  block->pOutput = out.Buffer();
  block->lOutputSize = out.Length();
  return 1;
}

}  // namespace lum::codec
