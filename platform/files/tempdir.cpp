#include "platform/files/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>

namespace orvix::platform::files {

QString privateTemporaryDirectory()
{
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
    return dir.path();
}

} // namespace orvix::platform::files
