// How far an update run has got, as one share of the progress bar from the first check of
// the package to the start of the application.
//
// Each stage of a run fills its own part of the bar, sized by where a run's time goes: the
// mean share of each stage over four measured cases (5,000 files of 20 KiB, 3,000 of 300
// bytes and 200 of 500 KiB on ext4, 5,000 of 20 KiB on tmpfs; docs/benchmarks.md):
//
//   checking and staging the package (every entry decoded, CRC-checked, written)  0 - 60 %
//   moving staged files into place (journaled renames)                           60 - 70 %
//   flushing the volume and recording completion                                 70 - 80 %
//   removing the backups and the work folders                                    80 - 100 %
//
// Within a stage the bar moves by the stage's own units (entries, steps, removals), so it
// only grows, and it is full once the run is done.
#pragma once

#include <cstddef>

namespace lum::app {

enum class UpdateStage {
  kStaging,     // units: entries of the package
  kMoving,      // units: journaled steps (folders made, files backed up, files placed)
  kFlushing,    // units: 0 before the flush, 1 once the completion is recorded
  kCleaningUp,  // units: files and folders of the work folders removed
  kFinished,    // the run is done with the package, whatever became of it: the bar is full
};

// The share of the whole bar (0 to 1) reached `done` of `total` units into `stage`. A
// stage without units (total 0) counts as done; `done` beyond `total` counts as `total`.
double RunShare(UpdateStage stage, std::size_t done, std::size_t total);

// Told how far the run has got; the window shows it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void ShowProgress(UpdateStage stage, std::size_t done, std::size_t total) = 0;
};

}  // namespace lum::app
