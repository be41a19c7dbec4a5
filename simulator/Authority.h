#pragma once
// The Aadhaar authority's web API and portal, under /uidai/ and /portal/.
//
// The exchange, as the kit runs it:
//   1. GET  uidai/access/oauth/authorize?...&code_challenge_method=S256&code_challenge=C
//      starts a session (cookie JSESSIONID, Path=/uidai) and answers the
//      sign-in page with a hidden "_csrf" field.
//   2. GET  uidai/generateCaptcha: a captcha for the session.
//   3. POST uidai/generateOTPForOAuth {"uid", "captcha", "captchaTxnId"}:
//      checks the captcha (in any letter case) and sends a one-time
//      password to the inbox (lastOtp()).
//   4. POST uidai/login (form: _csrf, captcha, otp, submit, uid): 302 back to
//      the authorize URL, which 302s to the client's redirect URI
//      portal/oauth/callback?code=...; a refusal 302s to uidai/login/failed
//      or uidai/login/invalidsession with "error" in the query.
//   5. POST uidai/access/oauth/token?client_id=myAadhaar&grant_type=
//      authorization_code&code_verifier=V&code=K: checks the code and that
//      Base64url(SHA-256(V)) is the challenge C of its authorization.
//   6. POST uidai/eAadhaarService/api/oauth/downloadOfflineEkyc with
//      "Authorization: Bearer T" and {"shareCode", "uid"}: the archive.
//
// Drops and delays go through the simulator's overrides, by route name.

#include "simulator/Http.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace orvix::sim {

class Authority : public QObject {
    Q_OBJECT
public:
    // The kit's service base is the simulator's base URL + apiPrefix (no
    // trailing '/'), its portal root the base URL + portalPrefix.
    static inline const QString apiPrefix = QStringLiteral("uidai");
    static inline const QString portalPrefix = QStringLiteral("portal/");

    // Paths relative to the simulator's base URL.
    static inline const QString authorizePath = apiPrefix + QStringLiteral("/access/oauth/authorize");
    static inline const QString captchaPath = apiPrefix + QStringLiteral("/generateCaptcha");
    static inline const QString otpPath = apiPrefix + QStringLiteral("/generateOTPForOAuth");
    static inline const QString loginPath = apiPrefix + QStringLiteral("/login");
    static inline const QString loginFailedPath = apiPrefix + QStringLiteral("/login/failed");
    static inline const QString invalidSessionPath = apiPrefix + QStringLiteral("/login/invalidsession");
    static inline const QString tokenPath = apiPrefix + QStringLiteral("/access/oauth/token");
    static inline const QString downloadPath = apiPrefix + QStringLiteral("/eAadhaarService/api/oauth/downloadOfflineEkyc");
    static inline const QString callbackPath = portalPrefix + QStringLiteral("oauth/callback");

    // Route names, for overrides and Simulator::requestsTo(). The two login
    // refusal pages share one.
    static inline const QString portalRoute = QStringLiteral("authority.portal");
    static inline const QString authorizeRoute = QStringLiteral("authority.authorize");
    static inline const QString captchaRoute = QStringLiteral("authority.captcha");
    static inline const QString otpRoute = QStringLiteral("authority.otp");
    static inline const QString loginRoute = QStringLiteral("authority.login");
    static inline const QString loginRefusedRoute = QStringLiteral("authority.loginRefused");
    static inline const QString tokenRoute = QStringLiteral("authority.token");
    static inline const QString downloadRoute = QStringLiteral("authority.download");
    static inline const QString callbackRoute = QStringLiteral("authority.callback");

    static inline const QString clientId = QStringLiteral("myAadhaar");
    static inline const QByteArray sessionCookie = QByteArrayLiteral("JSESSIONID");
    static inline const QString internalErrorText = QStringLiteral("Internal Server Error during Authentication");
    static inline const QString tokenExpiredText = QStringLiteral("Access token has expired.");

    explicit Authority(QObject *parent = nullptr);
    ~Authority() override;

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

    // A request to one of the authority's routes as it arrived: the request
    // line (method and target as the server read it), the header fields in
    // order with their names as sent, and the body.
    struct RawRequest {
        QByteArray requestLine; // e.g. "POST /uidai/access/oauth/token?client_id=myAadhaar&..."
        QString route;
        HeaderList headers;
        QByteArray body;
    };
    // Every request the routes handled since reset(), in order of arrival.
    QList<RawRequest> recordedRequests() const { return m_recorded; }

    // Switches; all off after reset().
    // Every captcha is taken as wrong.
    void setCaptchaRefused(bool on) { m_captchaRefused = on; }
    // The one-time-password request finds the session expired (and ends it).
    void setSessionInactive(bool on) { m_sessionInactive = on; }
    // Every captcha reply finds no session, as when the session cookie is lost.
    void setCaptchaNeverActive(bool on) { m_captchaNeverActive = on; }
    // The one-time-password replies leave out "sessionActive".
    void setOtpSessionActiveLeftOut(bool on) { m_otpSessionActiveLeftOut = on; }
    // The login is refused as a wrong one-time password.
    void setLoginRefused(bool on) { m_loginRefused = on; }
    // The login fails with internalErrorText.
    void setLoginInternalError(bool on) { m_loginInternalError = on; }
    void setTokenRefused(bool on) { m_tokenRefused = on; }
    // The download answers tokenExpiredText.
    void setDownloadRefused(bool on) { m_downloadRefused = on; }
    // Bytes of the archive are changed after zipping.
    void setArchiveDamaged(bool on) { m_archiveDamaged = on; }
    // How the archive is encrypted; traditional (the authority's form) after reset().
    void setArchiveForm(simulator::ArchiveForm form) { m_archiveForm = form; }
    // These bytes are served as the archive instead of a generated one
    // (lastDocument() then holds no document); empty: generated.
    void setArchiveFile(const QByteArray &archive) { m_archiveFile = archive; }
    // The archive is locked with this code instead of the one sent; empty: the one sent.
    void setArchiveShareCode(const QString &code) { m_archiveShareCode = code; }
    // "eKycXML" broken into lines of 76 characters (CRLF).
    void setBase64LineBreaks(bool on) { m_lineBreaks = on; }
    // How the served document is generated.
    void setDocumentOptions(const simulator::OfflineKycOptions &options) { m_documentOptions = options; }

    // Forgets sessions, codes, tokens, the inbox and the last document; switches off.
    void reset();

    // The Aadhaar number rule the authority applies: 12 digits, the first not
    // 0 or 1, Verhoeff check digit last.
    static bool isValidAadhaar(const QString &uid);
    // Base64url of SHA-256, without padding.
    static QString s256(const QString &verifier);

signals:
    void otpSent(const QString &uid, const QString &otp);

private:
    struct Session {
        QString csrf;
        QString authorizeQuery; // as received, for the way back after the login
        QString challenge;
        QString challengeMethod;
        QString captcha;
        QString captchaTxnId;
        QString otpUid;
        QString otp;
        bool signedIn = false;
        QString uid;
    };
    struct Grant {
        QString challenge;
        QString challengeMethod;
        QString uid;
    };

    void record(const QString &route, const Request &request);
    Reply portal(const Request &request) const;
    Reply authorize(const Request &request);
    Reply captcha(const Request &request);
    Reply requestOtp(const Request &request);
    Reply otpReply(const Request &request);
    Reply login(const Request &request);
    Reply loginRefused(const Request &request) const;
    Reply token(const Request &request);
    Reply download(const Request &request);
    Reply callback(const Request &request) const;

    QString sessionIdOf(const Request &request) const; // empty when no known session
    Session *sessionOf(const Request &request);
    QString newSession(Session session);
    void endSession(const Request &request);

    // Oldest entries go first once a table is full, so no client can grow them without end.
    template <typename T>
    static void keep(QHash<QString, T> &table, QStringList &order, const QString &key, T value);

    QHash<QString, Session> m_sessions;
    QStringList m_sessionOrder;
    QHash<QString, Grant> m_codes;
    QStringList m_codeOrder;
    QHash<QString, QString> m_tokens; // token -> uid
    QStringList m_tokenOrder;

    QList<RawRequest> m_recorded;
    QString m_lastOtp;
    QString m_currentCaptcha;
    std::optional<ServedDocument> m_lastDocument;

    bool m_captchaRefused = false;
    bool m_sessionInactive = false;
    bool m_otpSessionActiveLeftOut = false;
    bool m_captchaNeverActive = false;
    bool m_loginRefused = false;
    bool m_loginInternalError = false;
    bool m_tokenRefused = false;
    bool m_downloadRefused = false;
    bool m_archiveDamaged = false;
    simulator::ArchiveForm m_archiveForm = simulator::ArchiveForm::traditional;
    QByteArray m_archiveFile;
    QString m_archiveShareCode;
    bool m_lineBreaks = false;
    simulator::OfflineKycOptions m_documentOptions;
};

} // namespace orvix::sim
