#pragma once
// The simulator's HTTP vocabulary: a received request, the reply a route
// gives, a route, and an override that changes the replies of a route.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace orvix::sim {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// First value of a header, names compared ignoring case.
QByteArray headerValue(const HeaderList &headers, const QByteArray &name);
bool hasHeader(const HeaderList &headers, const QByteArray &name);

struct MultipartPart {
    QByteArray name;        // from Content-Disposition
    QByteArray fileName;    // empty when the part has none
    QByteArray contentType; // empty when the part has none
    HeaderList headers;     // the part's own headers, in order
    QByteArray data;
};

// The parts of a multipart body, or nothing when it cannot be read.
std::optional<QList<MultipartPart>> parseMultipart(const QByteArray &contentType, const QByteArray &body);

struct Request {
    QByteArray method;      // "GET", "POST", ...
    QString path;           // decoded, e.g. "/backend/documents//object"
    QString query;          // encoded, without '?'
    HeaderList headers;     // in order, names exactly as received
    QByteArray body;
    QJsonValue json = QJsonValue::Undefined; // the parsed body, when it is JSON
    std::optional<QList<MultipartPart>> parts; // set for a readable multipart body
    QString route;          // name of the route that matched, empty if none
    QStringList captures;   // the route pattern's capture groups
    QUrl serverUrl;         // the simulator's base URL, ending in '/'

    QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
    bool hasHeader(const QByteArray &name) const { return sim::hasHeader(headers, name); }
    QJsonObject jsonObject() const { return json.toObject(); }
};

struct Reply {
    enum class Behaviour {
        answer, // write the reply now
        slow,   // write it after delayMs
        drop,   // close the connection without a reply
    };
    int status = 200;
    HeaderList headers;     // Content-Length is added when written
    QByteArray body;
    Behaviour behaviour = Behaviour::answer;
    int delayMs = 0;

    static Reply json(int status, const QJsonValue &value);
    static Reply bytes(int status, const QByteArray &body, const QByteArray &contentType);
    static Reply empty(int status);
    // {"errors": {"errorCode": code, "message": message}}; message left out when empty.
    static Reply errorCode(int status, const QString &code, const QString &message = {});
};

// The reply as HTTP/1.1 bytes, with its Content-Length; the body is left
// out for a HEAD request (withBody false).
QByteArray toWire(const Reply &reply, bool withBody = true);

// The values of every cookie named `name` the request carries, in order.
QStringList cookieValues(const Request &request, const QByteArray &name);

// Text safe inside an element or a double- or single-quoted attribute.
QString htmlEscaped(const QString &text);
// A whole HTML page; `body` is HTML already, the title is escaped here.
Reply htmlPage(int status, const QString &title, const QString &body);

struct Route {
    QString name;                 // e.g. "backend.documents"
    QByteArray method;            // empty matches any method
    QRegularExpression path;      // matched against the whole decoded path
    std::function<Reply(const Request &)> handler;
};

// A pattern matching exactly `path`, where each `placeholder` in it stands
// for one path segment (possibly empty) that is captured.
QRegularExpression pathPattern(const QString &path, const QString &placeholder = QStringLiteral("__id__"));

// Changes the replies of one route (by name) or path.
struct Override {
    enum class Kind {
        replace, // answer `reply` instead of the route
        slow,    // the route's own reply, after delayMs
        drop,    // close the connection without a reply
    };
    Kind kind = Kind::replace;
    Reply reply;
    int delayMs = 0;
    int remaining = -1; // requests it still applies to; -1 = until cleared

    static Override errorCode(int status, const QString &code);
    static Override errorBody(int status, const QJsonValue &body);
    static Override emptyBody(int status);
    static Override htmlPage(int status);
    static Override text(int status, const QByteArray &text);
    static Override jsonArray(int status, const QJsonArray &array = {});
    static Override dropConnection();
    static Override slow(int delayMs);
    // The same override for the next n requests only.
    Override times(int n) const;
};

} // namespace orvix::sim

Q_DECLARE_METATYPE(orvix::sim::Request)
