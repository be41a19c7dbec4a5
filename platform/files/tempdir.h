#pragma once
// The platform's private temporary folder.

#include <QString>

namespace orvix::platform::files {

// A folder under QDir::tempPath() of mode 0700 with a random name, one per
// process, removed when the program ends. Two programs of the same user
// never share the fixed file names inside it.
QString privateTemporaryDirectory();

} // namespace orvix::platform::files
