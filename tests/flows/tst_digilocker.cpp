// The DigiLocker flow end to end: the entry point chooses it, the sheet shows
// the simulator's consent page in the real web engine, and the user's choice
// reaches the host.

#include "logcapture.h"

#include "receiver.h"

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"

#include <QDialog>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QJsonObject>
#include <QtTest>

using namespace orvix;
using orvix::sim::Backend;
using orvix::sim::Override;

namespace {

using Receiver = ReportReceiver;

// When the user closes the sheet.
enum class Moment { consentPage, successURL, beforeSuccessURL };

} // namespace

Q_DECLARE_METATYPE(Moment)

class TestDigiLocker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void allowReachesTheSuccessURL_data();
    void allowReachesTheSuccessURL();
    void denyPostsTheWebhookThenFails();
    void refusedStartPassesTheBackendMessage();
    void unusableStartIsRefused();
    void failedStartReportsOffline();
    void equalRedirectURLsTakeTheFailurePath();
    void nearMissURLEndsNothing();
    void userClosingTheSheetIsReported_data();
    void userClosingTheSheetIsReported();
    void noHostControllerShowsNothing();
    void lateReplyAfterCloseIsHandled();
    void failedWebhookStillEndsTheFlow();

private:
    // Starts a run with DigiLocker first; returns the presented screen.
    std::shared_ptr<DigiLockerViewController> start(const QString &success, const QString &failure);
    void waitForConsentPage(const std::shared_ptr<DigiLockerViewController> &screen);
    void click(const std::shared_ptr<DigiLockerViewController> &screen, const QString &elementId);
    void navigate(const std::shared_ptr<DigiLockerViewController> &screen, const QString &url);
    void checkLogHoldsNoSecret();

    sim::Simulator m_sim;
    QWidget m_window;
    std::shared_ptr<platform::ui::ViewController> m_host;
    std::shared_ptr<Receiver> m_receiver;
    std::shared_ptr<OrvixEntryPoint> m_entry;
    std::unique_ptr<LogCapture> m_log;
};

void TestDigiLocker::initTestCase()
{
    QVERIFY(m_sim.start());
    internal::setBackendBaseURL(m_sim.backendBaseUrl());
    m_window.resize(480, 800);
    m_window.show();
    m_host = platform::ui::ViewController::wrapping(&m_window);
}

void TestDigiLocker::init()
{
    m_sim.reset();
    m_receiver = std::make_shared<Receiver>();
    m_log = std::make_unique<LogCapture>();
}

void TestDigiLocker::cleanup()
{
    // Whatever a test left on screen goes before the next one.
    if (m_host->presentedViewController())
        m_host->dismiss(false);
    QTRY_VERIFY(!m_host->presentedViewController());
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    m_entry.reset();
    m_log.reset();
}

std::shared_ptr<DigiLockerViewController> TestDigiLocker::start(const QString &success, const QString &failure)
{
    m_entry = OrvixEntryPoint::create(Backend::defaultCredential, "user-42", success, failure, Mode::sandbox, m_host);
    m_entry->orvixEntryDelegate = m_receiver;
    m_entry->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
    m_entry->beginKYCFLow();
    std::shared_ptr<DigiLockerViewController> screen;
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(m_host->presentedViewController() || !m_receiver->reports.isEmpty(), 15000);
    }();
    screen = std::dynamic_pointer_cast<DigiLockerViewController>(m_host->presentedViewController());
    return screen;
}

void TestDigiLocker::waitForConsentPage(const std::shared_ptr<DigiLockerViewController> &screen)
{
    QTRY_VERIFY_WITH_TIMEOUT(screen->webcontentView && screen->webcontentView->url()
                                 && screen->webcontentView->url()->path().endsWith("/digilocker/consent")
                                 && m_log->contains("Finished loading"),
                             30000);
}

void TestDigiLocker::navigate(const std::shared_ptr<DigiLockerViewController> &screen, const QString &url)
{
    bool done = false;
    screen->webcontentView->evaluateJavaScript(
        QStringLiteral("location.href = '%1'; true").arg(url),
        [&done](const QVariant &, const std::optional<platform::web::WebError> &) { done = true; });
    QTRY_VERIFY(done);
}

void TestDigiLocker::checkLogHoldsNoSecret()
{
    // The credential and the transaction (in the consent page's query) stay out of the log.
    const QString log = m_log->joined();
    const QString tx = m_sim.backend().issuedTransactionIds().value(0);
    QVERIFY(!tx.isEmpty());
    for (const QString &secret : {Backend::defaultCredential, tx})
        QVERIFY2(!log.contains(secret), qPrintable(secret));
}

void TestDigiLocker::click(const std::shared_ptr<DigiLockerViewController> &screen, const QString &elementId)
{
    bool done = false;
    screen->webcontentView->evaluateJavaScript(
        QStringLiteral("document.getElementById('%1').click(); true").arg(elementId),
        [&done](const QVariant &, const std::optional<platform::web::WebError> &) { done = true; });
    QTRY_VERIFY(done);
}

void TestDigiLocker::allowReachesTheSuccessURL_data()
{
    // Appended to the simulator's host success and failure URLs.
    QTest::addColumn<QString>("success");
    QTest::addColumn<QString>("failure");
    QTest::newRow("plain") << QString() << QString();
    // Only the whole failure URL is a failure.
    QTest::newRow("success URL extends the failure URL") << QString("FAILURE/done") << QString();
    QTest::newRow("escaped blank") << QString("?name=a%20b") << QString();
    QTest::newRow("non-ASCII") << QString::fromUtf8("?city=Bengalur\u016b") << QString("?city=Bengalur\u016b");
}

void TestDigiLocker::allowReachesTheSuccessURL()
{
    QFETCH(QString, success);
    QFETCH(QString, failure);
    success = success.startsWith("FAILURE") ? m_sim.hostFailureUrl() + success.mid(7) : m_sim.hostSuccessUrl() + success;
    failure = m_sim.hostFailureUrl() + failure;
    auto screen = start(success, failure);
    QVERIFY(screen);
    // Presented as a sheet whose user close the entry point hears about.
    QCOMPARE(screen->modalPresentationStyle, platform::ui::ModalPresentationStyle::automatic);
    QVERIFY(screen->presentationController());
    QCOMPARE(screen->presentationController()->delegate.get(),
             static_cast<platform::ui::AdaptivePresentationControllerDelegate *>(m_entry.get()));
    QCOMPARE(screen->merchantId.value(), Backend::defaultCredential);

    waitForConsentPage(screen);
    QVERIFY(screen->webcontentView->parentWidget() == screen->view());
    QVERIFY(screen->webcontentView->allowsBackForwardNavigationGestures());
    QVERIFY(!screen->spinnerIc->isAnimating());

    const QJsonObject sent = m_sim.requestsTo(Backend::initDocFetchRoute).value(0).json.toObject();
    QCOMPARE(sent.value("callbackUrl").toString(), success);
    QCOMPARE(sent.value("cancelUrl").toString(), failure);
    QCOMPARE(sent.value("docType").toString(), QString("aadhaar"));
    QCOMPARE(sent.value("username").toString(), QString("user-42"));

    // The host may let go of the entry point: the screen keeps it.
    std::weak_ptr<OrvixEntryPoint> entry = m_entry;
    m_entry.reset();
    QVERIFY(!entry.expired());

    click(screen, "allow");
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QCOMPARE(m_receiver->reports[0], (QVariantMap{{"status", true}}));
    QTRY_VERIFY(!m_host->presentedViewController());
    QVERIFY(m_log->contains("----Next Move---"));
    QCOMPARE(m_sim.requestsTo(Backend::webhookRoute).size(), 0);
    checkLogHoldsNoSecret();

    std::weak_ptr<DigiLockerViewController> weakScreen = screen;
    screen.reset();
    QTRY_VERIFY(weakScreen.expired());
    QTRY_VERIFY(entry.expired());
}

void TestDigiLocker::denyPostsTheWebhookThenFails()
{
    // While the webhook is under way, the page moves on to the success URL and
    // back to the failure URL: only the first redirect acts.
    m_sim.setOverride(Backend::webhookRoute, Override::slow(3000));
    auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
    QVERIFY(screen);
    waitForConsentPage(screen);
    click(screen, "deny");
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(Backend::webhookRoute).size(), 1, 15000);
    navigate(screen, m_sim.hostSuccessUrl());
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(sim::DigiLocker::hostSuccessRoute).size(), 1, 15000);
    navigate(screen, m_sim.hostFailureUrl());
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.requestsTo(sim::DigiLocker::hostFailureRoute).size(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QCoreApplication::processEvents();
    QCOMPARE(m_receiver->reports, (QList<QVariantMap>{{{"status", false}}}));
    const QList<sim::Request> hooks = m_sim.requestsTo(Backend::webhookRoute);
    QCOMPARE(hooks.size(), 1);
    QCOMPARE(hooks[0].json.toObject().value("status"), QJsonValue("3"));
    QCOMPARE(hooks[0].json.toObject().value("transactionId").toString(),
             m_sim.backend().issuedTransactionIds().value(0));
    QCOMPARE(hooks[0].header("X-Kalmar-Auth-Credential-ID"), Backend::defaultCredential.toUtf8());
    QTRY_VERIFY(!m_host->presentedViewController());
    checkLogHoldsNoSecret();
}

void TestDigiLocker::refusedStartPassesTheBackendMessage()
{
    m_sim.backend().refuseDocFetch(422, "Aadhaar is not linked to DigiLocker");
    auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QCOMPARE(m_receiver->reports[0].value("status").toBool(), false);
    QCOMPARE(m_receiver->reports[0].value("error").toMap().value("message").toString(),
             QString("Aadhaar is not linked to DigiLocker"));
    QTRY_VERIFY(!m_host->presentedViewController());
    QVERIFY(m_log->contains("ERROR: SOMETHING WENT WRONG"));
    // The page was never loaded.
    QVERIFY(!screen || !screen->webcontentView || !screen->webcontentView->parentWidget());

    // Absent values go out as empty texts: the body always has its four keys.
    auto vm = std::make_shared<DigiLockerViewModel>();
    bool answered = false;
    vm->initDocFetch(Backend::defaultCredential, m_sim.backendBaseUrl(), clientInfo{Backend::defaultCredential},
                     [&](const QVariant &) { answered = true; }, [&](const Error &) { answered = true; });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 15000);
    QCOMPARE(m_sim.requestsTo(Backend::initDocFetchRoute).value(1).jsonObject(),
             (QJsonObject{{"callbackUrl", ""}, {"cancelUrl", ""}, {"docType", "aadhaar"}, {"username", ""}}));
}

void TestDigiLocker::unusableStartIsRefused()
{
    // A 200 whose "url" is not a web address is refused rather than loaded.
    for (const QString &url : {QString("javascript:alert(1)"), QString("file:///etc/passwd"), QString("ftp://host/x"),
                               QString()}) {
        m_receiver->reports.clear();
        m_sim.setOverride(Backend::initDocFetchRoute,
                          Override::errorBody(200, QJsonObject{{"transactionId", "t-1"}, {"url", url}}));
        auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
        // Refused, not shown in the web view.
        const auto shown = [&] {
            return screen && screen->webcontentView && screen->webcontentView->parentWidget() == screen->view();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!m_receiver->reports.isEmpty() || shown(), 15000);
        QVERIFY2(!shown(), qPrintable(url));
        QCOMPARE(m_receiver->reports.size(), 1);
        QCOMPARE(m_receiver->reports[0], (QVariantMap{{"status", false}, {"error", QVariantMap{{"message", ""}}}}));
        QTRY_VERIFY(!m_host->presentedViewController());
    }
}

void TestDigiLocker::failedStartReportsOffline()
{
    m_sim.setOverride(Backend::initDocFetchRoute, Override::dropConnection());
    start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QCOMPARE(m_receiver->reports[0].value("error").toMap().value("message").toString(),
             QString("You are offline! please check your internet connection."));
    QTRY_VERIFY(!m_host->presentedViewController());
    QCOMPARE(m_sim.requestsTo(Backend::initDocFetchRoute).size(), 2); // one retry
}

void TestDigiLocker::equalRedirectURLsTakeTheFailurePath()
{
    auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostSuccessUrl());
    QVERIFY(screen);
    waitForConsentPage(screen);
    click(screen, "allow");
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QCOMPARE(m_receiver->reports[0], (QVariantMap{{"status", false}}));
    QCOMPARE(m_sim.requestsTo(Backend::webhookRoute).size(), 1);
}

void TestDigiLocker::nearMissURLEndsNothing()
{
    // The host's success URL has a trailing slash; the page lands without it.
    const QString success = m_sim.hostSuccessUrl() + "/";
    auto screen = start(success, m_sim.hostFailureUrl());
    QVERIFY(screen);
    waitForConsentPage(screen);
    bool done = false;
    screen->webcontentView->evaluateJavaScript(
        QStringLiteral("location.href = '%1?x=1'; true").arg(m_sim.hostSuccessUrl()),
        [&](const QVariant &, const std::optional<platform::web::WebError> &) { done = true; });
    QTRY_VERIFY(done);
    QTRY_VERIFY_WITH_TIMEOUT(m_log->contains(m_sim.hostSuccessUrl() + "?x=<redacted> == Optional(\"" + success + "\")"), 15000);
    QTRY_VERIFY(m_sim.requestsTo(sim::DigiLocker::hostSuccessRoute).size() == 1);
    QCoreApplication::processEvents();
    QVERIFY(m_receiver->reports.isEmpty());
    QCOMPARE(m_host->presentedViewController(), std::static_pointer_cast<platform::ui::ViewController>(screen));
}

void TestDigiLocker::userClosingTheSheetIsReported_data()
{
    QTest::addColumn<bool>("escape");
    QTest::addColumn<Moment>("moment");
    QTest::addColumn<bool>("status");
    QTest::newRow("close button") << false << Moment::consentPage << false;
    QTest::newRow("Escape in the page") << true << Moment::consentPage << false;
    // The page's URL change is queued for the screen before the close is.
    QTest::newRow("on the page's move to the success URL") << false << Moment::successURL << true;
    // The close is handled first; the page, still loading, arrives afterwards.
    QTest::newRow("just before the success URL") << false << Moment::beforeSuccessURL << false;
}

void TestDigiLocker::userClosingTheSheetIsReported()
{
    QFETCH(bool, escape);
    QFETCH(Moment, moment);
    QFETCH(bool, status);
    // The races are run often enough to show an order that depends on timing.
    const int runs = moment == Moment::consentPage ? 1 : 20;
    for (int run = 0; run < runs; ++run) {
        m_receiver->reports.clear();
        // "Finished loading" of this run's page, not of the last one.
        m_log.reset();
        m_log = std::make_unique<LogCapture>();
        auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
        QVERIFY(screen);
        waitForConsentPage(screen);
        auto *sheet = qobject_cast<QDialog *>(screen->view()->window());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        // Titled as its screen, not as the program.
        QVERIFY(!screen->view()->windowTitle().isEmpty());
        QCOMPARE(sheet->windowTitle(), screen->view()->windowTitle());
        // Sees each URL after the screen has.
        bool atSuccess = false;
        const platform::web::Observation seen = screen->webcontentView->observeURL([&](const std::optional<QUrl> &url) {
            atSuccess = atSuccess || (url && url->toString().startsWith(m_sim.hostSuccessUrl()));
        });
        if (moment == Moment::successURL) {
            QObject::connect(screen->webcontentView->engineView()->page(), &QWebEnginePage::urlChanged, sheet,
                             [&, sheet](const QUrl &url) {
                                 if (url.toString().startsWith(m_sim.hostSuccessUrl()))
                                     sheet->close();
                             });
            click(screen, "allow");
        } else if (moment == Moment::beforeSuccessURL) {
            sheet->close();
            navigate(screen, m_sim.hostSuccessUrl());
        } else if (escape) {
            // Into the page, as the person pressing the key would be.
            QWidget *page = screen->webcontentView->engineView()->focusProxy();
            sheet->activateWindow();
            QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(5, 5));
            QTRY_COMPARE(QApplication::focusWidget(), page);
            QTest::keyClick(page, Qt::Key_Escape);
        } else {
            sheet->close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_receiver->reports.isEmpty(), 15000);
        if (moment != Moment::consentPage)
            QTRY_VERIFY_WITH_TIMEOUT(atSuccess, 15000);
        QCoreApplication::processEvents(); // whatever was queued with the last of the two
        QCOMPARE(m_receiver->reports, (QList<QVariantMap>{{{"status", status}}}));
        QTRY_VERIFY(!m_host->presentedViewController());
    }
}

void TestDigiLocker::noHostControllerShowsNothing()
{
    m_entry = OrvixEntryPoint::create(Backend::defaultCredential, "user-42", m_sim.hostSuccessUrl(),
                                      m_sim.hostFailureUrl(), Mode::sandbox, m_host);
    m_entry->orvixEntryDelegate = m_receiver;
    m_entry->delegate = nullptr;
    m_entry->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
    m_entry->beginKYCFLow();
    QTRY_VERIFY(m_log->contains("<--- digilockerFlow -->"));
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QCoreApplication::processEvents();
    QVERIFY(!m_host->presentedViewController());
    QVERIFY(m_receiver->reports.isEmpty());
    QCOMPARE(m_sim.requestsTo(Backend::initDocFetchRoute).size(), 0);
}

void TestDigiLocker::lateReplyAfterCloseIsHandled()
{
    // The user closes the sheet while the start is still under way; the
    // refusal that arrives afterwards is handled on the dismissed screen.
    m_sim.backend().refuseDocFetch(400, "Too late");
    m_sim.setOverride(Backend::initDocFetchRoute, Override::slow(400));
    auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
    QVERIFY(screen);
    std::weak_ptr<DigiLockerViewController> weak = screen;
    auto *sheet = qobject_cast<QDialog *>(screen->view()->window());
    QVERIFY(sheet);
    screen.reset();
    sheet->close();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->reports[0], (QVariantMap{{"status", false}}));
    QVERIFY(!weak.expired()); // the pending request keeps it
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 2, 15000);
    QCOMPARE(m_receiver->reports[1].value("status").toBool(), false);
    QTRY_VERIFY(weak.expired());
}

void TestDigiLocker::failedWebhookStillEndsTheFlow()
{
    m_sim.setOverride(Backend::webhookRoute, Override::dropConnection());
    auto screen = start(m_sim.hostSuccessUrl(), m_sim.hostFailureUrl());
    QVERIFY(screen);
    waitForConsentPage(screen);
    click(screen, "deny");
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 15000);
    QCOMPARE(m_receiver->reports[0].value("error").toMap().value("message").toString(),
             QString("You are offline! please check your internet connection."));
    QTRY_VERIFY(!m_host->presentedViewController());
    QCOMPARE(m_sim.requestsTo(Backend::webhookRoute).size(), 2);
}

QTEST_MAIN(TestDigiLocker)
#include "tst_digilocker.moc"
