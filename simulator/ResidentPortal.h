#pragma once
// The authority's resident page for the offline e-KYC, under /resident/.
//
// The kit loads resident/offline-kyc in its web view and, as a person would:
//   1. GET  resident/offline-kyc: the page, a session cookie (RESIDENTSESSID,
//      Path=/resident, HttpOnly) and a captcha picture drawn for this load
//      (resident/captcha?id=..., same origin). Every page drawn, form replies
//      included, gets a fresh captcha.
//   2. The page's button "smt_btn" posts its form (task=genOtp, uid1,
//      security_code) to resident/offline-kyc; the reply is the page again
//      with "Please Enter Valid Captcha" or "OTP sent ..." in the element
//      "system-message". A captcha answers one post, right or wrong. On
//      "OTP sent" the one-time password goes to the inbox (lastOtp()).
//   3. POST resident/offline-kyc with task=valOtp, zipcode (share code) and
//      totp (the password), urlencoded, with the session cookie: the ZIP
//      archive (application/zip), locked with the share code; the password
//      is spent. Anything wrong gives the page again (HTML) with the reason
//      in "system-message".
//
// Element identifiers: "aadhaar-number" (the block around the details form),
// inputs "uid1" and "security_code", image "captcha-img", submit button
// "smt_btn", message "system-message", and in the password step the inputs
// "spaced-inputenter-otp" (share code, field "zipcode") and "totp".
//
// Drops and delays go through the simulator's overrides, by route name:
// pageRoute for the page load, postRoute for both posts (form and download),
// captchaRoute for the picture. setDownloadDropped() drops the download only.

#include "simulator/Http.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace orvix::sim {

class ResidentPortal : public QObject {
    Q_OBJECT
public:
    // The kit's resident portal base is the simulator's base URL + prefix.
    static inline const QString prefix = QStringLiteral("resident/");
    // Paths relative to the simulator's base URL.
    static inline const QString pagePath = prefix + QStringLiteral("offline-kyc");
    static inline const QString captchaPath = prefix + QStringLiteral("captcha");

    // Route names, for overrides and Simulator::requestsTo().
    static inline const QString pageRoute = QStringLiteral("resident.page");
    static inline const QString postRoute = QStringLiteral("resident.post");
    static inline const QString captchaRoute = QStringLiteral("resident.captcha");

    static inline const QByteArray sessionCookie = QByteArrayLiteral("RESIDENTSESSID");

    // The texts the kit looks for in "system-message".
    static inline const QString wrongCaptchaText = QStringLiteral("Please Enter Valid Captcha");
    static inline const QString otpSentText = QStringLiteral("OTP sent to the mobile number registered with Aadhaar.");
    // What the form reply says while setMessageWithheld() is on.
    static inline const QString busyText = QStringLiteral("We could not process your request. Please try again later.");
    static inline const QString invalidUidText = QStringLiteral("Please Enter Valid Aadhaar Number");
    // Download refusals.
    static inline const QString sessionExpiredText = QStringLiteral("Your session has expired. Please start again.");
    static inline const QString invalidOtpText = QStringLiteral("Invalid OTP. Please enter the correct OTP.");
    static inline const QString invalidShareCodeText = QStringLiteral("Share code must be 4 digits.");
    static inline const QString downloadUnavailableText =
        QStringLiteral("Offline e-KYC download is not available right now. Please try again later.");

    explicit ResidentPortal(QObject *parent = nullptr);
    ~ResidentPortal() override;

    // The group's routes; they refer to this object.
    QList<Route> routes();

    // The inbox: the last one-time password sent and the last captcha drawn.
    QString lastOtp() const { return m_lastOtp; }
    QString currentCaptcha() const { return m_currentCaptcha; }

    // What the last successful download served.
    struct ServedDocument {
        simulator::OfflineKycDocument document;
        QByteArray xml;       // the archive's entry, byte for byte
        QString xmlFileName;  // e.g. "offlineaadhaar20230407101500123.xml"
        QString shareCode;    // the password the archive was made with
        QByteArray archive;   // the ZIP bytes as sent (after any damage)
    };
    std::optional<ServedDocument> lastDocument() const { return m_lastDocument; }

    // The last download post, served or not.
    struct DownloadRequest {
        QList<QPair<QByteArray, QByteArray>> rawFields; // in order, as received (still encoded)
        QList<QPair<QString, QString>> fields;          // the same, decoded ('+' is a blank)
        QByteArray cookie;                              // the Cookie header(s), joined by "; "
        bool served = false;                            // answered with the archive
    };
    std::optional<DownloadRequest> lastDownload() const { return m_lastDownload; }

    // Switches; all off after reset().
    // Every captcha is taken as wrong.
    void setCaptchaRefused(bool on) { m_captchaRefused = on; }
    // The form reply says busyText (neither message) and sends nothing.
    void setMessageWithheld(bool on) { m_messageWithheld = on; }
    // The download answers downloadUnavailableText (HTML) whatever it carries.
    void setDownloadRefused(bool on) { m_downloadRefused = on; }
    // Bytes of the archive are changed after zipping.
    void setArchiveDamaged(bool on) { m_archiveDamaged = on; }
    // How the archive is encrypted; traditional (the authority's form) after reset().
    void setArchiveForm(simulator::ArchiveForm form) { m_archiveForm = form; }
    // These bytes are served as the archive instead of a generated one
    // (lastDocument() then holds no document); empty: generated.
    void setArchiveFile(const QByteArray &archive) { m_archiveFile = archive; }
    // A hostile page: its canvases hand out these bytes (as a JPEG data URL)
    // to whoever reads them, whatever was drawn; empty: the page is honest.
    void setCanvasPicture(const QByteArray &picture) { m_canvasPicture = picture; }
    // The download's connection is closed without a reply (the form post still answers).
    void setDownloadDropped(bool on) { m_downloadDropped = on; }
    // How the served document is generated.
    void setDocumentOptions(const simulator::OfflineKycOptions &options) { m_documentOptions = options; }

    // Ends every session now, as the server would after a time-out.
    void expireSessions();

    // Forgets sessions, captchas, the inbox and the records; switches off.
    void reset();

    // The fields of an urlencoded body, in order, not decoded.
    static QList<QPair<QByteArray, QByteArray>> rawFormFields(const QByteArray &body);

signals:
    void otpSent(const QString &uid, const QString &otp);

private:
    struct Session {
        QString captchaId; // the captcha of the page last drawn for it
        QString otpUid;
        QString otp;
    };
    enum class Step { details, password };

    Reply page(const Request &request);
    Reply post(const Request &request);
    Reply captcha(const Request &request) const;
    Reply submitDetails(const Request &request, const QList<QPair<QString, QString>> &fields);
    Reply download(const Request &request, const QList<QPair<QByteArray, QByteArray>> &rawFields,
                   const QList<QPair<QString, QString>> &fields);

    // The page for the request's session (a new one when it has none), with a fresh captcha.
    Reply render(const Request &request, Step step, const QString &message, const QString &uid = {});

    QString sessionIdOf(const Request &request) const; // empty when no live session
    Session *sessionOf(const Request &request);

    QHash<QString, Session> m_sessions;
    QStringList m_sessionOrder;
    QHash<QString, QString> m_captchas; // id -> code
    QStringList m_captchaOrder;

    QString m_lastOtp;
    QString m_currentCaptcha;
    std::optional<ServedDocument> m_lastDocument;
    std::optional<DownloadRequest> m_lastDownload;

    bool m_captchaRefused = false;
    bool m_messageWithheld = false;
    bool m_downloadRefused = false;
    bool m_archiveDamaged = false;
    simulator::ArchiveForm m_archiveForm = simulator::ArchiveForm::traditional;
    QByteArray m_archiveFile;
    QByteArray m_canvasPicture;
    bool m_downloadDropped = false;
    simulator::OfflineKycOptions m_documentOptions;
};

} // namespace orvix::sim
