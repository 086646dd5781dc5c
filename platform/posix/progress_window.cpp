// POSIX side of the progress window: the window model drawn on standard error.
//
// On a terminal the window is one block of lines (title, then each label's caption, a label
// that another one grows over drawn as a bar with its caption inside), redrawn in place with
// ANSI cursor movements. Otherwise each change of what the window shows becomes one plain
// line of the captions a user would read, top to bottom ("Updating ... 32/301 (11%)"), with
// runs of blanks folded into one. Identical lines are dropped, so a long entry does not
// flood the output. A write that fails (a closed or broken standard error) is ignored.
#include "platform/progress_window.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace lum::platform {

namespace {

constexpr int kColumns = 48;  // 7200 twips at 150 twips per column
constexpr int kTwipsPerColumn = 150;

std::string Centre(const std::string& text, int columns) {
  const int length = static_cast<int>(text.size());
  if (length >= columns) return text.substr(0, static_cast<std::size_t>(columns));
  const int before = (columns - length) / 2;
  return std::string(static_cast<std::size_t>(before), ' ') + text +
         std::string(static_cast<std::size_t>(columns - length - before), ' ');
}

}  // namespace

struct ProgressWindow::Impl {
  const WindowView& view;
  ProgressWindowEvents& events;
  bool shown = false;
  bool activated = false;
  bool dirty = false;
  bool terminal = isatty(STDERR_FILENO) != 0;
  int linesDrawn = 0;
  std::string lastDrawn;

  Impl(const WindowView& v, ProgressWindowEvents& e) : view(v), events(e) {}

  // Index of the label that grows over label `index`, or -1.
  int FillerOf(int index) const {
    for (std::size_t i = 0; i < view.labels.size(); ++i) {
      if (view.labels[i].fills == index) return static_cast<int>(i);
    }
    return -1;
  }

  // Labels that stand on their own, top to bottom.
  std::vector<int> Rows() const {
    std::vector<int> rows;
    for (std::size_t i = 0; i < view.labels.size(); ++i) {
      if (view.labels[i].fills < 0) rows.push_back(static_cast<int>(i));
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [&](int a, int b) { return view.labels[a].top < view.labels[b].top; });
    return rows;
  }

  std::string PlainLine() const {
    std::string line;
    for (int index : Rows()) {
      for (char c : view.labels[index].caption) {
        if (c == ' ' && (line.empty() || line.back() == ' ')) continue;
        line += c;
      }
      if (!line.empty() && line.back() != ' ') line += ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  }

  std::vector<std::string> Block() const {
    std::vector<std::string> lines;
    lines.push_back("\x1b[1m" + Centre(view.title, kColumns) + "\x1b[0m");
    for (int index : Rows()) {
      const LabelView& label = view.labels[index];
      const int filler = FillerOf(index);
      if (filler < 0) {
        lines.push_back(Centre(label.caption, kColumns));
        continue;
      }
      const int cells = std::max(1, static_cast<int>(label.width) / kTwipsPerColumn);
      const double share = label.width > 0 ? view.labels[filler].width / label.width : 0;
      const int filled = std::clamp(static_cast<int>(share * cells), 0, cells);
      const std::string text = Centre(label.caption, cells);
      lines.push_back(" \x1b[30;42m" + text.substr(0, static_cast<std::size_t>(filled)) +
                      "\x1b[30;47m" + text.substr(static_cast<std::size_t>(filled)) + "\x1b[0m");
    }
    return lines;
  }

  void Draw() {
    dirty = false;
    if (!shown) return;
    if (!terminal) {
      const std::string line = PlainLine();
      if (line == lastDrawn) return;
      lastDrawn = line;
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
      return;
    }
    const std::vector<std::string> lines = Block();
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    if (all == lastDrawn) return;
    lastDrawn = all;
    std::string out;
    if (linesDrawn > 0) out += "\x1b[" + std::to_string(linesDrawn) + "A";
    for (const auto& line : lines) out += "\r\x1b[2K" + line + "\n";
    linesDrawn = static_cast<int>(lines.size());
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
  }
};

namespace {
std::vector<ProgressWindow::Impl*> g_windows;  // the shown windows, in the order shown
}

ProgressWindow::ProgressWindow(const WindowView& view, ProgressWindowEvents& events)
    : m_impl(std::make_unique<Impl>(view, events)) {}

ProgressWindow::~ProgressWindow() {
  if (m_impl) std::erase(g_windows, m_impl.get());
}
ProgressWindow::ProgressWindow(ProgressWindow&&) noexcept = default;
ProgressWindow& ProgressWindow::operator=(ProgressWindow&& other) noexcept {
  if (this != &other) {
    if (m_impl) std::erase(g_windows, m_impl.get());
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

bool ProgressWindow::Show(std::uint32_t&, std::string&) {
  if (!m_impl->shown) {
    m_impl->events.Load();
    m_impl->shown = true;
    g_windows.push_back(m_impl.get());
  }
  m_impl->Draw();
  return true;
}

void ProgressWindow::Invalidate() {
  m_impl->dirty = true;
}
void ProgressWindow::Refresh() {
  m_impl->Draw();
}
void* ProgressWindow::NativeHandle() const {
  return nullptr;
}

void DoEvents() {
  for (ProgressWindow::Impl* window : g_windows) {
    if (window->dirty) window->Draw();
  }
}

int RunMessageLoop() {
  // A shown window becomes active once; its activation handler usually ends the program.
  for (std::size_t i = 0; i < g_windows.size(); ++i) {
    ProgressWindow::Impl* window = g_windows[i];
    if (!window->activated) {
      window->activated = true;
      window->events.Activate();
    }
  }
  return 0;
}

}  // namespace lum::platform
