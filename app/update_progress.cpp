#include "app/update_progress.h"

namespace lum::app {

namespace {

struct Part {
  double from;
  double to;
};

// By UpdateStage; each part starts where the one before it ends.
constexpr Part kParts[] = {
    {0.0, 0.6},  // kStaging
    {0.6, 0.7},  // kMoving
    {0.7, 0.8},  // kFlushing
    {0.8, 1.0},  // kCleaningUp
    {1.0, 1.0},  // kFinished
};

}  // namespace

double RunShare(UpdateStage stage, std::size_t done, std::size_t total) {
  const Part& part = kParts[static_cast<int>(stage)];
  if (total == 0 || done >= total) return part.to;
  return part.from + (part.to - part.from) * static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace lum::app
