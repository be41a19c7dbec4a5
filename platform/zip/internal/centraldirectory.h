#pragma once
// The central directory of a ZIP archive, found and walked the way
// libarchive's seeking reader finds and walks it, so that what it lists can
// be held against what libarchive hands over. Not installed.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <climits>
#include <vector>

namespace orvix::platform::zip::internal {

struct DirectoryEntry {
    QByteArray name;                 // as stored
    quint8 madeOn = 0;               // the system of "version made by": 3 is Unix
    quint32 externalAttributes = 0;  // on Unix, the mode in the high half

    // A Unix entry typed as neither file, folder nor link (no type counts as
    // a file, as libarchive takes it).
    bool isSpecial() const;
    // Typed a folder by its attributes (Unix mode or MS-DOS attribute).
    bool isFolder() const;
};

enum class WalkFailure { none, damaged, tooManyEntries, entryBeyondBounds };

struct Directory {
    WalkFailure failure = WalkFailure::none;
    QString why;                         // when failed
    std::vector<DirectoryEntry> entries; // in directory order; empty when failed
};

// Reads the directory of `archive` (the whole file) as libarchive would:
// the last end record in the final 16 KiB, the ZIP64 end record whenever a
// locator stands before it. Refused as damaged: whatever libarchive could
// read otherwise (a directory not found where its records say, records that
// do not add up to the count and size the end record gives, values out of
// the file). Refused as tooManyEntries, before any record is read: a count
// above maxEntries. Refused as entryBeyondBounds, before its name is copied:
// a name longer than maxNameBytes, or one that lies more than maxDepth
// folders deep ('/' and '\\' both separate; empty and "." parts do not
// count; a folder entry counts itself).
Directory walkCentralDirectory(QByteArrayView archive, int maxEntries, int maxNameBytes = 0xFFFF,
                               int maxDepth = INT_MAX);

} // namespace orvix::platform::zip::internal
