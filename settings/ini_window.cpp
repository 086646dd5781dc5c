// Saving and restoring a window's placement under fixed keys of the current section.
//
// Lengths are twips throughout, whole numbers once read back. Restoring keeps a margin of 4 pixels
// from every screen edge: first the left and top edges are pushed inside the margin, then a window
// that would reach past the right or bottom margin is moved back, and if it still does not fit it
// is narrowed (shortened) to end at the margin. A window that ends up smaller than the minimum
// size is left where it is, but its maximised state is still restored.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "settings/ini_file.h"

namespace lum::settings {

namespace {

// Any step that cannot be done ends the operation; the caller reports it as LastReturnCode 0.
struct PlacementFailed {};

template <typename T>
T Need(std::optional<T> value) {
  if (!value) throw PlacementFailed{};
  return *value;
}

// A length as a 32-bit integer: nearest, halves to even; a failure when it is not a number or
// does not fit.
std::int32_t Whole(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw PlacementFailed{};
  return static_cast<std::int32_t>(rounded);
}

// A window property as text: whole numbers without a fraction, others with up to 15 significant
// digits. The decimal point is a period (Value would turn a comma into one anyway).
std::string NumberText(double value) {
  if (!std::isfinite(value)) throw PlacementFailed{};
  char text[32];
  std::snprintf(text, sizeof text, "%.15G", value);
  return text;
}

// Sets Key and Default on construction, gives them back on every way out.
class KeyScope {
 public:
  KeyScope(clsIniFile& ini) : m_ini(ini), m_key(ini.Key()), m_default(ini.Default()) {}
  ~KeyScope() {
    m_ini.Key(m_key);
    m_ini.Default(m_default);
  }
  KeyScope(const KeyScope&) = delete;
  KeyScope& operator=(const KeyScope&) = delete;

 private:
  clsIniFile& m_ini;
  std::string m_key;
  std::string m_default;
};

}  // namespace

void clsIniFile::SaveWindowPlacement(platform::Window& window) {
  try {
    KeyScope scope(*this);
    const std::int32_t state = Need(window.WindowState());
    if (state == platform::kWindowMinimised) return;
    // Read everything first, so that a window that cannot answer writes nothing.
    std::string left, top, width, height;
    if (state != platform::kWindowMaximised) {
      left = NumberText(Need(window.Left()));
      top = NumberText(Need(window.Top()));
      width = NumberText(Need(window.Width()));
      height = NumberText(Need(window.Height()));
    }
    Key("Maximised");
    Value(state == platform::kWindowMaximised ? "1" : "0");
    if (state == platform::kWindowMaximised) return;
    Key("Left");
    Value(left);
    Key("Top");
    Value(top);
    Key("Width");
    Value(width);
    Key("Height");
    Value(height);
  } catch (...) {
    m_lLastReturnCode = 0;
  }
}

void clsIniFile::RestoreWindowPlacement(platform::Window& window, double MinWidth,
                                        double MinHeight) {
  RestoreWindowPlacement(window, MinWidth, MinHeight, platform::SystemScreen());
}

void clsIniFile::RestoreWindowPlacement(platform::Window& window, double MinWidth, double MinHeight,
                                        const platform::Screen& screen) {
  try {
    KeyScope scope(*this);
    Default("FAIL");  // a missing key reads as a text that is not a number
    const auto saved = [this](const char* name, double current) {
      Key(name);
      return ToLong(Value(), Whole(current));
    };
    std::int32_t left = saved("Left", Need(window.Left()));
    std::int32_t top = saved("Top", Need(window.Top()));
    std::int32_t width = saved("Width", Need(window.Width()));
    if (width < MinWidth) width = Whole(MinWidth);
    std::int32_t height = saved("Height", Need(window.Height()));
    if (height < MinHeight) height = Whole(MinHeight);
    // A minimum that is not a number compares false above; it is still no size to keep to.
    if (std::isnan(MinWidth) || std::isnan(MinHeight)) throw PlacementFailed{};

    const std::int32_t mx = Whole(4 * Need(screen.TwipsPerPixelX()));
    const std::int32_t my = Whole(4 * Need(screen.TwipsPerPixelY()));
    const double screenWidth = Need(screen.Width());
    const double screenHeight = Need(screen.Height());
    if (mx > left) left = mx;
    if (my > top) top = my;
    // In doubles: the sums of two 32-bit lengths must not wrap.
    if (screenWidth - mx < double(left) + width) {
      left = Whole(screenWidth - mx - width);
      if (mx > left) left = mx;
      if (screenWidth - mx < double(width) + left) width = Whole(screenWidth - left - mx);
    }
    if (screenHeight - my < double(top) + height) {
      top = Whole(screenHeight - my - height);
      if (my > top) top = my;
      if (screenHeight - my < double(height) + top) height = Whole(screenHeight - top - my);
    }
    if (width >= MinWidth && height >= MinHeight) {
      if (!window.Move(left, top, width, height)) throw PlacementFailed{};
    }
    Key("Maximised");
    if (ToLong(Value(), 0) != 0 && !window.SetWindowState(platform::kWindowMaximised)) {
      throw PlacementFailed{};
    }
  } catch (...) {
    m_lLastReturnCode = 0;
  }
}

}  // namespace lum::settings
