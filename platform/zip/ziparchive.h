#pragma once
// ZIP archives on libzip: safe extraction of (password-protected) archives
// and a small writer for tests and the simulator.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace orvix::platform::zip {

// Upper bound on the bytes one extraction may write.
inline constexpr qint64 kMaxExtractedBytes = 100 * 1024 * 1024;

// Extracts every entry of the archive at `path` into `destination` (created
// when missing). Encrypted entries (traditional PKWARE, WinZip AES) are opened
// with `password`; unencrypted entries need none.
//
// Refused, as a failure: entry paths that are absolute or hold a ".."
// component (a backslash counts as a separator), link entries, paths that
// would pass through a link or a file already in the destination, and more
// than `maxTotalBytes` of extracted data (counted as written). Names are all
// checked before anything is written.
//
// Files are written under temporary names and only renamed into place once
// every entry has been read in full, so a failure leaves no new file behind
// and replaces none. Files get mode 0600, created folders 0700; nothing of
// the archive's own permission bits is applied. With `preserveAttributes` the
// entries' modification times are applied. With `overwrite` false an existing
// file is kept and its entry skipped.
//
// Returns false with a readable text in `error` on any failure.
bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes,
                     bool overwrite, const std::optional<QString> &password, QString *error = nullptr,
                     qint64 maxTotalBytes = kMaxExtractedBytes);

enum class EncryptionMethod { none, traditional, aes128, aes256 };

struct ZipEntry {
    QString name;                // a trailing '/' makes a folder entry
    QByteArray data;
    bool isSymlink = false;      // written as a Unix link to linkTarget
    QString linkTarget;
    QDateTime modified = {};     // invalid: the time of writing
    quint32 mode = 0644;         // Unix permission bits stored for a file
};

// Writes the entries, in order and with names exactly as given, to a new
// archive at `path` (replacing any file there). Files are deflated; with a
// method other than none and a password, every file entry is encrypted.
bool createZip(const QString &path, const QList<ZipEntry> &entries, const std::optional<QString> &password,
               EncryptionMethod method, QString *error = nullptr);

// Whether this libzip can write entries with the method.
bool canWrite(EncryptionMethod method);

} // namespace orvix::platform::zip
