// The model of the updater's progress window: its title, size and three labels, the load
// handler and the arithmetic of the progress handler. Pure data and arithmetic, shared by
// the Windows window and the POSIX terminal view (both draw a platform::WindowView).
#pragma once

#include <cstdint>

#include "app/update_progress.h"
#include "platform/progress_window.h"

namespace lum::app {

class UpdaterView {
 public:
  // Indices of the labels in View().labels, in the order the window lists them.
  static constexpr int kLabelBG = 0;
  static constexpr int kLabel1 = 1;
  static constexpr int kLabelGreen = 2;

  // The window as designed: title "Lumetra UPDATER", client 7200 x 1470 twips, `labelBG`
  // empty, `Label1` reading "Updating ...", `LabelGreen` 2895 twips wide until loaded.
  UpdaterView();

  // Load handler: the green bar starts empty (1 twip wide).
  void Form_Load();

  // Progress handler arithmetic while the package is checked and staged. Only entries
  // whose index is a multiple of 32 update the window: the caption of labelBG becomes
  // "<FileIdx>/<fileCount>  (<p>%)", p being FileIdx / fileCount as a whole percentage
  // with halves rounded upward, and LabelGreen becomes labelBG's width times the run's
  // share RunShare(kStaging, FileIdx, fileCount) twips, unrounded (single precision): the
  // bar covers the whole run, so staging fills only its first part. Returns true when the
  // labels were set (the window should then repaint and process its messages); false for
  // other entries, and for a fileCount below 1 or a negative FileIdx, which leave the
  // labels untouched.
  bool ZIP_Progress(std::int32_t FileIdx, std::int32_t fileCount);

  // The bar through the later stages of the run: LabelGreen becomes labelBG's width times
  // RunShare(stage, done, total); the caption keeps the last entry count staging showed.
  // Returns true when the width changed.
  bool ShowProgress(UpdateStage stage, std::size_t done, std::size_t total);

  const platform::WindowView& View() const { return m_view; }
  const platform::LabelView& labelBG() const { return m_view.labels[kLabelBG]; }
  const platform::LabelView& Label1() const { return m_view.labels[kLabel1]; }
  const platform::LabelView& LabelGreen() const { return m_view.labels[kLabelGreen]; }

 private:
  // The green bar's width for a share of the run.
  float GreenWidth(double share) const;

  platform::WindowView m_view;
};

// "0%" formatting of numerator / denominator (denominator > 0): the ratio times 100,
// rounded to the nearest whole number with halves upward, computed exactly.
std::int64_t WholePercent(std::int64_t numerator, std::int64_t denominator);

}  // namespace lum::app
