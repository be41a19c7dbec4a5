#pragma once
// Main queue and global queue.

#include <functional>

namespace orvix::platform::dispatch {

// Runs the work later on the main (GUI) thread's event loop, never inline.
void asyncMain(std::function<void()> work);

// Runs the work on a worker thread of the global pool.
void asyncGlobal(std::function<void()> work);

bool isMainThread();

} // namespace orvix::platform::dispatch
