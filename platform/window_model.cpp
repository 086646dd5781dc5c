#include "platform/window.h"

namespace lum::platform {

bool WindowModel::SetWindowState(std::int32_t state) {
  if (state != kWindowNormal && state != kWindowMinimised && state != kWindowMaximised) {
    return false;
  }
  m_state = state;
  return true;
}

bool WindowModel::Move(double left, double top, double width, double height) {
  if (m_state != kWindowNormal || width < 0 || height < 0) return false;
  m_left = left;
  m_top = top;
  m_width = width;
  m_height = height;
  return true;
}

}  // namespace lum::platform
