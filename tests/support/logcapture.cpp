#include "logcapture.h"

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

bool LogCapture::contains(const QString &text) const
{
    const QStringList all = lines();
    for (const QString &l : all) {
        if (l.contains(text))
            return true;
    }
    return false;
}
