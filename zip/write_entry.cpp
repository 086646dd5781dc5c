// The data of one entry being written: through the Deflate encoder, or stored.
//
// Deflate reads the source in chunks of 65,536 bytes with one chunk read ahead, so the
// encoder learns which chunk is the last from the read that returned nothing, without a
// separate end call. The two buffers swap roles instead of copying the chunk, and each
// encoder output goes straight to the output handle and is freed at once, so memory stays
// two chunks and one output buffer whatever the entry's size. An encoder that can be reset
// (the dynamic-Huffman one) keeps its handle from entry to entry, which spares each small
// entry the handle's allocations and table set-up.
//
// With workers compressing ahead (zip/write_ahead.h), the entry is still read here chunk by
// chunk, and each chunk's compressed bytes come from the worker's result as long as the
// chunks read are the ones the worker compressed; at the first difference the encoder is
// brought to the same point by giving it the chunks already written, and goes on alone.
//
// When Deflate does not pay (more compressed bytes than source bytes), the entry is stored:
// the source is read again from its start and written over the Deflate data, which costs a
// second read instead of a copy of the source. Sizes are counted in 64 bits, so entries and
// archives past 4 GiB are written whole; the headers then take the Zip64 records.
#include <memory>

#include "codec/deflate_levels.h"
#include "zip/extract.h"
#include "zip/write_archive.h"
#include "zip/write_records.h"
#include "zip/zip_engine.h"

namespace lum::zip {

namespace rec = records;

namespace {

// Raises "Unsupported entry size. Entry %1 needs Zip64" when the entry's data has grown past
// the signed 32-bit positions of a memory or stream target. A file takes any size.
void CheckTargetSize(const WriteJob& job, std::int32_t index) {
  if (job.output.Kind != VfsKind::kFile &&
      job.dataStart + job.compressedSize > kMaxArchivePosition) {
    pvRaise({},
            pvCompoundMessage(kMsgUnsupportedSize, pvFormatEntryMessage(kMsgNeedsZip64, index)));
  }
}

// Gives the encoder, fresh for this entry, the first `chunks` chunks of `ahead` (none of them
// the last), whose output has already been written from the result; the output is the same
// and is dropped. Raises "Error compressing" as a failed chunk of the entry would.
void ReplayChunks(const AheadResult& ahead, std::size_t chunks, WriteJob& job) {
  codec::CodecBlock block = job.block;
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    block.pInput = ahead.InputOf(chunk);
    block.lInputSize = ahead.InputSizeOf(chunk);
    block.bFinal = 0;
    block.pOutput = nullptr;
    const codec::CodecWord done =
        job.pfnDeflate(job.encoder, codec::Word(&block), codec::Word(&crc), job.level);
    const bool failed = done == 0 || block.pOutput == nullptr;
    job.uCodec.pfnFree(block.pOutput);
    if (failed) pvRaise({}, kMsgErrorCompressing);
  }
}

}  // namespace

void cZipEngine::pvDeflateEntryData(std::int32_t i, EntryInfo& e, WriteJob& job) {
  if (job.encoder != 0 && job.pfnDeflateReset != nullptr) {
    job.pfnDeflateReset(job.encoder, 0, 0, 0);
  } else {
    job.encoder = job.pfnDeflateCreate(codec::Word(&m_uCodec), 0, 0, 0);
    if (job.encoder == 0) pvRaise({}, kMsgCannotInitDeflate);
  }
  codec::ApplyDeflateLevel(job.block, job.level);
  job.deflated = true;
  // A worker's result for this entry at this level, used while the source gives its bytes.
  std::unique_ptr<AheadResult> ahead = job.ahead ? job.ahead->Take(i, job.level) : nullptr;
  std::size_t chunk = 0;

  std::int32_t count = pvVfsRead(job.source, job.readBuffer.data(), kWriteChunk);
  do {
    std::swap(job.readBuffer, job.chunkBuffer);
    job.block.pInput = job.chunkBuffer.data();
    job.block.lInputSize = count;
    const std::int32_t next = pvVfsRead(job.source, job.readBuffer.data(), kWriteChunk);
    job.block.bFinal = next == 0 ? 1 : 0;
    if (ahead && !ahead->Matches(chunk, job.chunkBuffer.data(), count, next == 0)) {
      // The source changed since the worker read it: the encoder goes on from here, after
      // being given the chunks already written from the result (the same bytes).
      ReplayChunks(*ahead, chunk, job);
      ahead.reset();
    }
    const std::uint8_t* output;
    std::int32_t outputSize;
    if (ahead) {
      output = ahead->OutputOf(chunk);
      outputSize = ahead->OutputSizeOf(chunk);
      job.crc = ahead->crcAfter[chunk];
    } else {
      if (job.pfnDeflate(job.encoder, codec::Word(&job.block), codec::Word(&job.crc), job.level) ==
              0 ||
          job.block.pOutput == nullptr) {
        pvRaise({}, kMsgErrorCompressing);
      }
      output = job.block.pOutput;
      outputSize = job.block.lOutputSize;
    }
    job.size += count;
    job.compressedSize += outputSize;
    CheckTargetSize(job, i);
    pvWriteAll(job.output, output, static_cast<std::size_t>(outputSize));
    if (job.block.pOutput != nullptr) {
      m_uCodec.pfnFree(job.block.pOutput);
      job.block.pOutput = nullptr;
    }
    if (pvRaiseProgress(i, pvSaturate32(job.size), e.Size)) pvUserCancelled();
    count = next;
    ++chunk;
  } while (count > 0);

  // A handle that can be reset is kept for the next entry (WriteJob::ReleaseCodec ends it).
  if (job.pfnDeflateReset == nullptr) {
    job.pfnDeflateDestroy(job.encoder, 0, 0, 0);
    job.encoder = 0;
  }
  job.method = rec::kMethodDeflate;
  job.versionNeeded = 20;
  if (job.size == 0 && job.compressedSize == 0) {
    job.method = rec::kMethodStored;
    job.versionNeeded = 10;
  }
}

void cZipEngine::pvStoreEntryData(std::int32_t i, EntryInfo& e, WriteJob& job) {
  // After a Deflate pass both handles go back to the entry's start. Without one nothing has
  // been read or written yet, so a source that cannot seek (a pipe) can still be stored.
  if (job.deflated) {
    pvVfsSeek(job.source, 0, 0);
    pvVfsSeek64(job.output, job.dataStart, 0);
  }
  job.method = rec::kMethodStored;
  job.versionNeeded = 10;
  job.crc = 0xFFFFFFFFu;
  job.size = 0;
  job.compressedSize = 0;
  for (;;) {
    if (pvRaiseProgress(i, pvSaturate32(job.size), e.Size)) pvUserCancelled();
    const std::int32_t count = pvVfsRead(job.source, job.chunkBuffer.data(), kWriteChunk);
    if (count <= 0) break;
    m_uCodec.pfnCrc32Update(codec::Word(&m_uCodec), codec::Word(job.chunkBuffer.data()), count,
                            codec::Word(&job.crc));
    job.size += count;
    job.compressedSize += count;
    CheckTargetSize(job, i);
    pvWriteAll(job.output, job.chunkBuffer.data(), static_cast<std::size_t>(count));
  }
}

}  // namespace lum::zip
