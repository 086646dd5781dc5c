#include "zip/variant.h"

#include <cmath>
#include <cstdio>

namespace lum::zip {

std::string Variant::ToText() const {
  if (IsText()) return Text();
  if (IsBool()) return Bool() ? "True" : "False";
  if (IsNumber()) {
    double v = Number();
    char buf[40];
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
      std::snprintf(buf, sizeof buf, "%.0f", v);
    } else {
      std::snprintf(buf, sizeof buf, "%.15g", v);
    }
    return buf;
  }
  return std::string();
}

}  // namespace lum::zip
