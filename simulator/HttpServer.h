#pragma once
// The simulator's transport: each request QtHttpServer has parsed becomes a
// Request, the dispatcher gives the Reply, and the Reply is written (or the
// connection dropped, or the answer delayed) as it says.

#include "simulator/Http.h"

#include <QAbstractHttpServer>
#include <functional>

namespace orvix::sim {

class HttpServer : public QAbstractHttpServer {
public:
    using Dispatcher = std::function<Reply(Request &)>;
    explicit HttpServer(Dispatcher dispatcher, QObject *parent = nullptr);

    // Gets one line per request answered: method, path, query with its
    // values redacted, and the status (or what became of the reply).
    void setRequestLog(std::function<void(const QString &line)> log) { m_log = std::move(log); }
    static QString logLine(const Request &request, const Reply &reply);

protected:
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
#else
    bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
    void missingHandler(const QHttpServerRequest &request, QHttpServerResponder &&responder) override;
#endif

private:
    void logRequest(const Request &request, const Reply &reply) const;

    Dispatcher m_dispatch;
    std::function<void(const QString &)> m_log;
};

} // namespace orvix::sim
