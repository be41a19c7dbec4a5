#pragma once
// Plain console lines, the kit's only diagnostics channel.

#include <QString>
#include <functional>

namespace orvix::platform::log {

// Prints one line on standard output (a line feed is appended).
void line(const QString &text);

// Test hook: every line also goes to the sink while one is installed.
// Returns the previous sink.
using Sink = std::function<void(const QString &)>;
Sink setSink(Sink sink);

} // namespace orvix::platform::log
