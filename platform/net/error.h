#pragma once
// The error of a request, with the cases callers tell apart.

#include <QString>
#include <QUrl>

namespace orvix::platform::net {

class NetError {
public:
    enum class Kind {
        sessionTaskFailed,           // the transfer itself failed
        invalidURL,                  // the URL text cannot be turned into a URL
        invalidHeaders,              // a header cannot be sent as given
        parameterEncodingFailed,     // the parameters cannot be encoded
        multipartEncodingFailed,     // the multipart body cannot be written
        responseSerializationFailed, // the reply body cannot be read as asked
        responseValidationFailed,    // the reply's status is not acceptable
        redirectRefused,             // a redirect the session may not follow
        responseTooLarge,            // the reply body exceeds the session's bound
    };

    // Why a transfer failed (for sessionTaskFailed).
    enum class TransportFailure {
        none,
        connectionRefused,
        connectionLost,      // reset or closed before a full reply
        timedOut,
        hostNotFound,
        secureConnectionFailed,
        unsupportedURL,
        tooManyRedirects,
        badServerResponse,
        fileWriteFailed,
        other,
    };

    // Why a reply could not be serialized (for responseSerializationFailed).
    enum class SerializationReason {
        none,
        inputDataNilOrZeroLength,
        jsonSerializationFailed,
        stringSerializationFailed,
    };

    NetError() = default;

    static NetError sessionTaskFailed(TransportFailure failure, const QString &detail = {});
    static NetError invalidURL(const QString &urlText);
    static NetError invalidHeaders(const QString &headerName);
    static NetError parameterEncodingFailed(const QString &detail);
    static NetError multipartEncodingFailed(const QString &detail);
    static NetError responseSerializationFailed(SerializationReason reason, const QString &detail = {});
    static NetError responseValidationFailed(int statusCode);
    static NetError redirectRefused(const QString &reason);
    static NetError responseTooLarge(qint64 limit);

    Kind kind() const { return m_kind; }
    bool isSessionTaskFailed() const { return m_kind == Kind::sessionTaskFailed; }
    TransportFailure transportFailure() const { return m_transport; }
    SerializationReason serializationReason() const { return m_reason; }
    int statusCode() const { return m_statusCode; }
    qint64 sizeLimit() const { return m_sizeLimit; }
    QString detail() const { return m_detail; }

    // A sentence for a person.
    QString localizedDescription() const;
    // The value's textual form, for logs: the case and its reason.
    QString debugDescription() const;

    friend bool operator==(const NetError &, const NetError &) = default;

private:
    Kind m_kind = Kind::sessionTaskFailed;
    TransportFailure m_transport = TransportFailure::none;
    SerializationReason m_reason = SerializationReason::none;
    int m_statusCode = 0;
    qint64 m_sizeLimit = 0;
    QString m_detail;
};

QString toString(NetError::Kind kind);
QString toString(NetError::TransportFailure failure);
QString toString(NetError::SerializationReason reason);

} // namespace orvix::platform::net
