#include "simulator/Http.h"

#include <QJsonDocument>

#include <algorithm>

namespace orvix::sim {

QByteArray headerValue(const HeaderList &headers, const QByteArray &name)
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool hasHeader(const HeaderList &headers, const QByteArray &name)
{
    return std::any_of(headers.cbegin(), headers.cend(),
                       [&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
}

namespace {

// The parameters of a value such as `form-data; name="a"; filename="b;c"`:
// names lower-cased, quoted values unquoted.
HeaderList parameters(const QByteArray &value)
{
    HeaderList out;
    qsizetype i = value.indexOf(';');
    while (i >= 0 && i < value.size()) {
        ++i;
        const qsizetype eq = value.indexOf('=', i);
        const qsizetype semi = value.indexOf(';', i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            i = semi;
            continue;
        }
        const QByteArray name = value.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < value.size() && value[i] == ' ')
            ++i;
        QByteArray v;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size())
                    ++i;
                v += value[i];
            }
            i = value.indexOf(';', i);
        } else {
            const qsizetype end = value.indexOf(';', i);
            v = value.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end;
        }
        out.append({name, v});
    }
    return out;
}

HeaderList headerLines(const QByteArray &block)
{
    HeaderList out;
    for (const QByteArray &line : block.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        const qsizetype colon = l.indexOf(':');
        if (colon > 0)
            out.append({l.left(colon), l.mid(colon + 1).trimmed()});
    }
    return out;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

} // namespace

std::optional<QList<MultipartPart>> parseMultipart(const QByteArray &contentType, const QByteArray &body)
{
    if (!contentType.trimmed().toLower().startsWith("multipart/"))
        return std::nullopt;
    const QByteArray boundary = headerValue(parameters(contentType), "boundary");
    if (boundary.isEmpty())
        return std::nullopt;
    QList<MultipartPart> parts;
    if (body.isEmpty())
        return parts;

    const QByteArray delimiter = "--" + boundary;
    qsizetype pos = body.startsWith(delimiter) ? 0 : body.indexOf("\r\n" + delimiter);
    if (pos < 0)
        return std::nullopt;
    if (pos > 0)
        pos += 2;
    for (;;) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            return parts; // the close delimiter
        const qsizetype lineEnd = body.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return std::nullopt;
        pos = lineEnd + 2;
        qsizetype dataStart = pos;
        MultipartPart part;
        if (body.mid(pos, 2) != "\r\n") {
            const qsizetype headEnd = body.indexOf("\r\n\r\n", pos);
            if (headEnd < 0)
                return std::nullopt;
            part.headers = headerLines(body.mid(pos, headEnd - pos));
            dataStart = headEnd + 2;
        }
        dataStart += 2;
        const qsizetype next = body.indexOf("\r\n" + delimiter, dataStart);
        if (next < 0)
            return std::nullopt;
        part.data = body.mid(dataStart, next - dataStart);
        const HeaderList disposition = parameters(headerValue(part.headers, "Content-Disposition"));
        part.name = headerValue(disposition, "name");
        part.fileName = headerValue(disposition, "filename");
        part.contentType = headerValue(part.headers, "Content-Type");
        parts.append(std::move(part));
        pos = next + 2;
    }
}

QByteArray toWire(const Reply &reply, bool withBody)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto &h : reply.headers) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) != 0)
            out += h.first + ": " + h.second + "\r\n";
    }
    // 1xx, 204 and 304 replies have no body by definition.
    const bool bodyless = reply.status < 200 || reply.status == 204 || reply.status == 304;
    if (!bodyless)
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "\r\n";
    if (withBody && !bodyless)
        out += reply.body;
    return out;
}

Reply Reply::json(int status, const QJsonValue &value)
{
    QByteArray body;
    if (value.isObject())
        body = QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    else if (value.isArray())
        body = QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    else // a bare scalar: write it as an array's only element, brackets cut off
        body = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
    return bytes(status, body, "application/json");
}

Reply Reply::bytes(int status, const QByteArray &body, const QByteArray &contentType)
{
    Reply r;
    r.status = status;
    r.headers.append({"Content-Type", contentType});
    r.body = body;
    return r;
}

Reply Reply::empty(int status)
{
    Reply r;
    r.status = status;
    return r;
}

Reply Reply::errorCode(int status, const QString &code, const QString &message)
{
    QJsonObject errors{{QStringLiteral("errorCode"), code}};
    if (!message.isEmpty())
        errors.insert(QStringLiteral("message"), message);
    return json(status, QJsonObject{{QStringLiteral("errors"), errors}});
}

QRegularExpression pathPattern(const QString &path, const QString &placeholder)
{
    QString pattern = QRegularExpression::escape(path);
    pattern.replace(QRegularExpression::escape(placeholder), QStringLiteral("([^/]*)"));
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

namespace {

Override replacing(Reply reply)
{
    Override o;
    o.reply = std::move(reply);
    return o;
}

} // namespace

Override Override::errorCode(int status, const QString &code)
{
    return replacing(Reply::errorCode(status, code));
}

Override Override::errorBody(int status, const QJsonValue &body)
{
    return replacing(Reply::json(status, body));
}

Override Override::emptyBody(int status)
{
    return replacing(Reply::empty(status));
}

Override Override::htmlPage(int status)
{
    const QByteArray title = QByteArray::number(status) + ' ' + reasonPhrase(status);
    return replacing(Reply::bytes(status,
                                  "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>"
                                      + title + "</h1><hr><p>gateway</p></body></html>\n",
                                  "text/html; charset=utf-8"));
}

Override Override::text(int status, const QByteArray &text)
{
    return replacing(Reply::bytes(status, text, "text/plain; charset=utf-8"));
}

Override Override::jsonArray(int status, const QJsonArray &array)
{
    return replacing(Reply::json(status, array));
}

Override Override::dropConnection()
{
    Override o;
    o.kind = Kind::drop;
    return o;
}

Override Override::slow(int delayMs)
{
    Override o;
    o.kind = Kind::slow;
    o.delayMs = delayMs;
    return o;
}

Override Override::times(int n) const
{
    Override o = *this;
    o.remaining = n;
    return o;
}

QString htmlEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default: out += c;
        }
    }
    return out;
}

Reply htmlPage(int status, const QString &title, const QString &body)
{
    const QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                        "<meta name=\"viewport\" content=\"width=device-width\">"
                                        "<title>%1</title></head>\n<body>\n<h1>%1</h1>\n%2\n</body></html>\n")
                             .arg(htmlEscaped(title), body);
    return Reply::bytes(status, html.toUtf8(), "text/html; charset=utf-8");
}

QStringList cookieValues(const Request &request, const QByteArray &name)
{
    QStringList values;
    for (const auto &[header, value] : request.headers) {
        if (header.compare("Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &pair : value.split(';')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0 && pair.left(eq).trimmed() == name)
                values.append(QString::fromLatin1(pair.mid(eq + 1).trimmed()));
        }
    }
    return values;
}

} // namespace orvix::sim
