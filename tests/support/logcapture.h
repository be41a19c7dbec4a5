#pragma once
// Collects the kit's log lines while alive.

#include "platform/log/log.h"

#include <QMutex>
#include <QStringList>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString &text) const; // any line containing text
    QString joined() const { return lines().join(u'\n'); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
    orvix::platform::log::Sink m_previous;
};
