#include "platform/web/weberror.h"

namespace orvix::platform::web {

WebError::WebError(Code code, QString detail, QUrl failingURL, int engineCode)
    : m_code(code), m_detail(std::move(detail)), m_failingURL(std::move(failingURL)), m_engineCode(engineCode)
{
}

WebError WebError::fromEngine(int engineCode, const QString &engineText, const QUrl &failingURL)
{
    Code code = Code::unknown;
    switch (engineCode) {
    case -3: // aborted
        code = Code::cancelled;
        break;
    case -7:   // timed out
    case -118: // connection timed out
        code = Code::timedOut;
        break;
    case -105: // name not resolved
    case -137: // name resolution failed
        code = Code::cannotFindHost;
        break;
    case -102: // refused
    case -104: // failed
    case -108: // address invalid
    case -109: // address unreachable
    case -111: // tunnel connection failed
        code = Code::cannotConnectToHost;
        break;
    case -100: // closed
    case -101: // reset
    case -103: // aborted by the peer
    case -324: // empty response
        code = Code::networkConnectionLost;
        break;
    case -21:  // network changed
    case -106: // internet disconnected
        code = Code::notConnectedToInternet;
        break;
    case -300: // invalid URL
        code = Code::badURL;
        break;
    case -301: // disallowed scheme
    case -302: // unknown scheme
        code = Code::unsupportedURL;
        break;
    case -310:
        code = Code::tooManyRedirects;
        break;
    default:
        if (engineCode <= -200 && engineCode > -300)
            code = Code::serverCertificateUntrusted;
        else if (engineText.contains(QLatin1String("SSL")))
            code = Code::secureConnectionFailed;
        else if (engineCode <= -300 && engineCode > -400)
            code = Code::badServerResponse;
        break;
    }
    return WebError(code, engineText, failingURL, engineCode);
}

QString WebError::localizedDescription() const
{
    switch (m_code) {
    case Code::unknown:
        return QStringLiteral("An unknown error occurred.");
    case Code::cancelled:
        return QStringLiteral("The page load was cancelled.");
    case Code::badURL:
        return QStringLiteral("The address is not a valid URL.");
    case Code::unsupportedURL:
        return QStringLiteral("The address uses a scheme that cannot be opened here.");
    case Code::timedOut:
        return QStringLiteral("The request timed out.");
    case Code::cannotFindHost:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case Code::cannotConnectToHost:
        return QStringLiteral("Could not connect to the server.");
    case Code::networkConnectionLost:
        return QStringLiteral("The network connection was lost.");
    case Code::notConnectedToInternet:
        return QStringLiteral("The Internet connection appears to be offline.");
    case Code::badServerResponse:
        return QStringLiteral("The server returned a response that could not be read.");
    case Code::tooManyRedirects:
        return QStringLiteral("The server redirected too many times.");
    case Code::secureConnectionFailed:
        return QStringLiteral("A secure connection to the server could not be made.");
    case Code::serverCertificateUntrusted:
        return QStringLiteral("The certificate for this server is invalid.");
    case Code::javaScriptExceptionOccurred:
        return QStringLiteral("A JavaScript exception occurred.");
    case Code::javaScriptResultTypeIsUnsupported:
        return QStringLiteral("The script returned a value of an unsupported type.");
    case Code::javaScriptResultUnavailable:
        return QStringLiteral("The script's result could not be read.");
    case Code::webViewInvalidated:
        return QStringLiteral("The web view was closed before the script finished.");
    }
    return QStringLiteral("An unknown error occurred.");
}

QString WebError::debugDescription() const
{
    QString out = toString(m_code);
    if (m_engineCode != 0)
        out += QStringLiteral(" (%1)").arg(m_engineCode);
    if (!m_detail.isEmpty())
        out += QStringLiteral(": ") + m_detail;
    if (!m_failingURL.isEmpty())
        out += QStringLiteral(" <") + m_failingURL.toString() + QLatin1Char('>');
    return out;
}

QString toString(WebError::Code code)
{
    switch (code) {
    case WebError::Code::unknown: return QStringLiteral("unknown");
    case WebError::Code::cancelled: return QStringLiteral("cancelled");
    case WebError::Code::badURL: return QStringLiteral("badURL");
    case WebError::Code::unsupportedURL: return QStringLiteral("unsupportedURL");
    case WebError::Code::timedOut: return QStringLiteral("timedOut");
    case WebError::Code::cannotFindHost: return QStringLiteral("cannotFindHost");
    case WebError::Code::cannotConnectToHost: return QStringLiteral("cannotConnectToHost");
    case WebError::Code::networkConnectionLost: return QStringLiteral("networkConnectionLost");
    case WebError::Code::notConnectedToInternet: return QStringLiteral("notConnectedToInternet");
    case WebError::Code::badServerResponse: return QStringLiteral("badServerResponse");
    case WebError::Code::tooManyRedirects: return QStringLiteral("tooManyRedirects");
    case WebError::Code::secureConnectionFailed: return QStringLiteral("secureConnectionFailed");
    case WebError::Code::serverCertificateUntrusted: return QStringLiteral("serverCertificateUntrusted");
    case WebError::Code::javaScriptExceptionOccurred: return QStringLiteral("javaScriptExceptionOccurred");
    case WebError::Code::javaScriptResultTypeIsUnsupported: return QStringLiteral("javaScriptResultTypeIsUnsupported");
    case WebError::Code::javaScriptResultUnavailable: return QStringLiteral("javaScriptResultUnavailable");
    case WebError::Code::webViewInvalidated: return QStringLiteral("webViewInvalidated");
    }
    return QStringLiteral("unknown");
}

} // namespace orvix::platform::web
