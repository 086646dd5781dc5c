// The data of one entry: stored bytes copied, Deflate bytes passed through the codec's
// decoder, in chunks of at most 64 KiB of stored data, with a running CRC-32 and a Progress
// event per chunk.
//
// Memory does not grow with the entry: the read buffer is the call's one 64 KiB buffer, and
// every block the decoder hands back is written out and freed before the next chunk is
// read. Progress counts stored bytes: 0, 65536, ... and finally the compressed size. Sizes
// are 64-bit; Progress, whose values are 32-bit, shows them saturated at 0x7FFFFFFF, so past
// 2 GiB of stored data an entry's Current stays at its Total until the entry ends.
#include <algorithm>

#include "zip/extract.h"
#include "zip/write_records.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {

void cZipEngine::pvWriteEntryData(std::int32_t i, EntryInfo& e, ExtractJob& job) {
  const std::int64_t total = e.WholeCompressedSize();
  std::uint32_t crc = 0xFFFFFFFFu;
  std::int64_t done = 0;
  std::int64_t written = 0;

  if (e.Flags & records::kFlagEncrypted) {
    if (pvRaiseProgress(i, 0, pvSaturate32(total))) pvUserCancelled();
    pvRaise({}, kMsgUnsupportedEncryption);
  }
  const bool deflate = e.Method == records::kMethodDeflate;
  if (deflate) {
    job.decoder = m_uCodec.pfnInflateCreate(codec::Word(&m_uCodec), 0, 0, 0);
    if (job.decoder == 0) pvRaise({}, kMsgCannotInitInflate);
  }

  std::uint8_t* buffer = job.readBuffer.data();
  for (;;) {
    if (pvRaiseProgress(i, pvSaturate32(done), pvSaturate32(total))) pvUserCancelled();
    if (done >= total) break;
    const auto wanted =
        static_cast<std::int32_t>(std::min<std::int64_t>(total - done, kExtractChunk));
    const std::int32_t got = job.input.Read(buffer, wanted);
    if (got <= 0) pvRaise({}, kMsgErrorReadingArchive);
    done += got;
    if (deflate) {
      job.block.pInput = buffer;
      job.block.lInputSize = got;
      if (m_uCodec.pfnInflate(job.decoder, codec::Word(&job.block), codec::Word(&crc), 0) == 0 ||
          job.block.pOutput == nullptr) {
        pvRaise({}, kMsgErrorDecompressing);
      }
      pvVfsWrite(job.output, job.block.pOutput, job.block.lOutputSize);
      written += job.block.lOutputSize;
      m_uCodec.pfnFree(job.block.pOutput);
      job.block.pOutput = nullptr;
    } else {
      m_uCodec.pfnCrc32Update(codec::Word(&m_uCodec), codec::Word(buffer), got, codec::Word(&crc));
      pvVfsWrite(job.output, buffer, got);
      written += got;
    }
  }
  // A file output was created empty and written from its start, so its end is already here;
  // a memory buffer is trimmed, a stream is told which entry ended.
  if (job.output.Kind != VfsKind::kFile) pvVfsSetEof(job.output, e.FileName);
  if (e.Crc32 != ~crc) pvRaise({}, kMsgCrcCheckFailed);
  // The CRC alone does not cover a forged Size (nor data that decodes to nothing).
  if (written != e.WholeSize()) pvRaise({}, kMsgSizeCheckFailed);
}

}  // namespace lum::zip
