#pragma once

#include <functional>

class QWidget;

namespace varek {

// The one way the window runs work off the GUI thread that the user waits for.
// Work nobody waits for (thumbnails, a file's facts) goes to Qt's thread pool
// through QtConcurrent, its results handed back by a QFutureWatcher; the rule
// below holds for both.
//
// The rule: the GUI thread never waits on a worker without serving events. A
// worker may hand the GUI thread a call and wait for its answer (a blocking queued
// call), and the window must go on drawing itself meanwhile; a GUI thread blocked
// in a join, on a lock or polling in a sleep would leave the window dead, or both
// threads waiting on each other.
//
// Runs work on a thread of its own and serves the GUI thread's events until the
// worker says, through a queued call, that work has returned; then returns, or
// rethrows what work threw. User input (clicks, keys) is held back until inputTo
// is visible: a window-modal progress dialog, which once shown takes the input in
// the window's place, so the window never acts on a click in the middle of the
// work. When no thread can be started, work runs here, serving no events.
void RunInBackground(const std::function<void()>& work, const QWidget* inputTo);

}  // namespace varek
