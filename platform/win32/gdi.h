// Windows only: GDI handles in move-only owners.
//
// GdiObject<T> owns a pen, brush, font or bitmap (DeleteObject); MemoryDc owns a device context
// made with CreateCompatibleDC (DeleteDC); ScreenDc owns the screen's context from GetDC(nullptr)
// (ReleaseDC). Selection puts an object into a context and the previous one back when it goes
// away; declared after the object and the context, it is undone before either is released.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace lum::platform::win32 {

struct DeleteGdiObject {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
template <class Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, DeleteGdiObject>;

struct DeleteMemoryDc {
  void operator()(HDC dc) const { ::DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DeleteMemoryDc>;

struct ReleaseScreenDc {
  void operator()(HDC dc) const { ::ReleaseDC(nullptr, dc); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ReleaseScreenDc>;

class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
  ~Selection() { ::SelectObject(m_dc, m_previous); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

}  // namespace lum::platform::win32
