#include "platform/net/headers.h"

namespace orvix::platform::net {

HTTPHeaders::HTTPHeaders(std::initializer_list<std::pair<QByteArray, QByteArray>> list)
{
    for (const auto &[name, value] : list)
        add(name, value);
}

void HTTPHeaders::add(const QByteArray &name, const QByteArray &value)
{
    for (HTTPHeader &h : m_headers) {
        if (h.name.compare(name, Qt::CaseInsensitive) == 0) {
            h.value = value;
            return;
        }
    }
    m_headers.append({name, value});
}

void HTTPHeaders::remove(const QByteArray &name)
{
    m_headers.removeIf([&](const HTTPHeader &h) { return h.name.compare(name, Qt::CaseInsensitive) == 0; });
}

bool HTTPHeaders::contains(const QByteArray &name) const
{
    return value(name).has_value();
}

std::optional<QByteArray> HTTPHeaders::value(const QByteArray &name) const
{
    for (const HTTPHeader &h : m_headers) {
        if (h.name.compare(name, Qt::CaseInsensitive) == 0)
            return h.value;
    }
    return std::nullopt;
}

bool isHttpToken(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    static const QByteArray extra("!#$%&'*+-.^_`|~");
    for (char c : name) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && !extra.contains(c))
            return false;
    }
    return true;
}

std::optional<QByteArray> HTTPHeaders::firstInvalid() const
{
    for (const HTTPHeader &h : m_headers) {
        if (!isHttpToken(h.name))
            return h.name;
        if (h.value.contains('\r') || h.value.contains('\n') || h.value.contains('\0'))
            return h.name;
    }
    return std::nullopt;
}

} // namespace orvix::platform::net
