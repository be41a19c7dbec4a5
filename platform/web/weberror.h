#pragma once
// The error a web view reports for a failed navigation or script.

#include <QString>
#include <QUrl>

namespace orvix::platform::web {

class WebError {
public:
    enum class Code {
        unknown,
        cancelled,              // the navigation was stopped or replaced
        badURL,                 // the URL is empty or malformed
        unsupportedURL,         // a scheme the web view does not load
        timedOut,
        cannotFindHost,
        cannotConnectToHost,
        networkConnectionLost,  // the connection closed before a reply
        notConnectedToInternet,
        badServerResponse,
        tooManyRedirects,
        secureConnectionFailed,
        serverCertificateUntrusted,
        javaScriptExceptionOccurred,       // thrown error or syntax error
        javaScriptResultTypeIsUnsupported, // a function, symbol or bigint
        javaScriptResultUnavailable,       // the page went away before answering
        webViewInvalidated,                // the web view was destroyed first
    };

    WebError() = default;
    explicit WebError(Code code, QString detail = {}, QUrl failingURL = {}, int engineCode = 0);

    // Maps an engine network error (negative net error number) to our code.
    static WebError fromEngine(int engineCode, const QString &engineText, const QUrl &failingURL);

    Code code() const { return m_code; }
    // The engine's own number for network errors, 0 otherwise.
    int engineCode() const { return m_engineCode; }
    // The engine's text, or the script's "Name: message".
    QString detail() const { return m_detail; }
    QUrl failingURL() const { return m_failingURL; }

    // A sentence for a person.
    QString localizedDescription() const;
    // For logs: the code, the engine number, the detail and the URL.
    QString debugDescription() const;

    friend bool operator==(const WebError &, const WebError &) = default;

private:
    Code m_code = Code::unknown;
    QString m_detail;
    QUrl m_failingURL;
    int m_engineCode = 0;
};

QString toString(WebError::Code code);

} // namespace orvix::platform::web
