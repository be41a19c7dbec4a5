#pragma once
// Collects the kit's log lines while alive. What it keeps is bounded, so that
// a test whose log runs away does not fill the memory with it: past the bound
// lines are counted, not kept.

#include "platform/log/log.h"

#include <QMutex>
#include <QStringList>

class LogCapture {
public:
    // Far above what any correct test logs (a few hundred kB at most).
    static constexpr qsizetype maximumCharacters = 16 * 1024 * 1024;
    static constexpr qsizetype maximumLines = 200000;

    LogCapture();
    ~LogCapture();
    // The kept lines, then one line saying how many were not kept, if any.
    QStringList lines() const;
    bool contains(const QString &text) const; // any line containing text
    QStringList mainThreadLines() const;       // the kept lines logged from the GUI thread
    QString joined() const { return lines().join(u'\n'); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
    QList<bool> m_onMainThread;
    qsizetype m_characters = 0;
    qsizetype m_dropped = 0;
    orvix::platform::log::Sink m_previous;
};
