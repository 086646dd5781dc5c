#include "app/updater_view.h"

#include <string>

namespace lum::app {

namespace {

using platform::Colour;
using platform::LabelFont;
using platform::LabelView;

constexpr std::int32_t kEntryStride = 32;  // the window follows every 32nd entry

LabelFont SemiboldFont(float points) {
  return LabelFont{"Segoe UI Semibold", 600, points};
}

LabelView MakeLabel(const char* name, std::int32_t left, std::int32_t top, float width,
                    std::int32_t height, const char* caption, Colour back, Colour text,
                    float points) {
  LabelView label;
  label.name = name;
  label.left = left;
  label.top = top;
  label.width = width;
  label.height = height;
  label.caption = caption;
  label.back = back;
  label.text = text;
  label.font = SemiboldFont(points);
  return label;
}

// Floor division for a positive divisor.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && (a < 0)) --q;
  return q;
}

}  // namespace

std::int64_t WholePercent(std::int64_t numerator, std::int64_t denominator) {
  // floor(100 * n / d + 1/2) == floor((200 n + d) / 2d)
  return FloorDiv(200 * numerator + denominator, 2 * denominator);
}

UpdaterView::UpdaterView() {
  using Kind = Colour::Kind;
  m_view.title = "Lumetra UPDATER";
  m_view.clientWidth = 7200;
  m_view.clientHeight = 1470;
  m_view.back = Colour::System(Kind::kButtonFace);
  m_view.labels = {
      MakeLabel("labelBG", 120, 960, 6975, 375, "", Colour::System(Kind::kWindow),
                Colour::System(Kind::kWindowText), 12.0f),
      MakeLabel("Label1", 960, 120, 5295, 615, "Updating ...", Colour::System(Kind::kButtonFace),
                Colour::System(Kind::kButtonText), 20.25f),
      MakeLabel("LabelGreen", 120, 960, 2895, 375, "", Colour::Rgb(0, 221, 0),
                Colour::System(Kind::kWindowText), 12.0f),
  };
  m_view.labels[kLabelGreen].fills = kLabelBG;
}

void UpdaterView::Form_Load() {
  m_view.labels[kLabelGreen].width = 1;
}

bool UpdaterView::ZIP_Progress(std::int32_t FileIdx, std::int32_t fileCount) {
  if ((FileIdx & (kEntryStride - 1)) != 0) return false;
  if (fileCount < 1 || FileIdx < 0) return false;
  LabelView& bg = m_view.labels[kLabelBG];
  bg.caption = std::to_string(FileIdx) + "/" + std::to_string(fileCount) + "  (" +
               std::to_string(WholePercent(FileIdx, fileCount)) + "%)";
  m_view.labels[kLabelGreen].width =
      GreenWidth(RunShare(UpdateStage::kStaging, static_cast<std::size_t>(FileIdx),
                          static_cast<std::size_t>(fileCount)));
  return true;
}

bool UpdaterView::ShowProgress(UpdateStage stage, std::size_t done, std::size_t total) {
  const float width = GreenWidth(RunShare(stage, done, total));
  float& green = m_view.labels[kLabelGreen].width;
  if (width == green) return false;
  green = width;
  return true;
}

float UpdaterView::GreenWidth(double share) const {
  return static_cast<float>(static_cast<double>(m_view.labels[kLabelBG].width) * share);
}

}  // namespace lum::app
