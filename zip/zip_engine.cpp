// cZipEngine: construction, the properties, the CRC-32 methods, error reporting, event
// raising and the entry table's growth. The archive operations live in their own files.
#include "zip/zip_engine.h"

#include <algorithm>
#include <exception>
#include <new>

#include "codec/codec_init.h"
#include "zip/names.h"

namespace lum::zip {

namespace {
constexpr char kSemVersion[] = "1.0.0";
constexpr std::int32_t kFileInfoFields = 10;
}  // namespace

std::string pvCompoundMessage(std::string_view Prefix, std::string_view Detail) {
  std::string text;
  text.reserve(Prefix.size() + 2 + Detail.size());
  text.append(Prefix).append(". ").append(Detail);
  return text;
}

std::string pvFormatMessage(std::string_view Text, std::int64_t Value) {
  const std::string number = std::to_string(Value);
  std::string text;
  std::size_t from = 0;
  for (std::size_t at = Text.find("%1"); at != std::string_view::npos; at = Text.find("%1", from)) {
    text.append(Text.substr(from, at - from)).append(number);
    from = at + 2;
  }
  text.append(Text.substr(from));
  return text;
}

std::string pvFormatEntryMessage(std::string_view Text, std::int32_t FileIdx) {
  // Widened first, so the last index still gets its 1-based number.
  return pvFormatMessage(Text, std::int64_t{FileIdx} + 1);
}

std::string pvOperationSource(std::string_view Name, std::string_view Inner) {
  std::string source("cZipEngine.");
  source.append(Name).append("\r\n").append(Inner.empty() ? kOwnErrorSource : Inner);
  return source;
}

void pvStopOperation() {
  throw ZipError{kZipStopNumber, {}, {}};
}

cZipEngine::cZipEngine() {
  codec::pvCodecInit(m_uCodec, m_uCrc32Table);
  m_lCurrentFile = -1;
}

std::string cZipEngine::SemVersion() const {
  return kSemVersion;
}

std::string cZipEngine::CodecBuildDate() const {
  return codec::CodecBuildDate();
}

std::string cZipEngine::SourcePath(std::int32_t FileIdx) const {
  if (FileIdx < 0 || FileIdx >= m_lFileCount) return {};
  if (static_cast<std::size_t>(FileIdx) >= m_uFiles.size()) return {};
  const Variant& source = m_uFiles[static_cast<std::size_t>(FileIdx)].DataSource;
  if (source.IsByteArray() || source.IsObject() || source.IsEmpty() || source.IsMissing())
    return {};
  return source.ToText();
}

Variant cZipEngine::FileInfo(std::int32_t FileIdx) const {
  if (FileIdx < 0 || FileIdx >= m_lFileCount) return Variant();
  if (static_cast<std::size_t>(FileIdx) >= m_uFiles.size()) return Variant();
  const EntryInfo& e = m_uFiles[static_cast<std::size_t>(FileIdx)];
  VariantArray info;
  info.reserve(kFileInfoFields);
  info.emplace_back(e.FileName);
  info.emplace_back(e.Attributes);
  info.emplace_back(e.Crc32);
  info.emplace_back(e.Size);
  info.emplace_back(e.CompressedSize);
  info.emplace_back(e.Comment);
  info.emplace_back(e.LastModified);
  info.emplace_back(e.Method);
  info.emplace_back(e.Offset);
  info.emplace_back(e.Flags);
  return Variant(std::move(info));
}

EntrySizes cZipEngine::FileSizes(std::int32_t FileIdx) const {
  if (FileIdx < 0 || FileIdx >= m_lFileCount) return {};
  if (static_cast<std::size_t>(FileIdx) >= m_uFiles.size()) return {};
  const EntryInfo& e = m_uFiles[static_cast<std::size_t>(FileIdx)];
  const auto known = [](std::int64_t value) { return value < 0 ? -1 : value; };
  return {known(e.WholeSize()), known(e.WholeCompressedSize()), known(e.WholeOffset())};
}

std::uint32_t cZipEngine::CalcCrc32Array(const ByteArray& baData) const {
  std::uint32_t crc = 0xFFFFFFFFu;
  if (!baData.empty()) {
    m_uCodec.pfnCrc32Update(codec::Word(&m_uCodec), codec::Word(baData.data()),
                            static_cast<codec::CodecWord>(baData.size()), codec::Word(&crc));
  }
  return ~crc;
}

std::int32_t cZipEngine::CalcCrc32Ptr(const void* lPtr, std::int32_t lSize,
                                      std::int32_t& lCrc32) const {
  if (lPtr == nullptr || lSize <= 0) return lCrc32;
  std::uint32_t crc = static_cast<std::uint32_t>(lCrc32);
  m_uCodec.pfnCrc32Update(codec::Word(&m_uCodec), codec::Word(lPtr),
                          static_cast<codec::CodecWord>(lSize), codec::Word(&crc));
  lCrc32 = static_cast<std::int32_t>(crc);
  return lCrc32;
}

ByteArray cZipEngine::ToUtf8Array(const std::string& sText) const {
  return ::lum::zip::ToUtf8Array(sText);
}

std::string cZipEngine::FromUtf8Array(const ByteArray& baText) const {
  return ::lum::zip::FromUtf8Array(baText);
}

// ---- Error reporting ----

bool cZipEngine::pvSetError(const std::optional<std::string>& Source,
                            const std::optional<std::string>& Description, bool CanContinue) {
  if (!Source && !Description) {
    m_sLastError.clear();
    m_bCancel = false;
    return false;
  }
  m_sLastError = Description.value_or(std::string());
  if (!CanContinue) m_bCancel = true;
  // The handler gets its own Source: a change to it is not read back.
  std::string source = Source.value_or(std::string());
  if (m_oEvents != nullptr) m_oEvents->Error(m_lCurrentFile, source, m_sLastError, m_bCancel);
  return m_bCancel;
}

bool cZipEngine::pvReportDirect(const char* Name, const std::string& Description,
                                bool CanContinue) {
  return pvSetError(std::string("cZipEngine.") + Name, Description, CanContinue);
}

void cZipEngine::pvUserCancelled() {
  m_sLastError = kMsgUserCancelled;
  pvStopOperation();
}

void cZipEngine::pvReportCaught(const char* Name) noexcept {
  try {
    try {
      throw;
    } catch (const ZipError& e) {
      if (e.Number != kZipStopNumber) {
        pvSetError(pvOperationSource(Name, e.Source), e.Description, false);
      }
    } catch (const std::bad_alloc&) {
      pvSetError(pvOperationSource(Name, {}), std::string("Out of memory"), false);
    } catch (const std::exception& e) {
      pvSetError(pvOperationSource(Name, {}), std::string(e.what()), false);
    } catch (...) {
      pvSetError(pvOperationSource(Name, {}), std::string("Unexpected error"), false);
    }
  } catch (...) {
    // The Error handler itself threw, or memory ran out while reporting. LastError holds
    // what was set before that; nothing may leave the public operation.
    m_bCancel = true;
  }
}

// ---- Events ----

bool cZipEngine::pvRaiseProgress(std::int32_t FileIdx, std::int32_t Current, std::int32_t Total) {
  if (m_oEvents != nullptr) m_oEvents->Progress(FileIdx, Current, Total, m_bCancel);
  return m_bCancel;
}

bool cZipEngine::pvRaiseBeforeCompress(std::int32_t FileIdx, std::int32_t& Level, bool& SkipFile) {
  if (m_oEvents != nullptr) m_oEvents->BeforeCompress(FileIdx, Level, SkipFile, m_bCancel);
  return m_bCancel;
}

bool cZipEngine::pvRaiseBeforeExtract(std::int32_t FileIdx, Variant& File, bool& SkipFile) {
  if (m_oEvents != nullptr) m_oEvents->BeforeExtract(FileIdx, File, SkipFile, m_bCancel);
  return m_bCancel;
}

void cZipEngine::pvRaiseExtractComplete(std::int32_t FileIdx, Variant& File) {
  if (m_oEvents != nullptr) m_oEvents->ExtractComplete(FileIdx, File);
}

// ---- Entry table ----

EntryInfo& cZipEngine::pvNextEntrySlot() {
  const auto next = static_cast<std::size_t>(std::max<std::int32_t>(m_lFileCount, 0));
  if (next == 0) {
    m_uFiles.assign(3, EntryInfo{});
  } else if (next >= m_uFiles.size()) {
    // Twice the last index; a table sized exactly to its entries by an opened archive of
    // one entry has last index 0, so the new size is at least one more than the count.
    const std::size_t last = m_uFiles.empty() ? 0 : m_uFiles.size() - 1;
    m_uFiles.resize(std::max(2 * last, next) + 1);
  }
  EntryInfo& slot = m_uFiles[next];
  slot = EntryInfo{};
  return slot;
}

}  // namespace lum::zip
