#pragma once
// Plain console lines, the kit's only diagnostics channel.

#include <QString>
#include <QUrl>
#include <functional>

namespace orvix::platform::log {

// Prints one line on standard output (a line feed is appended).
void line(const QString &text);

// A URL as the log may show it: scheme, host, port and path as they are, every
// query value "<redacted>" under its name, no user info, no fragment.
QString redactedURL(const QString &url);
QString redactedURL(const QUrl &url);

// Test hook: every line also goes to the sink while one is installed.
// Returns the previous sink.
using Sink = std::function<void(const QString &)>;
Sink setSink(Sink sink);

} // namespace orvix::platform::log
