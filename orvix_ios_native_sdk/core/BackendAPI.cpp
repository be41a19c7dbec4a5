#include "orvix_ios_native_sdk/core/BackendAPI.h"

namespace orvix::backend {

QString resourceStatePath(const QString &resourceId)
{
    return QStringLiteral("v1/resource/") + resourceId + QStringLiteral("/state");
}

QString documentsPath()
{
    return QStringLiteral("documents");
}

QVariantMap documentBody()
{
    return {{QStringLiteral("extension"), QStringLiteral("xml")},
            {QStringLiteral("name"), QStringLiteral("aadhaar")},
            {QStringLiteral("type"), QStringLiteral("aadhaar")}};
}

QString supplierPath(const QString &kycType)
{
    return QStringLiteral("v1/suppliers/") + kycType;
}

QString documentObjectPath(const QString &documentId)
{
    return QStringLiteral("documents/") + documentId + QStringLiteral("/object");
}

QString initDocFetchPath()
{
    return QStringLiteral("v1/suppliers/init-doc-fetch");
}

QVariantMap initDocFetchBody(const QString &callbackUrl, const QString &cancelUrl, const QString &username)
{
    return {{QStringLiteral("callbackUrl"), callbackUrl},
            {QStringLiteral("cancelUrl"), cancelUrl},
            {QStringLiteral("docType"), QStringLiteral("aadhaar")},
            {QStringLiteral("username"), username}};
}

QString digiLockerWebhookPath()
{
    return QStringLiteral("v1/webhook/DigiLocker");
}

QVariantMap digiLockerWebhookBody(const QString &transactionId)
{
    return {{QStringLiteral("transactionId"), transactionId}, {QStringLiteral("status"), QStringLiteral("3")}};
}

} // namespace orvix::backend
