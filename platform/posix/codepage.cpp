// Code pages on POSIX: UTF-8 for 65001 and ANSI (0), and code page 437 for OEM (1) from the
// table below. Bytes 0x00–0x7F of code page 437 are ASCII, as Windows converts them.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/codepage.h"

namespace lum::platform {
namespace {

// Code page 437, bytes 0x80–0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  //
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  //
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  //
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  //
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  //
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  //
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  //
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  //
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

// The reverse table, sorted by character, built once.
const std::array<std::pair<char16_t, std::uint8_t>, 128>& Cp437Reverse() {
  static const auto table = [] {
    std::array<std::pair<char16_t, std::uint8_t>, 128> t{};
    for (int i = 0; i < 128; ++i) t[i] = {kCp437High[i], static_cast<std::uint8_t>(0x80 + i)};
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

std::uint8_t EncodeCp437(char32_t c) {
  if (c < 0x80) return static_cast<std::uint8_t>(c);
  const auto& table = Cp437Reverse();
  if (c <= 0xFFFF) {
    const auto it = std::lower_bound(
        table.begin(), table.end(), std::pair<char16_t, std::uint8_t>{static_cast<char16_t>(c), 0});
    if (it != table.end() && it->first == c) return it->second;
  }
  return '?';
}

}  // namespace

bool MultiByteToUtf8(std::int32_t codePage, const std::uint8_t* bytes, std::size_t count,
                     std::string& text) {
  text.clear();
  switch (codePage) {
    case kCodePageAnsi:
    case kCodePageUtf8:
      text = SanitizeUtf8(reinterpret_cast<const char*>(bytes), count);
      return true;
    case kCodePageOem:
      text.reserve(count);
      for (std::size_t i = 0; i < count; ++i) {
        AppendUtf8(text,
                   bytes[i] < 0x80 ? char32_t{bytes[i]} : char32_t{kCp437High[bytes[i] - 0x80]});
      }
      return true;
    default:
      return false;
  }
}

bool Utf8ToMultiByte(std::int32_t codePage, const std::string& text,
                     std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  switch (codePage) {
    case kCodePageAnsi:
    case kCodePageUtf8: {
      const std::string clean = SanitizeUtf8(text.data(), text.size());
      bytes.assign(clean.begin(), clean.end());
      return true;
    }
    case kCodePageOem:
      for (char32_t c : DecodeUtf8(text)) bytes.push_back(EncodeCp437(c));
      return true;
    default:
      return false;
  }
}

}  // namespace lum::platform
