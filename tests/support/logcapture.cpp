#include "logcapture.h"

#include <QCoreApplication>
#include <QThread>

LogCapture::LogCapture()
{
    m_previous = orvix::platform::log::setSink([this](const QString &line) {
        QMutexLocker lock(&m_mutex);
        if (m_dropped > 0 || m_characters + line.size() > maximumCharacters || m_lines.size() >= maximumLines) {
            ++m_dropped;
            return;
        }
        m_characters += line.size();
        m_lines.append(line);
        m_onMainThread.append(QCoreApplication::instance()
                              && QThread::currentThread() == QCoreApplication::instance()->thread());
    });
}

LogCapture::~LogCapture()
{
    orvix::platform::log::setSink(std::move(m_previous));
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    if (m_dropped == 0)
        return m_lines;
    return m_lines + QStringList{QStringLiteral("(log capture full: %1 more lines not kept)").arg(m_dropped)};
}

QStringList LogCapture::mainThreadLines() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_onMainThread[i])
            out.append(m_lines[i]);
    }
    return out;
}

bool LogCapture::contains(const QString &text) const
{
    const QStringList all = lines();
    for (const QString &l : all) {
        if (l.contains(text))
            return true;
    }
    return false;
}
