#include <cmath>

#include "platform/win32/gdi.h"
#include "platform/win32/native_window.h"

namespace lum::platform {

namespace {

// Twips per pixel along one axis of the screen (LOGPIXELSX or LOGPIXELSY).
std::optional<double> TwipsPerPixel(int axis) {
  const win32::ScreenDc screen(::GetDC(nullptr));
  if (!screen) return std::nullopt;
  const int dotsPerInch = ::GetDeviceCaps(screen.get(), axis);
  if (dotsPerInch <= 0) return std::nullopt;
  return 1440.0 / dotsPerInch;
}

std::optional<double> Twips(std::optional<double> pixels, int axis) {
  const auto perPixel = TwipsPerPixel(axis);
  if (!pixels || !perPixel) return std::nullopt;
  return *pixels * *perPixel;
}

}  // namespace

std::optional<RECT> NativeWindow::Bounds() const {
  RECT bounds{};
  if (!::IsWindow(m_window) || !::GetWindowRect(m_window, &bounds)) return std::nullopt;
  return bounds;
}

std::optional<std::int32_t> NativeWindow::WindowState() const {
  if (!::IsWindow(m_window)) return std::nullopt;
  if (::IsIconic(m_window)) return kWindowMinimised;
  if (::IsZoomed(m_window)) return kWindowMaximised;
  return kWindowNormal;
}

bool NativeWindow::SetWindowState(std::int32_t state) {
  if (!::IsWindow(m_window)) return false;
  const int command = state == kWindowNormal      ? SW_RESTORE
                      : state == kWindowMinimised ? SW_MINIMIZE
                      : state == kWindowMaximised ? SW_MAXIMIZE
                                                  : -1;
  if (command < 0) return false;
  ::ShowWindow(m_window, command);
  return true;
}

std::optional<double> NativeWindow::Left() const {
  const auto bounds = Bounds();
  return Twips(bounds ? std::optional<double>(bounds->left) : std::nullopt, LOGPIXELSX);
}

std::optional<double> NativeWindow::Top() const {
  const auto bounds = Bounds();
  return Twips(bounds ? std::optional<double>(bounds->top) : std::nullopt, LOGPIXELSY);
}

std::optional<double> NativeWindow::Width() const {
  const auto bounds = Bounds();
  return Twips(bounds ? std::optional<double>(bounds->right - bounds->left) : std::nullopt,
               LOGPIXELSX);
}

std::optional<double> NativeWindow::Height() const {
  const auto bounds = Bounds();
  return Twips(bounds ? std::optional<double>(bounds->bottom - bounds->top) : std::nullopt,
               LOGPIXELSY);
}

bool NativeWindow::Move(double left, double top, double width, double height) {
  const auto state = WindowState();
  if (!state || *state != kWindowNormal) return false;
  const auto perX = TwipsPerPixel(LOGPIXELSX);
  const auto perY = TwipsPerPixel(LOGPIXELSY);
  if (!perX || !perY) return false;
  bool fits = true;
  const auto pixels = [&fits](double twips, double perPixel) {
    const double value = std::nearbyint(twips / perPixel);
    if (!(value >= -1e8 && value <= 1e8)) {
      fits = false;
      return 0;
    }
    return static_cast<int>(value);
  };
  const int x = pixels(left, *perX), y = pixels(top, *perY);
  const int cx = pixels(width, *perX), cy = pixels(height, *perY);
  return fits && ::MoveWindow(m_window, x, y, cx, cy, TRUE) != 0;
}

std::optional<double> NativeScreen::Width() const {
  return Twips(::GetSystemMetrics(SM_CXSCREEN), LOGPIXELSX);
}

std::optional<double> NativeScreen::Height() const {
  return Twips(::GetSystemMetrics(SM_CYSCREEN), LOGPIXELSY);
}

std::optional<double> NativeScreen::TwipsPerPixelX() const {
  return TwipsPerPixel(LOGPIXELSX);
}

std::optional<double> NativeScreen::TwipsPerPixelY() const {
  return TwipsPerPixel(LOGPIXELSY);
}

Screen& SystemScreen() {
  static NativeScreen screen;
  return screen;
}

}  // namespace lum::platform
