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
#include <utility>

#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "zip/extract.h"
#include "zip/names.h"
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
  if (e.WholeSize() <= 0) return 0;
  std::int64_t stored = std::max<std::int64_t>(e.WholeCompressedSize(), 0);
  if (available >= 0) stored = std::min(stored, available);
  // Memory buffers hold at most 0x7FFFFFFF bytes, which also keeps the product in range.
  stored = std::min<std::int64_t>(stored, 0x7FFFFFFF);
  const std::int64_t bound = e.Method == records::kMethodDeflate ? 1032 * stored + 258 : stored;
  return std::min<std::int64_t>({e.WholeSize(), bound, 0x7FFFFFFF});
}

VfsHandle pvFileOutput(platform::FileHandle file, const std::string& path) {
  VfsHandle h;
  h.Kind = VfsKind::kFile;
  h.sName = path;
  h.File = std::move(file);
  h.Access = VfsAccess::kOpen;
  return h;
}

VfsHandle pvCreateOutputFile(const std::string& path) {
  if (!path.empty() && !platform::IsPathSeparator(path.back())) {
    platform::FileHandle file =
        pvCreateFile(path, platform::kGenericWrite, platform::kFileShareRead,
                     platform::kCreateAlways, platform::kAttributeArchive);
    if (file) return pvFileOutput(std::move(file), path);
  }
  return pvVfsCreate(Variant(path));
}

std::string pvOutputPath(const std::string& folder, const std::string& entryName) {
  if (entryName.find('.') == std::string::npos) return pvNativePathJoin(folder, entryName);
  std::vector<std::string_view> kept;
  std::size_t from = 0;
  while (from <= entryName.size()) {
    std::size_t to = entryName.find('\\', from);
    if (to == std::string::npos) to = entryName.size();
    const std::string_view component(entryName.data() + from, to - from);
    if (component != ".") kept.push_back(component);
    from = to + 1;
  }
  std::string cleaned;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) cleaned += '\\';
    cleaned += kept[i];
  }
  // ".\" alone is the folder itself, still marked as a folder.
  if (cleaned.empty() && !entryName.empty() && entryName.back() == '\\') {
    return folder.empty() || platform::IsPathSeparator(folder.back())
               ? folder
               : folder + platform::kPathSeparator;
  }
  return pvNativePathJoin(folder, cleaned);
}

bool pvLinkStaysInside(const std::string& entryName, const std::string& linkTarget) {
  if (linkTarget.empty() || linkTarget[0] == '/' || linkTarget[0] == '\\') return false;
  if (linkTarget.find(':') != std::string::npos) return false;  // a drive on Windows
  // The depth of the link's own folder below the target folder, then the target's steps.
  std::int64_t depth = 0;
  auto walk = [&depth](std::string_view path, bool lastIsFile) {
    std::size_t from = 0;
    while (from <= path.size()) {
      std::size_t to = path.find_first_of("/\\", from);
      if (to == std::string_view::npos) to = path.size();
      const std::string_view component = path.substr(from, to - from);
      const bool last = to == path.size();
      if (component == "..") {
        if (--depth < 0) return false;
      } else if (!component.empty() && component != "." && !(last && lastIsFile)) {
        ++depth;
      }
      from = to + 1;
    }
    return true;
  };
  return walk(entryName, true) && walk(linkTarget, false);
}

std::vector<bool> pvOverlappingEntries(const std::vector<EntryInfo>& entries, std::int32_t count,
                                       std::int64_t archiveSize) {
  std::vector<bool> overlapping(static_cast<std::size_t>(std::max(count, 0)), false);
  std::vector<std::pair<std::int64_t, std::int32_t>> starts;
  starts.reserve(overlapping.size());
  for (std::int32_t i = 0; i < count; ++i) {
    const EntryInfo& e = entries[static_cast<std::size_t>(i)];
    if (e.WholeOffset() < 0 || e.WholeCompressedSize() < 0) continue;
    // Written so that no sum leaves 64 bits: both values are below 2^63.
    if (archiveSize >= 0 &&
        (e.WholeOffset() > archiveSize ||
         e.WholeCompressedSize() > archiveSize - e.WholeOffset() - records::kLocalSize)) {
      continue;
    }
    starts.emplace_back(e.WholeOffset(), i);
  }
  std::sort(starts.begin(), starts.end());
  std::int64_t reach = -1;  // the furthest end of the ranges seen so far
  std::int32_t owner = -1;  // the entry whose range reaches there
  for (const auto& [offset, i] : starts) {
    if (offset < reach) {
      overlapping[static_cast<std::size_t>(i)] = true;
      overlapping[static_cast<std::size_t>(owner)] = true;
    }
    const std::int64_t end =
        offset + records::kLocalSize + entries[static_cast<std::size_t>(i)].WholeCompressedSize();
    if (end > reach) {
      reach = end;
      owner = i;
    }
  }
  return overlapping;
}

bool pvIsStdHandleName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "stdin:" || lower == "stdout:" || lower == "stderr:";
}

bool FolderGuard::Allows(const std::string& folder, const std::string& path) {
  const std::size_t cut = path.find_last_of(platform::kWindowsPaths ? "\\/" : "/");
  if (cut == std::string::npos || cut < folder.size()) return true;  // directly in the folder
  const std::string parent = path.substr(0, cut);
  if (m_safe.count(parent) != 0) return true;
  std::size_t from = folder.size();
  while (from < parent.size()) {
    std::size_t to = from;
    while (to < parent.size() && !platform::IsPathSeparator(parent[to])) ++to;
    if (to > from) {
      const std::string current = parent.substr(0, to);
      const platform::PathStatus status = platform::QueryPath(current, false);
      if (status.kind == platform::PathKind::kMissing) break;  // made as a real folder
      if (status.kind == platform::PathKind::kLink) {
        if (!m_resolved) {
          m_resolvedFolder = platform::ResolvedPath(folder.empty() ? std::string(".") : folder);
          m_resolved = true;
        }
        const std::string resolved = platform::ResolvedPath(current);
        if (resolved.empty() || m_resolvedFolder.empty()) return false;
        const bool inside = resolved == m_resolvedFolder ||
                            (resolved.size() > m_resolvedFolder.size() &&
                             resolved.compare(0, m_resolvedFolder.size(), m_resolvedFolder) == 0 &&
                             (platform::IsPathSeparator(resolved[m_resolvedFolder.size()]) ||
                              platform::IsPathSeparator(m_resolvedFolder.back())));
        if (!inside) return false;
      }
    }
    from = to + 1;
  }
  m_safe.insert(parent);
  return true;
}

}  // namespace lum::zip
