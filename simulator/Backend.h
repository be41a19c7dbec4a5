#pragma once
// The kit's backend, under /backend/, as its contract states it. Every
// request must carry a known merchant credential in the credential header,
// else it gets 401 "UNAUTHORIZED"; a body the contract does not allow gets 400.

#include "simulator/Http.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace orvix::sim {

class Backend {
public:
    static inline const QString prefix = QStringLiteral("/backend/");
    // The decoded request path of a backend path, e.g. path("documents") == "/backend/documents".
    static QString path(const QString &relative) { return prefix + relative; }

    // Route names, for overrides and Simulator::requestsTo().
    static inline const QString resourceStateRoute = QStringLiteral("backend.resourceState");
    static inline const QString documentsRoute = QStringLiteral("backend.documents");
    static inline const QString documentObjectRoute = QStringLiteral("backend.documentObject");
    static inline const QString initDocFetchRoute = QStringLiteral("backend.initDocFetch");
    static inline const QString supplierRoute = QStringLiteral("backend.supplier");
    static inline const QString webhookRoute = QStringLiteral("backend.digiLockerWebhook");

    static inline const QString defaultCredential = QStringLiteral("merchant-demo");
    // Where init-doc-fetch sends the user, relative to the simulator's base URL.
    static inline const QString consentPath = QStringLiteral("digilocker/consent");

    Backend() { reset(); }

    // The backend's routes; they refer to this object.
    QList<Route> routes();

    void addCredential(const QString &id) { m_credentials.insert(id); }
    void removeCredential(const QString &id) { m_credentials.remove(id); }
    void clearCredentials() { m_credentials.clear(); }
    QSet<QString> credentials() const { return m_credentials; }

    // Every resource is available unless set otherwise.
    void setAvailable(const QString &resourceId, bool available) { m_availability.insert(resourceId, available); }
    void setDefaultAvailable(bool available) { m_defaultAvailable = available; }
    bool isAvailable(const QString &resourceId) const { return m_availability.value(resourceId, m_defaultAvailable); }

    // How the resource state reply carries "isAvailable".
    enum class AvailabilityField { boolean, missing, notBoolean };
    void setAvailabilityField(AvailabilityField field) { m_availabilityField = field; }
    AvailabilityField availabilityField() const { return m_availabilityField; }

    // How the documents reply carries "documentId".
    enum class DocumentIdField { fresh, empty, missing };
    void setDocumentIdField(DocumentIdField field) { m_documentIdField = field; }
    DocumentIdField documentIdField() const { return m_documentIdField; }
    QStringList issuedDocumentIds() const { return m_documentIds; }

    // init-doc-fetch answers `status` with {"error": {"message": message}} while refused.
    struct Refusal {
        int status = 400;
        QString message;
    };
    void refuseDocFetch(int status, const QString &message) { m_refusal = Refusal{status, message}; }
    void acceptDocFetch() { m_refusal.reset(); }
    std::optional<Refusal> docFetchRefusal() const { return m_refusal; }
    QStringList issuedTransactionIds() const { return m_transactionIds; }

    // What an accepted init-doc-fetch was sent, kept as received.
    struct DocFetch {
        QString callbackUrl;
        QString cancelUrl;
        QString docType;
        QString username;
    };
    std::optional<DocFetch> docFetch(const QString &transactionId) const;

    // Back to the defaults: the demo credential only, everything available.
    void reset();

private:
    Reply resourceState(const Request &request);
    Reply createDocument(const Request &request);
    Reply storeObject(const Request &request);
    Reply initDocFetch(const Request &request);
    Reply supplier(const Request &request);
    Reply webhook(const Request &request);

    QSet<QString> m_credentials;
    QHash<QString, bool> m_availability;
    bool m_defaultAvailable = true;
    AvailabilityField m_availabilityField = AvailabilityField::boolean;
    DocumentIdField m_documentIdField = DocumentIdField::fresh;
    QStringList m_documentIds;
    std::optional<Refusal> m_refusal;
    QStringList m_transactionIds;
    QHash<QString, DocFetch> m_docFetches;
};

} // namespace orvix::sim
