// The commit fails part-way, and undoing it then fails too.
#include <gtest/gtest.h>

#include "app/testing/fake_effects.h"
#include "app/testing/user_installation.h"
#include "app/update_commit.h"
#include "app/update_journal.h"

namespace lum::app {
namespace {

const std::string kJournal = "C:\\Lumetra\\~Update.journal";
const std::string kBackup = "C:\\Lumetra\\~UpdateBackup\\";
const std::string kPrefix = "C:\\Lumetra\\";

std::string Relative(const std::string& path) {
  const std::string& base = path.rfind(kBackup, 0) == 0 ? kBackup : kPrefix;
  return path.substr(base.size());
}

bool IsWork(const std::string& path) {
  return path.find("~Update") != std::string::npos;
}

// What an undo works on, for each file and folder the package brings: the installed path
// and, for a file the package replaces, its copy in the backup folder.
std::vector<std::string> UndoPaths() {
  return {kPrefix + "Lumetra.exe",  kBackup + "Lumetra.exe",         kPrefix + "Settings.ini",
          kBackup + "Settings.ini", kPrefix + "data\\a.dat",         kBackup + "data\\a.dat",
          kPrefix + "data\\b.dat",  kPrefix + "help\\en\\index.htm", kPrefix + "help\\en",
          kPrefix + "help"};
}

// No file of the installation is lost: each old file is in its place or in the backup
// folder, and each file in place holds its old or its new content in whole.
void ExpectNothingLost(const FakeEffects& fx, const std::string& when) {
  const Tree oldTree = Installed(UserInstallation());
  const Tree newTree = NewInstallation();
  for (const auto& [path, content] : oldTree.files) {
    const auto inPlace = fx.files.find(path);
    const auto backedUp = fx.files.find(kBackup + Relative(path));
    EXPECT_TRUE((inPlace != fx.files.end() && inPlace->second == content) ||
                (backedUp != fx.files.end() && backedUp->second == content))
        << when << ": " << path;
  }
  for (const auto& [path, content] : Installed(fx).files) {
    if (IsWork(path)) continue;
    const auto old = oldTree.files.find(path);
    const auto now = newTree.files.find(path);
    EXPECT_TRUE((old != oldTree.files.end() && old->second == content) ||
                (now != newTree.files.end() && now->second == content))
        << when << ": " << path << " holds " << content;
  }
}

// The journal that a later run finishes the undo from: it holds the user's settings, is not
// complete, and announces every file that is in the backup folder or was placed.
void ExpectJournalConsistent(const FakeEffects& fx, const std::string& when) {
  const auto text = fx.files.find(kJournal);
  ASSERT_NE(text, fx.files.end()) << when;
  const Journal journal = ParseJournal(text->second);
  EXPECT_TRUE(journal.settings) << when;
  EXPECT_FALSE(journal.complete) << when;
  std::set<std::string> backedUp, placed;
  for (const JournalRecord& step : journal.steps) {
    (step.kind == 'B' ? backedUp : placed).insert(step.relative);
  }
  const Tree oldTree = Installed(UserInstallation());
  for (const auto& [path, content] : fx.files) {
    if (path.rfind(kBackup, 0) == 0) {
      EXPECT_TRUE(backedUp.count(Relative(path))) << when << ": " << path;
    } else if (!IsWork(path) && path != kIni && path != kAside) {
      const auto old = oldTree.files.find(path);
      if (old == oldTree.files.end() || old->second != content) {
        EXPECT_TRUE(placed.count(Relative(path))) << when << ": " << path;
      }
    }
  }
}

std::string StuckLine(const FakeEffects& fx) {
  for (const std::string& line : fx.logLines) {
    if (line.find("rollback incomplete") != std::string::npos) return line;
  }
  return "";
}

// The commit fails at operation k; from then on every operation on one of the paths the
// undo needs fails for good, for each such path and every k in turn. Whenever the undo
// could not finish: nothing of the installation is lost, the log names what was not
// restored, the application is started, the settings are written back, and the journal
// stays consistent. One more run then finishes the undo and applies the package once the
// fault is gone, leaves the installation exactly old when the package is gone too, and
// changes nothing while the fault lasts.
TEST(FailedUndo, NothingIsLostAndALaterRunFinishesIt) {
  const Tree oldTree = Installed(UserInstallation());
  const Tree newTree = NewInstallation();
  std::set<std::string> pathsStuck;
  int stuck = 0;
  for (int k = 1;; ++k) {
    bool commitFailed = false;
    for (const std::string& broken : UndoPaths()) {
      FakeEffects fx = UserInstallation();
      fx.failAt = k;
      fx.brokenPath = broken;
      fx.breaksAfter = k;
      EXPECT_EQ(UpdateRun(fx).Run(), 0);
      if (fx.operations < k) break;
      commitFailed = true;
      const std::string line = StuckLine(fx);
      if (line.empty()) continue;  // the undo did not need that path
      ++stuck;
      pathsStuck.insert(broken);
      const std::string when = "failed at " + std::to_string(k) + ", " + broken + " broken";
      ExpectNothingLost(fx, when);
      const std::size_t names = line.find("not restored: ");
      EXPECT_NE(names, std::string::npos) << when << ": " << line;
      EXPECT_NE(line.find(Relative(broken), names), std::string::npos) << when << ": " << line;
      EXPECT_TRUE(fx.Logged("start " + kExe)) << when;
      ExpectUserDataKept(fx, when);
      ExpectJournalConsistent(fx, when);

      FakeEffects lasting = fx;
      lasting.failAt = 0;
      lasting.breaksAfter = 0;
      EXPECT_EQ(UpdateRun(lasting).Run(), 0);
      ExpectNothingLost(lasting, when + ", fault lasting");
      ExpectUserDataKept(lasting, when + ", fault lasting");
      ExpectJournalConsistent(lasting, when + ", fault lasting");
      EXPECT_TRUE(lasting.LogHas("could not be undone")) << when;
      EXPECT_TRUE(lasting.LogHas("package not applied: an interrupted update is still to be"))
          << when;
      EXPECT_TRUE(lasting.Logged("start " + kExe)) << when;

      FakeEffects mended = fx;
      mended.failAt = 0;
      mended.brokenPath.clear();
      EXPECT_EQ(UpdateRun(mended).Run(), 0);
      EXPECT_EQ(Installed(mended), newTree) << when << ", then a run";
      ExpectUserDataKept(mended, when + ", then a run");

      FakeEffects withdrawn = fx;
      withdrawn.failAt = 0;
      withdrawn.brokenPath.clear();
      withdrawn.files.erase(kPackage);
      UpdateRun(withdrawn).Run();
      Tree expectOld = oldTree;
      expectOld.files.erase(kPackage);
      EXPECT_EQ(Installed(withdrawn), expectOld) << when << ", package gone";
      ExpectUserDataKept(withdrawn, when + ", package gone");
    }
    if (!commitFailed) break;
  }
  EXPECT_GT(stuck, 20);
  // Every kind of undo step has failed: a backup moved back, a new file and a new folder
  // removed.
  for (const std::string& path :
       {kBackup + "data\\a.dat", kPrefix + "data\\b.dat", kPrefix + "help\\en"}) {
    EXPECT_TRUE(pathsStuck.count(path)) << path;
  }
}

// The commit fails at operation k and one operation of its undo fails once: the undo is
// tried again and the installation is exactly the old one, with no work left behind.
TEST(FailedUndo, AMomentaryFailureIsRetried) {
  const Tree oldTree = Installed(UserInstallation());
  int retried = 0;
  for (int k = 1;; ++k) {
    FakeEffects first = UserInstallation();
    first.failAt = k;
    UpdateRun(first).Run();
    if (first.operations < k) break;
    for (int j = k + 1; j <= first.operations; ++j) {
      FakeEffects fx = UserInstallation();
      fx.failAt = k;
      fx.failAlsoAt = j;
      UpdateRun(fx).Run();
      if (fx.waits == 0) continue;  // the second failure was not in the undo
      ++retried;
      const std::string when = "failed at " + std::to_string(k) + " and " + std::to_string(j);
      EXPECT_TRUE(fx.LogHas("rolled back")) << when;
      EXPECT_EQ(fx.waits, 1) << when;
      EXPECT_EQ(Installed(fx), oldTree) << when;
      ExpectUserDataKept(fx, when);
      for (const auto& [path, content] : fx.files) EXPECT_FALSE(IsWork(path)) << when << path;
      for (const auto& path : fx.folders) EXPECT_FALSE(IsWork(path)) << when << path;
    }
  }
  EXPECT_GT(retried, 20);
}

// A run whose undo stayed incomplete: the operation of the first run that fails, and the
// backup of data\a.dat that can no longer be moved back.
FakeEffects StuckRun() {
  for (int k = 1; k < 100; ++k) {
    FakeEffects fx = UserInstallation();
    fx.failAt = k;
    fx.brokenPath = kBackup + "data\\a.dat";
    fx.breaksAfter = k;
    UpdateRun(fx).Run();
    if (!StuckLine(fx).empty()) {
      fx.failAt = 0;
      fx.brokenPath.clear();
      return fx;
    }
  }
  ADD_FAILURE() << "no run left its undo incomplete";
  return UserInstallation();
}

// Settings that the user changes between a run that left a journal and the next run are
// kept: the journal says the settings were written back, so the next run reads the file.
TEST(FailedUndo, SettingsChangedMeanwhileAreKept) {
  FakeEffects stuck = StuckRun();
  ASSERT_TRUE(ParseJournal(stuck.files[kJournal]).settingsWritten);
  stuck.SetIni("Display", "Zoom", "2");
  UpdateRun(stuck).Run();
  EXPECT_EQ(Installed(stuck), NewInstallation());
  EXPECT_EQ(stuck.Ini("Display", "Zoom"), "2");
  EXPECT_EQ(stuck.Ini("Prefix", "Mode"), "7");

  // Likewise after a completed update whose journal could not be removed.
  FakeEffects kept = UserInstallation();
  kept.brokenPath = kJournal;
  UpdateRun(kept).Run();
  EXPECT_EQ(Installed(kept).files.count(kJournal), 1u);
  kept.brokenPath.clear();
  kept.SetIni("Display", "Zoom", "2");
  kept.files.erase(kPackage);
  UpdateRun(kept).Run();
  EXPECT_TRUE(kept.LogHas("an interrupted update was completed"));
  EXPECT_EQ(kept.Ini("Display", "Zoom"), "2");
  EXPECT_EQ(kept.files.count(kJournal), 0u);
}

// A journal that is there but cannot be read (held open by a scanner, a read error) may be
// all that says how to undo: the run then changes nothing, the backups included, and a
// later run that can read it finishes the undo.
TEST(FailedUndo, AJournalThatCannotBeReadChangesNothing) {
  FakeEffects fx = StuckRun();
  const Tree before = Installed(fx);
  fx.journalUnreadable = true;
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  Tree after = Installed(fx);
  EXPECT_EQ(after.folders, before.folders);
  after.files.erase(kJournal);  // the run notes in it that the settings were written
  Tree expected = before;
  expected.files.erase(kJournal);
  EXPECT_EQ(after, expected);
  EXPECT_TRUE(fx.LogHas("cannot be read; nothing is changed"));
  EXPECT_TRUE(fx.Logged("start " + kExe));
  ExpectUserDataKept(fx, "");

  fx.journalUnreadable = false;
  UpdateRun(fx).Run();
  EXPECT_EQ(Installed(fx), NewInstallation());
  ExpectUserDataKept(fx, "then readable");
}

}  // namespace
}  // namespace lum::app
