#include "platform/profile_check.h"

#include <cstring>

namespace lum::platform::detail {

namespace {

bool HasLineBreak(const char* text) {
  return std::strpbrk(text, "\r\n") != nullptr;
}

}  // namespace

bool ProfileWriteIsStorable(const char* section, const char* key, const char* text) {
  if (section && HasLineBreak(section)) return false;
  if (text && HasLineBreak(text)) return false;
  if (key) {
    if (HasLineBreak(key) || std::strchr(key, '=')) return false;
    const char* first = key + std::strspn(key, " \t\v\f");
    if (*first == '[') return false;
  }
  return true;
}

}  // namespace lum::platform::detail
