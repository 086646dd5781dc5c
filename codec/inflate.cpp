// Temporary: the resumable decoder is being written; these entry points fail.
#include "codec/codec_table.h"

namespace lum::codec {
CodecWord InflateCreate(CodecWord, CodecWord, CodecWord, CodecWord) { return 0; }
CodecWord InflateDestroy(CodecWord, CodecWord, CodecWord, CodecWord) { return 0; }
CodecWord Inflate(CodecWord, CodecWord, CodecWord, CodecWord) { return 0; }
}  // namespace lum::codec
