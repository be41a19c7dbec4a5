#include "platform/zip/ziparchive.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvix::platform::zip {
namespace {

// Unix file types as ZIP stores them in the upper attribute bits.
constexpr quint32 kTypeMask = 0170000;
constexpr quint32 kTypeLink = 0120000;
constexpr quint32 kTypeFile = 0100000;
constexpr quint32 kTypeDir = 0040000;
constexpr quint32 kDosReparsePoint = 0x400;
constexpr quint32 kDosDirectory = 0x10;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

QString codeText(int code)
{
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&e));
    zip_error_fini(&e);
    return text;
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

struct Discard {
    void operator()(zip_t *za) const { zip_discard(za); }
};
struct Close {
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};
using Archive = std::unique_ptr<zip_t, Discard>;
using EntryFile = std::unique_ptr<zip_file_t, Close>;

struct Planned {
    zip_uint64_t index = 0;
    QString name;       // as stored, for messages
    QStringList parts;  // the cleaned relative path
    bool isDirectory = false;
    bool encrypted = false;
    std::optional<time_t> mtime;
};

// The entry name as path parts below the destination; nullopt (and why) when
// it may not be extracted. Backslashes count as separators, "." parts drop out.
std::optional<QStringList> cleanPath(const QString &name, bool *isDirectory, QString *why)
{
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (n.startsWith(QLatin1Char('/')) || (n.size() >= 2 && n.at(1) == QLatin1Char(':') && n.at(0).isLetter())) {
        *why = QStringLiteral("has an absolute path");
        return std::nullopt;
    }
    QStringList parts;
    for (const QString &part : n.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            *why = QStringLiteral("points outside the destination");
            return std::nullopt;
        }
        parts << part;
    }
    *isDirectory = n.endsWith(QLatin1Char('/'));
    if (parts.isEmpty() && !*isDirectory) {
        *why = QStringLiteral("has no file name");
        return std::nullopt;
    }
    return parts;
}

// Links: a Unix link type in the upper attribute bits (whatever host the
// archive claims), or a Windows reparse point.
bool isLink(zip_uint8_t opsys, zip_uint32_t attributes)
{
    if (((attributes >> 16) & kTypeMask) == kTypeLink)
        return true;
    switch (opsys) {
    case ZIP_OPSYS_DOS:
    case ZIP_OPSYS_WINDOWS_NTFS:
    case ZIP_OPSYS_VFAT:
        return attributes & kDosReparsePoint;
    default:
        return false;
    }
}

// One extraction: what it created, so a failure can take it back.
class Extraction {
public:
    ~Extraction()
    {
        if (done)
            return;
        for (const auto &s : staged)
            ::unlink(QFile::encodeName(s.temp).constData());
        for (auto it = createdDirs.crbegin(); it != createdDirs.crend(); ++it)
            ::rmdir(QFile::encodeName(*it).constData()); // only when still empty
    }

    // Creates the missing folders of `path` (mode 0700). With `checkExisting`
    // an existing part must be a real folder, not a link or a file.
    bool makeDirs(const QString &base, const QStringList &parts, qsizetype count, bool checkExisting,
                  QString *why)
    {
        QString path = base;
        for (qsizetype i = 0; i < count; ++i) {
            path += QLatin1Char('/') + parts.at(i);
            const QByteArray native = QFile::encodeName(path);
            struct stat st {};
            const int rc = checkExisting ? ::lstat(native.constData(), &st) : ::stat(native.constData(), &st);
            if (rc == 0) {
                if (S_ISLNK(st.st_mode)) {
                    *why = QStringLiteral("would pass through the link %1").arg(path);
                    return false;
                }
                if (!S_ISDIR(st.st_mode)) {
                    *why = QStringLiteral("needs a folder where the file %1 is").arg(path);
                    return false;
                }
                continue;
            }
            if (errno != ENOENT || ::mkdir(native.constData(), 0700) != 0) {
                *why = QStringLiteral("cannot create the folder %1: %2").arg(path, errnoText(errno));
                return false;
            }
            createdDirs << path;
        }
        return true;
    }

    struct Staged {
        QString temp;
        QString target;
        std::optional<time_t> mtime;
    };
    std::vector<Staged> staged;
    QStringList createdDirs;
    bool done = false;
};

void setModificationTime(const QString &path, time_t mtime)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = mtime;
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

QString readFailure(const Planned &entry, int code)
{
    switch (code) {
    case ZIP_ER_NOPASSWD:
        return QStringLiteral("The entry \"%1\" is encrypted and no password was given").arg(entry.name);
    case ZIP_ER_WRONGPASSWD:
        return QStringLiteral("Wrong password for the entry \"%1\"").arg(entry.name);
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
        if (entry.encrypted)
            return QStringLiteral("Wrong password or damaged data in the entry \"%1\"").arg(entry.name);
        return QStringLiteral("The entry \"%1\" is damaged (%2)").arg(entry.name, codeText(code));
    default:
        return QStringLiteral("Cannot read the entry \"%1\": %2").arg(entry.name, codeText(code));
    }
}

} // namespace

bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                     const std::optional<QString> &password, QString *error, qint64 maxTotalBytes)
{
    if (destination.isEmpty())
        return fail(error, QStringLiteral("No destination folder given"));
    const QFileInfo archiveInfo(path);
    if (!archiveInfo.exists())
        return fail(error, QStringLiteral("The archive %1 does not exist").arg(path));
    // libzip takes an empty file for an empty archive; it is not one.
    if (archiveInfo.isFile() && archiveInfo.size() == 0)
        return fail(error, QStringLiteral("The archive %1 is empty").arg(path));

    int openError = 0;
    Archive za(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &openError));
    if (!za)
        return fail(error, QStringLiteral("Cannot open the archive %1: %2").arg(path, codeText(openError)));

    // Every entry is checked before anything is written.
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    std::vector<Planned> plan;
    plan.reserve(size_t(qMax<zip_int64_t>(count, 0)));
    for (zip_int64_t i = 0; i < count; ++i) {
        Planned entry;
        entry.index = zip_uint64_t(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za.get(), entry.index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            return fail(error, QStringLiteral("The archive %1 is damaged: entry %2 cannot be read").arg(path).arg(i));
        entry.name = QString::fromUtf8(st.name);
        QString why;
        const auto parts = cleanPath(entry.name, &entry.isDirectory, &why);
        if (!parts)
            return fail(error, QStringLiteral("The entry \"%1\" %2").arg(entry.name, why));
        entry.parts = *parts;
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za.get(), entry.index, 0, &opsys, &attributes) != 0)
            return fail(error, QStringLiteral("The archive %1 is damaged: entry %2 cannot be read").arg(path).arg(i));
        if (isLink(opsys, attributes))
            return fail(error, QStringLiteral("The entry \"%1\" is a link").arg(entry.name));
        entry.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        if (st.valid & ZIP_STAT_MTIME)
            entry.mtime = st.mtime;
        plan.push_back(std::move(entry));
    }

    Extraction run;
    QString why;
    const QString absoluteDestination = QFileInfo(destination).absoluteFilePath();
    const QStringList destinationParts = absoluteDestination.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // The destination itself is the caller's: links on the way to it are fine.
    if (!run.makeDirs(QString(), destinationParts, destinationParts.size(), false, &why))
        return fail(error, QStringLiteral("The destination %1 cannot be used: %2").arg(destination, why));
    const QString root = QFileInfo(absoluteDestination).canonicalFilePath();
    if (root.isEmpty())
        return fail(error, QStringLiteral("The destination %1 cannot be used").arg(destination));

    const QByteArray passwordBytes = password ? password->toUtf8() : QByteArray();
    std::vector<char> buffer(64 * 1024);
    qint64 written = 0;
    QList<std::pair<QString, time_t>> directoryTimes;

    for (const Planned &entry : plan) {
        const qsizetype folderParts = entry.isDirectory ? entry.parts.size() : entry.parts.size() - 1;
        if (!run.makeDirs(root, entry.parts, folderParts, true, &why))
            return fail(error, QStringLiteral("The entry \"%1\" %2").arg(entry.name, why));
        if (entry.isDirectory) {
            if (entry.mtime && !entry.parts.isEmpty())
                directoryTimes.append({root + QLatin1Char('/') + entry.parts.join(QLatin1Char('/')), *entry.mtime});
            continue;
        }

        const QString target = root + QLatin1Char('/') + entry.parts.join(QLatin1Char('/'));
        struct stat existing {};
        if (::lstat(QFile::encodeName(target).constData(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode))
                return fail(error, QStringLiteral("The entry \"%1\" would replace a folder").arg(entry.name));
            if (!overwrite)
                continue; // kept as it is
        }

        EntryFile file(zip_fopen_index_encrypted(za.get(), entry.index, 0,
                                                 password ? passwordBytes.constData() : nullptr));
        if (!file)
            return fail(error, readFailure(entry, zip_error_code_zip(zip_get_error(za.get()))));

        QTemporaryFile temp(QFileInfo(target).absolutePath() + QStringLiteral("/.orvix-unzip-XXXXXX"));
        temp.setAutoRemove(false);
        if (!temp.open())
            return fail(error, QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
        run.staged.push_back({temp.fileName(), target, preserveAttributes ? entry.mtime : std::nullopt});

        for (;;) {
            // Never read more than one byte past the bound.
            const qint64 room = maxTotalBytes - written;
            const zip_uint64_t want = zip_uint64_t(qMin<qint64>(qint64(buffer.size()), room + 1));
            const zip_int64_t n = zip_fread(file.get(), buffer.data(), want);
            if (n < 0)
                return fail(error, readFailure(entry, zip_error_code_zip(zip_file_get_error(file.get()))));
            if (n == 0)
                break;
            written += n;
            if (written > maxTotalBytes)
                return fail(error, QStringLiteral("The archive %1 holds more than the allowed %2 bytes")
                                       .arg(path)
                                       .arg(maxTotalBytes));
            if (temp.write(buffer.data(), n) != n)
                return fail(error,
                            QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
        }
        if (!temp.flush())
            return fail(error, QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
        temp.close();
    }

    // Everything was read in full: move the files into place.
    for (size_t i = 0; i < run.staged.size(); ++i) {
        const auto &s = run.staged[i];
        if (::rename(QFile::encodeName(s.temp).constData(), QFile::encodeName(s.target).constData()) != 0) {
            const QString text =
                QStringLiteral("Cannot move %1 into place: %2").arg(s.target, errnoText(errno));
            run.staged.erase(run.staged.begin(), run.staged.begin() + qsizetype(i));
            return fail(error, text);
        }
        if (s.mtime)
            setModificationTime(s.target, *s.mtime);
    }
    if (preserveAttributes) {
        for (auto it = directoryTimes.crbegin(); it != directoryTimes.crend(); ++it)
            setModificationTime(it->first, it->second);
    }
    run.done = true;
    return true;
}

bool canWrite(EncryptionMethod method)
{
    switch (method) {
    case EncryptionMethod::none:
        return true;
    case EncryptionMethod::traditional:
        return zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1);
    case EncryptionMethod::aes128:
        return zip_encryption_method_supported(ZIP_EM_AES_128, 1);
    case EncryptionMethod::aes256:
        return zip_encryption_method_supported(ZIP_EM_AES_256, 1);
    }
    return false;
}

bool createZip(const QString &path, const QList<ZipEntry> &entries, const std::optional<QString> &password,
               EncryptionMethod method, QString *error)
{
    zip_uint16_t em = ZIP_EM_NONE;
    switch (method) {
    case EncryptionMethod::none:
        break;
    case EncryptionMethod::traditional:
        em = ZIP_EM_TRAD_PKWARE;
        break;
    case EncryptionMethod::aes128:
        em = ZIP_EM_AES_128;
        break;
    case EncryptionMethod::aes256:
        em = ZIP_EM_AES_256;
        break;
    }
    if (em != ZIP_EM_NONE && !password)
        return fail(error, QStringLiteral("Encryption needs a password"));
    if (!canWrite(method))
        return fail(error, QStringLiteral("This libzip cannot write the chosen encryption"));

    int openError = 0;
    Archive za(zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &openError));
    if (!za)
        return fail(error, QStringLiteral("Cannot create the archive %1: %2").arg(path, codeText(openError)));
    const auto lastError = [&] { return QString::fromUtf8(zip_strerror(za.get())); };

    const QByteArray passwordBytes = password ? password->toUtf8() : QByteArray();
    QList<QByteArray> buffers; // libzip reads them at close
    for (const ZipEntry &e : entries) {
        const QByteArray name = e.name.toUtf8();
        const bool isDirectory = !e.isSymlink && name.endsWith('/');
        zip_int64_t index = -1;
        if (isDirectory) {
            index = zip_dir_add(za.get(), name.constData(), ZIP_FL_ENC_UTF_8);
        } else {
            buffers.append(e.isSymlink ? e.linkTarget.toUtf8() : e.data);
            const QByteArray &bytes = buffers.constLast();
            zip_source_t *source = zip_source_buffer(za.get(), bytes.constData(), zip_uint64_t(bytes.size()), 0);
            if (source) {
                index = zip_file_add(za.get(), name.constData(), source, ZIP_FL_ENC_UTF_8);
                if (index < 0)
                    zip_source_free(source);
            }
        }
        if (index < 0)
            return fail(error, QStringLiteral("Cannot add \"%1\": %2").arg(e.name, lastError()));
        const auto i = zip_uint64_t(index);

        const zip_uint32_t mode = e.isSymlink     ? (kTypeLink | 0777)
                                  : isDirectory ? (kTypeDir | 0755)
                                                : (kTypeFile | (e.mode & 07777));
        const zip_uint32_t attributes = (mode << 16) | (isDirectory ? kDosDirectory : 0);
        bool ok = zip_file_set_external_attributes(za.get(), i, 0, ZIP_OPSYS_UNIX, attributes) == 0;
        if (ok && e.modified.isValid())
            ok = zip_file_set_mtime(za.get(), i, time_t(e.modified.toSecsSinceEpoch()), 0) == 0;
        if (ok && em != ZIP_EM_NONE && !isDirectory)
            ok = zip_file_set_encryption(za.get(), i, em, passwordBytes.constData()) == 0;
        if (!ok)
            return fail(error, QStringLiteral("Cannot add \"%1\": %2").arg(e.name, lastError()));
    }
    if (zip_close(za.get()) != 0)
        return fail(error, QStringLiteral("Cannot write the archive %1: %2").arg(path, lastError()));
    za.release(); // closed and freed
    return true;
}

} // namespace orvix::platform::zip
