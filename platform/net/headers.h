#pragma once
// An ordered header collection. Names are kept byte for byte as given; two
// names are the same header when they match ignoring ASCII case, so "'Accept'"
// (quotes included) and "Accept" are different headers.

#include <QByteArray>
#include <QList>
#include <QString>
#include <initializer_list>
#include <optional>
#include <utility>

namespace orvix::platform::net {

struct HTTPHeader {
    QByteArray name;
    QByteArray value;
    friend bool operator==(const HTTPHeader &, const HTTPHeader &) = default;
};

class HTTPHeaders {
public:
    HTTPHeaders() = default;
    HTTPHeaders(std::initializer_list<std::pair<QByteArray, QByteArray>> list);

    // Replaces the value of a header with the same name, else appends.
    void add(const QByteArray &name, const QByteArray &value);
    void add(const QString &name, const QString &value) { add(name.toUtf8(), value.toUtf8()); }
    void remove(const QByteArray &name);
    bool contains(const QByteArray &name) const;
    std::optional<QByteArray> value(const QByteArray &name) const;

    const QList<HTTPHeader> &list() const { return m_headers; }
    qsizetype size() const { return m_headers.size(); }
    bool isEmpty() const { return m_headers.isEmpty(); }

    // A header that cannot go on the wire as given: an empty name, a name
    // with characters outside the HTTP token set, or a value holding CR, LF
    // or NUL. Returns the offending name, or nothing when all are sound.
    std::optional<QByteArray> firstInvalid() const;

    friend bool operator==(const HTTPHeaders &, const HTTPHeaders &) = default;

private:
    QList<HTTPHeader> m_headers;
};

bool isHttpToken(const QByteArray &name);

} // namespace orvix::platform::net
