#include "platform/files/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
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

// The marker inside `folder`, when it is a plain file of ours.
std::optional<Marker> readMarker(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + u'/' + QLatin1String(ownerMarkerName));
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
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

bool writeMarker(const QString &folder)
{
    QSaveFile file(folder + u'/' + QLatin1String(ownerMarkerName));
    return file.open(QIODevice::WriteOnly) && file.write(ownerMarkerText(::getpid())) >= 0 && file.commit();
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
        const QString path = QDir(base).filePath(name);
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
            || st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700)
            continue;
        const std::optional<Marker> marker = readMarker(path);
        if (!marker || !hasEnded(*marker))
            continue;
        if (QDir(path).removeRecursively())
            ++removed;
    }
    return removed;
}

QString privateTemporaryDirectory()
{
    static const bool swept = (removeStaleTemporaryDirectories(QDir::tempPath()), true);
    Q_UNUSED(swept);
    static QMutex mutex;
    static QTemporaryDir dir(QDir(QDir::tempPath()).filePath(QStringLiteral("orvix-XXXXXX")));
    QMutexLocker lock(&mutex);
    if (!dir.isValid()) {
        // A folder that does not exist: every write into it fails cleanly.
        return QDir(QDir::tempPath()).filePath(QStringLiteral("orvix-unavailable"));
    }
    if (!QFileInfo(dir.path()).isDir()) // removed under us
        QDir().mkpath(dir.path());
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!QFileInfo::exists(dir.path() + u'/' + QLatin1String(ownerMarkerName)))
        writeMarker(dir.path());
    return dir.path();
}

} // namespace orvix::platform::files
