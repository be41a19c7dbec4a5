// The web-API Aadhaar flow end to end: the entry point launches its screen,
// the user types into the real fields and presses the real buttons, and the
// simulator plays the authority and the backend.

#include "archivefailure.h"
#include "fixturedocument.h"
#include "logcapture.h"
#include "picturebombs.h"
#include "boundsdocuments.h"

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"
#include "platform/net/session.h"
#include "platform/reachability/reachability.h"
#include "platform/ui/toast.h"
#include "simulator/Simulator.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QtTest>

using namespace orvix;
using orvix::platform::reachability::Reachability;
using orvix::sim::Authority;
using orvix::sim::Backend;
using orvix::sim::Override;

Q_DECLARE_METATYPE(orvix::sim::Override)
Q_DECLARE_METATYPE(orvix::simulator::ArchiveForm)

namespace {

struct Receiver : OrvixEntryPointDelegate {
    std::shared_ptr<platform::ui::ViewController> host;
    QList<QVariantMap> reports;
    QList<bool> screenWasUp; // whether the host still presented something at each report
    void onKYCFinished(const std::optional<QVariantMap> &data) override
    {
        reports.append(data.value_or(QVariantMap{}));
        screenWasUp.append(host && host->presentedViewController());
    }
};

const QString offline = QStringLiteral("You are offline! please check your internet connection.");
const QString interrupted = QStringLiteral("Connection interrupted during the KYC! Please Try again!");

// A number the authority accepts: twelve digits with its check digit.
QString validNumber()
{
    for (int d = 0; d < 10; ++d) {
        const QString n = QStringLiteral("23456789012") + QString::number(d);
        if (Authority::isValidAadhaar(n))
            return n;
    }
    return {};
}

// The record as the host must receive it, from the document the simulator served.
QVariantMap expectedUserInfo(const simulator::OfflineKycDocument &d)
{
    const auto algorithm = [](const QString &a) { return QVariantMap{{"Algorithm", a}}; };
    return {
        {"referenceId", d.referenceId},
        {"UidData",
         QVariantMap{{"Poi", QVariantMap{{"dob", d.dob}, {"e", d.e}, {"gender", d.gender}, {"m", d.m}, {"name", d.name}}},
                     {"Poa", QVariantMap{{"careof", d.careof}, {"country", d.country}, {"dist", d.dist},
                                         {"house", d.house}, {"landmark", d.landmark}, {"loc", d.loc}, {"pc", d.pc},
                                         {"po", d.po}, {"state", d.state}, {"street", d.street},
                                         {"subdist", d.subdist}, {"vtc", d.vtc}}},
                     {"Pht", QString::fromLatin1(d.photo.toBase64())}}},
        {"Signature",
         QVariantMap{{"xmlns", "http://www.w3.org/2000/09/xmldsig#"},
                     {"SignedInfo",
                      QVariantMap{{"CanonicalizationMethod", algorithm(d.canonicalizationAlgorithm)},
                                  {"SignatureMethod", algorithm(d.signatureAlgorithm)},
                                  {"Reference", QVariantMap{{"URI", d.referenceUri},
                                                            {"Transforms", QVariantMap{{"Transform", algorithm(d.transformAlgorithm)}}},
                                                            {"DigestMethod", algorithm(d.digestAlgorithm)},
                                                            {"DigestValue", d.digestValue}}}}},
                     {"SignatureValue", d.signatureValue},
                     {"KeyInfo", QVariantMap{{"X509Data", QVariantMap{{"X509SubjectName", d.subjectName},
                                                                      {"X509Certificate", d.certificate}}}}}}},
    };
}

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(ORVIX_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString lastToast()
{
    const QList<platform::ui::ShownToast> toasts = platform::ui::shownToasts();
    return toasts.isEmpty() ? QString() : toasts.last().message;
}

// The route answers with a redirect to `location`.
Override redirectTo(const QByteArray &location)
{
    Override o;
    o.reply.status = 302;
    o.reply.headers.append({"Location", location});
    return o;
}

const QByteArray browserAgent = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
                                "Chrome/96.0.4664.110 Safari/537.36";

// The header fields the kit sets, in order; what the transport adds (host,
// length, connection, cookies, an agent or accept field of its own) is left out.
sim::HeaderList kitFields(const sim::HeaderList &headers)
{
    static const QList<QByteArray> transport{"host", "content-length", "connection", "cookie", "accept-encoding",
                                             "expect"};
    sim::HeaderList out;
    for (const auto &field : headers) {
        const QByteArray name = field.first.toLower();
        if (transport.contains(name) || (name == "user-agent" && field.second != browserAgent)
            || (name == "accept" && field.second == "*/*"))
            continue;
        out.append(field);
    }
    return out;
}

// Base64url of SHA-256 without padding, as RFC 7636 defines S256.
QByteArray s256(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

class TestWebApiFlow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeRoadReachesTheHost_data();
    void wholeRoadReachesTheHost();
    void submitChecksRunInOrder();
    void fieldsRefuseLongerText();
    void refusedCaptchaRenewsIt();
    void reloadedCaptchaIsRead_data();
    void reloadedCaptchaIsRead();
    void inactiveSessionStartsOver_data();
    void inactiveSessionStartsOver();
    void refusedLoginAsksForTheOtpAgain_data();
    void refusedLoginAsksForTheOtpAgain();
    void refusalsShowTheErrorPanel_data();
    void refusalsShowTheErrorPanel();
    void unusableArchiveIsReported_data();
    void unusableArchiveIsReported();
    void droppedConnectionInterrupts_data();
    void droppedConnectionInterrupts();
    void unusableRepliesToastTheirError_data();
    void unusableRepliesToastTheirError();
    void nonJsonDownloadOnlyStopsTheLoader_data();
    void nonJsonDownloadOnlyStopsTheLoader();
    void offlineRefusesTheVerifyStep();
    void backAtAnyStepReportsAfterDismissal_data();
    void backAtAnyStepReportsAfterDismissal();
    void lateReplyAfterBackIsHandled();
    void documentPhotographIsDecodedWithinBounds_data();
    void documentPhotographIsDecodedWithinBounds();
    void lateInactiveReplyAfterBackStartsNothing_data();
    void lateInactiveReplyAfterBackStartsNothing();
    void tryAgainStartsANewAuthorization();

private:
    std::shared_ptr<NewAadhaarFlowVC> start();
    QAbstractButton *button(const std::shared_ptr<NewAadhaarFlowVC> &screen, const char *name);
    void waitForCaptcha(const std::shared_ptr<NewAadhaarFlowVC> &screen);
    // Number, captcha, consent, submit; waits for the one-time-password panel.
    void reachOtpPanel(const std::shared_ptr<NewAadhaarFlowVC> &screen);
    void typeOtpAndVerify(const std::shared_ptr<NewAadhaarFlowVC> &screen);
    void waitForErrorPanel(const std::shared_ptr<NewAadhaarFlowVC> &screen);
    // Compares the run's six requests to the authority with the wire
    // contract, field by field; returns the secrets they carried.
    QStringList checkAuthorityRequests(const QString &captcha, const QString &otp);

    sim::Simulator m_sim;
    QWidget m_window;
    std::shared_ptr<platform::ui::ViewController> m_host;
    std::shared_ptr<Receiver> m_receiver;
    std::shared_ptr<OrvixEntryPoint> m_entry;
    std::unique_ptr<LogCapture> m_log;
    QString m_number;
};

void TestWebApiFlow::initTestCase()
{
    QVERIFY(m_sim.start());
    internal::setBackendBaseURL(m_sim.backendBaseUrl());
    internal::setAuthorityServiceBaseURL(m_sim.authorityApiBaseUrl());
    internal::setAuthorityPortalURL(m_sim.authorityPortalUrl());
    // Toasts stay until replaced, so each check sees the latest one.
    platform::ui::ToastManager::shared().duration = 600000;
    m_window.resize(480, 900);
    m_window.show();
    m_host = platform::ui::ViewController::wrapping(&m_window);
    m_number = validNumber();
    QVERIFY(!m_number.isEmpty());
}

void TestWebApiFlow::init()
{
    m_sim.reset();
    Reachability::simulateConnection(Reachability::Connection::wifi);
    platform::ui::hideAllToasts(&m_window);
    m_receiver = std::make_shared<Receiver>();
    m_receiver->host = m_host;
    m_log = std::make_unique<LogCapture>();
}

void TestWebApiFlow::cleanup()
{
    std::weak_ptr<platform::ui::ViewController> screen = m_host->presentedViewController();
    if (m_host->presentedViewController())
        m_host->dismiss(false);
    QTRY_VERIFY(!m_host->presentedViewController());
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    m_entry.reset();
    // Nothing keeps a finished screen (and its web view) alive.
    QTRY_VERIFY_WITH_TIMEOUT(screen.expired(), 15000);
    m_log.reset();
    Reachability::simulateConnection(std::nullopt);
}

std::shared_ptr<NewAadhaarFlowVC> TestWebApiFlow::start()
{
    m_entry = OrvixEntryPoint::create(Backend::defaultCredential, "user-42", m_sim.hostSuccessUrl(),
                                      m_sim.hostFailureUrl(), Mode::sandbox, m_host);
    m_entry->orvixEntryDelegate = m_receiver;
    m_entry->addConfig({Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    m_entry->beginKYCFLow();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(m_host->presentedViewController() || !m_receiver->reports.isEmpty(), 15000); }();
    return std::dynamic_pointer_cast<NewAadhaarFlowVC>(m_host->presentedViewController());
}

QAbstractButton *TestWebApiFlow::button(const std::shared_ptr<NewAadhaarFlowVC> &screen, const char *name)
{
    return screen->view()->findChild<QAbstractButton *>(QLatin1String(name));
}

void TestWebApiFlow::waitForCaptcha(const std::shared_ptr<NewAadhaarFlowVC> &screen)
{
    QTRY_VERIFY_WITH_TIMEOUT(screen->captchaId && !screen->captchaImgView->image().isNull(), 15000);
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
}

void TestWebApiFlow::reachOtpPanel(const std::shared_ptr<NewAadhaarFlowVC> &screen)
{
    waitForCaptcha(screen);
    QTest::keyClicks(screen->aadhaarNoTF, m_number);
    QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
    QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 15000);
    QVERIFY(!screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
}

void TestWebApiFlow::typeOtpAndVerify(const std::shared_ptr<NewAadhaarFlowVC> &screen)
{
    QVERIFY(!m_sim.authority().lastOtp().isEmpty());
    QTest::keyClicks(screen->otpTF, m_sim.authority().lastOtp());
    QTest::mouseClick(screen->otpSubmitBtn, Qt::LeftButton);
}

void TestWebApiFlow::waitForErrorPanel(const std::shared_ptr<NewAadhaarFlowVC> &screen)
{
    QTRY_VERIFY_WITH_TIMEOUT(screen->ErrorView->isVisible(), 20000);
    QVERIFY(!screen->otpView->isVisible());
    QTRY_VERIFY(!screen->popupLoader->isAnimating());
}

QStringList TestWebApiFlow::checkAuthorityRequests(const QString &captcha, const QString &otp)
{
    // The kit's own requests: not the web view's portal page, nor the pages the
    // login's redirects pass (the authorize page again, the callback).
    QList<Authority::RawRequest> sent;
    QByteArray code;
    for (const Authority::RawRequest &r : m_sim.authority().recordedRequests()) {
        if (r.route == Authority::callbackRoute)
            code = QUrlQuery(QString::fromUtf8(r.requestLine.mid(r.requestLine.indexOf('?') + 1)))
                       .queryItemValue("code", QUrl::FullyDecoded).toUtf8();
        const bool redirected = r.route == Authority::authorizeRoute && !sent.isEmpty()
            && sent.last().route == Authority::loginRoute;
        if (r.route != Authority::portalRoute && r.route != Authority::callbackRoute && !redirected)
            sent.append(r);
    }
    [&] { QCOMPARE(sent.size(), 6); }();
    if (sent.size() != 6)
        return {};
    for (const Authority::RawRequest &r : sent)
        [&] { QVERIFY2(sim::headerValue(r.headers, "Connection") == "close", r.requestLine.constData()); }();

    // 1. Authorization with a fresh S256 challenge.
    const QByteArray authorizeStart = "GET /uidai/access/oauth/authorize?grant_type=authorization_code&response_type=code"
                                      "&client_id=myAadhaar&scope=READ&code_challenge_method=S256&code_challenge=";
    [&] {
        QVERIFY2(sent[0].requestLine.startsWith(authorizeStart), sent[0].requestLine.constData());
        QCOMPARE(kitFields(sent[0].headers),
                 (sim::HeaderList{{"accept", "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,"
                                             "image/webp,image/apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.9"},
                                  {"accept-language", "en-GB,en;q=0.9"},
                                  {"cache-control", "no-cache"},
                                  {"pragma", "no-cache"},
                                  {"upgrade-insecure-requests", "1"}}));
        QCOMPARE(sent[0].body, QByteArray());
    }();
    const QByteArray challenge = sent[0].requestLine.mid(authorizeStart.size());

    // 2. Captcha, 3. one-time password: the browser's agent.
    [&] {
        QCOMPARE(sent[1].requestLine, QByteArray("GET /uidai/generateCaptcha"));
        QCOMPARE(kitFields(sent[1].headers), (sim::HeaderList{{"User-Agent", browserAgent}}));
        QCOMPARE(sent[2].requestLine, QByteArray("POST /uidai/generateOTPForOAuth"));
        QCOMPARE(kitFields(sent[2].headers),
                 (sim::HeaderList{{"User-Agent", browserAgent}, {"Content-Type", "application/json"}}));
        QCOMPARE(QJsonDocument::fromJson(sent[2].body).object(),
                 (QJsonObject{{"uid", m_number}, {"captcha", captcha},
                              {"captchaTxnId", m_sim.requestsTo(Authority::otpRoute).value(0).jsonObject().value("captchaTxnId")}}));
    }();

    // 4. Login: a form of five fields in this order.
    const QRegularExpression loginForm(QStringLiteral("^_csrf=([0-9A-Za-z-]+)&captcha=%1&otp=%2&submit=Login&uid=%3$")
                                           .arg(captcha, otp, m_number));
    const QRegularExpressionMatch login = loginForm.match(QString::fromUtf8(sent[3].body));
    [&] {
        QCOMPARE(sent[3].requestLine, QByteArray("POST /uidai/login"));
        QCOMPARE(kitFields(sent[3].headers), (sim::HeaderList{{"User-Agent", browserAgent},
                                                              {"Content-Type", "application/x-www-form-urlencoded"}}));
        QVERIFY2(login.hasMatch(), sent[3].body.constData());
    }();

    // 5. Token: the code and this authorization's verifier in the query, a
    // JSON body of one empty member under the form type.
    const QByteArray tokenStart =
        "POST /uidai/access/oauth/token?client_id=myAadhaar&grant_type=authorization_code&code_verifier=";
    // The code holds '+' and '/': both escaped, as every reserved character.
    const QByteArray tokenEnd = "&code=" + code.toPercentEncoding();
    const QByteArray verifier = sent[4].requestLine.mid(tokenStart.size(),
                                                        sent[4].requestLine.size() - tokenStart.size() - tokenEnd.size());
    [&] {
        QVERIFY(code.contains('+') && code.contains('/'));
        QVERIFY2(sent[4].requestLine.startsWith(tokenStart) && sent[4].requestLine.endsWith(tokenEnd),
                 sent[4].requestLine.constData());
        QVERIFY(QRegularExpression("^[A-Za-z0-9._~-]{43,128}$").match(QString::fromLatin1(verifier)).hasMatch());
        QCOMPARE(s256(verifier), challenge);
        QCOMPARE(kitFields(sent[4].headers), (sim::HeaderList{{"Content-Type", "application/x-www-form-urlencoded"}}));
        QCOMPARE(sent[4].body, QByteArray(R"({"":""})"));
    }();

    // 6. Download: eleven fields in order, three under quoted names.
    const QByteArray device = sim::headerValue(sent[5].headers, "transactionId");
    const QByteArray token = sim::headerValue(sent[5].headers, "Authorization").mid(7);
    [&] {
        QCOMPARE(sent[5].requestLine, QByteArray("POST /uidai/eAadhaarService/api/oauth/downloadOfflineEkyc"));
        QVERIFY(QRegularExpression("^([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})?$")
                    .match(QString::fromLatin1(device)).hasMatch());
        QVERIFY(!token.isEmpty());
        QCOMPARE(kitFields(sent[5].headers),
                 (sim::HeaderList{{"transactionId", device},
                                  {"X-Request-ID", device},
                                  {"Authorization", "Bearer " + token},
                                  {"'Accept'", "application/json, text/plain, */*"},
                                  {"'Connection'", "keep-alive"},
                                  {"Pragma", "no-cache"},
                                  {"Cache-Control", "no-cache"},
                                  {"Accept-Language", "en_IN"},
                                  {"sec-ch-ua", R"(" Not A;Brand";v="99", "Chromium";v="96", "Google Chrome";v="96")"},
                                  {"sec-ch-ua-mobile", "?0"},
                                  {"'Referer'", m_sim.authorityPortalUrl().toUtf8()},
                                  {"Content-Type", "application/json"}}));
        QCOMPARE(QJsonDocument::fromJson(sent[5].body).object(), (QJsonObject{{"shareCode", "9736"}, {"uid", m_number}}));
    }();
    return {login.captured(1), QString::fromUtf8(code), QString::fromUtf8(code.toPercentEncoding()),
            QString::fromUtf8(verifier), QString::fromUtf8(token)};
}

void TestWebApiFlow::wholeRoadReachesTheHost_data()
{
    using simulator::ArchiveForm;
    QTest::addColumn<bool>("wrappedArchive");
    QTest::addColumn<ArchiveForm>("form");
    QTest::addColumn<QString>("fixture"); // served instead of a generated archive
    QTest::newRow("archive text in one line") << false << ArchiveForm::traditional << QString();
    QTest::newRow("archive text in lines of 76") << true << ArchiveForm::traditional << QString();
    QTest::newRow("AES AE-1") << false << ArchiveForm::aesAe1 << QString();
    QTest::newRow("AES AE-2") << false << ArchiveForm::aesAe2 << QString();
    QTest::newRow("7-Zip AES-256 file") << false << ArchiveForm::traditional << QString("aes256-7zip.zip");
}

void TestWebApiFlow::wholeRoadReachesTheHost()
{
    QFETCH(bool, wrappedArchive);
    QFETCH(simulator::ArchiveForm, form);
    QFETCH(QString, fixture);
    m_sim.authority().setBase64LineBreaks(wrappedArchive);
    m_sim.authority().setArchiveForm(form);
    if (!fixture.isEmpty())
        m_sim.authority().setArchiveFile(::fixture(fixture));
    // Files of an earlier run must not be taken for this one.
    QDir().mkpath(AadhaarRecordProcessing::unzipDirectory());
    QFile stale(AadhaarRecordProcessing::unzipDirectory() + "/offlineaadhaar00000000000000000.xml");
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(simulator::offlineKycXml(simulator::makeOfflineKycDocument({7})));
    stale.close();

    auto screen = start();
    QVERIFY(screen);
    // The launch row: full screen, not animated, over the host's window.
    QCOMPARE(screen->modalPresentationStyle, platform::ui::ModalPresentationStyle::fullScreen);
    QCOMPARE(screen->appearedAnimated(), std::optional<bool>(false));
    QCOMPARE(screen->view()->window(), &m_window);
    QVERIFY(m_log->contains("<--- myAadhaarUidaiFlow -->"));
    // Every outlet and action of the screen is in its scene.
    QVERIFY2(!m_log->contains("Storyboard"), qPrintable(m_log->joined()));
    QCOMPARE(screen->urlComponent, std::optional<QString>(m_sim.backendBaseUrl()));

    // The captcha picture is the one the authority drew.
    waitForCaptcha(screen);
    // S256 in base64url without padding (43 characters), not plain base64.
    const QString challenge = QUrlQuery(m_sim.requestsTo(Authority::authorizeRoute).value(0).query)
                                  .queryItemValue("code_challenge", QUrl::FullyDecoded);
    QVERIFY2(QRegularExpression("^[A-Za-z0-9_-]{43}$").match(challenge).hasMatch(), qPrintable(challenge));
    // The portal page loads behind the panel.
    QVERIFY(screen->webcontentView && screen->webcontentView->parentWidget() == screen->webMainView);
    QTRY_VERIFY_WITH_TIMEOUT(m_log->contains("Finished loading"), 30000);
    QVERIFY(!screen->spinnerIc->isAnimating());
    QCOMPARE(m_sim.requestsTo(Authority::portalRoute).size(), 1);

    // Typed as one run of digits, shown in groups of four.
    QTest::keyClicks(screen->aadhaarNoTF, m_number);
    QCOMPARE(screen->aadhaarNoTF->text(), m_number.left(4) + ' ' + m_number.mid(4, 4) + ' ' + m_number.mid(8));
    const QString captcha = m_sim.authority().currentCaptcha();
    QTest::keyClicks(screen->captchaTF, captcha);
    QAbstractButton *checkBox = button(screen, "checkBoxBtn");
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(screen->isAgree);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 15000);

    const QJsonObject otpRequest = m_sim.requestsTo(Authority::otpRoute).value(0).jsonObject();
    QCOMPARE(otpRequest.value("uid").toString(), m_number);
    QCOMPARE(otpRequest.value("captchaTxnId").toString(), *screen->captchaId);

    typeOtpAndVerify(screen);
    // The record, or the error panel of a refused step: fail on the latter at once.
    QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible() || screen->ErrorView->isVisible(), 30000);
    QVERIFY2(!screen->ErrorView->isVisible(),
             qPrintable("error panel after " + m_sim.requests().constLast().path + ": " + screen->errorTextLbl->text()));
    QVERIFY(screen->userInfoView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(!QFile::exists(stale.fileName()));
    // Nothing of the document is left on disk.
    QTRY_VERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::temporaryDirectory() + "aadhaar.xml"));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::unzipDirectory()));

    // The record shown is the document served.
    const auto served = m_sim.authority().lastDocument();
    QVERIFY(served);
    const simulator::OfflineKycDocument doc = fixture.isEmpty() ? served->document
        : testsupport::fixtureDocument(QStringLiteral(ORVIX_FIXTURES_DIR "/offlineaadhaar20230830234456427.xml"));
    QCOMPARE(screen->usernameLbl->text(), doc.name);
    QCOMPARE(screen->dobLbl->text(), doc.dob);
    QCOMPARE(screen->addressLbl->text(), AadhaarRecordProcessing::composeAddress(screen->aadhaarModel));
    QVERIFY(screen->addressLbl->text().startsWith(doc.careof + ", " + doc.house + ", "));
    QVERIFY(screen->addressLbl->text().endsWith(doc.dist + " - " + doc.pc + ", " + doc.state + ", " + doc.country + "."));
    QTRY_COMPARE(screen->profilePic->image().size(), QImage::fromData(doc.photo).size());
    // The archive was opened and its document read on a worker.
    QVERIFY(m_log->contains("XML document: "));
    QCOMPARE(m_log->mainThreadLines().filter(QRegularExpression("^(UNZIPPED|XML document: )")), QStringList());
    QVERIFY(!screen->profilePic->image().isNull());

    // The download asked for the default share code and this number.
    const sim::Request download = m_sim.requestsTo(Authority::downloadRoute).value(0);
    QCOMPARE(download.jsonObject(), (QJsonObject{{"shareCode", "9736"}, {"uid", m_number}}));
    QVERIFY(m_log->contains("aadhaarDownloadKYC-->[\"shareCode\": \"<redacted>\", \"uid\": \"<redacted>\"]"));

    // The backend got the three calls with this record and archive.
    QCOMPARE(m_sim.requestsTo(Backend::documentsRoute).size(), 1);
    const QList<sim::Request> supplier = m_sim.requestsTo(Backend::supplierRoute);
    QCOMPARE(supplier.size(), 1);
    QCOMPARE(supplier[0].path, Backend::path("v1/suppliers/offline-aadhaar"));
    QCOMPARE(supplier[0].jsonObject().value("name").toString(), doc.name);
    QCOMPARE(supplier[0].jsonObject().value("dob").toString(), doc.dob);
    QCOMPARE(supplier[0].jsonObject().value("pincode").toString(), doc.pc);
    QCOMPARE(supplier[0].jsonObject().value("id").toString(), QString("user-42"));
    const QList<sim::Request> upload = m_sim.requestsTo(Backend::documentObjectRoute);
    QCOMPARE(upload.size(), 1);
    QVERIFY(upload[0].parts && upload[0].parts->size() == 1);
    QCOMPARE(upload[0].parts->first().data, served->archive);

    // Nothing of the kit's credential goes to the authority; PKCE was checked there.
    for (const sim::Request &r : m_sim.requests()) {
        if (r.path.startsWith("/" + Authority::apiPrefix))
            QVERIFY2(!r.hasHeader(APIHandler::credentialHeaderName), qPrintable(r.path));
    }
    QCOMPARE(m_sim.requestsTo(Authority::tokenRoute).size(), 1);
    const QStringList exchanged = checkAuthorityRequests(captcha, m_sim.authority().lastOtp());
    QCOMPARE(exchanged.size(), 5);

    // No secret or personal value in the whole log of the run: not the
    // number, password, captcha, CSRF token, code, verifier, access token,
    // credential, record, nor any run of the photograph's Base64.
    const QString log = m_log->joined();
    QStringList secrets{m_number, m_sim.authority().lastOtp(), captcha, Backend::defaultCredential, doc.name, doc.dob,
                        doc.street};
    secrets += exchanged;
    for (const QString &secret : secrets)
        QVERIFY2(!secret.isEmpty() && !log.contains(secret), qPrintable(secret));
    const QString photo = QString::fromLatin1(doc.photo.toBase64());
    for (qsizetype i = 0; i + 24 <= photo.size(); i += 12)
        QVERIFY2(!log.contains(photo.mid(i, 24)), qPrintable(photo.mid(i, 24)));

    QVERIFY(m_receiver->reports.isEmpty());
    QTest::mouseClick(button(screen, "proceedBtn"), Qt::LeftButton);
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->screenWasUp, QList<bool>{true}); // reported, then dismissed
    const QVariantMap report = m_receiver->reports[0];
    QCOMPARE(report.value("status"), QVariant(true));
    QCOMPARE(report.value("userInfo").toMap(), expectedUserInfo(doc));
    QTRY_VERIFY(!m_host->presentedViewController());
}

void TestWebApiFlow::submitChecksRunInOrder()
{
    auto screen = start();
    QVERIFY(screen);
    waitForCaptcha(screen);
    QAbstractButton *submit = screen->aadhaarSubmitBtn;
    const auto attempt = [&](const QString &number, const QString &captcha) {
        screen->aadhaarNoTF->clear();
        screen->captchaTF->clear();
        QTest::keyClicks(screen->aadhaarNoTF, number);
        QTest::keyClicks(screen->captchaTF, captcha);
        QTest::mouseClick(submit, Qt::LeftButton);
        return lastToast();
    };
    QString wrongCheck = m_number;
    wrongCheck[11] = QChar('0' + (m_number[11].digitValue() + 1) % 10);
    // Letters count as 0 in the check digit: only the digit rule stops them.
    QString letter = m_number;
    const qsizetype zero = m_number.indexOf('0');
    QVERIFY(zero >= 0);
    letter[zero] = 'a';

    QCOMPARE(attempt("", ""), QString("Please enter UID or Aadhaar"));
    QCOMPARE(attempt("   ", "ABCDE"), QString("Please enter UID or Aadhaar"));
    QCOMPARE(attempt(wrongCheck, ""), QString("Aadhaar number is invalid"));
    QCOMPARE(attempt(letter, "ABCDE"), QString("Aadhaar number is invalid"));
    QCOMPARE(attempt(m_number.left(11), "ABCDE"), QString("Aadhaar number is invalid"));
    QCOMPARE(attempt(m_number, ""), QString("Please enter valid captcha"));
    QCOMPARE(attempt(m_number, "ABCD"), QString("Please enter valid captcha"));
    QCOMPARE(attempt(m_number, "ABCDEF"), QString("Please enter valid captcha"));
    QCOMPARE(attempt(m_number, "ABCDE"), QString("Please agree the terms&condition"));
    // Five characters outside the basic plane are five, not ten.
    screen->captchaTF->setText(QString::fromUcs4(U"\U0001D400\U0001D401\U0001D402\U0001D403\U0001D404"));
    QTest::mouseClick(submit, Qt::LeftButton);
    QCOMPARE(lastToast(), QString("Please agree the terms&condition"));
    // The checkbox toggles its image and the consent.
    QAbstractButton *checkBox = button(screen, "checkBoxBtn");
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(screen->isAgree);
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(!screen->isAgree);
    QCOMPARE(attempt(m_number, "ABCDE"), QString("Please agree the terms&condition"));
    QCOMPARE(m_sim.requestsTo(Authority::otpRoute).size(), 0);

    // The terms open over the screen.
    QTest::mouseClick(button(screen, "showAgreeBtn"), Qt::LeftButton);
    QVERIFY(std::dynamic_pointer_cast<TermsConditionVC>(screen->presentedViewController()));
    screen->dismiss(false);
    QTRY_VERIFY(!screen->presentedViewController());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
}

void TestWebApiFlow::fieldsRefuseLongerText()
{
    auto screen = start();
    QVERIFY(screen);
    waitForCaptcha(screen);
    QTest::keyClicks(screen->aadhaarNoTF, m_number + "987");
    QCOMPARE(screen->aadhaarNoTF->text().remove(' '), m_number);
    QTest::keyClicks(screen->captchaTF, QString(25, 'x'));
    QCOMPARE(screen->captchaTF->text().size(), 20);
    QTest::keyClicks(screen->otpTF, "123456789");
    QCOMPARE(screen->otpTF->text(), QString("123456"));
}

void TestWebApiFlow::refusedCaptchaRenewsIt()
{
    m_sim.authority().setCaptchaRefused(true);
    auto screen = start();
    QVERIFY(screen);
    waitForCaptcha(screen);
    const QString firstId = *screen->captchaId;
    QTest::keyClicks(screen->aadhaarNoTF, m_number);
    QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
    QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    // The authority's own words, not the kit's fallback.
    QTRY_VERIFY_WITH_TIMEOUT(!lastToast().isEmpty(), 15000);
    QCOMPARE(lastToast(), QString("Invalid Captcha. Please enter the captcha again."));
    QVERIFY(screen->captchaTF->text().isEmpty());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(screen->captchaId != firstId, 15000);
    QCOMPARE(m_sim.requestsTo(Authority::authorizeRoute).size(), 1);
    QCOMPARE(m_sim.requestsTo(Authority::captchaRoute).size(), 2);
    // The number stays for the next try.
    QCOMPARE(screen->aadhaarNoTF->text().remove(' '), m_number);
}

void TestWebApiFlow::reloadedCaptchaIsRead_data()
{
    // The reply to the reload; an invalid override: the authority's own.
    QTest::addColumn<Override>("reply");
    QTest::newRow("new captcha") << Override{};
    QTest::newRow("message not JSON") << Override::errorBody(200, QJsonObject{{"sessionActive", true},
                                                                                {"message", "<html>busy</html>"}});
    QTest::newRow("no picture") << Override::errorBody(200, QJsonObject{{"sessionActive", true},
                                                                          {"message", R"({"transactionId":"tx-np"})"}});
    // Small as a file, 17 MB as pixels: not shown, like no picture.
    QImage huge(2100, 2100, QImage::Format_RGB32);
    huge.fill(Qt::white);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    huge.save(&buffer, "PNG", 0);
    const QByteArray hugeMessage = QJsonDocument(QJsonObject{{"imageBase64", QString::fromLatin1(png.toBase64())},
                                                             {"transactionId", "tx-np"}})
                                       .toJson(QJsonDocument::Compact);
    QTest::newRow("picture too large") << Override::errorBody(200, QJsonObject{{"sessionActive", true},
                                                                                 {"message", QString::fromLatin1(hugeMessage)}});
    // Pictures that cost far more than their bytes, or lie about their size.
    const auto captchaOf = [](const QByteArray &picture) {
        const QByteArray message = QJsonDocument(QJsonObject{{"imageBase64", QString::fromLatin1(picture.toBase64())},
                                                             {"transactionId", "tx-np"}})
                                       .toJson(QJsonDocument::Compact);
        return Override::errorBody(200, QJsonObject{{"sessionActive", true}, {"message", QString::fromLatin1(message)}});
    };
    QTest::newRow("scans repeated 2,000 times") << captchaOf(testsupport::progressiveScanBomb({1024, 1024}, 2000));
    QTest::newRow("ICO saying 1x1") << captchaOf(testsupport::icoLie({5000, 5000}));
    QTest::newRow("session over") << Override::errorBody(200, QJsonObject{{"sessionActive", false}});
    // Not an active session either.
    QTest::newRow("sessionActive left out") << Override::errorBody(200, QJsonObject{{"message", "Session not found"}});
}

void TestWebApiFlow::reloadedCaptchaIsRead()
{
    QFETCH(Override, reply);
    auto screen = start();
    QVERIFY(screen);
    waitForCaptcha(screen);
    const std::optional<QString> firstId = screen->captchaId;
    const QImage firstPicture = screen->captchaImgView->image();
    const QJsonObject replyBody = QJsonDocument::fromJson(reply.reply.body).object();
    if (!replyBody.isEmpty())
        m_sim.setOverride(Authority::captchaRoute, reply.times(1));
    QTest::mouseClick(button(screen, "reloadCaptchaBtn"), Qt::LeftButton);
    QVERIFY(!screen->popupLoader->isAnimating());
    // At least the reload's; a new authorization may follow at once.
    QTRY_VERIFY_WITH_TIMEOUT(m_sim.requestsTo(Authority::captchaRoute).size() >= 2, 15000);

    const QString message = replyBody.value("message").toString();
    if (replyBody.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(screen->captchaId != firstId, 15000);
        QTRY_VERIFY(!screen->captchaImgView->image().isNull());
        QVERIFY(screen->captchaImgView->image() != firstPicture);
    } else if (!replyBody.value("sessionActive").toBool()) {
        // The authorization starts over (rather than reading the reply as a captcha), then a new captcha.
        QTRY_VERIFY_WITH_TIMEOUT(m_sim.requestsTo(Authority::authorizeRoute).size() == 2 || m_log->contains("erroMsg"),
                                 15000);
        QVERIFY(!m_log->contains("erroMsg"));
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::captchaRoute).size(), 3, 15000);
        QCOMPARE(m_sim.requestsTo(Authority::authorizeRoute).size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(screen->captchaId != firstId, 15000);
    } else if (message.startsWith('<')) {
        // Unusable: logged, nothing changes.
        QTRY_VERIFY_WITH_TIMEOUT(m_log->contains("erroMsg"), 15000);
        QCOMPARE(screen->captchaId, firstId);
        QCOMPARE(screen->captchaImgView->image(), firstPicture);
    } else {
        // No picture clears the old one; the new transaction counts.
        QTRY_COMPARE_WITH_TIMEOUT(screen->captchaId, std::optional<QString>("tx-np"), 15000);
        if (message.contains("imageBase64"))
            QTRY_VERIFY(m_log->contains("The captcha is not shown: "));
        QVERIFY(screen->captchaImgView->image().isNull());
    }
    QVERIFY(lastToast().isEmpty());
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestWebApiFlow::inactiveSessionStartsOver_data()
{
    // Which reply finds the session inactive.
    QTest::addColumn<QString>("inactive");
    QTest::newRow("session ended") << "password";
    // A refusal without "sessionActive" does not count as an active session.
    QTest::newRow("sessionActive left out") << "password, left out";
    // One start-over, then the screen waits for the person; each action of
    // the person allows one more.
    QTest::newRow("captcha replies never active") << "captcha";
}

void TestWebApiFlow::inactiveSessionStartsOver()
{
    QFETCH(QString, inactive);
    if (inactive == "captcha") {
        m_sim.authority().setCaptchaNeverActive(true);
        auto screen = start();
        QVERIFY(screen);
        // Requests sent after each stop, in flight or still queued, would be counted.
        const auto stopsAt = [&](int authorizations, int captchas) {
            QTRY_COMPARE_WITH_TIMEOUT(lastToast(), QString("Session expired."), 15000);
            QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
            QCoreApplication::processEvents();
            QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
            QCOMPARE(m_sim.requestsTo(Authority::authorizeRoute).size(), authorizations);
            QCOMPARE(m_sim.requestsTo(Authority::captchaRoute).size(), captchas);
            QVERIFY(screen->aadhaarCaptchaView->isVisible());
            QVERIFY(button(screen, "reloadCaptchaBtn")->isVisible());
            QVERIFY(!screen->popupLoader->isAnimating());
            platform::ui::hideAllToasts(platform::ui::toastWindow());
        };
        stopsAt(2, 2);
        if (QTest::currentTestFailed())
            return;
        QTest::mouseClick(button(screen, "reloadCaptchaBtn"), Qt::LeftButton);
        stopsAt(3, 4);
        if (QTest::currentTestFailed())
            return;
        // Send OTP: the authority refuses the captcha, the new one finds no session.
        QTest::keyClicks(screen->aadhaarNoTF, m_number);
        QTest::keyClicks(screen->captchaTF, "ABCDE");
        QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
        QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
        stopsAt(4, 6);
        QCOMPARE(m_sim.requestsTo(Authority::otpRoute).size(), 1);
        // Try again, as from the error panel.
        screen->tryAgainAct(button(screen, "tryAgainBtn"));
        stopsAt(6, 8);
        QVERIFY(m_receiver->reports.isEmpty());
        QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
        QCOMPARE(m_receiver->reports, (QList<QVariantMap>{{{"status", false}}}));
        return;
    }
    if (inactive == "password, left out") {
        m_sim.authority().setCaptchaRefused(true);
        m_sim.authority().setOtpSessionActiveLeftOut(true);
    } else {
        m_sim.authority().setSessionInactive(true);
    }
    auto screen = start();
    QVERIFY(screen);
    waitForCaptcha(screen);
    const QString firstVerifier = screen->codeVerifier;
    QTest::keyClicks(screen->aadhaarNoTF, m_number);
    QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
    QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(lastToast(), QString("Session expired."), 15000);
    // Started over with the toast: a new verifier at once.
    QVERIFY(!firstVerifier.isEmpty());
    QVERIFY(screen->codeVerifier != firstVerifier);
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    // A new authorization with a new challenge, then a new captcha.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::captchaRoute).size(), 2, 15000);
    const QList<sim::Request> authorize = m_sim.requestsTo(Authority::authorizeRoute);
    QCOMPARE(authorize.size(), 2);
    const auto challenge = [&](int i) { return QUrlQuery(authorize[i].query).queryItemValue("code_challenge"); };
    QVERIFY(!challenge(0).isEmpty());
    QVERIFY(challenge(0) != challenge(1));
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestWebApiFlow::refusedLoginAsksForTheOtpAgain_data()
{
    // Empty: the authority's own refusal; else where the login redirects to.
    QTest::addColumn<QByteArray>("location");
    QTest::newRow("failed") << QByteArray();
    QTest::newRow("invalid session, another error")
        << QByteArray("/" + Authority::invalidSessionPath.toUtf8() + "?error=Session%20timed%20out");
    QTest::newRow("failed without an error item") << QByteArray("/" + Authority::loginFailedPath.toUtf8());
}

void TestWebApiFlow::refusedLoginAsksForTheOtpAgain()
{
    QFETCH(QByteArray, location);
    if (location.isEmpty())
        m_sim.authority().setLoginRefused(true);
    else
        m_sim.setOverride(Authority::loginRoute, redirectTo(location));
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    // A refusal: the password again, never the token.
    QTRY_VERIFY_WITH_TIMEOUT(!lastToast().isEmpty() || !m_sim.requestsTo(Authority::tokenRoute).isEmpty(), 15000);
    QCOMPARE(m_sim.requestsTo(Authority::tokenRoute).size(), 0);
    QCOMPARE(lastToast(), QString("Please enter the correct OTP"));
    QVERIFY(screen->otpView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!screen->ErrorView->isVisible());
    QCOMPARE(m_sim.requestsTo(Authority::tokenRoute).size(), 0);

    // Verify with no password sends nothing.
    screen->otpTF->clear();
    platform::ui::hideAllToasts(&m_window);
    QTest::mouseClick(screen->otpSubmitBtn, Qt::LeftButton);
    QCOMPARE(lastToast(), QString("Please enter the correct OTP"));
    QCOMPARE(m_sim.requestsTo(Authority::loginRoute).size(), 1);
}

void TestWebApiFlow::refusalsShowTheErrorPanel_data()
{
    // Which step the authority refuses; the panel's text and the toast (empty: unchanged, none).
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("toast");
    QTest::newRow("login: internal error") << 0 << Authority::internalErrorText << Authority::internalErrorText;
    QTest::newRow("token refused") << 1 << QString() << QString();
    QTest::newRow("download refused") << 2 << Authority::tokenExpiredText << QString("Session expired.");
    // Neither refused nor a code: the token is asked for with an empty code.
    QTest::newRow("login without a code") << 3 << QString() << QString();
}

void TestWebApiFlow::refusalsShowTheErrorPanel()
{
    QFETCH(int, step);
    QFETCH(QString, panel);
    QFETCH(QString, toast);
    Authority &authority = m_sim.authority();
    if (step == 3)
        m_sim.setOverride(Authority::loginRoute, redirectTo("/" + Authority::callbackPath.toUtf8() + "?state=s"));
    else
        step == 0 ? authority.setLoginInternalError(true)
                  : step == 1 ? authority.setTokenRefused(true) : authority.setDownloadRefused(true);
    auto screen = start();
    QVERIFY(screen);
    const QString before = screen->errorTextLbl->text();
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    waitForErrorPanel(screen);
    QCOMPARE(screen->errorTextLbl->text(), panel.isEmpty() ? before : panel);
    QCOMPARE(lastToast(), toast);
    // The next step is never asked for, and the host hears nothing.
    const QString next = QList<QString>{Authority::tokenRoute, Authority::downloadRoute, Backend::documentsRoute,
                                        Authority::downloadRoute}[step];
    QCOMPARE(m_sim.requestsTo(next).size(), 0);
    QVERIFY(m_receiver->reports.isEmpty());
    QCOMPARE(m_log->contains("<----ERROR--->"), step == 2);
    if (step == 3)
        QVERIFY(m_sim.requestsTo(Authority::tokenRoute).value(0).query.endsWith("&code="));
}

void TestWebApiFlow::unusableArchiveIsReported_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("shareCode");
    QTest::newRow("damaged archive") << true << QString();
    QTest::newRow("another share code") << false << QString("1234");
}

void TestWebApiFlow::unusableArchiveIsReported()
{
    QFETCH(bool, damaged);
    QFETCH(QString, shareCode);
    m_sim.authority().setArchiveDamaged(damaged);
    m_sim.authority().setArchiveShareCode(shareCode);
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    // The panel and the report come together; a panel alone is another failure.
    QTRY_VERIFY_WITH_TIMEOUT(!m_receiver->reports.isEmpty() || screen->ErrorView->isVisible(), 20000);
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->reports[0], (QVariantMap{{"status", false}}));
    QVERIFY(screen->ErrorView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(m_log->contains("SOMETHING WENT WRONG"));
    testsupport::verifyArchiveFailureLoggedAndCleaned(*m_log);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_sim.requestsTo(Backend::documentsRoute).size(), 0);
    // Still up; back reports again.
    QCOMPARE(m_host->presentedViewController(), std::static_pointer_cast<platform::ui::ViewController>(screen));
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports.size(), 2);
    QCOMPARE(m_receiver->reports[1], (QVariantMap{{"status", false}}));
}

void TestWebApiFlow::droppedConnectionInterrupts_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("login") << Authority::loginRoute;
    QTest::newRow("token") << Authority::tokenRoute;
    QTest::newRow("download") << Authority::downloadRoute;
    QTest::newRow("submission") << Backend::documentsRoute;
}

void TestWebApiFlow::droppedConnectionInterrupts()
{
    QFETCH(QString, route);
    m_sim.setOverride(route, Override::dropConnection());
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    waitForErrorPanel(screen);
    QCOMPARE(screen->errorTextLbl->text(), interrupted);
    QCOMPARE(lastToast(), offline);
    QCOMPARE(m_sim.requestsTo(route).size(), 2); // sent, then once more
    QVERIFY(m_receiver->reports.isEmpty());
    QVERIFY(!screen->userInfoView->isVisible());
}

void TestWebApiFlow::unusableRepliesToastTheirError_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<Override>("reply");
    QTest::addColumn<QString>("toast"); // empty: the error's description, whatever it says
    QTest::newRow("authorization not UTF-8") << Authority::authorizeRoute << Override::text(200, "\xff\xfe\xfd")
                                             << QString();
    QTest::newRow("captcha not JSON") << Authority::captchaRoute << Override::htmlPage(200) << QString();
    QTest::newRow("password request not JSON") << Authority::otpRoute << Override::htmlPage(502) << QString();
    QTest::newRow("password refused without a message")
        << Authority::otpRoute << Override::errorBody(200, QJsonObject{{"status", false}, {"sessionActive", true}})
        << QString("Please enter valid captcha");
}

void TestWebApiFlow::unusableRepliesToastTheirError()
{
    QFETCH(QString, route);
    QFETCH(Override, reply);
    QFETCH(QString, toast);
    m_sim.setOverride(route, reply);
    auto screen = start();
    QVERIFY(screen);
    if (route == Authority::otpRoute) {
        waitForCaptcha(screen);
        QTest::keyClicks(screen->aadhaarNoTF, m_number);
        QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
        QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
        QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(m_log->contains("<---ERROR-->"), 15000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!lastToast().isEmpty(), 15000);
    if (!toast.isEmpty())
        QCOMPARE(lastToast(), toast);
    QTRY_VERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestWebApiFlow::nonJsonDownloadOnlyStopsTheLoader_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<Override>("reply");
    QTest::newRow("download not JSON") << Authority::downloadRoute << Override::htmlPage(200);
    // A refusal, not a transport failure: the loader stops, nothing more.
    QTest::newRow("submission refused by the backend") << Backend::supplierRoute
                                                       << Override::errorCode(500, "SUPPLIER_REJECTED");
}

void TestWebApiFlow::nonJsonDownloadOnlyStopsTheLoader()
{
    QFETCH(QString, route);
    QFETCH(Override, reply);
    m_sim.setOverride(route, reply);
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    // An earlier step refused shows the error panel instead.
    QTRY_VERIFY_WITH_TIMEOUT(!m_sim.requestsTo(route).isEmpty() || screen->ErrorView->isVisible(), 15000);
    QCOMPARE(m_sim.requestsTo(route).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!screen->popupLoader->isAnimating(), 15000);
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(!screen->userInfoView->isVisible());
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestWebApiFlow::offlineRefusesTheVerifyStep()
{
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    Reachability::simulateConnection(Reachability::Connection::unavailable);
    QTRY_VERIFY(!screen->internetAvailable);
    QCOMPARE(lastToast(), offline);
    platform::ui::hideAllToasts(&m_window);
    typeOtpAndVerify(screen);
    QCOMPARE(lastToast(), offline);
    QVERIFY(screen->otpView->isVisible());
    QCOMPARE(m_sim.requestsTo(Authority::loginRoute).size(), 0);

    // Back online, the same step goes through.
    Reachability::simulateConnection(Reachability::Connection::wifi);
    QTRY_VERIFY(screen->internetAvailable);
    QVERIFY(m_log->contains("Reachable via WiFi"));
    QTest::mouseClick(screen->otpSubmitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible() || screen->ErrorView->isVisible(), 30000);
    QVERIFY(screen->userInfoView->isVisible());
}

void TestWebApiFlow::backAtAnyStepReportsAfterDismissal_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("authorizing") << 0;
    QTest::newRow("captcha entry") << 1;
    QTest::newRow("password entry") << 2;
    QTest::newRow("record") << 3;
}

void TestWebApiFlow::backAtAnyStepReportsAfterDismissal()
{
    QFETCH(int, step);
    auto screen = start();
    QVERIFY(screen);
    if (step >= 1)
        waitForCaptcha(screen);
    if (step >= 2)
        reachOtpPanel(screen);
    if (step >= 3) {
        typeOtpAndVerify(screen);
        QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible(), 30000);
    }
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, (QList<QVariantMap>{{{"status", false}}}));
    QCOMPARE(m_receiver->screenWasUp, QList<bool>{false});
    QTRY_VERIFY(!m_host->presentedViewController());

    // Nothing more arrives, and the screen goes once its requests are done.
    std::weak_ptr<NewAadhaarFlowVC> weak = screen;
    screen.reset();
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), 15000);
    QCOMPARE(m_receiver->reports.size(), 1);
}

void TestWebApiFlow::lateReplyAfterBackIsHandled()
{
    // The download answers after the user has gone back; its archive cannot
    // be opened, so the dismissed screen reports once more.
    m_sim.authority().setArchiveDamaged(true);
    m_sim.setOverride(Authority::downloadRoute, Override::slow(800));
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::downloadRoute).size(), 1, 15000);
    std::weak_ptr<NewAadhaarFlowVC> weak = screen;
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    screen.reset();
    QCOMPARE(m_receiver->reports.size(), 1);
    QVERIFY(!weak.expired()); // the pending download holds it
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 2, 15000);
    QCOMPARE(m_receiver->reports[1], (QVariantMap{{"status", false}}));
    QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), 15000);
}

void TestWebApiFlow::documentPhotographIsDecodedWithinBounds_data()
{
    using namespace testsupport;
    // The document's photograph; what is logged when it is not shown.
    QTest::addColumn<QByteArray>("photograph");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("a JPEG") << jpegOf(photoLike({160, 200})) << QString();
    QTest::newRow("scans repeated 1,000 times") << progressiveScanBomb({4096, 4096}, 1000) << "block passes";
    QTest::newRow("ICO saying 1x1") << icoLie({5000, 5000}) << "neither a JPEG";
    QTest::newRow("a PNG") << pngOf(photoLike({160, 200})) << "a PNG picture is not taken";
}

void TestWebApiFlow::documentPhotographIsDecodedWithinBounds()
{
    QFETCH(QByteArray, photograph);
    QFETCH(QString, refusal);
    m_sim.authority().setArchiveFile(simulator::makeOfflineKycArchive(testsupport::record({}, {}, photograph.toBase64()),
                                                                      "offlineaadhaar1.xml", "9736"));
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible(), 30000);
    QCOMPARE(screen->usernameLbl->text(), QString("Asha Rao"));
    if (refusal.isEmpty()) {
        QTRY_COMPARE(screen->profilePic->image().size(), QSize(160, 200));
    } else {
        QTRY_VERIFY(m_log->contains("The photograph is not shown: "));
        QVERIFY2(m_log->contains(refusal), qPrintable(m_log->joined().right(1000)));
        QVERIFY(screen->profilePic->image().isNull());
    }
    // The record goes to the host whatever its photograph.
    QTest::mouseClick(button(screen, "proceedBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->reports[0].value("status"), QVariant(true));
    QCOMPARE(m_receiver->reports[0].value("userInfo").toMap().value("UidData").toMap().value("Pht").toString(),
             QString::fromLatin1(photograph.toBase64()));
}

void TestWebApiFlow::lateInactiveReplyAfterBackStartsNothing_data()
{
    // Which reply comes late, finding no session.
    QTest::addColumn<QString>("late");
    QTest::newRow("captcha") << "captcha";
    QTest::newRow("one-time password") << "password";
}

void TestWebApiFlow::lateInactiveReplyAfterBackStartsNothing()
{
    QFETCH(QString, late);
    if (late == "captcha") {
        m_sim.authority().setCaptchaNeverActive(true);
        m_sim.setOverride(Authority::captchaRoute, Override::slow(800).times(1));
    }
    auto screen = start();
    QVERIFY(screen);
    if (late == "captcha") {
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::captchaRoute).size(), 1, 15000);
    } else {
        waitForCaptcha(screen);
        m_sim.authority().setSessionInactive(true);
        m_sim.setOverride(Authority::otpRoute, Override::slow(800).times(1));
        QTest::keyClicks(screen->aadhaarNoTF, m_number);
        QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
        QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
        QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::otpRoute).size(), 1, 15000);
    }
    QVERIFY(platform::net::Session::shared().requestsInFlight() > 0);
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QCoreApplication::processEvents();
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QCOMPARE(m_sim.requestsTo(Authority::authorizeRoute).size(), 1);
    QCOMPARE(m_receiver->reports, (QList<QVariantMap>{{{"status", false}}}));
    if (late == "captcha")
        QVERIFY(lastToast().isEmpty());
}

void TestWebApiFlow::tryAgainStartsANewAuthorization()
{
    m_sim.authority().setDownloadRefused(true);
    auto screen = start();
    QVERIFY(screen);
    reachOtpPanel(screen);
    typeOtpAndVerify(screen);
    waitForErrorPanel(screen);

    m_sim.authority().setDownloadRefused(false);
    const std::optional<QString> firstCaptcha = screen->captchaId;
    // The login's redirect passes the authorize page too.
    const qsizetype authorizations = m_sim.requestsTo(Authority::authorizeRoute).size();
    QTest::mouseClick(button(screen, "tryAgainBtn"), Qt::LeftButton);
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(screen->captchaTF->text().isEmpty());
    QVERIFY(screen->otpTF->text().isEmpty());
    QCOMPARE(screen->aadhaarNoTF->text().remove(' '), m_number);
    QVERIFY(screen->isAgree);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Authority::authorizeRoute).size(), authorizations + 1, 15000);
    const auto challenge = [&](qsizetype i) {
        return QUrlQuery(m_sim.requestsTo(Authority::authorizeRoute).value(i).query).queryItemValue("code_challenge");
    };
    QVERIFY(!challenge(0).isEmpty());
    QVERIFY(challenge(0) != challenge(authorizations));

    // The whole way again, now to the record.
    QTRY_VERIFY_WITH_TIMEOUT(screen->captchaId != firstCaptcha, 15000);
    QTest::keyClicks(screen->captchaTF, m_sim.authority().currentCaptcha());
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 15000);
    typeOtpAndVerify(screen);
    QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible(), 30000);
}

QTEST_MAIN(TestWebApiFlow)
#include "tst_webapi_flow.moc"
