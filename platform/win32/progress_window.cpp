// Windows side of the progress window: a fixed-size top-level window whose labels are drawn
// by the window itself.
//
// Label geometry is kept in twips, a label's width as a fraction of a twip; every edge is
// converted to pixels at the window's DPI when painting, so a bar grows exactly as its width
// in twips says and an empty (1-twip) bar draws nothing. Painting goes through an off-screen
// bitmap, so the frequent repaints during an extraction do not flicker. Backgrounds are
// painted in list order first and captions on top, so the progress text stays readable
// while the green bar grows over it.
//
// The first activation is handed to the owner through a posted message, so that the update
// run starts from the message loop rather than inside ShowWindow; if the system shows the
// window without activating it, the run is started all the same.
#include "platform/progress_window.h"

#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/win32/gdi.h"
#include "platform/win32/wide.h"

namespace lum::platform {

namespace {

constexpr wchar_t kClassName[] = L"LumetraUpdaterWindow";
constexpr UINT kMsgActivated = WM_APP + 1;
constexpr int kIconResource = 1;

int TwipsToPixels(double twips, int dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

COLORREF ToColorRef(const Colour& colour) {
  switch (colour.kind) {
    case Colour::Kind::kWindow:
      return ::GetSysColor(COLOR_WINDOW);
    case Colour::Kind::kWindowText:
      return ::GetSysColor(COLOR_WINDOWTEXT);
    case Colour::Kind::kButtonFace:
      return ::GetSysColor(COLOR_BTNFACE);
    case Colour::Kind::kButtonText:
      return ::GetSysColor(COLOR_BTNTEXT);
    case Colour::Kind::kRgb:
      break;
  }
  return RGB(colour.red, colour.green, colour.blue);
}

void FillColour(HDC dc, const RECT& rect, const Colour& colour) {
  const win32::GdiObject<HBRUSH> brush(::CreateSolidBrush(ToColorRef(colour)));
  ::FillRect(dc, &rect, brush.get());
}

RECT LabelRect(const LabelView& label, int dpi) {
  RECT rect;
  rect.left = TwipsToPixels(label.left, dpi);
  rect.top = TwipsToPixels(label.top, dpi);
  rect.right = TwipsToPixels(static_cast<double>(label.left) + label.width, dpi);
  rect.bottom = TwipsToPixels(static_cast<double>(label.top) + label.height, dpi);
  return rect;
}

std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return win32::Narrow(text);
}

}  // namespace

struct ProgressWindow::Impl {
  const WindowView& view;
  ProgressWindowEvents& events;
  HWND hwnd = nullptr;
  bool activationPosted = false;
  bool activated = false;

  Impl(const WindowView& v, ProgressWindowEvents& e) : view(v), events(e) {}
  ~Impl() {
    if (hwnd != nullptr) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      ::DestroyWindow(hwnd);
    }
  }

  void PostActivation() {
    if (activationPosted) return;
    activationPosted = true;
    ::PostMessageW(hwnd, kMsgActivated, 0, 0);
  }

  void Paint(HDC target) {
    RECT client;
    ::GetClientRect(hwnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    const int dpi = ::GetDeviceCaps(target, LOGPIXELSX);

    const win32::MemoryDc memory(::CreateCompatibleDC(target));
    const win32::GdiObject<HBITMAP> bitmap(::CreateCompatibleBitmap(target, width, height));
    const win32::Selection drawOnBitmap(memory.get(), bitmap.get());
    HDC dc = memory.get();

    FillColour(dc, client, view.back);
    for (const LabelView& label : view.labels) {
      const RECT rect = LabelRect(label, dpi);
      if (rect.right > rect.left && rect.bottom > rect.top) FillColour(dc, rect, label.back);
    }
    ::SetBkMode(dc, TRANSPARENT);
    for (const LabelView& label : view.labels) {
      if (label.caption.empty()) continue;
      const win32::GdiObject<HFONT> font(::CreateFontW(
          -TwipsToPixels(label.font.points * 20.0, dpi), 0, 0, 0, label.font.weight, FALSE, FALSE,
          FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
          DEFAULT_PITCH | FF_DONTCARE, win32::Widen(label.font.face).c_str()));
      const win32::Selection useFont(dc, font.get());
      ::SetTextColor(dc, ToColorRef(label.text));
      RECT rect = LabelRect(label, dpi);
      std::wstring caption = win32::Widen(label.caption);
      ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

    ::BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    try {
      switch (message) {
        case WM_ACTIVATE:
          if (LOWORD(wParam) != WA_INACTIVE) self->PostActivation();
          break;
        case kMsgActivated:
          if (!self->activated) {
            self->activated = true;
            self->events.Activate();
          }
          return 0;
        case WM_ERASEBKGND:
          return 1;  // Paint covers the whole client area
        case WM_PAINT: {
          PAINTSTRUCT paint;
          HDC dc = ::BeginPaint(hwnd, &paint);
          self->Paint(dc);
          ::EndPaint(hwnd, &paint);
          return 0;
        }
        case WM_CLOSE: {
          bool cancel = false;
          self->events.QueryUnload(cancel);
          if (!cancel) ::DestroyWindow(hwnd);
          return 0;
        }
        case WM_DESTROY:
          self->hwnd = nullptr;
          ::PostQuitMessage(0);
          return 0;
        default:
          break;
      }
    } catch (...) {
      // Nothing may unwind through the window system.
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }

  bool Create(std::uint32_t& error, std::string& errorText) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    static const ATOM atom = [instance] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.style = CS_HREDRAW | CS_VREDRAW;
      wc.lpfnWndProc = &Impl::Procedure;
      wc.hInstance = instance;
      wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                 ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
      wc.hIconSm = static_cast<HICON>(::LoadImageW(
          instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
          ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
      wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
      wc.lpszClassName = kClassName;
      return ::RegisterClassExW(&wc);
    }();
    if (atom == 0) {
      error = ::GetLastError();
      errorText = ErrorText(error);
      return false;
    }

    const int dpi = [] {
      const win32::ScreenDc screen(::GetDC(nullptr));
      return screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
    }();
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, TwipsToPixels(view.clientWidth, dpi), TwipsToPixels(view.clientHeight, dpi)};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;

    hwnd = ::CreateWindowExW(0, kClassName, win32::Widen(view.title).c_str(), style, x, y, width,
                             height, nullptr, nullptr, instance, this);
    if (hwnd == nullptr) {
      error = ::GetLastError();
      errorText = ErrorText(error);
      return false;
    }
    return true;
  }
};

ProgressWindow::ProgressWindow(const WindowView& view, ProgressWindowEvents& events)
    : m_impl(std::make_unique<Impl>(view, events)) {}
ProgressWindow::~ProgressWindow() = default;
ProgressWindow::ProgressWindow(ProgressWindow&&) noexcept = default;
ProgressWindow& ProgressWindow::operator=(ProgressWindow&&) noexcept = default;

bool ProgressWindow::Show(std::uint32_t& error, std::string& errorText) {
  if (m_impl->hwnd == nullptr) {
    if (!m_impl->Create(error, errorText)) return false;
    m_impl->events.Load();
  }
  ::ShowWindow(m_impl->hwnd, SW_SHOW);
  ::UpdateWindow(m_impl->hwnd);
  m_impl->PostActivation();
  return true;
}

void ProgressWindow::Invalidate() {
  if (m_impl->hwnd != nullptr) ::InvalidateRect(m_impl->hwnd, nullptr, FALSE);
}

void ProgressWindow::Refresh() {
  if (m_impl->hwnd == nullptr) return;
  ::InvalidateRect(m_impl->hwnd, nullptr, FALSE);
  ::UpdateWindow(m_impl->hwnd);
}

void* ProgressWindow::NativeHandle() const {
  return m_impl->hwnd;
}

void DoEvents() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));  // leave it for the message loop
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

int RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace lum::platform
