#pragma once
// The shared HTTP session: data requests with parameter encodings, multipart
// uploads and file downloads, one cookie store, a per-request interceptor
// that may send a failed request once more. Callable from any thread; data
// and upload completions run on the main thread, download completions on a
// worker thread.

#include "platform/net/encoding.h"
#include "platform/net/error.h"
#include "platform/net/headers.h"
#include "platform/net/transport.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace orvix::platform::net {

enum class RetryResult { retry, doNotRetry };

// Asked before every attempt (adapt) and after every failed one (retry).
class RequestInterceptor {
public:
    virtual ~RequestInterceptor() = default;
    virtual URLRequest adapt(const URLRequest &request) = 0;
    virtual RetryResult retry(const URLRequest &request, const NetError &error) = 0;
};

struct DataResponse {
    std::optional<URLRequest> request;     // the last request sent, when one could be built
    std::optional<HTTPURLResponse> response;
    std::optional<QByteArray> data;        // the body; absent when no reply arrived
    std::optional<NetError> error;
    int attempts = 0;                      // how often the request was tried

    bool isSuccess() const { return !error.has_value(); }
    // "success(57 bytes)" or "failure(<error>)".
    QString description() const;
};

struct DownloadResponse {
    std::optional<HTTPURLResponse> response;
    QString fileURL;                       // the downloaded body; the receiver moves or removes it
    std::optional<NetError> error;
};

// How a data request reads an empty body.
enum class EmptyBodyPolicy {
    acceptAlways,         // the reply is handed over as it is
    only204And205AndHead, // otherwise an empty body is a serialization failure
};

struct DataRequestOptions {
    QString urlText;
    HTTPMethod method = HTTPMethod::GET;
    QVariantMap parameters;
    ParameterEncoding encoding = ParameterEncoding::methodDependent;
    HTTPHeaders headers;
    EmptyBodyPolicy emptyBody = EmptyBodyPolicy::only204And205AndHead;
    // The largest reply body this request takes (URLRequest::maximumBodySize).
    std::optional<qint64> maximumBodySize;
};

class Session : public QObject {
    Q_OBJECT
public:
    static Session &shared();

    using Completion = std::function<void(const DataResponse &)>;
    using DownloadCompletion = std::function<void(const DownloadResponse &)>;

    void request(DataRequestOptions options, std::shared_ptr<RequestInterceptor> interceptor, Completion completion);
    void upload(MultipartFormData form, QString urlText, HTTPHeaders headers,
                std::shared_ptr<RequestInterceptor> interceptor, Completion completion,
                qint64 threshold = MultipartFormData::encodingMemoryThreshold,
                std::optional<qint64> maximumBodySize = std::nullopt);
    // The request's maximumBodySize bounds the file too.
    void download(URLRequest request, DownloadCompletion completion);

    CookieStore &cookieStore() { return *m_cookies; }

    // Idle time-out of a request, 60 seconds unless changed. It also bounds
    // connecting and the TLS handshake.
    void setTimeoutInterval(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeoutInterval() const { return m_timeoutMs; }

    // Each attempt ends after this long in all, redirects included; 300 seconds unless changed.
    void setAttemptTimeout(int milliseconds) { m_attemptTimeoutMs = milliseconds; }
    int attemptTimeout() const { return m_attemptTimeoutMs; }

    // A reply body larger than this ends the attempt with responseTooLarge; 128 MiB unless changed.
    void setMaximumBodySize(qint64 bytes) { m_maximumBodySize = bytes; }
    qint64 maximumBodySize() const { return m_maximumBodySize; }

    // Test hook: also trust the certificate authorities in this PEM file.
    // The kit never sets it; the system trust store is always used.
    void setCertificateAuthorityFile(const QString &path);

    // Test hook: called on the main thread for every attempt that goes out.
    using AttemptObserver = std::function<void(const URLRequest &, int attempt)>;
    void setAttemptObserver(AttemptObserver observer);

    int requestsInFlight() const { return m_inFlight.load(); }

private:
    explicit Session(QObject *parent = nullptr);
    friend class PendingRequest;

    CookieStore *m_cookies;
    TransferLimits limits() const;

    std::atomic<int> m_timeoutMs{60000};
    std::atomic<int> m_attemptTimeoutMs{300000};
    std::atomic<qint64> m_maximumBodySize{128 * 1024 * 1024};
    mutable QMutex m_settingsMutex;
    QString m_certificateAuthorityFile;
    std::atomic<int> m_inFlight{0};
    AttemptObserver m_attemptObserver;
};

} // namespace orvix::platform::net
