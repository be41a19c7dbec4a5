#include "platform/log/log.h"

#include <QMutex>
#include <cstdio>

namespace orvix::platform::log {
namespace {
QMutex &mutex()
{
    static QMutex m;
    return m;
}
Sink &sink()
{
    static Sink s;
    return s;
}
} // namespace

void line(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    QMutexLocker lock(&mutex());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
    if (sink())
        sink()(text);
}

Sink setSink(Sink s)
{
    QMutexLocker lock(&mutex());
    Sink previous = std::move(sink());
    sink() = std::move(s);
    return previous;
}

} // namespace orvix::platform::log
