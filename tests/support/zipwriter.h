#pragma once
// ZIP archives made by the tests themselves, entry by entry, with names
// exactly as given: folders, links and special entries included.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtEndian>
#include <QtDebug>

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <ctime>

namespace orvix::testsupport {

enum class Method { none, traditional, aes128, aes256 };

struct ZipEntry {
    QString name;                // a trailing '/' makes a folder entry
    QByteArray data;
    bool isSymlink = false;      // written as a Unix link to linkTarget
    QString linkTarget;
    QDateTime modified = {};     // invalid: the time of writing
    quint32 mode = 0644;         // Unix permission bits stored for a file
    quint32 special = 0;         // S_IFIFO, S_IFCHR or S_IFBLK: the writer makes none of these, so the
                                 // entry is written as an empty file and its type set afterwards
};

// Sets the Unix file type of the central directory record named `name`.
inline bool setCentralType(QByteArray &zip, const QString &name, quint32 type, quint32 mode)
{
    const QByteArray wanted = name.toUtf8();
    for (qsizetype at = 0; (at = zip.indexOf("PK\x01\x02", at)) >= 0 && at + 46 <= zip.size(); at += 4) {
        const int length = qFromLittleEndian<quint16>(zip.constData() + at + 28);
        if (zip.mid(at + 46, length) != wanted)
            continue;
        zip[at + 5] = 3; // made on Unix: the high half of the external attributes is the mode
        qToLittleEndian<quint32>((type | mode) << 16, zip.data() + at + 38);
        return true;
    }
    return false;
}

inline la_ssize_t appendTo(archive *, void *out, const void *data, size_t size)
{
    static_cast<QByteArray *>(out)->append(static_cast<const char *>(data), qsizetype(size));
    return la_ssize_t(size);
}

// The entries, in order and with names exactly as given, as a ZIP archive.
inline QByteArray makeZip(const QList<ZipEntry> &entries, Method method = Method::none, const QString &password = {},
                   bool stored = false)
{
    QByteArray out;
    archive *a = archive_write_new();
    const char *encryption = method == Method::traditional ? "zipcrypt"
                             : method == Method::aes128    ? "aes128"
                             : method == Method::aes256    ? "aes256"
                                                           : nullptr;
    bool ok = archive_write_set_format_zip(a) == ARCHIVE_OK
        && archive_write_set_format_option(a, "zip", "compression", stored ? "store" : "deflate") == ARCHIVE_OK
        && (!encryption
            || (archive_write_set_format_option(a, "zip", "encryption", encryption) == ARCHIVE_OK
                && archive_write_set_passphrase(a, password.toUtf8().constData()) == ARCHIVE_OK))
        && archive_write_set_bytes_per_block(a, 0) == ARCHIVE_OK
        && archive_write_open2(a, &out, nullptr, appendTo, nullptr, nullptr) == ARCHIVE_OK;
    for (const ZipEntry &e : entries) {
        if (!ok)
            break;
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.toUtf8().constData());
        const bool folder = !e.isSymlink && e.name.endsWith(u'/');
        if (e.isSymlink) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_set_symlink_utf8(entry, e.linkTarget.toUtf8().constData());
        } else {
            archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
            archive_entry_set_perm(entry, folder ? 0755 : e.mode);
            archive_entry_set_size(entry, folder ? 0 : e.data.size());
        }
        archive_entry_set_mtime(entry, e.modified.isValid() ? e.modified.toSecsSinceEpoch() : time(nullptr), 0);
        ok = archive_write_header(a, entry) == ARCHIVE_OK
            && (folder || e.isSymlink || e.data.isEmpty()
                || archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size());
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    if (!ok)
        qWarning() << "cannot write the archive:" << archive_error_string(a);
    archive_write_free(a);
    for (const ZipEntry &e : entries) {
        if (ok && e.special)
            ok = setCentralType(out, e.name, e.special, e.mode);
    }
    return ok ? out : QByteArray();
}

// The ZIP64 end records (record and locator) for a directory of `count`
// records at `offset` taking `size` bytes, then a plain end record whose
// fields are all saturated.
inline QByteArray zip64EndRecords(quint64 count, quint64 size, quint64 offset, quint64 recordAt)
{
    QByteArray out(56 + 20 + 22, '\0');
    char *r = out.data();
    memcpy(r, "PK\x06\x06", 4);
    qToLittleEndian<quint64>(44, r + 4);
    qToLittleEndian<quint16>(45, r + 12);
    qToLittleEndian<quint16>(45, r + 14);
    qToLittleEndian<quint64>(count, r + 24);
    qToLittleEndian<quint64>(count, r + 32);
    qToLittleEndian<quint64>(size, r + 40);
    qToLittleEndian<quint64>(offset, r + 48);
    char *l = r + 56;
    memcpy(l, "PK\x06\x07", 4);
    qToLittleEndian<quint64>(recordAt, l + 8);
    qToLittleEndian<quint32>(1, l + 16);
    char *e = l + 20;
    memcpy(e, "PK\x05\x06", 4);
    qToLittleEndian<quint16>(0xFFFF, e + 8);
    qToLittleEndian<quint16>(0xFFFF, e + 10);
    qToLittleEndian<quint32>(0xFFFFFFFF, e + 12);
    qToLittleEndian<quint32>(0xFFFFFFFF, e + 16);
    return out;
}

// One empty file "x" and a ZIP64 directory listing it `count` times: 47
// bytes an entry (2,000,000 of them make 94 MB).
inline QByteArray zip64ListingMany(quint64 count)
{
    QByteArray local(30 + 1, '\0');
    memcpy(local.data(), "PK\x03\x04", 4);
    qToLittleEndian<quint16>(20, local.data() + 4);
    qToLittleEndian<quint16>(1, local.data() + 26);
    local[30] = 'x';
    QByteArray record(46 + 1, '\0');
    memcpy(record.data(), "PK\x01\x02", 4);
    qToLittleEndian<quint16>(0x0314, record.data() + 4); // made on Unix
    qToLittleEndian<quint16>(20, record.data() + 6);
    qToLittleEndian<quint16>(1, record.data() + 28);
    qToLittleEndian<quint32>(0100644u << 16, record.data() + 38);
    record[46] = 'x';
    const QByteArray directory = record.repeated(qsizetype(count));
    return local + directory + zip64EndRecords(count, quint64(directory.size()), quint64(local.size()),
                                               quint64(local.size() + directory.size()));
}

} // namespace orvix::testsupport
