// The Window and Screen interfaces over a real window and the primary display.
#pragma once

#include <windows.h>

#include "platform/window.h"

namespace lum::platform {

// A window of the program, by its handle. It does not own the window (whoever created it destroys
// it); once the window is gone every member reports failure.
class NativeWindow : public Window {
 public:
  explicit NativeWindow(HWND window) : m_window(window) {}

  std::optional<std::int32_t> WindowState() const override;
  bool SetWindowState(std::int32_t state) override;
  std::optional<double> Left() const override;
  std::optional<double> Top() const override;
  std::optional<double> Width() const override;
  std::optional<double> Height() const override;
  bool Move(double left, double top, double width, double height) override;

 private:
  std::optional<RECT> Bounds() const;
  HWND m_window;
};

// The primary display: its size from the system metrics, its twips per pixel from the logical
// dots per inch of the screen's device context.
class NativeScreen : public Screen {
 public:
  std::optional<double> Width() const override;
  std::optional<double> Height() const override;
  std::optional<double> TwipsPerPixelX() const override;
  std::optional<double> TwipsPerPixelY() const override;
};

}  // namespace lum::platform
