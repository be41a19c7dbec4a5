#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/ScreenSize.h"
#include "orvix_ios_native_sdk/document/AadhaarHelper.h"
#include "orvix_ios_native_sdk/flows/JavaScriptLiteral.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"
#include "platform/dispatch/dispatch.h"
#include "platform/log/log.h"
#include "platform/net/encoding.h"
#include "platform/ui/keyboardmanager.h"
#include "platform/ui/view.h"
#include "platform/zip/ziparchive.h"

#include <QFile>
#include <QVBoxLayout>
#include <utility>

namespace orvix {

using platform::log::line;
namespace dispatch = platform::dispatch;
namespace net = platform::net;
namespace ui = platform::ui;
namespace web = platform::web;

namespace {

const QString captchaScript = QStringLiteral(
    "var c = document.createElement('canvas'); var ctx = c.getContext('2d'); c.height = 50, c.width = 175; "
    "ctx.drawImage(document.getElementById('captcha-img'), 0, 0); var value = c.toDataURL(); value.split(',')[1];");

void setShown(QWidget *view, bool shown)
{
    if (view)
        view->setVisible(shown);
}

} // namespace

void OldAadhaarFlowVC::registerScene()
{
    auto registration = ui::Storyboard::registerClass<OldAadhaarFlowVC>(QStringLiteral("OldAadhaarFlowVC"));
    registerRecordOutlets(registration);
    registration.action(QStringLiteral("reloadCaptcha:"), &OldAadhaarFlowVC::reloadCaptcha)
        .action(QStringLiteral("submitAct:"), &OldAadhaarFlowVC::submitAct)
        .action(QStringLiteral("otpVerifyAct:"), &OldAadhaarFlowVC::otpVerifyAct)
        .action(QStringLiteral("tryAgainAct:"), &OldAadhaarFlowVC::tryAgainAct)
        .action(QStringLiteral("backAct:"), &OldAadhaarFlowVC::backAct);
}

OldAadhaarFlowVC::OldAadhaarFlowVC() = default;

OldAadhaarFlowVC::~OldAadhaarFlowVC()
{
    m_urlObservation.invalidate();
    // Not yet added to the view: it is ours to delete.
    if (webcontentView && !webcontentView->parentWidget())
        delete webcontentView.data();
}

std::shared_ptr<OldAadhaarFlowVC> OldAadhaarFlowVC::self()
{
    return std::dynamic_pointer_cast<OldAadhaarFlowVC>(shared_from_this());
}

std::weak_ptr<OldAadhaarFlowVC> OldAadhaarFlowVC::weakSelf()
{
    return self();
}

void OldAadhaarFlowVC::toast(const QString &message)
{
    showToast(message, QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3));
}

QUrl OldAadhaarFlowVC::residentPageURL()
{
    return QUrl(residentPortalURL() + QStringLiteral("offline-kyc"));
}

QString OldAadhaarFlowVC::downloadBody(const QString &shareCode, const QString &otp)
{
    return QStringLiteral("task=valOtp&boxchecked=0&zipcode=")
        + QString::fromLatin1(net::percentEscapeQueryComponent(shareCode)) + QStringLiteral("&totp=")
        + QString::fromLatin1(net::percentEscapeQueryComponent(otp)) + QStringLiteral("&task=valOtp&boxchecked=0");
}

QString OldAadhaarFlowVC::redactedFormBody(const QString &body)
{
    QStringList fields;
    for (const QString &field : body.split(u'&')) {
        const qsizetype eq = field.indexOf(u'=');
        fields.append(eq < 0 ? field : field.left(eq) + QStringLiteral("=<redacted>"));
    }
    return fields.join(u'&');
}

void OldAadhaarFlowVC::loadPage()
{
    if (webcontentView)
        webcontentView->load(web::URLRequest{residentPageURL(), web::CachePolicy::useProtocolCachePolicy, 60});
}

void OldAadhaarFlowVC::evaluate(const QString &script)
{
    if (webcontentView)
        webcontentView->evaluateJavaScript(script);
}

void OldAadhaarFlowVC::viewDidLoad()
{
    AadhaarRecordProcessing::viewDidLoad();
    if (spinnerIc)
        spinnerIc->startAnimating();
    webcontentView = new web::WebView;
    webcontentView->resize(int(screenWidth()), int(screenHeight()));
    webcontentView->setNavigationDelegate(std::weak_ptr<web::NavigationDelegate>(self()));
    loadPage();
    webcontentView->setAllowsBackForwardNavigationGestures(true);
    m_urlObservation = webcontentView->observeURL([](const std::optional<QUrl> &url) {
        if (url)
            line(platform::log::redactedURL(*url));
    });
    // The native panel hides the page behind it.
    if (QWidget *panel = popUpMainView ? popUpMainView->parentWidget() : nullptr; panel && panel != view())
        panel->setAttribute(Qt::WA_StyledBackground, true);
    if (webMainView) {
        // The page fills its container, behind the panel.
        auto *layout = qobject_cast<QBoxLayout *>(webMainView->layout());
        if (!layout) {
            delete webMainView->layout();
            layout = new QVBoxLayout(webMainView);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        layout->addWidget(webcontentView);
    }
    if (aadhaarNoTF) {
        std::weak_ptr<OldAadhaarFlowVC> weak = self();
        QObject::connect(aadhaarNoTF, &ui::TextField::editingChanged, aadhaarNoTF, [weak, field = aadhaarNoTF] {
            if (auto me = weak.lock())
                me->didChangeText(field);
        });
    }
    if (errorTextLbl)
        m_defaultErrorText = errorTextLbl->text();
    ui::KeyboardManager::shared().setEnable(true);
}

// ---- user actions ----


void OldAadhaarFlowVC::reloadCaptcha(QObject *)
{
    // A fresh page (not a reload, which could post the details again).
    loadPage();
}

void OldAadhaarFlowVC::submitAct(QObject *)
{
    const QString number = withoutBlanks(aadhaarNoTF ? aadhaarNoTF->text() : QString());
    const QString captcha = withoutBlanks(captchaTF ? captchaTF->text() : QString());
    const bool checkDigit = AadhaarHelper().validateVerhoeff(number);
    line(checkDigit ? QStringLiteral("true") : QStringLiteral("false"));
    if (!isTwelveDigits(number) || !checkDigit) {
        toast(QStringLiteral("Aadhaar number is invalid"));
        return;
    }
    if (characterCount(captcha) != 5) {
        toast(QStringLiteral("Please enter valid captcha"));
        return;
    }
    if (!isAgree) {
        toast(QStringLiteral("Please agree the terms&condition"));
        return;
    }
    ui::endEditing(view(), true);
    if (popupLoader)
        popupLoader->startAnimating();
    setShown(aadhaarCaptchaView, false);
    evaluate(QStringLiteral("document.getElementById('uid1').value = ") + javaScriptStringLiteral(number));
    evaluate(QStringLiteral("document.getElementById('security_code').value = ") + javaScriptStringLiteral(captcha));
    evaluate(QStringLiteral("document.getElementById('smt_btn').click()"));
    isAdhaarDetailsFilled = true;
}



void OldAadhaarFlowVC::otpVerifyAct(QObject *)
{
    const QString otp = withoutBlanks(otpTF ? otpTF->text() : QString());
    const QString code = shareCode();
    if (otp.isEmpty()) {
        toast(QStringLiteral("Please enter the correct OTP"));
        return;
    }
    ui::endEditing(view(), true);
    setShown(otpView, false);
    if (popupLoader)
        popupLoader->startAnimating();
    evaluate(QStringLiteral("document.getElementById('spaced-inputenter-otp').value = ") + javaScriptStringLiteral(code));
    evaluate(QStringLiteral("document.getElementById('totp').value = ") + javaScriptStringLiteral(otp));

    const QUrl address = residentPageURL();
    const std::optional<QUrl> url = address.isValid() ? std::optional(address) : std::nullopt;
    const QString body = downloadBody(code, otp);
    auto me = self();
    web::WebView::cookieStore().allCookies([me, url, body](const QList<QNetworkCookie> &cookies) {
        me->fetchOfflineKycZip(cookies, url, body);
    });
}

void OldAadhaarFlowVC::tryAgainAct(QObject *)
{
    loadPage();
    setShown(aadhaarCaptchaView, true);
    if (aadhaarNoTF)
        aadhaarNoTF->clear();
    if (captchaTF)
        captchaTF->clear();
    if (otpTF)
        otpTF->clear();
    ui::endEditing(view(), true);
    setShown(otpView, false);
    setShown(userInfoView, false);
    setShown(ErrorView, false);
    if (errorTextLbl)
        errorTextLbl->setText(m_defaultErrorText);
    // The old picture belongs to a page that is gone.
    showCaptcha(QString());
    isAdhaarDetailsFilled = false;
}

void OldAadhaarFlowVC::backAct(QObject *)
{
    dismiss(true);
    reportToHost({{QStringLiteral("status"), false}});
}

// ---- the page ----

void OldAadhaarFlowVC::captureCaptcha()
{
    if (!webcontentView)
        return;
    const std::weak_ptr<OldAadhaarFlowVC> weak = weakSelf();
    webcontentView->evaluateJavaScript(
        QStringLiteral("document.getElementById('aadhaar-number').scrollIntoView(true);"),
        [weak](const QVariant &, const std::optional<web::WebError> &) {
            auto me = weak.lock();
            if (!me || !me->webcontentView)
                return;
            me->webcontentView->evaluateJavaScript(
                captchaScript, [weak](const QVariant &result, const std::optional<web::WebError> &error) {
                    auto me = weak.lock();
                    if (!me)
                        return;
                    if (error) {
                        line(error->localizedDescription());
                        return;
                    }
                    if (result.typeId() != QMetaType::QString)
                        return;
                    me->showCaptcha(result.toString());
                });
        });
}

void OldAadhaarFlowVC::handleReplyMessage(const QString &message)
{
    line(message);
    if (message.contains(QLatin1String("Please Enter Valid Captcha"))) {
        toast(QStringLiteral("Please enter valid captcha"));
        if (captchaTF)
            captchaTF->clear();
        setShown(aadhaarCaptchaView, true);
        isAdhaarDetailsFilled = false;
        captureCaptcha();
    } else if (message.contains(QLatin1String("OTP sent"))) {
        setShown(aadhaarCaptchaView, false);
        setShown(otpView, true);
    }
}

// ---- the download ----

void OldAadhaarFlowVC::fetchOfflineKycZip(const QList<QNetworkCookie> &cookies, const std::optional<QUrl> &url,
                                          const QString &body)
{
    // The session sends what the page's session holds.
    if (url)
        net::Session::shared().cookieStore().setCookiesFromUrl(cookies, *url);

    net::URLRequest request;
    request.url = url.value_or(QUrl());
    request.method = net::HTTPMethod::POST;
    request.body.bytes = body.toUtf8();
    request.headers.add(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.headers.add(QByteArrayLiteral("Accept-Encoding"), QByteArray());
    request.maximumBodySize = platform::zip::kMaxArchiveBytes;
    line(QStringLiteral("request POST ") + platform::log::redactedURL(request.url));
    line(QStringLiteral("Sync Request Body: ") + redactedFormBody(body));

    // Shared by every copy of the completion, so whichever copy goes last
    // finds the screen already handed back to the main thread.
    struct Holder {
        std::shared_ptr<OldAadhaarFlowVC> screen;
    };
    auto holder = std::make_shared<Holder>(Holder{self()});
    net::Session::shared().download(std::move(request), [holder](const net::DownloadResponse &response) {
        std::shared_ptr<OldAadhaarFlowVC> me = std::exchange(holder->screen, nullptr);
        if (!me)
            return;
        me->handleDownloadedZip(response);
        // This may be the last reference to a screen the user has left; its
        // widgets must go on the main thread.
        dispatch::asyncMain([me = std::move(me)]() mutable { me.reset(); });
    });
}

void OldAadhaarFlowVC::handleDownloadedZip(const net::DownloadResponse &response)
{
    if (response.error || response.fileURL.isEmpty()) {
        line(QStringLiteral("The download failed: ")
             + (response.error ? response.error->localizedDescription() : QStringLiteral("no file")));
        if (!response.fileURL.isEmpty())
            QFile::remove(response.fileURL);
        auto me = self();
        dispatch::asyncMain([me] { me->showDownloadInterrupted(); });
        return;
    }
    const QUrl archive = moveToTemporaryDirectory(QUrl::fromLocalFile(response.fileURL), QStringLiteral("aadhaar.zip"));
    openArchive(archive.toLocalFile());
}

void OldAadhaarFlowVC::showDownloadInterrupted()
{
    if (popupLoader)
        popupLoader->stopAnimating();
    if (errorTextLbl)
        errorTextLbl->setText(interruptedMessage);
    setShown(otpView, false);
    setShown(ErrorView, true);
}

void OldAadhaarFlowVC::submissionFailed(const Error &error)
{
    line(QStringLiteral("The submission failed: ") + error.localizedDescription());
    reportToHost({{QStringLiteral("status"), false}});
}

// ---- text fields ----



// ---- web view ----

void OldAadhaarFlowVC::didStartProvisionalNavigation(web::WebView *)
{
    line(QStringLiteral("Started to load"));
}

void OldAadhaarFlowVC::didFinish(web::WebView *)
{
    line(QStringLiteral("Finished loading"));
    if (spinnerIc)
        spinnerIc->stopAnimating();
    if (popupLoader)
        popupLoader->stopAnimating();
    if (!isAdhaarDetailsFilled) {
        setShown(popUpMainView, true);
        setShown(aadhaarCaptchaView, true);
        captureCaptcha();
        return;
    }
    if (!webcontentView)
        return;
    const std::weak_ptr<OldAadhaarFlowVC> weak = weakSelf();
    webcontentView->evaluateJavaScript(QStringLiteral("document.getElementById('system-message').innerHTML"),
                                       [weak](const QVariant &result, const std::optional<web::WebError> &) {
                                           if (auto me = weak.lock())
                                               me->handleReplyMessage(result.typeId() == QMetaType::QString
                                                                          ? result.toString()
                                                                          : QString());
                                       });
}

void OldAadhaarFlowVC::didFailProvisionalNavigation(web::WebView *, const web::WebError &error)
{
    if (popupLoader)
        popupLoader->stopAnimating();
    if (errorTextLbl)
        errorTextLbl->setText(m_defaultErrorText);
    setShown(ErrorView, true);
    line(QStringLiteral("Webpage error: ") + error.localizedDescription());
}

} // namespace orvix
