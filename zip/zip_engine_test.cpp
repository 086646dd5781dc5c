#include "zip/zip_engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <type_traits>

#include "codec/codec_init.h"
#include "tests/support/test_support.h"

namespace lum::test {

// Reaches the engine's private state and helpers, as the operation files do.
struct ZipEngineProbe {
  static const codec::CodecEntryTable& Codec(const zip::cZipEngine& z) { return z.m_uCodec; }
  static std::size_t Slots(const zip::cZipEngine& z) { return z.m_uFiles.size(); }
  static zip::EntryInfo& Append(zip::cZipEngine& z) {
    zip::EntryInfo& e = z.pvNextEntrySlot();
    ++z.m_lFileCount;
    return e;
  }
  static zip::EntryInfo& Slot(zip::cZipEngine& z, std::size_t i) { return z.m_uFiles.at(i); }
  // The table as an opened archive leaves it: exactly `count` slots, all valid.
  static void SetOpenedTable(zip::cZipEngine& z, std::int32_t count) {
    z.m_uFiles.assign(static_cast<std::size_t>(count), zip::EntryInfo{});
    for (std::int32_t i = 0; i < count; ++i) z.m_uFiles[i].FileName = "f" + std::to_string(i);
    z.m_lFileCount = count;
  }
  static void SetCount(zip::cZipEngine& z, std::int32_t count) { z.m_lFileCount = count; }
  static void SetCurrentFile(zip::cZipEngine& z, std::int32_t i) { z.m_lCurrentFile = i; }
  static bool CancelFlag(const zip::cZipEngine& z) { return z.m_bCancel; }

  template <class Body>
  static bool Run(zip::cZipEngine& z, const char* name, Body&& body) {
    return z.pvRunOperation(name, std::forward<Body>(body));
  }
  template <class Body>
  static bool RunEntry(zip::cZipEngine& z, const char* name, Body&& body) {
    return z.pvRunEntry(name, std::forward<Body>(body));
  }
  static bool ReportDirect(zip::cZipEngine& z, const char* name, const std::string& text,
                           bool canContinue) {
    return z.pvReportDirect(name, text, canContinue);
  }
  static bool Progress(zip::cZipEngine& z, std::int32_t i) { return z.pvRaiseProgress(i, 0, 1); }
  [[noreturn]] static void UserCancelled(zip::cZipEngine& z) { z.pvUserCancelled(); }
};

namespace {

using zip::cZipEngine;
using zip::Variant;
using P = ZipEngineProbe;

struct ErrorCall {
  std::int32_t fileIdx;
  std::string source;
  std::string description;
  bool cancelOnArrival;
};

// Records the Error and Progress events and answers them as configured.
struct Recorder : zip::cZipEngineEvents {
  std::vector<ErrorCall> errors;
  int progressCalls = 0;
  bool cancelOnError = false;
  bool cancelOnProgress = false;
  bool throwOnProgress = false;
  bool throwOnError = false;
  std::string replaceDescription;
  std::string replaceSource;

  void Progress(std::int32_t, std::int32_t, std::int32_t, bool& Cancel) override {
    ++progressCalls;
    if (throwOnProgress) throw std::runtime_error("handler failed");
    if (cancelOnProgress) Cancel = true;
  }
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override {
    errors.push_back({FileIdx, Source, Description, Cancel});
    if (!replaceDescription.empty()) Description = replaceDescription;
    if (!replaceSource.empty()) Source = replaceSource;
    if (cancelOnError) Cancel = true;
    if (throwOnError) throw std::logic_error("error handler failed");
  }
};

zip::ByteArray Bytes(const std::string& s) {
  return zip::ByteArray(s.begin(), s.end());
}

TEST(ZipEngineObject, FreshObjectAndProperties) {
  static_assert(!std::is_copy_constructible_v<cZipEngine>);
  static_assert(!std::is_copy_assignable_v<cZipEngine>);
  cZipEngine z;
  EXPECT_EQ(z.SemVersion(), "1.0.0");
  EXPECT_EQ(z.CodecBuildDate(), codec::CodecBuildDate());
  // Day.month.year hours:minutes:seconds, no leading zeros on day, month and hour.
  int d = 0, m = 0, y = 0, h = 0, mi = 0, s = 0;
  const std::string stamp = z.CodecBuildDate();
  ASSERT_EQ(std::sscanf(stamp.c_str(), "%d.%d.%d %d:%d:%d", &d, &m, &y, &h, &mi, &s), 6) << stamp;
  char rebuilt[64];
  std::snprintf(rebuilt, sizeof rebuilt, "%d.%d.%d %d:%02d:%02d", d, m, y, h, mi, s);
  EXPECT_EQ(stamp, rebuilt);
  EXPECT_TRUE(d >= 1 && d <= 31 && m >= 1 && m <= 12 && y >= 2020 && h <= 23) << stamp;
  EXPECT_EQ(z.LastError(), "");
  EXPECT_EQ(z.FileCount(), 0);
  EXPECT_EQ(z.Comment(), "");
  EXPECT_TRUE(z.FileInfo(0).IsEmpty());
}

TEST(ZipEngineObject, EachObjectHasACompleteIndependentCodecTable) {
  cZipEngine a, b;
  for (const cZipEngine* z : {&a, &b}) {
    const auto& t = P::Codec(*z);
    const auto* slots = reinterpret_cast<const codec::CodecWord*>(&t);
    for (int i : {3, 4, 5, 6, 10, 11, 12, 13, 14, 15, 16, 17}) EXPECT_NE(slots[i], 0) << i;
    for (int i : {7, 8, 9}) EXPECT_EQ(slots[i], 0) << i;
    EXPECT_EQ(t.pCrc32Table[1], 0x77073096u);
    EXPECT_EQ(t.pCrc32Table[768 + 255], 0xDE0506F1u);
  }
  // Each object's table points at its own CRC table.
  EXPECT_NE(P::Codec(a).pCrc32Table, P::Codec(b).pCrc32Table);
}

TEST(ZipEngineCrc, CheckValuesThroughThePublicMethods) {
  cZipEngine z;
  EXPECT_EQ(z.CalcCrc32Array(Bytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(z.CalcCrc32Array(Bytes("abc")), 0x352441C2u);
  EXPECT_EQ(z.CalcCrc32Array({}), 0u);  // the CRC-32 of no data

  // Pieces of 1 and 2 bytes at an odd address give the CRC of the whole.
  const char buffer[] = "xabc";
  std::int32_t reg = -1;
  EXPECT_EQ(z.CalcCrc32Ptr(buffer + 1, 1, reg), reg);
  z.CalcCrc32Ptr(buffer + 2, 2, reg);
  EXPECT_EQ(~static_cast<std::uint32_t>(reg), 0x352441C2u);
}

TEST(ZipEngineCrc, PtrOverAnySplitMatchesTheReference) {
  cZipEngine z;
  auto data = MakeData(DataKind::kRandom, 4099, 7);
  const std::uint32_t expected = ReferenceCrc32(data.data(), data.size());
  EXPECT_EQ(z.CalcCrc32Array(data), expected);
  Rng rng(11);
  for (int round = 0; round < 20; ++round) {
    std::int32_t reg = -1;
    std::size_t at = 0;
    while (at < data.size()) {
      auto n = static_cast<std::size_t>(rng.Range(1, 700));
      n = std::min(n, data.size() - at);
      z.CalcCrc32Ptr(data.data() + at, static_cast<std::int32_t>(n), reg);
      at += n;
    }
    EXPECT_EQ(~static_cast<std::uint32_t>(reg), expected);
  }
}

TEST(ZipEngineCrc, PtrLeavesTheRegisterForEmptyNegativeOrNullInput) {
  cZipEngine z;
  const char data[] = "abc";
  std::int32_t reg = 0x12345678;
  EXPECT_EQ(z.CalcCrc32Ptr(data, 0, reg), 0x12345678);
  EXPECT_EQ(z.CalcCrc32Ptr(data, -5, reg), 0x12345678);
  EXPECT_EQ(z.CalcCrc32Ptr(data, INT_MIN, reg), 0x12345678);
  EXPECT_EQ(z.CalcCrc32Ptr(nullptr, 3, reg), 0x12345678);
  EXPECT_EQ(reg, 0x12345678);
}

TEST(ZipEngineEntries, TableStartsWithThreeSlotsAndDoublesTheLastIndex) {
  cZipEngine z;
  std::vector<std::size_t> slotsAfter;
  for (int i = 0; i < 10; ++i) {
    P::Append(z).FileName = "e" + std::to_string(i);
    slotsAfter.push_back(P::Slots(z));
  }
  // Indices 0–2, then 0–4, then 0–8, then 0–16.
  EXPECT_EQ(slotsAfter, (std::vector<std::size_t>{3, 3, 3, 5, 5, 9, 9, 9, 9, 17}));
  EXPECT_EQ(z.FileCount(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(P::Slot(z, i).FileName, "e" + std::to_string(i));
}

TEST(ZipEngineEntries, TableOfAnOpenedArchiveAlwaysGrows) {
  // A one-entry table has last index 0, and twice 0 would leave no room for index 1.
  for (std::int32_t opened : {1, 2, 7}) {
    cZipEngine z;
    P::SetOpenedTable(z, opened);
    P::Append(z).FileName = "added";
    EXPECT_EQ(z.FileCount(), opened + 1);
    EXPECT_GE(P::Slots(z), static_cast<std::size_t>(opened + 1));
    EXPECT_EQ(P::Slot(z, 0).FileName, "f0");
    EXPECT_EQ(P::Slot(z, opened).FileName, "added");
  }
}

TEST(ZipEngineEntries, NoValidEntriesMeansAFreshTable) {
  cZipEngine z;
  for (int i = 0; i < 6; ++i) P::Append(z).FileName = "old";
  P::SetCount(z, 0);
  zip::EntryInfo& e = P::Append(z);
  EXPECT_EQ(P::Slots(z), 3u);
  EXPECT_EQ(e.FileName, "");
  EXPECT_TRUE(e.DataSource.IsEmpty());
}

TEST(ZipEngineFileInfo, TenValuesInOrderAndEmptyOutsideTheTable) {
  cZipEngine z;
  zip::EntryInfo& e = P::Append(z);
  e.FileName = "dir\\a.txt";
  e.Attributes = 0x20;
  e.Crc32 = 0xCBF43926u;
  e.Size = 9;
  e.CompressedSize = 11;
  e.Comment = "note";
  e.LastModified = 43101.5604166667;
  e.Method = 8;
  e.Offset = 1234;
  e.Flags = 0x800;
  Variant info = z.FileInfo(0);
  ASSERT_TRUE(info.IsArray());
  const auto& v = info.Array();
  ASSERT_EQ(v.size(), 10u);
  EXPECT_EQ(v[0].Text(), "dir\\a.txt");
  EXPECT_EQ(v[1].Number(), 0x20);
  EXPECT_EQ(v[2].Number(), 3421780262.0);  // unsigned, as a CRC is compared
  EXPECT_EQ(v[3].Number(), 9);
  EXPECT_EQ(v[4].Number(), 11);
  EXPECT_EQ(v[5].Text(), "note");
  EXPECT_EQ(v[6].Number(), 43101.5604166667);
  EXPECT_EQ(v[7].Number(), 8);
  EXPECT_EQ(v[8].Number(), 1234);
  EXPECT_EQ(v[9].Number(), 0x800);
  // Negative fields stay negative (sign-extended method, Offset −1 of a left-out entry).
  e.Method = -32768;
  e.Offset = -1;
  EXPECT_EQ(z.FileInfo(0).Array()[7].Number(), -32768);
  EXPECT_EQ(z.FileInfo(0).Array()[8].Number(), -1);

  // Slots 1 and 2 exist but are not valid entries.
  for (std::int32_t i : {-1, 1, 2, 3, INT_MIN, INT_MAX}) EXPECT_TRUE(z.FileInfo(i).IsEmpty()) << i;
}

TEST(ZipEngineErrors, RaisedErrorIsReportedOnceWithATwoLineSource) {
  cZipEngine z;
  Recorder r;
  z.SetEvents(&r);
  P::SetCurrentFile(z, 4);
  EXPECT_FALSE(
      P::Run(z, "OpenArchive", [](bool&) { zip::pvRaise("pvVfsOpen", "[2] Not found (x.zip)"); }));
  EXPECT_FALSE(P::Run(z, "Extract", [](bool&) { zip::pvRaise({}, zip::kMsgArchiveNotOpened); }));
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.OpenArchive\r\npvVfsOpen");
  EXPECT_EQ(r.errors[0].description, "[2] Not found (x.zip)");
  EXPECT_EQ(r.errors[0].fileIdx, 4);
  EXPECT_TRUE(r.errors[0].cancelOnArrival);  // fatal
  EXPECT_EQ(r.errors[1].source, "cZipEngine.Extract\r\nUpdater");
  EXPECT_EQ(z.LastError(), "Archive not opened");
}

TEST(ZipEngineErrors, SuccessClearsAnEarlierError) {
  cZipEngine z;
  Recorder r;
  z.SetEvents(&r);
  EXPECT_FALSE(P::Run(z, "AddFile", [](bool&) { zip::pvRaise({}, "first"); }));
  EXPECT_EQ(z.LastError(), "first");
  EXPECT_TRUE(P::CancelFlag(z));  // kept after the operation
  EXPECT_TRUE(P::Run(z, "AddFile", [](bool& result) { result = true; }));
  EXPECT_EQ(z.LastError(), "");
  EXPECT_FALSE(P::CancelFlag(z));
  EXPECT_EQ(r.errors.size(), 1u);
}

TEST(ZipEngineErrors, ContinuableErrorsGoOnUnlessTheHandlerCancels) {
  for (bool cancel : {false, true}) {
    cZipEngine z;
    Recorder r;
    r.cancelOnError = cancel;
    z.SetEvents(&r);
    int completed = 0;
    bool result = P::Run(z, "Extract", [&](bool& res) {
      for (int i = 0; i < 3; ++i) {
        P::SetCurrentFile(z, i);
        bool ok = P::RunEntry(z, "Extract", [&] {
          if (i == 1) zip::pvRaise({}, zip::kMsgCrcCheckFailed);
        });
        if (ok) {
          ++completed;
          res = true;
        }
      }
    });
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_FALSE(r.errors[0].cancelOnArrival);  // continuable
    EXPECT_EQ(r.errors[0].fileIdx, 1);
    EXPECT_EQ(r.errors[0].source, "cZipEngine.Extract\r\nUpdater");
    EXPECT_EQ(z.LastError(), "CRC check failed");  // not "User cancelled"
    EXPECT_TRUE(result);                           // entry 0 completed either way
    EXPECT_EQ(completed, cancel ? 1 : 2);
  }
}

TEST(ZipEngineErrors, DirectReportsAndHandlerChanges) {
  cZipEngine z;
  Recorder r;
  r.replaceDescription = "changed by handler";
  r.replaceSource = "ignored";
  z.SetEvents(&r);
  P::Run(z, "OpenArchive", [&](bool&) {
    P::SetCurrentFile(z, 2);
    std::string text = zip::pvCompoundMessage(
        zip::kMsgInvalidArchive, zip::pvFormatEntryMessage("Entry %1 has no filename", 2));
    EXPECT_FALSE(P::ReportDirect(z, "OpenArchive", text, true));
    EXPECT_EQ(z.LastError(), "changed by handler");
  });
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.OpenArchive");
  EXPECT_EQ(r.errors[0].description, "Invalid archive. Entry 3 has no filename");
  EXPECT_FALSE(r.errors[0].cancelOnArrival);
  EXPECT_EQ(z.LastError(), "changed by handler");
}

TEST(ZipEngineErrors, UserCancelRaisesNoErrorAndKeepsTheResult) {
  cZipEngine z;
  Recorder r;
  r.cancelOnProgress = true;
  z.SetEvents(&r);
  int afterCancel = 0;
  bool result = P::Run(z, "Extract", [&](bool& res) {
    res = true;  // an entry completed before the cancel
    if (P::Progress(z, 1)) P::UserCancelled(z);
    ++afterCancel;
  });
  EXPECT_TRUE(result);
  EXPECT_EQ(afterCancel, 0);
  EXPECT_EQ(r.progressCalls, 1);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(z.LastError(), "User cancelled");
}

TEST(ZipEngineErrors, ExceptionsFromHandlersStayInsideTheOperation) {
  cZipEngine z;
  Recorder r;
  r.throwOnProgress = true;
  z.SetEvents(&r);
  EXPECT_FALSE(P::Run(z, "Extract", [&](bool&) { P::Progress(z, 0); }));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.Extract\r\nUpdater");
  EXPECT_EQ(z.LastError(), "handler failed");

  // An Error handler that throws, inside an entry and again at the operation.
  r.throwOnProgress = false;
  r.throwOnError = true;
  r.errors.clear();
  bool result = true;
  EXPECT_NO_THROW(result = P::Run(z, "CompressArchive", [&](bool&) {
                    P::RunEntry(z, "CompressArchive", [] { zip::pvRaise({}, "entry failed"); });
                  }));
  EXPECT_FALSE(result);
  EXPECT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(z.LastError(), "error handler failed");
}

TEST(ZipEngineMessages, PlaceholdersAndCompounds) {
  EXPECT_EQ(zip::pvFormatEntryMessage(zip::kEntryPlaceholderName, 0), "[entry 1]");
  EXPECT_EQ(zip::pvFormatEntryMessage("Entry %1 is %1", INT_MAX), "Entry 2147483648 is 2147483648");
  EXPECT_EQ(zip::pvFormatMessage("Unsupported compression method %1", 99),
            "Unsupported compression method 99");
  EXPECT_EQ(zip::pvFormatMessage("no placeholder %", 5), "no placeholder %");
  EXPECT_EQ(zip::pvCompoundMessage("Invalid archive", "Missing end-of-central-directory record"),
            "Invalid archive. Missing end-of-central-directory record");
}

TEST(ZipEngineText, Utf8ArraysThroughThePublicMembers) {
  cZipEngine z;
  EXPECT_TRUE(z.ToUtf8Array("").empty());
  EXPECT_EQ(z.FromUtf8Array({}), "");
  EXPECT_EQ(z.FromUtf8Array({0x41}), "A");
  EXPECT_EQ(z.ToUtf8Array("\xC3\xA4"), (zip::ByteArray{0xC3, 0xA4}));  // a-umlaut
  const std::string text = "dir\\\xE2\x82\xAC \xF0\x9F\x98\x80";       // euro sign, emoji
  EXPECT_EQ(z.FromUtf8Array(z.ToUtf8Array(text)), text);
}

}  // namespace
}  // namespace lum::test
