#include "platform/net/session.h"
#include "platform/files/tempdir.h"

#include "platform/dispatch/dispatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QThread>

namespace orvix::platform::net {

QString DataResponse::description() const
{
    if (error)
        return QStringLiteral("failure(%1)").arg(error->debugDescription());
    return QStringLiteral("success(%1 bytes)").arg(data ? data->size() : 0);
}

// One request through its attempts. Lives on the main thread and deletes
// itself after handing over the outcome.
class PendingRequest : public QObject {
public:
    PendingRequest(Session *session, std::optional<URLRequest> built, std::optional<NetError> buildError,
                   EmptyBodyPolicy emptyBody, std::shared_ptr<RequestInterceptor> interceptor,
                   Session::Completion completion)
        : QObject(session), m_session(session), m_built(std::move(built)), m_buildError(std::move(buildError)),
          m_emptyBody(emptyBody), m_interceptor(std::move(interceptor)), m_completion(std::move(completion))
    {
        ++m_session->m_inFlight;
    }

    ~PendingRequest() override { --m_session->m_inFlight; }

    void attempt()
    {
        ++m_response.attempts;
        if (!m_built) {
            if (m_session->m_attemptObserver)
                m_session->m_attemptObserver(URLRequest{}, m_response.attempts);
            failed(*m_buildError);
            return;
        }
        URLRequest request = m_interceptor ? m_interceptor->adapt(*m_built) : *m_built;
        m_response.request = request;
        if (m_session->m_attemptObserver)
            m_session->m_attemptObserver(request, m_response.attempts);
        m_transfer = new Transfer(request, m_session->m_cookies, m_session->limits(), {}, this);
        connect(m_transfer, &Transfer::finished, this, &PendingRequest::transferFinished);
        m_transfer->start();
    }

private:
    void transferFinished()
    {
        Transfer *t = m_transfer;
        m_transfer = nullptr;
        t->deleteLater();
        m_response.response = t->response();
        m_response.data = t->response() ? std::optional<QByteArray>(t->data()) : std::nullopt;
        if (t->error()) {
            failed(*t->error());
            return;
        }
        const int status = m_response.response->statusCode;
        const bool emptyAllowed = status == 204 || status == 205
            || (m_response.request && m_response.request->method == HTTPMethod::HEAD);
        if (m_emptyBody == EmptyBodyPolicy::only204And205AndHead && m_response.data->isEmpty() && !emptyAllowed) {
            failed(NetError::responseSerializationFailed(NetError::SerializationReason::inputDataNilOrZeroLength));
            return;
        }
        m_response.error.reset();
        complete();
    }

    void failed(const NetError &error)
    {
        m_response.error = error;
        const URLRequest asked = m_response.request.value_or(URLRequest{});
        // Sending again cannot change what the server decided.
        const bool final = error.kind() == NetError::Kind::redirectRefused
            || error.kind() == NetError::Kind::responseTooLarge;
        if (!final && m_interceptor && m_interceptor->retry(asked, error) == RetryResult::retry) {
            // Sent again at once, from the event loop rather than this stack.
            QMetaObject::invokeMethod(this, [this] { attempt(); }, Qt::QueuedConnection);
            return;
        }
        complete();
    }

    void complete()
    {
        // The receiver gets the request without its temporary body file.
        if (m_response.request)
            m_response.request->bodyFile.reset();
        m_built.reset();
        if (m_completion)
            m_completion(m_response);
        deleteLater();
    }

    Session *m_session;
    std::optional<URLRequest> m_built;
    std::optional<NetError> m_buildError;
    EmptyBodyPolicy m_emptyBody;
    std::shared_ptr<RequestInterceptor> m_interceptor;
    Session::Completion m_completion;
    DataResponse m_response;
    Transfer *m_transfer = nullptr;
};

Session::Session(QObject *parent) : QObject(parent), m_cookies(new CookieStore(this)) {}

Session &Session::shared()
{
    // Never destroyed: requests may still be finishing while the program ends.
    static Session *session = [] {
        auto *s = new Session;
        if (QCoreApplication *app = QCoreApplication::instance())
            s->moveToThread(app->thread());
        return s;
    }();
    return *session;
}

TransferLimits Session::limits() const
{
    TransferLimits l;
    l.idleTimeoutMs = m_timeoutMs.load();
    l.attemptTimeoutMs = m_attemptTimeoutMs.load();
    l.maximumBodySize = m_maximumBodySize.load();
    QMutexLocker lock(&m_settingsMutex);
    l.certificateAuthorities = m_certificateAuthorityFile;
    return l;
}

void Session::setCertificateAuthorityFile(const QString &path)
{
    QMutexLocker lock(&m_settingsMutex);
    m_certificateAuthorityFile = path;
}

void Session::setAttemptObserver(AttemptObserver observer)
{
    QMetaObject::invokeMethod(this, [this, observer = std::move(observer)]() mutable {
        m_attemptObserver = std::move(observer);
    }, dispatch::isMainThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
}

void Session::request(DataRequestOptions options, std::shared_ptr<RequestInterceptor> interceptor,
                      Completion completion)
{
    EncodeResult encoded =
        encodeRequest(options.urlText, options.method, options.parameters, options.encoding, options.headers);
    if (encoded.request)
        encoded.request->maximumBodySize = options.maximumBodySize;
    QMetaObject::invokeMethod(this, [this, encoded = std::move(encoded), policy = options.emptyBody,
                                     interceptor = std::move(interceptor),
                                     completion = std::move(completion)]() mutable {
        auto *pending = new PendingRequest(this, std::move(encoded.request), std::move(encoded.error), policy,
                                           std::move(interceptor), std::move(completion));
        pending->attempt();
    }, Qt::QueuedConnection);
}

void Session::upload(MultipartFormData form, QString urlText, HTTPHeaders headers,
                     std::shared_ptr<RequestInterceptor> interceptor, Completion completion, qint64 threshold,
                     std::optional<qint64> maximumBodySize)
{
    std::optional<URLRequest> built;
    std::optional<NetError> error;
    if (const auto url = urlFromText(urlText); !url) {
        error = NetError::invalidURL(urlText);
    } else if (const auto bad = headers.firstInvalid()) {
        error = NetError::invalidHeaders(QString::fromLatin1(*bad));
    } else {
        MultipartFormData::Encoded encoded = form.encodeForUpload(threshold);
        if (encoded.error) {
            error = encoded.error;
        } else {
            URLRequest request;
            request.url = *url;
            request.method = HTTPMethod::POST;
            request.headers = headers;
            if (!request.headers.contains("Content-Type"))
                request.headers.add(QByteArray("Content-Type"), form.contentType());
            request.body = encoded.body;
            request.bodyFile = encoded.file;
            request.maximumBodySize = maximumBodySize;
            built = std::move(request);
        }
    }
    QMetaObject::invokeMethod(this, [this, built = std::move(built), error = std::move(error),
                                     interceptor = std::move(interceptor),
                                     completion = std::move(completion)]() mutable {
        auto *pending = new PendingRequest(this, std::move(built), std::move(error), EmptyBodyPolicy::acceptAlways,
                                           std::move(interceptor), std::move(completion));
        pending->attempt();
    }, Qt::QueuedConnection);
}

void Session::download(URLRequest request, DownloadCompletion completion)
{
    QMetaObject::invokeMethod(this, [this, request = std::move(request), completion = std::move(completion)]() mutable {
        ++m_inFlight;
        const QString path = QDir(files::privateTemporaryDirectory())
                                 .filePath(QStringLiteral("download-%1.tmp")
                                               .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')));
        if (const auto bad = request.headers.firstInvalid()) {
            DownloadResponse r;
            r.error = NetError::invalidHeaders(QString::fromLatin1(*bad));
            --m_inFlight;
            dispatch::asyncGlobal([completion = std::move(completion), r] { completion(r); });
            return;
        }
        auto *transfer = new Transfer(request, m_cookies, limits(), path, this);
        connect(transfer, &Transfer::finished, this, [this, transfer, path, completion = std::move(completion)] {
            transfer->deleteLater();
            DownloadResponse r;
            r.response = transfer->response();
            r.error = transfer->error();
            if (!r.error)
                r.fileURL = path;
            --m_inFlight;
            dispatch::asyncGlobal([completion, r] { completion(r); });
        });
        transfer->start();
    }, Qt::QueuedConnection);
}

} // namespace orvix::platform::net
