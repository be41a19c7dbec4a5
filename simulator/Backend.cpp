#include "simulator/Backend.h"

#include <QUrlQuery>
#include <QUuid>

#include <algorithm>

namespace orvix::sim {

namespace {

const QString placeholder = QStringLiteral("__id__");

// The backend's contract, as its integrators are given it: one credential
// header on every call, paths relative to the base URL, JSON bodies of strings.
const QByteArray credentialHeader = QByteArrayLiteral("X-Kalmar-Auth-Credential-ID");
const QString resourceStatePath = QStringLiteral("v1/resource/") + placeholder + QStringLiteral("/state");
const QString documentsPath = QStringLiteral("documents");
const QString documentObjectPath = QStringLiteral("documents/") + placeholder + QStringLiteral("/object");
const QString initDocFetchPath = QStringLiteral("v1/suppliers/init-doc-fetch");
const QString supplierPath = QStringLiteral("v1/suppliers/") + placeholder;
const QString webhookPath = QStringLiteral("v1/webhook/DigiLocker");
const QByteArray documentObjectPart = QByteArrayLiteral("attachment");

// A body field: any string, or only the one value given.
struct Field {
    QString key;
    std::optional<QString> value = std::nullopt;
};
const QList<Field> documentFields{{QStringLiteral("extension"), QStringLiteral("xml")},
                                  {QStringLiteral("name"), QStringLiteral("aadhaar")},
                                  {QStringLiteral("type"), QStringLiteral("aadhaar")}};
const QList<Field> supplierFields{
    {QStringLiteral("id")},    {QStringLiteral("aadhaarXMLToken")}, {QStringLiteral("name")},
    {QStringLiteral("gender")}, {QStringLiteral("dob")},            {QStringLiteral("street")},
    {QStringLiteral("city")},  {QStringLiteral("state")},           {QStringLiteral("district")},
    {QStringLiteral("country")}, {QStringLiteral("pincode")}};
const QList<Field> initDocFetchFields{{QStringLiteral("callbackUrl")},
                                      {QStringLiteral("cancelUrl")},
                                      {QStringLiteral("docType"), QStringLiteral("aadhaar")},
                                      {QStringLiteral("username")}};
const QList<Field> webhookFields{{QStringLiteral("transactionId")},
                                 {QStringLiteral("status"), QStringLiteral("3")}};

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

Reply badRequest(const QString &message)
{
    return Reply::errorCode(400, QStringLiteral("BAD_REQUEST"), message);
}

// The keys of `fields` that `body` lacks, or that hold neither the field's
// string nor, when allowed, null.
QStringList badFields(const QJsonObject &body, const QList<Field> &fields, bool nullAllowed = false)
{
    QStringList bad;
    for (const Field &field : fields) {
        const QJsonValue v = body.value(field.key);
        const bool good = v.isString() ? !field.value || v.toString() == *field.value : nullAllowed && v.isNull();
        if (!good)
            bad.append(field.key);
    }
    return bad;
}

// A JSON object body with the given fields, or the 400 that refuses it.
std::optional<Reply> refuseBody(const Request &request, const QList<Field> &fields, bool nullAllowed = false)
{
    if (!request.json.isObject())
        return badRequest(QStringLiteral("the body is not a JSON object"));
    const QStringList bad = badFields(request.jsonObject(), fields, nullAllowed);
    if (!bad.isEmpty())
        return badRequest(QStringLiteral("missing or invalid: ") + bad.join(QStringLiteral(", ")));
    return std::nullopt;
}

} // namespace

void Backend::reset()
{
    m_credentials = {defaultCredential};
    m_availability.clear();
    m_defaultAvailable = true;
    m_availabilityField = AvailabilityField::boolean;
    m_documentIdField = DocumentIdField::fresh;
    m_documentIds.clear();
    m_refusal.reset();
    m_transactionIds.clear();
    m_docFetches.clear();
}

std::optional<Backend::DocFetch> Backend::docFetch(const QString &transactionId) const
{
    const auto it = m_docFetches.constFind(transactionId);
    return it == m_docFetches.cend() ? std::nullopt : std::optional<DocFetch>(*it);
}

QList<Route> Backend::routes()
{
    // Every handler first checks the credential.
    auto guarded = [this](Reply (Backend::*handler)(const Request &)) {
        return [this, handler](const Request &request) {
            const QString credential = QString::fromUtf8(request.header(credentialHeader));
            if (!request.hasHeader(credentialHeader) || !m_credentials.contains(credential))
                return Reply::errorCode(401, QStringLiteral("UNAUTHORIZED"),
                                        QStringLiteral("missing or unknown merchant credential"));
            return (this->*handler)(request);
        };
    };
    auto route = [&](const QString &name, const QByteArray &method, const QString &backendPath,
                     Reply (Backend::*handler)(const Request &)) {
        return Route{name, method, pathPattern(path(backendPath), placeholder), guarded(handler)};
    };
    // init-doc-fetch comes before the supplier route, whose pattern also matches it.
    return {
        route(resourceStateRoute, "GET", resourceStatePath, &Backend::resourceState),
        route(documentsRoute, "POST", documentsPath, &Backend::createDocument),
        route(documentObjectRoute, "POST", documentObjectPath, &Backend::storeObject),
        route(initDocFetchRoute, "POST", initDocFetchPath, &Backend::initDocFetch),
        route(supplierRoute, "POST", supplierPath, &Backend::supplier),
        route(webhookRoute, "POST", webhookPath, &Backend::webhook),
    };
}

Reply Backend::resourceState(const Request &request)
{
    const QString id = request.captures.value(0);
    QJsonObject body{{QStringLiteral("resourceId"), id}};
    switch (m_availabilityField) {
    case AvailabilityField::boolean: body.insert(QStringLiteral("isAvailable"), isAvailable(id)); break;
    case AvailabilityField::notBoolean: body.insert(QStringLiteral("isAvailable"), QStringLiteral("yes")); break;
    case AvailabilityField::missing: break;
    }
    return Reply::json(200, body);
}

Reply Backend::createDocument(const Request &request)
{
    if (auto refusal = refuseBody(request, documentFields))
        return *refusal;
    QJsonObject body;
    if (m_documentIdField != DocumentIdField::missing) {
        const QString id = m_documentIdField == DocumentIdField::fresh ? freshId() : QString();
        m_documentIds.append(id);
        body.insert(QStringLiteral("documentId"), id);
    }
    return Reply::json(200, body);
}

Reply Backend::storeObject(const Request &request)
{
    if (!request.parts)
        return badRequest(QStringLiteral("the body is not readable multipart/form-data"));
    const bool attached = std::any_of(request.parts->cbegin(), request.parts->cend(), [](const MultipartPart &p) {
        return p.name == documentObjectPart;
    });
    if (!attached)
        return badRequest(QStringLiteral("no part named ") + QString::fromLatin1(documentObjectPart));
    return Reply::json(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("uploaded")}});
}

Reply Backend::initDocFetch(const Request &request)
{
    if (auto refusal = refuseBody(request, initDocFetchFields))
        return *refusal;
    if (m_refusal)
        return Reply::json(m_refusal->status,
                           QJsonObject{{QStringLiteral("error"),
                                        QJsonObject{{QStringLiteral("message"), m_refusal->message}}}});
    const QString tx = freshId();
    m_transactionIds.append(tx);
    const QJsonObject body = request.jsonObject();
    m_docFetches.insert(tx, DocFetch{body.value(QStringLiteral("callbackUrl")).toString(),
                                     body.value(QStringLiteral("cancelUrl")).toString(),
                                     body.value(QStringLiteral("docType")).toString(),
                                     body.value(QStringLiteral("username")).toString()});
    QUrl url = request.serverUrl.resolved(QUrl(consentPath));
    url.setQuery(QUrlQuery{{QStringLiteral("tx"), tx}});
    return Reply::json(200, QJsonObject{{QStringLiteral("transactionId"), tx},
                                        {QStringLiteral("url"), url.toString(QUrl::FullyEncoded)}});
}

Reply Backend::supplier(const Request &request)
{
    const QString kind = request.captures.value(0);
    if (kind.isEmpty())
        return Reply::errorCode(404, QStringLiteral("NOT_FOUND"), QStringLiteral("no supplier kind"));
    if (auto refusal = refuseBody(request, supplierFields, true))
        return *refusal;
    return Reply::json(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")},
                                        {QStringLiteral("kind"), kind},
                                        {QStringLiteral("id"), request.jsonObject().value(QStringLiteral("id"))}});
}

Reply Backend::webhook(const Request &request)
{
    if (auto refusal = refuseBody(request, webhookFields))
        return *refusal;
    return Reply::json(200, QJsonObject{});
}

} // namespace orvix::sim
