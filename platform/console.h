// What a command-line program needs to know about its standard streams: whether one is a
// terminal (to draw a progress bar or not), how wide that terminal is, and whether standard
// input can be sought (a file redirected into it) or only read once (a pipe).
#pragma once

#include <cstdint>

namespace lum::platform {

// The standard stream selectors of GetStdHandle (kStdInputHandle, ... in file.h).
// True when the stream is an interactive terminal (a console on Windows).
bool IsTerminal(std::int32_t which);
// The terminal's width in columns, or 0 when it is not a terminal or unknown.
int TerminalWidth(std::int32_t which);
// True when the stream is a regular file, so that its position can be moved.
bool IsSeekable(std::int32_t which);

// Makes the standard streams safe for a program that must finish its work whatever
// happens to them: POSIX ignores SIGPIPE (a write to a pipe whose reader has gone then just
// fails) and opens /dev/null on a closed descriptor 0, 1 or 2, so that no file the program
// opens later takes that number and receives its messages. Windows: nothing to do.
void PrepareStandardStreams();

}  // namespace lum::platform
