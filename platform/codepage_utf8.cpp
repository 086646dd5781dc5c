// UTF-8 decoding and encoding shared by both platforms. Invalid input is replaced as the
// Unicode standard recommends (one U+FFFD per maximal subpart of an ill-formed sequence),
// which is also what MultiByteToWideChar does for code page 65001.
#include "platform/codepage.h"

namespace lum::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at `p` (with `n` > 0 bytes left); returns the bytes consumed.
std::size_t DecodeOne(const unsigned char* p, std::size_t n, char32_t& out) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t len;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    out = kReplacement;
    return 1;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = i < n ? p[i] : 0;
    const bool ok = i < n && (i == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF));
    if (!ok) {
      out = kReplacement;
      return i;  // the maximal subpart ends before this byte
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  out = cp;
  return len;
}

}  // namespace

std::u32string DecodeUtf8(const char* bytes, std::size_t count) {
  std::u32string out;
  out.reserve(count);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < count) {
    char32_t c;
    i += DecodeOne(p + i, count - i, c);
    out.push_back(c);
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string SanitizeUtf8(const char* bytes, std::size_t count) {
  std::string out;
  out.reserve(count);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < count) {
    char32_t c;
    const std::size_t used = DecodeOne(p + i, count - i, c);
    if (c == kReplacement && !(used == 3 && p[i] == 0xEF)) {
      AppendUtf8(out, c);
    } else {
      out.append(bytes + i, used);
    }
    i += used;
  }
  return out;
}

}  // namespace lum::platform
