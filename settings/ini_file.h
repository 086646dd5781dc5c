// clsIniFile: one value of one INI file at a time, plus whole sections, key and section lists,
// and a window's saved placement.
//
// The caller sets Path, Section and Key (and Default for reads) and then reads or assigns Value.
// Every file access is one private-profile call of the platform (platform/profile.h); the object
// holds nothing of the file between calls. Text is UTF-8 here and goes to the file in the system's
// ANSI code page, so characters outside it do not survive a round trip on Windows.
//
// Reads never fail: a missing file, section or key reads as Default. Writes report through
// LastReturnCode (nonzero for success) and Success; no operation throws. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

namespace lum::settings {

class clsIniFile {
 public:
  // The result of the last write-type operation: nonzero for success, 0 for failure. 0 for a new
  // object, so Success is false until a write succeeds. Reads leave it alone.
  std::int32_t LastReturnCode() const { return m_lLastReturnCode; }
  bool Success() const { return m_lLastReturnCode != 0; }

  // The plain properties only store and return their text; assigning them touches no file.
  const std::string& Default() const { return m_sDefault; }
  void Default(std::string sDefault) { m_sDefault = std::move(sDefault); }
  const std::string& Path() const { return m_sPath; }
  void Path(std::string sPath) { m_sPath = std::move(sPath); }
  const std::string& Key() const { return m_sKey; }
  void Key(std::string sKey) { m_sKey = std::move(sKey); }
  const std::string& Section() const { return m_sSection; }
  void Section(std::string sSection) { m_sSection = std::move(sSection); }

  // The value of Key in Section of the file at Path, or Default; at most 254 bytes of the file's
  // text (a longer value is cut).
  std::string Value() const;
  // Writes sValue to Key in Section, creating the file, section and key as needed. Every comma
  // becomes a period (numbers written with a decimal comma read back as numbers) and NUL
  // characters are removed. A value or name holding a line break is refused.
  void Value(std::string_view sValue);

  // Remove the current key / the whole current section; LastReturnCode is the platform's result
  // (removing what does not exist succeeds).
  void DeleteKey();
  void DeleteSection();

  // The key names of the current section, each followed by a NUL (at most 8191 bytes); Default
  // when the section is missing or has no keys.
  std::string INISection() const;
  // Removes the whole current section, as the platform does for a write without a key name; the
  // text itself has no effect.
  void INISection(std::string_view sSection);
  // The names of all sections of the file, each followed by a NUL (at most 8191 bytes).
  std::string Sections() const;

  // Refill `names` with the key names of the current section (names[0] holds the first of them,
  // index 1 in a 1-based count) and set `count` to their number. Empty names are kept.
  void GetKeyList(std::vector<std::string>& names, std::int32_t& count) const;
  // The same with the section names of the file; empty names are left out.
  void GetSectionList(std::vector<std::string>& names, std::int32_t& count) const;

  // Saves the window's placement in the current section under "Maximised" ("1" or "0"), and,
  // for a normal window, "Left", "Top", "Width" and "Height" in twips. A minimised window saves
  // nothing; a maximised one saves only "Maximised". LastReturnCode: that of the last value
  // written, or 0 when the window could not be read. Key is the same afterwards.
  void SaveWindowPlacement(platform::Window& window);
  // Moves the window to its saved placement (its own where keys are missing), kept 4 pixels inside
  // the screen and no smaller than the minimum width and height (twips); when the minimum does not
  // fit on the screen the window is not moved. Then maximises it if "Maximised" is nonzero.
  // LastReturnCode: 0 on failure (the window or screen could not be read or changed, a minimum
  // that is not a number or out of range), otherwise unchanged. Key and Default are the same
  // afterwards. The first form uses the system's screen.
  void RestoreWindowPlacement(platform::Window& window, double MinWidth, double MinHeight);
  void RestoreWindowPlacement(platform::Window& window, double MinWidth, double MinHeight,
                              const platform::Screen& screen);

  // The text as a 32-bit integer: a decimal number with a period as decimal point, blanks around
  // it allowed, rounded to the nearest integer with halves to the even one. `fallback` when the
  // text is not such a number or the result does not fit.
  static std::int32_t ToLong(std::string_view text, std::int32_t fallback);

 private:
  std::string m_sPath;
  std::string m_sKey;
  std::string m_sSection;
  std::string m_sDefault;
  std::int32_t m_lLastReturnCode = 0;
};

}  // namespace lum::settings
