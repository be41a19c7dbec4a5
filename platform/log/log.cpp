#include "platform/log/log.h"

#include <QMutex>
#include <QStringList>
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

QString redactedURL(const QString &url)
{
    QString text = url.left(url.indexOf(u'#'));
    const qsizetype queryStart = text.indexOf(u'?');
    QString query = queryStart < 0 ? QString() : text.mid(queryStart + 1);
    text.truncate(queryStart < 0 ? text.size() : queryStart);

    // User info sits between "//" and the last "@" of the authority.
    if (const qsizetype slashes = text.indexOf(QLatin1String("//")); slashes >= 0) {
        const qsizetype hostStart = slashes + 2;
        qsizetype hostEnd = text.indexOf(u'/', hostStart);
        if (hostEnd < 0)
            hostEnd = text.size();
        const qsizetype at = text.lastIndexOf(u'@', hostEnd - 1);
        if (at >= hostStart)
            text.remove(hostStart, at + 1 - hostStart);
    }
    if (queryStart < 0)
        return text;

    QStringList items = query.split(u'&');
    for (QString &item : items) {
        const qsizetype eq = item.indexOf(u'=');
        if (eq >= 0)
            item = item.left(eq) + QLatin1String("=<redacted>");
    }
    return text + u'?' + items.join(u'&');
}

QString redactedURL(const QUrl &url)
{
    return redactedURL(url.toString(QUrl::FullyEncoded));
}

Sink setSink(Sink s)
{
    QMutexLocker lock(&mutex());
    Sink previous = std::move(sink());
    sink() = std::move(s);
    return previous;
}

} // namespace orvix::platform::log
