// An application folder in memory for the update run's tests, with Windows-style paths.
// Every step of the run is logged so that tests can check their order; the file operations
// of the commit can be made to fail, or the run to stop as if killed, at the k-th one. The
// window's model follows the run as the real window does (extraction raises one Progress
// event per entry), and every change of its bar is recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/update_run.h"
#include "app/updater_view.h"

namespace lum::app {

inline constexpr const char* kFolder = "C:\\Lumetra";
inline const std::string kIni = "C:\\Lumetra\\Settings.ini";
inline const std::string kPackage = "C:\\Lumetra\\Lumetra.zip";
inline const std::string kKept = "C:\\Lumetra\\PROJECTS\\LastRun";
inline const std::string kAside = "C:\\Lumetra\\LastRun";
inline const std::string kExe = "C:\\Lumetra\\Lumetra.exe";

// Thrown by a counted operation when the test stops the run there, as a kill would.
struct Killed {};

class FakeEffects : public UpdateEffects {
 public:
  std::string commandLine = "TOVLEX";
  std::map<std::string, std::string> files;
  std::set<std::string> folders{kFolder, "C:\\Lumetra\\PROJECTS"};
  bool packageOpens = true;
  std::map<std::string, std::string> packageEntries;  // relative path -> content
  std::string damagedEntry;  // extraction reports a CRC error at this entry
  std::vector<std::string> log;
  std::vector<std::string> messages;
  std::vector<std::string> logLines;  // the update log
  std::uint64_t freeSpace = 1ull << 40;
  std::set<std::string> locked;  // files that cannot be replaced
  int lockedForWaits = -1;       // -1: for ever; else released after so many waits
  int waits = 0;
  // Counted operations change the folder (folders, moves, deletes, flushes, journal
  // writes). The one numbered failAt fails; the one numbered killAt throws Killed.
  int operations = 0;
  int failAt = 0;
  int killAt = 0;
  int failAlsoAt = 0;  // a second operation that fails once
  // A file the system stops letting go of (a failing sector, a scanner that keeps it open,
  // rights taken away): once operation number breaksAfter has happened, every counted
  // operation on brokenPath fails.
  std::string brokenPath;
  int breaksAfter = 0;
  bool journalUnreadable = false;  // the journal is there but cannot be read
  // The window's model and what its bar showed: one record per update, in order.
  struct BarState {
    float width;
    std::string caption;
  };
  UpdaterView view;
  std::vector<BarState> bar;
  float barAtStart = -1;  // the bar's width when the application was started

  std::string CommandLineText() override { return commandLine; }
  std::string ApplicationFolder() override { return kFolder; }
  std::string PathSeparator() override { return "\\"; }
  void CreateObjects() override { log.push_back("create"); }
  bool FileExists(const std::string& path) override { return files.count(path) != 0; }
  std::string ReadSetting(const std::string& path, const std::string& section,
                          const std::string& key) override {
    log.push_back("read " + section + "|" + key);
    if (!files.count(path)) return "";
    const auto values = ParseIni(files[path]);
    auto value = values.find(section + "|" + key);
    return value == values.end() ? "" : value->second;
  }
  bool WriteSetting(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) override {
    log.push_back("write " + section + "|" + key + "=" + value);
    auto values = ParseIni(files[path]);  // the write creates the file
    values[section + "|" + key] = value;
    files[path] = IniText(values);
    return true;
  }
  bool CopyFile(const std::string& source, const std::string& destination) override {
    log.push_back("copy " + source + " > " + destination);
    if (!files.count(source) || folders.count(destination)) return false;
    if (!folders.count(Parent(destination))) return false;
    files[destination] = files[source];
    return true;
  }
  bool DeleteFile(const std::string& path) override {
    log.push_back("delete " + path);
    return files.erase(path) != 0;
  }
  void RepaintWindow() override { log.push_back("repaint"); }
  bool OpenArchive(const std::string& archiveFile) override {
    log.push_back("open " + archiveFile);
    opened = packageOpens && files.count(archiveFile);
    return opened;
  }
  bool Extract(const std::string& targetFolder) override {
    log.push_back("extract " + targetFolder);
    extractError.clear();
    if (!opened || !folders.count(targetFolder)) return false;
    int index = 0;
    for (const auto& [name, content] : packageEntries) {
      if (view.ZIP_Progress(index, static_cast<std::int32_t>(packageEntries.size()))) RecordBar();
      ++index;
      const std::string path = targetFolder + "\\" + name;
      for (std::string folder = Parent(path); folder.size() > targetFolder.size();
           folder = Parent(folder)) {
        folders.insert(folder);
      }
      files[path] = content;
      if (name == damagedEntry) {
        extractError = "entry " + std::to_string(index) + ": CRC error";
        return false;
      }
    }
    return true;
  }
  bool IsPlainFile(const std::string& path) override { return files.count(path) != 0; }
  std::vector<PackageEntry> PackageEntries() override {
    std::vector<PackageEntry> entries;
    for (const auto& [name, content] : packageEntries) {
      entries.push_back({name, static_cast<std::int32_t>(content.size()), 1, 8, 0});
    }
    return entries;
  }
  std::string ExtractError() override { return extractError; }
  std::string ArchiveError() override { return opened ? "" : "Invalid archive"; }
  void Log(const std::string& line) override { logLines.push_back(line); }
  void ShowProgress(UpdateStage stage, std::size_t done, std::size_t total) override {
    if (view.ShowProgress(stage, done, total)) RecordBar();
  }
  void RecordBar() { bar.push_back({view.LabelGreen().width, view.labelBG().caption}); }
  void StartApplication(const std::string& file) override {
    log.push_back("start " + file);
    barAtStart = view.LabelGreen().width;
  }
  void ShowError(const std::string& text) override {
    log.push_back("message");
    messages.push_back(text);
  }

  // InstallFiles
  bool ListTree(const std::string& folder, std::vector<TreeEntry>& entries) override {
    entries.clear();
    const std::string prefix = folder + "\\";
    for (const auto& f : folders) {
      if (f.rfind(prefix, 0) == 0) entries.push_back({f.substr(prefix.size()), true});
    }
    for (const auto& [f, content] : files) {
      if (f.rfind(prefix, 0) == 0) entries.push_back({f.substr(prefix.size()), false});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.relative < b.relative; });
    return true;
  }
  bool PathExists(const std::string& path) override {
    return files.count(path) != 0 || folders.count(path) != 0;
  }
  bool IsFolder(const std::string& path) override { return folders.count(path) != 0; }
  bool MakeFolder(const std::string& path) override {
    if (!Count(path) || PathExists(path) || !folders.count(Parent(path))) return false;
    folders.insert(path);
    return true;
  }
  bool RemoveFolder(const std::string& path) override {
    if (!Count(path) || !folders.count(path)) return false;
    std::vector<TreeEntry> inside;
    ListTree(path, inside);
    if (!inside.empty()) return false;
    folders.erase(path);
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    return Count(path) && files.erase(path) != 0;
  }
  bool MoveReplace(const std::string& source, const std::string& target) override {
    if (!Count(source, target) || !files.count(source) || folders.count(target)) return false;
    if (!folders.count(Parent(target))) return false;
    files[target] = files[source];
    files.erase(source);
    return true;
  }
  bool FlushVolume(const std::string&) override { return Count(); }
  bool StartJournal(const std::string& path, const std::string& text) override {
    if (!Count()) return false;
    files[path] = text;
    return true;
  }
  bool AppendJournal(const std::string& path, const std::string& text) override {
    if (!Count()) return false;
    files[path] += text;
    return true;
  }
  bool ReadJournal(const std::string& path, std::string& text) override {
    if (journalUnreadable || !files.count(path)) return false;
    text = files[path];
    return true;
  }
  bool FreeSpace(const std::string&, std::uint64_t& bytes) override {
    bytes = freeSpace;
    return true;
  }
  bool CanReplace(const std::string& path) override {
    if (lockedForWaits >= 0 && waits >= lockedForWaits) locked.clear();
    return locked.count(path) == 0;
  }
  void Wait(std::uint32_t) override { ++waits; }

  // Settings files hold one "section|key=value" line per key.
  static std::map<std::string, std::string> ParseIni(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t from = 0;
    while (from < text.size()) {
      std::size_t end = text.find('\n', from);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(from, end - from);
      if (const auto eq = line.find('='); eq != std::string::npos) {
        values.emplace(line.substr(0, eq), line.substr(eq + 1));
      }
      from = end + 1;
    }
    return values;
  }
  static std::string IniText(const std::map<std::string, std::string>& values) {
    std::string text;
    for (const auto& [key, value] : values) text += key + "=" + value + "\n";
    return text;
  }
  void SetIni(const std::string& section, const std::string& key, const std::string& value) {
    auto values = ParseIni(files[kIni]);
    values[section + "|" + key] = value;
    files[kIni] = IniText(values);
  }
  std::string Ini(const std::string& section, const std::string& key) {
    return ParseIni(files[kIni]).at(section + "|" + key);
  }
  bool Logged(const std::string& entry) const {
    for (const auto& e : log) {
      if (e == entry) return true;
    }
    return false;
  }
  std::size_t Position(const std::string& prefix) const {
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i].rfind(prefix, 0) == 0) return i;
    }
    return log.size();
  }
  bool LogHas(const std::string& part) const {
    for (const auto& line : logLines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

 private:
  static std::string Parent(const std::string& path) { return path.substr(0, path.rfind('\\')); }
  bool Count(const std::string& path = {}, const std::string& other = {}) {
    ++operations;
    if (operations == killAt) throw Killed{};
    if (!brokenPath.empty() && operations > breaksAfter &&
        (path == brokenPath || other == brokenPath)) {
      return false;
    }
    return operations != failAt && operations != failAlsoAt;
  }

  bool opened = false;
  std::string extractError;
};

}  // namespace lum::app
