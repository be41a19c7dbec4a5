#pragma once
// The authority's web API as the web-API Aadhaar flow uses it: six requests,
// each sent once through APIHandler with the caller's closures passed on
// unchanged. No state; the PKCE verifier belongs to the screen.

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BaseViewModel.h"

#include <QMap>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace orvix {

class NewAadhaarFlowViewModel : public BaseViewModel {
public:
    NewAadhaarFlowViewModel() = default;

    // Text keys to optional texts; an absent value goes out as JSON null.
    using OptionalParameters = QMap<QString, std::optional<QString>>;

    static inline const QString clientId = QStringLiteral("myAadhaar");
    static inline const QString scope = QStringLiteral("READ");
    static inline const QString responseType = QStringLiteral("code");
    static inline const QString grantType = QStringLiteral("authorization_code");
    static inline const QString codeChallengeMethod = QStringLiteral("S256");
    static inline const QString userAgent = QStringLiteral(
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/96.0.4664.110 Safari/537.36");

    // A fresh PKCE verifier: 64 unreserved characters from the system's
    // cryptographic source.
    static QString makeCodeVerifier();
    // Base64url of the verifier's SHA-256, without padding.
    static QString codeChallenge(const QString &verifier);
    // The authorize query for a challenge (which holds nothing to encode).
    static QString authorizeQuery(const QString &challenge);

    // GET <service>/access/oauth/authorize?<query>; onSuccess gets the page as text.
    void authorize(const QString &query, APIHandler::OnSuccess onSuccess, APIHandler::OnFailure onFailure) const;
    // GET <service>/generateCaptcha<suffix>.
    void generateCaptcha(const QString &suffix, APIHandler::OnSuccess onSuccess,
                         APIHandler::OnFailure onFailure) const;
    // POST <service>/generateOTPForOAuth, JSON body.
    void generateOTP(const OptionalParameters &parameters, APIHandler::OnSuccess onSuccess,
                     APIHandler::OnFailure onFailure) const;
    // POST <service>/login, form body; onSuccess gets "resQuery" and "resString".
    void login(const QMap<QString, QString> &parameters, APIHandler::OnSuccess onSuccess,
               APIHandler::OnFailure onFailure) const;
    // POST <service>/access/oauth/token with the code and verifier in the query.
    void getToken(const QString &code, const QString &codeVerifier, APIHandler::OnSuccess onSuccess,
                  APIHandler::OnFailure onFailure) const;
    // POST <service>/eAadhaarService/api/oauth/downloadOfflineEkyc, JSON body.
    void downloadOfflineEkyc(const OptionalParameters &parameters, const QString &token,
                             APIHandler::OnSuccess onSuccess, APIHandler::OnFailure onFailure) const;

    // The download's eleven headers, in order.
    HTTPHeaders makeHeaders(const QString &token) const;

    // The token URL for a code and verifier, both percent-encoded.
    static QString tokenURL(const QString &code, const QString &codeVerifier);
    static QVariantMap toVariantMap(const OptionalParameters &parameters);
};

} // namespace orvix
