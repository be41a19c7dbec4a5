#pragma once
// One HTTP/1.1 exchange on libcurl, redirects included.
//
// Every hop goes out on a fresh connection that is never reused: libcurl
// never sends a request again on a fresh connection, only on a reused one, so
// a request reaches a server no more often than the session's retry allows.
// Redirects are followed here, under our rules, not by libcurl.

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

struct TransferLimits {
    int idleTimeoutMs = 60000;                   // nothing in or out; also bounds connecting and TLS
    int attemptTimeoutMs = 300000;               // the whole exchange, every redirect hop included
    qint64 maximumBodySize = 128 * 1024 * 1024;  // reply body, in memory or to a file
    QString certificateAuthorities;              // tests only: a PEM file of extra trusted authorities
};

class Transfer : public QObject {
    Q_OBJECT
public:
    static constexpr int maximumRedirects = 16;

    // downloadPath: when set, the final reply's body goes to this file, a
    // new one directly inside the private temporary folder.
    Transfer(URLRequest request, CookieStore *cookies, TransferLimits limits, QString downloadPath = {},
             QObject *parent = nullptr);
    ~Transfer() override;

    void start();
    void cancel();

    const std::optional<HTTPURLResponse> &response() const;
    const QByteArray &data() const;
    const std::optional<NetError> &error() const;
    int redirects() const;
    // The server gave its final reply before it had the whole request body.
    bool answeredEarly() const;

signals:
    void finished();

private:
    struct Private;
    friend struct Private;
    std::unique_ptr<Private> d;
};

} // namespace orvix::platform::net
