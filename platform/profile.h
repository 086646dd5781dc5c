// Private-profile (INI) files: read and write one value, list keys and sections, delete keys
// and sections.
//
// ProfileGetString and ProfileWriteString stand for the Windows functions
// GetPrivateProfileStringA and WritePrivateProfileStringA and have their contract, including the
// buffer layout of list results and the return values on truncation. Windows calls the real
// functions. POSIX has its own implementation of the same behaviour; see platform/posix/profile.cpp
// for the file rules.
//
// All text in these two calls (section, key, value, default, path, buffer) is in the ANSI code
// page, as for the Windows functions. ProfileTextFromUtf8 and ProfileTextToUtf8 convert between the
// program's UTF-8 and that code page (on POSIX the ANSI code page is UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lum::platform {

// True where ProfileGetString and ProfileWriteString are the system's own functions (Windows),
// false where this layer implements them (POSIX).
#ifdef _WIN32
inline constexpr bool kSystemProfileFunctions = true;
#else
inline constexpr bool kSystemProfileFunctions = false;
#endif

// Copies a value, a key list or a section list of the INI file `path` into `buffer`.
//
// - section and key given: the value of the first key `key` in the first section `section`
//   (names compared without regard to case). Blanks around the value are dropped, and one pair
//   of matching quotes (' or ") around it. When the file, section or key is missing, the
//   `defaultText` is copied instead (nullptr counts as empty; its trailing blanks are dropped).
//   At most size - 1 characters are copied, then a NUL; returns the number copied.
// - key nullptr: the names of the keys of `section`, each followed by a NUL, and one more NUL at
//   the end; the result counts neither that last NUL. If the list does not fit, the last name is
//   cut, followed by two NULs, and the result is size - 2.
// - section nullptr: the same for the names of all sections of the file.
// With size 0 nothing is written and the result is 0.
std::uint32_t ProfileGetString(const char* section, const char* key, const char* defaultText,
                               char* buffer, std::uint32_t size, const char* path);

// Sets `key` in `section` of the INI file `path` to `text`, creating the file (not its folder),
// the section and the key as needed. `text` nullptr removes the key; `key` nullptr removes the
// whole section and ignores `text`. Returns nonzero on success, 0 on failure (the file or its
// folder cannot be written, `section` nullptr, a name that cannot be stored on one line).
std::int32_t ProfileWriteString(const char* section, const char* key, const char* text,
                                const char* path);

// Converts the program's UTF-8 text to the ANSI code page for the two calls above. Characters
// that the code page lacks become "?". NUL characters are kept.
std::string ProfileTextFromUtf8(std::string_view utf8);
// Converts ANSI text from the calls above to UTF-8. NUL characters are kept. On POSIX an
// incomplete character at the very end (a value cut by the buffer size) is dropped.
std::string ProfileTextToUtf8(std::string_view ansi);

}  // namespace lum::platform
