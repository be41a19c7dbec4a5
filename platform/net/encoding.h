#pragma once
// Parameter encodings (JSON body, query string, form body) and multipart bodies.

#include "platform/net/error.h"
#include "platform/net/headers.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace orvix::platform::net {

enum class HTTPMethod { GET, HEAD, POST, PUT, PATCH, DELETE };
QByteArray methodName(HTTPMethod method);

enum class ParameterEncoding {
    json,           // JSON object body
    queryString,    // always in the URL's query
    methodDependent // the query for GET, HEAD and DELETE; a form body otherwise
};

// "key=value" pairs joined by "&": keys in ascending order, arrays as
// "key[]", nested maps as "key[sub]", booleans as 1 and 0, every name and
// value percent-escaped (only letters, digits, "-._~", "/" and "?" stay).
QByteArray queryString(const QVariantMap &parameters);
QByteArray percentEscapeQueryComponent(const QString &text);

// Where a request's body comes from: bytes in memory or a file on disk.
struct RequestBody {
    QByteArray bytes;
    QString filePath;   // when set, the body is streamed from this file
    qint64 fileSize = 0;
    bool isFile() const { return !filePath.isEmpty(); }
    qint64 size() const { return isFile() ? fileSize : bytes.size(); }
};

// A temporary file removed when the last owner lets go.
class TemporaryBodyFile {
public:
    explicit TemporaryBodyFile(QString path) : m_path(std::move(path)) {}
    ~TemporaryBodyFile();
    TemporaryBodyFile(const TemporaryBodyFile &) = delete;
    TemporaryBodyFile &operator=(const TemporaryBodyFile &) = delete;
    const QString &path() const { return m_path; }

private:
    QString m_path;
};

struct URLRequest {
    QUrl url;
    HTTPMethod method = HTTPMethod::GET;
    HTTPHeaders headers;
    RequestBody body;
    std::shared_ptr<TemporaryBodyFile> bodyFile; // keeps a streamed body alive
    // The largest reply body this request takes; the session's bound when
    // absent, and never more than it.
    std::optional<qint64> maximumBodySize;
};

// Builds a request from URL text and parameters. The encoding sets its own
// Content-Type only when the headers carry none. Fails with invalidURL,
// invalidHeaders or parameterEncodingFailed.
struct EncodeResult {
    std::optional<URLRequest> request;
    std::optional<NetError> error;
};
EncodeResult encodeRequest(const QString &urlText, HTTPMethod method, const QVariantMap &parameters,
                           ParameterEncoding encoding, const HTTPHeaders &headers);

// Turns URL text into an absolute URL, or fails with invalidURL.
std::optional<QUrl> urlFromText(const QString &urlText);

class MultipartFormData {
public:
    static constexpr qint64 encodingMemoryThreshold = 10000000;

    MultipartFormData();
    void append(const QByteArray &data, const QString &name, const QString &fileName, const QString &mimeType);

    QByteArray boundary() const { return m_boundary; }
    QByteArray contentType() const;
    qint64 contentLength() const;
    int partCount() const { return int(m_parts.size()); }

    QByteArray encode() const;
    // Writes the encoded body to a new file under dir; returns its path or an error text.
    std::optional<QString> writeEncodedDataToFile(const QString &dir, QString *error) const;

    // Encodes in memory below the threshold, else into a temporary file.
    struct Encoded {
        RequestBody body;
        std::shared_ptr<TemporaryBodyFile> file;
        std::optional<NetError> error;
    };
    Encoded encodeForUpload(qint64 threshold = encodingMemoryThreshold) const;

private:
    struct Part {
        QByteArray headers;
        QByteArray data;
    };
    QList<Part> m_parts;
    QByteArray m_boundary;
};

} // namespace orvix::platform::net
