#pragma once
// A local stand-in for the services the kit talks to, on 127.0.0.1.
//
// Requests are answered by routes, tried in the order they were added. Each
// group of routes lives in files of its own, like Backend: a class keeping
// the group's switches, whose routes() gives Route entries (name, method,
// path pattern under the group's own prefix, handler), added in the
// constructor with addRoutes(). Overrides change the replies of one route or
// path, and every request received is recorded first.

#include "simulator/Authority.h"
#include "simulator/Backend.h"
#include "simulator/DigiLocker.h"
#include "simulator/Http.h"
#include "simulator/ResidentPortal.h"

#include <QHash>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace orvix::sim {

class HttpServer;

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(QObject *parent = nullptr);
    ~Simulator() override;

    // Listens on 127.0.0.1; port 0 takes a free one.
    bool start(quint16 port = 0);
    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QUrl baseUrl() const;          // http://127.0.0.1:PORT/, empty before start()
    QString backendBaseUrl() const; // the kit's backend base URL, ending in '/'

    // Host redirect pages the simulator serves; empty before start().
    QString hostSuccessUrl() const;
    QString hostFailureUrl() const;
    // The authority's service host (no trailing '/') and portal root (ending in '/').
    QString authorityApiBaseUrl() const;
    QString authorityPortalUrl() const;
    // The resident page's base, ending in '/': the page is this + "offline-kyc".
    QString residentPortalUrl() const;

    // An Aadhaar number the authority and the resident page accept.
    static QString sampleAadhaarNumber() { return QStringLiteral("987654321012"); }

    Backend &backend() { return *m_backend; }
    DigiLocker &digiLocker() { return *m_digiLocker; }
    Authority &authority() { return *m_authority; }
    ResidentPortal &residentPortal() { return *m_residentPortal; }

    // One line per request answered (see HttpServer::logLine); none by default.
    void setRequestLog(std::function<void(const QString &line)> log);

    void addRoute(Route route);
    void addRoutes(const QList<Route> &routes);
    const QList<Route> &routes() const { return m_routes; }

    // Overrides are keyed by a route name or an exact decoded path ("/backend/documents");
    // a route name wins over a path when both have one.
    void setOverride(const QString &key, const Override &override);
    void setOneShot(const QString &key, const Override &override) { setOverride(key, override.times(1)); }
    // The next n requests get `failure`; later ones are answered as usual.
    void failNext(const QString &key, int n,
                  const Override &failure = Override::errorCode(500, QStringLiteral("INTERNAL_ERROR")));
    std::optional<Override> overrideFor(const QString &key) const;
    void clearOverride(const QString &key);
    void clearOverrides();

    QList<Request> requests() const { return m_records; }
    QList<Request> requestsTo(const QString &key) const; // by route name or exact path
    void clearRecords() { m_records.clear(); }

    // Back to a fresh simulator: no overrides, no records, backend defaults,
    // no DigiLocker decisions, no authority or resident-page sessions and their switches off.
    void reset();

signals:
    void requestReceived(const orvix::sim::Request &request);

private:
    Reply dispatch(Request &request);
    std::optional<Override> takeOverride(const Request &request);

    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<Backend> m_backend;
    std::unique_ptr<DigiLocker> m_digiLocker;
    std::unique_ptr<Authority> m_authority;
    std::unique_ptr<ResidentPortal> m_residentPortal;
    quint16 m_port = 0;
    QList<Route> m_routes;
    QHash<QString, Override> m_overrides;
    QList<Request> m_records;
};

} // namespace orvix::sim
