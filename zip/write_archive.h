// The working state of one CompressArchive call.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/codec_table.h"
#include "zip/storage.h"
#include "zip/variant.h"
#include "zip/write_ahead.h"
#include "zip/zip_records.h"

namespace lum::zip {

// Bytes read from a source per chunk, and the size of each of the two data buffers.
inline constexpr std::int32_t kWriteChunk = 65536;
// The central directory is gathered in memory and written in pieces of about this size.
inline constexpr std::size_t kDirectoryFlush = 65536;

// What one CompressArchive call works with. The output handle and the two buffers live for
// the whole call; the source handle, the encoder handle and the entry's encoded name for one
// entry. The destructor releases what an early stop left behind.
struct WriteJob {
  explicit WriteJob(const codec::CodecEntryTable& codec)
      : uCodec(codec),
        pfnDeflateCreate(codec.pfnDeflateCreate),
        pfnDeflate(codec.pfnDeflate),
        pfnDeflateDestroy(codec.pfnDeflateDestroy) {}
  WriteJob(const WriteJob&) = delete;
  WriteJob& operator=(const WriteJob&) = delete;
  ~WriteJob() { ReleaseCodec(); }

  // Frees a codec output buffer still held and destroys the encoder handle, if any.
  void ReleaseCodec();
  // After a failure or a cancel: a named file is cut to nothing, so that what was written of
  // it cannot pass for an archive (a stored archive among the entries would otherwise end the
  // file with an end record of its own). Memory and stream targets are left as they are, and
  // so are standard handles. Never raises.
  void AbandonOutput() noexcept;

  const codec::CodecEntryTable& uCodec;
  // The encoder's routines: the codec table's fixed-Huffman encoder, or the dynamic-Huffman
  // encoder (codec/dyn_deflate.h) when the engine's DynamicHuffman property is on. Both take
  // the entry table, the same CodecBlock and the level as their fourth argument.
  codec::CodecRoutine pfnDeflateCreate;
  codec::CodecRoutine pfnDeflate;
  codec::CodecRoutine pfnDeflateDestroy;
  // Readies the encoder handle for the next entry, for an encoder that has one (the dynamic
  // one): its handle then lives from the first Deflate entry to the end of the archive, or
  // until an entry fails. Null: a handle per entry.
  codec::CodecRoutine pfnDeflateReset = nullptr;
  std::int32_t archiveLevel = 6;  // the level of entries queued with −1
  std::int32_t useUtf8 = -2;
  VfsHandle output;
  VfsHandle source;
  ByteArray readBuffer = ByteArray(kWriteChunk);
  ByteArray chunkBuffer = ByteArray(kWriteChunk);
  // The local header image, reused for every entry; its signature is set once.
  std::uint8_t local[records::kLocalSize] = {};
  // The version needed of every central header: the highest any written entry needs.
  std::uint16_t directoryVersion = 10;
  codec::CodecWord encoder = 0;
  codec::CodecBlock block{};

  // The current entry: its effective level, encoded name and where its data starts, then
  // what has been written of it so far.
  std::int32_t level = 0;
  ByteArray name;
  std::int64_t dataStart = 0;
  bool deflated = false;            // a Deflate pass read the source and wrote data
  std::uint32_t crc = 0xFFFFFFFFu;  // the running CRC-32 register
  std::int64_t size = 0;            // bytes read from the source
  std::int64_t compressedSize = 0;  // bytes written after the local header
  std::int32_t method = 8;
  std::uint16_t versionNeeded = 20;
  // The local header carries a Zip64 extra field for the sizes: the source's size was known
  // to reach 0xFFFFFFFF before its data was written.
  bool localZip64 = false;
  // The entry's sizes outgrew a local header without that field (a source of unknown size,
  // or one that grew): a data descriptor with 64-bit sizes follows the data.
  bool descriptor = false;

  // Where each written entry lies and its sizes, 64-bit (the entry table's members are
  // 32-bit), indexed like the entry table; the central directory is written from these.
  struct Placed {
    std::int64_t offset = -1;
    std::int64_t size = 0;
    std::int64_t compressedSize = 0;
  };
  std::vector<Placed> placed;

  // The workers compressing upcoming entries ahead of the writer (CompressThreads above 1
  // with the dynamic-Huffman encoder); null when the writer works alone. `nextAhead` is the
  // first entry not yet considered for them.
  std::unique_ptr<DeflateAhead> ahead;
  std::int32_t nextAhead = 0;
};

}  // namespace lum::zip
