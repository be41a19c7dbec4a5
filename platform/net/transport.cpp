#include "platform/net/transport.h"

#include "platform/files/tempdir.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>

#include <mutex>

namespace orvix::platform::net {

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

namespace {

// Headers that carry a credential of the request's origin; dropped once a
// redirect leaves it. The first is the kit backend's merchant credential.
const QByteArrayList originBoundHeaders{"X-Kalmar-Auth-Credential-ID", "Authorization", "Cookie"};

// libcurl's multi interface driven by the Qt event loop of the thread that
// runs the session: a socket notifier per socket and direction, one timer.
class CurlMulti : public QObject {
public:
    using Done = std::function<void(CURLcode)>;
    using Hook = std::function<void()>;

    static CurlMulti &instance()
    {
        // Never destroyed: a transfer may still run while the program ends.
        static CurlMulti *multi = new CurlMulti;
        return *multi;
    }

    // readingDone: libcurl waits for nothing more to read on the hop's
    // socket while it still writes. Called inside libcurl: it must not touch
    // the handle.
    void add(CURL *easy, Done done, Hook readingDone)
    {
        m_done.insert(easy, std::move(done));
        m_readingDone.insert(easy, std::move(readingDone));
        curl_multi_add_handle(m_multi, easy);
    }

    void remove(CURL *easy)
    {
        m_done.remove(easy);
        m_readingDone.remove(easy);
        curl_multi_remove_handle(m_multi, easy);
    }

private:
    CurlMulti()
    {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        if (QCoreApplication *app = QCoreApplication::instance())
            moveToThread(app->thread());
        m_multi = curl_multi_init();
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    }

    struct Watch {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    static void drop(QSocketNotifier *&notifier)
    {
        if (!notifier)
            return;
        // We may be inside this notifier's own signal.
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }

    QSocketNotifier *watch(curl_socket_t s, QSocketNotifier::Type type, int flag)
    {
        auto *n = new QSocketNotifier(qintptr(s), type, this);
        connect(n, &QSocketNotifier::activated, this, [this, s, flag] { act(s, flag); });
        return n;
    }

    static int onSocket(CURL *easy, curl_socket_t s, int what, void *userp, void *)
    {
        auto *self = static_cast<CurlMulti *>(userp);
        if (what == CURL_POLL_OUT) {
            if (const auto it = self->m_readingDone.constFind(easy); it != self->m_readingDone.cend() && it.value())
                it.value()();
        }
        Watch &w = self->m_sockets[s];
        const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        if (what == CURL_POLL_REMOVE || !wantRead)
            drop(w.read);
        if (what == CURL_POLL_REMOVE || !wantWrite)
            drop(w.write);
        if (what == CURL_POLL_REMOVE) {
            self->m_sockets.remove(s);
            return 0;
        }
        if (wantRead && !w.read)
            w.read = self->watch(s, QSocketNotifier::Read, CURL_CSELECT_IN);
        if (wantWrite && !w.write)
            w.write = self->watch(s, QSocketNotifier::Write, CURL_CSELECT_OUT);
        return 0;
    }

    static int onTimer(CURLM *, long timeoutMs, void *userp)
    {
        auto *self = static_cast<CurlMulti *>(userp);
        if (timeoutMs < 0)
            self->m_timer.stop();
        else
            self->m_timer.start(int(timeoutMs));
        return 0;
    }

    void act(curl_socket_t s, int flags)
    {
        int running = 0;
        curl_multi_socket_action(m_multi, s, flags, &running);
        // Hand over finished hops only once libcurl is out of its call.
        QList<QPair<CURL *, CURLcode>> finished;
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(m_multi, &left)) {
            if (msg->msg == CURLMSG_DONE)
                finished.append({msg->easy_handle, msg->data.result});
        }
        for (const auto &[easy, code] : finished) {
            const auto it = m_done.find(easy);
            if (it == m_done.end())
                continue; // removed meanwhile
            Done done = std::move(it.value());
            m_done.erase(it);
            done(code);
        }
    }

    CURLM *m_multi = nullptr;
    QTimer m_timer{this}; // moves with us
    QHash<curl_socket_t, Watch> m_sockets;
    QHash<CURL *, Done> m_done;
    QHash<CURL *, Hook> m_readingDone;
};

NetError::TransportFailure failureFor(CURLcode code)
{
    using F = NetError::TransportFailure;
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return F::connectionRefused;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return F::hostNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return F::timedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
        return F::secureConnectionFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return F::connectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: // after connecting: not an HTTP/1.x reply
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return F::badServerResponse;
    case CURLE_URL_MALFORMAT:
        return F::unsupportedURL;
    default:
        return F::other;
    }
}

bool isHttpScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort) == b.port(defaultPort);
}

} // namespace

struct Transfer::Private {
    enum class Stop { none, redirect, tooLarge, fileWrite, badFraming };

    Transfer *q;
    URLRequest request;
    const QUrl origin;
    bool leftOrigin = false;
    QPointer<CookieStore> cookies;
    TransferLimits limits;
    QString downloadPath;
    std::unique_ptr<QFile> downloadFile;

    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    std::unique_ptr<QFile> bodySource;
    QTimer idleTimer;
    QElapsedTimer clock;
    qint64 lastActivity = 0;
    QTimer attemptTimer;
    char errorText[CURL_ERROR_SIZE] = {};

    // The current hop.
    HTTPURLResponse current;
    int pendingStatus = 0;
    bool headDone = false;
    qint64 received = 0;
    qint64 declared = -1;
    QByteArray hopBody;
    Stop stop = Stop::none;
    QString stopDetail;
    // The final reply came before the whole request body went out; once that
    // reply is all in, the rest of the body is not sent.
    bool answeredEarly = false;
    bool replyComplete = false;
    bool replyCut = false; // the connection closed before the early reply's end

    int redirects = 0;
    bool finished = false;
    std::optional<HTTPURLResponse> response;
    QByteArray body;
    std::optional<NetError> error;

    Private(Transfer *owner, URLRequest r, CookieStore *c, TransferLimits l, QString path)
        : q(owner), request(std::move(r)), origin(request.url), cookies(c), limits(std::move(l)),
          downloadPath(std::move(path))
    {
        if (request.maximumBodySize)
            limits.maximumBodySize = qBound<qint64>(0, *request.maximumBodySize, limits.maximumBodySize);
        idleTimer.setSingleShot(true);
        attemptTimer.setSingleShot(true);
        clock.start();
        QObject::connect(&idleTimer, &QTimer::timeout, q, [this] {
            const qint64 quiet = clock.elapsed() - lastActivity;
            if (quiet < limits.idleTimeoutMs) {
                idleTimer.start(int(limits.idleTimeoutMs - quiet));
                return;
            }
            abortHop(NetError::sessionTaskFailed(NetError::TransportFailure::timedOut,
                                                 QStringLiteral("no activity for %1 ms").arg(limits.idleTimeoutMs)));
        });
        QObject::connect(&attemptTimer, &QTimer::timeout, q, [this] {
            abortHop(NetError::sessionTaskFailed(
                NetError::TransportFailure::timedOut,
                QStringLiteral("no complete reply within %1 ms").arg(limits.attemptTimeoutMs)));
        });
    }

    bool sendsBody() const
    {
        const HTTPMethod m = request.method;
        return request.body.size() > 0 || m == HTTPMethod::POST || m == HTTPMethod::PUT || m == HTTPMethod::PATCH;
    }

    // Noted, not re-armed: the timer checks on expiry how long it has been quiet.
    void touch() { lastActivity = clock.elapsed(); }

    void startHop()
    {
        const QString scheme = request.url.scheme().toLower();
        if (!isHttpScheme(scheme) || request.url.host().isEmpty()) {
            fail(NetError::sessionTaskFailed(NetError::TransportFailure::unsupportedURL, request.url.toString()));
            return;
        }
        current = HTTPURLResponse{};
        current.url = request.url;
        pendingStatus = 0;
        headDone = false;
        received = 0;
        declared = -1;
        hopBody.clear();
        stop = Stop::none;
        stopDetail.clear();
        answeredEarly = false;
        replyComplete = false;
        replyCut = false;
        errorText[0] = 0;

        if (request.body.isFile()) {
            bodySource = std::make_unique<QFile>(request.body.filePath);
            if (!bodySource->open(QIODevice::ReadOnly)) {
                fail(NetError::sessionTaskFailed(NetError::TransportFailure::other,
                                                 QStringLiteral("cannot read the request body")));
                return;
            }
        }

        easy = curl_easy_init();
        if (!easy) {
            fail(NetError::sessionTaskFailed(NetError::TransportFailure::other, QStringLiteral("no transfer handle")));
            return;
        }
        const QByteArray url = request.url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L); // a proxy tunnel's reply is not ours
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(limits.idleTimeoutMs));
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maximumBodySize));
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Private::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Private::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024); // fewer wake-ups for large bodies
        if (!limits.certificateAuthorities.isEmpty()) {
            const QByteArray path = QFile::encodeName(limits.certificateAuthorities);
            curl_easy_setopt(easy, CURLOPT_CAINFO, path.constData());
        }
        applyProxy();

        const QByteArray method = methodName(request.method);
        if (sendsBody()) {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
            if (bodySource) {
                curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Private::onRead);
                curl_easy_setopt(easy, CURLOPT_READDATA, this);
                curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Private::onSeek);
                curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
            } else {
                curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.bytes.constData());
            }
            if (request.method != HTTPMethod::POST)
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        } else if (request.method == HTTPMethod::HEAD) {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
            if (request.method != HTTPMethod::GET)
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        }
        buildHeaders();
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);

        touch();
        idleTimer.start(limits.idleTimeoutMs);
        CURL *hop = easy;
        CurlMulti::instance().add(
            hop,
            [this, hop](CURLcode code) {
                if (easy == hop)
                    hopFinished(code);
            },
            [this, hop] {
                // libcurl reads no more: the reply is all in, unless the
                // connection closed before its declared end.
                if (easy != hop || !headDone || !answeredEarly)
                    return;
                if (declared >= 0 && received < declared)
                    replyIsCut();
                else
                    replyIsComplete();
            });
    }

    void applyProxy()
    {
        // Qt's application proxy when one is set; otherwise libcurl reads
        // the environment (http_proxy, https_proxy, no_proxy).
        const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
        QByteArray scheme;
        switch (proxy.type()) {
        case QNetworkProxy::HttpProxy:
        case QNetworkProxy::HttpCachingProxy:
            scheme = "http";
            break;
        case QNetworkProxy::Socks5Proxy:
            scheme = "socks5h";
            break;
        default:
            return;
        }
        QString host = proxy.hostName();
        if (host.contains(u':'))
            host = u'[' + host + u']';
        const QByteArray address = scheme + "://" + QUrl::toAce(host) + ':' + QByteArray::number(proxy.port());
        curl_easy_setopt(easy, CURLOPT_PROXY, address.constData());
        if (!proxy.user().isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.user().toUtf8().constData());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.password().toUtf8().constData());
        }
    }

    // The caller's headers exactly as given and in their order, then ours as
    // the session always sent them. Bare "Name:" lines only switch off what
    // libcurl would add by itself.
    void buildHeaders()
    {
        const HTTPHeaders &h = request.headers;
        auto append = [this](const QByteArray &line) { headerList = curl_slist_append(headerList, line.constData()); };
        for (const HTTPHeader &header : h.list()) {
            // Framing is libcurl's: a caller's length or transfer coding would corrupt it.
            if (header.name.compare("Content-Length", Qt::CaseInsensitive) == 0
                || header.name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
                continue;
            // libcurl sends "Name;" as an empty header; "Name:" would remove it.
            if (header.value.trimmed().isEmpty())
                append(header.name + ';');
            else
                append(header.name + ": " + header.value);
        }
        if (!h.contains("User-Agent"))
            append("User-Agent: Orvix/" ORVIX_PLATFORM_VERSION " Qt/" QT_VERSION_STR);
        if (!h.contains("Connection"))
            append("Connection: close");
        if (!h.contains("Cookie") && cookies) {
            const QList<QNetworkCookie> list = cookies->cookiesForUrl(request.url);
            if (!list.isEmpty()) {
                QByteArrayList parts;
                for (const QNetworkCookie &c : list)
                    parts.append(c.toRawForm(QNetworkCookie::NameAndValueOnly));
                append("Cookie: " + parts.join("; "));
            }
        }
        if (!h.contains("Accept"))
            append("Accept:");
        if (!h.contains("Expect"))
            append("Expect:");
        if (!h.contains("Content-Type"))
            append("Content-Type:");
        if (!h.contains("Proxy-Connection"))
            append("Proxy-Connection:");
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *userdata)
    {
        auto *d = static_cast<Private *>(userdata);
        const size_t length = size * count;
        d->touch();
        if (d->headDone)
            return length; // trailers
        QByteArray line(data, qsizetype(length));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            d->current.headers.clear();
            d->pendingStatus = line.split(' ').value(1).toInt();
            return length;
        }
        if (!line.isEmpty()) {
            if ((line.startsWith(' ') || line.startsWith('\t')) && !d->current.headers.isEmpty()) {
                d->current.headers.last().value += ' ' + line.trimmed();
                return length;
            }
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                d->current.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            return length;
        }
        // The end of a head; an interim one is followed by the real reply.
        if (d->pendingStatus >= 100 && d->pendingStatus < 200 && d->pendingStatus != 101)
            return length;
        return d->headComplete() ? length : 0;
    }

    bool headComplete()
    {
        headDone = true;
        current.statusCode = pendingStatus;
        // libcurl 7.88 takes one of two different lengths, and reads "5, 6" as 5
        // and "0x5" as 0; the body's end is then not what the server meant.
        std::optional<qint64> length;
        for (const HTTPHeader &h : std::as_const(current.headers)) {
            if (h.name.compare("Content-Length", Qt::CaseInsensitive) != 0)
                continue;
            const std::optional<qint64> value = decimal(h.value);
            if (!value) {
                stop = Stop::badFraming;
                stopDetail = QStringLiteral("Content-Length is not a decimal number");
                return false;
            }
            if (length && *value != *length) {
                stop = Stop::badFraming;
                stopDetail = QStringLiteral("conflicting Content-Length");
                return false;
            }
            length = value;
        }
        storeCookies();

        const int status = current.statusCode;
        const auto location = current.value("Location");
        const bool redirect = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
            && location && !location->trimmed().isEmpty();
        if (redirect) {
            stop = Stop::redirect; // its body is of no use
            return false;
        }
        curl_off_t announced = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        declared = qint64(announced);
        if (declared > limits.maximumBodySize) {
            stop = Stop::tooLarge;
            return false;
        }
        if (!downloadPath.isEmpty()) {
            downloadFile = std::make_unique<QFile>(downloadPath);
            // The folder is checked now: it may have gone since the request.
            if (!files::openInPrivateTemporaryDirectory(*downloadFile)) {
                stop = Stop::fileWrite;
                return false;
            }
        } else if (declared > 0) {
            hopBody.reserve(qsizetype(declared));
        }
        if (sendsBody()) {
            curl_off_t sent = 0;
            curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
            answeredEarly = qint64(sent) < request.body.size();
            if (answeredEarly && (declared == 0 || status == 204 || status == 304))
                replyIsComplete();
        }
        return true;
    }

    // libcurl keeps sending a body the server no longer reads after a final
    // reply below 300: end the hop here once that reply is in.
    void replyIsComplete()
    {
        if (replyComplete)
            return;
        replyComplete = true;
        laterOnThisHop([this] {
            endHop();
            complete();
        });
    }

    // Runs `step` from the event loop, unless the hop has ended by then.
    template<typename Step>
    void laterOnThisHop(Step step)
    {
        CURL *hop = easy;
        QMetaObject::invokeMethod(q, [this, hop, step = std::move(step)] {
            if (easy == hop && !finished)
                step();
        }, Qt::QueuedConnection);
    }

    void replyIsCut()
    {
        if (replyComplete || replyCut)
            return;
        replyCut = true;
        laterOnThisHop([this] { abortHop(cutError()); });
    }

    NetError cutError() const
    {
        return NetError::sessionTaskFailed(
            NetError::TransportFailure::connectionLost,
            QStringLiteral("connection closed with %1 bytes of the reply missing").arg(declared - received));
    }

    static std::optional<qint64> decimal(const QByteArray &text)
    {
        if (text.isEmpty() || text.size() > 18)
            return std::nullopt;
        for (char c : text) {
            if (c < '0' || c > '9')
                return std::nullopt;
        }
        return text.toLongLong();
    }

    void storeCookies()
    {
        if (!cookies)
            return;
        QList<QNetworkCookie> list;
        for (const HTTPHeader &h : std::as_const(current.headers)) {
            if (h.name.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
                list += QNetworkCookie::parseCookies(h.value);
        }
        if (!list.isEmpty())
            cookies->setCookiesFromUrl(list, request.url);
    }

    static size_t onBody(char *data, size_t size, size_t count, void *userdata)
    {
        auto *d = static_cast<Private *>(userdata);
        const qint64 length = qint64(size * count);
        d->touch();
        // Counted as it arrives: a chunked or close-delimited body declares no length.
        if (d->received + length > d->limits.maximumBodySize) {
            d->stop = Stop::tooLarge;
            return 0;
        }
        d->received += length;
        if (d->downloadFile) {
            if (d->downloadFile->write(data, length) != length) {
                d->stop = Stop::fileWrite;
                return 0;
            }
        } else {
            d->hopBody.append(data, qsizetype(length));
        }
        if (d->answeredEarly && d->received == d->declared)
            d->replyIsComplete();
        return size_t(length);
    }

    static size_t onRead(char *buffer, size_t size, size_t count, void *userdata)
    {
        auto *d = static_cast<Private *>(userdata);
        d->touch();
        const qint64 n = d->bodySource->read(buffer, qint64(size * count));
        return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
    }

    static int onSeek(void *userdata, curl_off_t offset, int whence)
    {
        auto *d = static_cast<Private *>(userdata);
        if (whence != SEEK_SET || !d->bodySource->seek(offset))
            return CURL_SEEKFUNC_CANTSEEK;
        return CURL_SEEKFUNC_OK;
    }

    void endHop()
    {
        idleTimer.stop();
        if (easy) {
            CURL *hop = std::exchange(easy, nullptr);
            CurlMulti::instance().remove(hop);
            curl_easy_cleanup(hop);
        }
        if (headerList) {
            curl_slist_free_all(headerList);
            headerList = nullptr;
        }
        bodySource.reset();
    }

    void hopFinished(CURLcode code)
    {
        const QString detail = QString::fromUtf8(errorText);
        endHop();
        switch (stop) {
        case Stop::redirect:
            followRedirect();
            return;
        case Stop::tooLarge:
            fail(NetError::responseTooLarge(limits.maximumBodySize));
            return;
        case Stop::fileWrite:
            fail(NetError::sessionTaskFailed(NetError::TransportFailure::fileWriteFailed,
                                             downloadFile ? downloadFile->errorString() : QString()));
            return;
        case Stop::badFraming:
            fail(NetError::sessionTaskFailed(NetError::TransportFailure::badServerResponse, stopDetail));
            return;
        case Stop::none:
            break;
        }
        if (replyCut) {
            fail(cutError());
            return;
        }
        // Sending the rest failed after the whole reply was in: the reply stands.
        if (replyComplete) {
            complete();
            return;
        }
        if (code == CURLE_FILESIZE_EXCEEDED) {
            fail(NetError::responseTooLarge(limits.maximumBodySize));
            return;
        }
        if (code != CURLE_OK) {
            fail(NetError::sessionTaskFailed(failureFor(code),
                                             detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail));
            return;
        }
        complete();
    }

    void followRedirect()
    {
        const QUrl target = request.url.resolved(
            QUrl::fromEncoded(current.value("Location")->trimmed(), QUrl::TolerantMode));
        if (++redirects > maximumRedirects) {
            fail(NetError::sessionTaskFailed(NetError::TransportFailure::tooManyRedirects));
            return;
        }
        const QString scheme = target.scheme().toLower();
        if (!target.isValid() || !isHttpScheme(scheme) || target.host().isEmpty()) {
            fail(NetError::redirectRefused(QStringLiteral("to an address that is not http or https")));
            return;
        }
        if (request.url.scheme().toLower() == QLatin1String("https") && scheme == QLatin1String("http")) {
            fail(NetError::redirectRefused(QStringLiteral("from https to http")));
            return;
        }
        // Credentials stay with their origin, for the rest of the chain.
        if (!sameOrigin(target, origin))
            leftOrigin = true;
        if (leftOrigin) {
            for (const QByteArray &name : originBoundHeaders)
                request.headers.remove(name);
        }
        const int status = current.statusCode;
        const bool toGet = (status == 303 && request.method != HTTPMethod::HEAD)
            || ((status == 301 || status == 302) && request.method == HTTPMethod::POST);
        if (toGet) {
            request.method = HTTPMethod::GET;
            request.body = RequestBody{};
            request.bodyFile.reset();
            request.headers.remove("Content-Type");
        }
        request.url = target;
        startHop();
    }

    void abortHop(const NetError &e)
    {
        if (finished)
            return;
        endHop();
        fail(e);
    }

    void complete()
    {
        if (downloadFile) {
            const bool ok = downloadFile->flush();
            downloadFile->close();
            if (!ok) {
                fail(NetError::sessionTaskFailed(NetError::TransportFailure::fileWriteFailed,
                                                 downloadFile->errorString()));
                return;
            }
        }
        response = current;
        body = std::move(hopBody);
        hopBody = QByteArray();
        finish();
    }

    void fail(const NetError &e)
    {
        if (finished)
            return;
        error = e;
        if (downloadFile) {
            downloadFile->close();
            downloadFile.reset();
        }
        if (!downloadPath.isEmpty())
            files::removeFromPrivateTemporaryDirectory(downloadPath);
        hopBody = QByteArray();
        finish();
    }

    void finish()
    {
        if (finished)
            return;
        endHop();
        attemptTimer.stop();
        finished = true;
        emit q->finished();
    }
};

Transfer::Transfer(URLRequest request, CookieStore *cookies, TransferLimits limits, QString downloadPath,
                   QObject *parent)
    : QObject(parent),
      d(std::make_unique<Private>(this, std::move(request), cookies, std::move(limits), std::move(downloadPath)))
{
}

Transfer::~Transfer()
{
    d->endHop();
}

void Transfer::start()
{
    d->attemptTimer.start(d->limits.attemptTimeoutMs);
    d->startHop();
}

void Transfer::cancel()
{
    if (d->finished)
        return;
    d->endHop();
    d->attemptTimer.stop();
    d->finished = true;
}

const std::optional<HTTPURLResponse> &Transfer::response() const { return d->response; }
const QByteArray &Transfer::data() const { return d->body; }
const std::optional<NetError> &Transfer::error() const { return d->error; }
int Transfer::redirects() const { return d->redirects; }
bool Transfer::answeredEarly() const { return d->answeredEarly; }

} // namespace orvix::platform::net
