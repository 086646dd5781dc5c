// Local-time conversions and the clock on Windows.
#include <windows.h>

#include "platform/time.h"

namespace lum::platform {
namespace {

FILETIME ToNative(const FileTime& t) {
  FILETIME ft;
  ft.dwLowDateTime = t.Low();
  ft.dwHighDateTime = t.High();
  return ft;
}

}  // namespace

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime& local) {
  const FILETIME in = ToNative(utc);
  FILETIME out;
  if (!::FileTimeToLocalFileTime(&in, &out)) return false;
  local = FileTime::FromParts(out.dwLowDateTime, out.dwHighDateTime);
  return true;
}

bool LocalFileTimeToFileTime(const FileTime& local, FileTime& utc) {
  const FILETIME in = ToNative(local);
  FILETIME out;
  if (!::LocalFileTimeToFileTime(&in, &out)) return false;
  utc = FileTime::FromParts(out.dwLowDateTime, out.dwHighDateTime);
  return true;
}

SystemTime CurrentLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  SystemTime out;
  out.Year = st.wYear;
  out.Month = st.wMonth;
  out.DayOfWeek = st.wDayOfWeek;
  out.Day = st.wDay;
  out.Hour = st.wHour;
  out.Minute = st.wMinute;
  out.Second = st.wSecond;
  out.Milliseconds = st.wMilliseconds;
  return out;
}

FileTime CurrentFileTime() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return FileTime::FromParts(ft.dwLowDateTime, ft.dwHighDateTime);
}

}  // namespace lum::platform
