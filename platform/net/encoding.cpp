#include "platform/net/encoding.h"
#include "platform/files/tempdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaType>
#include <QMutex>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>

namespace orvix::platform::net {

QByteArray methodName(HTTPMethod method)
{
    switch (method) {
    case HTTPMethod::GET: return "GET";
    case HTTPMethod::HEAD: return "HEAD";
    case HTTPMethod::POST: return "POST";
    case HTTPMethod::PUT: return "PUT";
    case HTTPMethod::PATCH: return "PATCH";
    case HTTPMethod::DELETE: return "DELETE";
    }
    return "GET";
}

QByteArray percentEscapeQueryComponent(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~' || c == '/' || c == '?';
        if (keep) {
            out.append(char(c));
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        }
    }
    return out;
}

static QString scalarText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QString();
    default:
        return value.toString();
    }
}

static void queryComponents(const QString &key, const QVariant &value, QList<QPair<QByteArray, QByteArray>> &out)
{
    const int type = value.typeId();
    if (type == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            queryComponents(key + u'[' + it.key() + u']', it.value(), out);
    } else if (type == QMetaType::QVariantHash) {
        const QVariantHash hash = value.toHash();
        QStringList keys = hash.keys();
        std::sort(keys.begin(), keys.end());
        for (const QString &k : keys)
            queryComponents(key + u'[' + k + u']', hash.value(k), out);
    } else if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
        const QVariantList list = value.toList();
        for (const QVariant &v : list)
            queryComponents(key + QStringLiteral("[]"), v, out);
    } else {
        out.append({percentEscapeQueryComponent(key), percentEscapeQueryComponent(scalarText(value))});
    }
}

QByteArray queryString(const QVariantMap &parameters)
{
    // QVariantMap iterates its keys in ascending order already.
    QList<QPair<QByteArray, QByteArray>> components;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        queryComponents(it.key(), it.value(), components);
    QByteArrayList pairs;
    pairs.reserve(components.size());
    for (const auto &[k, v] : components)
        pairs.append(k + '=' + v);
    return pairs.join('&');
}

std::optional<QUrl> urlFromText(const QString &urlText)
{
    if (urlText.trimmed().isEmpty() || urlText != urlText.trimmed())
        return std::nullopt;
    QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

EncodeResult encodeRequest(const QString &urlText, HTTPMethod method, const QVariantMap &parameters,
                           ParameterEncoding encoding, const HTTPHeaders &headers)
{
    EncodeResult result;
    const std::optional<QUrl> parsed = urlFromText(urlText);
    if (!parsed) {
        result.error = NetError::invalidURL(urlText);
        return result;
    }
    if (const auto bad = headers.firstInvalid()) {
        result.error = NetError::invalidHeaders(QString::fromLatin1(*bad));
        return result;
    }

    URLRequest request;
    request.url = *parsed;
    request.method = method;
    request.headers = headers;

    const bool inURL = encoding == ParameterEncoding::queryString
        || (encoding == ParameterEncoding::methodDependent
            && (method == HTTPMethod::GET || method == HTTPMethod::HEAD || method == HTTPMethod::DELETE));

    if (encoding == ParameterEncoding::json) {
        const QJsonObject object = QJsonObject::fromVariantMap(parameters);
        request.body.bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
        if (!request.headers.contains("Content-Type"))
            request.headers.add(QByteArray("Content-Type"), QByteArray("application/json"));
    } else if (inURL) {
        if (!parameters.isEmpty()) {
            const QByteArray query = queryString(parameters);
            const QByteArray existing = request.url.query(QUrl::FullyEncoded).toLatin1();
            const QByteArray joined = existing.isEmpty() ? query : existing + '&' + query;
            request.url.setQuery(QString::fromLatin1(joined), QUrl::StrictMode);
            if (!request.url.isValid()) {
                result.error = NetError::invalidURL(urlText);
                return result;
            }
        }
    } else {
        request.body.bytes = queryString(parameters);
        if (!request.headers.contains("Content-Type"))
            request.headers.add(QByteArray("Content-Type"),
                                QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
    }
    result.request = std::move(request);
    return result;
}

TemporaryBodyFile::~TemporaryBodyFile()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

static QByteArray quotedParameter(const QString &text)
{
    // A name or file name must not end its quoted string or the header line.
    QByteArray out = text.toUtf8();
    out.replace('"', "%22");
    out.replace('\r', "%0D");
    out.replace('\n', "%0A");
    return out;
}

MultipartFormData::MultipartFormData()
{
    const quint64 a = QRandomGenerator::global()->generate64();
    const quint64 b = QRandomGenerator::global()->generate64();
    m_boundary = "orvix.boundary." + QByteArray::number(a, 16).rightJustified(16, '0')
        + QByteArray::number(b, 16).rightJustified(16, '0');
}

void MultipartFormData::append(const QByteArray &data, const QString &name, const QString &fileName,
                               const QString &mimeType)
{
    Part part;
    part.headers = "Content-Disposition: form-data; name=\"" + quotedParameter(name) + "\"; filename=\""
        + quotedParameter(fileName) + "\"\r\nContent-Type: " + quotedParameter(mimeType) + "\r\n\r\n";
    part.data = data;
    m_parts.append(std::move(part));
}

QByteArray MultipartFormData::contentType() const
{
    return "multipart/form-data; boundary=" + m_boundary;
}

qint64 MultipartFormData::contentLength() const
{
    if (m_parts.isEmpty())
        return 0;
    qint64 total = 0;
    for (const Part &p : m_parts)
        total += 2 + m_boundary.size() + 2 + p.headers.size() + p.data.size() + 2;
    total += 2 + m_boundary.size() + 2 + 2;
    return total;
}

QByteArray MultipartFormData::encode() const
{
    QByteArray out;
    if (m_parts.isEmpty())
        return out;
    out.reserve(contentLength());
    for (const Part &p : m_parts) {
        out += "--" + m_boundary + "\r\n";
        out += p.headers;
        out += p.data;
        out += "\r\n";
    }
    out += "--" + m_boundary + "--\r\n";
    return out;
}

std::optional<QString> MultipartFormData::writeEncodedDataToFile(const QString &dir, QString *error) const
{
    const QString path = QDir(dir).filePath(QStringLiteral("multipart-%1.body")
                                                .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    auto write = [&](const QByteArray &bytes) { return file.write(bytes) == bytes.size(); };
    bool ok = true;
    if (!m_parts.isEmpty()) {
        for (const Part &p : m_parts) {
            ok = ok && write("--" + m_boundary + "\r\n") && write(p.headers) && write(p.data) && write("\r\n");
        }
        ok = ok && write("--" + m_boundary + "--\r\n");
    }
    if (!ok || !file.flush()) {
        if (error)
            *error = file.errorString();
        file.close();
        QFile::remove(path);
        return std::nullopt;
    }
    file.close();
    return path;
}

MultipartFormData::Encoded MultipartFormData::encodeForUpload(qint64 threshold) const
{
    Encoded result;
    const qint64 length = contentLength();
    if (length < threshold) {
        result.body.bytes = encode();
        return result;
    }
    QString error;
    const auto path = writeEncodedDataToFile(files::privateTemporaryDirectory(), &error);
    if (!path) {
        result.error = NetError::multipartEncodingFailed(error);
        return result;
    }
    result.file = std::make_shared<TemporaryBodyFile>(*path);
    result.body.filePath = *path;
    result.body.fileSize = length;
    return result;
}

} // namespace orvix::platform::net
