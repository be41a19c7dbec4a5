// The web-API client's requests and PKCE, and the archive processing both
// Aadhaar screens share, without a network.

#include "archivefailure.h"
#include "boundsdocuments.h"
#include "logcapture.h"
#include "picturebombs.h"
#include "zipwriter.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"
#include "platform/net/session.h"
#include "platform/files/tempdir.h"
#include "platform/ui/image.h"
#include "simulator/Simulator.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <time.h>

using namespace orvix;
using testsupport::ZipEntry;

Q_DECLARE_METATYPE(QList<ZipEntry>)

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The id of a process that has just ended.
qint64 endedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

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

    void recordPanelShowsTheRecordAsWritten_data();
    void recordPanelShowsTheRecordAsWritten();
    void unusableDocumentsStopSilently_data();
    void unusableDocumentsStopSilently();
    void hostileArchiveTakesTheFailedUnzipPath_data();
    void hostileArchiveTakesTheFailedUnzipPath();
    void picturesNeverHoldTheGuiThread_data();
    void picturesNeverHoldTheGuiThread();
    void documentsAtTheBoundsAreShown_data();
    void documentsAtTheBoundsAreShown();
    void archiveWithoutDocumentStopsSilently();
    void archiveWithoutReplyTextIsReported();
    void staleFoldersGoOnlyWhenProvablyLeftOver_data();
    void staleFoldersGoOnlyWhenProvablyLeftOver();
    void numberFieldKeepsTheCursor_data();
    void numberFieldKeepsTheCursor();

private:
    sim::Simulator m_sim;
    std::shared_ptr<NewAadhaarFlowVC> screen();
    QList<std::shared_ptr<NewAadhaarFlowVC>> m_screens;
};

void TestAadhaarRecord::initTestCase()
{
    internal::setAuthorityServiceBaseURL(QStringLiteral("https://api.test.example"));
    internal::setAuthorityPortalURL(QStringLiteral("https://portal.test.example/"));
    QVERIFY(m_sim.start());
    internal::setBackendBaseURL(m_sim.backendBaseUrl());
}

void TestAadhaarRecord::cleanup()
{
    m_screens.clear();
    // A submission still on its way would write into the private folder
    // while the next test looks at it.
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
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

void TestAadhaarRecord::recordPanelShowsTheRecordAsWritten_data()
{
    // The record's name, date of birth and house; empty: the generated document's.
    // "PIPE" stands for a named pipe the test makes.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("dob");
    QTest::addColumn<QString>("house");
    QTest::newRow("the document's texts, the photograph wrapped in lines") << QString() << QString() << QString();
    // Whoever serves the archive writes these: no rich text, nothing opened.
    QTest::newRow("markup") << R"(<img src="PIPE">)" << "<h1>BIG</h1>" << R"(<a href="https://example.org/">here</a>)";
    QTest::newRow("more markup") << "<font color=red size=7>VERIFIED</font>" << R"(<img src="file://PIPE">)"
                                 << "<b>" + QString(100'000, 'x');
}

void TestAadhaarRecord::recordPanelShowsTheRecordAsWritten()
{
    QFETCH(QString, name);
    QFETCH(QString, dob);
    QFETCH(QString, house);
    const simulator::OfflineKycDocument doc = simulator::makeOfflineKycDocument();
    const bool own = name.isEmpty();

    // A label that loads a picture from the pipe blocks in open() until a
    // writer comes: this thread is that writer, as often as it is opened, so
    // the fault fails the test at once instead of hanging it.
    QTemporaryDir dir;
    const QByteArray pipe = QFile::encodeName(dir.filePath("picture"));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    std::atomic<bool> finished{false};
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        for (;;) {
            const int fd = ::open(pipe.constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
            if (finished || fd < 0)
                return;
            opened = true;
        }
    });
    const auto releaseWriter = [&] {
        finished = true;
        const int fd = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (fd >= 0)
            ::close(fd);
    };

    name.replace("PIPE", QString::fromLocal8Bit(pipe));
    dob.replace("PIPE", QString::fromLocal8Bit(pipe));
    QString wrapped;
    const QString base64 = QString::fromLatin1(doc.photo.toBase64());
    for (qsizetype i = 0; i < base64.size(); i += 64)
        wrapped += base64.mid(i, 64) + "\r\n ";
    auto s = screen();
    QVERIFY(s);
    s->aadhaarModel = std::make_shared<OfflinePaperlessKyc>(QVariantMap{
        {"UidData", QVariantMap{{"Pht", wrapped},
                                {"Poi", QVariantMap{{"name", own ? doc.name : name}, {"dob", own ? doc.dob : dob}}},
                                {"Poa", QVariantMap{{"house", own ? doc.house : house}}}}}});
    s->showUserInfo();
    for (QLabel *label : {s->usernameLbl.data(), s->dobLbl.data(), s->addressLbl.data()}) {
        label->sizeHint();
        label->grab();
    }
    releaseWriter();
    QVERIFY2(!opened, "a label opened the file its text names");

    QTRY_COMPARE(s->profilePic->image().size(), QImage::fromData(doc.photo).size());
    QCOMPARE(s->usernameLbl->text(), own ? doc.name : name);
    QCOMPARE(s->dobLbl->text(), own ? doc.dob : dob);
    QCOMPARE(s->addressLbl->text(), (own ? doc.house : house) + ", ");
    for (QLabel *label : {s->usernameLbl.data(), s->dobLbl.data(), s->addressLbl.data()})
        QCOMPARE(label->textFormat(), Qt::PlainText);
    QVERIFY(!s->userInfoView->isHidden());
    if (!own)
        return;
    // The record keeps the text as written.
    QCOMPARE(s->aadhaarModel->uidData()->pht(), std::optional<QString>(wrapped));

    // No photograph: the rest still shows.
    s->aadhaarModel->uidData()->setPht(std::nullopt);
    s->showUserInfo();
    QVERIFY(s->profilePic->image().isNull());
    QCOMPARE(s->usernameLbl->text(), doc.name);

    // A large one is decoded no larger than it is shown; one claiming more
    // pixels than a photograph has is not decoded at all.
    const auto jpeg = [](QSize size) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::gray);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG");
        return QString::fromLatin1(bytes.toBase64());
    };
    s->aadhaarModel->uidData()->setPht(jpeg(QSize(2048, 1536)));
    s->showUserInfo();
    QTRY_COMPARE(s->profilePic->image().size(), QSize(1024, 768));
    LogCapture log;
    s->aadhaarModel->uidData()->setPht(jpeg(QSize(4097, 4096)));
    s->showUserInfo();
    QTRY_VERIFY(log.contains("The photograph is not shown: "));
    QVERIFY(s->profilePic->image().isNull());
    QCOMPARE(s->usernameLbl->text(), doc.name);
}

void TestAadhaarRecord::unusableDocumentsStopSilently_data()
{
    QTest::addColumn<QByteArray>("xml");
    // Hostile shapes: xml, then `unit` written `count` times, then `tail`;
    // the reason they are refused with.
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QString>("reason");
    const QByteArray none;
    QTest::newRow("not XML") << QByteArray("this is not xml <<<") << none << 0 << none << QString();
    QTest::newRow("truncated") << simulator::offlineKycXml(simulator::makeOfflineKycDocument()).left(300) << none << 0
                               << none << QString();
    QTest::newRow("another root") << QByteArray("<?xml version=\"1.0\"?><Other a=\"1\"/>") << none << 0 << none
                                  << QString();
    QTest::newRow("record as text")
        << QByteArray("<?xml version=\"1.0\"?><Doc><OfflinePaperlessKyc>x</OfflinePaperlessKyc></Doc>") << none << 0
        << none << QString();
    QTest::newRow("not UTF-8") << QByteArray("<?xml version=\"1.0\"?><OfflinePaperlessKyc referenceId=\"") + "\xff\xfe" + "\"/>"
                               << none << 0 << none << QString();
    QTest::newRow("empty") << QByteArray() << none << 0 << none << QString();

    using B = DocumentBounds;
    const QString tooLarge = QStringLiteral("larger than %1 bytes").arg(B::maxBytes);
    const QByteArray root = "<OfflinePaperlessKyc>";
    const QByteArray rootEnd = "</OfflinePaperlessKyc>";
    QTest::newRow("100 MB of small elements") << root << QByteArray("<a/>") << 25'000'000 << rootEnd << tooLarge;
    QTest::newRow("100 MB of nesting") << root << QByteArray("<a>") << 33'400'000 << none << tooLarge;
    QTest::newRow("a million small elements") << root << QByteArray("<a/>") << 1'000'000 << rootEnd
                                              << QStringLiteral("more than %1 elements").arg(B::maxElements);
    QTest::newRow("nesting far down") << root << QByteArray("<a>") << 100'000 << none
                                      << QStringLiteral("nests more than %1 elements").arg(B::maxDepth);
    QByteArray attributes;
    for (int i = 0; i < 160'000; ++i)
        attributes += " a" + QByteArray::number(i) + "=''";
    QTest::newRow("160k attributes") << "<OfflinePaperlessKyc" + attributes << QByteArray("/>") << 1 << none
                                     << QStringLiteral("more than %1 attributes").arg(B::maxAttributes);
    // Served by a hostile authority stand-in before the bounds held.
    QTest::newRow("a 16 MiB name") << testsupport::hostileName16MiB() << none << 0 << none << tooLarge;
    QTest::newRow("986,791 elements in towers") << testsupport::hostileTowers() << none << 0 << none << tooLarge;
    QTest::newRow("10,894 elements of 256 attributes") << testsupport::hostileWideElements() << none << 0 << none
                                                       << tooLarge;
    QTest::newRow("999,990 elements of one attribute") << testsupport::hostileFlatElements() << none << 0 << none
                                                       << tooLarge;
    QTest::newRow("999,000 distinct names") << testsupport::hostileDistinctNames() << none << 0 << none << tooLarge;
    // Shown texts stay within a value's bound, also when given as text.
    const auto longText = [&](const QByteArray &block, const QByteArray &field) {
        const QByteArray text = "<" + field + ">" + QByteArray(B::maxAttributeLength + 1, 'N') + "</" + field + ">";
        const QByteArray poi = block == "Poi" ? text : QByteArray();
        const QByteArray poa = block == "Poa" ? "<Poa>" + text + "</Poa>" : QByteArray();
        QTest::addRow("\"%s\" given as long text", field.constData())
            << "<OfflinePaperlessKyc referenceId=\"1\"><UidData><Poi>" + poi + "</Poi>" + poa
                   + "<Pht>QUJD</Pht></UidData></OfflinePaperlessKyc>"
            << none << 0 << none
            << QStringLiteral("\"%1\" is longer than %2 characters").arg(QString::fromLatin1(field)).arg(B::maxAttributeLength);
    };
    for (const char *field : {"name", "dob"})
        longText("Poi", field);
    for (const char *field : {"careof", "house", "landmark", "loc", "street", "po", "subdist", "dist", "pc", "state",
                              "country"})
        longText("Poa", field);
    // Entities would make elements no count of the text can see.
    QTest::newRow("document type") << QByteArray("<!DOCTYPE r [<!ENTITY e \"<a/><a/><a/><a/>\">]><OfflinePaperlessKyc>")
                                   << QByteArray("&e;") << 1000 << rootEnd << "declares a document type";
}

void TestAadhaarRecord::unusableDocumentsStopSilently()
{
    QFETCH(QByteArray, xml);
    QFETCH(QByteArray, unit);
    QFETCH(int, count);
    QFETCH(QByteArray, tail);
    QFETCH(QString, reason);
    LogCapture log;
    const QString path = AadhaarRecordProcessing::temporaryDirectory() + "test-document.xml";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(xml);
    const int perChunk = qMax(1, (1 << 20) / int(qMax<qsizetype>(1, unit.size())));
    for (int left = count; left > 0; left -= perChunk)
        file.write(unit.repeated(qMin(left, perChunk)));
    file.write(tail);
    file.close();
    auto s = screen();
    QVERIFY(s);
    s->processOfflineXML(path);
    s->processOfflineXML(std::nullopt);
    s->processOfflineXML(AadhaarRecordProcessing::temporaryDirectory() + "no-such-file.xml");
    QVERIFY(!s->aadhaarModel);
    QVERIFY(!s->oldAadhaarVM);
    if (!reason.isEmpty())
        QVERIFY2(log.lines().indexOf(QRegularExpression("^(The XML file could not be read|The record cannot be shown): .*"
                                                        + QRegularExpression::escape(reason) + ".*"))
                     >= 0,
                 qPrintable(log.joined().left(2000)));
    // The document's text never reaches the log.
    if (xml.size() > 20)
        QVERIFY(!log.joined().contains(QString::fromLatin1(xml.left(20))));
    QFile::remove(path);
}

void TestAadhaarRecord::hostileArchiveTakesTheFailedUnzipPath_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<QString>("reason");
    const ZipEntry document{"offlineaadhaar20260101.xml", "<OfflinePaperlessKyc referenceId=\"1\"/>"};
    QTest::newRow("climbs out of the folder") << QList<ZipEntry>{{"../escaped-offline.xml", "<x/>"}}
                                              << "unsafe entry: ";
    QTest::newRow("folder named like the document")
        << QList<ZipEntry>{{"offline.xml/", {}}} << "damaged or tampered archive: The document \"offline.xml\" is not a file";
    QTest::newRow("file then folder") << QList<ZipEntry>{document, {"b", "b"}, {"b/", {}}}
                                      << "damaged or tampered archive: The entry \"b/\" repeats the name";
    QTest::newRow("same name twice") << QList<ZipEntry>{document, {document.name, "<OfflinePaperlessKyc referenceId=\"2\"/>"}}
                                     << "damaged or tampered archive: The entry \"" + document.name + "\" repeats the name";
    QTest::newRow("two documents")
        << QList<ZipEntry>{document, {"offlineaadhaar20260102.xml", "<OfflinePaperlessKyc referenceId=\"2\"/>"}}
        << "damaged or tampered archive: The archive holds more than one document: ";
    // A few kilobytes that would inflate to more than the kit ever writes.
    QTest::newRow("inflates past the bound")
        << QList<ZipEntry>{{"offlineaadhaar20260101.xml", QByteArray(16 * 1024 * 1024 + 1, ' ')}}
        << "unsafe entry: The archive ";
}

void TestAadhaarRecord::hostileArchiveTakesTheFailedUnzipPath()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(QString, reason);
    const QString folder = AadhaarRecordProcessing::temporaryDirectory();
    const QString zip = AadhaarRecordProcessing::archivePath();
    const QStringList before = entriesOf(folder);
    QVERIFY(writeFile(zip, testsupport::makeZip(entries, testsupport::Method::traditional, "9736")));
    auto s = screen();
    QVERIFY(s);
    QVERIFY(s->ErrorView->isHidden());
    LogCapture log;
    s->openArchive(zip);
    QVERIFY2(log.contains("The archive could not be opened: " + reason), qPrintable(log.joined()));
    testsupport::verifyArchiveFailureLoggedAndCleaned(log);
    QTRY_VERIFY(!s->ErrorView->isHidden());
    QVERIFY(!s->aadhaarModel);
    QCOMPARE(entriesOf(folder), before); // nothing left, nothing escaped

    // A good archive opens afterwards in the same process.
    const simulator::OfflineKycDocument doc = simulator::makeOfflineKycDocument();
    QVERIFY(writeFile(zip, simulator::makeOfflineKycArchive(simulator::offlineKycXml(doc), "offlineaadhaar1.xml", "9736")));
    auto next = screen();
    QVERIFY(next);
    next->clientInfo = orvix::clientInfo{sim::Backend::defaultCredential, "user-1", {}, {}};
    next->urlComponent = m_sim.backendBaseUrl();
    next->openArchive(zip);
    QVERIFY2(next->aadhaarModel, qPrintable(log.joined()));
    QTRY_VERIFY(!next->userInfoView->isHidden());
    QCOMPARE(next->usernameLbl->text(), doc.name);
    QCOMPARE(entriesOf(folder), before);
}

void TestAadhaarRecord::picturesNeverHoldTheGuiThread_data()
{
    using namespace testsupport;
    QTest::addColumn<bool>("photograph"); // else a captcha
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QSize>("shown");     // empty: refused
    QTest::newRow("photograph") << true << jpegOf(photoLike({400, 500})) << QSize(400, 500);
    QTest::newRow("photograph of 16 Mpx") << true << jpegOf(photoLike({4096, 4096}), 50) << QSize(1024, 1024);
    QTest::newRow("photograph, last scan 1,000 more times") << true << progressiveScanBomb({4096, 4096}, 1000) << QSize();
    QTest::newRow("photograph, last scan 50,000 more times") << true << progressiveScanBomb({4096, 4096}, 50000)
                                                            << QSize();
    QTest::newRow("captcha") << false << pngOf(photoLike({200, 60})) << QSize(200, 60);
    QTest::newRow("captcha of 20,000 empty scans") << false << emptyScanBomb({1024, 1024}, 20000) << QSize();
    QTest::newRow("captcha of 5600x5600") << false << bigPng({5600, 5600}) << QSize();
    QTest::newRow("captcha ICO saying 1x1") << false << icoLie({5000, 5000}) << QSize();
}

// The GUI thread's CPU time.
static double guiCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

void TestAadhaarRecord::picturesNeverHoldTheGuiThread()
{
    QFETCH(bool, photograph);
    QFETCH(QByteArray, picture);
    QFETCH(QSize, shown);
    auto s = screen();
    QVERIFY(s);
    platform::ui::ImageView *view = photograph ? s->profilePic.data() : s->captchaImgView.data();
    LogCapture log;
    // The longest the GUI thread worked between two turns of its loop.
    double longest = 0;
    double last = guiCpuMs();
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const double now = guiCpuMs();
        longest = qMax(longest, now - last);
        last = now;
    });
    turns.start(0);
    if (photograph) {
        s->aadhaarModel = std::make_shared<OfflinePaperlessKyc>(
            QVariantMap{{"UidData", QVariantMap{{"Pht", QString::fromLatin1(picture.toBase64())}}}});
        s->showUserInfo();
    } else {
        s->showCaptcha(QString::fromLatin1(picture.toBase64()));
    }
    // Decoded on a worker: nothing is shown before the loop turns.
    QVERIFY(view->image().isNull());
    QTRY_VERIFY_WITH_TIMEOUT(!view->image().isNull() || log.contains("is not shown: "), 20000);
    turns.stop();
    QCOMPARE(view->image().size(), shown.isValid() ? shown : QSize(0, 0));
    QVERIFY2(longest <= 50, qPrintable(QString::number(longest) + " ms"));
}

void TestAadhaarRecord::documentsAtTheBoundsAreShown_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("most elements, each with most attributes, deepest") << testsupport::worstCombination();
    QTest::newRow("longest name and address") << testsupport::atAttributeLength();
    QTest::newRow("largest document") << testsupport::atBytes();
}

void TestAadhaarRecord::documentsAtTheBoundsAreShown()
{
    QFETCH(QByteArray, xml);
    const QByteArray zip = simulator::makeOfflineKycArchive(xml, "offlineaadhaar1.xml", "9736");
    auto s = screen();
    QVERIFY(s);
    s->clientInfo = orvix::clientInfo{sim::Backend::defaultCredential, "user-1", {}, {}};
    s->urlComponent = m_sim.backendBaseUrl();
    LogCapture log;
    // As the download hands it over. What these archives cost is paid on a
    // worker: the call returns before the record is made, and the GUI
    // thread turns meanwhile.
    s->handleDownloadResponse(QVariantMap{{"status", "Success"}, {"eKycXML", QString::fromLatin1(zip.toBase64())}});
    QVERIFY(!s->aadhaarModel);
    QTRY_VERIFY_WITH_TIMEOUT(!s->userInfoView->isHidden() || log.contains("could not"), 30000);
    QVERIFY2(s->aadhaarModel, qPrintable(log.joined().left(2000)));
    QVERIFY(log.contains("XML document: "));
    QCOMPARE(log.mainThreadLines().filter(QRegularExpression("^(UNZIPPED|XML document: )")), QStringList());
    // The panel shows the document's own values, whole.
    const auto poi = s->aadhaarModel->uidData()->poi();
    QVERIFY(xml.contains("name=\"" + s->usernameLbl->text().toUtf8() + '"'));
    QCOMPARE(s->usernameLbl->text(), poi->name().value_or(QString()));
    QCOMPARE(s->dobLbl->text(), poi->dob().value_or(QString()));
    QCOMPARE(s->addressLbl->text(), AadhaarRecordProcessing::composeAddress(s->aadhaarModel));
    QVERIFY(s->addressLbl->text().endsWith(u'.'));
}

void TestAadhaarRecord::archiveWithoutDocumentStopsSilently()
{
    const QString zip = AadhaarRecordProcessing::archivePath();
    QVERIFY(writeFile(zip, simulator::makeOfflineKycArchive("<x/>", "readme.txt", "9736")));
    auto s = screen();
    QVERIFY(s);
    LogCapture log;
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
    QTRY_VERIFY(!s->ErrorView->isHidden());
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));

    // A status that differs in case is a refusal.
    s->ErrorView->hide();
    s->handleDownloadResponse(QVariantMap{{"status", "success"}, {"eKycXML", "UEsDBA=="}});
    QVERIFY(!s->ErrorView->isHidden());
    QCOMPARE(s->errorTextLbl->text(), QString("Access token has expired."));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));
}

enum class Stale { ended, running, idTakenLater, earlierBoot, otherPidSpace, thisProcess, noMarker, badMarker,
                   markerIsLink, openMode, otherOwner, folderIsLink, otherName, runningWithoutBoot,
                   runningWithoutStart, runningStartFromStat,
                   // The kit's own folder, in use, replaced by the test:
                   ownTurnedLink, ownTurnedOpenFolder, ownTurnedOtherFolder };
Q_DECLARE_METATYPE(Stale)

namespace {

// What lies at `path`, links not followed: each entry's name, mode and bytes.
QStringList snapshot(const QString &path)
{
    QStringList out;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    for (QString entry = path; !entry.isEmpty(); entry = it.hasNext() ? it.next() : QString()) {
        struct stat st {};
        QFile file(entry);
        const bool found = ::lstat(QFile::encodeName(entry).constData(), &st) == 0;
        out << entry.mid(path.size()) + ' ' + QString::number(found ? st.st_mode : 0, 8) + ' '
                + (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    out.sort();
    return out;
}

// Field 22 of /proc/<pid>/stat, the start time; the name (field 2) may hold
// blanks and parentheses, so fields are counted after the last ')'.
QByteArray startTimeOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(22 - 3);
}

} // namespace

void TestAadhaarRecord::staleFoldersGoOnlyWhenProvablyLeftOver_data()
{
    QTest::addColumn<Stale>("kind");
    QTest::addColumn<bool>("removed");
    QTest::newRow("made by a process that ended") << Stale::ended << true;
    QTest::newRow("made by a running process") << Stale::running << false;
    QTest::newRow("its id now taken by a later process") << Stale::idTakenLater << true;
    QTest::newRow("made before the last boot") << Stale::earlierBoot << true;
    QTest::newRow("made in another process id space") << Stale::otherPidSpace << false;
    QTest::newRow("made by this process") << Stale::thisProcess << false;
    QTest::newRow("no marker") << Stale::noMarker << false;
    QTest::newRow("marker not ours in form") << Stale::badMarker << false;
    QTest::newRow("marker is a link") << Stale::markerIsLink << false;
    QTest::newRow("folder open to others") << Stale::openMode << false;
    QTest::newRow("folder of another user") << Stale::otherOwner << false;
    QTest::newRow("link named like a folder") << Stale::folderIsLink << false;
    QTest::newRow("another name") << Stale::otherName << false;
    QTest::newRow("running process, no boot") << Stale::runningWithoutBoot << false;
    QTest::newRow("running process, no start") << Stale::runningWithoutStart << false;
    QTest::newRow("running process, start read here") << Stale::runningStartFromStat << false;
    // Each time the next archive goes into a new folder of the kit's own;
    // the other folder is neither used, changed nor emptied.
    QTest::newRow("own folder turned link") << Stale::ownTurnedLink << false;
    QTest::newRow("own folder turned open folder") << Stale::ownTurnedOpenFolder << false;
    QTest::newRow("own folder turned other folder") << Stale::ownTurnedOtherFolder << false;
}

void TestAadhaarRecord::staleFoldersGoOnlyWhenProvablyLeftOver()
{
    QFETCH(Stale, kind);
    QFETCH(bool, removed);
    namespace files = platform::files;
    const bool replacesOwn = kind == Stale::ownTurnedLink || kind == Stale::ownTurnedOpenFolder
        || kind == Stale::ownTurnedOtherFolder;
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString name = kind == Stale::otherName ? "orvix-abc" : "orvix-Ab12Cd";
    QString target = base.filePath(kind == Stale::folderIsLink || replacesOwn ? "elsewhere" : name);
    QVERIFY(QDir().mkpath(target + "/inner"));
    QVERIFY(writeFile(target + "/aadhaar.xml", "<OfflinePaperlessKyc/>"));
    QVERIFY(writeFile(target + "/inner/kept", "kept"));
    QVERIFY(::chmod(QFile::encodeName(target).constData(),
                    kind == Stale::ownTurnedLink ? 0755 : kind == Stale::ownTurnedOpenFolder ? 0777 : 0700)
            == 0);

    if (replacesOwn) {
        // A run uses the kit's folder; then the folder is gone and the other
        // one takes its name (as root too, so owner and mode cannot be all).
        const simulator::OfflineKycDocument doc = simulator::makeOfflineKycDocument();
        const QByteArray zip = simulator::makeOfflineKycArchive(simulator::offlineKycXml(doc), "offline1.xml", "9736");
        const auto run = [&] {
            auto s = screen();
            QVERIFY(s);
            s->clientInfo = orvix::clientInfo{sim::Backend::defaultCredential, "user-1", {}, {}};
            s->urlComponent = m_sim.backendBaseUrl();
            s->handleDownloadResponse(QVariantMap{{"status", "Success"}, {"eKycXML", QString(zip.toBase64())}});
            QTRY_VERIFY(!s->userInfoView->isHidden());
            QCOMPARE(s->usernameLbl->text(), doc.name);
        };
        QStringList names;
        const auto replace = [&](const QString &own) {
            QVERIFY(QDir(own).removeRecursively());
            QVERIFY(kind == Stale::ownTurnedLink ? QFile::link(target, own) : QDir().rename(target, own));
            target = kind == Stale::ownTurnedLink ? target : own;
            names << own;
        };
        run();
        const QStringList contents = snapshot(target);
        replace(files::privateTemporaryDirectory());
        run();
        const QString next = files::privateTemporaryDirectory();
        struct stat st {};
        QVERIFY(!names.contains(next) && ::lstat(QFile::encodeName(next).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700);
        QCOMPARE(snapshot(target), contents);

        // At the end of the program the same: the name is left alone...
        replace(next);
        files::removePrivateTemporaryDirectory();
        QCOMPARE(snapshot(target), contents);
        // ...and a folder that passes goes, a link inside it not followed.
        run();
        const QString last = files::privateTemporaryDirectory();
        QVERIFY(QDir().mkpath(last + "/inner") && QFile::link(target, last + "/inner/link"));
        files::removePrivateTemporaryDirectory();
        QVERIFY(!QFileInfo::exists(last));
        QCOMPARE(snapshot(target), contents);
        for (const QString &own : std::as_const(names))
            QVERIFY(QFile::remove(own) || QDir(own).removeRecursively());
        return;
    }

    QByteArray marker = files::ownerMarkerText(endedProcessId());
    const QByteArray running = files::ownerMarkerText(::getppid());
    const auto replaceLine = [](QByteArray text, const QByteArray &key, const QByteArray &value) {
        const qsizetype at = text.indexOf("\n" + key + ' ') + key.size() + 2;
        return text.left(at) + value + text.mid(text.indexOf('\n', at));
    };
    switch (kind) {
    case Stale::running: marker = running; break;
    case Stale::idTakenLater: marker = replaceLine(running, "start", "1"); break;
    case Stale::earlierBoot: marker = replaceLine(running, "boot", "00000000-0000-0000-0000-000000000000"); break;
    case Stale::otherPidSpace: marker = replaceLine(marker, "space", "pid:[1]"); break;
    case Stale::thisProcess: marker = files::ownerMarkerText(::getpid()); break;
    case Stale::badMarker: marker = "pid " + QByteArray::number(endedProcessId()) + '\n'; break;
    case Stale::runningWithoutBoot: marker = replaceLine(running, "boot", ""); break;
    case Stale::runningWithoutStart: marker = replaceLine(running, "start", ""); break;
    case Stale::runningStartFromStat:
        marker = replaceLine(running, "start", startTimeOf(::getppid()));
        QVERIFY(!marker.contains("\nstart \n"));
        break;
    default: break;
    }
    const QString markerPath = target + '/' + files::ownerMarkerName;
    if (kind == Stale::markerIsLink) {
        QVERIFY(writeFile(base.filePath("marker"), marker));
        QVERIFY(QFile::link(base.filePath("marker"), markerPath));
    } else if (kind != Stale::noMarker) {
        QVERIFY(writeFile(markerPath, marker));
    }
    if (kind == Stale::openMode)
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
    if (kind == Stale::otherOwner) {
        if (::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(::chown(QFile::encodeName(target).constData(), 65534, 65534) == 0);
    }
    if (kind == Stale::folderIsLink)
        QVERIFY(QFile::link(target, base.filePath(name)));

    const QStringList before = entriesOf(base.path());
    const QStringList contents = snapshot(target);
    QCOMPARE(files::removeStaleTemporaryDirectories(base.path()), removed ? 1 : 0);
    QStringList expected = before;
    if (removed)
        expected.removeAll(name);
    QCOMPARE(entriesOf(base.path()), expected);
    if (removed)
        QVERIFY(!QFileInfo::exists(target));
    else
        QCOMPARE(snapshot(target), contents);

    if (kind == Stale::thisProcess) {
        // The kit's own folder names this process, so a start elsewhere keeps it.
        const QString own = files::privateTemporaryDirectory();
        files::removeStaleTemporaryDirectories(QFileInfo(own).path());
        QVERIFY(QFileInfo(own + '/' + files::ownerMarkerName).isFile());
    }
}

void TestAadhaarRecord::numberFieldKeepsTheCursor_data()
{
    // Typed first, then the cursor set, then the steps: "<bs>" Backspace,
    // "<del>" Delete, "<home>", "<right>", "<undo>", "<paste>X" a paste of X through
    // the clipboard, anything else typed.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::newRow("type at the start") << "98765432" << 0 << QStringList{"1"} << "1987 6543 2" << 1;
    QTest::newRow("type before a blank") << "98765432" << 4 << QStringList{"1"} << "9876 1543 2" << 6;
    QTest::newRow("type after a blank") << "98765432" << 5 << QStringList{"1"} << "9876 1543 2" << 6;
    QTest::newRow("type at the end") << "98765432" << 9 << QStringList{"1"} << "9876 5432 1" << 11;
    QTest::newRow("type a blank, dropped") << "98765432" << 7 << QStringList{" "} << "9876 5432" << 7;
    QTest::newRow("backspace the first digit") << "98765432" << 1 << QStringList{"<bs>"} << "8765 432" << 0;
    QTest::newRow("backspace in the middle") << "987654321012" << 6 << QStringList{"<bs>"} << "9876 4321 012" << 5;
    QTest::newRow("backspace on a blank takes the digit before") << "987654321012" << 5 << QStringList{"<bs>"}
                                                                 << "9875 4321 012" << 3;
    QTest::newRow("delete on a blank takes the digit after") << "987654321012" << 4 << QStringList{"<del>"}
                                                             << "9876 4321 012" << 4;
    QTest::newRow("backspace at the end") << "987654321012" << 14 << QStringList{"<bs>"} << "9876 5432 101" << 13;
    QTest::newRow("delete at the start") << "987654321012" << 0 << QStringList{"<del>"} << "8765 4321 012" << 0;
    QTest::newRow("delete in the middle") << "987654321012" << 5 << QStringList{"<del>"} << "9876 4321 012" << 5;
    QTest::newRow("delete the last digit") << "987654321012" << 13 << QStringList{"<del>"} << "9876 5432 101" << 13;
    QTest::newRow("paste at the start") << "98765432" << 0 << QStringList{"<paste>12"} << "1298 7654 32" << 2;
    QTest::newRow("paste with a blank in the middle") << "98765432" << 5 << QStringList{"<paste>1 2"}
                                                      << "9876 1254 32" << 7;
    QTest::newRow("paste at the end") << "98765432" << 9 << QStringList{"<paste>1012"} << "9876 5432 1012" << 14;
    // Edits that need no regrouping keep the history.
    QTest::newRow("undo a digit") << "98765" << 6 << QStringList{"4", "<undo>"} << "9876 5" << 6;
    QTest::newRow("replace a mistyped digit") << "987654321012" << 14
                                              << QStringList{"<home>", "<right>", "<right>", "<right>", "<right>",
                                                             "<right>", "<right>", "<bs>", "4"}
                                              << "9876 4432 1012" << 6;
}

void TestAadhaarRecord::numberFieldKeepsTheCursor()
{
    QFETCH(QString, typed);
    QFETCH(int, cursor);
    QFETCH(QStringList, steps);
    QFETCH(QString, text);
    QFETCH(int, position);

    // Both screens, with their own field and delegate, wired as they wire it.
    const auto newScreen = kitStoryboard().instantiate<NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
    const auto oldScreen = kitStoryboard().instantiate<OldAadhaarFlowVC>(QStringLiteral("OldAadhaarFlowVC"));
    QVERIFY(newScreen && oldScreen);
    for (const std::shared_ptr<AadhaarRecordProcessing> &screen :
         {std::static_pointer_cast<AadhaarRecordProcessing>(newScreen),
          std::static_pointer_cast<AadhaarRecordProcessing>(oldScreen)}) {
        platform::ui::TextField *field = screen->aadhaarNoTF;
        QVERIFY(field && field->delegate() == std::dynamic_pointer_cast<platform::ui::TextFieldDelegate>(screen));
        QObject::connect(field, &platform::ui::TextField::editingChanged, field,
                         [s = screen.get(), field] { s->didChangeText(field); });
        QTest::keyClicks(field, typed);
        field->setCursorPosition(cursor);
        for (const QString &step : steps) {
            if (step == "<bs>")
                QTest::keyClick(field, Qt::Key_Backspace);
            else if (step == "<del>")
                QTest::keyClick(field, Qt::Key_Delete);
            else if (step == "<home>")
                QTest::keyClick(field, Qt::Key_Home);
            else if (step == "<right>")
                QTest::keyClick(field, Qt::Key_Right);
            else if (step == "<undo>")
                QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
            else if (step.startsWith("<paste>")) {
                QGuiApplication::clipboard()->setText(step.mid(7));
                QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            } else
                QTest::keyClicks(field, step);
        }
        QCOMPARE(field->text(), text);
        QCOMPARE(field->cursorPosition(), position);
    }
}

QTEST_MAIN(TestAadhaarRecord)
#include "tst_aadhaar_record.moc"
