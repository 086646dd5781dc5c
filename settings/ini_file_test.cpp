// clsIniFile: values, defaults, LastReturnCode, lists, deletes, number conversion, and files that
// cannot be written or hold unusual bytes.
#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/test_files.h"

namespace lum::test {
namespace {

using settings::clsIniFile;

class IniFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ini.Path(folder.Text("Settings.ini"));
    ini.Section("Display");
    ini.Key("Zoom");
  }
  std::optional<std::string> File() { return ReadWholeText(folder.Path("Settings.ini")); }
  void Put(const std::string& bytes) { WriteWholeFile(folder.Path("Settings.ini"), bytes); }

  ScratchDir folder;
  clsIniFile ini;
};

TEST(IniFileObject, StartsEmptyAndPropertiesOnlyStoreText) {
  clsIniFile ini;
  EXPECT_EQ(ini.LastReturnCode(), 0);
  EXPECT_FALSE(ini.Success());
  EXPECT_EQ(ini.Path(), "");
  EXPECT_EQ(ini.Section(), "");
  EXPECT_EQ(ini.Key(), "");
  EXPECT_EQ(ini.Default(), "");

  ScratchDir folder;
  ini.Path(folder.Text("never.ini"));
  ini.Section("S");
  ini.Key("K");
  ini.Default("D");
  EXPECT_EQ(ini.Path(), folder.Text("never.ini"));
  EXPECT_EQ(ini.Default(), "D");
  EXPECT_EQ(ini.LastReturnCode(), 0);
  EXPECT_FALSE(ReadWholeText(folder.Path("never.ini"))) << "assigning properties touches no file";
}

TEST_F(IniFile, MissingValuesReadAsDefault) {
  EXPECT_EQ(ini.Value(), "") << "missing file, no default";
  ini.Default("100");
  EXPECT_EQ(ini.Value(), "100");
  Put("[Display]\r\nOther=1\r\n");
  EXPECT_EQ(ini.Value(), "100");
  ini.Section("Sound");
  EXPECT_EQ(ini.Value(), "100");
  EXPECT_FALSE(File()->empty());
  EXPECT_EQ(ini.LastReturnCode(), 0) << "reads do not change LastReturnCode";
}

TEST_F(IniFile, WritesReadBackAndReportSuccess) {
  ini.Value("125");
  EXPECT_TRUE(ini.Success());
  EXPECT_NE(ini.LastReturnCode(), 0);
  EXPECT_EQ(ini.Value(), "125");
  ini.Key("LockImageZoom");
  ini.Value("0");
  ini.Section("Sound");
  ini.Key("Enabled");
  ini.Value("1");
  ini.Section("Display");
  ini.Key("Zoom");
  EXPECT_EQ(ini.Value(), "125");
  ini.Key("Missing");
  EXPECT_EQ(ini.Value(), "");
  EXPECT_TRUE(ini.Success()) << "a read that finds nothing leaves the write's result";
  EXPECT_EQ(File(), "[Display]\r\nZoom=125\r\nLockImageZoom=0\r\n[Sound]\r\nEnabled=1\r\n");
}

TEST_F(IniFile, LongValueReadsAsItsFirst254Characters) {
  std::string value;
  for (int i = 0; i < 300; ++i) value += static_cast<char>('a' + i % 26);
  ini.Value(value);
  ASSERT_TRUE(ini.Success());
  EXPECT_EQ(ini.Value(), value.substr(0, 254));
  ini.Value(value.substr(0, 254));
  EXPECT_EQ(ini.Value(), value.substr(0, 254)) << "254 characters still fit whole";
}

TEST_F(IniFile, CommasBecomePeriodsAndNulsGo) {
  ini.Value("1,5");
  EXPECT_EQ(ini.Value(), "1.5");
  EXPECT_EQ(clsIniFile::ToLong(ini.Value(), -1), 2);
  ini.Value("a, b,,c");
  EXPECT_EQ(ini.Value(), "a. b..c");
  ini.Value(std::string("\0x\0y\0", 5));
  EXPECT_EQ(ini.Value(), "xy");
  EXPECT_EQ(File(), "[Display]\r\nZoom=xy\r\n");
}

TEST_F(IniFile, LatinTextRoundTrips) {
  // Characters of the ANSI code page survive in both builds (UTF-8 files on POSIX, the system's
  // code page on Windows).
  ini.Section(
      "Gr\xC3\xB6\xC3\x9F"
      "e");
  ini.Value("Caf\xC3\xA9 \xC3\xBC");
  ASSERT_TRUE(ini.Success());
  EXPECT_EQ(ini.Value(), "Caf\xC3\xA9 \xC3\xBC");
  EXPECT_EQ(ini.Sections(), std::string("Gr\xC3\xB6\xC3\x9F"
                                        "e\0",
                                        8));
}

TEST_F(IniFile, FailedWriteIsReportedEachTime) {
  ini.Value("1");
  ASSERT_TRUE(ini.Success());
  clsIniFile lost;
  lost.Path(folder.Text("no such folder/Settings.ini"));
  lost.Section("S");
  lost.Key("K");
  lost.Value("1");
  EXPECT_EQ(lost.LastReturnCode(), 0);
  EXPECT_FALSE(lost.Success());
  EXPECT_FALSE(ReadWholeText(folder.Path("no such folder"))) << "the folder is not created";
  EXPECT_EQ(lost.Value(), "") << "and reads there still answer";

  // Success is the last write's, not a sticky flag.
  lost.Path(ini.Path());
  lost.Value("2");
  EXPECT_TRUE(lost.Success());
  lost.Path(folder.Text("no such folder/Settings.ini"));
  lost.Value("3");
  EXPECT_FALSE(lost.Success());
}

TEST_F(IniFile, LineBreaksAreRefusedAndTheFileKept) {
  ini.Value("1");
  const auto before = File();
  ini.Value("2\r\n[Injected]\r\nKey=3");
  EXPECT_FALSE(ini.Success());
  ini.Key("Zoom\nOther");
  ini.Value("4");
  EXPECT_FALSE(ini.Success());
  EXPECT_EQ(File(), before);
}

TEST_F(IniFile, ReadOnlyFileIsRefusedAndKept) {
  // Wine running as root writes a file marked read-only, which Windows refuses; so natively only.
  if (kSystemProfileFunctions) GTEST_SKIP() << "wine as root ignores the read-only attribute";
  Put("[Display]\r\nZoom=100\r\n");
  MakeReadOnly(folder.Path("Settings.ini"));
  ini.Value("200");
  EXPECT_EQ(ini.LastReturnCode(), 0);
  EXPECT_EQ(ini.Value(), "100");
  ini.DeleteSection();
  EXPECT_FALSE(ini.Success());
  EXPECT_EQ(File(), "[Display]\r\nZoom=100\r\n");
}

TEST_F(IniFile, BinaryBytesAndVeryLongLinesAreReadAndKept) {
  std::string noise;
  for (int i = 0; i < 256; ++i) {
    if (i != '\r' && i != '\n') noise += static_cast<char>(i);
  }
  const std::string longLine = "Long=" + std::string(1 << 20, 'x');
  Put("[Binary]\r\n" + noise + "\r\n" + longLine + "\r\n[Display]\r\nZoom=100\r\n");
  EXPECT_EQ(ini.Value(), "100");
  ini.Section("Binary");
  ini.Key("Long");
  EXPECT_EQ(ini.Value(), std::string(254, 'x'));

  ini.Section("Display");
  ini.Key("Zoom");
  ini.Value("150");
  ASSERT_TRUE(ini.Success());
  EXPECT_EQ(ini.Value(), "150");
  ini.Section("Binary");
  ini.Key("Long");
  EXPECT_EQ(ini.Value(), std::string(254, 'x'));
  if (!kSystemProfileFunctions) {
    EXPECT_EQ(File(), "[Binary]\r\n" + noise + "\r\n" + longLine + "\r\n[Display]\r\nZoom=150\r\n");
  }
}

TEST_F(IniFile, DeleteKeyAndSection) {
  Put("[Display]\r\nZoom=1\r\nMode=2\r\n[Sound]\r\nEnabled=1\r\n");
  ini.DeleteKey();
  EXPECT_TRUE(ini.Success());
  ini.Default("gone");
  EXPECT_EQ(ini.Value(), "gone");
  ini.Key("Mode");
  EXPECT_EQ(ini.Value(), "2");

  ini.Key("Missing");
  ini.DeleteKey();
  EXPECT_TRUE(ini.Success()) << "removing what is not there succeeds";

  ini.DeleteSection();
  EXPECT_TRUE(ini.Success());
  EXPECT_EQ(File(), "[Sound]\r\nEnabled=1\r\n");

  ini.Path(folder.Text("missing.ini"));
  ini.DeleteKey();
  EXPECT_TRUE(ini.Success()) << "nothing to remove in a missing file";
  ini.DeleteSection();
  EXPECT_TRUE(ini.Success());
  EXPECT_FALSE(ReadWholeText(folder.Path("missing.ini")));
  ini.Path(folder.Text("no such folder/x.ini"));
  ini.DeleteKey();
  EXPECT_FALSE(ini.Success()) << "a missing folder fails even a delete";
}

TEST_F(IniFile, AssigningINISectionRemovesTheSection) {
  Put("[Display]\r\nZoom=1\r\n[Sound]\r\nEnabled=1\r\n");
  ini.INISection("Zoom=2");
  EXPECT_TRUE(ini.Success());
  EXPECT_EQ(ini.Sections(), std::string("Sound\0", 6));
  ini.Default("none");
  EXPECT_EQ(ini.Value(), "none");
}

TEST_F(IniFile, KeyAndSectionListsAsText) {
  Put("[Display]\r\nZoom=1\r\nLockImageZoom=0\r\n[Sound]\r\nEnabled=1\r\n");
  EXPECT_EQ(ini.INISection(), std::string("Zoom\0LockImageZoom\0", 19));
  EXPECT_EQ(ini.Sections(), std::string("Display\0Sound\0", 14));
  ini.Section("Missing");
  ini.Default("none");
  EXPECT_EQ(ini.INISection(), "none");
  EXPECT_EQ(ini.LastReturnCode(), 0);
}

TEST_F(IniFile, KeyAndSectionListsAsArrays) {
  Put("[Display]\r\na=1\r\nb=2\r\n=3\r\n[Empty]\r\n[Sound]\r\nEnabled=1\r\n");
  std::vector<std::string> names{"stale", "stale", "stale", "stale", "stale"};
  std::int32_t count = 99;
  ini.GetKeyList(names, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", ""})) << "empty key names are kept";

  ini.GetSectionList(names, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<std::string>{"Display", "Empty", "Sound"}));

  // A section without keys lists as Default, which has no NUL and so adds no name.
  ini.Section("Empty");
  ini.Default("not a list");
  ini.GetKeyList(names, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());

  ini.Path(folder.Text("missing.ini"));
  ini.GetSectionList(names, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(IniFile, ListsAreCutAt8191Characters) {
  std::string file = "[Many]\r\n";
  std::string all;
  for (int i = 0; i < 1100; ++i) {
    const std::string name = "Key" + std::to_string(1000 + i);  // 7 characters each
    file += name + "=1\r\n";
    all += name + '\0';
  }
  Put(file);
  ini.Section("Many");
  const std::string list = ini.INISection();
  ASSERT_EQ(list.size(), 8190u) << "a list that does not fit counts size - 2";
  EXPECT_EQ(list, all.substr(0, 8190));
  std::vector<std::string> names;
  std::int32_t count = 0;
  ini.GetKeyList(names, count);
  EXPECT_EQ(count, 1023) << "8190 characters hold 1023 whole names and a cut one";
  EXPECT_EQ(names.back(), "Key2022");
}

TEST(IniToLong, ConvertsDecimalNumbersWithPeriods) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"12", 12},
      {" -7\t", -7},
      {"+4", 4},
      {"0", 0},
      {"2.5", 2},  // halves to the even neighbour
      {"3.5", 4},
      {"-2.5", -2},
      {"0.5", 0},
      {".5", 0},
      {"1.4999", 1},
      {"1e3", 1000},
      {"1.5E1", 15},
      {"2147483647", 2147483647},
      {"2147483647.4", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-2147483648.5", -2147483647 - 1},
      {"1,5", -1},  // a comma is no decimal point
      {"2147483647.5", -1},
      {"-2147483649", -1},
      {"1e10", -1},
      {"1e400", -1},
      {"", -1},
      {"   ", -1},
      {"FAIL", -1},
      {"12abc", -1},
      {"- 5", -1},
      {"inf", -1},
      {"nan", -1},
      {"0x10", -1},
      {"1 2", -1},
      {".", -1},
      {"-", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clsIniFile::ToLong(c.text, -1), c.expected) << '"' << c.text << '"';
  }
  EXPECT_EQ(clsIniFile::ToLong("x", 42), 42);
}

}  // namespace
}  // namespace lum::test
