// The entry point's run: priority map, sequential health checks, launch.

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"

#include "platform/files/tempdir.h"
#include "platform/log/log.h"

#include <QRegularExpression>
#include <QStringList>

namespace orvix {

using platform::log::line;

namespace {

const QString keyPrefix = QStringLiteral("priorityCall_");
const QString endKey = QStringLiteral("END");
const QString offlineMessage = QStringLiteral("You are offline! please check your internet connection.");

QVariantMap failure(const QString &message)
{
    return {{QStringLiteral("status"), false},
            {QStringLiteral("error"), QVariantMap{{QStringLiteral("message"), message}}}};
}

QString describe(const PriorityCall &entry)
{
    const auto text = [](const std::optional<QString> &v) {
        return v ? QStringLiteral("\"%1\"").arg(*v) : QStringLiteral("nil");
    };
    return QStringLiteral("PriorityCall(key: %1, name: %2, healthStatus: %3, config: %4)")
        .arg(text(entry.key), text(entry.name),
             entry.healthStatus ? (*entry.healthStatus ? QStringLiteral("true") : QStringLiteral("false"))
                                : QStringLiteral("nil"),
             entry.config ? entry.config->caseName() : QStringLiteral("nil"));
}

// Each word's first letter upper-case, the rest lower-case; words are split
// by whitespace only.
QString capitalized(const QString &text)
{
    QString out = text.toLower();
    bool wordStart = true;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            out[i] = out[i].toUpper();
            wordStart = false;
        }
    }
    return out;
}

// Blanks and tabs only; line breaks are not trimmed.
QString trimBlanksAndTabs(const QString &text)
{
    const auto isBlank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

} // namespace

void OrvixEntryPoint::addConfig(const QList<Config> &config)
{
    if (config.size() < 2) {
        m_errorCode = QStringLiteral("ERROR: MUST NEED ATLEAST TWO PRIORITY List");
        line(QStringLiteral("ERROR: MUST NEED ATLEAST TWO"));
        return;
    }
    if (!m_priorityMap)
        m_priorityMap = QMap<QString, PriorityCall>();
    for (qsizetype i = 0; i < config.size(); ++i) {
        const QString key = keyPrefix + QString::number(i + 1);
        m_priorityMap->insert(key, PriorityCall{key, config[i].rawValue(), false, config[i]});
    }
}

void OrvixEntryPoint::beginKYCFLow()
{
    // Private folders of processes that ended without removing theirs go
    // now, once per process.
    platform::files::removeStaleTemporaryDirectoriesOnce();
    if (!m_priorityMap || m_priorityMap->size() < 2) {
        reportToHost(failure(m_errorCode.value_or(QString())));
        return;
    }
    if (m_userId && trimBlanksAndTabs(*m_userId).isEmpty()) {
        reportToHost(failure(QStringLiteral("Please enter a valid userId")));
        return;
    }
    runHealthCheck(keyPrefix + QStringLiteral("1"));
}

void OrvixEntryPoint::runHealthCheck(const QString &key)
{
    line(QStringLiteral("CurrenthealthCheck--> ") + key);
    m_currentHealthCheck = key;
    std::optional<PriorityCall> entry;
    if (m_priorityMap && m_priorityMap->contains(key))
        entry = m_priorityMap->value(key);
    line(entry ? describe(*entry) : QString());

    // The pending request keeps the entry point alive until it answers.
    auto self = sharedFromThis();
    m_healthCheckVM->getResourceState(
        m_merchantId.value_or(QString()), entry ? entry->name.value_or(QString()) : QString(),
        m_urlComponent.value_or(QString()),
        [self, key](const QVariant &reply) { self->handleHealthCheckResponse(reply, key); },
        [self](const Error &error) { self->handleHealthCheckFailure(error); });
}

void OrvixEntryPoint::handleHealthCheckResponse(const QVariant &reply, const QString &key)
{
    const QVariantMap map = reply.toMap();
    const bool isMap = reply.typeId() == QMetaType::QVariantMap;
    const QVariant status = map.value(QStringLiteral("statusCode"));
    if (isMap && status.typeId() == QMetaType::Int && status.toInt() == 200) {
        const QVariant available = map.value(QStringLiteral("isAvailable"));
        updateHealthStatus(available.typeId() == QMetaType::Bool ? std::optional<bool>(available.toBool())
                                                                  : std::nullopt,
                           key);
        proceedAfterHealthCheck(key);
        return;
    }
    const QVariant errors = map.value(QStringLiteral("errors"));
    const QVariant code = errors.typeId() == QMetaType::QVariantMap
        ? errors.toMap().value(QStringLiteral("errorCode"))
        : QVariant();
    const QString text = code.typeId() == QMetaType::QString ? code.toString() : QString();
    reportToHost(failure(capitalized(text) + QStringLiteral(" access!")));
    line(QStringLiteral("ERROR: SOMETHING WENT WRONG"));
}

void OrvixEntryPoint::handleHealthCheckFailure(const Error &error)
{
    reportToHost(failure(error.isSessionTaskFailed() ? offlineMessage : error.localizedDescription()));
}

void OrvixEntryPoint::updateHealthStatus(std::optional<bool> isAvailable, const QString &key)
{
    if (!m_priorityMap)
        return;
    PriorityCall entry = m_priorityMap->value(key);
    entry.healthStatus = isAvailable.value_or(false);
    m_priorityMap->insert(key, entry);

    line(QStringLiteral("<----- Updated HEALTH STATHS ---->"));
    QStringList items;
    for (auto it = m_priorityMap->cbegin(); it != m_priorityMap->cend(); ++it)
        items.append(QStringLiteral("\"%1\": %2").arg(it.key(), describe(it.value())));
    line(u'[' + items.join(QStringLiteral(", ")) + u']');
}

QString OrvixEntryPoint::nextPriorityKey(const QString &after) const
{
    QString digits = after;
    digits.remove(keyPrefix);
    const long long count = m_priorityMap ? m_priorityMap->size() : 0;
    bool ok = false;
    long long n = digits.toLongLong(&ok);
    if (!ok) {
        // A number too large for any map is past its end.
        static const QRegularExpression tooLarge(QStringLiteral("^\\+?[0-9]+$"));
        if (tooLarge.match(digits).hasMatch())
            return endKey;
        n = 1;
    }
    // n < count rather than n + 1 <= count: n may be the largest number.
    return n < count ? keyPrefix + QString::number(n + 1) : endKey;
}

void OrvixEntryPoint::proceedAfterHealthCheck(const QString &key)
{
    const QString next = nextPriorityKey(key);
    if (next != endKey) {
        runHealthCheck(next);
        return;
    }
    const QString first = keyPrefix + QStringLiteral("1");
    launchFlow(m_priorityMap && m_priorityMap->contains(first) ? std::optional(m_priorityMap->value(first))
                                                               : std::nullopt);
}

void OrvixEntryPoint::launchFlow(const std::optional<PriorityCall> &start)
{
    // Walks from the given entry past every unavailable one.
    std::optional<PriorityCall> entry = start;
    while (entry && !entry->healthStatus.value_or(false)) {
        const QString next = nextPriorityKey(entry->key.value_or(QString()));
        line(QStringLiteral("nextCall---> ") + next);
        if (next == endKey) {
            reportToHost(failure(QStringLiteral("ENDPOINTS_DOWN")));
            return;
        }
        entry = m_priorityMap && m_priorityMap->contains(next) ? std::optional(m_priorityMap->value(next))
                                                               : std::nullopt;
    }
    if (!entry || !entry->config || entry->config->value() == Config::aadhaarApiflow) {
        line(QStringLiteral("<--- NONE -->"));
        return;
    }
    presentFlowScreen(*entry->config);
}

} // namespace orvix
