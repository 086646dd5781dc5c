// The Window and Screen interfaces over a real window, and a placement saved and restored through
// clsIniFile with the system's screen.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32/native_window.h"
#include "settings/ini_file.h"

namespace lum::platform {
namespace {

// A plain top-level window, destroyed with the object.
class TestWindow {
 public:
  TestWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumPlacementTest";
    ::RegisterClassW(&windowClass);  // fails harmlessly when already registered
    m_window = ::CreateWindowExW(0, L"LumPlacementTest", L"placement", WS_OVERLAPPEDWINDOW, 100, 80,
                                 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  ~TestWindow() {
    if (m_window) ::DestroyWindow(m_window);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return m_window; }

 private:
  HWND m_window = nullptr;
};

// Without a display (wine with no X server) no window can be made; that is the environment,
// not a fault of the code under test.
#define LUM_NEED_WINDOW(handle) \
  if (!(handle).get()) GTEST_SKIP() << "no window can be created here (no display?)"

TEST(NativeWindow, ReportsAndMovesInTwips) {
  TestWindow handle;
  LUM_NEED_WINDOW(handle);
  NativeWindow window(handle.get());
  NativeScreen screen;
  const double perPixel = screen.TwipsPerPixelX().value();
  EXPECT_GT(perPixel, 0);
  EXPECT_EQ(screen.Width().value(), ::GetSystemMetrics(SM_CXSCREEN) * perPixel);

  EXPECT_EQ(window.WindowState(), kWindowNormal);
  EXPECT_EQ(window.Left(), 100 * perPixel);
  EXPECT_EQ(window.Width(), 300 * perPixel);
  ASSERT_TRUE(window.Move(50 * perPixel, 60 * perPixel, 320 * perPixel, 240 * perPixel));
  EXPECT_EQ(window.Left(), 50 * perPixel);
  EXPECT_EQ(window.Top(), 60 * screen.TwipsPerPixelY().value());
  EXPECT_EQ(window.Height(), 240 * screen.TwipsPerPixelY().value());

  ASSERT_TRUE(window.SetWindowState(kWindowMaximised));
  EXPECT_EQ(window.WindowState(), kWindowMaximised);
  EXPECT_FALSE(window.Move(0, 0, 1000, 1000)) << "a maximised window has no position to change";
  ASSERT_TRUE(window.SetWindowState(kWindowNormal));
  EXPECT_EQ(window.WindowState(), kWindowNormal);
  EXPECT_FALSE(window.SetWindowState(7));
}

TEST(NativeWindow, GoneWindowReportsFailure) {
  HWND gone = nullptr;
  {
    TestWindow handle;
    gone = handle.get();
  }
  NativeWindow window(gone);
  EXPECT_FALSE(window.WindowState());
  EXPECT_FALSE(window.Left());
  EXPECT_FALSE(window.Move(0, 0, 100, 100));
  EXPECT_FALSE(window.SetWindowState(kWindowMaximised));

  settings::clsIniFile ini;
  ini.Path((std::filesystem::temp_directory_path() / "lum-gone-window.ini").string());
  ini.Section("Window");
  ini.SaveWindowPlacement(window);
  EXPECT_EQ(ini.LastReturnCode(), 0);
  EXPECT_FALSE(std::filesystem::exists(ini.Path()));
}

TEST(NativeWindow, PlacementRoundTripThroughTheSettingsFile) {
  TestWindow handle;
  LUM_NEED_WINDOW(handle);
  NativeWindow window(handle.get());
  const double perPixel = SystemScreen().TwipsPerPixelX().value();
  ASSERT_TRUE(window.Move(40 * perPixel, 30 * perPixel, 400 * perPixel, 300 * perPixel));

  const auto path = std::filesystem::temp_directory_path() / "lum-native-window.ini";
  std::filesystem::remove(path);
  settings::clsIniFile ini;
  ini.Path(path.string());
  ini.Section("Main window");
  ini.SaveWindowPlacement(window);
  ASSERT_TRUE(ini.Success());

  ASSERT_TRUE(window.Move(0, 0, 100 * perPixel, 100 * perPixel));
  ini.RestoreWindowPlacement(window, 0, 0);
  EXPECT_TRUE(ini.Success());
  EXPECT_EQ(window.Left(), 40 * perPixel);
  EXPECT_EQ(window.Width(), 400 * perPixel);
  EXPECT_EQ(window.WindowState(), kWindowNormal);

  ini.Key("Maximised");
  ini.Value("1");
  ini.RestoreWindowPlacement(window, 0, 0);
  EXPECT_EQ(window.WindowState(), kWindowMaximised);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace lum::platform
