#include "rawserver.h"

#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

QByteArray RawRequest::header(const QByteArray &name) const
{
    for (const auto &[n, v] : headers) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return {};
}

bool RawRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

RawReply RawReply::http(int status, const QByteArray &body, const QByteArray &contentType,
                        const QList<QPair<QByteArray, QByteArray>> &extraHeaders)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    for (const auto &[n, v] : extraHeaders)
        out += n + ": " + v + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    return {Kind::bytes, out};
}

RawServer::RawServer(Handler handler, QObject *parent)
    : QObject(parent), m_server(std::make_unique<QTcpServer>()), m_handler(std::move(handler))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server.get(), &QTcpServer::newConnection, this, &RawServer::onConnection);
}

RawServer::RawServer(Handler handler, const QSslConfiguration &tls, QObject *parent)
    : QObject(parent), m_tls(true), m_handler(std::move(handler))
{
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    m_server = std::move(server);
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &RawServer::onConnection);
}

RawServer::~RawServer() = default;

QUrl RawServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tls ? "https" : "http").arg(port()).arg(path));
}

int RawServer::count(const QByteArray &path) const
{
    int n = 0;
    for (const RawRequest &r : m_requests)
        n += r.path() == path ? 1 : 0;
    return n;
}

void RawServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            RawRequest req;
            if (auto *ssl = qobject_cast<QSslSocket *>(socket))
                req.protocol = ssl->sslConfiguration().nextNegotiatedProtocol();
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            req.method = first.value(0);
            req.target = first.value(1);
            qint64 length = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray l = lines[i].trimmed();
                const qsizetype c = l.indexOf(':');
                if (c <= 0)
                    continue;
                req.headers.append({l.left(c), l.mid(c + 1).trimmed()});
                if (l.left(c).compare("Content-Length", Qt::CaseInsensitive) == 0)
                    length = l.mid(c + 1).trimmed().toLongLong();
            }
            if (m_replyBeforeBody) {
                // Read no further: the sender's buffers fill up.
                socket->disconnect(this);
                socket->setReadBufferSize(1);
                length = std::min<qint64>(length, buffer->size() - end - 4);
            } else if (buffer->size() < end + 4 + length) {
                return;
            }
            req.body = buffer->mid(end + 4, length);
            req.raw = buffer->left(end + 4 + length);
            buffer->remove(0, end + 4 + length);
            m_requests.append(req);
            const RawReply reply = m_handler ? m_handler(req) : RawReply::http(200, "{}");
            switch (reply.kind) {
            case RawReply::Kind::bytes:
                socket->write(reply.bytes);
                if (!m_replyBeforeBody)
                    socket->disconnectFromHost();
                break;
            case RawReply::Kind::drop:
                socket->abort();
                socket->deleteLater();
                break;
            case RawReply::Kind::cut:
                // Closed for sending only, so that the reply is read before
                // the request's sending fails.
                socket->write(reply.bytes);
                socket->flush();
                ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
                break;
            case RawReply::Kind::hang:
                break;
            case RawReply::Kind::trickle: {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
                auto *timer = new QTimer(socket);
                connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
                timer->start(reply.intervalMs);
                break;
            }
            }
        });
    }
}
