#include "app/updater_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lum::app {
namespace {

// Feeds one Progress event per entry and returns the captions shown after each update.
std::vector<std::string> ExtractAll(UpdaterView& view, int count) {
  std::vector<std::string> shown;
  for (int i = 0; i < count; ++i) {
    if (view.ZIP_Progress(i, count)) shown.push_back(view.labelBG().caption);
  }
  return shown;
}

TEST(UpdaterView, LayoutAsDesigned) {
  UpdaterView view;
  EXPECT_EQ(view.View().title, "Lumetra UPDATER");
  EXPECT_EQ(view.View().clientWidth, 7200);
  EXPECT_EQ(view.View().clientHeight, 1470);
  const auto& bg = view.labelBG();
  EXPECT_EQ(bg.name, "labelBG");
  EXPECT_EQ(bg.left, 120);
  EXPECT_EQ(bg.top, 960);
  EXPECT_EQ(bg.width, 6975.0f);
  EXPECT_EQ(bg.height, 375);
  EXPECT_EQ(bg.caption, "");
  EXPECT_EQ(bg.font, (platform::LabelFont{"Segoe UI Semibold", 600, 12.0f}));
  const auto& title = view.Label1();
  EXPECT_EQ(title.caption, "Updating ...");
  EXPECT_EQ(title.left, 960);
  EXPECT_EQ(title.top, 120);
  EXPECT_EQ(title.width, 5295.0f);
  EXPECT_EQ(title.height, 615);
  EXPECT_EQ(title.font.points, 20.25f);
  const auto& green = view.LabelGreen();
  EXPECT_EQ(green.back, platform::Colour::Rgb(0, 221, 0));
  EXPECT_EQ(green.width, 2895.0f);
  EXPECT_EQ(green.fills, UpdaterView::kLabelBG);
  EXPECT_EQ(green.left, bg.left);
  EXPECT_EQ(green.top, bg.top);
  EXPECT_EQ(green.height, bg.height);
}

TEST(UpdaterView, LoadEmptiesTheGreenBar) {
  UpdaterView view;
  view.Form_Load();
  EXPECT_EQ(view.LabelGreen().width, 1.0f);
  EXPECT_EQ(view.labelBG().caption, "");
}

TEST(UpdaterView, OnlyEveryThirtySecondEntryUpdates) {
  UpdaterView view;
  view.Form_Load();
  EXPECT_EQ(ExtractAll(view, 1), std::vector<std::string>{"0/1  (0%)"});
  EXPECT_EQ(view.LabelGreen().width, 0.0f);

  UpdaterView view31;
  view31.Form_Load();
  EXPECT_EQ(ExtractAll(view31, 31), std::vector<std::string>{"0/31  (0%)"});
  EXPECT_EQ(view31.labelBG().caption, "0/31  (0%)");

  UpdaterView view100;
  view100.Form_Load();
  EXPECT_EQ(ExtractAll(view100, 100), (std::vector<std::string>{"0/100  (0%)", "32/100  (32%)",
                                                                "64/100  (64%)", "96/100  (96%)"}));
  EXPECT_FLOAT_EQ(view100.LabelGreen().width, 6975.0f * 0.96f);
}

TEST(UpdaterView, CaptionAndWidthOfOneUpdate) {
  UpdaterView view;
  view.Form_Load();
  EXPECT_TRUE(view.ZIP_Progress(64, 200));
  EXPECT_EQ(view.labelBG().caption, "64/200  (32%)");
  EXPECT_EQ(view.LabelGreen().width, 2232.0f);
  // One entry in eight: 12.5 % shows as 13 %, and the width keeps its fraction.
  EXPECT_TRUE(view.ZIP_Progress(32, 256));
  EXPECT_EQ(view.labelBG().caption, "32/256  (13%)");
  EXPECT_EQ(view.LabelGreen().width, 871.875f);
  EXPECT_TRUE(view.ZIP_Progress(224, 256));
  EXPECT_EQ(view.labelBG().caption, "224/256  (88%)");  // 87.5 % rounds upward
  EXPECT_EQ(view.LabelGreen().width, 6103.125f);
  // Entries that are not multiples of 32 leave everything as it was.
  EXPECT_FALSE(view.ZIP_Progress(225, 256));
  EXPECT_FALSE(view.ZIP_Progress(16, 256));
  EXPECT_EQ(view.labelBG().caption, "224/256  (88%)");
  EXPECT_EQ(view.LabelGreen().width, 6103.125f);
}

TEST(UpdaterView, RepeatedEventsOfOneEntryGiveTheSameValues) {
  UpdaterView view;
  view.Form_Load();
  for (int chunk = 0; chunk < 5; ++chunk) {
    EXPECT_TRUE(view.ZIP_Progress(32, 33));
    EXPECT_EQ(view.labelBG().caption, "32/33  (97%)");
  }
}

TEST(UpdaterView, NoEntryCountLeavesTheLabelsAlone) {
  UpdaterView view;
  view.Form_Load();
  EXPECT_FALSE(view.ZIP_Progress(0, 0));
  EXPECT_EQ(view.labelBG().caption, "");
  EXPECT_EQ(view.LabelGreen().width, 1.0f);
}

TEST(WholePercent, RoundsHalvesUpwardExactly) {
  EXPECT_EQ(WholePercent(1, 8), 13);
  EXPECT_EQ(WholePercent(1, 200), 1);    // 0.5 %
  EXPECT_EQ(WholePercent(29, 200), 15);  // 14.5 %, inexact as a double
  EXPECT_EQ(WholePercent(1, 3), 33);
  EXPECT_EQ(WholePercent(2, 3), 67);
  EXPECT_EQ(WholePercent(0, 5), 0);
  EXPECT_EQ(WholePercent(32, 32), 100);
}

}  // namespace
}  // namespace lum::app
