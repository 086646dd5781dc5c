// The installation that the staged-commit tests update: the user's files and settings, a
// package that replaces some files, adds others in new folders and carries files that must
// never reach the installation, and the trees before and after the update.
#pragma once

#include <map>
#include <set>
#include <string>

#include "app/testing/fake_effects.h"

#include <gtest/gtest.h>

namespace lum::app {

// What a test compares: every file with its content and every folder, leaving out the
// settings file (checked by its values) and what the run always adds or removes itself.
struct Tree {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  bool operator==(const Tree&) const = default;
};

inline Tree Installed(const FakeEffects& fx) {
  Tree tree{fx.files, fx.folders};
  tree.files.erase(kIni);
  tree.files.erase(kAside);
  return tree;
}

// An installation with the user's files and settings, and a package that replaces some
// files, adds others in new folders, and carries its own Settings.ini, PROJECTS\LastRun and
// a root LastRun, which must never reach the installation.
inline FakeEffects UserInstallation() {
  FakeEffects fx;
  fx.folders.insert("C:\\Lumetra\\data");
  fx.files[kPackage] = "zip";
  fx.files[kExe] = "old exe";
  fx.files[kKept] = "user's last run";
  fx.files["C:\\Lumetra\\data\\a.dat"] = "old a";
  fx.files["C:\\Lumetra\\data\\keep.dat"] = "user's own";
  fx.SetIni("Display", "Zoom", "0.75");
  fx.SetIni("Prefix", "Mode", "7");
  fx.packageEntries = {
      {"Settings.ini", "Display|Zoom=3\nDisplay|Theme=dark\n"},
      {"PROJECTS\\LastRun", "package's"},
      {"LastRun", "package's aside"},
      {"Lumetra.exe", "new exe"},
      {"data\\a.dat", "new a"},
      {"data\\b.dat", "new b"},
      {"help\\en\\index.htm", "new help"},
  };
  return fx;
}

inline Tree NewInstallation() {
  FakeEffects fx = UserInstallation();
  Tree tree = Installed(fx);
  tree.files[kExe] = "new exe";
  tree.files["C:\\Lumetra\\data\\a.dat"] = "new a";
  tree.files["C:\\Lumetra\\data\\b.dat"] = "new b";
  tree.files["C:\\Lumetra\\help\\en\\index.htm"] = "new help";
  tree.folders.insert({"C:\\Lumetra\\help", "C:\\Lumetra\\help\\en"});
  return tree;
}

// Without a package the run leaves PROJECTS\LastRun and any aside copy as they are; the
// aside copy, if left, is then still the user's.
inline void ExpectUserDataKept(FakeEffects& fx, const std::string& when,
                               bool asideMayStay = false) {
  EXPECT_EQ(fx.Ini("Display", "Zoom"), "0.75") << when;
  EXPECT_EQ(fx.Ini("Prefix", "Mode"), "7") << when;
  EXPECT_EQ(fx.Ini("Shortcut", "Ask"), "0") << when;
  EXPECT_EQ(fx.files[kKept], "user's last run") << when;
  if (asideMayStay && fx.files.count(kAside)) {
    EXPECT_EQ(fx.files[kAside], "user's last run") << when;
  } else {
    EXPECT_EQ(fx.files.count(kAside), 0u) << when;
  }
}

}  // namespace lum::app
