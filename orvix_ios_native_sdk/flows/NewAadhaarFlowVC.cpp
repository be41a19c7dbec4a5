#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/ScreenSize.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/URLQuery.h"
#include "orvix_ios_native_sdk/document/AadhaarHelper.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"
#include "platform/dispatch/dispatch.h"
#include "platform/log/log.h"
#include "platform/ui/keyboardmanager.h"
#include "platform/ui/view.h"

#include <QAbstractButton>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvix {

using platform::log::line;
namespace ui = platform::ui;
namespace web = platform::web;
using platform::reachability::Reachability;

namespace {

const QString offlineMessage = QStringLiteral("You are offline! please check your internet connection.");

// A reply's value of one type, or nothing.
std::optional<QString> textValue(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? std::optional(value.toString()) : std::nullopt;
}

std::optional<bool> boolValue(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::Bool ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<qlonglong> integerValue(const QVariantMap &map, const QString &key)
{
    const QVariant value = map.value(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

QVariantMap asMap(const QVariant &reply)
{
    return reply.typeId() == QMetaType::QVariantMap ? reply.toMap() : QVariantMap();
}

QString lastPathComponent(const QUrl &url)
{
    const QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    return parts.isEmpty() ? QString() : parts.last();
}

void setShown(QWidget *view, bool shown)
{
    if (view)
        view->setVisible(shown);
}

} // namespace

void NewAadhaarFlowVC::registerScene()
{
    auto registration = ui::Storyboard::registerClass<NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
    registerRecordOutlets(registration);
    registration.action(QStringLiteral("reloadCaptcha:"), &NewAadhaarFlowVC::reloadCaptcha)
        .action(QStringLiteral("backAct:"), &NewAadhaarFlowVC::backAct)
        .action(QStringLiteral("tryAgainAct:"), &NewAadhaarFlowVC::tryAgainAct)
        .action(QStringLiteral("submitAct:"), &NewAadhaarFlowVC::submitAct)
        .action(QStringLiteral("otpVerifyAct:"), &NewAadhaarFlowVC::otpVerifyAct);
}

NewAadhaarFlowVC::NewAadhaarFlowVC()
    : reachability(std::make_unique<Reachability>()), newAadhaarVM(std::make_shared<NewAadhaarFlowViewModel>())
{
}

NewAadhaarFlowVC::~NewAadhaarFlowVC()
{
    line(QStringLiteral("STOP reachabilityChanged -> stopNotifier"));
    m_urlObservation.invalidate();
    QObject::disconnect(m_reachabilityConnection);
    if (reachability)
        reachability->stopNotifier();
    // Not yet added to the view: it is ours to delete.
    if (webcontentView && !webcontentView->parentWidget())
        delete webcontentView.data();
}

std::shared_ptr<NewAadhaarFlowVC> NewAadhaarFlowVC::self()
{
    return std::dynamic_pointer_cast<NewAadhaarFlowVC>(shared_from_this());
}

void NewAadhaarFlowVC::toast(const QString &message)
{
    showToast(message, QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3));
}

void NewAadhaarFlowVC::viewDidLoad()
{
    AadhaarRecordProcessing::viewDidLoad();
    webcontentView = new web::WebView;
    webcontentView->resize(int(screenWidth()), int(screenHeight()));
    webcontentView->setNavigationDelegate(
        std::weak_ptr<web::NavigationDelegate>(std::static_pointer_cast<web::NavigationDelegate>(self())));
    webcontentView->load(web::URLRequest{QUrl(authorityPortalURL()), web::CachePolicy::useProtocolCachePolicy, 60});
    webcontentView->setAllowsBackForwardNavigationGestures(true);
    m_urlObservation = webcontentView->observeURL([](const std::optional<QUrl> &url) {
        if (url)
            line(platform::log::redactedURL(*url));
    });
    // The native panel hides the page behind it.
    if (popUpMainView)
        popUpMainView->setAttribute(Qt::WA_StyledBackground, true);
    if (webMainView) {
        webcontentView->setParent(webMainView);
        platform::ui::coverParent(webcontentView);
        webcontentView->show();
    }

    if (aadhaarNoTF) {
        std::weak_ptr<NewAadhaarFlowVC> weak = self();
        QObject::connect(aadhaarNoTF, &ui::TextField::editingChanged, aadhaarNoTF,
                         [weak, field = aadhaarNoTF] {
                             if (auto me = weak.lock())
                                 me->didChangeText(field);
                         });
    }
    ui::KeyboardManager::shared().setEnable(true);
    startAuthorization();
}

void NewAadhaarFlowVC::viewWillAppear(bool animated)
{
    m_appearedAnimated = animated;
    AadhaarRecordProcessing::viewWillAppear(true);
    QObject::disconnect(m_reachabilityConnection);
    std::weak_ptr<NewAadhaarFlowVC> weak = self();
    m_reachabilityConnection = QObject::connect(reachability.get(), &Reachability::reachabilityChanged,
                                                reachability.get(), [weak](Reachability *monitor) {
                                                    if (auto me = weak.lock())
                                                        me->reachabilityChanged(monitor);
                                                });
    if (!reachability->startNotifier())
        line(QStringLiteral("could not start reachability notifier"));
}

void NewAadhaarFlowVC::reachabilityChanged(Reachability *monitor)
{
    switch (monitor ? monitor->connection() : Reachability::Connection::unavailable) {
    case Reachability::Connection::unavailable:
        internetAvailable = false;
        toast(offlineMessage);
        break;
    case Reachability::Connection::wifi:
        line(QStringLiteral("Reachable via WiFi"));
        internetAvailable = true;
        break;
    case Reachability::Connection::cellular:
        line(QStringLiteral("Reachable via Cellular"));
        internetAvailable = true;
        break;
    }
}

// ---- user actions ----


void NewAadhaarFlowVC::reloadCaptcha(QObject *)
{
    m_mayStartOver = true;
    requestCaptcha();
    if (popupLoader)
        popupLoader->stopAnimating();
}

void NewAadhaarFlowVC::backAct(QObject *)
{
    m_ended = true;
    dismiss(true);
    reportToHost({{QStringLiteral("status"), false}});
}



void NewAadhaarFlowVC::tryAgainAct(QObject *)
{
    m_mayStartOver = true;
    setShown(ErrorView, false);
    startAuthorization();
    if (captchaTF)
        captchaTF->clear();
    if (otpTF)
        otpTF->clear();
    ui::endEditing(view(), true);
    setShown(otpView, false);
    setShown(userInfoView, false);
}

void NewAadhaarFlowVC::submitAct(QObject *)
{
    const QString number = withoutBlanks(aadhaarNoTF ? aadhaarNoTF->text() : QString());
    const QString captcha = withoutBlanks(captchaTF ? captchaTF->text() : QString());
    if (number.isEmpty()) {
        toast(QStringLiteral("Please enter UID or Aadhaar"));
        return;
    }
    if (!isTwelveDigits(number) || !AadhaarHelper().validateVerhoeff(number)) {
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
    m_mayStartOver = true;
    auto me = self();
    newAadhaarVM->generateOTP(
        {{QStringLiteral("uid"), number}, {QStringLiteral("captcha"), captcha}, {QStringLiteral("captchaTxnId"), captchaId}},
        [me](const QVariant &reply) { me->handleOtpResponse(reply); },
        [me](const Error &error) { me->handleOtpFailure(error); });
}

void NewAadhaarFlowVC::otpVerifyAct(QObject *)
{
    const QString otp = withoutBlanks(otpTF ? otpTF->text() : QString());
    const QString number = withoutBlanks(aadhaarNoTF ? aadhaarNoTF->text() : QString());
    const QString captcha = withoutBlanks(captchaTF ? captchaTF->text() : QString());
    if (otp.isEmpty()) {
        toast(QStringLiteral("Please enter the correct OTP"));
        return;
    }
    if (!internetAvailable) {
        toast(offlineMessage);
        return;
    }
    setShown(otpView, false);
    if (popupLoader)
        popupLoader->startAnimating();
    auto me = self();
    newAadhaarVM->login({{QStringLiteral("captcha"), captcha},
                         {QStringLiteral("_csrf"), csrf_token.value_or(QString())},
                         {QStringLiteral("otp"), otp},
                         {QStringLiteral("submit"), QStringLiteral("Login")},
                         {QStringLiteral("uid"), number}},
                        [me, number](const QVariant &reply) { me->handleLoginResponse(reply, number); },
                        [me](const Error &error) { me->handleNetworkError(error); });
}

// ---- the flow's steps ----

void NewAadhaarFlowVC::startAuthorization()
{
    if (popupLoader)
        popupLoader->startAnimating();
    csrf_token = QString();
    codeVerifier = NewAadhaarFlowViewModel::makeCodeVerifier();
    auto me = self();
    newAadhaarVM->authorize(NewAadhaarFlowViewModel::authorizeQuery(NewAadhaarFlowViewModel::codeChallenge(codeVerifier)),
                            [me](const QVariant &reply) { me->handleAuthorizeResponse(reply); },
                            [me](const Error &error) { me->handleAuthorizeFailure(error); });
}

void NewAadhaarFlowVC::requestCaptcha()
{
    auto me = self();
    newAadhaarVM->generateCaptcha(
        QString(), [me](const QVariant &reply) { me->handleCaptchaResponse(reply); },
        [me](const Error &error) { me->handleCaptchaFailure(error); });
}

void NewAadhaarFlowVC::handleAuthorizeResponse(const QVariant &reply)
{
    const QStringList tokens = extractCsrfTokens(reply.toString());
    if (!tokens.isEmpty())
        csrf_token = tokens.first();
    setShown(popUpMainView, true);
    setShown(aadhaarCaptchaView, true);
    requestCaptcha();
    if (popupLoader)
        popupLoader->stopAnimating();
}

void NewAadhaarFlowVC::handleAuthorizeFailure(const Error &error)
{
    line(QStringLiteral("<---ERROR-->"));
    if (popupLoader)
        popupLoader->stopAnimating();
    setShown(aadhaarCaptchaView, true);
    toast(error.localizedDescription());
}

QStringList NewAadhaarFlowVC::extractCsrfTokens(const QString &page)
{
    // As the pattern _csrf.*?value.*?"(.*?)" with "." not crossing a line
    // feed, found in one pass: the earliest "value" and quotes on the line
    // after each "_csrf" give the shortest match.
    QStringList tokens;
    const QStringView text(page);
    qsizetype from = 0;
    qsizetype lineEnd = -1;
    while (from < text.size()) {
        const qsizetype start = text.indexOf(u"_csrf", from);
        if (start < 0)
            break;
        if (start > lineEnd) {
            lineEnd = text.indexOf(u'\n', start);
            if (lineEnd < 0)
                lineEnd = text.size();
        }
        const QStringView line = text.mid(start, lineEnd - start);
        const qsizetype value = line.indexOf(u"value", 5);
        const qsizetype open = value < 0 ? -1 : line.indexOf(u'"', value + 5);
        const qsizetype close = open < 0 ? -1 : line.indexOf(u'"', open + 1);
        if (close < 0) {
            from = lineEnd + 1;
            continue;
        }
        tokens.append(line.mid(open + 1, close - open - 1).toString());
        from = start + close + 1;
    }
    return tokens;
}

void NewAadhaarFlowVC::handleCaptchaResponse(const QVariant &reply)
{
    const QVariantMap map = asMap(reply);
    const std::optional<QString> message = textValue(map, QStringLiteral("message"));
    if (boolValue(map, QStringLiteral("sessionActive")).value_or(false)) {
        const QJsonDocument parsed = QJsonDocument::fromJson(message.value_or(QString()).toUtf8());
        if (!message || !parsed.isObject()) {
            line(QStringLiteral("erroMsg"));
            return;
        }
        const QVariantMap captcha = parsed.object().toVariantMap();
        showCaptcha(textValue(captcha, QStringLiteral("imageBase64")).value_or(QString()));
        captchaId = textValue(captcha, QStringLiteral("transactionId"));
        return;
    }
    if (!startOverOnce() && !m_ended)
        toast(QStringLiteral("Session expired."));
}

bool NewAadhaarFlowVC::startOverOnce()
{
    if (m_ended)
        return false;
    if (m_mayStartOver) {
        m_mayStartOver = false;
        startAuthorization();
        return true;
    }
    // The authority keeps finding no session: the person decides what next.
    if (popupLoader)
        popupLoader->stopAnimating();
    setShown(popUpMainView, true);
    setShown(aadhaarCaptchaView, true);
    setShown(otpView, false);
    return false;
}

void NewAadhaarFlowVC::handleCaptchaFailure(const Error &error)
{
    line(QStringLiteral("<---ERROR-->"));
    toast(error.localizedDescription());
}

void NewAadhaarFlowVC::handleOtpResponse(const QVariant &reply)
{
    if (popupLoader)
        popupLoader->stopAnimating();
    const QVariantMap map = asMap(reply);
    if (boolValue(map, QStringLiteral("status")).value_or(false)) {
        setShown(aadhaarCaptchaView, false);
        setShown(otpView, true);
        return;
    }
    setShown(aadhaarCaptchaView, true);
    setShown(otpView, false);
    if (boolValue(map, QStringLiteral("sessionActive")).value_or(false)) {
        if (!m_ended)
            requestCaptcha();
        if (popupLoader)
            popupLoader->stopAnimating();
        if (captchaTF)
            captchaTF->clear();
        toast(textValue(map, QStringLiteral("message")).value_or(QStringLiteral("Please enter valid captcha")));
        return;
    }
    startOverOnce();
    toast(QStringLiteral("Session expired."));
}

void NewAadhaarFlowVC::handleOtpFailure(const Error &error)
{
    if (popupLoader)
        popupLoader->stopAnimating();
    setShown(aadhaarCaptchaView, true);
    toast(error.localizedDescription());
}

void NewAadhaarFlowVC::handleLoginResponse(const QVariant &reply, const QString &aadhaarNumber)
{
    const QVariant resQuery = asMap(reply).value(QStringLiteral("resQuery"));
    std::optional<QUrl> url;
    if (resQuery.typeId() == QMetaType::QUrl)
        url = resQuery.toUrl();
    else if (resQuery.typeId() == QMetaType::QString && !resQuery.toString().isEmpty())
        url = QUrl(resQuery.toString());
    if (url && url->isEmpty())
        url.reset();

    if (url) {
        const QString last = lastPathComponent(*url);
        if (last == QLatin1String("failed") || last == QLatin1String("invalidsession")) {
            const QString error = queryValue(*url, QStringLiteral("error")).value_or(QString());
            if (error == QLatin1String("Internal Server Error during Authentication")) {
                showError(error);
                return;
            }
            setShown(otpView, true);
            if (popupLoader)
                popupLoader->stopAnimating();
            toast(QStringLiteral("Please enter the correct OTP"));
            return;
        }
    }
    const QString code = url ? queryValue(*url, QStringLiteral("code")).value_or(QString()) : QString();
    auto me = self();
    newAadhaarVM->getToken(code, codeVerifier,
                           [me, aadhaarNumber](const QVariant &reply) { me->handleTokenResponse(reply, aadhaarNumber); },
                           [me](const Error &error) { me->handleNetworkError(error); });
}

void NewAadhaarFlowVC::showError(const QString &message)
{
    if (popupLoader)
        popupLoader->stopAnimating();
    toast(message);
    if (errorTextLbl)
        errorTextLbl->setText(message);
    setShown(ErrorView, true);
    setShown(otpView, false);
}

void NewAadhaarFlowVC::handleTokenResponse(const QVariant &reply, const QString &aadhaarNumber)
{
    const QVariantMap map = asMap(reply);
    if (integerValue(map, QStringLiteral("statusCode")) != 200) {
        auto me = self();
        platform::dispatch::asyncMain([me] { me->handleTokenRefusal(); });
        return;
    }
    const NewAadhaarFlowViewModel::OptionalParameters parameters{{QStringLiteral("shareCode"), shareCode()},
                                                                 {QStringLiteral("uid"), aadhaarNumber}};
    const QString token = textValue(map, QStringLiteral("access_token")).value_or(QString());
    line(QStringLiteral("aadhaarDownloadKYC-->") + redactedDescription(NewAadhaarFlowViewModel::toVariantMap(parameters)));
    auto me = self();
    newAadhaarVM->downloadOfflineEkyc(parameters, token, [me](const QVariant &reply) { me->handleDownloadResponse(reply); },
                                      [me](const Error &error) { me->handleNetworkError(error); });
}

void NewAadhaarFlowVC::handleTokenRefusal()
{
    setShown(otpView, false);
    setShown(ErrorView, true);
    if (popupLoader)
        popupLoader->stopAnimating();
}

void NewAadhaarFlowVC::handleDownloadResponse(const QVariant &reply)
{
    const QVariantMap map = asMap(reply);
    if (textValue(map, QStringLiteral("status")).value_or(QString()) != QLatin1String("Success")) {
        line(QStringLiteral("<----ERROR--->"));
        toast(QStringLiteral("Session expired."));
        if (errorTextLbl)
            errorTextLbl->setText(QStringLiteral("Access token has expired."));
        setShown(ErrorView, true);
        setShown(otpView, false);
        if (popupLoader)
            popupLoader->stopAnimating();
        return;
    }
    openEncodedArchiveInBackground(textValue(map, QStringLiteral("eKycXML")).value_or(QString()));
}

void NewAadhaarFlowVC::handleNetworkError(const Error &error)
{
    if (popupLoader)
        popupLoader->stopAnimating();
    if (!error.isSessionTaskFailed())
        return;
    toast(offlineMessage);
    if (errorTextLbl)
        errorTextLbl->setText(QStringLiteral("Connection interrupted during the KYC! Please Try again!"));
    setShown(ErrorView, true);
    setShown(otpView, false);
}

// ---- text fields ----



// ---- web view ----

void NewAadhaarFlowVC::didStartProvisionalNavigation(web::WebView *)
{
    line(QStringLiteral("Started to load"));
}

void NewAadhaarFlowVC::didFinish(web::WebView *)
{
    line(QStringLiteral("Finished loading"));
    if (spinnerIc)
        spinnerIc->stopAnimating();
}

void NewAadhaarFlowVC::didFailProvisionalNavigation(web::WebView *, const web::WebError &error)
{
    line(QStringLiteral("WebpageError ") + error.localizedDescription());
}

} // namespace orvix
