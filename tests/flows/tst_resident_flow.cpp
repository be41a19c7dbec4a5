// The resident-web-page Aadhaar flow end to end: the entry point launches its
// screen, the real web engine loads the simulator's resident page, the user
// types into the kit's fields and presses its buttons.

#include "archivefailure.h"
#include "fixturedocument.h"
#include "logcapture.h"
#include "picturebombs.h"

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"
#include "platform/dispatch/dispatch.h"
#include "platform/net/session.h"
#include "platform/zip/ziparchive.h"
#include "platform/ui/toast.h"
#include "simulator/Simulator.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QAbstractButton>
#include <QMutex>
#include <QRegularExpression>
#include <QtTest>

using namespace orvix;
using orvix::sim::Authority;
using orvix::sim::Backend;
using orvix::sim::Override;
using orvix::sim::ResidentPortal;

Q_DECLARE_METATYPE(orvix::sim::Override)
Q_DECLARE_METATYPE(orvix::simulator::ArchiveForm)

// A helper's failed check ends the test too.
#define STEP(call)                                                                                                     \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

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

const QVariantMap failed{{"status", false}};


QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(ORVIX_FIXTURES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString validNumber()
{
    for (int d = 0; d < 10; ++d) {
        const QString n = QStringLiteral("34567890123") + QString::number(d);
        if (Authority::isValidAadhaar(n))
            return n;
    }
    return {};
}

QString grouped(const QString &number)
{
    return number.left(4) + ' ' + number.mid(4, 4) + ' ' + number.mid(8);
}

QString lastToast()
{
    const QList<platform::ui::ShownToast> toasts = platform::ui::shownToasts();
    return toasts.isEmpty() ? QString() : toasts.last().message;
}

// Runs a script in the page and waits for its answer.
QVariant evaluate(platform::web::WebView *view, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    view->evaluateJavaScript(script, [result](const QVariant &value, const std::optional<platform::web::WebError> &) {
        *result = value;
    });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, 10000))
        return QStringLiteral("<no answer>");
    return **result;
}

QString pageField(platform::web::WebView *view, const QString &id)
{
    return evaluate(view, QStringLiteral("document.getElementById('%1').value").arg(id)).toString();
}

} // namespace

class TestResidentFlow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeRoadReachesTheHost_data();
    void wholeRoadReachesTheHost();
    void pagePictureIsDecodedWithinBounds_data();
    void pagePictureIsDecodedWithinBounds();
    void submitChecksRunInOrder();
    void wrongCaptchaRenewsIt();
    void replyWithNeitherTextChangesNothing_data();
    void replyWithNeitherTextChangesNothing();
    void typedTextReachesThePageAsTyped_data();
    void typedTextReachesThePageAsTyped();
    void pageThatCannotLoadShowsTheErrorPanel();
    void failedDownloadInterrupts_data();
    void failedDownloadInterrupts();
    void unusableArchiveIsReported_data();
    void unusableArchiveIsReported();
    void failedSubmissionIsReported_data();
    void failedSubmissionIsReported();
    void backReportsAfterDismissal_data();
    void backReportsAfterDismissal();
    void leftScreenIsReleasedOnTheMainThread_data();
    void leftScreenIsReleasedOnTheMainThread();

private:
    std::shared_ptr<OldAadhaarFlowVC> start();
    QAbstractButton *button(const std::shared_ptr<OldAadhaarFlowVC> &screen, const char *name);
    void waitForFirstStep(const std::shared_ptr<OldAadhaarFlowVC> &screen);
    void typeDetailsAndSubmit(const std::shared_ptr<OldAadhaarFlowVC> &screen, const QString &captcha);
    void reachOtpPanel(const std::shared_ptr<OldAadhaarFlowVC> &screen);
    void typeOtpAndVerify(const std::shared_ptr<OldAadhaarFlowVC> &screen, const QString &otp = {});
    void waitForRecord(const std::shared_ptr<OldAadhaarFlowVC> &screen);

    sim::Simulator m_sim;
    QWidget m_window;
    std::shared_ptr<platform::ui::ViewController> m_host;
    std::shared_ptr<Receiver> m_receiver;
    std::shared_ptr<OrvixEntryPoint> m_entry;
    std::unique_ptr<LogCapture> m_log;
    QString m_number;
};

void TestResidentFlow::initTestCase()
{
    QVERIFY(m_sim.start());
    internal::setBackendBaseURL(m_sim.backendBaseUrl());
    internal::setResidentPortalURL(m_sim.residentPortalUrl());
    // Toasts stay until replaced, so each check sees the latest one.
    platform::ui::ToastManager::shared().duration = 600000;
    m_window.resize(480, 900);
    m_window.show();
    m_host = platform::ui::ViewController::wrapping(&m_window);
    m_number = validNumber();
    QVERIFY(!m_number.isEmpty());
}

void TestResidentFlow::init()
{
    m_sim.reset();
    platform::ui::hideAllToasts(&m_window);
    m_receiver = std::make_shared<Receiver>();
    m_receiver->host = m_host;
    m_log = std::make_unique<LogCapture>();
}

void TestResidentFlow::cleanup()
{
    if (m_host->presentedViewController())
        m_host->dismiss(false);
    QTRY_VERIFY(!m_host->presentedViewController());
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    m_entry.reset();
    m_log.reset();
}

std::shared_ptr<OldAadhaarFlowVC> TestResidentFlow::start()
{
    m_entry = OrvixEntryPoint::create(Backend::defaultCredential, "user-7", m_sim.hostSuccessUrl(),
                                      m_sim.hostFailureUrl(), Mode::sandbox, m_host);
    m_entry->orvixEntryDelegate = m_receiver;
    m_entry->addConfig({Config::residentUidaiAadhaarFlow, Config::myAadhaarUidaiFlow});
    m_entry->beginKYCFLow();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(m_host->presentedViewController() || !m_receiver->reports.isEmpty(), 15000); }();
    return std::dynamic_pointer_cast<OldAadhaarFlowVC>(m_host->presentedViewController());
}

QAbstractButton *TestResidentFlow::button(const std::shared_ptr<OldAadhaarFlowVC> &screen, const char *name)
{
    return screen->view()->findChild<QAbstractButton *>(QLatin1String(name));
}

void TestResidentFlow::waitForFirstStep(const std::shared_ptr<OldAadhaarFlowVC> &screen)
{
    QTRY_VERIFY_WITH_TIMEOUT(!screen->captchaImgView->image().isNull(), 20000);
    QVERIFY(screen->popUpMainView->isVisible());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->spinnerIc->isAnimating());
    QVERIFY(!screen->popupLoader->isAnimating());
}

void TestResidentFlow::typeDetailsAndSubmit(const std::shared_ptr<OldAadhaarFlowVC> &screen, const QString &captcha)
{
    screen->aadhaarNoTF->clear();
    QTest::keyClicks(screen->aadhaarNoTF, grouped(m_number));
    QTest::keyClicks(screen->captchaTF, captcha);
    if (!screen->isAgree)
        QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
}

void TestResidentFlow::reachOtpPanel(const std::shared_ptr<OldAadhaarFlowVC> &screen)
{
    STEP(waitForFirstStep(screen));
    typeDetailsAndSubmit(screen, m_sim.residentPortal().currentCaptcha());
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 20000);
    QVERIFY(!screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
}

void TestResidentFlow::typeOtpAndVerify(const std::shared_ptr<OldAadhaarFlowVC> &screen, const QString &otp)
{
    QVERIFY(!m_sim.residentPortal().lastOtp().isEmpty());
    QTest::keyClicks(screen->otpTF, otp.isEmpty() ? m_sim.residentPortal().lastOtp() : otp);
    QTest::mouseClick(screen->otpSubmitBtn, Qt::LeftButton);
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(screen->popupLoader->isAnimating());
}

void TestResidentFlow::waitForRecord(const std::shared_ptr<OldAadhaarFlowVC> &screen)
{
    QTRY_VERIFY_WITH_TIMEOUT(screen->userInfoView->isVisible(), 30000);
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!screen->ErrorView->isVisible());
}

void TestResidentFlow::pagePictureIsDecodedWithinBounds_data()
{
    using namespace testsupport;
    // What the page hands over as its captcha; what is logged when it is not shown.
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("a small JPEG") << jpegOf(photoLike({175, 50})) << QString();
    QTest::newRow("scans repeated 2,000 times") << progressiveScanBomb({1024, 1024}, 2000) << "more than 64 scans";
    QTest::newRow("5600x5600 PNG") << bigPng({5600, 5600}) << "5600x5600";
    QTest::newRow("ICO saying 1x1") << icoLie({5000, 5000}) << "neither a JPEG nor a PNG";
}

void TestResidentFlow::pagePictureIsDecodedWithinBounds()
{
    QFETCH(QByteArray, picture);
    QFETCH(QString, refusal);
    m_sim.residentPortal().setCanvasPicture(picture);
    auto screen = start();
    QVERIFY(screen);
    if (refusal.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(screen->captchaImgView->image().size(), QSize(175, 50), 20000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(m_log->contains("The captcha is not shown: "), 20000);
        QVERIFY2(m_log->contains(refusal), qPrintable(m_log->joined().right(2000)));
        QVERIFY(screen->captchaImgView->image().isNull());
    }
    // The person reads the captcha some other way, and the run goes on to its report.
    QTRY_VERIFY(screen->aadhaarCaptchaView->isVisible());
    typeDetailsAndSubmit(screen, m_sim.residentPortal().currentCaptcha());
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 20000);
    STEP(typeOtpAndVerify(screen));
    STEP(waitForRecord(screen));
    QTest::mouseClick(button(screen, "proceedBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->reports[0].value("status"), QVariant(true));
}

void TestResidentFlow::wholeRoadReachesTheHost_data()
{
    using simulator::ArchiveForm;
    QTest::addColumn<ArchiveForm>("archiveForm");
    QTest::addColumn<QString>("fixture"); // served instead of a generated archive
    QTest::newRow("traditional") << ArchiveForm::traditional << QString();
    QTest::newRow("AES AE-1") << ArchiveForm::aesAe1 << QString();
    QTest::newRow("AES AE-2") << ArchiveForm::aesAe2 << QString();
    QTest::newRow("Info-ZIP traditional file") << ArchiveForm::traditional << QString("traditional-infozip.zip");
}

void TestResidentFlow::wholeRoadReachesTheHost()
{
    QFETCH(simulator::ArchiveForm, archiveForm);
    QFETCH(QString, fixture);
    m_sim.residentPortal().setArchiveForm(archiveForm);
    if (!fixture.isEmpty())
        m_sim.residentPortal().setArchiveFile(::fixture(fixture));
    auto screen = start();
    QVERIFY(screen);
    QCOMPARE(screen->modalPresentationStyle, platform::ui::ModalPresentationStyle::fullScreen);
    QCOMPARE(screen->view()->window(), &m_window);
    QVERIFY(m_log->contains("<--- residentUidaiAadhaarFlow OLD Flow-->"));
    QCOMPARE(screen->urlComponent, std::optional<QString>(m_sim.backendBaseUrl()));

    // The picture is the page's captcha drawn into 175 x 50: the simulator's
    // light background on the left, nothing beyond its 160 pixels.
    STEP(waitForFirstStep(screen));
    QVERIFY(screen->webcontentView && screen->webcontentView->parentWidget() == screen->webMainView);
    QCOMPARE(screen->webcontentView->url(), std::optional<QUrl>(QUrl(m_sim.residentPortalUrl() + "offline-kyc")));
    const QImage captcha = screen->captchaImgView->image().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(captcha.size(), QSize(175, 50));
    QCOMPARE(qAlpha(captcha.pixel(170, 25)), 0);
    int background = 0;
    for (int x = 0; x < 160; ++x) {
        for (int y = 0; y < 50; ++y)
            background += captcha.pixel(x, y) == qRgb(0xee, 0xf2, 0xf7);
    }
    QVERIFY2(background > 160 * 50 / 2, qPrintable(QString::number(background)));

    // Typed in groups of four; the page gets the digits alone.
    QTest::keyClicks(screen->aadhaarNoTF, grouped(m_number));
    QCOMPARE(screen->aadhaarNoTF->text(), grouped(m_number));
    const QString code = m_sim.residentPortal().currentCaptcha();
    QTest::keyClicks(screen->captchaTF, code);
    QTest::mouseClick(button(screen, "checkBoxBtn"), Qt::LeftButton);
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QVERIFY(screen->isAdhaarDetailsFilled);
    QVERIFY(!screen->aadhaarCaptchaView->isVisible());
    QVERIFY(screen->popupLoader->isAnimating());
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 20000);
    QVERIFY(!screen->popupLoader->isAnimating());
    const QList<sim::Request> posts = m_sim.requestsTo(ResidentPortal::postRoute);
    QCOMPARE(posts.size(), 1);
    const auto form = ResidentPortal::rawFormFields(posts[0].body);
    QVERIFY(form.contains(qMakePair(QByteArray("uid1"), m_number.toLatin1())));
    QVERIFY(form.contains(qMakePair(QByteArray("security_code"), code.toLatin1())));

    // A password of blanks only is none: a toast, nothing sent.
    QTest::keyClicks(screen->otpTF, "   ");
    QTest::mouseClick(screen->otpSubmitBtn, Qt::LeftButton);
    QCOMPARE(lastToast(), QString("Please enter the correct OTP"));
    QVERIFY(screen->otpView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!m_sim.residentPortal().lastDownload());
    screen->otpTF->clear();

    // The record is committed, and its submission started, on the main
    // thread: the line that starts the submission tells on which.
    QMutex threadsMutex;
    QList<bool> documentsStartedOnMain;
    const QString documentsLine = m_sim.backendBaseUrl() + "documents\n";
    platform::log::Sink capture;
    capture = platform::log::setSink([&](const QString &text) {
        if (text.startsWith(documentsLine)) {
            QMutexLocker lock(&threadsMutex);
            documentsStartedOnMain.append(platform::dispatch::isMainThread());
        }
        if (capture)
            capture(text);
    });
    const QString otp = m_sim.residentPortal().lastOtp();
    typeOtpAndVerify(screen);
    if (!QTest::currentTestFailed())
        waitForRecord(screen);
    platform::log::setSink(std::move(capture));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(documentsStartedOnMain, QList<bool>{true});

    // The download: the page's form fields in order, the web view's session
    // cookie, the two headers; the page's own fields were filled too.
    const auto download = m_sim.residentPortal().lastDownload();
    QVERIFY(download && download->served);
    const QList<QPair<QByteArray, QByteArray>> expectedFields{
        {"task", "valOtp"}, {"boxchecked", "0"}, {"zipcode", "9736"}, {"totp", otp.toLatin1()},
        {"task", "valOtp"}, {"boxchecked", "0"}};
    QCOMPARE(download->rawFields, expectedFields);
    std::optional<QList<QNetworkCookie>> webCookies;
    platform::web::WebView::cookieStore().allCookies([&](const QList<QNetworkCookie> &c) { webCookies = c; });
    QTRY_VERIFY(webCookies);
    QByteArray session;
    for (const QNetworkCookie &c : *webCookies) {
        if (c.name() == ResidentPortal::sessionCookie)
            session = c.value();
    }
    QVERIFY(!session.isEmpty());
    QVERIFY2(download->cookie.contains(ResidentPortal::sessionCookie + '=' + session), download->cookie);
    const sim::Request post = m_sim.requestsTo(ResidentPortal::postRoute).last();
    QCOMPARE(post.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QVERIFY(post.hasHeader("Accept-Encoding"));
    QCOMPARE(post.header("Accept-Encoding"), QByteArray());
    QCOMPARE(pageField(screen->webcontentView, "spaced-inputenter-otp"), QString("9736"));
    QCOMPARE(pageField(screen->webcontentView, "totp"), otp);

    // Nothing of the document is left on disk.
    QTRY_VERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::temporaryDirectory() + "aadhaar.xml"));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::unzipDirectory()));

    // The record shown is the document served.
    const auto served = m_sim.residentPortal().lastDocument();
    QVERIFY(served);
    QByteArray xml = served->xml;
    const simulator::OfflineKycDocument doc = fixture.isEmpty() ? served->document
        : testsupport::fixtureDocument(QStringLiteral(ORVIX_FIXTURES_DIR "/offlineaadhaar20230830234456427.xml"), &xml);
    QCOMPARE(screen->usernameLbl->text(), doc.name);
    QCOMPARE(screen->dobLbl->text(), doc.dob);
    QVERIFY(screen->addressLbl->text().endsWith(doc.dist + " - " + doc.pc + ", " + doc.state + ", " + doc.country + "."));
    QTRY_COMPARE(screen->profilePic->image().size(), QImage::fromData(doc.photo).size());
    // The archive was opened and its document read on a worker.
    QVERIFY(m_log->contains("XML document: "));
    QCOMPARE(m_log->mainThreadLines().filter(QRegularExpression("^(UNZIPPED|XML document: )")), QStringList());

    // The backend got the record as this flow's kind, with the archive.
    QCOMPARE(m_sim.requestsTo(Backend::documentsRoute).size(), 1);
    const QList<sim::Request> supplier = m_sim.requestsTo(Backend::supplierRoute);
    QCOMPARE(supplier.size(), 1);
    QCOMPARE(supplier[0].path, Backend::path("v1/suppliers/offline-aadhaar-old"));
    QCOMPARE(supplier[0].jsonObject().value("name").toString(), doc.name);
    QCOMPARE(supplier[0].jsonObject().value("id").toString(), QString("user-7"));
    const QList<sim::Request> upload = m_sim.requestsTo(Backend::documentObjectRoute);
    QCOMPARE(upload.size(), 1);
    QVERIFY(upload[0].parts && upload[0].parts->size() == 1);
    QCOMPARE(upload[0].parts->first().data, served->archive);

    // The log names the form's fields, never what the user typed or the record.
    QVERIFY(m_log->contains("Sync Request Body: task=<redacted>&boxchecked=<redacted>&zipcode=<redacted>"
                            "&totp=<redacted>&task=<redacted>&boxchecked=<redacted>"));
    QVERIFY(m_log->contains(QString("XML document: %1 bytes").arg(xml.size())));
    const QString log = m_log->joined();
    for (const QString &secret : {m_number, code, otp, doc.name, doc.dob, doc.street, QString::fromLatin1(session),
                                  Backend::defaultCredential})
        QVERIFY2(!log.contains(secret), qPrintable(secret));
    const QString photo = QString::fromLatin1(doc.photo.toBase64());
    for (qsizetype i = 0; i + 24 <= photo.size(); i += 12)
        QVERIFY2(!log.contains(photo.mid(i, 24)), qPrintable(photo.mid(i, 24)));

    QVERIFY(m_receiver->reports.isEmpty());
    QTest::mouseClick(button(screen, "proceedBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->screenWasUp, QList<bool>{true}); // reported, then dismissed
    QCOMPARE(m_receiver->reports[0].value("status"), QVariant(true));
    const QVariantMap userInfo = m_receiver->reports[0].value("userInfo").toMap();
    QCOMPARE(userInfo, screen->aadhaarModel->dictionaryRepresentation());
    QCOMPARE(userInfo.value("referenceId").toString(), doc.referenceId);
    const QVariantMap uid = userInfo.value("UidData").toMap();
    QCOMPARE(uid.value("Poi").toMap().value("name").toString(), doc.name);
    QCOMPARE(uid.value("Poa").toMap().value("pc").toString(), doc.pc);
    QCOMPARE(uid.value("Pht").toString(), QString::fromLatin1(doc.photo.toBase64()));
    QCOMPARE(userInfo.value("Signature").toMap().value("SignatureValue").toString(), doc.signatureValue);
    QTRY_VERIFY(!m_host->presentedViewController());
}

void TestResidentFlow::submitChecksRunInOrder()
{
    auto screen = start();
    QVERIFY(screen);
    STEP(waitForFirstStep(screen));
    const auto attempt = [&](const QString &number, const QString &captcha) {
        screen->aadhaarNoTF->clear();
        screen->captchaTF->clear();
        QTest::keyClicks(screen->aadhaarNoTF, number);
        QTest::keyClicks(screen->captchaTF, captcha);
        QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
        return lastToast();
    };
    QString wrongCheck = m_number;
    wrongCheck[11] = QChar('0' + (m_number[11].digitValue() + 1) % 10);
    // Letters count as 0 in the check digit: only the digit rule stops them.
    QString letter = m_number;
    const qsizetype zero = m_number.indexOf('0');
    QVERIFY(zero >= 0);
    letter[zero] = 'a';
    const QString invalid = "Aadhaar number is invalid";
    const QString captcha = "Please enter valid captcha";
    const QString terms = "Please agree the terms&condition";

    QCOMPARE(attempt("", "ABCDE"), invalid);
    QCOMPARE(attempt("   ", "ABCDE"), invalid);
    QCOMPARE(attempt(wrongCheck, ""), invalid);
    QCOMPARE(attempt(letter, "ABCDE"), invalid);
    QCOMPARE(attempt(m_number.left(11), "ABCDE"), invalid);
    QCOMPARE(attempt(m_number, ""), captcha);
    QCOMPARE(attempt(m_number, "ABCD"), captcha);
    QCOMPARE(attempt(m_number, "ABCDEF"), captcha);
    QCOMPARE(attempt(m_number, "A B C D E"), terms); // blanks do not count
    // Characters, not 16-bit units: five beyond the 16-bit range are five.
    const QString wide = QString::fromUcs4(U"\U0001D400\U0001D401\U0001D402\U0001D403\U0001D404");
    const auto pasted = [&](const QString &text) {
        screen->captchaTF->setText(text);
        QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
        return lastToast();
    };
    QCOMPARE(pasted(wide), terms);
    QCOMPARE(pasted(wide.left(4) + "C"), captcha); // three characters in five units
    // The check box toggles its image and the consent.
    QAbstractButton *checkBox = button(screen, "checkBoxBtn");
    auto *box = qobject_cast<platform::ui::Button *>(checkBox);
    QVERIFY(box);
    const QImage unchecked = box->image();
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(screen->isAgree);
    QVERIFY(box->image() != unchecked);
    QTest::mouseClick(checkBox, Qt::LeftButton);
    QVERIFY(!screen->isAgree);
    QCOMPARE(box->image(), platform::ui::Image::named("Uncheck_box.png",
                                                      platform::ui::Bundle::identifier(QString::fromLatin1(kitBundleIdentifier))));
    QCOMPARE(attempt(m_number, "ABCDE"), terms);

    // Nothing reached the page; the fields keep their text.
    QCOMPARE(m_sim.requestsTo(ResidentPortal::postRoute).size(), 0);
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!screen->isAdhaarDetailsFilled);
    QCOMPARE(screen->captchaTF->text(), QString("ABCDE"));

    // The fields refuse text beyond their limits.
    screen->aadhaarNoTF->clear();
    QTest::keyClicks(screen->aadhaarNoTF, m_number + "987");
    QCOMPARE(screen->aadhaarNoTF->text(), grouped(m_number));
    QTest::keyClicks(screen->captchaTF, QString(25, 'x'));
    QCOMPARE(screen->captchaTF->text().size(), 20);
    QTest::keyClicks(screen->otpTF, "123456789");
    QCOMPARE(screen->otpTF->text(), QString("123456"));

    // The terms open over the screen.
    QTest::mouseClick(button(screen, "showAgreeBtn"), Qt::LeftButton);
    QTRY_VERIFY(std::dynamic_pointer_cast<TermsConditionVC>(screen->presentedViewController()));
    screen->dismiss(false);
    QTRY_VERIFY(!screen->presentedViewController());
}

void TestResidentFlow::wrongCaptchaRenewsIt()
{
    m_sim.residentPortal().setCaptchaRefused(true);
    auto screen = start();
    QVERIFY(screen);
    STEP(waitForFirstStep(screen));
    const QImage first = screen->captchaImgView->image();
    typeDetailsAndSubmit(screen, m_sim.residentPortal().currentCaptcha());
    QTRY_COMPARE_WITH_TIMEOUT(lastToast(), QString("Please enter valid captcha"), 20000);
    QVERIFY(screen->captchaTF->text().isEmpty());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(!screen->isAdhaarDetailsFilled);
    // The old picture goes at once; the new one follows once decoded.
    QTRY_VERIFY_WITH_TIMEOUT(!screen->captchaImgView->image().isNull() && screen->captchaImgView->image() != first,
                             10000);
    QCOMPARE(screen->aadhaarNoTF->text(), grouped(m_number));

    // Reloading shows yet another picture and does not post the details again.
    const QImage second = screen->captchaImgView->image();
    QTest::mouseClick(button(screen, "reloadCaptchaBtn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!screen->captchaImgView->image().isNull() && screen->captchaImgView->image() != second,
                             10000);
    QCOMPARE(m_sim.requestsTo(ResidentPortal::postRoute).size(), 1);
    QCOMPARE(m_sim.requestsTo(ResidentPortal::pageRoute).size(), 2);

    // The new picture's captcha goes through.
    m_sim.residentPortal().setCaptchaRefused(false);
    QTest::keyClicks(screen->captchaTF, m_sim.residentPortal().currentCaptcha());
    QTest::mouseClick(screen->aadhaarSubmitBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 20000);
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestResidentFlow::replyWithNeitherTextChangesNothing_data()
{
    QTest::addColumn<bool>("bothTexts");
    QTest::newRow("neither text") << false;
    // Both: taken as a wrong captcha, the first test.
    QTest::newRow("both texts") << true;
}

void TestResidentFlow::replyWithNeitherTextChangesNothing()
{
    QFETCH(bool, bothTexts);
    if (bothTexts) {
        Override both;
        both.reply = sim::htmlPage(200, "Offline KYC",
                                   "<div id=\"system-message\">" + ResidentPortal::wrongCaptchaText + " "
                                       + ResidentPortal::otpSentText + "</div>");
        m_sim.setOverride(ResidentPortal::postRoute, both.times(1));
    } else {
        m_sim.residentPortal().setMessageWithheld(true);
    }
    auto screen = start();
    QVERIFY(screen);
    STEP(waitForFirstStep(screen));
    typeDetailsAndSubmit(screen, m_sim.residentPortal().currentCaptcha());
    if (bothTexts) {
        QTRY_COMPARE_WITH_TIMEOUT(lastToast(), QString("Please enter valid captcha"), 20000);
        QVERIFY(screen->captchaTF->text().isEmpty());
        QVERIFY(screen->aadhaarCaptchaView->isVisible());
        QVERIFY(!screen->otpView->isVisible());
        QVERIFY(!screen->isAdhaarDetailsFilled);
        QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
        QCOMPARE(m_receiver->reports, QList<QVariantMap>{failed});
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_log->contains(ResidentPortal::busyText), 20000);
    QVERIFY(!screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(screen->isAdhaarDetailsFilled);
    QVERIFY(lastToast().isEmpty());
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, QList<QVariantMap>{failed});
}

void TestResidentFlow::typedTextReachesThePageAsTyped_data()
{
    QTest::addColumn<QString>("captcha");
    QTest::newRow("quote and backslash") << QString("a'\\b\"");
    QTest::newRow("closing quote with code") << QString("'+f+'");
    QTest::newRow("backslash at the end") << QString("'+f+\\");
}

void TestResidentFlow::typedTextReachesThePageAsTyped()
{
    QFETCH(QString, captcha);
    auto screen = start();
    QVERIFY(screen);
    STEP(waitForFirstStep(screen));
    // The page keeps its form (no post) and notes any read of `f`.
    evaluate(screen->webcontentView,
             "document.getElementById('offline-kyc-form').addEventListener('submit', function (e) { e.preventDefault(); });"
             "window.ran = false; Object.defineProperty(window, 'f', { get: function () { window.ran = true; return ''; } });");
    typeDetailsAndSubmit(screen, captcha);
    QVERIFY(screen->isAdhaarDetailsFilled);
    QCOMPARE(pageField(screen->webcontentView, "security_code"), captcha);
    QCOMPARE(pageField(screen->webcontentView, "uid1"), m_number);
    QCOMPARE(evaluate(screen->webcontentView, "window.ran"), QVariant(false));
    QCOMPARE(m_sim.requestsTo(ResidentPortal::postRoute).size(), 0);
}

void TestResidentFlow::pageThatCannotLoadShowsTheErrorPanel()
{
    m_sim.setOverride(ResidentPortal::pageRoute, Override::dropConnection());
    auto screen = start();
    QVERIFY(screen);
    QTRY_VERIFY_WITH_TIMEOUT(screen->ErrorView->isVisible(), 20000);
    QVERIFY(m_log->contains("Webpage error: "));
    QVERIFY(!screen->aadhaarCaptchaView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(screen->spinnerIc->isAnimating()); // only a finished load stops it
    QVERIFY(m_receiver->reports.isEmpty());

    // Try again once the page answers: a fresh first step.
    m_sim.clearOverride(ResidentPortal::pageRoute);
    QTest::mouseClick(button(screen, "tryAgainBtn"), Qt::LeftButton);
    QVERIFY(!screen->ErrorView->isVisible());
    STEP(waitForFirstStep(screen));
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestResidentFlow::failedDownloadInterrupts_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("connection dropped") << "dropped";
    QTest::newRow("neither file nor error") << "none";
    // Refused while it downloads, before it is written whole.
    QTest::newRow("archive one byte above its bound") << "too large";
}

void TestResidentFlow::failedDownloadInterrupts()
{
    QFETCH(QString, fault);
    auto screen = start();
    QVERIFY(screen);
    STEP(reachOtpPanel(screen));
    if (fault == "dropped") {
        m_sim.residentPortal().setDownloadDropped(true);
        STEP(typeOtpAndVerify(screen));
    } else if (fault == "too large") {
        m_sim.residentPortal().setArchiveFile(QByteArray(platform::zip::kMaxArchiveBytes + 1, 'x'));
        STEP(typeOtpAndVerify(screen));
    } else {
        // A completion without a file, on a worker thread as the session delivers it.
        platform::dispatch::asyncGlobal([screen] { screen->handleDownloadedZip(platform::net::DownloadResponse{}); });
    }
    QTRY_VERIFY_WITH_TIMEOUT(screen->ErrorView->isVisible(), 20000);
    QCOMPARE(screen->errorTextLbl->text(), OldAadhaarFlowVC::interruptedMessage);
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(m_receiver->reports.isEmpty());

    // Try again: the first step afresh, then the whole way to the record.
    m_sim.residentPortal().setDownloadDropped(false);
    m_sim.residentPortal().setArchiveFile({});
    const QImage oldCaptcha = screen->captchaImgView->image();
    QTest::mouseClick(button(screen, "tryAgainBtn"), Qt::LeftButton);
    QVERIFY(!screen->ErrorView->isVisible());
    QVERIFY(!screen->otpView->isVisible());
    QVERIFY(screen->aadhaarCaptchaView->isVisible());
    QVERIFY(screen->aadhaarNoTF->text().isEmpty());
    QVERIFY(screen->captchaTF->text().isEmpty());
    QVERIFY(screen->otpTF->text().isEmpty());
    QVERIFY(!screen->isAdhaarDetailsFilled);
    STEP(waitForFirstStep(screen));
    QVERIFY(screen->captchaImgView->image() != oldCaptcha);
    QVERIFY(screen->errorTextLbl->text() != OldAadhaarFlowVC::interruptedMessage);
    typeDetailsAndSubmit(screen, m_sim.residentPortal().currentCaptcha());
    QTRY_VERIFY_WITH_TIMEOUT(screen->otpView->isVisible(), 20000);
    STEP(typeOtpAndVerify(screen));
    STEP(waitForRecord(screen));

    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, QList<QVariantMap>{failed});
}

void TestResidentFlow::unusableArchiveIsReported_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("wrong password: an HTML page") << 0;
    QTest::newRow("damaged archive") << 1;
    QTest::newRow("download refused") << 2;
}

void TestResidentFlow::unusableArchiveIsReported()
{
    QFETCH(int, fault);
    m_sim.residentPortal().setArchiveDamaged(fault == 1);
    m_sim.residentPortal().setDownloadRefused(fault == 2);
    auto screen = start();
    QVERIFY(screen);
    STEP(reachOtpPanel(screen));
    const QString otp = m_sim.residentPortal().lastOtp();
    STEP(typeOtpAndVerify(screen, fault == 0 ? (otp == "000000" ? "111111" : "000000") : otp));
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 20000);
    QCOMPARE(m_receiver->reports[0], failed);
    QCOMPARE(m_receiver->screenWasUp, QList<bool>{true});
    QVERIFY(screen->ErrorView->isVisible());
    QVERIFY(!screen->popupLoader->isAnimating());
    QVERIFY(!screen->userInfoView->isVisible());
    QVERIFY(m_log->contains("SOMETHING WENT WRONG"));
    testsupport::verifyArchiveFailureLoggedAndCleaned(*m_log);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_sim.residentPortal().lastDownload()->served, fault == 1);
    QCOMPARE(m_sim.requestsTo(Backend::documentsRoute).size(), 0);

    // Still up; back reports again.
    QCOMPARE(m_host->presentedViewController(), std::static_pointer_cast<platform::ui::ViewController>(screen));
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, (QList<QVariantMap>{failed, failed}));
}

void TestResidentFlow::failedSubmissionIsReported_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<Override>("reply");
    QTest::newRow("supplier refuses") << Backend::supplierRoute << Override::errorCode(500, "INTERNAL_ERROR");
    QTest::newRow("supplier answers HTML") << Backend::supplierRoute << Override::htmlPage(200);
    QTest::newRow("document answers HTML") << Backend::documentsRoute << Override::htmlPage(502);
    QTest::newRow("document object refused, empty") << Backend::documentObjectRoute << Override::emptyBody(500);
    QTest::newRow("connection dropped") << Backend::documentsRoute << Override::dropConnection();
}

void TestResidentFlow::failedSubmissionIsReported()
{
    QFETCH(QString, route);
    QFETCH(Override, reply);
    m_sim.setOverride(route, reply);
    auto screen = start();
    QVERIFY(screen);
    STEP(reachOtpPanel(screen));
    STEP(typeOtpAndVerify(screen));
    QTRY_COMPARE_WITH_TIMEOUT(m_receiver->reports.size(), 1, 30000);
    QCOMPARE(m_receiver->reports[0], failed);
    QVERIFY(!m_sim.requestsTo(route).isEmpty());
    QVERIFY(!screen->userInfoView->isVisible());
    QVERIFY(screen->aadhaarModel); // parsed, just not accepted
    QCOMPARE(m_host->presentedViewController(), std::static_pointer_cast<platform::ui::ViewController>(screen));
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, (QList<QVariantMap>{failed, failed}));
}

void TestResidentFlow::backReportsAfterDismissal_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("page loading") << 0;
    QTest::newRow("details") << 1;
    QTest::newRow("password") << 2;
    QTest::newRow("record") << 3;
}

void TestResidentFlow::backReportsAfterDismissal()
{
    QFETCH(int, step);
    auto screen = start();
    QVERIFY(screen);
    if (step == 1)
        STEP(waitForFirstStep(screen));
    if (step >= 2)
        STEP(reachOtpPanel(screen));
    if (step >= 3) {
        STEP(typeOtpAndVerify(screen));
        STEP(waitForRecord(screen));
    }
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, QList<QVariantMap>{failed});
    QCOMPARE(m_receiver->screenWasUp, QList<bool>{false});
    QTRY_VERIFY(!m_host->presentedViewController());

    // The screen goes, and nothing more arrives.
    std::weak_ptr<OldAadhaarFlowVC> weak = screen;
    screen.reset();
    QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), 15000);
    QCOMPARE(m_receiver->reports.size(), 1);
}

void TestResidentFlow::leftScreenIsReleasedOnTheMainThread_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::newRow("archive without a record") << false;
    QTest::newRow("damaged archive") << true;
}

void TestResidentFlow::leftScreenIsReleasedOnTheMainThread()
{
    // The user leaves as soon as the download starts. Its completion, on a
    // worker thread, then holds the screen; with an archive that has no
    // record nothing else does. What the screen owns must still go on the
    // main thread: a record it holds tells where it went.
    QFETCH(bool, damaged);
    auto screen = start();
    QVERIFY(screen);
    STEP(reachOtpPanel(screen));
    auto releasedOn = std::make_shared<std::atomic<QThread *>>(nullptr);
    screen->aadhaarModel = std::shared_ptr<OfflinePaperlessKyc>(new OfflinePaperlessKyc(QVariantMap{}),
                                                                [releasedOn](OfflinePaperlessKyc *record) {
                                                                    *releasedOn = QThread::currentThread();
                                                                    delete record;
                                                                });
    if (damaged) {
        m_sim.residentPortal().setArchiveDamaged(true);
    } else {
        const QByteArray zip = simulator::makeOfflineKycArchive(
            simulator::offlineKycXml(simulator::makeOfflineKycDocument({3})), "record.xml", "9736");
        QVERIFY(!zip.isEmpty());
        // Late enough for the dismissal to have let go of the screen.
        Override late = Override::text(200, zip);
        late.reply.behaviour = sim::Reply::Behaviour::slow;
        late.reply.delayMs = 300;
        m_sim.setOverride(ResidentPortal::postRoute, late);
    }
    STEP(typeOtpAndVerify(screen));
    QTest::mouseClick(button(screen, "backBtn"), Qt::LeftButton);
    QCOMPARE(m_receiver->reports, QList<QVariantMap>{failed});
    std::weak_ptr<OldAadhaarFlowVC> weak = screen;
    screen.reset();
    QVERIFY(!weak.expired());
    QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), 20000);
    QCOMPARE(releasedOn->load(), qApp->thread());
    QCOMPARE(m_sim.requestsTo(ResidentPortal::postRoute).size(), 2);
    // The dismissed screen still reports an archive it cannot open.
    QCOMPARE(m_receiver->reports.size(), damaged ? 2 : 1);
    QCOMPARE(m_sim.requestsTo(Backend::documentsRoute).size(), 0);
}

QTEST_MAIN(TestResidentFlow)
#include "tst_resident_flow.moc"
