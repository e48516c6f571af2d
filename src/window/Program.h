#pragma once

#include <QStringList>
#include <optional>

#include "window/UserPrompts.h"

namespace varek {

// The whole program on a running QApplication. arguments are the application's
// (the program first); an optional single one names the game folder, otherwise
// the program's own folder is used. Gives the exit status: 0 after the window
// was closed, non-zero when start-up failed and the window was never shown.
//
// Environment variables serve the demo and the measurements:
// VAREK_SCREENSHOT=<file> saves a picture of the window once the first image is
// painted and ends the program; with VAREK_SCREENSHOT_PLAYING=1 too, the picture
// is taken a moment into playback of the first animation instead, and with
// VAREK_SCREENSHOT_TOOLS=1 the palette dock is open and the mouse rests on the
// picture.
// VAREK_TRACE_STARTUP=<nanoseconds since the epoch at launch> prints how long it
// took until the first image was painted.
int RunProgram(const QStringList& arguments, UserPrompts& prompts);

// Answers --help and --version on standard output, and tells of unknown options
// on standard error, before any window is made: the exit status then, or nothing
// when the window is wanted. Needs only a QCoreApplication.
std::optional<int> AnswerWithoutWindow(const QStringList& arguments);

}  // namespace varek
