#include "platform/zip/ziparchive.h"
#include "platform/zip/internal/centraldirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QTemporaryFile>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvix::platform::zip {

QString UnzipError::description() const
{
    QString kind;
    switch (failure) {
    case UnzipFailure::none:
        return text;
    case UnzipFailure::wrongPassword:
        kind = QStringLiteral("wrong password");
        break;
    case UnzipFailure::damaged:
        kind = QStringLiteral("damaged or tampered archive");
        break;
    case UnzipFailure::unsupportedMethod:
        kind = QStringLiteral("unsupported method");
        break;
    case UnzipFailure::unsafeEntry:
        kind = QStringLiteral("unsafe entry");
        break;
    case UnzipFailure::fileAccess:
        kind = QStringLiteral("file access");
        break;
    }
    return kind + QStringLiteral(": ") + text;
}

namespace {

bool fail(UnzipError *error, UnzipFailure failure, const QString &text)
{
    if (error)
        *error = UnzipError{failure, text};
    return false;
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

struct Free {
    void operator()(archive *a) const { archive_read_free(a); }
};
using Reader = std::unique_ptr<archive, Free>;

QString libraryText(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QStringLiteral("unknown error");
}

// libarchive tells the reasons apart only in its texts.
UnzipFailure classify(archive *a)
{
    const QString text = libraryText(a);
    if (text.contains(QLatin1String("passphrase"), Qt::CaseInsensitive))
        return UnzipFailure::wrongPassword;
    if (text.contains(QLatin1String("unsupported"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("not supported"), Qt::CaseInsensitive)
        || text.startsWith(QLatin1String("Unknown encryption"), Qt::CaseInsensitive))
        return UnzipFailure::unsupportedMethod;
    return UnzipFailure::damaged;
}

// The zip format alone, read through its central directory, from the bytes
// the directory walk read: both see the same archive.
Reader openReader(const QByteArray &bytes, const QByteArray &password, QString *why)
{
    Reader a(archive_read_new());
    if (!a) {
        *why = QStringLiteral("out of memory");
        return {};
    }
    archive_read_support_format_zip_seekable(a.get());
    if (!password.isEmpty())
        archive_read_add_passphrase(a.get(), password.constData());
    if (archive_read_open_memory(a.get(), bytes.constData(), size_t(bytes.size())) != ARCHIVE_OK) {
        *why = libraryText(a.get());
        return {};
    }
    return a;
}

struct Planned {
    QString name;       // as stored, for messages
    QStringList parts;  // the cleaned relative path
    bool isDirectory = false;
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

// One extraction: what it created, so a failure can take it back.
class Extraction {
public:
    ~Extraction()
    {
        if (done)
            return;
        // Files already moved into place go as well: a failure leaves nothing written.
        for (const auto &s : staged)
            ::unlink(QFile::encodeName(s.moved ? s.target : s.temp).constData());
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
        bool moved = false;
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


QString nameOf(archive_entry *entry)
{
    if (const char *utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    const char *raw = archive_entry_pathname(entry);
    return raw ? QFile::decodeName(raw) : QString();
}

// The entry as it may be extracted, or the reason it may not.
std::optional<Planned> planEntry(archive_entry *entry, QString *why)
{
    Planned p;
    p.name = nameOf(entry);
    const auto type = archive_entry_filetype(entry);
    if (type == AE_IFLNK || archive_entry_hardlink(entry) || archive_entry_symlink(entry)) {
        *why = QStringLiteral("The entry \"%1\" is a link").arg(p.name);
        return std::nullopt;
    }
    if (type != AE_IFREG && type != AE_IFDIR) {
        *why = QStringLiteral("The entry \"%1\" is not a file or a folder").arg(p.name);
        return std::nullopt;
    }
    QString reason;
    const auto parts = cleanPath(p.name, &p.isDirectory, &reason);
    if (!parts) {
        *why = QStringLiteral("The entry \"%1\" %2").arg(p.name, reason);
        return std::nullopt;
    }
    p.parts = *parts;
    p.isDirectory = p.isDirectory || type == AE_IFDIR;
    if (archive_entry_mtime_is_set(entry))
        p.mtime = archive_entry_mtime(entry);
    return p;
}

// The entries' names as the file system would see them: each name once, and
// no file where another entry needs a folder. Parts compare case-folded and
// composed, as on the common case-insensitive file systems.
class NameTree {
public:
    // Empty when the entry fits with those before it, else why not.
    QString add(const Planned &entry)
    {
        int node = 0;
        for (qsizetype i = 0; i < entry.parts.size(); ++i) {
            const bool last = i == entry.parts.size() - 1;
            const auto key = std::make_pair(node, entry.parts.at(i).normalized(QString::NormalizationForm_C).toCaseFolded());
            int child = m_children.value(key, -1);
            if (child < 0) {
                child = int(m_nodes.size());
                m_nodes.push_back({last, last && !entry.isDirectory});
                m_children.insert(key, child);
            } else if (!last && m_nodes[size_t(child)].isFile) {
                return QStringLiteral("The entry \"%1\" needs a folder where an earlier entry is a file").arg(entry.name);
            } else if (last && m_nodes[size_t(child)].explicitEntry) {
                return QStringLiteral("The entry \"%1\" repeats the name of an earlier entry").arg(entry.name);
            } else if (last && !entry.isDirectory) {
                return QStringLiteral("The entry \"%1\" is a file where an earlier entry needs a folder").arg(entry.name);
            } else if (last) {
                m_nodes[size_t(child)].explicitEntry = true;
            }
            node = child;
        }
        return QString();
    }

private:
    struct Node {
        bool explicitEntry = false; // an entry of its own, not only a folder on the way
        bool isFile = false;
    };
    std::vector<Node> m_nodes{Node{}};
    QHash<std::pair<int, QString>, int> m_children;
};

} // namespace

bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                     const std::optional<QString> &password, UnzipError *error, qint64 maxTotalBytes,
                     int maxEntries)
{
    if (destination.isEmpty())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("No destination folder given"));
    const QFileInfo archiveInfo(path);
    if (!archiveInfo.exists())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The archive %1 does not exist").arg(path));
    if (!archiveInfo.isFile())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The archive %1 is not a file").arg(path));
    if (archiveInfo.size() == 0)
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 is empty").arg(path));
    if (archiveInfo.size() > kMaxArchiveBytes)
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 is larger than the allowed %2 bytes").arg(path).arg(kMaxArchiveBytes));
    const QByteArray passwordBytes = password ? password->toUtf8() : QByteArray();

    // The directory as read here, before libarchive reads any entry: its
    // count is bounded, its types are checked (libarchive hands a FIFO over
    // as a regular file), and libarchive must list the same names in the
    // same order.
    QByteArray bytes;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot open the archive %1: %2").arg(path, file.errorString()));
        bytes = file.read(qMin(file.size(), kMaxArchiveBytes) + 1);
    }
    if (bytes.size() > kMaxArchiveBytes) // grew since it was measured
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 is larger than the allowed %2 bytes").arg(path).arg(kMaxArchiveBytes));
    const internal::Directory directory = internal::walkCentralDirectory(bytes, maxEntries);
    if (directory.failure == internal::WalkFailure::tooManyEntries)
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 holds more than the allowed %2 entries: %3")
                        .arg(path)
                        .arg(maxEntries)
                        .arg(directory.why));
    if (directory.failure != internal::WalkFailure::none)
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 cannot be read: %2").arg(path, directory.why));
    for (const internal::DirectoryEntry &entry : directory.entries) {
        if (entry.isSpecial())
            return fail(error, UnzipFailure::unsafeEntry,
                        QStringLiteral("The entry \"%1\" is not a file or a folder").arg(QString::fromUtf8(entry.name)));
    }
    const auto disagrees = [&](qsizetype index, archive_entry *entry) {
        if (index >= qsizetype(directory.entries.size()))
            return true;
        // libarchive turns the backslashes of DOS-made names into slashes.
        const auto same = [](QByteArray stored, const char *given) {
            return given && stored.replace('\\', '/') == QByteArray(given).replace('\\', '/');
        };
        const QByteArray &name = directory.entries[size_t(index)].name;
        return !same(name, archive_entry_pathname(entry)) && !same(name, archive_entry_pathname_utf8(entry));
    };

    // First pass: every entry is checked before anything is written.
    std::vector<Planned> plan;
    {
        NameTree names;
        QString why;
        Reader a = openReader(bytes, passwordBytes, &why);
        if (!a)
            return fail(error, UnzipFailure::damaged, QStringLiteral("Cannot open the archive %1: %2").arg(path, why));
        archive_entry *entry = nullptr;
        for (;;) {
            const int r = archive_read_next_header(a.get(), &entry);
            if (r == ARCHIVE_EOF)
                break;
            if (r != ARCHIVE_OK)
                return fail(error, classify(a.get()),
                            QStringLiteral("The archive %1 cannot be read after %2 entries: %3")
                                .arg(path)
                                .arg(plan.size())
                                .arg(libraryText(a.get())));
            if (qsizetype(plan.size()) >= maxEntries)
                return fail(error, UnzipFailure::unsafeEntry,
                            QStringLiteral("The archive %1 holds more than the allowed %2 entries").arg(path).arg(maxEntries));
            if (disagrees(qsizetype(plan.size()), entry))
                return fail(error, UnzipFailure::damaged,
                            QStringLiteral("The archive %1 lists entries otherwise than its central directory").arg(path));
            auto planned = planEntry(entry, &why);
            if (!planned)
                return fail(error, UnzipFailure::unsafeEntry, why);
            const QString clash = names.add(*planned);
            if (!clash.isEmpty())
                return fail(error, UnzipFailure::damaged, clash);
            plan.push_back(std::move(*planned));
        }
        if (plan.size() != directory.entries.size())
            return fail(error, UnzipFailure::damaged,
                        QStringLiteral("The archive %1 lists entries otherwise than its central directory").arg(path));
    }

    Extraction run;
    QString why;
    const QString absoluteDestination = QFileInfo(destination).absoluteFilePath();
    const QStringList destinationParts = absoluteDestination.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // The destination itself is the caller's: links on the way to it are fine.
    if (!run.makeDirs(QString(), destinationParts, destinationParts.size(), false, &why))
        return fail(error, UnzipFailure::fileAccess,
                    QStringLiteral("The destination %1 cannot be used: %2").arg(destination, why));
    const QString root = QFileInfo(absoluteDestination).canonicalFilePath();
    if (root.isEmpty())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The destination %1 cannot be used").arg(destination));

    // Second pass: the data, staged under temporary names.
    Reader a = openReader(bytes, passwordBytes, &why);
    if (!a)
        return fail(error, UnzipFailure::damaged, QStringLiteral("Cannot open the archive %1: %2").arg(path, why));
    const auto readFailure = [&](const Planned &entry) {
        return fail(error, classify(a.get()),
                    QStringLiteral("The entry \"%1\" cannot be read: %2").arg(entry.name, libraryText(a.get())));
    };
    qint64 written = 0;
    QList<std::pair<QString, time_t>> directoryTimes;
    archive_entry *header = nullptr;
    for (const Planned &entry : plan) {
        if (archive_read_next_header(a.get(), &header) != ARCHIVE_OK)
            return readFailure(entry);
        QString again;
        const auto same = planEntry(header, &again);
        if (!same || same->name != entry.name || same->isDirectory != entry.isDirectory)
            return fail(error, UnzipFailure::damaged,
                        QStringLiteral("The archive %1 changed while it was read").arg(path));

        const qsizetype folderParts = entry.isDirectory ? entry.parts.size() : entry.parts.size() - 1;
        if (!run.makeDirs(root, entry.parts, folderParts, true, &why))
            return fail(error, UnzipFailure::unsafeEntry, QStringLiteral("The entry \"%1\" %2").arg(entry.name, why));
        if (entry.isDirectory) {
            if (entry.mtime && !entry.parts.isEmpty())
                directoryTimes.append({root + QLatin1Char('/') + entry.parts.join(QLatin1Char('/')), *entry.mtime});
            continue;
        }

        const QString target = root + QLatin1Char('/') + entry.parts.join(QLatin1Char('/'));
        struct stat existing {};
        if (::lstat(QFile::encodeName(target).constData(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode))
                return fail(error, UnzipFailure::unsafeEntry,
                            QStringLiteral("The entry \"%1\" would replace a folder").arg(entry.name));
            if (!overwrite)
                continue; // kept as it is; the reader skips the data
        }

        QTemporaryFile temp(QFileInfo(target).absolutePath() + QStringLiteral("/.orvix-unzip-XXXXXX"));
        temp.setAutoRemove(false);
        if (!temp.open())
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
        run.staged.push_back({temp.fileName(), target, preserveAttributes ? entry.mtime : std::nullopt});

        qint64 offset = 0;
        for (;;) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t at = 0;
            const int r = archive_read_data_block(a.get(), &block, &size, &at);
            if (r == ARCHIVE_EOF)
                break;
            // A warning comes after the data it is about (a failed CRC or
            // authentication code): it fails the archive all the same.
            if (r != ARCHIVE_OK)
                return readFailure(entry);
            if (at != offset)
                return fail(error, UnzipFailure::damaged,
                            QStringLiteral("The entry \"%1\" has a gap in its data").arg(entry.name));
            if (qint64(size) > maxTotalBytes - written)
                return fail(error, UnzipFailure::unsafeEntry,
                            QStringLiteral("The archive %1 holds more than the allowed %2 bytes")
                                .arg(path)
                                .arg(maxTotalBytes));
            if (temp.write(static_cast<const char *>(block), qint64(size)) != qint64(size))
                return fail(error, UnzipFailure::fileAccess,
                            QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
            written += qint64(size);
            offset += qint64(size);
        }
        if (!temp.flush())
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, temp.errorString()));
        temp.close();
    }
    // Nothing may follow the entries checked.
    if (archive_read_next_header(a.get(), &header) != ARCHIVE_EOF)
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 changed while it was read").arg(path));

    // Everything was read in full: move the files into place.
    for (auto &s : run.staged) {
        if (::rename(QFile::encodeName(s.temp).constData(), QFile::encodeName(s.target).constData()) != 0)
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot move %1 into place: %2").arg(s.target, errnoText(errno)));
        s.moved = true;
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

} // namespace orvix::platform::zip
