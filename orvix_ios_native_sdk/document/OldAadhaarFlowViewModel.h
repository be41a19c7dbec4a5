#pragma once
// Sends a verified offline e-KYC record and its archive to the backend, in
// three calls, each started from the completion of the one before:
//   1. POST "documents"                 creates the document record
//   2. POST "v1/suppliers/<kycType>"    the user's identity data
//   3. POST "documents/<id>/object"     the archive bytes, multipart "attachment"
// Both Aadhaar flows use it. Every field is set once, at creation.

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BaseViewModel.h"
#include "orvix_ios_native_sdk/core/Error.h"
#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

namespace orvix {

class OldAadhaarFlowViewModel : public BaseViewModel {
public:
    // Receives the record the view model was made with: the same object, not a copy.
    using Success = std::function<void(std::shared_ptr<OfflinePaperlessKyc>)>;
    // Receives the HTTP layer's error unchanged, or one made here: empty
    // domain, the supplier reply's status code (400 when it has none).
    using Failure = std::function<void(const Error &)>;

    // The supplier type used when kycType is absent.
    static inline const QString defaultKycType = QStringLiteral("offline-aadhaar-old");

    // key: the merchant credential, sent in the credential header ("" when absent).
    // urlComponent: the backend base URL; paths are appended to it as they are.
    // userID: the host's user id, sent as "id" (null when absent).
    // fileData: the upload's parts, one per element (the bytes of "aadhaar.zip").
    // kycType: "offline-aadhaar-old" (resident web page) or "offline-aadhaar" (web API).
    // Always owned by a shared_ptr, so a running chain can keep it alive.
    static std::shared_ptr<OldAadhaarFlowViewModel> create(std::optional<QString> key,
                                                           std::optional<QString> urlComponent,
                                                           std::optional<QString> userID,
                                                           std::shared_ptr<OfflinePaperlessKyc> aadhaarModel,
                                                           std::optional<QList<QByteArray>> fileData,
                                                           std::optional<QString> kycType);

    const std::optional<QString> &key() const { return m_key; }
    const std::optional<QString> &urlComponent() const { return m_urlComponent; }
    const std::shared_ptr<OfflinePaperlessKyc> &aadhaarModel() const { return m_aadhaarModel; }
    const std::optional<QString> &userID() const { return m_userID; }
    const std::optional<QList<QByteArray>> &fileData() const { return m_fileData; }
    const std::optional<QString> &kycType() const { return m_kycType; }

    // Runs the chain. Exactly one of the closures is called, on the main
    // thread, once the chain ends; the chain keeps this view model alive
    // until then. Each call starts a chain of its own. Callable from any thread.
    void uploadAadhaarDocument(Success success, Failure failure);

private:
    // The supplier body: "id" and "aadhaarXMLToken" (the document id), then
    // name, gender, dob from the record's Poi and street, city (vtc), state,
    // district (dist), country, pincode (pc) from its Poa; a value the record
    // lacks is a null QVariant. With an empty document id every value but
    // "id" is the empty string.
    QVariantMap makeSupplierParameters(const QString &documentId) const;

    OldAadhaarFlowViewModel(std::optional<QString> key, std::optional<QString> urlComponent,
                            std::optional<QString> userID, std::shared_ptr<OfflinePaperlessKyc> aadhaarModel,
                            std::optional<QList<QByteArray>> fileData, std::optional<QString> kycType);

    std::shared_ptr<OldAadhaarFlowViewModel> self();
    QString credential() const { return m_key.value_or(QString()); }
    QString base() const { return m_urlComponent.value_or(QString()); }

    void postSupplierData(const QString &type, const QString &documentId, const QVariantMap &parameters,
                          Success success, Failure failure);
    void uploadDocumentObject(const QString &documentId, Success success, Failure failure);

    const std::optional<QString> m_key;
    const std::optional<QString> m_urlComponent;
    const std::shared_ptr<OfflinePaperlessKyc> m_aadhaarModel;
    const std::optional<QString> m_userID;
    const std::optional<QList<QByteArray>> m_fileData;
    const std::optional<QString> m_kycType;
};

} // namespace orvix
