#include "orvix_ios_native_sdk/document/OldAadhaarFlowViewModel.h"

#include "orvix_ios_native_sdk/core/BackendAPI.h"

#include <QMetaType>
#include <functional>

namespace orvix {

namespace {

// An absent text goes out as JSON null.
QVariant orNull(const std::optional<QString> &value)
{
    return value ? QVariant(*value) : QVariant();
}

// The reply's "documentId" when it is a non-empty string, else "".
QString documentIdOf(const QVariant &reply)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return QString();
    const QVariant id = reply.toMap().value(QStringLiteral("documentId"));
    return id.typeId() == QMetaType::QString ? id.toString() : QString();
}

// The reply's "statusCode" when it is an integer.
std::optional<int> statusCodeOf(const QVariant &reply)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant code = reply.toMap().value(QStringLiteral("statusCode"));
    switch (code.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return code.toInt();
    default:
        return std::nullopt;
    }
}

} // namespace

OldAadhaarFlowViewModel::OldAadhaarFlowViewModel(std::optional<QString> key, std::optional<QString> urlComponent,
                                                 std::optional<QString> userID,
                                                 std::shared_ptr<OfflinePaperlessKyc> aadhaarModel,
                                                 std::optional<QList<QByteArray>> fileData,
                                                 std::optional<QString> kycType)
    : m_key(std::move(key)),
      m_urlComponent(std::move(urlComponent)),
      m_aadhaarModel(std::move(aadhaarModel)),
      m_userID(std::move(userID)),
      m_fileData(std::move(fileData)),
      m_kycType(std::move(kycType))
{
}

std::shared_ptr<OldAadhaarFlowViewModel> OldAadhaarFlowViewModel::create(
    std::optional<QString> key, std::optional<QString> urlComponent, std::optional<QString> userID,
    std::shared_ptr<OfflinePaperlessKyc> aadhaarModel, std::optional<QList<QByteArray>> fileData,
    std::optional<QString> kycType)
{
    return std::shared_ptr<OldAadhaarFlowViewModel>(
        new OldAadhaarFlowViewModel(std::move(key), std::move(urlComponent), std::move(userID),
                                    std::move(aadhaarModel), std::move(fileData), std::move(kycType)));
}

// Each request's success closure holds the view model, so a chain runs to its
// end even when the caller lets go of it.
std::shared_ptr<OldAadhaarFlowViewModel> OldAadhaarFlowViewModel::self()
{
    return std::static_pointer_cast<OldAadhaarFlowViewModel>(shared_from_this());
}

QVariantMap OldAadhaarFlowViewModel::makeSupplierParameters(const QString &documentId) const
{
    const bool filled = !documentId.isEmpty();
    const auto uid = filled && m_aadhaarModel ? m_aadhaarModel->uidData() : nullptr;
    const auto poi = uid ? uid->poi() : nullptr;
    const auto poa = uid ? uid->poa() : nullptr;
    // Filled: the record's value or null. Empty: "".
    const auto fromPoi = [&](const std::optional<QString> &(Poi::*field)() const) {
        return filled ? (poi ? orNull(std::invoke(field, *poi)) : QVariant()) : QVariant(QString());
    };
    const auto fromPoa = [&](const std::optional<QString> &(Poa::*field)() const) {
        return filled ? (poa ? orNull(std::invoke(field, *poa)) : QVariant()) : QVariant(QString());
    };
    return {
        {QStringLiteral("id"), orNull(m_userID)},
        {QStringLiteral("aadhaarXMLToken"), documentId},
        {QStringLiteral("name"), fromPoi(&Poi::name)},
        {QStringLiteral("gender"), fromPoi(&Poi::gender)},
        {QStringLiteral("dob"), fromPoi(&Poi::dob)},
        {QStringLiteral("street"), fromPoa(&Poa::street)},
        {QStringLiteral("city"), fromPoa(&Poa::vtc)},
        {QStringLiteral("state"), fromPoa(&Poa::state)},
        {QStringLiteral("district"), fromPoa(&Poa::dist)},
        {QStringLiteral("country"), fromPoa(&Poa::country)},
        {QStringLiteral("pincode"), fromPoa(&Poa::pc)},
    };
}

void OldAadhaarFlowViewModel::uploadAadhaarDocument(Success success, Failure failure)
{
    auto me = self();
    APIHandler::postRequest(
        backend::documentBody(), base() + backend::documentsPath(), std::nullopt, credential(),
        [me, success, failure](const QVariant &reply) {
            // A reply without a usable id still goes on, with the empty record.
            const QString documentId = documentIdOf(reply);
            me->postSupplierData(me->m_kycType.value_or(defaultKycType), documentId,
                                 me->makeSupplierParameters(documentId), success, failure);
        },
        failure);
}

void OldAadhaarFlowViewModel::postSupplierData(const QString &type, const QString &documentId,
                                               const QVariantMap &parameters, Success success, Failure failure)
{
    auto me = self();
    APIHandler::postRequest(
        parameters, base() + backend::supplierPath(type), std::nullopt, credential(),
        [me, documentId, success, failure](const QVariant &reply) {
            const std::optional<int> status = statusCodeOf(reply);
            if (status == 200) {
                me->uploadDocumentObject(documentId, success, failure);
                return;
            }
            if (failure)
                failure(Error::make(QString(), status.value_or(400)));
        },
        failure);
}

void OldAadhaarFlowViewModel::uploadDocumentObject(const QString &documentId, Success success, Failure failure)
{
    auto me = self();
    APIHandler::uploadRequest(
        base() + backend::documentObjectPath(documentId), credential(),
        QString::fromLatin1(backend::documentObjectFieldName), m_fileData,
        [me, success](const QVariant &) {
            if (success)
                success(me->m_aadhaarModel);
        },
        failure);
}

} // namespace orvix
