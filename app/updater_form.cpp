#include "app/updater_form.h"

#include <ctime>
#include "app/update_helper.h"

#include "platform/find.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/update_fs.h"

namespace lum::app {

namespace {
constexpr int kShowInCurrentPlace = 5;  // SW_SHOW
constexpr const char* kProgramTitle = "Updater";
// The log keeps the lines of the last runs: when it has grown past kLogLimit, only its last
// kLogKept bytes (from a line start) stay.
constexpr std::size_t kLogLimit = 1u << 20;
constexpr std::size_t kLogKept = 1u << 19;

std::string UtcStamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now))
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", utc);
  return text;
}

std::int32_t Whole(const zip::Variant& value) {
  return value.IsNumber() ? static_cast<std::int32_t>(value.Number()) : 0;
}
}  // namespace

fUpdater::fUpdater(int argc, char** argv)
    : m_argc(argc), m_argv(argv), m_window(m_view.View(), *this) {}

fUpdater::~fUpdater() {
  if (ZIP) ZIP->SetEvents(nullptr);
}

bool fUpdater::Show(std::uint32_t& error, std::string& errorText) {
  return m_window.Show(error, errorText);
}

void fUpdater::Load() {
  m_view.Form_Load();
}

void fUpdater::Activate() {
  if (m_bRunning) return;
  m_bRunning = true;
  const int status = UpdateRun(*this).Run();
  platform::EndProgram(status);
}

// A close request changes nothing: the run goes on to its end, which ends the program.
void fUpdater::QueryUnload(bool& cancel) {
  if (m_bRunning) cancel = true;
}

void fUpdater::ZIP_Progress(std::int32_t FileIdx, std::int32_t, std::int32_t, bool&) {
  if (!ZIP) return;
  if (!m_view.ZIP_Progress(FileIdx, ZIP->FileCount())) return;
  m_window.Invalidate();
  platform::DoEvents();
}

void fUpdater::ShowProgress(UpdateStage stage, std::size_t done, std::size_t total) {
  if (!m_view.ShowProgress(stage, done, total)) return;
  m_window.Invalidate();
  platform::DoEvents();
}

std::string fUpdater::CommandLineText() {
  return platform::CommandLineText(m_argc, m_argv);
}
std::string fUpdater::ApplicationFolder() {
  return platform::ApplicationFolder();
}
std::string fUpdater::PathSeparator() {
  return std::string(1, platform::kPathSeparator);
}

void fUpdater::CreateObjects() {
  ZIP = std::make_unique<zip::cZipEngine>();
  ZIP->SetEvents(this);
  m_oIni = std::make_unique<settings::clsIniFile>();
}

bool fUpdater::FileExists(const std::string& path) {
  return app::FileExists(path);
}

std::string fUpdater::ReadSetting(const std::string& path, const std::string& section,
                                  const std::string& key) {
  m_oIni->Path(path);
  m_oIni->Section(section);
  m_oIni->Key(key);
  return m_oIni->Value();
}

bool fUpdater::WriteSetting(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& value) {
  m_oIni->Path(path);
  m_oIni->Section(section);
  m_oIni->Key(key);
  m_oIni->Value(value);
  return m_oIni->Success();
}

bool fUpdater::CopyFile(const std::string& source, const std::string& destination) {
  return platform::CopyFileTo(source, destination, false);
}

bool fUpdater::DeleteFile(const std::string& path) {
  return platform::RemoveFile(path);
}

void fUpdater::RepaintWindow() {
  m_window.Refresh();
}

bool fUpdater::OpenArchive(const std::string& archiveFile) {
  return ZIP->OpenArchive(zip::Variant(archiveFile));
}

bool fUpdater::Extract(const std::string& targetFolder) {
  m_sExtractError.clear();
  m_folderEntries.clear();
  m_sExtractTarget = targetFolder;
  return ZIP->Extract(zip::Variant(targetFolder), zip::Variant::MissingArg(), std::string());
}

void fUpdater::StartApplication(const std::string& file) {
  platform::ShellOpen(m_window.NativeHandle(), file, kShowInCurrentPlace);
}

void fUpdater::ShowError(const std::string& text) {
  platform::ShowMessageBox(m_window.NativeHandle(), text, kProgramTitle,
                           platform::MessageIcon::kCritical);
}

}  // namespace lum::app

namespace lum::app {

void fUpdater::Error(std::int32_t FileIdx, std::string&, std::string& Description, bool& Cancel) {
  // A folder entry is reported when its output is created as a file over the folder just
  // made; the folder itself is what counts, and ExtractError checks it afterwards. A name
  // refused as unsafe is a real failure.
  const zip::Variant info = ZIP ? ZIP->FileInfo(FileIdx) : zip::Variant();
  if (info.IsArray() && info.Array()[0].IsText() &&
      Description.rfind("Invalid entry name", 0) != 0) {
    const std::string& name = info.Array()[0].Text();
    if (!name.empty() && (name.back() == '\\' || name.back() == '/')) {
      m_folderEntries.push_back(name);
      return;
    }
  }
  if (m_sExtractError.empty()) {
    m_sExtractError =
        FileIdx >= 0 ? "entry " + std::to_string(FileIdx + 1) + ": " + Description : Description;
  }
  Cancel = true;
}

std::string fUpdater::ExtractError() {
  if (!m_sExtractError.empty()) return m_sExtractError;
  for (const std::string& name : m_folderEntries) {
    std::string path = m_sExtractTarget + platform::kPathSeparator;
    for (char c : name) path += (c == '\\' || c == '/') ? platform::kPathSeparator : c;
    while (!path.empty() && path.back() == platform::kPathSeparator) path.pop_back();
    if (!IsFolder(path)) return "folder entry " + name + " could not be created";
  }
  return std::string();
}

std::vector<PackageEntry> fUpdater::PackageEntries() {
  std::vector<PackageEntry> entries;
  for (std::int32_t i = 0; ZIP && i < ZIP->FileCount(); ++i) {
    const zip::Variant info = ZIP->FileInfo(i);
    if (!info.IsArray() || info.Array().size() < 10) continue;
    const zip::VariantArray& field = info.Array();
    entries.push_back({field[0].IsText() ? field[0].Text() : std::string(), Whole(field[3]),
                       Whole(field[4]), Whole(field[7]), Whole(field[9])});
  }
  return entries;
}

void fUpdater::Log(const std::string& line) {
  const std::string path = platform::ApplicationFolder() + PathSeparator() + "Updater.log";
  if (!m_bLogChecked) {
    m_bLogChecked = true;
    std::string text;
    if (platform::ReadWholeFile(path, text) && text.size() > kLogLimit) {
      std::size_t from = text.size() - kLogKept;
      from = text.find('\n', from);
      platform::ReplaceFileContent(path, from == std::string::npos ? "" : text.substr(from + 1));
    }
  }
  platform::AppendToFile(path, UtcStamp() + "  " + line + "\r\n", false);
}

bool fUpdater::ListTree(const std::string& folder, std::vector<TreeEntry>& entries) {
  entries.clear();
  if (!PathExists(folder)) return true;
  // Depth first, each folder before what it holds.
  std::vector<std::pair<std::string, std::size_t>> pending{{"", 0}};
  while (!pending.empty()) {
    const std::string relative = pending.back().first;
    pending.pop_back();
    const std::string base = relative.empty() ? folder : folder + PathSeparator() + relative;
    platform::FindData found;
    platform::FindHandle search = platform::FindFirst(base + PathSeparator() + "*", found);
    if (!search) {
      if (platform::GetLastErrorCode() == platform::kErrorFileNotFound) continue;
      return false;
    }
    std::vector<TreeEntry> here;
    do {
      if (found.Name == "." || found.Name == "..") continue;
      const bool isFolder = (found.Attributes & platform::kAttributeDirectory) != 0 &&
                            (found.Attributes & platform::kAttributeReparsePoint) == 0;
      here.push_back(
          {relative.empty() ? found.Name : relative + PathSeparator() + found.Name, isFolder});
    } while (platform::FindNext(search, found));
    // Children go right after their folder: insert them there, and visit the subfolders
    // in order.
    std::size_t at = entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].relative == relative) at = i + 1;
    }
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(at), here.begin(), here.end());
    for (auto it = here.rbegin(); it != here.rend(); ++it) {
      if (it->folder) pending.push_back({it->relative, 0});
    }
  }
  return true;
}

bool fUpdater::PathExists(const std::string& path) {
  return platform::FileAttributesOf(path) != platform::kInvalidFileAttributes;
}
bool fUpdater::IsFolder(const std::string& path) {
  const std::uint32_t attributes = platform::FileAttributesOf(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kAttributeDirectory) != 0;
}
bool fUpdater::MakeFolder(const std::string& path) {
  return platform::MakeDirectory(path);
}
bool fUpdater::RemoveFolder(const std::string& path) {
  return platform::RemoveFolder(path);
}
bool fUpdater::RemoveFile(const std::string& path) {
  return platform::RemoveFile(path);
}
bool fUpdater::MoveReplace(const std::string& source, const std::string& target) {
  return platform::MoveFileInGroup(source, target);
}
bool fUpdater::FlushVolume(const std::string& folder) {
  return platform::FlushVolumeOf(folder);
}
bool fUpdater::StartJournal(const std::string& path, const std::string& text) {
  return platform::ReplaceFileContent(path, text);
}
bool fUpdater::AppendJournal(const std::string& path, const std::string& text) {
  return platform::AppendToFile(path, text, true);
}
bool fUpdater::ReadJournal(const std::string& path, std::string& text) {
  return platform::ReadWholeFile(path, text);
}
bool fUpdater::FreeSpace(const std::string& folder, std::uint64_t& bytes) {
  return platform::FreeSpaceOf(folder, bytes);
}
bool fUpdater::CanReplace(const std::string& path) {
  return platform::CanReplaceFile(path);
}
void fUpdater::Wait(std::uint32_t milliseconds) {
  platform::DoEvents();
  platform::SleepMilliseconds(milliseconds);
  platform::DoEvents();
}

}  // namespace lum::app
