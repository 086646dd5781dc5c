// One table of private-profile scenarios, run against whichever ProfileGetString /
// ProfileWriteString the build has: the POSIX implementation natively, the system's functions in
// the Windows build. Every row expects the same results on both.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::test {
namespace {

using platform::kSystemProfileFunctions;
using platform::ProfileGetString;
using platform::ProfileWriteString;

// nullptr stands for an absent argument; this marks it in the table.
constexpr const char* kNone = nullptr;

struct Step {
  enum Kind { kGet, kWrite } kind;
  const char* section;
  const char* key;
  const char* text;  // the default of a get, the value of a write
  std::uint32_t size = 0;
  // get: the buffer's first bytes, including the NULs that must follow the result.
  std::string expectedBuffer = {};
  std::int64_t expectedResult = 0;  // get: the count; write: 0 or nonzero (1)
  // Where wine's functions differ from the Windows documentation, what wine gives; the row then
  // checks the documented result natively and wine's result in the Windows build under wine.
  std::optional<std::string> wineBuffer = std::nullopt;
  std::int64_t wineResult = 0;
};

// Marks a get step as differing under wine (see Step::wineBuffer).
Step UnderWine(Step step, std::string buffer, std::uint32_t result) {
  step.wineBuffer = std::move(buffer);
  step.wineResult = result;
  return step;
}

Step Get(const char* section, const char* key, const char* defaultText, std::uint32_t size,
         std::string buffer, std::uint32_t result) {
  return {Step::kGet, section, key, defaultText, size, std::move(buffer), result};
}
// A value read with a roomy buffer: the value, its NUL, and the count.
Step Read(const char* section, const char* key, const char* defaultText, std::string value) {
  const auto count = static_cast<std::uint32_t>(value.size());
  return Get(section, key, defaultText, 256, value + '\0', count);
}
// A list read with a roomy buffer: names joined by NULs and the final double NUL.
Step List(const char* section, std::vector<std::string> names) {
  std::string buffer;
  for (const auto& name : names) buffer += name + '\0';
  const auto count = static_cast<std::uint32_t>(buffer.size());
  buffer += '\0';
  return Get(section, kNone, kNone, 1024, buffer, count);
}
Step Write(const char* section, const char* key, const char* text, bool succeeds = true) {
  return {Step::kWrite, section, key, text, 0, {}, succeeds ? 1 : 0};
}

struct Scenario {
  const char* name;
  std::optional<std::string> file;  // nothing: the file does not exist
  std::vector<Step> steps;
  std::optional<std::string> fileAfter = std::nullopt;  // exact bytes, when the row checks them
};

const std::string kSample =
    "[Main]\r\n"
    "Name=Value\r\n"
    "  Spaced   =   padded value  \r\n"
    "Quoted=\"in quotes\"\r\n"
    "Single='single'\r\n"
    "Half=\"open\r\n"
    "Mixed=\"a'\r\n"
    "Inner=a \"b\" c\r\n"
    "Empty=\r\n"
    "Blank=   \r\n"
    "Eq=a=b\r\n"
    "\r\n"
    "[main]\r\n"
    "Name=Second\r\n"
    "Extra=x\r\n"
    "[ Other ]\r\n"
    "name=other\r\n"
    "Name=duplicate\r\n";

// A literal's bytes, NUL characters included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

const std::string kKeyKinds =
    "; comment before any section\r\n"
    "Loose=1\r\n"
    "[A]\r\n"
    ";note=hidden\r\n"
    "Key=1\r\n"
    "# hash=2\r\n"
    "NoEquals\r\n"
    "  \r\n"
    "=empty name\r\n"
    "Key=duplicate\r\n"
    "[Empty]\r\n"
    "[]\r\n"
    "Z=1\r\n"
    "  [Indented]\r\n"
    "I=1\r\n"
    "[Unclosed\r\n"
    "U=1\r\n";

// ASCII text as a file saved in UTF-16 LE with its byte-order mark, as Windows tools save it.
std::string Utf16File(const std::string& ascii) {
  std::string bytes("\xFF\xFE", 2);
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::vector<Scenario> Scenarios() {
  return {
      {"a file in UTF-16 is read and written as text",
       Utf16File("[Display]\r\nZoom=0.75\r\n[Sound]\r\nEnabled=0\r\n"),
       {Read("Display", "Zoom", "d", "0.75"), Read("sound", "ENABLED", "d", "0"),
        Write("Display", "Zoom", "1.5"), Write("Shortcut", "Ask", "0"),
        Read("Display", "Zoom", "d", "1.5"), Read("Sound", "Enabled", "d", "0"),
        Read("Shortcut", "Ask", "d", "0")}},
      {"plain and padded values",
       kSample,
       {Read("Main", "Name", "d", "Value"), Read("Main", "Spaced", "d", "padded value"),
        Read("Main", "Eq", "d", "a=b"), Read("Main", "Inner", "d", "a \"b\" c")}},
      {"names without regard to case and blanks",
       kSample,
       {Read("MAIN", "NAME", "d", "Value"), Read("main", "spaced", "d", "padded value"),
        Read("other", "NAME", "d", "other"), Read("  Main ", " Name\t", "d", "Value")}},
      {"quotes around a value",
       kSample,
       {Read("Main", "Quoted", "d", "in quotes"), Read("Main", "Single", "d", "single"),
        Read("Main", "Half", "d", "\"open"), Read("Main", "Mixed", "d", "\"a'")}},
      {"quotes: edge cases",
       "[S]\r\nA=\"\r\nB=\"\"\r\nC='\"'\r\nD = \"x\" \r\nE=\"x\" y\"\r\nF=\"  q  \"\r\n",
       {Read("S", "A", "d", "\""), Read("S", "B", "d", ""), Read("S", "C", "d", "\""),
        Read("S", "D", "d", "x"), Read("S", "E", "d", "x\" y"), Read("S", "F", "d", "  q  "),
        // Documented: quotes go, then the buffer cuts. Wine cuts the quoted text first.
        UnderWine(Get("S", "D", "d", 2, std::string("x\0", 2), 1), std::string(1, '\0'), 0)}},
      {"empty values are found, not defaulted",
       kSample,
       {Read("Main", "Empty", "d", ""), Read("Main", "Blank", "d", "")}},
      {"first section and first key win",
       kSample,
       {Read("Main", "Name", "d", "Value"), Read("Other", "Name", "d", "other"),
        Read("Main", "Extra", "d", "d")}},
      {"defaults",
       kSample,
       {Read("Main", "Missing", "fallback", "fallback"), Read("Nowhere", "Name", "fb", "fb"),
        Read("Main", "Missing", "trailing  ", "trailing"), Read("Main", "Missing", kNone, ""),
        Read("Main", "Missing", "  lead", "  lead"), Read("Main", "Missing", "\"q\"", "q")}},
      {"missing file",
       std::nullopt,
       {Read("Main", "Name", "d", "d"), Get("Main", kNone, "d", 64, std::string("d\0", 2), 1),
        Get(kNone, kNone, "d", 64, std::string(1, '\0'), 0)}},
      {"value cut to the buffer",
       kSample,
       {Get("Main", "Name", "d", 4, std::string("Val\0", 4), 3),
        Get("Main", "Name", "d", 6, std::string("Value\0", 6), 5),
        Get("Main", "Missing", "default", 3, std::string("de\0", 3), 2),
        Get("Main", "Name", "d", 2, std::string("V\0", 2), 1),
        Get("Main", "Name", "d", 1, std::string(1, '\0'), 0)}},
      {"lists",
       kSample,
       {List("Main", {"Name", "Spaced", "Quoted", "Single", "Half", "Mixed", "Inner", "Empty",
                      "Blank", "Eq"}),
        List(kNone, {"Main", "main", "Other"}), List("other", {"name", "Name"})}},
      {"key kinds in lists and reads",
       kKeyKinds,
       {List("A", {"Key", "# hash", "", "Key"}), List(kNone, {"A", "Empty", "Indented"}),
        Read("A", ";note", "d", "hidden"), Read("A", "NoEquals", "d", "d"),
        Read("A", "", "d", "empty name"), Read("A", "Key", "d", "1"), Read("", "Loose", "d", "1"),
        List("", {"Loose"}), Read("", "Z", "d", "d"), Read("Indented", "I", "d", "1"),
        Read("Indented", "U", "d", "1"), Read("Unclosed", "U", "d", "d")}},
      {"key list of a section without keys is the default",
       kKeyKinds,
       {Get("Empty", kNone, "dflt", 64, std::string("dflt\0", 5), 4),
        Get("Nowhere", kNone, kNone, 64, std::string(1, '\0'), 0),
        // Documented: trailing blanks of a default are dropped. Wine keeps them for key lists.
        UnderWine(Get("Empty", kNone, "dflt  ", 64, std::string("dflt\0", 5), 4),
                  std::string("dflt  \0", 7), 6)}},
      {"lists cut to the buffer",
       kSample,
       // Documented: the last name is cut and followed by two NULs, the count is size - 2.
       // Wine writes only the first of the two NULs.
       {UnderWine(Get(kNone, kNone, kNone, 8, std::string("Main\0m\0\0", 8), 6),
                  std::string("Main\0m\0", 7), 6),
        UnderWine(Get("Main", kNone, kNone, 7, std::string("Name\0\0\0", 7), 5),
                  std::string("Name\0\0", 6), 5),
        UnderWine(Get(kNone, kNone, kNone, 2, std::string("\0\0", 2), 0), std::string(1, '\0'), 0),
        Get(kNone, kNone, kNone, 1, std::string(1, '\0'), 0)}},
      {"a list that just fits",
       "[S]\r\nK=1\r\n",
       // Documented: "S", NUL and the final NUL fit in 3. Wine takes it as cut (count size - 2).
       {UnderWine(Get(kNone, kNone, kNone, 3, std::string("S\0\0", 3), 2), std::string("S\0", 2),
                  1)}},
      {"file bytes: NUL, byte-order mark, line ends",
       Bytes("\xEF\xBB\xBF[S]\r\nK=a\0b\r\nL=2\rM=3\nN=4"),
       {Read("S", "K", "d", "a"), Read("S", "L", "d", "2"), Read("S", "M", "d", "3"),
        Read("S", "N", "d", "4"), List(kNone, {"S"})}},
      {"new file",
       std::nullopt,
       {Write("Main", "Name", "Value"), Read("Main", "Name", "d", "Value")},
       "[Main]\r\nName=Value\r\n"},
      {"empty file", "", {Write("S", "K", "v")}, "[S]\r\nK=v\r\n"},
      {"replace a value, keeping the key's spelling",
       "[Main]\r\nA=1\r\nKey=2\r\n",
       {Write("MAIN", " KEY ", "3"), Read("main", "key", "d", "3"), List("Main", {"A", "Key"})},
       "[Main]\r\nA=1\r\nKey=3\r\n"},
      {"new key and new section",
       "[One]\r\nA=1\r\n[Two]\r\nB=2\r\n",
       {Write("one", "C", "3"), Write("Three", "D", "4"), List("One", {"A", "C"}),
        Read("Three", "D", "d", "4")},
       "[One]\r\nA=1\r\nC=3\r\n[Two]\r\nB=2\r\n[Three]\r\nD=4\r\n"},
      {"a new key follows the section's comments",
       "[S]\r\n; only comment\r\n[T]\r\n",
       {Write("S", "L", "2")},
       "[S]\r\n; only comment\r\nL=2\r\n[T]\r\n"},
      {"a file without a final line end",
       "[Main]\r\nA=1",
       {Write("Main", "B", "2"), Read("Main", "A", "d", "1"), Read("Main", "B", "d", "2")},
       "[Main]\r\nA=1\r\nB=2\r\n"},
      {"keys before the first section",
       "[S]\r\nK=1\r\n",
       {Write("", "N", "1"), Read("", "N", "d", "1"), Read("S", "K", "d", "1")},
       "N=1\r\n[S]\r\nK=1\r\n"},
      {"written values lose leading blanks only",
       "[S]\r\nK=1\r\n",
       {Write("S", "K", " \t5  "), Read("S", "K", "d", "5")},
       "[S]\r\nK=5  \r\n"},
      {"empty value",
       "[S]\r\nK=1\r\n",
       {Write("S", "K", ""), Read("S", "K", "d", "")},
       "[S]\r\nK=\r\n"},
      {"delete a key",
       "[Main]\r\nA=1\r\nB=2\r\n",
       {Write("Main", "A", kNone), Read("Main", "A", "gone", "gone"), List("Main", {"B"})},
       "[Main]\r\nB=2\r\n"},
      {"delete the first of two keys",
       "[S]\r\nK=1\r\nK=2\r\n",
       {Write("S", "k", kNone), Read("S", "K", "d", "2")},
       "[S]\r\nK=2\r\n"},
      {"delete a section",
       "[One]\r\nA=1\r\n[Two]\r\nB=2\r\n",
       {Write("one", kNone, "ignored"), List(kNone, {"Two"}), Read("One", "A", "gone", "gone")},
       "[Two]\r\nB=2\r\n"},
      {"delete the first of two sections",
       "[S]\r\nK=1\r\n[S]\r\nK=2\r\nJ=3\r\n",
       {Write("S", kNone, kNone), Read("S", "K", "d", "2")},
       "[S]\r\nK=2\r\nJ=3\r\n"},
      {"the last key goes, the section stays",
       "[S]\r\nK=1\r\n",
       {Write("S", "K", kNone), List(kNone, {"S"})},
       "[S]\r\n"},
      {"deletes of what is missing",
       "[Main]\r\nA=1\r\n",
       {Write("Main", "Z", kNone), Write("Nowhere", kNone, kNone), Read("Main", "A", "d", "1")},
       "[Main]\r\nA=1\r\n"},
      {"deletes in a missing file create nothing",
       std::nullopt,
       {Write("S", "K", kNone), Write("S", kNone, kNone)},
       std::nullopt},
      {"ANSI bytes pass through unchanged",
       std::nullopt,
       {Write("Gr\xC3\xBC\xC3\x9F"
              "e",
              "K\xC3\xA9y", "\xE2\x82\xAC 5"),
        Read("Gr\xC3\xBC\xC3\x9F"
             "e",
             "K\xC3\xA9y", "d", "\xE2\x82\xAC 5"),
        List(kNone, {"Gr\xC3\xBC\xC3\x9F"
                     "e"})},
       "[Gr\xC3\xBC\xC3\x9F"
       "e]\r\nK\xC3\xA9y=\xE2\x82\xAC 5\r\n"},
      {"no section name",
       "[Main]\r\nA=1\r\n",
       {Write(kNone, "A", "2", false), Read("Main", "A", "d", "1")},
       "[Main]\r\nA=1\r\n"},
      {"names and values that would break the file are refused",
       "[S]\r\nK=1\r\n",
       {Write("S", "K", "a\r\nb", false), Write("S", "K", "a\nX=1", false),
        Write("S", "a=b", "v", false), Write("S", " [T]", "v", false),
        Write("S\r\n[T", "K", "v", false), Write("S", "K\r", "v", false), Read("S", "K", "d", "1"),
        List(kNone, {"S"})},
       "[S]\r\nK=1\r\n"},
  };
}

class ProfileScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(ProfileScenario, GivesTheDocumentedResults) {
  const Scenario& scenario = GetParam();
  ScratchDir folder;
  const auto path = folder.Path("test.ini");
  const std::string pathText = platform::ProfileTextFromUtf8(folder.Text("test.ini"));
  if (scenario.file) WriteWholeFile(path, *scenario.file);

  for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
    const Step& step = scenario.steps[i];
    SCOPED_TRACE("step " + std::to_string(i + 1));
    if (step.kind == Step::kWrite) {
      const std::int32_t result =
          ProfileWriteString(step.section, step.key, step.text, pathText.c_str());
      EXPECT_EQ(result != 0, step.expectedResult != 0);
      continue;
    }
    std::vector<char> buffer(step.size + 16, '\x7F');
    const std::uint32_t count = ProfileGetString(step.section, step.key, step.text, buffer.data(),
                                                 step.size, pathText.c_str());
    const bool wine = kSystemProfileFunctions && step.wineBuffer;
    const std::string& expected = wine ? *step.wineBuffer : step.expectedBuffer;
    EXPECT_EQ(count, wine ? step.wineResult : step.expectedResult);
    EXPECT_EQ(std::string(buffer.data(), expected.size()), expected);
    EXPECT_EQ(buffer[step.size], '\x7F') << "wrote past the buffer";
  }
  if (scenario.fileAfter || !scenario.file) {
    EXPECT_EQ(ReadWholeText(path), scenario.fileAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileScenario, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace lum::test
