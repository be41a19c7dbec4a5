#include "simulator/documents/OfflineKycArchive.h"

#include <QtEndian>

#include <archive.h>
#include <archive_entry.h>

#include <ctime>
#include <memory>

namespace orvix::simulator {

namespace {

QByteArray fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return {};
}

struct WriterFree {
    void operator()(archive *a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};

la_ssize_t append(archive *, void *out, const void *data, size_t size)
{
    static_cast<QByteArray *>(out)->append(static_cast<const char *>(data), qsizetype(size));
    return la_ssize_t(size);
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 le32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
void setLe16(QByteArray &b, qsizetype at, quint16 v)
{
    qToLittleEndian<quint16>(v, b.data() + at);
}
void setLe32(QByteArray &b, qsizetype at, quint32 v)
{
    qToLittleEndian<quint32>(v, b.data() + at);
}

// Marks the AES extra field (0x9901) in the extra block at `at` as AE-2.
bool markAe2(QByteArray &zip, qsizetype at, qsizetype length)
{
    for (qsizetype p = at; p + 4 <= at + length;) {
        const quint16 id = le16(zip, p);
        const quint16 size = le16(zip, p + 2);
        if (id == 0x9901 && size >= 7) {
            setLe16(zip, p + 4, 2);
            return true;
        }
        p += 4 + size;
    }
    return false;
}

// AE-1 to AE-2 as 7-Zip writes it: vendor version 2 and every CRC field
// zero (local header, data descriptor, central directory). The
// authentication code covers the data only, so it stays valid.
bool rewriteAsAe2(QByteArray &zip)
{
    const qsizetype end = zip.lastIndexOf(QByteArrayLiteral("PK\x05\x06"));
    if (end < 0 || end + 22 > zip.size())
        return false;
    const int count = le16(zip, end + 10);
    qsizetype central = le32(zip, end + 16);
    for (int i = 0; i < count; ++i) {
        if (central + 46 > zip.size() || le32(zip, central) != 0x02014b50)
            return false;
        const quint32 compressed = le32(zip, central + 20);
        const quint16 nameLength = le16(zip, central + 28);
        const quint16 extraLength = le16(zip, central + 30);
        const quint16 commentLength = le16(zip, central + 32);
        const qsizetype local = le32(zip, central + 42);
        setLe32(zip, central + 16, 0);
        if (!markAe2(zip, central + 46 + nameLength, extraLength))
            return false;

        if (local + 30 > zip.size() || le32(zip, local) != 0x04034b50)
            return false;
        const quint16 flags = le16(zip, local + 6);
        const quint16 localName = le16(zip, local + 26);
        const quint16 localExtra = le16(zip, local + 28);
        setLe32(zip, local + 14, 0);
        if (!markAe2(zip, local + 30 + localName, localExtra))
            return false;
        if (flags & 0x08) {
            qsizetype descriptor = local + 30 + localName + localExtra + compressed;
            if (descriptor + 4 <= zip.size() && le32(zip, descriptor) == 0x08074b50)
                descriptor += 4;
            if (descriptor + 4 > zip.size())
                return false;
            setLe32(zip, descriptor, 0);
        }
        central += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

} // namespace

QByteArray makeOfflineKycArchive(const QByteArray &xml, const QString &xmlFileName, const QString &shareCode,
                                 QString *error, ArchiveForm form)
{
    if (xmlFileName.isEmpty())
        return fail(error, QStringLiteral("no file name"));
    if (shareCode.isEmpty())
        return fail(error, QStringLiteral("no share code"));

    std::unique_ptr<archive, WriterFree> writer(archive_write_new());
    if (!writer)
        return fail(error, QStringLiteral("out of memory"));
    archive *a = writer.get();
    const char *encryption = form == ArchiveForm::traditional ? "zipcrypt" : "aes256";
    QByteArray out;
    const QByteArray password = shareCode.toUtf8();
    if (archive_write_set_format_zip(a) != ARCHIVE_OK
        || archive_write_set_format_option(a, "zip", "compression", "deflate") != ARCHIVE_OK
        || archive_write_set_format_option(a, "zip", "encryption", encryption) != ARCHIVE_OK
        || archive_write_set_passphrase(a, password.constData()) != ARCHIVE_OK
        || archive_write_set_bytes_per_block(a, 0) != ARCHIVE_OK
        || archive_write_open2(a, &out, nullptr, append, nullptr, nullptr) != ARCHIVE_OK)
        return fail(error, QString::fromUtf8(archive_error_string(a)));

    std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
    archive_entry_set_pathname_utf8(entry.get(), xmlFileName.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), xml.size());
    archive_entry_set_mtime(entry.get(), std::time(nullptr), 0);
    if (archive_write_header(a, entry.get()) != ARCHIVE_OK
        || archive_write_data(a, xml.constData(), size_t(xml.size())) != la_ssize_t(xml.size())
        || archive_write_close(a) != ARCHIVE_OK)
        return fail(error, QString::fromUtf8(archive_error_string(a)));

    if (form == ArchiveForm::aesAe2 && !rewriteAsAe2(out))
        return fail(error, QStringLiteral("the archive could not be rewritten as AE-2"));
    return out;
}

} // namespace orvix::simulator
