#pragma once
// ZIP archives on libarchive: safe extraction of password-protected archives
// (traditional PKWARE and WinZip AES AE-1/AE-2, stored or deflated).

#include <QString>
#include <QtGlobal>

#include <optional>

namespace orvix::platform::zip {

// Upper bound on the bytes one extraction may write: four times the largest
// document the kit reads, so that a small archive cannot make it inflate and
// write far more than it will ever use.
inline constexpr qint64 kMaxExtractedBytes = 16 * 1024 * 1024;
// Bounds on the entries, from the shape of the authority's archive (one
// document under a short flat name) with a margin: at most this many
// entries, each name at most kMaxNameBytes long as stored and at most
// kMaxDepth folders deep.
inline constexpr int kMaxEntries = 16;
inline constexpr int kMaxNameBytes = 255;
inline constexpr int kMaxDepth = 8;
// Upper bound on the size of an archive file the kit will open: far above a
// real offline e-KYC archive (tens of kilobytes), and above a stored archive
// of the largest document the kit accepts.
inline constexpr qint64 kMaxArchiveBytes = 8 * 1024 * 1024;

// Why an extraction failed, as far as the format tells.
enum class UnzipFailure {
    none,
    wrongPassword,     // no password, or not the one the entries were locked with
    damaged,           // not a ZIP archive, truncated, data failing its CRC or authentication code,
                       // or entry names that clash
    unsupportedMethod, // a compression or encryption method this reader lacks
    unsafeEntry,       // absolute, "..", link or special entries, a path through a link,
                       // more entries or more bytes than allowed
    fileAccess,        // the archive is missing, or the destination cannot be written
};

struct UnzipError {
    UnzipFailure failure = UnzipFailure::none;
    QString text; // what and where; never the password

    // The kind in words, then the text.
    QString description() const;
};

// Extracts every entry of the archive at `path` into `destination` (created
// when missing). Encrypted entries are opened with `password`; unencrypted
// entries need none.
//
// Refused before libarchive reads an entry: an archive larger than
// kMaxArchiveBytes, a central directory listing more than `maxEntries`
// entries, a name longer than kMaxNameBytes or more than kMaxDepth folders
// deep (a folder entry counts itself), or a directory libarchive could read
// otherwise (the walk and libarchive must list the same names in the same
// order; anything else is damaged). Each of these costs one pass over the
// directory at most.
//
// Refused, as a failure: entry paths that are absolute or hold a ".."
// component (a backslash counts as a separator), link and special entries,
// paths that would pass through a link or a file already in the
// destination, more than `maxEntries` entries and more than `maxTotalBytes`
// of extracted data (counted as written). Refused as damaged: a name that
// repeats an earlier entry's, and a file where another entry needs a folder
// (names compare case-folded and composed, as a case-insensitive file system
// would). Names are all checked before anything is written. Any warning of the reader (a CRC or an AES
// authentication code that does not match, inconsistent headers) fails the
// whole archive.
//
// Names are read as UTF-8 whatever the process's locale (a name that is not
// UTF-8 is taken byte for byte).
//
// The destination is opened once; everything below it is made, written,
// moved and removed through that open folder, never by a path through a
// link. Files are written under temporary names and only renamed into place
// once every entry has been read in full, so a failure leaves no new file
// behind and replaces none. Should the destination no longer stand where it
// stood (a folder on its path renamed, or swapped for a link), or a move into
// place fail, every file staged or moved is removed again, wherever the
// folder went. Files get mode 0600, created folders 0700; nothing of
// the archive's own permission bits is applied. With `preserveAttributes` the
// entries' modification times are applied. With `overwrite` false an existing
// file is kept and its entry skipped.
//
// Returns false, with the reason in `error`, on any failure.
bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes,
                     bool overwrite, const std::optional<QString> &password, UnzipError *error = nullptr,
                     qint64 maxTotalBytes = kMaxExtractedBytes, int maxEntries = kMaxEntries);

} // namespace orvix::platform::zip
