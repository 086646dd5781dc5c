#include "platform/window.h"

namespace lum::platform {

// No native screen here: the terminal front end has none, so the model's defaults stand in.
Screen& SystemScreen() {
  static ScreenModel screen;
  return screen;
}

}  // namespace lum::platform
