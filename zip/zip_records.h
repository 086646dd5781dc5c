// The ZIP on-disk records the engine reads and writes: the end-of-central-directory record,
// the central-directory header and the local file header, with their field offsets, plus
// little-endian field access and the DOS date and time packing. Directory reading,
// extraction and the writer all use these, so the layouts live in one place.
//
// The Zip64 records and constants are in zip/write_records.h. Fields the reader takes as
// signed (flags, method, name, extra and comment lengths, attributes) are read with the
// Signed16 / Signed32 helpers, so 0x8000 and up (0x80000000 and up) come out negative.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/time.h"

namespace lum::zip::records {

// ---- Little-endian field access ----

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t Signed16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(Get16(p));
}
inline std::int32_t Signed32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(Get32(p));
}
inline void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// ---- End-of-central-directory record (22 bytes, then the archive comment) ----

inline constexpr std::uint32_t kEndSignature = 0x06054B50;
inline constexpr std::int32_t kEndSize = 22;
inline constexpr std::int32_t kEndDisk = 4;            // number of this disk
inline constexpr std::int32_t kEndDirectoryDisk = 6;   // disk where the directory starts
inline constexpr std::int32_t kEndDiskEntries = 8;     // records on this disk (the count read)
inline constexpr std::int32_t kEndTotalEntries = 10;   // records in total
inline constexpr std::int32_t kEndDirectorySize = 12;  // size of the central directory
inline constexpr std::int32_t kEndDirectoryOffset = 16;
inline constexpr std::int32_t kEndCommentLength = 20;
// The longest archive comment the reader searches past: the format's 65535.
inline constexpr std::int32_t kMaxArchiveComment = 65535;

// ---- Central-directory header (46 bytes, then name, extra field, comment) ----

inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::int32_t kCentralSize = 46;
inline constexpr std::int32_t kCentralVersionMadeBy = 4;
inline constexpr std::int32_t kCentralVersionNeeded = 6;
inline constexpr std::int32_t kCentralFlags = 8;
inline constexpr std::int32_t kCentralMethod = 10;
inline constexpr std::int32_t kCentralTime = 12;
inline constexpr std::int32_t kCentralDate = 14;
inline constexpr std::int32_t kCentralCrc32 = 16;
inline constexpr std::int32_t kCentralCompressedSize = 20;
inline constexpr std::int32_t kCentralSize32 = 24;  // uncompressed size
inline constexpr std::int32_t kCentralNameLength = 28;
inline constexpr std::int32_t kCentralExtraLength = 30;
inline constexpr std::int32_t kCentralCommentLength = 32;
inline constexpr std::int32_t kCentralDiskStart = 34;
inline constexpr std::int32_t kCentralInternalAttributes = 36;
inline constexpr std::int32_t kCentralExternalAttributes = 38;
inline constexpr std::int32_t kCentralLocalOffset = 42;

// ---- Local file header (30 bytes, then name and extra field, then the data) ----

inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::int32_t kLocalSize = 30;
inline constexpr std::int32_t kLocalVersionNeeded = 4;
inline constexpr std::int32_t kLocalFlags = 6;
inline constexpr std::int32_t kLocalMethod = 8;
inline constexpr std::int32_t kLocalTime = 10;
inline constexpr std::int32_t kLocalDate = 12;
inline constexpr std::int32_t kLocalCrc32 = 14;
inline constexpr std::int32_t kLocalCompressedSize = 18;
inline constexpr std::int32_t kLocalSize32 = 22;  // uncompressed size
inline constexpr std::int32_t kLocalNameLength = 26;
inline constexpr std::int32_t kLocalExtraLength = 28;
// Extraction reads the local header in two parts of these sizes.
inline constexpr std::int32_t kLocalFirstRead = 14;
inline constexpr std::int32_t kLocalSecondRead = 16;

// ---- Flags, methods, attributes ----

inline constexpr std::int32_t kFlagEncrypted = 0x0001;  // bit 0
inline constexpr std::int32_t kFlagUtf8 = 0x0800;       // bit 11: name and comment in UTF-8
inline constexpr std::int32_t kMethodStored = 0;
inline constexpr std::int32_t kMethodDeflate = 8;
inline constexpr std::int32_t kAttributeVolumeLabel = 0x08;
inline constexpr std::int32_t kAttributeDirectory = 0x10;

// ---- DOS date and time (local time, two-second resolution) ----
//
//   time: bits 15–11 hour, 10–5 minute, 4–0 second / 2
//   date: bits 15–9 year − 1980, 8–5 month, 4–0 day

// The OLE date of a DOS date and time: 0 (the zero date-time, 30 December 1899) when both
// words are 0, and also when they do not form a valid date and time (month 0, day 31 of a
// 30-day month, hour 24, ...). No time-zone shift: the value stays in the archive's local
// time.
inline double pvFromDosDateTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0 && time == 0) return platform::kOleDateZero;
  platform::FileTime ft;
  platform::SystemTime fields;
  double ole = platform::kOleDateZero;
  if (!platform::DosDateTimeToFileTime(date, time, ft) ||
      !platform::FileTimeToSystemTime(ft, fields) || !platform::SystemTimeToOleDate(fields, ole)) {
    return platform::kOleDateZero;
  }
  return ole;
}

// The DOS date and time of an OLE date (local time, seconds rounded down to even); both
// words 0 for dates outside 1980–2107 or values that are no date at all.
inline void pvToDosDateTime(double localDate, std::uint16_t& date, std::uint16_t& time) {
  date = 0;
  time = 0;
  platform::SystemTime fields;
  platform::FileTime ft;
  if (!platform::OleDateToSystemTime(localDate, fields) ||
      !platform::SystemTimeToFileTime(fields, ft)) {
    return;
  }
  if (!platform::FileTimeToDosDateTime(ft, date, time)) {
    date = 0;
    time = 0;
  }
}

}  // namespace lum::zip::records
