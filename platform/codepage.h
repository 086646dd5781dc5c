// Code-page conversions between byte strings and the program's UTF-8 text
// (MultiByteToWideChar / WideCharToMultiByte with no flags and no default character).
//
//   code page 65001  UTF-8 on every platform; invalid sequences decode to U+FFFD.
//   code page 1      OEM. Windows: the system's OEM code page. POSIX: code page 437 from a
//                    built-in table; characters it lacks encode as "?".
//   code page 0      ANSI. Windows: the system's ANSI code page, with its best-fit
//                    substitutes for characters it lacks. POSIX: UTF-8.
//
// Windows accepts any installed code page; POSIX only these three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lum::platform {

inline constexpr std::int32_t kCodePageAnsi = 0;
inline constexpr std::int32_t kCodePageOem = 1;
inline constexpr std::int32_t kCodePageUtf8 = 65001;

// Decodes `count` bytes of `codePage` into UTF-8 text. False (text empty) when the code page
// is not available.
bool MultiByteToUtf8(std::int32_t codePage, const std::uint8_t* bytes, std::size_t count,
                     std::string& text);

// Encodes UTF-8 text into `codePage`. False (bytes empty) when the code page is not
// available.
bool Utf8ToMultiByte(std::int32_t codePage, const std::string& text,
                     std::vector<std::uint8_t>& bytes);

// Platform-independent UTF-8 helpers (codepage_utf8.cpp).

// Decodes UTF-8 into code points; each invalid or truncated sequence becomes one U+FFFD
// per maximal invalid subpart (surrogates and overlong forms are invalid).
std::u32string DecodeUtf8(const char* bytes, std::size_t count);
inline std::u32string DecodeUtf8(const std::string& text) {
  return DecodeUtf8(text.data(), text.size());
}
// Appends a code point as UTF-8; surrogates and values above U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
// The same text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(const char* bytes, std::size_t count);

}  // namespace lum::platform
