#pragma once
// The platform's private temporary folder.

#include <QByteArray>
#include <QString>

namespace orvix::platform::files {

// A folder under QDir::tempPath() of mode 0700 with a random name, one per
// process, removed when the program ends. Two programs of the same user
// never share the fixed file names inside it. Before the first one is made,
// such folders left behind by processes that ended without removing theirs
// (killed, crashed) are removed.
QString privateTemporaryDirectory();

// The file in each private folder that names the process that made it.
inline constexpr char ownerMarkerName[] = ".orvix-owner";
// The marker's text for the process `pid`: its id, when it started and the
// system's boot, so that a later process given the same id is told apart.
QByteArray ownerMarkerText(qint64 pid);

// Removes the folders directly under `base` that are provably left-over
// private folders: named "orvix-" and six letters or digits, a real folder
// (not a link) owned by this user with mode 0700, holding a marker file of
// this user that names a process which no longer runs (or one from an
// earlier boot, or an id now taken by a later process). Anything else,
// a marker that cannot be read included, is left alone. Returns how many
// folders went.
int removeStaleTemporaryDirectories(const QString &base);

} // namespace orvix::platform::files
