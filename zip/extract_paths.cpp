// Output paths of a folder target: the check that keeps every entry inside the folder and
// off devices, and the creation of the output file.
//
// OpenArchive sanitises names (no ":" and no control characters, "/" turned into "\"), so a
// drive letter becomes "C_" and a leading "\" only adds an empty component, which a
// non-empty folder absorbs ("dir" + "\" + "\etc\x" stays under dir). What sanitising lets
// through are ".." components, a rooted name joined to an empty folder, and on Windows the
// names that the system opens as devices, or that it turns into ".." by dropping trailing
// dots and blanks. Those entries are refused before anything of them is written.
#include <algorithm>
#include <array>
#include <cctype>

#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "zip/extract.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Upper(text[i]) != upper[i]) return false;
  }
  return true;
}

bool IsDotsAndBlanksEscape(std::string_view component) {
  if (component.empty()) return false;
  const bool onlyDotsAndBlanks =
      std::all_of(component.begin(), component.end(), [](char c) { return c == '.' || c == ' '; });
  return onlyDotsAndBlanks && std::count(component.begin(), component.end(), '.') >= 2;
}

}  // namespace

bool pvIsReservedDeviceName(std::string_view component) {
  // The device is named by the part before the first dot, without trailing blanks.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kPlain) {
    if (EqualsUpper(base, name)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view stem = base.substr(0, 3);
  if (!EqualsUpper(stem, "COM") && !EqualsUpper(stem, "LPT")) return false;
  const std::string_view digit = base.substr(3);
  if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
  // U+00B9, U+00B2, U+00B3 in UTF-8.
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool pvIsUnsafeEntryPath(const std::string& folder, const std::string& entryName,
                         bool windowsNames) {
  if (folder.empty() && !entryName.empty() && (entryName[0] == '\\' || entryName[0] == '/')) {
    return true;
  }
  std::size_t from = 0;
  while (from <= entryName.size()) {
    std::size_t to = entryName.find_first_of("\\/", from);
    if (to == std::string::npos) to = entryName.size();
    const std::string_view component(entryName.data() + from, to - from);
    if (component == "..") return true;
    if (windowsNames && (IsDotsAndBlanksEscape(component) || pvIsReservedDeviceName(component))) {
      return true;
    }
    from = to + 1;
  }
  return false;
}

std::int64_t pvByteArrayPresize(const EntryInfo& e, std::int64_t available) {
  if (e.Size <= 0) return 0;
  std::int64_t stored = std::max<std::int32_t>(e.CompressedSize, 0);
  if (available >= 0) stored = std::min(stored, available);
  const std::int64_t bound = e.Method == records::kMethodDeflate ? 1032 * stored + 258 : stored;
  return std::min<std::int64_t>(e.Size, bound);
}

VfsHandle pvCreateOutputFile(const std::string& path) {
  if (!path.empty() && !platform::IsPathSeparator(path.back())) {
    platform::FileHandle file =
        pvCreateFile(path, platform::kGenericWrite, platform::kFileShareRead,
                     platform::kCreateAlways, platform::kAttributeArchive);
    if (file) {
      VfsHandle h;
      h.Kind = VfsKind::kFile;
      h.sName = path;
      h.File = std::move(file);
      h.hFile = 1;
      return h;
    }
  }
  return pvVfsCreate(Variant(path));
}

}  // namespace lum::zip
