// How our own private-profile implementation keeps and replaces the file: what the Windows
// documentation leaves open and the scenario table cannot pin down for both builds. The system's
// functions rewrite the whole file in their own layout, so these run only where the
// implementation is ours, on POSIX.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/profile.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::test {
namespace {

using platform::ProfileGetString;
using platform::ProfileWriteString;

class OwnProfile : public ::testing::Test {
 protected:
  std::int32_t Write(const char* section, const char* key, const char* text) {
    return ProfileWriteString(section, key, text, path.c_str());
  }
  std::string Read(const char* section, const char* key) {
    char buffer[256];
    const auto count =
        ProfileGetString(section, key, "<default>", buffer, sizeof buffer, path.c_str());
    return std::string(buffer, count);
  }
  ScratchDir folder;
  std::string path = folder.Text("test.ini");
};

TEST_F(OwnProfile, EditsChangeOnlyTheirOwnLines) {
  const std::string before =
      "; settings of the application\n"
      "\n"
      "[ Display ]   ; trailing note\r\n"
      "  Zoom =  100  \r\n"
      "\tColour=\"red\"\r"
      "\r\n"
      "[Sound]\n"
      "Enabled = 1\n"
      "; end\n"
      "\n";
  WriteWholeFile(path, before);

  ASSERT_NE(Write("display", "zoom", "150"), 0);
  std::string expected = before;
  expected.replace(expected.find("  Zoom =  100  "), 15, "Zoom=150");
  EXPECT_EQ(ReadWholeText(path), expected);

  // A new key follows the section's last line that is not blank, with a CR LF of its own.
  ASSERT_NE(Write("Sound", "Volume", "7"), 0);
  expected.insert(expected.find("; end\n") + 6, "Volume=7\r\n");
  EXPECT_EQ(ReadWholeText(path), expected);

  ASSERT_NE(Write("Display", "Colour", nullptr), 0);
  expected.erase(expected.find("\tColour"), 14);
  EXPECT_EQ(ReadWholeText(path), expected);
  EXPECT_EQ(Read("Display", "Zoom"), "150");
  EXPECT_EQ(Read("Sound", "Enabled"), "1");
}

TEST_F(OwnProfile, LastLineWithoutLineEndStaysSoWhenReplaced) {
  WriteWholeFile(path, "[S]\r\nK=1");
  ASSERT_NE(Write("S", "K", "2"), 0);
  EXPECT_EQ(ReadWholeText(path), "[S]\r\nK=2");
}

TEST_F(OwnProfile, ReplacesTheFileWithoutLeavingTemporaries) {
  WriteWholeFile(path, "[S]\r\nK=1\r\n");
  std::filesystem::permissions(path, std::filesystem::perms(0640));
  for (int i = 0; i < 5; ++i) ASSERT_NE(Write("S", "K", std::to_string(i).c_str()), 0);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
}

TEST_F(OwnProfile, SymbolicLinkStaysALink) {
  WriteWholeFile(folder.Path("real.ini"), "[S]\r\nK=1\r\n");
  std::filesystem::create_symlink(folder.Path("real.ini"), path);
  ASSERT_NE(Write("S", "K", "2"), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadWholeText(folder.Path("real.ini")), "[S]\r\nK=2\r\n");
}

TEST_F(OwnProfile, ReadOnlyFileIsRefusedAndKept) {
  // Without write permission a file counts as read-only, even for a user who could override it.
  WriteWholeFile(path, "[S]\r\nK=1\r\n");
  MakeReadOnly(path);
  EXPECT_EQ(Write("S", "K", "2"), 0);
  EXPECT_EQ(Write("S", "K", nullptr), 0);
  EXPECT_EQ(ReadWholeText(path), "[S]\r\nK=1\r\n");
  EXPECT_EQ(Read("S", "K"), "1");
}

TEST_F(OwnProfile, FolderInPlaceOfTheFile) {
  std::filesystem::create_directory(path);
  EXPECT_EQ(Read("S", "K"), "<default>");
  EXPECT_EQ(Write("S", "K", "1"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(OwnProfile, Utf16FileStaysUtf16) {
  const std::string utf16("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xE9\0\r\0\n\0", 22);
  WriteWholeFile(path, utf16);
  EXPECT_EQ(Read("S", "K"), "\xC3\xA9");          // U+00E9 in UTF-8, the ANSI code page here
  ASSERT_NE(Write("S", "N", "\xE2\x82\xAC"), 0);  // U+20AC
  EXPECT_EQ(ReadWholeText(path), utf16 + std::string("N\0=\0\xAC\x20\r\0\n\0", 10));
}

TEST_F(OwnProfile, LatinLettersMatchWithoutRegardToCase) {
  WriteWholeFile(path,
                 "[\xC3\x84RGER]\r\n\xC3\x9C"
                 "BER=1\r\n");
  EXPECT_EQ(Read("\xC3\xA4rger",
                 "\xC3\xBC"
                 "ber"),
            "1");
  // U+00D7 (multiplication sign) and U+00F7 (division sign) are not a letter pair.
  WriteWholeFile(path, "[\xC3\x97]\r\nK=1\r\n");
  EXPECT_EQ(Read("\xC3\xB7", "K"), "<default>");
}

TEST(ProfileText, CutCharacterAtTheEndIsDropped) {
  EXPECT_EQ(platform::ProfileTextToUtf8("ab\xC3"), "ab");
  EXPECT_EQ(platform::ProfileTextToUtf8("ab\xE2\x82"), "ab");
  EXPECT_EQ(platform::ProfileTextToUtf8("ab\xE2\x82\xAC"), "ab\xE2\x82\xAC");
  EXPECT_EQ(platform::ProfileTextToUtf8("\xC3\xA9"), "\xC3\xA9");
  EXPECT_EQ(platform::ProfileTextToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace lum::test
