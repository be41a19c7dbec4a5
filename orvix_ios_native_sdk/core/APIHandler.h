#pragma once
// The kit's HTTP client. Every request gets its own RetryInterceptor (one
// immediate resend after a failure) and ends in exactly one call of
// onSuccess or onFailure, on the main thread. Callable from any thread.

#include "orvix_ios_native_sdk/core/Error.h"
#include "platform/net/headers.h"
#include "platform/net/session.h"
#include "platform/zip/ziparchive.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace orvix {

using HTTPHeaders = platform::net::HTTPHeaders;

// How large a reply may be. A larger one fails with responseTooLarge before
// any of it is read further or parsed, and is not sent again.
//
// Every reply of the backend and the authority (JSON, the sign-in page, the
// login's page): far above a real one, which is a few kilobytes.
inline constexpr qint64 kMaxReplyBytes = 1024 * 1024;
// The e-KYC download: the largest archive the kit opens as Base64 (4
// characters for 3 bytes), a quarter more for line breaks and escapes in the
// JSON string, and kMaxReplyBytes for the rest of the reply.
inline constexpr qint64 kMaxArchiveReplyBytes =
    (platform::zip::kMaxArchiveBytes + 2) / 3 * 4 * 5 / 4 + kMaxReplyBytes;

class RetryInterceptor : public platform::net::RequestInterceptor {
public:
    RetryInterceptor() = default;

    bool hasRetried() const { return m_hasRetried; }
    void setHasRetried(bool value) { m_hasRetried = value; }

    platform::net::URLRequest adapt(const platform::net::URLRequest &request) override;
    platform::net::RetryResult retry(const platform::net::URLRequest &request,
                                     const platform::net::NetError &error) override;

private:
    bool m_hasRetried = false;
};

class APIHandler {
public:
    APIHandler() = delete;

    using OnSuccess = std::function<void(const QVariant &)>;
    using OnFailure = std::function<void(const Error &)>;

    static inline const QByteArray credentialHeaderName = QByteArrayLiteral("X-Kalmar-Auth-Credential-ID");

    // JSON body POST. Without headers the request carries only the credential header.
    // onSuccess: the reply object with "statusCode" set, or "" for an array.
    static void postRequest(const QVariantMap &parameters, const QString &url,
                            const std::optional<HTTPHeaders> &headers, const QString &credentialId,
                            OnSuccess onSuccess, OnFailure onFailure, qint64 maximumReplyBytes = kMaxReplyBytes);

    // Query-string GET; same header rule and reply as postRequest. The other
    // operations take replies up to kMaxReplyBytes.
    static void getRequest(const QVariantMap &parameters, const QString &url,
                           const std::optional<HTTPHeaders> &headers, const QString &credentialId,
                           OnSuccess onSuccess, OnFailure onFailure);

    // Multipart POST, one part per file under fieldName ("aadhaar.zip",
    // "application/octet-stream"), always with the credential header.
    // onSuccess: {"status": 200}; any other status is a failure.
    static void uploadRequest(const QString &url, const QString &credentialId, const QString &fieldName,
                              const std::optional<QList<QByteArray>> &files, OnSuccess onSuccess,
                              OnFailure onFailure);

    // Query-string GET with exactly the caller's headers. onSuccess: the body as text.
    static void getRequestWithHeaders(const QVariantMap &parameters, const std::optional<HTTPHeaders> &headers,
                                      const QString &url, OnSuccess onSuccess, OnFailure onFailure);

    // Form-body POST with exactly the caller's headers. onSuccess:
    // {"resQuery": the final URL after redirects (a QUrl), "resString": the body}.
    static void postFormRequest(const QVariantMap &parameters, const std::optional<HTTPHeaders> &headers,
                                const QString &url, OnSuccess onSuccess, OnFailure onFailure);
};

// Logged form of parameters and replies: the keys, every value "<redacted>".
QString redactedDescription(const QVariantMap &map);

} // namespace orvix
