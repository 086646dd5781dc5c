// The extraction filter and the wildcard matcher.
#include "zip/filter.h"

#include <gtest/gtest.h>

#include <chrono>

#include "zip/zip_error.h"

namespace lum::zip {
namespace {

TEST(FilterTest, TextFiltersMatchWholeNameOrBaseName) {
  EXPECT_TRUE(ExtractFilter(Variant("*.*")).Selects(0, "README"));
  EXPECT_TRUE(ExtractFilter(Variant("a.txt")).Selects(0, "dir\\a.txt"));  // base name
  EXPECT_TRUE(ExtractFilter(Variant("*.txt")).Selects(0, "dir\\a.txt"));  // "*" spans "\"
  const ExtractFilter dirFilter(Variant("dir/*.txt"));
  EXPECT_TRUE(dirFilter.Selects(0, "dir\\a.txt"));
  EXPECT_FALSE(dirFilter.Selects(1, "a.txt"));
  EXPECT_FALSE(dirFilter.Selects(2, "dir\\a.dat"));
  // A folder entry's base name is empty: only a whole-name match selects it.
  EXPECT_FALSE(ExtractFilter(Variant("*.txt")).Selects(0, "dir\\"));
  EXPECT_TRUE(ExtractFilter(Variant("dir*")).Selects(0, "dir\\"));
  // Case-sensitive.
  EXPECT_FALSE(ExtractFilter(Variant("A.TXT")).Selects(0, "a.txt"));
}

TEST(FilterTest, BracketsInTextFiltersAreLiteral) {
  EXPECT_EQ(pvPrepareFilterPattern("[ab].txt"), "[[]ab].txt");
  EXPECT_EQ(pvPrepareFilterPattern("a/b/*.*"), "a\\b\\*.*");  // only exactly "*.*" becomes "*"
  const ExtractFilter f(Variant("[ab]#.txt"));
  EXPECT_TRUE(f.Selects(0, "[ab]1.txt"));
  EXPECT_FALSE(f.Selects(0, "a1.txt"));
  EXPECT_FALSE(f.Selects(0, "[ab]x.txt"));  // "#" is still a digit
}

TEST(FilterTest, ArraysNumbersAndMissing) {
  const ExtractFilter all(Variant::MissingArg());
  EXPECT_TRUE(all.Selects(0, "x"));
  EXPECT_TRUE(all.Selects(99, "y"));

  const ExtractFilter array(
      Variant(VariantArray{Variant(false), Variant(), Variant(true), Variant(1), Variant(-1)}));
  EXPECT_FALSE(array.Selects(0, "a"));
  EXPECT_FALSE(array.Selects(1, "b"));
  EXPECT_TRUE(array.Selects(2, "c"));
  EXPECT_FALSE(array.Selects(3, "d"));
  EXPECT_TRUE(array.Selects(4, "e"));   // -1 is True
  EXPECT_FALSE(array.Selects(5, "f"));  // shorter than the entry count

  const ExtractFilter number(Variant(2));
  EXPECT_FALSE(number.Selects(1, "a"));
  EXPECT_TRUE(number.Selects(2, "a"));
  EXPECT_TRUE(ExtractFilter(Variant(false)).Selects(0, "a"));  // False is 0
  EXPECT_FALSE(ExtractFilter(Variant(2.5)).Selects(2, "a"));
}

TEST(FilterTest, FilterArrayIsCopiedWhenBuilt) {
  ByteArray bytes{0xFF};
  const ExtractFilter f(Variant::Ref(bytes));
  bytes.clear();
  EXPECT_FALSE(f.Selects(0, "a"));  // bytes are 0–255 and never True
}

TEST(FilterTest, StreamObjectIsRefused) {
  try {
    const ExtractFilter f{Variant(StreamRef())};
    (void)f;
    FAIL() << "no error";
  } catch (const ZipError& e) {
    EXPECT_EQ(e.Description, "Invalid filter");
    EXPECT_EQ(e.Number, kZipErrorNumber);
  }
}

TEST(WildcardTest, Elements) {
  EXPECT_TRUE(pvWildcardMatch("", ""));
  EXPECT_TRUE(pvWildcardMatch("", "*"));
  EXPECT_FALSE(pvWildcardMatch("", "?"));
  EXPECT_TRUE(pvWildcardMatch("abc", "a?c"));
  EXPECT_FALSE(pvWildcardMatch("ac", "a?c"));
  EXPECT_TRUE(pvWildcardMatch("a7", "a#"));
  EXPECT_FALSE(pvWildcardMatch("ax", "a#"));
  EXPECT_TRUE(pvWildcardMatch("b", "[a-c]"));
  EXPECT_FALSE(pvWildcardMatch("d", "[a-c]"));
  EXPECT_TRUE(pvWildcardMatch("d", "[!a-c]"));
  EXPECT_FALSE(pvWildcardMatch("b", "[!a-c]"));
  EXPECT_TRUE(pvWildcardMatch("-", "[a-]"));
  EXPECT_TRUE(pvWildcardMatch("!", "[a!]"));
  EXPECT_TRUE(pvWildcardMatch("x", "[xyz]"));
  EXPECT_FALSE(pvWildcardMatch("b", "[c-a]"));  // a reversed range holds nothing
  EXPECT_TRUE(pvWildcardMatch("[", "[[]"));
  EXPECT_TRUE(pvWildcardMatch("a[b", "a[b"));  // unclosed: literal
  EXPECT_TRUE(pvWildcardMatch("ab", "a[]b"));  // empty list: zero width
  EXPECT_TRUE(pvWildcardMatch("abcbd", "a*b?"));
  EXPECT_FALSE(pvWildcardMatch("abcbde", "a*b?"));
  EXPECT_TRUE(pvWildcardMatch("a.b.c", "*.c"));
  EXPECT_TRUE(pvWildcardMatch("mississippi", "m*iss*ppi"));
  EXPECT_FALSE(pvWildcardMatch("mississippi", "m*iss*ppix"));
}

TEST(WildcardTest, ComparesWholeCodePoints) {
  EXPECT_TRUE(pvWildcardMatch("\xC3\xA4", "?"));  // ä is one character
  EXPECT_TRUE(pvWildcardMatch("\xF0\x9F\x98\x80.txt", "?.txt"));
  EXPECT_TRUE(pvWildcardMatch("\xC3\xA4", "[\xC3\xA0-\xC3\xBF]"));  // à–ÿ by code point
  EXPECT_FALSE(pvWildcardMatch("z", "[\xC3\xA0-\xC3\xBF]"));
  EXPECT_FALSE(pvWildcardMatch("\xC3\x84", "\xC3\xA4"));  // Ä is not ä
}

TEST(WildcardTest, ManyStarsStayFast) {
  const std::string text(20000, 'a');
  const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(pvWildcardMatch(text, pattern));
  EXPECT_TRUE(pvWildcardMatch(text + "b", pattern));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
}  // namespace lum::zip
