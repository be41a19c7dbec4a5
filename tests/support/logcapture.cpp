#include "logcapture.h"

LogCapture::LogCapture()
{
    m_previous = orvix::platform::log::setSink([this](const QString &line) {
        QMutexLocker lock(&m_mutex);
        m_lines.append(line);
    });
}

LogCapture::~LogCapture()
{
    orvix::platform::log::setSink(std::move(m_previous));
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
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
