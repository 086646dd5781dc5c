// Folder searches on POSIX: the folder is listed with opendir/readdir, names are matched
// against the mask with the Windows wildcard rules, and each match is described by lstat.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/error_code.h"
#include "platform/find.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/stat_util.h"

namespace lum::platform {

struct FindHandle::Impl {
  std::vector<FindData> records;
  std::size_t next = 0;
};

namespace posix {

std::uint32_t AttributesFromStat(const std::string& /*path*/, const struct stat& st) {
  std::uint32_t attributes = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
  if (S_ISLNK(st.st_mode)) attributes |= kAttributeReparsePoint;
  // Like the Windows attribute (and wine's mapping of it), read-only is a property of the
  // file, not of who asks: no write permission for anyone.
  if ((st.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  return attributes;
}

void FillFindData(const std::string& path, const struct stat& st, FindData& data) {
  data.Attributes = AttributesFromStat(path, st);
  data.CreationTime = FileTimeFromTimespec(st.st_ctim);
  data.LastAccessTime = FileTimeFromTimespec(st.st_atim);
  data.LastWriteTime = FileTimeFromTimespec(st.st_mtim);
  const auto size = S_ISDIR(st.st_mode) ? 0ull : static_cast<unsigned long long>(st.st_size);
  data.SizeHigh = static_cast<std::uint32_t>(size >> 32);
  data.SizeLow = static_cast<std::uint32_t>(size);
  data.ShortName.clear();
  data.UnixMode = static_cast<std::uint32_t>(st.st_mode);
}

bool DescribePath(const std::string& path, FindData& data) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    SetPathError(errno, path);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    // A link is described by what it points to, so that a walk reads and follows it like
    // zip does; only a dangling link keeps its own record.
    struct stat target;
    if (::stat(path.c_str(), &target) == 0) {
      FillFindData(path, target, data);
      data.Attributes |= kAttributeReparsePoint;
      return true;
    }
  }
  FillFindData(path, st, data);
  return true;
}

}  // namespace posix

namespace {

// An open folder listing (opendir), closed with closedir.
struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirStream = std::unique_ptr<DIR, CloseDir>;

bool HasWildcard(const std::string& s) {
  return s.find_first_of("*?") != std::string::npos;
}

// "*" any run, "?" one byte-sequence character; iterative with one backtrack point.
bool MaskMatches(const std::string& name, const std::string& mask) {
  if (mask == "*.*" || mask == "*") return true;
  std::size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
  auto charLen = [](unsigned char c) {
    return c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  };
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && mask[m] == '?') {
      n += std::min<std::size_t>(charLen(name[n]), name.size() - n);
      ++m;
    } else if (m < mask.size() && mask[m] == name[n]) {
      ++n;
      ++m;
    } else if (starM != std::string::npos) {
      m = starM + 1;
      starN += std::min<std::size_t>(charLen(name[starN]), name.size() - starN);
      n = starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

void FindHandle::ImplDeleter::operator()(Impl* impl) const {
  delete impl;
}

FindHandle FindFirst(const std::string& pathAndMask, FindData& first) {
  first = FindData();
  const auto slash = pathAndMask.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string()
                             : slash == 0               ? std::string("/")
                                                        : pathAndMask.substr(0, slash);
  const std::string mask = slash == std::string::npos ? pathAndMask : pathAndMask.substr(slash + 1);
  FindHandle handle;
  handle.m_impl.reset(new FindHandle::Impl);
  FindHandle::Impl* impl = handle.m_impl.get();
  if (mask.empty()) {
    SetLastErrorCode(kErrorFileNotFound);
    return FindHandle();
  }
  if (!HasWildcard(mask)) {
    // No wildcard: the search finds the file or folder itself.
    FindData data;
    if (!posix::DescribePath(pathAndMask, data)) return FindHandle();
    data.Name = mask;
    impl->records.push_back(std::move(data));
  } else {
    const std::string listed = folder.empty() ? std::string(".") : folder;
    const DirStream dir(::opendir(listed.c_str()));
    if (!dir) {
      const int err = errno;
      SetLastErrorCode(err == ENOENT || err == ENOTDIR ? kErrorPathNotFound
                                                       : posix::CodeFromErrno(err));
      return FindHandle();
    }
    while (dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (!MaskMatches(name, mask)) continue;
      const std::string full = listed == "/" ? "/" + name : listed + "/" + name;
      FindData data;
      if (!posix::DescribePath(full, data)) continue;  // gone since it was listed
      data.Name = name;
      impl->records.push_back(std::move(data));
    }
    std::sort(impl->records.begin(), impl->records.end(),
              [](const FindData& a, const FindData& b) { return a.Name < b.Name; });
    if (impl->records.empty()) {
      SetLastErrorCode(kErrorFileNotFound);
      return FindHandle();
    }
  }
  first = impl->records[0];
  impl->next = 1;
  return handle;
}

bool FindExact(const std::string& path, FindData& data) {
  data = FindData();
  if (path.empty()) {
    SetLastErrorCode(kErrorPathNotFound);
    return false;
  }
  if (!posix::DescribePath(path, data)) return false;
  const auto slash = path.rfind('/', path.size() > 1 ? path.size() - 2 : 0);
  data.Name = slash == std::string::npos ? path : path.substr(slash + 1);
  return true;
}

bool ReadLinkTarget(const std::string& path, std::string& target) {
  target.clear();
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
      posix::SetPathError(errno, path);
      return false;
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      target.assign(buffer.data(), static_cast<std::size_t>(n));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool FindNext(FindHandle& search, FindData& next) {
  if (!search.m_impl) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  if (search.m_impl->next >= search.m_impl->records.size()) {
    SetLastErrorCode(kErrorNoMoreFiles);
    return false;
  }
  next = search.m_impl->records[search.m_impl->next++];
  return true;
}

}  // namespace lum::platform
