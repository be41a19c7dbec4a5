#pragma once
// A raw HTTP/1.1 test server on 127.0.0.1, port 0, plain or over TLS. Each
// request is parsed (head and Content-Length body) and handed to the handler,
// which answers with raw bytes, drops the connection, never answers, or
// trickles its bytes out.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QUrl>
#include <functional>
#include <memory>

struct RawRequest {
    QByteArray method;
    QByteArray target;                          // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers; // names exactly as received
    QByteArray body;
    QByteArray raw;                             // head and body, byte for byte
    QByteArray protocol;                        // over TLS: the protocol agreed by ALPN
    QByteArray header(const QByteArray &name) const; // first, ignoring case
    bool hasHeader(const QByteArray &name) const;
    QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
};

struct RawReply {
    enum class Kind { bytes, drop, hang, trickle, cut } kind = Kind::bytes;
    QByteArray bytes;
    int intervalMs = 0;
    static RawReply http(int status, const QByteArray &body, const QByteArray &contentType = "application/json",
                         const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {});
    static RawReply raw(const QByteArray &bytes) { return {Kind::bytes, bytes}; }
    static RawReply drop() { return {Kind::drop, {}}; }
    // These bytes, then the connection is closed, even while the request body still comes.
    static RawReply cut(const QByteArray &bytes) { return {Kind::cut, bytes}; }
    static RawReply hang() { return {Kind::hang, {}}; }
    // One byte every intervalMs, without end.
    static RawReply trickle(int intervalMs) { return {Kind::trickle, {}, intervalMs}; }
};

class RawServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<RawReply(const RawRequest &)>;
    explicit RawServer(Handler handler, QObject *parent = nullptr);
    // Over TLS with this configuration (certificate, key, ALPN protocols).
    RawServer(Handler handler, const QSslConfiguration &tls, QObject *parent = nullptr);
    ~RawServer() override;

    QUrl url(const QString &path = QStringLiteral("/")) const;
    quint16 port() const { return m_server->serverPort(); }
    QList<RawRequest> requests() const { return m_requests; }
    int count(const QByteArray &path) const;
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Answer as soon as the head is in, then stop reading the body, as a
    // server refusing an upload may.
    void setReplyBeforeBody(bool on) { m_replyBeforeBody = on; }

private:
    void onConnection();
    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    bool m_replyBeforeBody = false;
    Handler m_handler;
    QList<RawRequest> m_requests;
};
