// The updater's entry: Main prepares the common controls and shows the window without
// waiting; the program then lives in the window's message loop until the update run, started
// by the window's activation, ends it.
#include <cstdint>
#include <string>

#include "app/updater_form.h"
#include "platform/console.h"
#include "platform/progress_window.h"
#include "platform/shell.h"

namespace lum::app {

// Returns false when the window could not be shown; that has been reported by then.
bool Main(fUpdater& form) {
  const platform::CommonControlsInit init;  // size 8, the standard control classes

  // Neither a missing shell32 nor a common-controls library without the extended call is
  // an error: the older initialisation does the same job.
  platform::Library shell32 = platform::Library::Load("shell32.dll");
  if (!platform::InitCommonControlsEx(init)) platform::InitCommonControls();

  std::uint32_t error = 0;
  std::string errorText;
  if (!form.Show(error, errorText)) {
    platform::ShowMessageBox(nullptr,
                             "Error " + std::to_string(error) + " (" + errorText +
                                 ") in procedure Main of Modulo modMain",
                             "Updater", platform::MessageIcon::kNone);
    return false;
  }
  shell32.Free();
  return true;
}

}  // namespace lum::app

int main(int argc, char** argv) {
  // A closed or broken standard error must never stop an update half way.
  lum::platform::PrepareStandardStreams();
  static lum::app::fUpdater form(argc, argv);
  if (!lum::app::Main(form)) return 1;
  return lum::platform::RunMessageLoop();
}
