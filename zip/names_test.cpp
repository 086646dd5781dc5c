// Entry-name sanitising, path joining, UTF-8 arrays, error texts and the variant helpers.
#include "zip/names.h"

#include <gtest/gtest.h>

#include "platform/fs.h"

namespace lum::zip {
namespace {

std::string Valid(const std::string& bytes, std::int32_t codePage = 65001) {
  return pvToValidPath(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), codePage);
}

TEST(ToValidPathTest, SeparatorsAndInvalidCharacters) {
  EXPECT_EQ(Valid("a/b\\c:d*e.txt"), "a\\b\\c_d_e.txt");
  EXPECT_EQ(Valid("\t"), "_");
  EXPECT_EQ(Valid("dir/"), "dir\\");
  EXPECT_EQ(Valid("C:\\x"), "C_\\x");
  EXPECT_EQ(Valid("/lead//double/"), "\\lead\\\\double\\");
  EXPECT_EQ(Valid("q?\"<>|.txt"), "q_____.txt");
  EXPECT_EQ(Valid(std::string("a\0b", 3)), "a_b");  // a NUL inside a name
  EXPECT_EQ(Valid("../x"), "..\\x");                // left for the extraction to refuse
  EXPECT_EQ(Valid(""), "");
}

TEST(ToValidPathTest, DecodesUtf8AndOemNames) {
  EXPECT_EQ(Valid("r\xC3\xA9sum\xC3\xA9.txt"), "r\xC3\xA9sum\xC3\xA9.txt");
  EXPECT_EQ(Valid("\x81"
                  "ber/\x84",
                  1),
            "\xC3\xBC"
            "ber\\\xC3\xA4");  // OEM ü, ä
}

TEST(ReplaceInvalidCharsTest, EveryControlCharacterAndNothingElse) {
  std::string all;
  for (int c = 1; c < 128; ++c) all.push_back(static_cast<char>(c));
  const std::string out = pvReplaceInvalidChars(all, "_");
  ASSERT_EQ(out.size(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const char c = all[i];
    const bool invalid = c < 0x20 || std::string("\"<>|:*?\\/").find(c) != std::string::npos;
    EXPECT_EQ(out[i], invalid ? '_' : c) << static_cast<int>(c);
  }
  // Multi-byte characters are never split or replaced; the replacement may be longer.
  EXPECT_EQ(pvReplaceInvalidChars("\xE2\x80\x9C:\xE2\x80\x9D", "[x]"),
            "\xE2\x80\x9C[x]\xE2\x80\x9D");
}

TEST(PathJoinTest, OneSeparatorBetweenNonEmptyParts) {
  EXPECT_EQ(pvPathJoin("C:\\", "x"), "C:\\x");
  EXPECT_EQ(pvPathJoin("C:\\dir", "x"), "C:\\dir\\x");
  EXPECT_EQ(pvPathJoin("", "x"), "x");
  EXPECT_EQ(pvPathJoin("C:\\dir", ""), "C:\\dir");
  EXPECT_EQ(pvPathJoin("a", "b\\c\\"), "a\\b\\c\\");
}

TEST(PathJoinTest, NativeJoinUsesThePlatformSeparator) {
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(pvNativePathJoin("out", "dir\\a.txt"), "out" + sep + "dir" + sep + "a.txt");
  EXPECT_EQ(pvNativePathJoin("out" + sep, "a"), "out" + sep + "a");
  EXPECT_EQ(pvNativePathJoin("out/", "a"), "out/a");
  EXPECT_EQ(pvNativePathJoin("out", "dir\\"), "out" + sep + "dir" + sep);
  EXPECT_EQ(pvNativePathJoin("", "a\\b"), "a" + sep + "b");
  EXPECT_EQ(pvFromNativePath(pvToNativePath("a\\b\\c")), "a\\b\\c");
  EXPECT_EQ(pvFromNativePath("x" + sep + "y"), "x\\y");
}

TEST(Utf8ArrayTest, BothDirections) {
  EXPECT_TRUE(ToUtf8Array("").empty());
  EXPECT_EQ(FromUtf8Array(ByteArray{}), "");
  EXPECT_EQ(FromUtf8Array(ByteArray{0x41}), "A");
  EXPECT_EQ(ToUtf8Array("\xC3\xA4"), (ByteArray{0xC3, 0xA4}));
  EXPECT_EQ(FromUtf8Array(ToUtf8Array("z\xF0\x9F\x98\x80")), "z\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8Array(ByteArray{0x61, 0xFF}), "a\xEF\xBF\xBD");
}

TEST(CodePageTest, EmptyInputAndUnavailableCodePages) {
  EXPECT_EQ(pvFromCodePage(nullptr, 0, 65001), "");
  EXPECT_TRUE(pvToCodePage("", 1).empty());
  const std::uint8_t b = 'a';
  EXPECT_EQ(pvFromCodePage(&b, 1, 65001), "a");
  EXPECT_EQ(pvFromCodePage(&b, 1, 12345678), "");  // no such code page
  EXPECT_EQ(pvToCodePage("x", 1), ByteArray{'x'});
}

TEST(ErrorTextTest, CodeInBracketsThenTheSystemText) {
  const std::string text = pvGetErrorText(2);
  ASSERT_EQ(text.rfind("[2] ", 0), 0u) << text;
  EXPECT_GT(text.size(), 5u);
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(pvGetErrorText(0x1FFFFFF0), "[536870896] ");
  EXPECT_EQ(pvSystemErrorMessage(2, "C:\\x.zip"), text + " (C:\\x.zip)");
}

TEST(VariantHelpersTest, ArrayItemClampAddAndObjects) {
  const Variant array(VariantArray{Variant(true), Variant("t"), Variant(3)});
  EXPECT_TRUE(pvArrayItem(array, 0).Bool());
  EXPECT_EQ(pvArrayItem(array, 1).Text(), "t");
  EXPECT_TRUE(pvArrayItem(array, 3).IsEmpty());
  EXPECT_TRUE(pvArrayItem(array, -1).IsEmpty());
  EXPECT_TRUE(pvArrayItem(Variant(5), 0).IsEmpty());
  EXPECT_EQ(pvArrayItem(Variant(ByteArray{7, 8}), 1).Number(), 8);

  EXPECT_EQ(pvClamp(-5, 0, 10), 0);
  EXPECT_EQ(pvClamp(15, 0, 10), 10);
  EXPECT_EQ(pvClamp(7, 0, 10), 7);
  EXPECT_EQ(pvClamp(7, 10, 0), 10);  // below the minimum wins

  ByteArray callers{1, 2, 3};
  Variant field;
  pvSetVariant(field, Variant::Ref(callers));
  ASSERT_TRUE(field.IsByteArray());
  EXPECT_FALSE(field.IsByteArrayRef());  // its own copy
  callers[0] = 9;
  EXPECT_EQ(field.Bytes()[0], 1);
}

}  // namespace
}  // namespace lum::zip
