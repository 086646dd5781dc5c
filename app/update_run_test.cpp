#include "app/update_run.h"

#include "app/testing/fake_effects.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace lum::app {
namespace {

// An installation that is ready for an update: settings, a package and a LastRun.
FakeEffects Installation() {
  FakeEffects fx;
  fx.files[kPackage] = "zip";
  fx.files[kExe] = "old exe";
  fx.files[kKept] = "user's last run";
  fx.packageEntries = {{"Lumetra.exe", "new exe"}, {"PROJECTS\\LastRun", "package's"}};
  return fx;
}

std::vector<std::string> WrittenSettings(const FakeEffects& fx) {
  std::vector<std::string> writes;
  for (const auto& e : fx.log) {
    if (e.rfind("write ", 0) == 0) writes.push_back(e.substr(6));
  }
  return writes;
}

TEST(UpdateRun, OnlyTheExactTokenStartsARun) {
  for (const char* text : {"tovlex", "", "TOVLEX extra", "TOVLEX ", " TOVLEX", "TOVLE"}) {
    FakeEffects fx = Installation();
    fx.commandLine = text;
    EXPECT_EQ(UpdateRun(fx).Run(), 0);
    EXPECT_TRUE(fx.log.empty()) << "'" << text << "' did " << fx.log.front();
  }
}

TEST(UpdateRun, NormalRunInOrder) {
  FakeEffects fx = Installation();
  fx.SetIni("Display", "Zoom", "1.5");
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_EQ(fx.files[kExe], "new exe");
  EXPECT_EQ(fx.files[kKept], "user's last run");  // the package's copy is replaced
  EXPECT_EQ(fx.files.count(kAside), 0u);
  EXPECT_TRUE(fx.messages.empty());
  // Settings are read before the package is touched; the app starts before they are written.
  EXPECT_LT(fx.Position("read Prefix|Mode"), fx.Position("copy"));
  EXPECT_LT(fx.Position("copy"), fx.Position("repaint"));
  EXPECT_LT(fx.Position("repaint"), fx.Position("open " + kPackage));
  EXPECT_LT(fx.Position("open"), fx.Position("extract C:\\Lumetra"));
  EXPECT_LT(fx.Position("extract"), fx.Position("delete " + kKept));
  EXPECT_LT(fx.Position("start " + kExe), fx.Position("write"));
  EXPECT_EQ(WrittenSettings(fx),
            (std::vector<std::string>{"Display|Zoom=1.5", "Display|LockImageZoom=-1",
                                      "Sound|Enabled=-1", "Resize|Mode=2", "Resize|Value=360",
                                      "Prefix|Mode=0", "Shortcut|Ask=0"}));
}

TEST(UpdateRun, SettingsAreReadAndWrittenBack) {
  FakeEffects fx = Installation();
  fx.SetIni("Display", "Zoom", "0.5");
  fx.SetIni("Sound", "Enabled", "");
  fx.SetIni("Resize", "Mode", "abc");
  fx.SetIni("Resize", "Value", "2.5");
  fx.SetIni("Display", "LockImageZoom", "&H10");
  fx.SetIni("Prefix", "Mode", " 1 2");
  fx.SetIni("Shortcut", "Ask", "1");
  UpdateRun run(fx);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.Settings().m_dZoom, 0.5);
  EXPECT_EQ(run.Settings().m_lSoundEnabled, -1);
  EXPECT_EQ(run.Settings().m_lResizeMode, 0);  // non-empty, not a number: 0, not the default
  EXPECT_EQ(fx.Ini("Display", "Zoom"), "0.5");
  EXPECT_EQ(fx.Ini("Sound", "Enabled"), "-1");
  EXPECT_EQ(fx.Ini("Resize", "Mode"), "0");
  EXPECT_EQ(fx.Ini("Resize", "Value"), "2");
  EXPECT_EQ(fx.Ini("Display", "LockImageZoom"), "16");
  EXPECT_EQ(fx.Ini("Prefix", "Mode"), "12");
  EXPECT_EQ(fx.Ini("Shortcut", "Ask"), "0");
  // Reading order differs from writing order.
  EXPECT_LT(fx.Position("read Sound|Enabled"), fx.Position("read Display|LockImageZoom"));
}

TEST(UpdateRun, ZoomOfZeroOrTextBecomesOne) {
  for (const char* zoom : {"0", "abc", "", "0.0e5"}) {
    FakeEffects fx = Installation();
    fx.SetIni("Display", "Zoom", zoom);
    fx.SetIni("Resize", "Value", "3.5");
    UpdateRun(fx).Run();
    EXPECT_EQ(fx.Ini("Display", "Zoom"), "1") << zoom;
    EXPECT_EQ(fx.Ini("Resize", "Value"), "4");
  }
}

TEST(UpdateRun, MissingSettingsFileWritesZeros) {
  FakeEffects fx = Installation();
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_FALSE(fx.Logged("read Display|Zoom"));
  EXPECT_EQ(WrittenSettings(fx),
            (std::vector<std::string>{"Display|Zoom=0", "Display|LockImageZoom=0",
                                      "Sound|Enabled=0", "Resize|Mode=0", "Resize|Value=0",
                                      "Prefix|Mode=0", "Shortcut|Ask=0"}));
}

TEST(UpdateRun, OverflowEndsWithStatusOneAndTouchesNothing) {
  for (auto [section, key, text] :
       {std::tuple{"Display", "Zoom", "1e999"}, std::tuple{"Resize", "Value", "2147483648"},
        std::tuple{"Prefix", "Mode", "-2147483649"}, std::tuple{"Sound", "Enabled", "1e400"}}) {
    FakeEffects fx = Installation();
    fx.SetIni(section, key, text);
    EXPECT_EQ(UpdateRun(fx).Run(), 1) << key;
    EXPECT_EQ(fx.messages, std::vector<std::string>{"Overflow"});
    EXPECT_TRUE(WrittenSettings(fx).empty());
    EXPECT_FALSE(fx.Logged("open " + kPackage));
    EXPECT_FALSE(fx.Logged("start " + kExe));
    EXPECT_EQ(fx.Position("copy"), fx.log.size());
  }
  FakeEffects limit = Installation();
  limit.SetIni("Resize", "Value", "2147483647.4");
  EXPECT_EQ(UpdateRun(limit).Run(), 0);
  EXPECT_EQ(limit.Ini("Resize", "Value"), "2147483647");
}

TEST(UpdateRun, MissingPackageShowsItsPathAndStillWritesSettings) {
  FakeEffects fx = Installation();
  fx.files.erase(kPackage);
  fx.SetIni("Sound", "Enabled", "0");
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_EQ(fx.messages, std::vector<std::string>{"Can't Find\r\nC:\\Lumetra\\Lumetra.zip"});
  EXPECT_LT(fx.Position("message"), fx.Position("write"));
  EXPECT_EQ(fx.Ini("Sound", "Enabled"), "0");
  EXPECT_EQ(fx.Ini("Shortcut", "Ask"), "0");
  EXPECT_EQ(fx.Position("copy"), fx.log.size());
  EXPECT_EQ(fx.Position("start"), fx.log.size());
  EXPECT_EQ(fx.files[kKept], "user's last run");
}

TEST(UpdateRun, PackageThatCannotBeOpenedStillStartsTheApplication) {
  FakeEffects fx = Installation();
  fx.packageOpens = false;
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_TRUE(fx.Logged("start " + kExe));
  EXPECT_EQ(fx.files[kExe], "old exe");
  EXPECT_EQ(fx.files[kKept], "user's last run");
  EXPECT_EQ(fx.files.count(kAside), 0u);
  EXPECT_EQ(fx.Ini("Shortcut", "Ask"), "0");
}

TEST(UpdateRun, WithoutLastRunThePackagesCopyIsRemoved) {
  FakeEffects fx = Installation();
  fx.files.erase(kKept);
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_EQ(fx.files[kExe], "new exe");
  EXPECT_EQ(fx.files.count(kKept), 0u);
  EXPECT_EQ(fx.files.count(kAside), 0u);
}

TEST(UpdateRun, AnEarlierAsideCopyIsRestored) {
  FakeEffects fx = Installation();
  fx.files.erase(kKept);
  fx.files[kAside] = "left by an earlier run";
  UpdateRun(fx).Run();
  EXPECT_EQ(fx.files[kKept], "left by an earlier run");
  EXPECT_EQ(fx.files.count(kAside), 0u);
}

TEST(UpdateRun, LastRunThatCannotBePutAsideIsNeverReplaced) {
  FakeEffects fx = Installation();
  fx.folders.insert(kAside);  // a folder where the aside copy should go
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_EQ(fx.files[kKept], "user's last run");
  EXPECT_EQ(fx.files[kExe], "old exe");  // nothing extracted
  EXPECT_FALSE(fx.Logged("extract C:\\Lumetra"));
  EXPECT_FALSE(fx.Logged("delete " + kKept));
  EXPECT_TRUE(fx.Logged("start " + kExe));
  EXPECT_EQ(fx.Ini("Shortcut", "Ask"), "0");
}

TEST(UpdateRun, AsideCopyIsKeptWhenItCannotBeCopiedBack) {
  FakeEffects fx = Installation();
  // PROJECTS\LastRun is a folder, so nothing can be copied back over it; the aside copy an
  // earlier run left is the only copy of the user's data and must stay.
  fx.files.erase(kKept);
  fx.folders.insert(kKept);
  fx.files[kAside] = "user's last run";
  EXPECT_EQ(UpdateRun(fx).Run(), 0);
  EXPECT_TRUE(fx.Logged("copy " + kAside + " > " + kKept));
  EXPECT_EQ(fx.files[kAside], "user's last run");
  EXPECT_FALSE(fx.Logged("delete " + kAside));
  EXPECT_TRUE(fx.Logged("start " + kExe));
}

}  // namespace
}  // namespace lum::app
