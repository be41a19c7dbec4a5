#pragma once
// The resident-web-page Aadhaar flow: the authority's resident page
// "offline-kyc" loads in a web view behind a native panel. The panel shows
// the page's captcha picture and takes the number, the captcha and consent;
// the screen writes them into the page and clicks its button, reads the
// page's reply, then takes the one-time password and downloads the archive
// itself with the page's form and cookies. From the archive on,
// AadhaarRecordProcessing takes over.

#include "orvix_ios_native_sdk/flows/AadhaarRecordProcessing.h"
#include "platform/net/session.h"
#include "platform/ui/textfield.h"
#include "platform/web/webview.h"

#include <QAbstractButton>
#include <QList>
#include <QNetworkCookie>

namespace orvix {

class OldAadhaarFlowVC : public AadhaarRecordProcessing,
                         public platform::web::NavigationDelegate {
public:
    OldAadhaarFlowVC();
    ~OldAadhaarFlowVC() override;

    // Makes the scene's class known to the storyboard.
    static void registerScene();

    static inline const QString supplierType = QStringLiteral("offline-aadhaar-old");
    static inline const QString interruptedMessage =
        QStringLiteral("Connection interrupted during the KYC! Please Try again!");

    // The resident page: the portal base + "offline-kyc".
    static QUrl residentPageURL();
    // The download's form body; the share code and password percent-encoded.
    static QString downloadBody(const QString &shareCode, const QString &otp);
    // The body for the log: field names, every value "<redacted>".
    static QString redactedFormBody(const QString &body);

    QPointer<platform::web::WebView> webcontentView;
    // From a passed submit until a wrong captcha or try again: a finished
    // load is then the page's reply to the details.
    bool isAdhaarDetailsFilled = false;

    void viewDidLoad() override;

    // User actions.
    void reloadCaptcha(QObject *sender);
    void submitAct(QObject *sender);
    void otpVerifyAct(QObject *sender);
    void tryAgainAct(QObject *sender);
    void backAct(QObject *sender);

    // Copies the page's captcha picture into captchaImgView.
    void captureCaptcha();
    // The page's "system-message" after the details were posted.
    void handleReplyMessage(const QString &message);
    // Copies the cookies into the shared session's store for the address and
    // starts the download.
    void fetchOfflineKycZip(const QList<QNetworkCookie> &cookies, const std::optional<QUrl> &url,
                            const QString &body);
    // The download's completion, on a worker thread; touches no view. The
    // caller keeps the screen alive until it returns.
    void handleDownloadedZip(const platform::net::DownloadResponse &response);
    // The download brought nothing: loader stopped, the interruption panel.
    void showDownloadInterrupted();

    void didStartProvisionalNavigation(platform::web::WebView *webView) override;
    void didFinish(platform::web::WebView *webView) override;
    void didFailProvisionalNavigation(platform::web::WebView *webView, const platform::web::WebError &error) override;

protected:
    QString supplierKind() const override { return supplierType; }
    void submissionFailed(const Error &error) override;

private:
    std::shared_ptr<OldAadhaarFlowVC> self();
    std::weak_ptr<OldAadhaarFlowVC> weakSelf();
    void toast(const QString &message);
    void loadPage();
    void evaluate(const QString &script);

    platform::web::Observation m_urlObservation;
    QString m_defaultErrorText; // the scene's own text of the error panel
};

} // namespace orvix
