#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"

#include "orvix_ios_native_sdk/core/BackendAPI.h"
#include "orvix_ios_native_sdk/core/ScreenSize.h"
#include "platform/log/log.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/view.h"

#include <QEvent>

namespace orvix {

using platform::log::line;
namespace web = platform::web;

namespace {

// A redirect URL as the web view reports URLs: absolute and fully encoded.
QString comparable(const std::optional<QString> &text)
{
    if (!text)
        return QString();
    const QUrl url(*text);
    return url.isValid() ? url.toString(QUrl::FullyEncoded) : *text;
}

QString optionalDescription(const std::optional<QString> &text)
{
    return text ? QStringLiteral("Optional(\"%1\")").arg(platform::log::redactedURL(*text)) : QStringLiteral("nil");
}

} // namespace

void DigiLockerViewController::registerScene()
{
    platform::ui::Storyboard::registerClass<DigiLockerViewController>(QStringLiteral("DigiLockerViewController"))
        .outlet(QStringLiteral("spinnerIc"), &DigiLockerViewController::spinnerIc);
}

DigiLockerViewController::DigiLockerViewController() = default;

DigiLockerViewController::~DigiLockerViewController()
{
    m_urlObservation.invalidate();
    // Not yet added to the view: it is ours to delete.
    if (webcontentView && !webcontentView->parentWidget())
        delete webcontentView.data();
}

std::shared_ptr<DigiLockerViewController> DigiLockerViewController::self()
{
    return std::dynamic_pointer_cast<DigiLockerViewController>(shared_from_this());
}

void DigiLockerViewController::viewDidLoad()
{
    BaseViewController::viewDidLoad();
    if (spinnerIc)
        spinnerIc->startAnimating();

    webcontentView = new web::WebView;
    webcontentView->resize(int(screenWidth()), int(screenHeight()));
    webcontentView->setNavigationDelegate(
        std::weak_ptr<web::NavigationDelegate>(std::static_pointer_cast<web::NavigationDelegate>(self())));

    digiLockerVM = std::make_shared<DigiLockerViewModel>();
    auto me = self();
    digiLockerVM->initDocFetch(
        merchantId.value_or(QString()), urlComponent.value_or(QString()), clientInfo,
        [me](const QVariant &reply) { me->handleInitDocFetchResponse(reply); },
        [me](const Error &error) { me->handleRequestFailure(error); });
}

void DigiLockerViewController::handleInitDocFetchResponse(const QVariant &reply)
{
    const QVariantMap map = reply.toMap();
    const QVariant status = map.value(QStringLiteral("statusCode"));
    if (reply.typeId() != QMetaType::QVariantMap || status.typeId() != QMetaType::Int || status.toInt() != 200) {
        refuse(reply);
        return;
    }
    const QVariant tx = map.value(QStringLiteral("transactionId"));
    transactionID = tx.typeId() == QMetaType::QString ? std::optional(tx.toString()) : std::nullopt;

    const QVariant urlValue = map.value(QStringLiteral("url"));
    const QUrl url(urlValue.toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (urlValue.typeId() != QMetaType::QString || !url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        refuse(reply);
        return;
    }
    if (!webcontentView)
        return;
    webcontentView->load(web::URLRequest{url, web::CachePolicy::useProtocolCachePolicy, 60});
    webcontentView->setAllowsBackForwardNavigationGestures(true);
    std::weak_ptr<DigiLockerViewController> weak = self();
    m_urlObservation = webcontentView->observeURL([weak](const std::optional<QUrl> &newValue) {
        if (auto me = weak.lock())
            me->handleWebViewURLChange(newValue);
    });
    webcontentView->setParent(view());
    platform::ui::coverParent(webcontentView);
    webcontentView->raise();
    webcontentView->show();
}

void DigiLockerViewController::refuse(const QVariant &reply)
{
    const QVariant error = reply.toMap().value(QStringLiteral("error"));
    const QVariant message = error.typeId() == QMetaType::QVariantMap
        ? error.toMap().value(QStringLiteral("message"))
        : QVariant();
    const QString text = message.typeId() == QMetaType::QString ? message.toString() : QString();
    m_ended = true;
    m_reported = true;
    reportToHost({{QStringLiteral("status"), false},
                  {QStringLiteral("error"), QVariantMap{{QStringLiteral("message"), text}}}});
    dismiss(true);
    line(QStringLiteral("ERROR: SOMETHING WENT WRONG"));
}

void DigiLockerViewController::handleWebViewURLChange(const std::optional<QUrl> &newValue)
{
    if (!newValue || m_ended)
        return;
    const QString text = newValue->toString(QUrl::FullyEncoded);
    const std::optional<QString> success = clientInfo ? clientInfo->successRedirectURL : std::nullopt;
    const std::optional<QString> failure = clientInfo ? clientInfo->failureRedirectURL : std::nullopt;
    line(platform::log::redactedURL(text) + QStringLiteral(" == ") + optionalDescription(success));

    if (failure && comparable(failure) == text) {
        // Only the first redirect acts: no second webhook, no late success.
        m_ended = true;
        m_urlObservation.invalidate();
        if (digiLockerVM) {
            auto me = self();
            digiLockerVM->postWebhook(
                merchantId.value_or(QString()), backend::digiLockerWebhookPath(), urlComponent.value_or(QString()),
                transactionID.value_or(QString()), [me](const QVariant &reply) { me->handleWebhookResponse(reply); },
                [me](const Error &error) { me->handleRequestFailure(error); });
        }
        return;
    }
    if (success && comparable(success) == text) {
        m_ended = true;
        m_urlObservation.invalidate();
        // The close and this change both come through the event queue: a
        // close handled first has reported, and this one stays silent.
        if (m_closedByUser)
            return;
        line(QStringLiteral("----Next Move---"));
        finish({{QStringLiteral("status"), true}});
    }
}

void DigiLockerViewController::handleWebhookResponse(const QVariant &)
{
    finish({{QStringLiteral("status"), false}});
}

void DigiLockerViewController::handleRequestFailure(const Error &error)
{
    m_ended = true;
    m_urlObservation.invalidate();
    const QString message = error.isSessionTaskFailed()
        ? QStringLiteral("You are offline! please check your internet connection.")
        : error.localizedDescription();
    finish({{QStringLiteral("status"), false},
            {QStringLiteral("error"), QVariantMap{{QStringLiteral("message"), message}}}});
}

void DigiLockerViewController::finish(const QVariantMap &result)
{
    m_reported = true;
    reportToHost(result);
    dismiss(true);
}

bool DigiLockerViewController::sheetClosedByUser()
{
    m_closedByUser = true;
    return !m_reported;
}

void DigiLockerViewController::didStartProvisionalNavigation(web::WebView *)
{
    line(QStringLiteral("Started to load"));
}

void DigiLockerViewController::didFinish(web::WebView *)
{
    line(QStringLiteral("Finished loading"));
    if (spinnerIc)
        spinnerIc->stopAnimating();
}

void DigiLockerViewController::didFailProvisionalNavigation(web::WebView *, const web::WebError &error)
{
    line(error.localizedDescription());
}

void DigiLockerViewModel::initDocFetch(const QString &credentialId, const QString &baseURL,
                                       const std::optional<orvix::clientInfo> &info, APIHandler::OnSuccess success,
                                       APIHandler::OnFailure failure)
{
    const orvix::clientInfo values = info.value_or(orvix::clientInfo{});
    APIHandler::postRequest(backend::initDocFetchBody(values.successRedirectURL.value_or(QString()),
                                                      values.failureRedirectURL.value_or(QString()),
                                                      values.userId.value_or(QString())),
                            baseURL + backend::initDocFetchPath(), std::nullopt, credentialId, std::move(success),
                            std::move(failure));
}

void DigiLockerViewModel::postWebhook(const QString &credentialId, const QString &path, const QString &baseURL,
                                      const QString &transactionId, APIHandler::OnSuccess success,
                                      APIHandler::OnFailure failure)
{
    APIHandler::postRequest(backend::digiLockerWebhookBody(transactionId), baseURL + path, std::nullopt, credentialId,
                            std::move(success), std::move(failure));
}

} // namespace orvix
