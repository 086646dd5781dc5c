// Saving and restoring a window's placement with clsIniFile, over the plain window and screen
// models: margins of 4 pixels, minimum sizes, minimised and maximised states, failures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/window.h"
#include "settings/ini_file.h"
#include "settings/test_files.h"

namespace lum::test {
namespace {

using platform::kWindowMaximised;
using platform::kWindowMinimised;
using platform::kWindowNormal;
using platform::ScreenModel;
using platform::WindowModel;
using settings::clsIniFile;

// 1024 by 768 pixels at 15 twips per pixel: 15360 by 11520 twips, margins of 60.
const ScreenModel kScreen(1024, 768, 15);

// A window whose properties can be made to fail one by one.
class BrokenWindow : public WindowModel {
 public:
  using WindowModel::WindowModel;
  std::optional<double> Top() const override { return failTop ? std::nullopt : WindowModel::Top(); }
  bool Move(double left, double top, double width, double height) override {
    ++moves;
    return !failMove && WindowModel::Move(left, top, width, height);
  }
  bool failTop = false;
  bool failMove = false;
  int moves = 0;
};

class Placement : public ::testing::Test {
 protected:
  void SetUp() override {
    ini.Path(folder.Text("Settings.ini"));
    ini.Section("Main window");
    ini.Key("Mine");
    ini.Default("my default");
  }
  void Saved(const std::string& lines) {
    WriteWholeFile(folder.Path("Settings.ini"), "[Main window]\r\n" + lines);
  }
  std::string Stored(const char* key) {
    clsIniFile reader;
    reader.Path(ini.Path());
    reader.Section(ini.Section());
    reader.Key(key);
    reader.Default("<none>");
    return reader.Value();
  }
  void ExpectKeyAndDefaultKept() {
    EXPECT_EQ(ini.Key(), "Mine");
    EXPECT_EQ(ini.Default(), "my default");
  }
  static void ExpectAt(const WindowModel& window, double left, double top, double width,
                       double height) {
    EXPECT_EQ(window.Left(), left);
    EXPECT_EQ(window.Top(), top);
    EXPECT_EQ(window.Width(), width);
    EXPECT_EQ(window.Height(), height);
  }

  ScratchDir folder;
  clsIniFile ini;
};

TEST_F(Placement, SavesANormalWindow) {
  WindowModel window(1200, 900, 6000, 4500.5);
  ini.SaveWindowPlacement(window);
  EXPECT_TRUE(ini.Success());
  ExpectKeyAndDefaultKept();
  EXPECT_EQ(Stored("Maximised"), "0");
  EXPECT_EQ(Stored("Left"), "1200");
  EXPECT_EQ(Stored("Top"), "900");
  EXPECT_EQ(Stored("Width"), "6000");
  EXPECT_EQ(Stored("Height"), "4500.5");
  EXPECT_EQ(ReadWholeText(folder.Path("Settings.ini")),
            "[Main window]\r\nMaximised=0\r\nLeft=1200\r\nTop=900\r\nWidth=6000\r\nHeight=4500.5"
            "\r\n");
}

TEST_F(Placement, MinimisedSavesNothingAndMaximisedOnlyItsState) {
  WindowModel window(1200, 900, 6000, 4500);
  ASSERT_TRUE(window.SetWindowState(kWindowMinimised));
  ini.SaveWindowPlacement(window);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "unchanged: nothing was written";
  EXPECT_FALSE(ReadWholeText(folder.Path("Settings.ini")));

  Saved("Left=300\r\nWidth=5000\r\n");
  ASSERT_TRUE(window.SetWindowState(kWindowMaximised));
  ini.SaveWindowPlacement(window);
  EXPECT_TRUE(ini.Success());
  ExpectKeyAndDefaultKept();
  EXPECT_EQ(Stored("Maximised"), "1");
  EXPECT_EQ(Stored("Left"), "300") << "the normal position saved earlier stays";
  EXPECT_EQ(Stored("Top"), "<none>");

  // A minimised window after a successful write leaves LastReturnCode as it was.
  ASSERT_TRUE(window.SetWindowState(kWindowMinimised));
  ini.SaveWindowPlacement(window);
  EXPECT_TRUE(ini.Success());
}

TEST_F(Placement, SaveOfAWindowThatCannotAnswerWritesNothing) {
  BrokenWindow window(1200, 900, 6000, 4500);
  window.failTop = true;
  ini.Value("1");  // a successful write first, so that the failure shows
  ASSERT_TRUE(ini.Success());
  ini.SaveWindowPlacement(window);
  EXPECT_EQ(ini.LastReturnCode(), 0);
  ExpectKeyAndDefaultKept();
  EXPECT_EQ(Stored("Maximised"), "<none>");
  EXPECT_EQ(Stored("Left"), "<none>");
}

TEST_F(Placement, SaveReportsAFailedWrite) {
  ini.Path(folder.Text("no such folder/Settings.ini"));
  WindowModel window(1200, 900, 6000, 4500);
  ini.SaveWindowPlacement(window);
  EXPECT_EQ(ini.LastReturnCode(), 0);
}

TEST_F(Placement, RestoresWithinTheMargins) {
  Saved("Maximised=0\r\nLeft=0\r\nTop=-500\r\nWidth=6000\r\nHeight=4000\r\n");
  WindowModel window(1, 2, 3, 4);
  ini.Value("1");
  ini.RestoreWindowPlacement(window, 0, 0, kScreen);
  EXPECT_TRUE(ini.Success()) << "unchanged by a successful restore";
  ExpectKeyAndDefaultKept();
  ExpectAt(window, 60, 60, 6000, 4000);  // 0 and -500 pushed to 4 pixels
  EXPECT_EQ(window.WindowState(), kWindowNormal);
}

TEST_F(Placement, WindowPartlyBeyondTheRightAndBottomEdgesMovesBack) {
  Saved("Left=14000\r\nTop=10000\r\nWidth=3000\r\nHeight=2000\r\n");
  WindowModel window;
  ini.RestoreWindowPlacement(window, 0, 0, kScreen);
  // Ends 4 pixels before the edges: 15360 - 60 - 3000 and 11520 - 60 - 2000.
  ExpectAt(window, 12300, 9460, 3000, 2000);
}

TEST_F(Placement, WindowWiderThanTheScreenIsNarrowed) {
  Saved("Left=500\r\nTop=500\r\nWidth=16000\r\nHeight=12000\r\n");
  WindowModel window;
  ini.RestoreWindowPlacement(window, 0, 0, kScreen);
  ExpectAt(window, 60, 60, 15240, 11400);
}

TEST_F(Placement, MissingKeysKeepTheWindowsOwnPlacement) {
  WindowModel window(-100.4, 2000.5, 5000.5, 3000);
  ini.RestoreWindowPlacement(window, 0, 0, kScreen);
  EXPECT_TRUE(window.WindowState() == kWindowNormal);
  // Own values rounded (halves to even), then the left margin applies.
  ExpectAt(window, 60, 2000, 5000, 3000);
  EXPECT_FALSE(ReadWholeText(folder.Path("Settings.ini"))) << "restoring writes nothing";
}

TEST_F(Placement, MinimumSizeRaisesTheSavedSize) {
  Saved("Left=1000\r\nTop=1000\r\nWidth=100\r\nHeight=100\r\n");
  WindowModel window;
  ini.RestoreWindowPlacement(window, 4000, 3000, kScreen);
  ExpectAt(window, 1000, 1000, 4000, 3000);
}

TEST_F(Placement, MinimumWiderThanTheScreenLeavesTheWindowButStillMaximises) {
  Saved("Maximised=1\r\nLeft=1000\r\nTop=1000\r\nWidth=5000\r\nHeight=4000\r\n");
  BrokenWindow window(10, 20, 30, 40);
  ini.RestoreWindowPlacement(window, 20000, 0, kScreen);
  EXPECT_EQ(window.moves, 0);
  ExpectAt(window, 10, 20, 30, 40);
  EXPECT_EQ(window.WindowState(), kWindowMaximised);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "unchanged";
}

TEST_F(Placement, MaximisedStateAndSavedFractions) {
  Saved("Maximised=1\r\nLeft=2500.5\r\nTop=1000.5\r\nWidth=5000\r\nHeight=4000\r\n");
  WindowModel window;
  ini.RestoreWindowPlacement(window, 0, 0, kScreen);
  ExpectAt(window, 2500, 1000, 5000, 4000);
  EXPECT_EQ(window.WindowState(), kWindowMaximised);

  Saved("Maximised=junk\r\nLeft=2000\r\n");
  WindowModel other;
  ini.RestoreWindowPlacement(other, 0, 0, kScreen);
  EXPECT_EQ(other.WindowState(), kWindowNormal);
}

TEST_F(Placement, MarginsFollowTheScreensPixelSize) {
  Saved("Left=0\r\nTop=0\r\nWidth=1000\r\nHeight=1000\r\n");
  WindowModel window;
  ini.RestoreWindowPlacement(window, 0, 0, ScreenModel(1280, 1024, 12));
  ExpectAt(window, 48, 48, 1000, 1000);
  // 4 x 15.125 = 60.5: the margin rounds to the even 60.
  ini.RestoreWindowPlacement(window, 0, 0, ScreenModel(1280, 1024, 15.125));
  ExpectAt(window, 60, 60, 1000, 1000);
}

TEST_F(Placement, RestoreFailuresReportZeroAndKeepKeyAndDefault) {
  Saved("Left=1000\r\nTop=1000\r\nWidth=5000\r\nHeight=4000\r\n");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  WindowModel window(10, 20, 30, 40);

  ini.Value("1");
  ini.RestoreWindowPlacement(window, nan, 0, kScreen);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "a minimum that is not a number";
  ExpectKeyAndDefaultKept();
  ExpectAt(window, 10, 20, 30, 40);

  ini.Value("1");
  ini.RestoreWindowPlacement(window, 1e12, 0, kScreen);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "a minimum out of range";
  ExpectAt(window, 10, 20, 30, 40);

  ini.Value("1");
  BrokenWindow broken(10, 20, 30, 40);
  broken.failMove = true;
  ini.RestoreWindowPlacement(broken, 0, 0, kScreen);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "a window that cannot move";
  ExpectKeyAndDefaultKept();

  ini.Value("1");
  broken.failTop = true;
  broken.failMove = false;
  ini.RestoreWindowPlacement(broken, 0, 0, kScreen);
  EXPECT_EQ(ini.LastReturnCode(), 0) << "a window that cannot answer";
  EXPECT_EQ(broken.moves, 1);

  class NoScreen : public ScreenModel {
    std::optional<double> TwipsPerPixelY() const override { return std::nullopt; }
  };
  ini.Value("1");
  ini.RestoreWindowPlacement(window, 0, 0, NoScreen());
  EXPECT_EQ(ini.LastReturnCode(), 0) << "a screen that cannot answer";
  ExpectAt(window, 10, 20, 30, 40);
}

TEST_F(Placement, SaveThenRestoreRoundTrips) {
  WindowModel window(1500, 1200, 7000, 5000);
  ini.SaveWindowPlacement(window);
  WindowModel restored;
  ini.RestoreWindowPlacement(restored, 0, 0, kScreen);
  ExpectAt(restored, 1500, 1200, 7000, 5000);
  // The default screen overload works with the system's screen.
  WindowModel again;
  ini.RestoreWindowPlacement(again, 0, 0);
  EXPECT_EQ(again.Width(), 7000);
}

}  // namespace
}  // namespace lum::test
