#include "platform/files/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvix::platform::files {

namespace {

const QByteArray markerHeader = QByteArrayLiteral("orvix private temporary folder");

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// Differs between boots; empty where the system does not tell.
QByteArray bootId()
{
    return readSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed();
}

// When the process started, in clock ticks since boot; empty where unknown.
QByteArray startTime(qint64 pid)
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype name = stat.lastIndexOf(')'); // the command name may hold blanks
    if (name < 0)
        return {};
    // After the name: state is field 3, the start time field 22.
    const QList<QByteArray> fields = stat.mid(name + 1).simplified().split(' ');
    return fields.size() > 19 ? fields.at(19) : QByteArray();
}

// The process id space: a process in another container sharing the folder
// cannot be seen from here, so only markers of our own space are judged.
QByteArray pidNamespace()
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/ns/pid")).toUtf8();
}

struct Marker {
    qint64 pid = 0;
    QByteArray start;
    QByteArray boot;
    QByteArray space;
};

std::optional<Marker> parseMarker(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 4 || lines.at(0) != markerHeader)
        return std::nullopt;
    Marker marker;
    bool ok = false;
    for (const QByteArray &line : lines.mid(1)) {
        if (line.startsWith("pid "))
            marker.pid = line.mid(4).toLongLong(&ok);
        else if (line.startsWith("start "))
            marker.start = line.mid(6);
        else if (line.startsWith("boot "))
            marker.boot = line.mid(5);
        else if (line.startsWith("space "))
            marker.space = line.mid(6);
    }
    if (!ok || marker.pid <= 0)
        return std::nullopt;
    return marker;
}

// Only what is proven: an unknown start time or boot proves nothing.
bool hasEnded(const Marker &marker)
{
    if (marker.pid == qint64(::getpid()) || marker.space != pidNamespace())
        return false;
    const QByteArray boot = bootId();
    if (!marker.boot.isEmpty() && !boot.isEmpty() && marker.boot != boot)
        return true;
    if (::kill(pid_t(marker.pid), 0) != 0 && errno == ESRCH)
        return true;
    const QByteArray start = startTime(marker.pid);
    return !marker.start.isEmpty() && !start.isEmpty() && marker.start != start;
}

// A real folder of ours of mode 0700, the very one `fd` holds open.
bool isHeldFolder(const QByteArray &path, int fd)
{
    struct stat at {}, held {};
    if (fd < 0 || ::fstat(fd, &held) != 0 || ::lstat(path.constData(), &at) != 0)
        return false;
    return S_ISDIR(at.st_mode) && at.st_uid == ::geteuid() && (at.st_mode & 07777) == 0700
        && at.st_dev == held.st_dev && at.st_ino == held.st_ino;
}

int openFolder(int at, const char *name)
{
    return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

bool removeTree(int parent, const char *name);

// Everything inside the folder `fd` holds; links go, their targets stay.
bool emptyFolder(int fd)
{
    const int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return false;
    }
    bool ok = true;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        ok = removeTree(fd, entry->d_name) && ok;
    }
    ::closedir(dir);
    return ok;
}

// The entry `name` of the folder `parent` holds, whatever it is.
bool removeTree(int parent, const char *name)
{
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR)
        return false;
    const int fd = openFolder(parent, name);
    if (fd < 0)
        return errno == ENOENT;
    const bool emptied = emptyFolder(fd);
    ::close(fd);
    return emptied && (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

// Empties the folder `fd` holds, then removes its name when that still
// names it (an empty folder only, so a swap in between loses nothing).
bool removeHeldFolder(const QByteArray &path, int fd)
{
    if (!emptyFolder(fd) || !isHeldFolder(path, fd))
        return false;
    return ::rmdir(path.constData()) == 0 || errno == ENOENT;
}

// The marker inside the folder `fd` holds, when it is a plain file of ours.
std::optional<Marker> readMarker(int folder)
{
    const int fd = ::openat(folder, ownerMarkerName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    QByteArray text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_size < 4096) {
        text.resize(qsizetype(st.st_size));
        if (::read(fd, text.data(), size_t(text.size())) != ssize_t(text.size()))
            text.clear();
    }
    ::close(fd);
    return parseMarker(text);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? n : 0;
    }
    return true;
}

// Written whole under another name, then renamed: a sweeper never reads half.
bool writeMarker(int folder)
{
    static const char partial[] = ".orvix-owner.new";
    const int fd = ::openat(folder, partial, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, ownerMarkerText(::getpid()));
    ::close(fd);
    return written && ::renameat(folder, partial, folder, ownerMarkerName) == 0;
}

// The process's private folder: its path and the folder itself, held open,
// so that its device and inode cannot pass to another folder while we check
// by them, and so that clean-up works on the folder, not on its name.
struct PrivateFolder {
    QMutex mutex;
    QByteArray path;
    int fd = -1;

    ~PrivateFolder() { release(true); }

    bool usable() const { return isHeldFolder(path, fd); }

    // Lets go of the folder; removes it with what it holds when asked and
    // when it still passes the check.
    void release(bool remove)
    {
        if (fd < 0)
            return;
        if (remove && usable())
            removeHeldFolder(path, fd);
        ::close(fd);
        fd = -1;
        path.clear();
    }

    bool make()
    {
        QByteArray name = QFile::encodeName(QDir(QDir::tempPath()).filePath(QStringLiteral("orvix-XXXXXX")));
        if (!::mkdtemp(name.data()))
            return false;
        const int made = openFolder(AT_FDCWD, name.constData());
        if (made < 0 || ::fchmod(made, 0700) != 0 || !isHeldFolder(name, made)) {
            if (made >= 0)
                ::close(made);
            ::rmdir(name.constData()); // empty, so nothing of anyone's is lost
            return false;
        }
        path = name;
        fd = made;
        writeMarker(fd);
        return true;
    }

    // The name `file` has directly inside the folder, when the folder passes.
    std::optional<QByteArray> nameInside(const QString &file) const
    {
        const QFileInfo info(file);
        const QByteArray name = QFile::encodeName(info.fileName());
        if (name.isEmpty() || name == "." || name == ".." || QFile::encodeName(QDir::cleanPath(info.path())) != path
            || !usable())
            return std::nullopt;
        return name;
    }
};

PrivateFolder &privateFolder()
{
    static PrivateFolder folder;
    return folder;
}

} // namespace

QByteArray ownerMarkerText(qint64 pid)
{
    const QByteArray start = startTime(pid);
    return markerHeader + "\npid " + QByteArray::number(pid) + "\nstart " + start + "\nboot " + bootId() + "\nspace "
        + pidNamespace() + '\n';
}

int removeStaleTemporaryDirectories(const QString &base)
{
    static const QRegularExpression pattern(QStringLiteral("^orvix-[A-Za-z0-9]{6}$"));
    int removed = 0;
    const QStringList names = QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(QDir(base).filePath(name));
        const int fd = openFolder(AT_FDCWD, path.constData());
        if (fd < 0)
            continue;
        const std::optional<Marker> marker = isHeldFolder(path, fd) ? readMarker(fd) : std::nullopt;
        if (marker && hasEnded(*marker) && removeHeldFolder(path, fd))
            ++removed;
        ::close(fd);
    }
    return removed;
}

void removeStaleTemporaryDirectoriesOnce()
{
    static const int swept = removeStaleTemporaryDirectories(QDir::tempPath());
    Q_UNUSED(swept);
}

QString privateTemporaryDirectory()
{
    removeStaleTemporaryDirectoriesOnce();
    PrivateFolder &folder = privateFolder();
    QMutexLocker lock(&folder.mutex);
    if (!folder.usable()) {
        // Gone, or something else under its name: left as it is.
        folder.release(false);
        if (!folder.make()) {
            // Under a file, not a folder: nothing can be written there.
            return QStringLiteral("/dev/null/orvix-unavailable");
        }
    }
    return QFile::decodeName(folder.path);
}

bool removeFromPrivateTemporaryDirectory(const QString &path)
{
    PrivateFolder &folder = privateFolder();
    QMutexLocker lock(&folder.mutex);
    const std::optional<QByteArray> name = folder.nameInside(path);
    return name && removeTree(folder.fd, name->constData());
}

bool openInPrivateTemporaryDirectory(QFile &file)
{
    PrivateFolder &folder = privateFolder();
    QMutexLocker lock(&folder.mutex);
    const std::optional<QByteArray> name = folder.nameInside(file.fileName());
    if (!name || !removeTree(folder.fd, name->constData()))
        return false;
    const int fd =
        ::openat(folder.fd, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

void removePrivateTemporaryDirectory()
{
    PrivateFolder &folder = privateFolder();
    QMutexLocker lock(&folder.mutex);
    folder.release(true);
}

} // namespace orvix::platform::files
