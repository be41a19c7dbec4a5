#pragma once
// The web-API Aadhaar flow: an OAuth authorization with PKCE at the
// authority, its captcha, the Aadhaar number and consent, a one-time
// password, the token and the offline e-KYC download, all with native
// controls over a web view of the authority's portal. From the archive on,
// AadhaarRecordProcessing takes over.

#include "orvix_ios_native_sdk/flows/AadhaarRecordProcessing.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowViewModel.h"
#include "platform/reachability/reachability.h"
#include "platform/ui/textfield.h"
#include "platform/web/webview.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QStringList>

namespace orvix {

class NewAadhaarFlowVC : public AadhaarRecordProcessing,
                         public platform::web::NavigationDelegate {
public:
    NewAadhaarFlowVC();
    ~NewAadhaarFlowVC() override;

    // Makes the scene's class known to the storyboard.
    static void registerScene();

    static inline const QString supplierType = QStringLiteral("offline-aadhaar");

    QPointer<platform::web::WebView> webcontentView;
    std::unique_ptr<platform::reachability::Reachability> reachability;
    std::optional<QString> csrf_token;
    // The PKCE verifier of the current authorization; new with each one.
    QString codeVerifier;
    std::optional<QString> captchaId;
    bool internetAvailable = true;
    std::shared_ptr<NewAadhaarFlowViewModel> newAadhaarVM;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // How the screen was last brought on (the argument of viewWillAppear).
    std::optional<bool> appearedAnimated() const { return m_appearedAnimated; }

    // User actions.
    void reloadCaptcha(QObject *sender);
    void backAct(QObject *sender);
    void tryAgainAct(QObject *sender);
    void submitAct(QObject *sender);
    void otpVerifyAct(QObject *sender);

    // The flow's steps.
    void startAuthorization();
    void handleAuthorizeResponse(const QVariant &reply);
    void handleAuthorizeFailure(const Error &error);
    void handleCaptchaResponse(const QVariant &reply);
    void handleCaptchaFailure(const Error &error);
    void handleOtpResponse(const QVariant &reply);
    void handleOtpFailure(const Error &error);
    void handleLoginResponse(const QVariant &reply, const QString &aadhaarNumber);
    void handleTokenResponse(const QVariant &reply, const QString &aadhaarNumber);
    void handleTokenRefusal();
    void handleDownloadResponse(const QVariant &reply);
    // The failure closure of the login, token, download and submission.
    void handleNetworkError(const Error &error);
    void showError(const QString &message);
    void reachabilityChanged(platform::reachability::Reachability *monitor);

    // The values of the page's "_csrf" fields, in order.
    static QStringList extractCsrfTokens(const QString &page);
    void didStartProvisionalNavigation(platform::web::WebView *webView) override;
    void didFinish(platform::web::WebView *webView) override;
    void didFailProvisionalNavigation(platform::web::WebView *webView, const platform::web::WebError &error) override;

protected:
    QString supplierKind() const override { return supplierType; }
    void submissionFailed(const Error &error) override { handleNetworkError(error); }
    bool logsArchiveSteps() const override { return true; }

private:
    std::shared_ptr<NewAadhaarFlowVC> self();
    void requestCaptcha();
    void toast(const QString &message);
    // A reply found the session inactive: starts the authorization over, once
    // per action of the person (reload, Send OTP, try again). Otherwise shows
    // the captcha panel and sends nothing. Returns whether it started over.
    bool startOverOnce();

    platform::web::Observation m_urlObservation;
    QMetaObject::Connection m_reachabilityConnection;
    std::optional<bool> m_appearedAnimated;
    bool m_ended = false; // back or Proceed: no new authorization starts by itself
    bool m_mayStartOver = true; // spent by a start-over, given back by the person's next action
};

} // namespace orvix
