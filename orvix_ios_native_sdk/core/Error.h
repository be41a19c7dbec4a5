#pragma once
// An error handed to the kit's failure closures: either the HTTP layer's
// error, or one the kit makes itself (a domain and a code).

#include "platform/net/error.h"

#include <QString>
#include <optional>

namespace orvix {

class Error {
public:
    Error(const platform::net::NetError &netError) : m_net(netError) {}
    static Error make(const QString &domain, int code);

    // The HTTP layer's error, when this is one.
    const platform::net::NetError *asAFError() const { return m_net ? &*m_net : nullptr; }
    bool isSessionTaskFailed() const { return m_net && m_net->isSessionTaskFailed(); }

    QString domain() const { return m_domain; }
    int code() const { return m_code; }
    QString localizedDescription() const;

private:
    Error() = default;
    std::optional<platform::net::NetError> m_net;
    QString m_domain;
    int m_code = 0;
};

} // namespace orvix
