// The native side of the updater's progress window: a small fixed-size window that shows a
// set of labels (rectangles with a background colour and a caption) described by the
// program, and that tells the program when it has been loaded and activated.
//
// Windows: a real top-level window whose labels are custom-drawn (sub-pixel widths in twips
// are converted to pixels at the window's DPI when painting). POSIX: the same model drawn on
// the terminal when standard error is one (one block, redrawn in place), otherwise one plain
// line on standard error per change.
//
// All lengths are twips (1/1440 inch; 15 twips per pixel at 96 DPI). Text is UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lum::platform {

// A colour: either fixed red/green/blue or one of the system's colours.
struct Colour {
  enum class Kind { kRgb, kWindow, kWindowText, kButtonFace, kButtonText };
  Kind kind = Kind::kRgb;
  std::uint8_t red = 0, green = 0, blue = 0;

  static Colour Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return Colour{Kind::kRgb, r, g, b};
  }
  static Colour System(Kind kind) { return Colour{kind, 0, 0, 0}; }
  bool operator==(const Colour&) const = default;
};

struct LabelFont {
  std::string face;
  int weight = 400;    // 100..900, 400 normal, 600 semibold
  float points = 8.0;  // size in points
  bool operator==(const LabelFont&) const = default;
};

// One label. Backgrounds of all labels are painted in list order first, then all captions,
// so a label that grows over another (`fills` names the one it covers) never hides that
// one's caption.
struct LabelView {
  std::string name;
  std::int32_t left = 0, top = 0;
  float width = 0;  // kept as a fraction of a twip; converted to pixels only when drawn
  std::int32_t height = 0;
  std::string caption;
  Colour back, text;
  LabelFont font;
  int fills = -1;  // index of the label this one grows over from its left edge, or -1
};

struct WindowView {
  std::string title;
  std::int32_t clientWidth = 0, clientHeight = 0;  // twips
  Colour back = Colour::System(Colour::Kind::kButtonFace);
  std::vector<LabelView> labels;
};

// What the window tells its owner. Called on the thread that runs the message loop; none of
// them may throw.
class ProgressWindowEvents {
 public:
  virtual ~ProgressWindowEvents() = default;
  // The window is being loaded (created, not yet visible).
  virtual void Load() = 0;
  // The window has become active for the first time.
  virtual void Activate() = 0;
  // A close request (from the user or the system). Setting `cancel` keeps the window open.
  virtual void QueryUnload(bool& cancel) = 0;
};

// The window. It draws `view`, which the owner keeps alive and may change at any time; call
// Invalidate (or Refresh) after a change. Move-only; the native window lives as long as this.
class ProgressWindow {
 public:
  ProgressWindow(const WindowView& view, ProgressWindowEvents& events);
  ~ProgressWindow();
  ProgressWindow(ProgressWindow&&) noexcept;
  ProgressWindow& operator=(ProgressWindow&&) noexcept;
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Creates the window if needed, raises Load, and shows it without waiting. Activation
  // follows through the message loop (RunMessageLoop). Returns false when the window could
  // not be created; then `error` holds the system's error code and `errorText` its message.
  bool Show(std::uint32_t& error, std::string& errorText);
  // Marks the labels as changed; they are drawn again when messages are next processed.
  void Invalidate();
  // Draws the window at once.
  void Refresh();
  // The native window handle (HWND on Windows; nullptr on POSIX).
  void* NativeHandle() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

// Processes every pending window message, then returns (the program's DoEvents).
void DoEvents();

// Runs the message loop until no window is left; returns the exit status to use.
int RunMessageLoop();

}  // namespace lum::platform
