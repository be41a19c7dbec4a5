#include "simulator/HttpServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QHttpHeaders>
#endif

namespace orvix::sim {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    using M = QHttpServerRequest::Method;
    switch (method) {
    case M::Get: return "GET";
    case M::Put: return "PUT";
    case M::Delete: return "DELETE";
    case M::Post: return "POST";
    case M::Head: return "HEAD";
    case M::Options: return "OPTIONS";
    case M::Patch: return "PATCH";
    case M::Connect: return "CONNECT";
    case M::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

Request toRequest(const QHttpServerRequest &in)
{
    Request r;
    r.method = methodName(in.method());
    const QUrl url = in.url();
    r.path = url.path();
    r.query = url.query(QUrl::FullyEncoded);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // From 6.8 on, header names come lower-cased.
    const QHttpHeaders headers = in.headers();
    for (qsizetype i = 0; i < headers.size(); ++i)
        r.headers.append({headers.nameAt(i).toString().toLatin1(), headers.valueAt(i).toByteArray()});
#else
    r.headers = in.headers();
#endif
    r.body = in.body();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.body, &error);
    if (error.error == QJsonParseError::NoError && !doc.isNull())
        r.json = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    r.parts = parseMultipart(r.header("Content-Type"), r.body);
    return r;
}

bool wantsClose(const Request &r)
{
    return r.header("Connection").toLower().contains("close");
}

} // namespace

HttpServer::HttpServer(Dispatcher dispatcher, QObject *parent)
    : QAbstractHttpServer(parent), m_dispatch(std::move(dispatcher))
{
}

QString HttpServer::logLine(const Request &request, const Reply &reply)
{
    QString line = QString::fromLatin1(request.method) + u' ' + request.path;
    if (!request.query.isEmpty()) {
        QStringList items;
        for (const auto &item : QUrlQuery(request.query).queryItems(QUrl::FullyEncoded))
            items.append(item.first + QStringLiteral("=<redacted>"));
        line += u'?' + items.join(u'&');
    }
    switch (reply.behaviour) {
    case Reply::Behaviour::answer:
        return line + QStringLiteral(" -> %1").arg(reply.status);
    case Reply::Behaviour::slow:
        return line + QStringLiteral(" -> %1 after %2 ms").arg(reply.status).arg(reply.delayMs);
    case Reply::Behaviour::drop:
        return line + QStringLiteral(" -> dropped");
    }
    return line;
}

void HttpServer::logRequest(const Request &request, const Reply &reply) const
{
    if (m_log)
        m_log(logLine(request, reply));
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)

bool HttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Request r = toRequest(request);
    const Reply reply = m_dispatch(r);
    logRequest(r, reply);
    if (reply.behaviour == Reply::Behaviour::drop) {
        socket->abort();
        return true;
    }
    auto send = [socket = QPointer<QTcpSocket>(socket), bytes = toWire(reply, r.method != "HEAD"),
                 close = wantsClose(r)] {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        socket->write(bytes);
        if (close)
            socket->disconnectFromHost();
    };
    if (reply.behaviour == Reply::Behaviour::slow)
        QTimer::singleShot(reply.delayMs, this, send);
    else
        send();
    return true;
}

void HttpServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    // Not reached: every request is dispatched, unmatched ones get a 404 there.
    socket->write(toWire(Reply::errorCode(404, QStringLiteral("NOT_FOUND"))));
}

#else

namespace {

void respond(QHttpServerResponder &responder, const Reply &reply, bool withBody)
{
    const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QHttpHeaders headers;
    for (const auto &h : reply.headers)
        headers.append(h.first, h.second);
    responder.write(withBody ? reply.body : QByteArray(), headers, status);
#else
    responder.writeStatusLine(status);
    for (const auto &h : reply.headers)
        responder.writeHeader(h.first, h.second);
    responder.writeHeader("Content-Length", QByteArray::number(withBody ? reply.body.size() : 0));
    responder.writeBody(withBody ? reply.body : QByteArray());
#endif
}

} // namespace

bool HttpServer::handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    Request r = toRequest(request);
    Reply reply = m_dispatch(r);
    // This API gives no socket to close or to answer on later, so a dropped
    // or slow reply becomes an immediate 503.
    if (reply.behaviour != Reply::Behaviour::answer)
        reply = Reply::errorCode(503, QStringLiteral("UNAVAILABLE"),
                                 QStringLiteral("dropped and slow replies need Qt before 6.5"));
    logRequest(r, reply);
    respond(responder, reply, r.method != "HEAD");
    return true;
}

void HttpServer::missingHandler(const QHttpServerRequest &, QHttpServerResponder &&responder)
{
    respond(responder, Reply::errorCode(404, QStringLiteral("NOT_FOUND")), true);
}

#endif

} // namespace orvix::sim
