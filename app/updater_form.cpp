#include "app/updater_form.h"

#include "app/update_helper.h"
#include "platform/fs.h"
#include "platform/shell.h"

namespace lum::app {

namespace {
constexpr int kShowInCurrentPlace = 5;  // SW_SHOW
constexpr const char* kProgramTitle = "Updater";
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
