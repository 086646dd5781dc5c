// A window and the screen as the settings code sees them: position and size in twips, the
// window's state, and the screen's size and twips per pixel.
//
// Windows implements both over a real window handle and the system metrics
// (platform/win32/native_window.h); everywhere, WindowModel and ScreenModel are plain objects that
// hold the same properties, for front ends without native windows and for tests.
//
// Reads return nothing, and changes return false, when the window or screen cannot answer (a
// window that no longer exists, for example). None of these members throw.
#pragma once

#include <cstdint>
#include <optional>

namespace lum::platform {

// The states of "WindowState".
enum : std::int32_t { kWindowNormal = 0, kWindowMinimised = 1, kWindowMaximised = 2 };

class Window {
 public:
  virtual ~Window() = default;

  virtual std::optional<std::int32_t> WindowState() const = 0;
  virtual bool SetWindowState(std::int32_t state) = 0;
  // The outer edges, in twips, relative to the screen's top-left corner.
  virtual std::optional<double> Left() const = 0;
  virtual std::optional<double> Top() const = 0;
  virtual std::optional<double> Width() const = 0;
  virtual std::optional<double> Height() const = 0;
  // Moves and sizes the window, in twips. Fails while it is minimised or maximised, as a window
  // then has no position of its own to change.
  virtual bool Move(double left, double top, double width, double height) = 0;
};

class Screen {
 public:
  virtual ~Screen() = default;

  // The size of the screen in twips.
  virtual std::optional<double> Width() const = 0;
  virtual std::optional<double> Height() const = 0;
  virtual std::optional<double> TwipsPerPixelX() const = 0;
  virtual std::optional<double> TwipsPerPixelY() const = 0;
};

// A window that is only its properties. Move and SetWindowState change them as a window would.
class WindowModel : public Window {
 public:
  WindowModel() = default;
  WindowModel(double left, double top, double width, double height)
      : m_left(left), m_top(top), m_width(width), m_height(height) {}

  std::optional<std::int32_t> WindowState() const override { return m_state; }
  bool SetWindowState(std::int32_t state) override;
  std::optional<double> Left() const override { return m_left; }
  std::optional<double> Top() const override { return m_top; }
  std::optional<double> Width() const override { return m_width; }
  std::optional<double> Height() const override { return m_height; }
  bool Move(double left, double top, double width, double height) override;

 private:
  std::int32_t m_state = kWindowNormal;
  double m_left = 0, m_top = 0, m_width = 0, m_height = 0;
};

// A screen that is only its properties.
class ScreenModel : public Screen {
 public:
  ScreenModel() = default;
  // `widthPixels` by `heightPixels` at the given twips per pixel in both directions.
  ScreenModel(double widthPixels, double heightPixels, double twipsPerPixel)
      : m_width(widthPixels * twipsPerPixel),
        m_height(heightPixels * twipsPerPixel),
        m_twipsX(twipsPerPixel),
        m_twipsY(twipsPerPixel) {}

  std::optional<double> Width() const override { return m_width; }
  std::optional<double> Height() const override { return m_height; }
  std::optional<double> TwipsPerPixelX() const override { return m_twipsX; }
  std::optional<double> TwipsPerPixelY() const override { return m_twipsY; }

 private:
  // 1024 by 768 pixels at 96 dots per inch until told otherwise.
  double m_width = 1024 * 15.0, m_height = 768 * 15.0, m_twipsX = 15, m_twipsY = 15;
};

// The screen the program's windows are on: the primary display on Windows, a ScreenModel of
// 1024 by 768 pixels at 15 twips per pixel elsewhere. Lives as long as the program.
Screen& SystemScreen();

}  // namespace lum::platform
