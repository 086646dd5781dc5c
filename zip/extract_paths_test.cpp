// Entries whose names try to leave the target folder or reach a device: the path check on
// its own (both rule sets), and Extract into a folder nested in a watched parent, which must
// hold nothing but the target afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "tests/support/engine_events.h"
#include "tests/support/zip_builder.h"
#include "zip/extract.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;

const bool kWindows = platform::kWindowsPaths;

TEST(ExtractPaths, UnsafeComponents) {
  for (bool windows : {false, true}) {
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("t", "..", windows));
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("t", "..\\x", windows));
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("t", "a\\..\\..\\x", windows));
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("t", "a\\..", windows));
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("", "\\etc\\passwd", windows));
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("t", "\\etc\\passwd", windows));
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("t", "a..b\\..c\\d..", windows));
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("t", ".\\x\\", windows));
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("t", "C_\\x", windows));
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("", "[entry 3]", windows));
  }
  // What Windows alone turns into the parent folder or a device.
  for (const char* name : {"...", ".. ", ". .\\x", "a\\CON", "nul.txt", "Com1", "lpt9.log",
                           "aux .txt", "CONOUT$", "COM\xC2\xB9"}) {
    EXPECT_TRUE(zip::pvIsUnsafeEntryPath("t", name, true)) << name;
    EXPECT_FALSE(zip::pvIsUnsafeEntryPath("t", name, false)) << name;
  }
  for (const char* name : {"CONSOLE", "COM0", "COM10", "LPT", "nul_", "xnul", "con_.txt"}) {
    EXPECT_FALSE(zip::pvIsReservedDeviceName(name)) << name;
  }
}

TEST(ExtractPaths, NothingLeavesTheTargetFolder) {
  ZipBuilder b;
  const std::vector<std::string> names = {
      "../up.txt",       "..\\up2.txt",   "a/../../up3.txt",
      "/abs.txt",        "C:\\drive.txt", "\\\\srv\\sh\\unc.txt",
      "ctl\x01\x1f.txt", "ok.txt",        "CON",
      "nul.txt",         "dir/COM1.log",  "...",
  };
  for (const std::string& n : names) b.AddStored(n, "x");
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  // Names stay as listed; only the output path is checked.
  EXPECT_EQ(z.FileInfo(0).Array()[0].Text(), "..\\up.txt");
  ScratchDir parent;
  const std::string target = parent / "target";
  EXPECT_TRUE(z.Extract(Variant(target)));

  std::vector<std::int32_t> refused;
  for (const auto& e : r.errors) {
    EXPECT_EQ(e.description,
              "Invalid entry name. Entry " + std::to_string(e.fileIdx + 1) + " has an unsafe path");
    EXPECT_FALSE(e.cancelIn);
    refused.push_back(e.fileIdx);
  }
  std::vector<std::string> inside = {"abs.txt", "C_",  "C_/drive.txt", "ctl__.txt",
                                     "ok.txt",  "srv", "srv/sh",       "srv/sh/unc.txt"};
  if (kWindows) {
    EXPECT_EQ(refused, (std::vector<std::int32_t>{0, 1, 2, 8, 9, 10, 11}));
  } else {
    EXPECT_EQ(refused, (std::vector<std::int32_t>{0, 1, 2}));
    inside.insert(inside.end(), {"...", "CON", "dir", "dir/COM1.log", "nul.txt"});
  }
  std::sort(inside.begin(), inside.end());
  std::vector<std::string> expected = {"target"};
  for (const std::string& n : inside) expected.push_back("target/" + n);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(parent.List(), expected);
  // No BeforeExtract for a refused entry: its path is never offered.
  for (std::int32_t i : refused) {
    EXPECT_EQ(std::count(r.before.begin(), r.before.end(), i), 0) << i;
  }
}

TEST(ExtractPaths, EmptyTargetFolderRefusesRootedNames) {
  ZipBuilder b;
  b.AddStored("/rooted.txt", "x");
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_FALSE(z.Extract(Variant(std::string())));
  EXPECT_EQ(z.LastError(), "Invalid entry name. Entry 1 has an unsafe path");
}

}  // namespace
}  // namespace lum::test
