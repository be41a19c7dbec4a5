#pragma once
// The platform's private temporary folder.

#include <QByteArray>
#include <QString>

class QFile;

namespace orvix::platform::files {

// A folder under QDir::tempPath() of mode 0700 with a random name, made when
// first needed and emptied and removed when the program ends. Two programs of
// the same user never share the fixed file names inside it. Each call checks
// that the path is still the very folder made (not a link, ours, mode 0700,
// same device and inode); when it is not, what is there is left untouched
// and a new folder with a new name is made and returned. When no folder can
// be made, the path returned lies under a file: every write into it fails.
// The first folder is made after the sweep below.
QString privateTemporaryDirectory();

// Removes `path`, a file, link or folder directly inside the current private
// folder, through the folder held open: links are removed, never followed.
// Does nothing when the path lies elsewhere or the folder fails the check.
// True when nothing is left under that name.
bool removeFromPrivateTemporaryDirectory(const QString &path);

// Opens `file` (named by a path directly inside the current private folder)
// as a new file for writing, through the folder held open; an earlier file
// of that name is replaced. False when the folder fails the check.
bool openInPrivateTemporaryDirectory(QFile &file);

// What the end of the program does, callable earlier: empties and removes
// the private folder when it passes the check; the next use makes a new one.
void removePrivateTemporaryDirectory();

// The first call in a process sweeps QDir::tempPath() with
// removeStaleTemporaryDirectories(); later calls do nothing. The kit calls it
// when a run starts.
void removeStaleTemporaryDirectoriesOnce();

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
// a marker that cannot be read included, is left alone. A folder is opened
// once and emptied through that handle, links removed, never followed.
// Returns how many folders went.
int removeStaleTemporaryDirectories(const QString &base);

} // namespace orvix::platform::files
