// Archive operations that are not built yet. Each follows the public-operation convention
// (clear the error state, raise, report once through the Error event) and fails with
// "Not implemented". An operation's implementation file replaces its function here.
#include "zip/zip_engine.h"

namespace lum::zip {

bool cZipEngine::AddFile(const Variant&, const std::string&, const std::string&, const std::string&,
                         std::int32_t, std::int32_t) {
  return pvRunOperation("AddFile", [](bool&) { pvRaise({}, kMsgNotImplemented); });
}

bool cZipEngine::CompressArchive(Variant, const std::string&, std::int32_t, std::int32_t) {
  return pvRunOperation("CompressArchive", [this](bool&) {
    m_lCurrentFile = -1;
    pvRaise({}, kMsgNotImplemented);
  });
}

bool cZipEngine::AddFromFolder(const std::string&, bool, const std::string&, bool,
                               const std::string&, std::int32_t, std::int32_t) {
  return pvRunOperation("AddFromFolder", [](bool&) { pvRaise({}, kMsgNotImplemented); });
}

}  // namespace lum::zip
