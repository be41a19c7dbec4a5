#include "platform/net/transport.h"

#include <QNetworkCookie>
#include <QSslSocket>
#include <QTcpSocket>

namespace orvix::platform::net {

namespace {
constexpr qint64 maximumHeadSize = 64 * 1024;
constexpr qint64 writeChunk = 64 * 1024;
constexpr qint64 writeHighWater = 256 * 1024;
} // namespace

std::optional<QByteArray> HTTPURLResponse::value(const QByteArray &name) const
{
    for (const HTTPHeader &h : headers) {
        if (h.name.compare(name, Qt::CaseInsensitive) == 0)
            return h.value;
    }
    return std::nullopt;
}

QList<QNetworkCookie> CookieStore::cookiesForUrl(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::cookiesForUrl(url);
}

bool CookieStore::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url)
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::setCookiesFromUrl(cookieList, url);
}

QList<QNetworkCookie> CookieStore::allCookies() const
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::allCookies();
}

void CookieStore::setCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    if (!updateCookie(cookie))
        insertCookie(cookie);
}

void CookieStore::removeAll()
{
    QMutexLocker lock(&m_mutex);
    setAllCookies({});
}

Transfer::Transfer(URLRequest request, CookieStore *cookies, int timeoutMs, QString downloadPath, QObject *parent)
    : QObject(parent), m_request(std::move(request)), m_cookies(cookies), m_timeoutMs(timeoutMs),
      m_downloadPath(std::move(downloadPath))
{
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &Transfer::onTimeout);
}

Transfer::~Transfer()
{
    closeSocket();
}

void Transfer::start()
{
    startHop();
}

void Transfer::cancel()
{
    if (m_finished)
        return;
    closeSocket();
    m_finished = true;
}

void Transfer::touch()
{
    m_idleTimer.start(m_timeoutMs);
}

void Transfer::closeSocket()
{
    m_idleTimer.stop();
    m_bodySource.reset();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void Transfer::startHop()
{
    const QString scheme = m_request.url.scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || m_request.url.host().isEmpty()) {
        fail(NetError::TransportFailure::unsupportedURL, m_request.url.toString());
        return;
    }
    const bool secure = scheme == QLatin1String("https");
    if (secure && !QSslSocket::supportsSsl()) {
        fail(NetError::TransportFailure::secureConnectionFailed, QStringLiteral("TLS is not available"));
        return;
    }

    m_state = State::connecting;
    m_buffer.clear();
    m_hopBody.clear();
    m_bodySent = 0;
    m_current = HTTPURLResponse{};
    m_current.url = m_request.url;

    if (m_request.body.isFile()) {
        m_bodySource = std::make_unique<QFile>(m_request.body.filePath);
        if (!m_bodySource->open(QIODevice::ReadOnly)) {
            fail(NetError::TransportFailure::other, QStringLiteral("cannot read the request body"));
            return;
        }
    }

    const quint16 port = quint16(m_request.url.port(secure ? 443 : 80));
    if (secure) {
        auto *ssl = new QSslSocket(this);
        m_socket = ssl;
        connect(ssl, &QSslSocket::encrypted, this, &Transfer::onConnected);
        ssl->connectToHostEncrypted(m_request.url.host(), port);
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &Transfer::onConnected);
        m_socket->connectToHost(m_request.url.host(), port);
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &Transfer::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        touch();
        writeMore();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &Transfer::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Transfer::onSocketError);
    touch();
}

QByteArray Transfer::buildHead() const
{
    const QUrl &url = m_request.url;
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();

    QByteArray head = methodName(m_request.method) + ' ' + target + " HTTP/1.1\r\n";
    const HTTPHeaders &h = m_request.headers;
    if (!h.contains("Host")) {
        QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        const int port = url.port(-1);
        if (port != -1 && port != (secure ? 443 : 80))
            host += ':' + QByteArray::number(port);
        head += "Host: " + host + "\r\n";
    }
    for (const HTTPHeader &header : h.list()) {
        // Framing is ours: a caller's length or transfer coding would corrupt it.
        if (header.name.compare("Content-Length", Qt::CaseInsensitive) == 0
            || header.name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            continue;
        head += header.name + ": " + header.value + "\r\n";
    }
    if (!h.contains("User-Agent"))
        head += "User-Agent: Orvix/" ORVIX_PLATFORM_VERSION " Qt/" QT_VERSION_STR "\r\n";
    if (!h.contains("Connection"))
        head += "Connection: close\r\n";
    if (!h.contains("Cookie") && m_cookies) {
        const QList<QNetworkCookie> cookies = m_cookies->cookiesForUrl(url);
        if (!cookies.isEmpty()) {
            QByteArrayList parts;
            for (const QNetworkCookie &c : cookies)
                parts.append(c.toRawForm(QNetworkCookie::NameAndValueOnly));
            head += "Cookie: " + parts.join("; ") + "\r\n";
        }
    }
    const bool sendsBody = m_request.body.size() > 0 || m_request.method == HTTPMethod::POST
        || m_request.method == HTTPMethod::PUT || m_request.method == HTTPMethod::PATCH;
    if (sendsBody)
        head += "Content-Length: " + QByteArray::number(m_request.body.size()) + "\r\n";
    head += "\r\n";
    return head;
}

void Transfer::onConnected()
{
    if (!m_socket)
        return;
    touch();
    m_state = State::sending;
    m_socket->write(buildHead());
    writeMore();
}

void Transfer::writeMore()
{
    if (!m_socket || m_state != State::sending)
        return;
    const qint64 total = m_request.body.size();
    while (m_bodySent < total && m_socket->bytesToWrite() < writeHighWater) {
        const qint64 n = std::min(writeChunk, total - m_bodySent);
        QByteArray chunk;
        if (m_bodySource) {
            chunk = m_bodySource->read(n);
            if (chunk.size() != n) {
                fail(NetError::TransportFailure::other, QStringLiteral("cannot read the request body"));
                return;
            }
        } else {
            chunk = m_request.body.bytes.mid(m_bodySent, n);
        }
        m_socket->write(chunk);
        m_bodySent += n;
    }
    if (m_bodySent >= total) {
        m_bodySource.reset();
        m_state = State::head;
        // A server may answer early; pick up what is already there.
        if (m_socket->bytesAvailable() > 0)
            onReadyRead();
    }
}

void Transfer::onReadyRead()
{
    if (!m_socket)
        return;
    touch();
    m_buffer += m_socket->readAll();
    if (m_state == State::sending || m_state == State::connecting)
        return; // read it once the request is out
    while (!m_finished && m_socket) {
        if (m_state == State::head) {
            if (!parseHead())
                return;
            continue;
        }
        if (!consumeBody())
            return;
        if (m_state == State::done)
            return;
    }
}

bool Transfer::parseHead()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > maximumHeadSize)
            fail(NetError::TransportFailure::badServerResponse, QStringLiteral("reply head too large"));
        return false;
    }
    const QByteArray head = m_buffer.left(end);
    m_buffer.remove(0, end + 4);

    const QList<QByteArray> lines = head.split('\n');
    const QByteArray statusLine = lines.value(0).trimmed();
    const QList<QByteArray> statusParts = statusLine.split(' ');
    bool ok = false;
    const int status = statusParts.value(1).toInt(&ok);
    if (!statusLine.startsWith("HTTP/1.") || !ok || status < 100 || status > 999) {
        fail(NetError::TransportFailure::badServerResponse, QStringLiteral("bad status line"));
        return false;
    }
    if (status >= 100 && status < 200 && status != 101)
        return true; // an interim reply; the real one follows

    m_current.statusCode = status;
    m_current.headers.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        m_current.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }

    if (m_cookies) {
        QList<QNetworkCookie> cookies;
        for (const HTTPHeader &h : std::as_const(m_current.headers)) {
            if (h.name.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
                cookies += QNetworkCookie::parseCookies(h.value);
        }
        if (!cookies.isEmpty())
            m_cookies->setCookiesFromUrl(cookies, m_request.url);
    }

    const bool redirect = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
        && m_current.value("Location").has_value();
    if (redirect) {
        const QUrl location = m_request.url.resolved(
            QUrl::fromEncoded(m_current.value("Location")->trimmed(), QUrl::TolerantMode));
        if (++m_redirects > maximumRedirects) {
            fail(NetError::TransportFailure::tooManyRedirects);
            return false;
        }
        const bool toGet = (status == 303 && m_request.method != HTTPMethod::HEAD)
            || ((status == 301 || status == 302) && m_request.method == HTTPMethod::POST);
        if (toGet) {
            m_request.method = HTTPMethod::GET;
            m_request.body = RequestBody{};
            m_request.bodyFile.reset();
            m_request.headers.remove("Content-Type");
        }
        m_request.url = location;
        closeSocket();
        startHop();
        return false;
    }

    if (!m_downloadPath.isEmpty() && !m_downloadFile) {
        m_downloadFile = std::make_unique<QFile>(m_downloadPath);
        if (!m_downloadFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            fail(NetError::TransportFailure::fileWriteFailed, m_downloadFile->errorString());
            return false;
        }
    }

    const bool noBody = m_request.method == HTTPMethod::HEAD || status == 204 || status == 304 || status < 200;
    const auto te = m_current.value("Transfer-Encoding");
    const auto cl = m_current.value("Content-Length");
    if (noBody) {
        hopComplete();
        return false;
    }
    if (te && te->toLower().contains("chunked")) {
        m_state = State::bodyChunkSize;
    } else if (cl) {
        bool okLength = false;
        m_remaining = cl->trimmed().toLongLong(&okLength);
        if (!okLength || m_remaining < 0) {
            fail(NetError::TransportFailure::badServerResponse, QStringLiteral("bad Content-Length"));
            return false;
        }
        m_state = State::bodyLength;
        if (m_remaining == 0) {
            hopComplete();
            return false;
        }
    } else {
        m_state = State::bodyUntilClose;
    }
    return true;
}

void Transfer::appendBody(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    if (m_downloadFile) {
        if (m_downloadFile->write(data, size) != size)
            fail(NetError::TransportFailure::fileWriteFailed, m_downloadFile->errorString());
    } else {
        m_hopBody.append(data, size);
    }
}

// Consumes buffered body bytes; returns false when more input is needed.
bool Transfer::consumeBody()
{
    switch (m_state) {
    case State::bodyLength: {
        const qint64 n = std::min<qint64>(m_remaining, m_buffer.size());
        appendBody(m_buffer.constData(), n);
        m_buffer.remove(0, n);
        m_remaining -= n;
        if (m_finished)
            return false;
        if (m_remaining == 0) {
            hopComplete();
            return false;
        }
        return false;
    }
    case State::bodyUntilClose:
        appendBody(m_buffer.constData(), m_buffer.size());
        m_buffer.clear();
        return false;
    case State::bodyChunkSize: {
        const qsizetype eol = m_buffer.indexOf("\r\n");
        if (eol < 0) {
            if (m_buffer.size() > 1024)
                fail(NetError::TransportFailure::badServerResponse, QStringLiteral("bad chunk size"));
            return false;
        }
        QByteArray line = m_buffer.left(eol);
        m_buffer.remove(0, eol + 2);
        if (const qsizetype semi = line.indexOf(';'); semi >= 0)
            line.truncate(semi);
        bool ok = false;
        m_remaining = line.trimmed().toLongLong(&ok, 16);
        if (!ok || m_remaining < 0) {
            fail(NetError::TransportFailure::badServerResponse, QStringLiteral("bad chunk size"));
            return false;
        }
        m_state = m_remaining == 0 ? State::trailers : State::bodyChunkData;
        return true;
    }
    case State::bodyChunkData: {
        const qint64 n = std::min<qint64>(m_remaining, m_buffer.size());
        appendBody(m_buffer.constData(), n);
        m_buffer.remove(0, n);
        m_remaining -= n;
        if (m_finished)
            return false;
        if (m_remaining > 0)
            return false;
        m_state = State::bodyChunkEnd;
        return true;
    }
    case State::bodyChunkEnd:
        if (m_buffer.size() < 2)
            return false;
        if (!m_buffer.startsWith("\r\n")) {
            fail(NetError::TransportFailure::badServerResponse, QStringLiteral("bad chunk end"));
            return false;
        }
        m_buffer.remove(0, 2);
        m_state = State::bodyChunkSize;
        return true;
    case State::trailers: {
        const qsizetype eol = m_buffer.indexOf("\r\n");
        if (eol < 0)
            return false;
        m_buffer.remove(0, eol + 2);
        if (eol == 0) {
            hopComplete();
            return false;
        }
        return true;
    }
    default:
        return false;
    }
}

void Transfer::hopComplete()
{
    m_state = State::done;
    if (m_downloadFile) {
        if (!m_downloadFile->flush()) {
            fail(NetError::TransportFailure::fileWriteFailed, m_downloadFile->errorString());
            return;
        }
        m_downloadFile->close();
    }
    m_response = m_current;
    m_body = m_hopBody;
    closeSocket();
    finish();
}

void Transfer::onDisconnected()
{
    if (m_finished || !m_socket)
        return;
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (m_finished)
        return;
    if (m_state == State::bodyUntilClose) {
        hopComplete();
        return;
    }
    fail(NetError::TransportFailure::connectionLost, QStringLiteral("the connection closed before a full reply"));
}

void Transfer::onSocketError()
{
    if (m_finished || !m_socket)
        return;
    switch (m_socket->error()) {
    case QAbstractSocket::RemoteHostClosedError:
        onDisconnected();
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(NetError::TransportFailure::connectionRefused, m_socket->errorString());
        return;
    case QAbstractSocket::HostNotFoundError:
        fail(NetError::TransportFailure::hostNotFound, m_socket->errorString());
        return;
    case QAbstractSocket::SocketTimeoutError:
        fail(NetError::TransportFailure::timedOut, m_socket->errorString());
        return;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        fail(NetError::TransportFailure::secureConnectionFailed, m_socket->errorString());
        return;
    case QAbstractSocket::NetworkError:
        fail(NetError::TransportFailure::connectionLost, m_socket->errorString());
        return;
    default:
        fail(NetError::TransportFailure::other, m_socket->errorString());
        return;
    }
}

void Transfer::onTimeout()
{
    if (!m_finished)
        fail(NetError::TransportFailure::timedOut, QStringLiteral("no activity for %1 ms").arg(m_timeoutMs));
}

void Transfer::fail(NetError::TransportFailure failure, const QString &detail)
{
    if (m_finished)
        return;
    m_error = NetError::sessionTaskFailed(failure, detail);
    if (m_downloadFile) {
        m_downloadFile->close();
        m_downloadFile->remove();
        m_downloadFile.reset();
    }
    closeSocket();
    finish();
}

void Transfer::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished();
}

} // namespace orvix::platform::net
