#include "orvix_ios_native_sdk/core/Endpoints.h"

#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"

#include <QMutex>

namespace orvix {

namespace {
QMutex &overrideMutex()
{
    static QMutex m;
    return m;
}
std::optional<QString> &backendOverride()
{
    static std::optional<QString> value;
    return value;
}
std::optional<QString> &serviceOverride()
{
    static std::optional<QString> value;
    return value;
}
std::optional<QString> &portalOverride()
{
    static std::optional<QString> value;
    return value;
}
std::optional<QString> &residentOverride()
{
    static std::optional<QString> value;
    return value;
}
} // namespace

QString authorityServiceBaseURL()
{
    QMutexLocker lock(&overrideMutex());
    return serviceOverride().value_or(QStringLiteral("https://" ORVIX_AUTHORITY_SERVICE_HOST));
}

QString authorityPortalURL()
{
    QMutexLocker lock(&overrideMutex());
    return portalOverride().value_or(QStringLiteral("https://" ORVIX_AUTHORITY_PORTAL_HOST "/"));
}

QString residentPortalURL()
{
    QMutexLocker lock(&overrideMutex());
    return residentOverride().value_or(QStringLiteral("https://" ORVIX_RESIDENT_PORTAL_HOST "/"));
}

QString backendBaseURL(Mode mode)
{
    {
        QMutexLocker lock(&overrideMutex());
        if (backendOverride())
            return *backendOverride();
    }
    switch (mode) {
    case Mode::sandbox:
        return QStringLiteral("https://" ORVIX_BACKEND_HOST_SANDBOX "/");
    case Mode::production:
        return QStringLiteral("https://" ORVIX_BACKEND_HOST_PRODUCTION "/");
    case Mode::stage:
        return QStringLiteral("https://" ORVIX_BACKEND_HOST_STAGE "/");
    }
    return QString();
}

namespace internal {
void setBackendBaseURL(const std::optional<QString> &baseURL)
{
    QMutexLocker lock(&overrideMutex());
    backendOverride() = baseURL;
}

void setAuthorityServiceBaseURL(const std::optional<QString> &baseURL)
{
    QMutexLocker lock(&overrideMutex());
    serviceOverride() = baseURL;
}

void setAuthorityPortalURL(const std::optional<QString> &portalURL)
{
    QMutexLocker lock(&overrideMutex());
    portalOverride() = portalURL;
}

void setResidentPortalURL(const std::optional<QString> &baseURL)
{
    QMutexLocker lock(&overrideMutex());
    residentOverride() = baseURL;
}
} // namespace internal

} // namespace orvix
