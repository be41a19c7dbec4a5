#pragma once
// The DigiLocker flow: the backend starts a document fetch, the returned
// page is shown in a web view, and reaching the host's success or failure
// redirect URL ends the flow.

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BaseViewController.h"
#include "orvix_ios_native_sdk/core/FlowScreen.h"
#include "platform/ui/activityindicator.h"
#include "platform/web/webview.h"

#include <QPointer>
#include <memory>
#include <optional>

namespace orvix {

class DigiLockerViewModel;

class DigiLockerViewController : public BaseViewController,
                                 public FlowScreen,
                                 public platform::web::NavigationDelegate {
public:
    DigiLockerViewController();
    ~DigiLockerViewController() override;

    // Makes the scene's class known to the storyboard.
    static void registerScene();

    std::optional<QString> merchantId;
    std::optional<QString> transactionID;
    std::shared_ptr<DigiLockerViewModel> digiLockerVM;
    QPointer<platform::web::WebView> webcontentView;
    QPointer<platform::ui::ActivityIndicatorView> spinnerIc; // outlet

    void viewDidLoad() override;

    void handleInitDocFetchResponse(const QVariant &reply);
    void handleWebViewURLChange(const std::optional<QUrl> &newValue);
    void handleWebhookResponse(const QVariant &reply);
    // A call that failed in transport or gave an unusable reply.
    void handleRequestFailure(const Error &error);

    void didStartProvisionalNavigation(platform::web::WebView *webView) override;
    void didFinish(platform::web::WebView *webView) override;
    void didFailProvisionalNavigation(platform::web::WebView *webView,
                                      const platform::web::WebError &error) override;

    // The person closed the sheet; the entry point asks once it is off
    // screen. True when the close is the run's report: the screen has not
    // reported yet. A success URL reached after the close reports nothing.
    bool sheetClosedByUser();

private:
    void refuse(const QVariant &reply);
    void finish(const QVariantMap &result);
    std::shared_ptr<DigiLockerViewController> self();

    platform::web::Observation m_urlObservation;
    bool m_ended = false; // a redirect URL was reached or the flow was refused
    bool m_reported = false;
    bool m_closedByUser = false;
};

// Sends the flow's two backend calls. Never shown.
class DigiLockerViewModel : public DigiLockerViewController {
public:
    DigiLockerViewModel() = default;

    void initDocFetch(const QString &credentialId, const QString &baseURL,
                      const std::optional<orvix::clientInfo> &clientInfo, APIHandler::OnSuccess success,
                      APIHandler::OnFailure failure);
    void postWebhook(const QString &credentialId, const QString &path, const QString &baseURL,
                     const QString &transactionId, APIHandler::OnSuccess success, APIHandler::OnFailure failure);
};

} // namespace orvix
