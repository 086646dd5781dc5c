#include "app/update_commit.h"

#include <gtest/gtest.h>

#include "app/testing/fake_effects.h"
#include "app/testing/user_installation.h"
#include "app/update_journal.h"

namespace lum::app {
namespace {

TEST(StagedCommit, UpdateReplacesAddsAndProtects) {
  FakeEffects fx = UserInstallation();
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_EQ(Installed(fx), NewInstallation());
  ExpectUserDataKept(fx, "");
  EXPECT_EQ(fx.Ini("Display", "Theme"), "dark");  // the package's own keys stay
  EXPECT_TRUE(fx.Logged("start " + kExe));
  EXPECT_TRUE(fx.LogHas("package verified: 7 entries"));
  EXPECT_TRUE(fx.LogHas("committed: 5 files in place"));
}

// Failing any one file operation of the run, at every position in turn: the installation is
// then exactly the old one (or, when only the clean-up after the commit failed, exactly the
// new one), the user's data is kept, the application is started, and one more run finishes
// the update and leaves nothing of its work behind.
TEST(StagedCommit, FailingAnyOneOperationLeavesOldOrNew) {
  const Tree oldTree = Installed(UserInstallation());
  const Tree newTree = NewInstallation();
  int rolledBack = 0;
  for (int k = 1;; ++k) {
    FakeEffects fx = UserInstallation();
    fx.failAt = k;
    EXPECT_EQ(UpdateRun(fx).Run(), 0);
    if (fx.operations < k) break;  // every operation has had its turn
    const std::string when = "operation " + std::to_string(k);
    Tree now = Installed(fx);
    // Work folders left by a failed clean-up are removed by the next run.
    for (auto it = now.files.begin(); it != now.files.end();) {
      it = it->first.find("~Update") != std::string::npos ? now.files.erase(it) : std::next(it);
    }
    std::erase_if(now.folders, [](const std::string& f) { return f.find("~Update") != f.npos; });
    if (now == oldTree) {
      ++rolledBack;
      EXPECT_FALSE(fx.LogHas("committed")) << when;
    } else {
      EXPECT_EQ(now, newTree) << when;
    }
    ExpectUserDataKept(fx, when);
    EXPECT_TRUE(fx.Logged("start " + kExe)) << when;

    fx.failAt = 0;
    EXPECT_EQ(UpdateRun(fx).Run(), 0);
    EXPECT_EQ(Installed(fx), newTree) << when << ", then a run";
    ExpectUserDataKept(fx, when + ", then a run");
  }
  EXPECT_GT(rolledBack, 10);
}

// Stopping the run as a kill would, at every file operation in turn: one more run leaves
// the installation entirely new, with the user's settings and LastRun; and with the package
// gone before that run, entirely old or entirely new.
TEST(StagedCommit, KillAtAnyOperationThenOneMoreRun) {
  const Tree oldTree = Installed(UserInstallation());
  const Tree newTree = NewInstallation();
  int undone = 0;
  for (int k = 1;; ++k) {
    FakeEffects killed = UserInstallation();
    killed.killAt = k;
    bool stopped = false;
    try {
      UpdateRun(killed).Run();
    } catch (const Killed&) {
      stopped = true;
    }
    if (!stopped) break;
    const std::string when = "killed at operation " + std::to_string(k);
    killed.killAt = 0;

    FakeEffects again = killed;
    EXPECT_EQ(UpdateRun(again).Run(), 0) << when;
    EXPECT_EQ(Installed(again), newTree) << when;
    ExpectUserDataKept(again, when);

    FakeEffects withoutPackage = killed;
    withoutPackage.files.erase(kPackage);
    UpdateRun(withoutPackage).Run();
    Tree now = Installed(withoutPackage);
    Tree expectOld = oldTree, expectNew = newTree;
    expectOld.files.erase(kPackage);
    expectNew.files.erase(kPackage);
    if (now == expectOld) ++undone;
    EXPECT_TRUE(now == expectOld || now == expectNew) << when;
    ExpectUserDataKept(withoutPackage, when + ", package removed", true);
  }
  EXPECT_GT(undone, 10);
}

// The bar as the window showed it over a run: it never goes back, and it is full when the
// application is started.
void ExpectBarGrowsToFull(const FakeEffects& fx, const std::string& when) {
  ASSERT_FALSE(fx.bar.empty()) << when;
  for (std::size_t i = 1; i < fx.bar.size(); ++i) {
    EXPECT_LE(fx.bar[i - 1].width, fx.bar[i].width) << when << ", update " << i;
  }
  EXPECT_EQ(fx.barAtStart, fx.view.labelBG().width) << when;
}

// A package of 307 entries, half of them replacing installed files: checking and staging
// show the entry counts as always, within the first part of the bar; the commit then moves
// the bar on under the last count, and it is full at the start of the application.
TEST(StagedCommit, ProgressBarCoversTheWholeRun) {
  FakeEffects fx = UserInstallation();
  fx.folders.insert("C:\\Lumetra\\data\\more");
  for (int i = 0; i < 300; ++i) {
    const std::string name = "data\\more\\m" + std::to_string(1000 + i);
    fx.packageEntries[name] = "new " + std::to_string(i);
    if (i % 2 == 0) fx.files["C:\\Lumetra\\" + name] = "old " + std::to_string(i);
  }
  UpdateRun(fx).Run();
  ASSERT_TRUE(fx.LogHas("committed: 305 files in place"));
  ExpectBarGrowsToFull(fx, "");

  const float stagingEnd = fx.view.labelBG().width * 0.6f;
  std::vector<std::string> captions;
  int commitUpdates = 0;
  for (const auto& state : fx.bar) {
    if (captions.empty() || captions.back() != state.caption) {
      captions.push_back(state.caption);
      EXPECT_LT(state.width, stagingEnd) << state.caption;
    } else if (state.width >= stagingEnd) {
      ++commitUpdates;
    }
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 307; i += 32) {
    expected.push_back(std::to_string(i) + "/307  (" + std::to_string((i * 200 + 307) / 614) +
                       "%)");
  }
  EXPECT_EQ(captions, expected);
  // 459 journaled steps and 160 removals, shown every 32nd, plus the flush.
  EXPECT_GE(commitUpdates, 15);
}

// Whatever becomes of the package (refused, rolled back after any failed operation, or
// committed), the bar never goes back and is full when the application is started.
TEST(StagedCommit, ProgressBarEndsFullOnEveryPath) {
  FakeEffects damaged = UserInstallation();
  damaged.damagedEntry = "data\\b.dat";
  UpdateRun(damaged).Run();
  ExpectBarGrowsToFull(damaged, "damaged entry");
  for (int k = 1;; ++k) {
    FakeEffects fx = UserInstallation();
    fx.failAt = k;
    UpdateRun(fx).Run();
    if (fx.operations < k) break;
    ExpectBarGrowsToFull(fx, "operation " + std::to_string(k));
  }
}

TEST(StagedCommit, PackagesThatFailVerificationChangeNothing) {
  struct Case {
    const char* name;
    void (*spoil)(FakeEffects&);
    const char* logged;
  };
  const Case cases[] = {
      {"damaged entry", [](FakeEffects& fx) { fx.damagedEntry = "help\\en\\index.htm"; },
       "failed verification (entry 7: CRC error)"},
      {"full volume", [](FakeEffects& fx) { fx.freeSpace = 1000; }, "not enough free space"},
      {"cannot be opened", [](FakeEffects& fx) { fx.packageOpens = false; }, "cannot be opened"},
      {"locked file", [](FakeEffects& fx) { fx.locked.insert(kExe); }, "stayed in use"},
      {"file over a folder", [](FakeEffects& fx) { fx.folders.insert("C:\\Lumetra\\data\\b.dat"); },
       "data\\b.dat is a folder in the installation"},
  };
  for (const Case& c : cases) {
    FakeEffects fx = UserInstallation();
    c.spoil(fx);
    const Tree before = Installed(fx);
    EXPECT_EQ(UpdateRun(fx).Run(), 0);
    EXPECT_EQ(Installed(fx), before) << c.name;
    ExpectUserDataKept(fx, c.name);
    EXPECT_TRUE(fx.LogHas(c.logged)) << c.name;
    EXPECT_TRUE(fx.Logged("start " + kExe)) << c.name;
    for (const std::string& folder : fx.folders) {
      EXPECT_EQ(folder.find("~Update"), std::string::npos) << c.name << ": " << folder;
    }
    for (const auto& [file, content] : fx.files) {
      EXPECT_EQ(file.find("~Update"), std::string::npos) << c.name << ": " << file;
    }
  }
}

TEST(StagedCommit, LockedFileIsWaitedFor) {
  FakeEffects gives = UserInstallation();
  gives.locked.insert("C:\\Lumetra\\data\\a.dat");
  gives.lockedForWaits = 3;
  UpdateRun(gives).Run();
  EXPECT_EQ(Installed(gives), NewInstallation());
  EXPECT_EQ(gives.waits, 3);

  FakeEffects stays = UserInstallation();
  stays.locked.insert(kExe);
  UpdateRun(stays).Run();
  EXPECT_EQ(stays.waits * UpdateRun::kLockPollMilliseconds, UpdateRun::kLockWaitMilliseconds);
}

TEST(StagedCommit, LeftoverAsideCopyIsTheUsersFile) {
  // A run killed after its copy aside left both files; the installed one is the package's
  // (an older updater put it there). The aside copy wins and is never overwritten.
  FakeEffects fx = UserInstallation();
  fx.files[kAside] = "user's last run";
  fx.files[kKept] = "package's";
  UpdateRun(fx).Run();
  EXPECT_EQ(Installed(fx), NewInstallation());
  ExpectUserDataKept(fx, "");
  EXPECT_TRUE(fx.LogHas("restored from the aside copy"));
}

TEST(StagedCommit, ProtectedPaths) {
  for (const char* path :
       {"LastRun", "lastrun", "PROJECTS\\LastRun", "projects\\LASTRUN", "PROJECTS\\LastRun\\x",
        "~UpdateStage\\a", "~Update.journal", "Updater.log"}) {
    EXPECT_TRUE(IsProtectedPath(path, "\\")) << path;
  }
  for (const char* path :
       {"PROJECTS\\LastRun2", "PROJECTS\\other", "LastRunner", "data\\LastRun", "Lumetra.zip"}) {
    EXPECT_FALSE(IsProtectedPath(path, "\\")) << path;
  }
}

TEST(UpdateJournal, RecordsSurviveTheirTextAndACutLine) {
  CarriedSettings settings;
  settings.m_dZoom = 0.1 + 0.2;
  settings.m_lResizeValue = -2147483647 - 1;
  const std::string odd = "a%b\r\nc 100%25";
  const std::string text = JournalSettingsLine(settings) + JournalLine({'F', "new"}) +
                           JournalLine({'B', odd}) + JournalLine({'P', odd}) + "P cut";
  const Journal journal = ParseJournal(text);
  ASSERT_TRUE(journal.settings);
  EXPECT_EQ(JournalSettingsLine(*journal.settings), JournalSettingsLine(settings));
  ASSERT_EQ(journal.steps.size(), 3u);
  EXPECT_EQ(journal.steps[1].kind, 'B');
  EXPECT_EQ(journal.steps[1].relative, odd);
  EXPECT_FALSE(journal.complete);
  EXPECT_TRUE(ParseJournal(text.substr(0, text.size() - 5) + kJournalCompleteLine).complete);
  EXPECT_FALSE(ParseJournal("S 1 2\nX junk\n").settings);
}

}  // namespace
}  // namespace lum::app
