// The dynamic-Huffman Deflate encoder: a second encoder beside the fixed-Huffman one of the
// entry table, with the same resumable calling shape (four words: handle, CodecBlock, CRC
// register, level). It is not in the entry table; callers that want it (the archive writer
// when its property asks for it) call these routines directly with the entry table's
// allocator and constant tables.
//
// Contract of one stream, as for the fixed encoder: DynDeflateCreate(&table) gives a handle
// (0 when an allocation failed); each DynDeflate call consumes the whole chunk and returns a
// new task-allocated buffer with every complete compressed byte not returned before (possibly
// none until enough input has come to close a block); the call with bFinal set ends the
// stream on a byte boundary. A call returns 1, or 0 with no output when an allocation failed
// (the handle is then only fit to be destroyed). a4 is the compression level, 1 (fastest) to
// 9 (smallest), limited to that range; bGreedy, lMaxCandidates and lCompareLength are not read.
//
// DynDeflateReset(handle) readies a handle for a new stream, whatever state the last one was
// left in (finished, abandoned part-way, or after a failed call): the stream that follows is
// byte for byte what a new handle would write. It costs a few hundred bytes of writes instead
// of the handle's allocations and its 320 KiB of match-finder tables, which is what an archive
// of many small entries saves by keeping one handle. Returns 1, or 0 for a null handle.
#pragma once

#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec {

CodecWord DynDeflateCreate(CodecWord table, CodecWord, CodecWord, CodecWord);
CodecWord DynDeflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord);
CodecWord DynDeflate(CodecWord handle, CodecWord block, CodecWord crc, CodecWord level);
CodecWord DynDeflateReset(CodecWord handle, CodecWord, CodecWord, CodecWord);

}  // namespace lum::codec
