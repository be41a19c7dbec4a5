#include "platform/zip/ziparchive.h"
#include "platform/zip/internal/centraldirectory.h"
#include "platform/zip/internal/extraction.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
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

// libarchive converts names between the archive's character set and the
// locale's: under "C" a UTF-8 name has no form at all and the entry fails.
// Reading under a UTF-8 locale, on this thread only and while the readers
// live, keeps every name whole.
class Utf8Names {
public:
    Utf8Names()
    {
        if (std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0)
            return;
        const locale_t base = ::duplocale(::uselocale(locale_t(nullptr)));
        if (!base)
            return;
        m_locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
        if (!m_locale) {
            ::freelocale(base);
            return;
        }
        m_previous = ::uselocale(m_locale);
    }
    ~Utf8Names()
    {
        if (!m_locale)
            return;
        ::uselocale(m_previous);
        ::freelocale(m_locale);
    }
    Utf8Names(const Utf8Names &) = delete;
    Utf8Names &operator=(const Utf8Names &) = delete;

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};

struct Planned {
    QString name;       // as stored, for messages
    QStringList parts;  // the cleaned relative path
    bool isDirectory = false;
    std::optional<time_t> mtime;

    // The folders the entry needs: all its parts for a folder, all but the
    // last for a file.
    qsizetype folderParts() const { return isDirectory ? parts.size() : parts.size() - 1; }
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

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

Fd openFolderAt(int at, const QString &name)
{
    return Fd(::openat(at, QFile::encodeName(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool sameFile(int a, int b)
{
    struct stat sa {}, sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Creates the missing folders of the caller's destination (mode 0700),
// following links on the way: that path is the caller's.
bool makeDestination(const QString &absolute, QStringList *created, QString *why)
{
    QString path;
    for (const QString &part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) == 0) {
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
        *created << path;
    }
    return true;
}

// The folder at `canonical` (a path without links), opened part by part
// without following a link: the very folder `held` is, or not.
bool standsAt(const QString &canonical, int held)
{
    Fd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QString &part : canonical.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!folder.valid())
            return false;
        folder = openFolderAt(folder.get(), part);
    }
    return folder.valid() && sameFile(folder.get(), held);
}

// One extraction below the destination folder, held open from start to
// end: every folder is made, every file written, moved and removed through
// it, so a link put in the way is never followed and a failure takes back
// what it made wherever the folder went.
class Extraction {
public:
    ~Extraction()
    {
        if (done)
            return;
        // Files already moved into place go as well: a failure leaves nothing written.
        for (const Staged &s : staged) {
            const Fd folder = openFolders(s.folder, s.folder.size(), false, nullptr);
            if (folder.valid())
                ::unlinkat(folder.get(), (s.moved ? s.target : s.temp).constData(), 0);
        }
        for (auto it = createdDirs.crbegin(); it != createdDirs.crend(); ++it) {
            const Fd parent = openFolders(*it, it->size() - 1, false, nullptr);
            if (parent.valid())
                ::unlinkat(parent.get(), QFile::encodeName(it->last()).constData(), AT_REMOVEDIR); // only when empty
        }
        for (auto it = destinationDirs.crbegin(); it != destinationDirs.crend(); ++it)
            ::rmdir(QFile::encodeName(*it).constData()); // only when still empty
    }

    void hold(Fd root) { m_root = std::move(root); }
    int root() const { return m_root.get(); }

    // The folder of the first `count` parts below the destination, opened
    // part by part without following a link; with `create`, missing ones
    // are made (mode 0700). Invalid, with why, when a part is a link or a
    // file or cannot be made.
    Fd openFolders(const QStringList &parts, qsizetype count, bool create, QString *why) const
    {
        Fd folder(::dup(m_root.get()));
        for (qsizetype i = 0; i < count && folder.valid(); ++i) {
            const QByteArray name = QFile::encodeName(parts.at(i));
            Fd next(::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid() && errno == ENOENT && create) {
                if (::mkdirat(folder.get(), name.constData(), 0700) == 0) {
                    createdDirs.push_back(parts.mid(0, i + 1));
                    next = Fd(::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                }
            }
            if (!next.valid() && why) {
                const int code = errno;
                const QString path = parts.mid(0, i + 1).join(QLatin1Char('/'));
                struct stat st {};
                if (::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                    *why = QStringLiteral("would pass through the link %1").arg(path);
                else if (::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                    *why = QStringLiteral("needs a folder where the file %1 is").arg(path);
                else
                    *why = QStringLiteral("cannot create the folder %1: %2").arg(path, errnoText(code));
            }
            folder = std::move(next);
        }
        return folder;
    }

    struct Staged {
        QStringList folder;  // below the destination
        QByteArray temp;     // names inside that folder
        QByteArray target;
        bool moved = false;
    };
    std::vector<Staged> staged;
    mutable std::vector<QStringList> createdDirs; // below the destination, in the order made
    QStringList destinationDirs;                  // the destination's own, by path
    bool done = false;

private:
    Fd m_root;
};

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A new file of mode 0600 under a random name inside `folder`.
Fd createTemporary(int folder, QByteArray *name)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = QByteArrayLiteral(".orvix-unzip-");
        for (int i = 0; i < 8; ++i)
            *name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
        Fd fd(::openat(folder, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.valid() || errno != EEXIST)
            return fd;
    }
    return Fd();
}

struct timespec *modificationTimes(time_t mtime, struct timespec (&times)[2])
{
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = mtime;
    times[1].tv_nsec = 0;
    return times;
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


// The archive's bytes and its directory as the walk reads them, before
// libarchive reads anything: the size, the entry count, each name's length
// and depth and each entry's type are bounded or checked here, in one pass.
bool readDirectory(const QString &path, int maxEntries, QByteArray *bytes, internal::Directory *directory,
                   UnzipError *error)
{
    const QFileInfo archiveInfo(path);
    if (!archiveInfo.exists())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The archive %1 does not exist").arg(path));
    if (!archiveInfo.isFile())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The archive %1 is not a file").arg(path));
    if (archiveInfo.size() == 0)
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 is empty").arg(path));
    const auto tooLarge = [&] {
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 is larger than the allowed %2 bytes").arg(path).arg(kMaxArchiveBytes));
    };
    if (archiveInfo.size() > kMaxArchiveBytes)
        return tooLarge();
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot open the archive %1: %2").arg(path, file.errorString()));
        *bytes = file.read(qMin(file.size(), kMaxArchiveBytes) + 1);
    }
    if (bytes->size() > kMaxArchiveBytes) // grew since it was measured
        return tooLarge();
    *directory = internal::walkCentralDirectory(*bytes, maxEntries, kMaxNameBytes, kMaxDepth);
    switch (directory->failure) {
    case internal::WalkFailure::none:
        break;
    case internal::WalkFailure::tooManyEntries:
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 holds more than the allowed %2 entries: %3")
                        .arg(path)
                        .arg(maxEntries)
                        .arg(directory->why));
    case internal::WalkFailure::entryBeyondBounds:
        return fail(error, UnzipFailure::unsafeEntry,
                    QStringLiteral("The archive %1 holds an entry beyond the bounds: %2").arg(path, directory->why));
    case internal::WalkFailure::damaged:
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 cannot be read: %2").arg(path, directory->why));
    }
    // libarchive hands a FIFO over as a regular file.
    for (const internal::DirectoryEntry &entry : directory->entries) {
        if (entry.isSpecial())
            return fail(error, UnzipFailure::unsafeEntry,
                        QStringLiteral("The entry \"%1\" is not a file or a folder").arg(QString::fromUtf8(entry.name)));
    }
    return true;
}

// Whether libarchive's entry is the directory's record at `index`: the
// stored name in either of libarchive's forms (a name that is not UTF-8 has
// no UTF-8 form), the backslashes of DOS-made names turned into slashes.
bool listedAt(const internal::Directory &directory, qsizetype index, archive_entry *entry)
{
    if (index >= qsizetype(directory.entries.size()))
        return false;
    const auto same = [](QByteArray stored, const char *given) {
        return given && stored.replace('\\', '/') == QByteArray(given).replace('\\', '/');
    };
    const QByteArray &name = directory.entries[size_t(index)].name;
    return same(name, archive_entry_pathname(entry)) || same(name, archive_entry_pathname_utf8(entry));
}

// First pass: every entry is checked before anything is written.
bool planEntries(const QString &path, const QByteArray &bytes, const QByteArray &password,
                 const internal::Directory &directory, int maxEntries, std::vector<Planned> *plan, UnzipError *error)
{
    NameTree names;
    QString why;
    Reader a = openReader(bytes, password, &why);
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
                            .arg(plan->size())
                            .arg(libraryText(a.get())));
        if (qsizetype(plan->size()) >= maxEntries)
            return fail(error, UnzipFailure::unsafeEntry,
                        QStringLiteral("The archive %1 holds more than the allowed %2 entries").arg(path).arg(maxEntries));
        if (!listedAt(directory, qsizetype(plan->size()), entry))
            return fail(error, UnzipFailure::damaged,
                        QStringLiteral("The archive %1 lists entries otherwise than its central directory").arg(path));
        auto planned = planEntry(entry, &why);
        if (!planned)
            return fail(error, UnzipFailure::unsafeEntry, why);
        const QString clash = names.add(*planned);
        if (!clash.isEmpty())
            return fail(error, UnzipFailure::damaged, clash);
        plan->push_back(std::move(*planned));
    }
    if (plan->size() != directory.entries.size())
        return fail(error, UnzipFailure::damaged,
                    QStringLiteral("The archive %1 lists entries otherwise than its central directory").arg(path));
    return true;
}

struct Options {
    bool preserveAttributes = false;
    bool overwrite = true;
    qint64 maxTotalBytes = kMaxExtractedBytes;
    const internal::AfterStaging *afterStaging = nullptr;
};

// Second pass: the data, staged under temporary names through the held
// destination.
bool stageEntries(const QString &path, const QByteArray &bytes, const QByteArray &password,
                  const std::vector<Planned> &plan, const Options &options, Extraction &run, UnzipError *error)
{
    QString why;
    Reader a = openReader(bytes, password, &why);
    if (!a)
        return fail(error, UnzipFailure::damaged, QStringLiteral("Cannot open the archive %1: %2").arg(path, why));
    const auto readFailure = [&](const Planned &entry) {
        return fail(error, classify(a.get()),
                    QStringLiteral("The entry \"%1\" cannot be read: %2").arg(entry.name, libraryText(a.get())));
    };
    qint64 written = 0;
    archive_entry *header = nullptr;
    for (const Planned &entry : plan) {
        if (archive_read_next_header(a.get(), &header) != ARCHIVE_OK)
            return readFailure(entry);
        QString again;
        const auto same = planEntry(header, &again);
        if (!same || same->name != entry.name || same->isDirectory != entry.isDirectory)
            return fail(error, UnzipFailure::damaged,
                        QStringLiteral("The archive %1 changed while it was read").arg(path));

        const Fd folder = run.openFolders(entry.parts, entry.folderParts(), true, &why);
        if (!folder.valid())
            return fail(error, UnzipFailure::unsafeEntry, QStringLiteral("The entry \"%1\" %2").arg(entry.name, why));
        if (entry.isDirectory)
            continue;

        const QByteArray target = QFile::encodeName(entry.parts.last());
        struct stat existing {};
        if (::fstatat(folder.get(), target.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(existing.st_mode))
                return fail(error, UnzipFailure::unsafeEntry,
                            QStringLiteral("The entry \"%1\" would replace a folder").arg(entry.name));
            if (!options.overwrite)
                continue; // kept as it is; the reader skips the data
        }

        QByteArray temp;
        const Fd file = createTemporary(folder.get(), &temp);
        if (!file.valid())
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, errnoText(errno)));
        run.staged.push_back({entry.parts.mid(0, entry.folderParts()), temp, target});

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
            if (qint64(size) > options.maxTotalBytes - written)
                return fail(error, UnzipFailure::unsafeEntry,
                            QStringLiteral("The archive %1 holds more than the allowed %2 bytes")
                                .arg(path)
                                .arg(options.maxTotalBytes));
            if (!writeAll(file.get(), static_cast<const char *>(block), size))
                return fail(error, UnzipFailure::fileAccess,
                            QStringLiteral("Cannot write the entry \"%1\": %2").arg(entry.name, errnoText(errno)));
            written += qint64(size);
            offset += qint64(size);
        }
        struct timespec times[2];
        if (options.preserveAttributes && entry.mtime)
            ::futimens(file.get(), modificationTimes(*entry.mtime, times)); // kept by the move into place
        if (options.afterStaging && *options.afterStaging)
            (*options.afterStaging)(int(run.staged.size()));
    }
    // Nothing may follow the entries checked.
    if (archive_read_next_header(a.get(), &header) != ARCHIVE_EOF)
        return fail(error, UnzipFailure::damaged, QStringLiteral("The archive %1 changed while it was read").arg(path));
    return true;
}

// Everything was read in full: the files go into place, through the held
// destination, and stay only when it still stands where it stood.
bool moveIntoPlace(const QString &destination, const QString &root, const std::vector<Planned> &plan,
                   const Options &options, Extraction &run, UnzipError *error)
{
    const auto moved = [&] {
        return fail(error, UnzipFailure::fileAccess,
                    QStringLiteral("The destination %1 was moved or replaced during the extraction").arg(destination));
    };
    for (auto &s : run.staged) {
        const Fd folder = run.openFolders(s.folder, s.folder.size(), false, nullptr);
        if (!folder.valid() || ::renameat(folder.get(), s.temp.constData(), folder.get(), s.target.constData()) != 0)
            return fail(error, UnzipFailure::fileAccess,
                        QStringLiteral("Cannot move %1 into place: %2")
                            .arg((s.folder + QStringList{QFile::decodeName(s.target)}).join(QLatin1Char('/')),
                                 errnoText(errno)));
        s.moved = true;
    }
    // Checked once all are in place, so a swap at any time before takes
    // them back.
    if (!standsAt(root, run.root()))
        return moved();
    if (options.preserveAttributes) {
        for (auto it = plan.crbegin(); it != plan.crend(); ++it) {
            if (!it->isDirectory || !it->mtime || it->parts.isEmpty())
                continue;
            const Fd parent = run.openFolders(it->parts, it->parts.size() - 1, false, nullptr);
            struct timespec times[2];
            if (parent.valid())
                ::utimensat(parent.get(), QFile::encodeName(it->parts.last()).constData(),
                            modificationTimes(*it->mtime, times), AT_SYMLINK_NOFOLLOW);
        }
    }
    return true;
}

bool unzip(const QString &path, const QString &destination, const std::optional<QString> &password,
           int maxEntries, const Options &options, UnzipError *error)
{
    if (destination.isEmpty())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("No destination folder given"));
    const Utf8Names utf8; // outlives every reader below
    QByteArray bytes;
    internal::Directory directory;
    if (!readDirectory(path, maxEntries, &bytes, &directory, error))
        return false;
    const QByteArray passwordBytes = password ? password->toUtf8() : QByteArray();
    std::vector<Planned> plan;
    if (!planEntries(path, bytes, passwordBytes, directory, maxEntries, &plan, error))
        return false;

    Extraction run;
    QString why;
    const QString absoluteDestination = QFileInfo(destination).absoluteFilePath();
    if (!makeDestination(absoluteDestination, &run.destinationDirs, &why))
        return fail(error, UnzipFailure::fileAccess,
                    QStringLiteral("The destination %1 cannot be used: %2").arg(destination, why));
    const QString root = QFileInfo(absoluteDestination).canonicalFilePath();
    Fd held(root.isEmpty() ? -1 : ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!held.valid())
        return fail(error, UnzipFailure::fileAccess, QStringLiteral("The destination %1 cannot be used").arg(destination));
    run.hold(std::move(held));

    if (!stageEntries(path, bytes, passwordBytes, plan, options, run, error)
        || !moveIntoPlace(destination, root, plan, options, run, error))
        return false;
    run.done = true;
    return true;
}

} // namespace

bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                     const std::optional<QString> &password, UnzipError *error, qint64 maxTotalBytes,
                     int maxEntries)
{
    return internal::unzipFileAtPath(path, destination, preserveAttributes, overwrite, password, error, maxTotalBytes,
                                     maxEntries, {});
}

namespace internal {

bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                     const std::optional<QString> &password, UnzipError *error, qint64 maxTotalBytes,
                     int maxEntries, const AfterStaging &afterStaging)
{
    Options options;
    options.preserveAttributes = preserveAttributes;
    options.overwrite = overwrite;
    options.maxTotalBytes = maxTotalBytes;
    options.afterStaging = &afterStaging;
    return unzip(path, destination, password, maxEntries, options, error);
}

} // namespace internal

} // namespace orvix::platform::zip
