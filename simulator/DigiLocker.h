#pragma once
// DigiLocker stand-in pages and the host redirect pages.
//
// init-doc-fetch sends the user to the consent page, digilocker/consent?tx=ID.
// Its Allow and Deny buttons post to the decision, which redirects (302) to
// the callbackUrl or cancelUrl the backend received for that transaction,
// byte for byte. host/success and host/failure are plain pages for hosts that
// have none of their own.
//
// Failures and delays go through the simulator's overrides, by route name:
// e.g. setOverride(consentRoute, Override::htmlPage(500)) or
// setOverride(decisionRoute, Override::slow(ms)).

#include "simulator/Backend.h"
#include "simulator/Http.h"

#include <QList>
#include <QObject>
#include <QString>

namespace orvix::sim {

class DigiLocker : public QObject {
    Q_OBJECT
public:
    // Paths relative to the simulator's base URL.
    static inline const QString consentPath = Backend::consentPath;
    static inline const QString allowPath = Backend::consentPath + QStringLiteral("/allow");
    static inline const QString denyPath = Backend::consentPath + QStringLiteral("/deny");
    static inline const QString hostSuccessPath = QStringLiteral("host/success");
    static inline const QString hostFailurePath = QStringLiteral("host/failure");

    // Route names, for overrides and Simulator::requestsTo(). Allow and Deny share one.
    static inline const QString consentRoute = QStringLiteral("digilocker.consent");
    static inline const QString decisionRoute = QStringLiteral("digilocker.decision");
    static inline const QString hostSuccessRoute = QStringLiteral("host.success");
    static inline const QString hostFailureRoute = QStringLiteral("host.failure");

    // Transactions are looked up in `backend`, which must outlive this.
    explicit DigiLocker(const Backend &backend, QObject *parent = nullptr);

    // The group's routes; they refer to this object.
    QList<Route> routes();

    struct Decision {
        QString transactionId;
        bool allowed = false;
        bool operator==(const Decision &) const = default;
    };
    // Every decision on a known transaction, in order of arrival.
    QList<Decision> decisions() const { return m_decisions; }

    void reset() { m_decisions.clear(); }

signals:
    // A decision arrived; emitted before its reply goes out (so also before a delayed one).
    void decided(const QString &transactionId, bool allowed);

private:
    Reply consent(const Request &request) const;
    Reply decide(const Request &request);

    const Backend &m_backend;
    QList<Decision> m_decisions;
};

} // namespace orvix::sim
