// AddFile and AddFromFolder: queuing entries for the writer.
//
// Queuing reads only metadata. AddFile opens its source through the storage layer, which
// looks the path up (or sizes the buffer or stream) without opening any file, and fills one
// entry-table slot from what it found; the data is read when the archive is written.
// AddFromFolder walks a folder breadth-first, files of a folder before those of its
// subfolders, and queues each file through AddFile, so every file's failure is reported on
// its own and the walk goes on; only a folder that cannot be searched ends the walk.
#include "zip/add_entries.h"

#include <deque>
#include <filesystem>

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

bool EndsWithBackslash(const std::string& name) {
  return !name.empty() && name.back() == '\\';
}

}  // namespace

std::vector<std::string> pvEnumFiles(const std::string& folder, const std::string& mask,
                                     std::int32_t attributeFilter) {
  std::vector<std::string> paths;
  const std::string search = pvNativePathJoin(folder, mask);
  platform::FindData record;
  platform::FindHandle handle = platform::FindFirst(search, record);
  if (!handle) {
    const std::uint32_t code = platform::GetLastErrorCode();
    if (code == platform::kErrorFileNotFound) return paths;
    pvRaise("pvEnumFiles", pvSystemErrorMessage(static_cast<std::int32_t>(code), search));
  }
  const auto bits = static_cast<std::uint32_t>(attributeFilter);
  const auto absolute =
      static_cast<std::uint32_t>(-static_cast<std::int64_t>(attributeFilter) & 0xFFFFFFFF);
  do {
    const bool passes = attributeFilter > 0   ? (record.Attributes & bits) != 0
                        : attributeFilter < 0 ? (record.Attributes & absolute) == 0
                                              : false;
    const std::string name = record.Name.substr(0, record.Name.find('\0'));
    if (passes && name != "." && name != "..") paths.push_back(pvNativePathJoin(folder, name));
  } while (platform::FindNext(handle, record));
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

bool cZipEngine::AddFile(const Variant& File, const std::string& Name, const std::string& Comment,
                         const std::string& /*Password*/, std::int32_t /*EncrStrength*/,
                         std::int32_t Level) {
  return pvRunOperation("AddFile", [&](bool& result) {
    EntryInfo& e = pvNextEntrySlot();
    VfsHandle source = pvVfsOpen(File);
    e.FileName = Name.empty() ? pvDefaultEntryName(source.sName) : Name;
    const bool folder = EndsWithBackslash(e.FileName);
    e.Attributes = folder ? records::kAttributeDirectory
                          : static_cast<std::int32_t>(source.FindData.Attributes);
    e.Size = folder ? 0 : static_cast<std::int32_t>(source.FindData.SizeLow);
    e.Comment = Comment;
    e.LastModified = pvFromFileTime(source.FindData.LastWriteTime);
    pvSetVariant(e.DataSource, File);
    e.Level = Level;
    ++m_lFileCount;
    result = true;
    pvVfsClose(source);
  });
}

bool cZipEngine::AddFromFolder(const std::string& sFolderAndMask, bool Recursive,
                               const std::string& TargetFolder, bool IncludeEmptyFolders,
                               const std::string& Password, std::int32_t EncrStrength,
                               std::int32_t Level) {
  // The result is kept outside the operation's body: AddFile clears the error state on every
  // call, and an error that ends the walk leaves the result as the walk had set it.
  bool queued = false;
  pvRunOperation("AddFromFolder", [&](bool&) {
    std::string root, mask;
    SplitFolderAndMask(sFolderAndMask, root, mask);
    if (root.empty()) root = CurrentFolder();

    std::deque<std::string> folders{root};
    while (!folders.empty()) {
      const std::string folder = std::move(folders.front());
      folders.pop_front();
      std::int32_t count = 0;
      for (const std::string& path : pvEnumFiles(folder, mask, -records::kAttributeDirectory)) {
        const std::string name = pvPathJoin(TargetFolder, RelativeName(path, root));
        if (AddFile(Variant(path), name, {}, Password, EncrStrength, Level)) {
          ++count;
          queued = true;
        }
      }
      if (IncludeEmptyFolders && count == 0) {
        // The root's relative name is empty, so it gets an entry only under a TargetFolder.
        const std::string name = pvPathJoin(TargetFolder, RelativeName(folder, root));
        if (!name.empty()) {
          const std::string path =
              platform::IsPathSeparator(folder.back()) ? folder : folder + platform::kPathSeparator;
          const std::string entry = EndsWithBackslash(name) ? name : name + "\\";
          if (AddFile(Variant(path), entry, {}, Password, EncrStrength, Level)) {
            queued = true;
          }
        }
      }
      if (Recursive) {
        for (std::string& sub : pvEnumFiles(folder, "*.*", records::kAttributeDirectory)) {
          folders.push_back(std::move(sub));
        }
      }
    }
  });
  return queued;
}

}  // namespace lum::zip
