#pragma once
// One HTTP/1.1 exchange, redirects included, on a socket of its own.
//
// We talk HTTP ourselves rather than through QNetworkAccessManager: that
// manager silently sends a request again when a connection drops, which would
// let a request reach a server more often than the one retry we allow, and
// it does not let us count what went out.

#include "platform/net/encoding.h"
#include "platform/net/error.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QNetworkCookieJar>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>

class QTcpSocket;

namespace orvix::platform::net {

struct HTTPURLResponse {
    int statusCode = 0;
    QUrl url;                 // the URL that answered, after redirects
    QList<HTTPHeader> headers; // as received, in order
    std::optional<QByteArray> value(const QByteArray &name) const;
};

// The shared cookie store; safe to use from any thread.
class CookieStore : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &url) const override;
    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) override;
    QList<QNetworkCookie> allCookies() const;
    void setCookie(const QNetworkCookie &cookie);
    void removeAll();

private:
    mutable QRecursiveMutex m_mutex;
};

class Transfer : public QObject {
    Q_OBJECT
public:
    static constexpr int maximumRedirects = 16;

    // downloadPath: when set, the final reply's body goes to this file.
    Transfer(URLRequest request, CookieStore *cookies, int timeoutMs, QString downloadPath = {},
             QObject *parent = nullptr);
    ~Transfer() override;

    void start();
    void cancel();

    const std::optional<HTTPURLResponse> &response() const { return m_response; }
    const QByteArray &data() const { return m_body; }
    const std::optional<NetError> &error() const { return m_error; }
    int redirects() const { return m_redirects; }

signals:
    void finished();

private:
    enum class State { idle, connecting, sending, head, bodyLength, bodyChunkSize, bodyChunkData, bodyChunkEnd,
                       trailers, bodyUntilClose, done };

    void startHop();
    void onConnected();
    void writeMore();
    void onReadyRead();
    void onDisconnected();
    void onSocketError();
    void onTimeout();
    void touch();
    bool parseHead();
    bool consumeBody();
    void appendBody(const char *data, qint64 size);
    void hopComplete();
    void fail(NetError::TransportFailure failure, const QString &detail = {});
    void finish();
    void closeSocket();
    QByteArray buildHead() const;

    URLRequest m_request;
    QPointer<CookieStore> m_cookies;
    int m_timeoutMs;
    QString m_downloadPath;
    std::unique_ptr<QFile> m_downloadFile;

    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<QFile> m_bodySource;
    qint64 m_bodySent = 0;
    QTimer m_idleTimer;
    State m_state = State::idle;
    QByteArray m_buffer;
    qint64 m_remaining = 0;
    bool m_discardBody = false;
    int m_redirects = 0;
    bool m_finished = false;

    std::optional<HTTPURLResponse> m_response;
    HTTPURLResponse m_current;
    QByteArray m_body;
    QByteArray m_hopBody;
    std::optional<NetError> m_error;
};

} // namespace orvix::platform::net
