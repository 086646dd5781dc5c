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
  // Staging fills the first 60 % of the bar; the rest is the commit's.
  EXPECT_FLOAT_EQ(view100.LabelGreen().width, 6975.0f * 0.6f * 0.96f);
}

TEST(UpdaterView, CaptionAndWidthOfOneUpdate) {
  UpdaterView view;
  view.Form_Load();
  EXPECT_TRUE(view.ZIP_Progress(64, 200));
  EXPECT_EQ(view.labelBG().caption, "64/200  (32%)");
  EXPECT_FLOAT_EQ(view.LabelGreen().width, 1339.2f);  // 6975 * 60 % * 64 / 200
  // One entry in eight: 12.5 % shows as 13 %, and the width keeps its fraction.
  EXPECT_TRUE(view.ZIP_Progress(32, 256));
  EXPECT_EQ(view.labelBG().caption, "32/256  (13%)");
  EXPECT_FLOAT_EQ(view.LabelGreen().width, 523.125f);
  EXPECT_TRUE(view.ZIP_Progress(224, 256));
  EXPECT_EQ(view.labelBG().caption, "224/256  (88%)");  // 87.5 % rounds upward
  EXPECT_FLOAT_EQ(view.LabelGreen().width, 3661.875f);
  // Entries that are not multiples of 32 leave everything as it was.
  EXPECT_FALSE(view.ZIP_Progress(225, 256));
  EXPECT_FALSE(view.ZIP_Progress(16, 256));
  EXPECT_EQ(view.labelBG().caption, "224/256  (88%)");
  EXPECT_FLOAT_EQ(view.LabelGreen().width, 3661.875f);
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

// After staging, the later stages move the bar on from where staging left it, each update
// further than the one before, to the full width; the caption keeps the last entry count.
TEST(UpdaterView, LaterStagesMoveTheBarToFull) {
  UpdaterView view;
  view.Form_Load();
  ExtractAll(view, 100);
  const float staged = view.LabelGreen().width;
  EXPECT_LT(staged, 6975.0f * 0.6f);
  struct Update {
    UpdateStage stage;
    std::size_t done, total;
  };
  const Update updates[] = {
      {UpdateStage::kMoving, 0, 200},     {UpdateStage::kMoving, 32, 200},
      {UpdateStage::kMoving, 200, 200},   {UpdateStage::kFlushing, 1, 1},
      {UpdateStage::kCleaningUp, 32, 40}, {UpdateStage::kCleaningUp, 40, 40},
  };
  float before = staged;
  for (const Update& u : updates) {
    EXPECT_TRUE(view.ShowProgress(u.stage, u.done, u.total));
    EXPECT_GT(view.LabelGreen().width, before);
    before = view.LabelGreen().width;
  }
  EXPECT_EQ(view.LabelGreen().width, view.labelBG().width);
  // Where a stage starts at the previous one's end, or nothing more is to be shown once
  // full, the bar stays and needs no repaint.
  EXPECT_FALSE(view.ShowProgress(UpdateStage::kFinished, 1, 1));
  EXPECT_EQ(view.labelBG().caption, "96/100  (96%)");
}

// The run's stages meet without a gap or a step back, an empty stage counts as done, and
// units beyond the total never pass the stage's end.
TEST(RunShare, StagesMeetAndStayInTheirParts) {
  const UpdateStage order[] = {UpdateStage::kStaging, UpdateStage::kMoving, UpdateStage::kFlushing,
                               UpdateStage::kCleaningUp, UpdateStage::kFinished};
  EXPECT_EQ(RunShare(UpdateStage::kStaging, 0, 10), 0.0);
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(RunShare(order[i], 7, 7), RunShare(order[i + 1], 0, 3)) << i;
    EXPECT_EQ(RunShare(order[i], 0, 0), RunShare(order[i], 7, 7)) << i;
    EXPECT_EQ(RunShare(order[i], 9, 7), RunShare(order[i], 7, 7)) << i;
    double previous = RunShare(order[i], 0, 1000);
    for (std::size_t done = 1; done <= 1000; ++done) {
      const double share = RunShare(order[i], done, 1000);
      ASSERT_GT(share, previous) << i << " at " << done;
      previous = share;
    }
  }
  EXPECT_EQ(RunShare(UpdateStage::kFinished, 0, 0), 1.0);
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
