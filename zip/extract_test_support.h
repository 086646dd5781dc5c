// Shared by the extraction tests: an engine with an event recorder, opened on an archive held
// in memory.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/engine_events.h"
#include "tests/support/zip_builder.h"
#include "zip/variant.h"
#include "zip/zip_engine.h"

namespace lum::test {

// An engine with a recorder, opened on `archive` in memory; the recorder starts empty.
struct Opened {
  EventRecorder r;
  zip::cZipEngine z;
  explicit Opened(const Bytes& archive) {
    z.SetEvents(&r);
    EXPECT_TRUE(z.OpenArchive(zip::Variant(archive))) << z.LastError();
    r.Clear();
  }
};

}  // namespace lum::test
