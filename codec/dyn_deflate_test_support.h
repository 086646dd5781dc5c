// The dynamic-Huffman encoder driven over a chunked input, shared by its unit and reference
// tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/dyn_deflate.h"

namespace lum::codec::dyntest {

using Bytes = std::vector<std::uint8_t>;

struct Encoded {
  Bytes stream;
  std::uint32_t crc = 0xFFFFFFFFu;
  bool ok = true;
};

// Compresses `data` with the handle `h` in the chunk sizes `chunks` (the last call final), call
// i at levels[i % levels.size()].
inline Encoded CompressAtLevels(const CodecEntryTable& table, CodecWord h, const Bytes& data,
                                const std::vector<std::int32_t>& chunks,
                                const std::vector<int>& levels) {
  Encoded run;
  std::size_t at = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    CodecBlock b{};
    b.pInput = data.data() + at;
    b.lInputSize = chunks[i];
    b.bFinal = i + 1 == chunks.size() ? 1 : 0;
    at += static_cast<std::size_t>(chunks[i]);
    if (DynDeflate(h, Word(&b), Word(&run.crc), levels[i % levels.size()]) != 1 ||
        b.pOutput == nullptr) {
      run.ok = false;
      break;
    }
    run.stream.insert(run.stream.end(), b.pOutput, b.pOutput + b.lOutputSize);
    table.pfnFree(b.pOutput);
  }
  return run;
}

// The same with every call at `level`.
inline Encoded CompressWith(const CodecEntryTable& table, CodecWord h, const Bytes& data,
                            const std::vector<std::int32_t>& chunks, int level) {
  return CompressAtLevels(table, h, data, chunks, {level});
}

// The same with a new handle.
inline Encoded Compress(const CodecEntryTable& table, const Bytes& data,
                        const std::vector<std::int32_t>& chunks, int level) {
  const CodecWord h = DynDeflateCreate(Word(&table), 0, 0, 0);
  if (h == 0) return {{}, 0, false};
  Encoded run = CompressWith(table, h, data, chunks, level);
  DynDeflateDestroy(h, 0, 0, 0);
  return run;
}

}  // namespace lum::codec::dyntest
