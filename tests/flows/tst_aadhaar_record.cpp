// The web-API client's requests and PKCE, and the archive processing both
// Aadhaar screens share, without a network.

#include "logcapture.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using namespace orvix;

namespace {

std::shared_ptr<OfflinePaperlessKyc> recordWithAddress(const QVariantMap &poa)
{
    return std::make_shared<OfflinePaperlessKyc>(QVariantMap{{"UidData", QVariantMap{{"Poa", poa}}}});
}

} // namespace

class TestAadhaarRecord : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void composeAddress_data();
    void composeAddress();
    void csrfTokensAsThePatternFindsThem_data();
    void csrfTokensAsThePatternFindsThem();
    void csrfScanStaysLinear();
    void codeVerifiersAreFreshAndChallengesS256();
    void requestTexts();
    void downloadHeaders();

    void photographMayBeWrapped();
    void unusableDocumentsStopSilently_data();
    void unusableDocumentsStopSilently();
    void hostileArchiveTakesTheFailedUnzipPath();
    void archiveWithoutReplyTextIsReported();

private:
    std::shared_ptr<NewAadhaarFlowVC> screen();
    QList<std::shared_ptr<NewAadhaarFlowVC>> m_screens;
};

void TestAadhaarRecord::initTestCase()
{
    internal::setAuthorityServiceBaseURL(QStringLiteral("https://api.test.example"));
    internal::setAuthorityPortalURL(QStringLiteral("https://portal.test.example/"));
}

void TestAadhaarRecord::cleanup()
{
    m_screens.clear();
}

// A screen from the kit's storyboard, never shown (so no request is sent).
std::shared_ptr<NewAadhaarFlowVC> TestAadhaarRecord::screen()
{
    auto s = kitStoryboard().instantiate<NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
    if (s)
        m_screens.append(s);
    return s;
}

void TestAadhaarRecord::composeAddress_data()
{
    QTest::addColumn<QVariantMap>("poa");
    QTest::addColumn<QString>("address");
    QTest::newRow("all") << QVariantMap{{"careof", "C/O A"}, {"house", "12"}, {"landmark", "Near Park"},
                                        {"loc", "Kothrud"}, {"street", "MG Road"}, {"po", "Kothrud PO"},
                                        {"subdist", "Haveli"}, {"dist", "Pune"}, {"pc", "411038"},
                                        {"state", "Maharashtra"}, {"country", "India"}, {"vtc", "Never shown"}}
                         << "C/O A, 12, Near Park, Kothrud, MG Road, Kothrud PO, Haveli, Pune - 411038, "
                            "Maharashtra, India.";
    QTest::newRow("dist and pc") << QVariantMap{{"dist", "Pune"}, {"pc", "411038"}} << "Pune - 411038, ";
    QTest::newRow("dist without pc") << QVariantMap{{"dist", "Pune"}} << "Pune - , ";
    QTest::newRow("pc only") << QVariantMap{{"pc", "411038"}} << "";
    QTest::newRow("country only") << QVariantMap{{"country", "India"}} << "India.";
    QTest::newRow("empty texts") << QVariantMap{{"house", ""}, {"dist", ""}, {"state", ""}, {"country", ""}} << "";
    QTest::newRow("vtc only") << QVariantMap{{"vtc", "Kothrud"}} << "";
    QTest::newRow("no country") << QVariantMap{{"street", "MG Road"}, {"state", "Goa"}} << "MG Road, Goa, ";
}

void TestAadhaarRecord::composeAddress()
{
    QFETCH(QVariantMap, poa);
    QFETCH(QString, address);
    QCOMPARE(AadhaarRecordProcessing::composeAddress(recordWithAddress(poa)), address);
}

void TestAadhaarRecord::csrfTokensAsThePatternFindsThem_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("hidden field") << R"(<input type="hidden" name="_csrf" value="abc-123"/>)";
    QTest::newRow("two fields") << "<input name=\"_csrf\" value=\"first\"/>\n<input name=\"_csrf\" value=\"second\"/>";
    QTest::newRow("two on a line") << R"(_csrf value="a" x _csrf value="b")";
    QTest::newRow("value on the next line") << "<input name=\"_csrf\"\n value=\"no\"/>";
    QTest::newRow("unclosed") << "_csrf value=\"open\n\"";
    QTest::newRow("empty value") << R"(_csrf value="")";
    QTest::newRow("none") << "<html><body>nothing</body></html>";
    QTest::newRow("meta tag") << R"(<meta name="_csrf" content="x" data-value="y" other="z">)";
    QTest::newRow("empty") << "";
}

void TestAadhaarRecord::csrfTokensAsThePatternFindsThem()
{
    QFETCH(QString, page);
    QStringList expected;
    const QRegularExpression pattern(QStringLiteral("_csrf.*?value.*?\"(.*?)\""));
    for (auto it = pattern.globalMatch(page); it.hasNext();)
        expected.append(it.next().captured(1));
    QCOMPARE(NewAadhaarFlowVC::extractCsrfTokens(page), expected);
}

void TestAadhaarRecord::csrfScanStaysLinear()
{
    // Many openings and no value on one long line: found in one pass.
    QCOMPARE(NewAadhaarFlowVC::extractCsrfTokens(QString("_csrf ").repeated(400000)), QStringList());
    QCOMPARE(NewAadhaarFlowVC::extractCsrfTokens(QString("_csrf value=\"").repeated(200000)).size(), 100000);
}

void TestAadhaarRecord::codeVerifiersAreFreshAndChallengesS256()
{
    // The published example pair.
    QCOMPARE(NewAadhaarFlowViewModel::codeChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
             QString("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    const QRegularExpression unreserved(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString verifier = NewAadhaarFlowViewModel::makeCodeVerifier();
        QVERIFY2(unreserved.match(verifier).hasMatch(), qPrintable(verifier));
        seen.insert(verifier);
    }
    QCOMPARE(seen.size(), 50);
    QCOMPARE(NewAadhaarFlowViewModel::authorizeQuery("CH"),
             QString("grant_type=authorization_code&response_type=code&client_id=myAadhaar&scope=READ"
                     "&code_challenge_method=S256&code_challenge=CH"));
}

void TestAadhaarRecord::requestTexts()
{
    QCOMPARE(authorityServiceBaseURL(), QString("https://api.test.example"));
    // Code and verifier are encoded; an empty code still ends the URL.
    QCOMPARE(NewAadhaarFlowViewModel::tokenURL("a b&c=%", "v~._-1"),
             QString("https://api.test.example/access/oauth/token?client_id=myAadhaar"
                     "&grant_type=authorization_code&code_verifier=v~._-1&code=a%20b%26c%3D%25"));
    QVERIFY(NewAadhaarFlowViewModel::tokenURL("", "v").endsWith("&code="));
    // An absent value stays as a null.
    const QVariantMap map = NewAadhaarFlowViewModel::toVariantMap({{"uid", QString("1")}, {"captchaTxnId", std::nullopt}});
    QCOMPARE(QJsonObject::fromVariantMap(map), (QJsonObject{{"uid", "1"}, {"captchaTxnId", QJsonValue::Null}}));
}

void TestAadhaarRecord::downloadHeaders()
{
    const HTTPHeaders headers = NewAadhaarFlowViewModel().makeHeaders("tok");
    QList<QByteArray> names;
    for (const auto &h : headers.list())
        names.append(h.name);
    QCOMPARE(names, (QList<QByteArray>{"transactionId", "X-Request-ID", "Authorization", "'Accept'", "'Connection'",
                                       "Pragma", "Cache-Control", "Accept-Language", "sec-ch-ua", "sec-ch-ua-mobile",
                                       "'Referer'"}));
    QCOMPARE(headers.value("Authorization"), std::optional<QByteArray>("Bearer tok"));
    QCOMPARE(headers.value("'Referer'"), std::optional<QByteArray>("https://portal.test.example/"));
    QCOMPARE(headers.value("Accept-Language"), std::optional<QByteArray>("en_IN"));
    QCOMPARE(headers.value("sec-ch-ua")->size(), 64);
    QCOMPARE(headers.value("transactionId"), headers.value("X-Request-ID"));
    QVERIFY(!headers.contains("Accept"));
    QVERIFY(!headers.firstInvalid());
}

void TestAadhaarRecord::photographMayBeWrapped()
{
    const simulator::OfflineKycDocument doc = simulator::makeOfflineKycDocument();
    QString wrapped;
    const QString base64 = QString::fromLatin1(doc.photo.toBase64());
    for (qsizetype i = 0; i < base64.size(); i += 64)
        wrapped += base64.mid(i, 64) + "\r\n ";
    auto s = screen();
    QVERIFY(s);
    s->aadhaarModel = std::make_shared<OfflinePaperlessKyc>(QVariantMap{
        {"UidData", QVariantMap{{"Pht", wrapped}, {"Poi", QVariantMap{{"name", doc.name}, {"dob", doc.dob}}}}}});
    s->showUserInfo();
    QCOMPARE(s->profilePic->image().size(), QImage::fromData(doc.photo).size());
    QCOMPARE(s->usernameLbl->text(), doc.name);
    QCOMPARE(s->dobLbl->text(), doc.dob);
    QVERIFY(!s->userInfoView->isHidden());
    // The record keeps the text as written.
    QCOMPARE(s->aadhaarModel->uidData()->pht(), std::optional<QString>(wrapped));

    // No photograph: the rest still shows.
    s->aadhaarModel->uidData()->setPht(std::nullopt);
    s->showUserInfo();
    QVERIFY(s->profilePic->image().isNull());
    QCOMPARE(s->usernameLbl->text(), doc.name);
}

void TestAadhaarRecord::unusableDocumentsStopSilently_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("not XML") << QByteArray("this is not xml <<<");
    QTest::newRow("truncated") << simulator::offlineKycXml(simulator::makeOfflineKycDocument()).left(300);
    QTest::newRow("another root") << QByteArray("<?xml version=\"1.0\"?><Other a=\"1\"/>");
    QTest::newRow("record as text") << QByteArray("<?xml version=\"1.0\"?><Doc><OfflinePaperlessKyc>x</OfflinePaperlessKyc></Doc>");
    QTest::newRow("not UTF-8") << QByteArray("<?xml version=\"1.0\"?><OfflinePaperlessKyc referenceId=\"") + "\xff\xfe" + "\"/>";
    QTest::newRow("empty") << QByteArray();
}

void TestAadhaarRecord::unusableDocumentsStopSilently()
{
    QFETCH(QByteArray, xml);
    LogCapture log;
    const QString path = AadhaarRecordProcessing::temporaryDirectory() + "test-document.xml";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(xml);
    file.close();
    auto s = screen();
    QVERIFY(s);
    s->processOfflineXML(path);
    s->processOfflineXML(std::nullopt);
    s->processOfflineXML(AadhaarRecordProcessing::temporaryDirectory() + "no-such-file.xml");
    QVERIFY(!s->aadhaarModel);
    QVERIFY(!s->oldAadhaarVM);
    // The document's text never reaches the log.
    if (xml.size() > 20)
        QVERIFY(!log.joined().contains(QString::fromLatin1(xml.left(20))));
    QFile::remove(path);
}

void TestAadhaarRecord::hostileArchiveTakesTheFailedUnzipPath()
{
    // A password-protected archive whose entry climbs out of the folder.
    const QString zip = AadhaarRecordProcessing::archivePath();
    const QString escape = QFileInfo(AadhaarRecordProcessing::temporaryDirectory() + "escaped-offline.xml").absoluteFilePath();
    QFile::remove(escape);
    QFile file(zip);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(simulator::makeOfflineKycArchive("<x/>", "../escaped-offline.xml", "9736"));
    file.close();
    auto s = screen();
    QVERIFY(s);
    QVERIFY(s->ErrorView->isHidden());
    LogCapture log;
    s->openArchive(zip);
    QVERIFY(log.contains("The archive could not be opened: unsafe entry: "));
    QVERIFY(log.contains("SOMETHING WENT WRONG"));
    QTRY_VERIFY(!s->ErrorView->isHidden());
    QVERIFY(!QFile::exists(escape));
    QVERIFY(!s->aadhaarModel);
    QVERIFY(!QFile::exists(zip));

    // An archive without the XML file stops silently, and leaves nothing either.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(simulator::makeOfflineKycArchive("<x/>", "readme.txt", "9736"));
    file.close();
    s->openArchive(zip);
    QVERIFY(log.contains("UNZIPPED"));
    QVERIFY(!QFile::exists(zip));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::unzipDirectory()));
}

void TestAadhaarRecord::archiveWithoutReplyTextIsReported()
{
    // "Success" without usable archive text: failure panel, no file written.
    auto s = screen();
    QVERIFY(s);
    QFile::remove(AadhaarRecordProcessing::archivePath());
    s->handleDownloadResponse(QVariantMap{{"status", "Success"}, {"eKycXML", 42}});
    QVERIFY(!s->ErrorView->isHidden());
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));

    // A status that differs in case is a refusal.
    s->ErrorView->hide();
    s->handleDownloadResponse(QVariantMap{{"status", "success"}, {"eKycXML", "UEsDBA=="}});
    QVERIFY(!s->ErrorView->isHidden());
    QCOMPARE(s->errorTextLbl->text(), QString("Access token has expired."));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));
}

QTEST_MAIN(TestAadhaarRecord)
#include "tst_aadhaar_record.moc"
