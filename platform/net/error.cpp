#include "platform/net/error.h"

#include "platform/log/log.h"

namespace orvix::platform::net {

NetError NetError::sessionTaskFailed(TransportFailure failure, const QString &detail)
{
    NetError e;
    e.m_kind = Kind::sessionTaskFailed;
    e.m_transport = failure;
    e.m_detail = detail;
    return e;
}

NetError NetError::invalidURL(const QString &urlText)
{
    NetError e;
    e.m_kind = Kind::invalidURL;
    e.m_detail = urlText;
    return e;
}

NetError NetError::invalidHeaders(const QString &headerName)
{
    NetError e;
    e.m_kind = Kind::invalidHeaders;
    e.m_detail = headerName;
    return e;
}

NetError NetError::parameterEncodingFailed(const QString &detail)
{
    NetError e;
    e.m_kind = Kind::parameterEncodingFailed;
    e.m_detail = detail;
    return e;
}

NetError NetError::multipartEncodingFailed(const QString &detail)
{
    NetError e;
    e.m_kind = Kind::multipartEncodingFailed;
    e.m_detail = detail;
    return e;
}

NetError NetError::responseSerializationFailed(SerializationReason reason, const QString &detail)
{
    NetError e;
    e.m_kind = Kind::responseSerializationFailed;
    e.m_reason = reason;
    e.m_detail = detail;
    return e;
}

NetError NetError::responseValidationFailed(int statusCode)
{
    NetError e;
    e.m_kind = Kind::responseValidationFailed;
    e.m_statusCode = statusCode;
    return e;
}

NetError NetError::redirectRefused(const QString &reason)
{
    NetError e;
    e.m_kind = Kind::redirectRefused;
    e.m_detail = reason;
    return e;
}

NetError NetError::responseTooLarge(qint64 limit)
{
    NetError e;
    e.m_kind = Kind::responseTooLarge;
    e.m_sizeLimit = limit;
    return e;
}

static QString transportSentence(NetError::TransportFailure f)
{
    using F = NetError::TransportFailure;
    switch (f) {
    case F::connectionRefused: return QStringLiteral("Could not connect to the server.");
    case F::connectionLost: return QStringLiteral("The network connection was lost.");
    case F::timedOut: return QStringLiteral("The request timed out.");
    case F::hostNotFound: return QStringLiteral("A server with the specified hostname could not be found.");
    case F::secureConnectionFailed: return QStringLiteral("A secure connection to the server could not be made.");
    case F::unsupportedURL: return QStringLiteral("The URL is not supported.");
    case F::tooManyRedirects: return QStringLiteral("The server redirected too many times.");
    case F::badServerResponse: return QStringLiteral("The server sent a reply that could not be read.");
    case F::fileWriteFailed: return QStringLiteral("The downloaded data could not be stored.");
    case F::none:
    case F::other: break;
    }
    return QStringLiteral("The network request failed.");
}

QString NetError::localizedDescription() const
{
    switch (m_kind) {
    case Kind::sessionTaskFailed:
        return QStringLiteral("The request failed: %1").arg(transportSentence(m_transport));
    case Kind::invalidURL:
        return QStringLiteral("The address is not a valid URL: %1").arg(log::redactedURL(m_detail));
    case Kind::invalidHeaders:
        return QStringLiteral("The request header \"%1\" cannot be sent.").arg(m_detail);
    case Kind::parameterEncodingFailed:
        return QStringLiteral("The request parameters could not be encoded: %1").arg(m_detail);
    case Kind::multipartEncodingFailed:
        return QStringLiteral("The multipart body could not be written: %1").arg(m_detail);
    case Kind::responseSerializationFailed:
        switch (m_reason) {
        case SerializationReason::inputDataNilOrZeroLength:
            return QStringLiteral("The reply could not be read: its body was empty.");
        case SerializationReason::jsonSerializationFailed:
            return QStringLiteral("The reply could not be read as JSON: %1").arg(m_detail);
        case SerializationReason::stringSerializationFailed:
            return QStringLiteral("The reply could not be read as UTF-8 text.");
        case SerializationReason::none:
            break;
        }
        return QStringLiteral("The reply could not be read.");
    case Kind::responseValidationFailed:
        return QStringLiteral("The reply's status code was not acceptable: %1.").arg(m_statusCode);
    case Kind::redirectRefused:
        return QStringLiteral("The server redirected the request where it may not go: %1.").arg(m_detail);
    case Kind::responseTooLarge:
        return QStringLiteral("The reply is larger than the %1 bytes allowed.").arg(m_sizeLimit);
    }
    return QStringLiteral("The request failed.");
}

QString toString(NetError::Kind kind)
{
    using K = NetError::Kind;
    switch (kind) {
    case K::sessionTaskFailed: return QStringLiteral("sessionTaskFailed");
    case K::invalidURL: return QStringLiteral("invalidURL");
    case K::invalidHeaders: return QStringLiteral("invalidHeaders");
    case K::parameterEncodingFailed: return QStringLiteral("parameterEncodingFailed");
    case K::multipartEncodingFailed: return QStringLiteral("multipartEncodingFailed");
    case K::responseSerializationFailed: return QStringLiteral("responseSerializationFailed");
    case K::responseValidationFailed: return QStringLiteral("responseValidationFailed");
    case K::redirectRefused: return QStringLiteral("redirectRefused");
    case K::responseTooLarge: return QStringLiteral("responseTooLarge");
    }
    return QStringLiteral("unknown");
}

QString toString(NetError::TransportFailure f)
{
    using F = NetError::TransportFailure;
    switch (f) {
    case F::none: return QStringLiteral("none");
    case F::connectionRefused: return QStringLiteral("connectionRefused");
    case F::connectionLost: return QStringLiteral("connectionLost");
    case F::timedOut: return QStringLiteral("timedOut");
    case F::hostNotFound: return QStringLiteral("hostNotFound");
    case F::secureConnectionFailed: return QStringLiteral("secureConnectionFailed");
    case F::unsupportedURL: return QStringLiteral("unsupportedURL");
    case F::tooManyRedirects: return QStringLiteral("tooManyRedirects");
    case F::badServerResponse: return QStringLiteral("badServerResponse");
    case F::fileWriteFailed: return QStringLiteral("fileWriteFailed");
    case F::other: return QStringLiteral("other");
    }
    return QStringLiteral("other");
}

QString toString(NetError::SerializationReason r)
{
    using R = NetError::SerializationReason;
    switch (r) {
    case R::none: return QStringLiteral("none");
    case R::inputDataNilOrZeroLength: return QStringLiteral("inputDataNilOrZeroLength");
    case R::jsonSerializationFailed: return QStringLiteral("jsonSerializationFailed");
    case R::stringSerializationFailed: return QStringLiteral("stringSerializationFailed");
    }
    return QStringLiteral("none");
}

QString NetError::debugDescription() const
{
    switch (m_kind) {
    case Kind::sessionTaskFailed: {
        // An unsupported URL is named in the detail: its query values stay out.
        const QString detail = m_transport == TransportFailure::unsupportedURL ? log::redactedURL(m_detail) : m_detail;
        return QStringLiteral("sessionTaskFailed(error: %1%2)")
            .arg(toString(m_transport), detail.isEmpty() ? QString() : QStringLiteral(", ") + detail);
    }
    case Kind::responseSerializationFailed:
        return QStringLiteral("responseSerializationFailed(reason: %1)").arg(toString(m_reason));
    case Kind::responseValidationFailed:
        return QStringLiteral("responseValidationFailed(reason: unacceptableStatusCode(code: %1))").arg(m_statusCode);
    case Kind::responseTooLarge:
        return QStringLiteral("responseTooLarge(limit: %1 bytes)").arg(m_sizeLimit);
    case Kind::invalidURL:
        return QStringLiteral("invalidURL(%1)").arg(log::redactedURL(m_detail));
    default:
        return QStringLiteral("%1(%2)").arg(toString(m_kind), m_detail);
    }
}

} // namespace orvix::platform::net
