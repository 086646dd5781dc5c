// AddFile and AddFromFolder: queuing entries for the writer.
//
// Queuing reads only metadata. AddFile opens its source through the storage layer, which
// looks the path up (or sizes the buffer or stream) without opening any file, and fills one
// entry-table slot from what it found; the data is read when the archive is written.
// AddFromFolder walks a folder breadth-first, files of a folder before those of its
// subfolders, and queues each file through AddFile, so every file's failure is reported on
// its own and the walk goes on; only a folder that cannot be searched ends the walk.
#include "zip/add_entries.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>

#include "platform/error_code.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "zip/names.h"
#include "zip/storage.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

// A separator of entry names ("\") or of the platform's paths.
bool IsAnySeparator(char c) {
  return c == '\\' || platform::IsPathSeparator(c);
}

// The process's current folder, or "." when it cannot be learnt.
std::string CurrentFolder() {
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (ec) return ".";
  const std::u8string text = cwd.u8string();
  return std::string(text.begin(), text.end());
}

// Splits "folder<sep>mask" at its last separator; without one the folder is empty.
void SplitFolderAndMask(const std::string& text, std::string& folder, std::string& mask) {
  for (std::size_t i = text.size(); i-- > 0;) {
    if (platform::IsPathSeparator(text[i])) {
      // A separator that is the whole folder ("/x" on POSIX, "\x" on Windows) is the root.
      folder = text.substr(0, i == 0 ? 1 : i);
      mask = text.substr(i + 1);
      return;
    }
  }
  folder.clear();
  mask = text;
}

// The part of `path` below `root`, as an entry name ("\" separators).
std::string RelativeName(const std::string& path, const std::string& root) {
  std::size_t from = root.size();
  if (from < path.size() && platform::IsPathSeparator(path[from])) ++from;
  return pvFromNativePath(path.substr(std::min(from, path.size())));
}

// An attribute filter that passes every record (each has at least one attribute bit).
constexpr std::int32_t kEveryAttribute = 0x7FFFFFFF;

bool EndsWithBackslash(const std::string& name) {
  return !name.empty() && name.back() == '\\';
}

}  // namespace

std::vector<FoundPath> pvEnumFound(const std::string& folder, const std::string& mask,
                                   std::int32_t attributeFilter) {
  std::vector<FoundPath> found;
  const std::string search = pvNativePathJoin(folder, mask);
  platform::FindData record;
  platform::FindHandle handle = platform::FindFirst(search, record);
  if (!handle) {
    const std::uint32_t code = platform::GetLastErrorCode();
    if (code == platform::kErrorFileNotFound) return found;
    pvRaise("pvEnumFiles", pvSystemErrorMessage(static_cast<std::int32_t>(code), search));
  }
  const auto bits = static_cast<std::uint32_t>(attributeFilter);
  const auto absolute =
      static_cast<std::uint32_t>(-static_cast<std::int64_t>(attributeFilter) & 0xFFFFFFFF);
  do {
    const bool passes = attributeFilter > 0   ? (record.Attributes & bits) != 0
                        : attributeFilter < 0 ? (record.Attributes & absolute) == 0
                                              : false;
    const std::size_t end = record.Name.find('\0');
    if (end != std::string::npos) record.Name.resize(end);
    if (passes && record.Name != "." && record.Name != "..") {
      // The found name is a name of the file system, joined as it is: on POSIX a "\" in it is
      // one of its characters, not a separator.
      std::string path = folder;
      if (!path.empty() && !platform::IsPathSeparator(path.back())) {
        path.push_back(platform::kPathSeparator);
      }
      path += record.Name;
      found.push_back({std::move(path), std::move(record)});
    }
  } while (platform::FindNext(handle, record));
  return found;
}

std::vector<std::string> pvEnumFiles(const std::string& folder, const std::string& mask,
                                     std::int32_t attributeFilter) {
  std::vector<std::string> paths;
  for (FoundPath& f : pvEnumFound(folder, mask, attributeFilter)) {
    paths.push_back(std::move(f.path));
  }
  return paths;
}

double pvFromFileTime(const platform::FileTime& utc) {
  platform::FileTime local;
  platform::SystemTime fields;
  double date = platform::kOleDateZero;
  if (!platform::FileTimeToLocalFileTime(utc, local) ||
      !platform::FileTimeToSystemTime(local, fields)) {
    return platform::kOleDateZero;
  }
  fields.Milliseconds = 0;
  if (!platform::SystemTimeToOleDate(fields, date)) return platform::kOleDateZero;
  return date;
}

std::string pvDefaultEntryName(const std::string& sName) {
  std::size_t end = sName.size();
  while (end > 0 && IsAnySeparator(sName[end - 1])) --end;
  const bool folder = end < sName.size();
  std::size_t start = end;
  while (start > 0 && !IsAnySeparator(sName[start - 1])) --start;
  std::string name = sName.substr(start, end - start);
  if (folder && !name.empty()) name.push_back('\\');
  return name;
}

std::string pvSkipReason(const platform::FindData& found) {
  if (platform::IsDanglingLink(found)) return "dangling symbolic link skipped";
  if (!platform::IsSpecialFile(found)) return {};
  switch (found.UnixMode & platform::kUnixTypeMask) {
    case 0010000:
      return "FIFO skipped";
    case 0140000:
      return "socket skipped";
    default:
      return "device skipped";
  }
}

void cZipEngine::pvRaiseWarning(const std::string& Path, const std::string& Description) {
  if (m_oEvents != nullptr) m_oEvents->Warning(Path, Description);
}

bool cZipEngine::pvQueuePath(const std::string& Path, const platform::FindData& Found,
                             const std::string& Name, const std::string& ArchiveName,
                             const std::string& Comment, std::int32_t Level) {
  std::string target;
  const bool link = m_bStoreLinks && (Found.Attributes & platform::kAttributeReparsePoint) &&
                    platform::ReadLinkTarget(Path, target);
  const std::string reason = link ? std::string() : pvSkipReason(Found);
  if (!reason.empty()) {
    pvRaiseWarning(Path, reason);
    return false;
  }
  EntryInfo& e = pvNextEntrySlot();
  e.FileName = Name.empty() ? pvDefaultEntryName(Path) : Name;
  e.ArchiveName = ArchiveName;
  const bool folder = EndsWithBackslash(e.FileName);
  if (link) {
    // The link itself: its target text is the entry's data, its type the Unix mode.
    e.Attributes = static_cast<std::int32_t>(platform::kAttributeArchive);
    e.UnixMode = platform::kUnixLink | 0777;
    e.Size = static_cast<std::int32_t>(target.size());
    e.DataSource = Variant(ByteArray(target.begin(), target.end()));
  } else {
    e.Attributes =
        folder ? records::kAttributeDirectory : static_cast<std::int32_t>(Found.Attributes);
    if (Found.UnixMode != 0) {
      // A followed link stores what it points to; the link bit describes nothing stored.
      e.Attributes &= ~static_cast<std::int32_t>(platform::kAttributeReparsePoint);
      e.UnixMode = folder ? (platform::kUnixDirectory | (Found.UnixMode & 07777)) : Found.UnixMode;
    }
    // A file of 2 GiB or more shows the largest Size rather than a wrapped one; the writer
    // counts its real size.
    e.Size = folder ? 0
                    : static_cast<std::int32_t>(std::min<std::uint64_t>(
                          (std::uint64_t{Found.SizeHigh} << 32) | Found.SizeLow, 0x7FFFFFFF));
    e.DataSource = Variant(Path);
  }
  e.Comment = Comment;
  e.LastModified = pvFromFileTime(Found.LastWriteTime);
  e.Level = Level;
  ++m_lFileCount;
  return true;
}

bool cZipEngine::AddFile(const Variant& File, const std::string& Name, const std::string& Comment,
                         const std::string& /*Password*/, std::int32_t /*EncrStrength*/,
                         std::int32_t Level) {
  return pvRunOperation("AddFile", [&](bool& result) {
    VfsHandle source = pvVfsOpen(File);
    if (source.Kind == VfsKind::kFile && pvStdHandleOf(source.sName) == 0) {
      const std::string name = Name.empty() ? pvDefaultEntryName(source.sName) : Name;
      result = pvQueuePath(source.sName, source.FindData, name, {}, Comment, Level);
      pvVfsClose(source);
      return;
    }
    EntryInfo& e = pvNextEntrySlot();
    e.FileName = Name.empty() ? pvDefaultEntryName(source.sName) : Name;
    const bool folder = EndsWithBackslash(e.FileName);
    e.Attributes = folder ? records::kAttributeDirectory
                          : static_cast<std::int32_t>(source.FindData.Attributes);
    e.Size = folder ? 0
                    : static_cast<std::int32_t>(std::min<std::uint64_t>(
                          (std::uint64_t{source.FindData.SizeHigh} << 32) | source.FindData.SizeLow,
                          0x7FFFFFFF));
    e.Comment = Comment;
    e.LastModified = pvFromFileTime(source.FindData.LastWriteTime);
    pvSetVariant(e.DataSource, File);
    e.Level = Level;
    ++m_lFileCount;
    result = true;
    pvVfsClose(source);
  });
}

bool cZipEngine::AddFileAs(const std::string& Path, const std::string& ArchiveName,
                           std::int32_t Level) {
  return pvRunOperation("AddFile", [&](bool& result) {
    VfsHandle source = pvVfsOpen(Variant(Path));
    std::string name = ArchiveName;
    for (char& c : name) {
      if (c == '/') c = '\\';
    }
    // FileName reads every "\" as a separator; a name holding one keeps its own form.
    const bool literal = ArchiveName.find('\\') != std::string::npos;
    result =
        pvQueuePath(Path, source.FindData, name, literal ? ArchiveName : std::string(), {}, Level);
    pvVfsClose(source);
  });
}

bool cZipEngine::AddFromFolder(const std::string& sFolderAndMask, bool Recursive,
                               const std::string& TargetFolder, bool IncludeEmptyFolders,
                               const std::string& Password, std::int32_t EncrStrength,
                               std::int32_t Level) {
  return WalkFolder(sFolderAndMask, Recursive, TargetFolder, std::nullopt, IncludeEmptyFolders,
                    Password, EncrStrength, Level);
}

bool cZipEngine::AddFolderAs(const std::string& Folder, const std::string& ArchiveFolder,
                             bool Recursive, bool IncludeEmptyFolders, std::int32_t Level) {
  std::string pattern = Folder;
  if (!pattern.empty() && !platform::IsPathSeparator(pattern.back())) {
    pattern.push_back(platform::kPathSeparator);
  }
  pattern += "*.*";
  std::string stored = ArchiveFolder;
  while (!stored.empty() && stored.back() == '/') stored.pop_back();
  if (platform::kWindowsPaths) std::replace(stored.begin(), stored.end(), '\\', '/');
  std::string target = stored;
  std::replace(target.begin(), target.end(), '/', '\\');
  // A stored folder name holding "\" (a character of a POSIX name) cannot pass through the
  // "\"-separated TargetFolder: its entries are stored by their own bytes.
  std::optional<std::string> literal;
  if (stored.find('\\') != std::string::npos) literal = stored;
  return WalkFolder(pattern, Recursive, target, literal, IncludeEmptyFolders, {}, 0, Level);
}

bool cZipEngine::WalkFolder(const std::string& sFolderAndMask, bool Recursive,
                            const std::string& TargetFolder,
                            const std::optional<std::string>& StoredFolder,
                            bool IncludeEmptyFolders, const std::string& Password,
                            std::int32_t EncrStrength, std::int32_t Level) {
  // The result is kept outside the operation's body: AddFile clears the error state on every
  // call, and an error that ends the walk leaves the result as the walk had set it.
  bool queued = false;
  pvRunOperation("AddFromFolder", [&](bool&) {
    std::string root, mask;
    SplitFolderAndMask(sFolderAndMask, root, mask);
    if (root.empty()) root = CurrentFolder();

    // Every folder is visited once, by its identity: a folder reached again (through a
    // symbolic link, or below a folder reached through one) is skipped with a warning, so a
    // link back to an ancestor ends instead of looping. Folders found without a link are
    // claimed when they are found, so that a link met earlier in the walk never takes the
    // place of the real folder.
    std::set<std::pair<std::uint64_t, std::uint64_t>> claimed;
    auto claim = [&](const std::string& folder) {
      const auto id = platform::QueryPath(folder, true).identity;
      return !id || claimed.insert({id->Volume, id->Index}).second;
    };
    claim(root);
    struct Pending {
      std::string path;
      bool viaLink;
    };
    std::deque<Pending> folders{{root, false}};
    while (!folders.empty()) {
      const Pending pending = std::move(folders.front());
      folders.pop_front();
      const std::string& folder = pending.path;
      if (pending.viaLink && !claim(folder)) {
        pvRaiseWarning(folder, "symbolic link to a folder already added, not followed");
        continue;
      }
      std::int32_t count = 0;
      // A POSIX name holding "\" cannot pass through the "\"-separated FileName: it goes
      // into the archive by its own bytes, as the stored folder, "/" and the path below the
      // root. Empty when FileName expresses the name.
      auto literalName = [&](const std::string& path) {
        const std::size_t below = std::min(root.size(), path.size());
        if (!StoredFolder &&
            (platform::kWindowsPaths || path.find('\\', below) == std::string::npos)) {
          return std::string();
        }
        std::string archiveName = StoredFolder ? *StoredFolder : pvToNativePath(TargetFolder);
        if (!archiveName.empty() && archiveName.back() != '/') archiveName.push_back('/');
        archiveName +=
            path.substr(below + (below < path.size() && platform::IsPathSeparator(path[below])));
        return archiveName;
      };
      auto queue = [&](const FoundPath& f) {
        const std::string relative = RelativeName(f.path, root);
        const std::string name = pvPathJoin(TargetFolder, relative);
        if (pvQueuePath(f.path, f.record, name, literalName(f.path), {}, Level)) {
          ++count;
          queued = true;
        }
      };
      // With a mask that takes every name, one listing gives both the files and the
      // subfolders; otherwise the subfolders are listed on their own, with "*.*".
      const bool everyName = mask == "*.*" || mask == "*";
      std::vector<FoundPath> listed =
          pvEnumFound(folder, everyName ? "*.*" : mask,
                      everyName ? kEveryAttribute : -records::kAttributeDirectory);
      for (const FoundPath& f : listed) {
        if (!(f.record.Attributes & records::kAttributeDirectory)) queue(f);
      }
      if (m_bStoreLinks) {
        // Links to folders are stored as links, not walked (nor matched against the mask's
        // folder rule: they count as files).
        std::vector<FoundPath> folderLinks =
            everyName ? std::vector<FoundPath>()
                      : pvEnumFound(folder, mask, records::kAttributeDirectory);
        for (const FoundPath& f : everyName ? listed : folderLinks) {
          if ((f.record.Attributes & records::kAttributeDirectory) &&
              (f.record.Attributes & platform::kAttributeReparsePoint)) {
            queue(f);
          }
        }
      }
      if (IncludeEmptyFolders && count == 0) {
        // The root's relative name is empty, so it gets an entry only under a TargetFolder.
        const std::string name = pvPathJoin(TargetFolder, RelativeName(folder, root));
        if (!name.empty()) {
          const std::string path =
              platform::IsPathSeparator(folder.back()) ? folder : folder + platform::kPathSeparator;
          const std::string entry = EndsWithBackslash(name) ? name : name + "\\";
          std::string archiveName = literalName(folder);
          if (!archiveName.empty() && archiveName.back() != '/') archiveName.push_back('/');
          if (archiveName.empty() ? AddFile(Variant(path), entry, {}, Password, EncrStrength, Level)
                                  : AddFileAs(path, archiveName, Level)) {
            queued = true;
          }
        }
      }
      if (!Recursive) continue;
      if (!everyName) listed = pvEnumFound(folder, "*.*", records::kAttributeDirectory);
      for (FoundPath& sub : listed) {
        if (!(sub.record.Attributes & records::kAttributeDirectory)) continue;
        const bool viaLink = (sub.record.Attributes & platform::kAttributeReparsePoint) != 0;
        if (viaLink && m_bStoreLinks) continue;
        if (!viaLink && !claim(sub.path)) {
          pvRaiseWarning(sub.path, "folder reached again through a symbolic link, skipped");
          continue;
        }
        folders.push_back({std::move(sub.path), viaLink});
      }
    }
  });
  return queued;
}

}  // namespace lum::zip
