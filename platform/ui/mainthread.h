#pragma once
// Widgets may only be touched on the main thread. Qt release builds do not
// warn about most cross-thread widget calls, so every UI entry of ours checks.

namespace orvix::platform::ui {

// Stops the program with a clear message when called off the main thread
// (or before the application object exists). `where` names the caller.
void assertMainThread(const char *where);

} // namespace orvix::platform::ui
