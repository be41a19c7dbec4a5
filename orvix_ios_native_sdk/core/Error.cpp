#include "orvix_ios_native_sdk/core/Error.h"

namespace orvix {

Error Error::make(const QString &domain, int code)
{
    Error e;
    e.m_domain = domain;
    e.m_code = code;
    return e;
}

QString Error::localizedDescription() const
{
    if (m_net)
        return m_net->localizedDescription();
    if (m_domain.isEmpty())
        return QStringLiteral("The operation could not be completed (error %1).").arg(m_code);
    return QStringLiteral("The operation could not be completed (%1 error %2).").arg(m_domain).arg(m_code);
}

} // namespace orvix
