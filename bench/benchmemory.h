#pragma once
// Peak memory of a benchmark, read from the kernel (Linux).

#include <QByteArray>
#include <QFile>

#include <malloc.h>

namespace orvix::bench {

// Resident memory now and at its peak since the last reset, in kB.
inline qint64 statusField(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Memory freed by earlier benchmarks goes back to the system first, so that
// it cannot hide this one's growth; then the peak starts from now.
inline void resetPeakMemory()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace orvix::bench
