#include "app/update_helper.h"

#include "platform/error_code.h"
#include "platform/find.h"
#include "platform/fs.h"

namespace lum::app {

bool FileExistsFromQuery(std::uint32_t attributes, std::uint32_t lastError) {
  if (attributes == platform::kInvalidFileAttributes) {
    return lastError == platform::kErrorSharingViolation;
  }
  return (attributes & platform::kAttributeDirectory) == 0;
}

bool FileExists(const std::string& path) {
  platform::SetLastErrorCode(platform::kErrorSuccess);
  const std::uint32_t attributes = platform::FileAttributesOf(path);
  return FileExistsFromQuery(attributes, platform::GetLastErrorCode());
}

}  // namespace lum::app
