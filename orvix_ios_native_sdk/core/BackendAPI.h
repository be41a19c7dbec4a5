#pragma once
// Everything the kit sends to its backend, in one place: paths relative to
// the base URL and request bodies. Every call carries the credential header
// (APIHandler adds it when no headers are given).

#include <QString>
#include <QVariantMap>

namespace orvix::backend {

// GET: is a flow's resource available? Reply: "isAvailable" (Boolean) on 200,
// else "errors" -> "errorCode".
QString resourceStatePath(const QString &resourceId);

// POST: create the document record. Reply: "documentId".
QString documentsPath();
QVariantMap documentBody();

// POST: the supplier record for a KYC type ("offline-aadhaar-old", "offline-aadhaar").
QString supplierPath(const QString &kycType);

// POST multipart, parts named "attachment": the archive as the document's object.
QString documentObjectPath(const QString &documentId);
inline constexpr char documentObjectFieldName[] = "attachment";

// POST: start a DigiLocker document fetch. Reply: "transactionId", "url" on
// 200, else "error" -> "message".
QString initDocFetchPath();
QVariantMap initDocFetchBody(const QString &callbackUrl, const QString &cancelUrl, const QString &username);

// POST: tell the backend the DigiLocker fetch failed.
QString digiLockerWebhookPath();
QVariantMap digiLockerWebhookBody(const QString &transactionId);

} // namespace orvix::backend
