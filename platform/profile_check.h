// Input checks shared by both private-profile implementations.
#pragma once

namespace lum::platform::detail {

// True when a write of `text` to `key` in `section` can be stored so that the file reads back
// the same keys: no name or value holds a line break (it would add lines to the file), and no
// key name holds "=" or starts with "[" (the line would read as a different key or a section).
// Absent (nullptr) arguments always pass.
bool ProfileWriteIsStorable(const char* section, const char* key, const char* text);

}  // namespace lum::platform::detail
