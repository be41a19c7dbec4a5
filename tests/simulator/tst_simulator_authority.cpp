// The authority stand-in, driven through the kit's own HTTP client the way the
// web-API flow drives it.

#include "logcapture.h"

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "platform/net/session.h"
#include "simulator/Captcha.h"
#include "simulator/Simulator.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

using namespace orvix;
using namespace orvix::sim;
namespace net = orvix::platform::net;

namespace {

const QString uid = QStringLiteral("234567890124"); // passes the Verhoeff check
const QString shareCode = QStringLiteral("9736");
const HTTPHeaders agent{{"User-Agent", "Mozilla/5.0 Chrome/96.0.4664.110"}};
const HTTPHeaders formType{{"Content-Type", "application/x-www-form-urlencoded"}};

struct Result {
    QVariant value;
    bool failed = false;
    bool transportFailed = false;
    QVariantMap map() const { return value.toMap(); }
};

Result await(const std::function<void(APIHandler::OnSuccess, APIHandler::OnFailure)> &send)
{
    auto out = std::make_shared<std::optional<Result>>();
    send([out](const QVariant &v) { *out = Result{v}; },
         [out](const Error &e) { *out = Result{{}, true, e.isSessionTaskFailed()}; });
    return QTest::qWaitFor([&] { return out->has_value(); }, 15000) ? **out : Result{{}, true, false};
}

struct Pkce {
    QString verifier, challenge;
    explicit Pkce(int length = 64)
    {
        const QString chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
        for (int i = 0; i < length; ++i)
            verifier += chars.at(QRandomGenerator::global()->bounded(int(chars.size())));
        challenge = QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    }
};

QString authorizeQuery(const QString &challenge, const QString &method = "S256", const QString &client = "myAadhaar")
{
    return "grant_type=authorization_code&response_type=code&client_id=" + client
        + "&scope=READ&code_challenge_method=" + method + "&code_challenge=" + challenge;
}

// What the kit's scraper finds on the authorization page.
QStringList csrfTokens(const QString &page)
{
    static const QRegularExpression pattern(QStringLiteral("_csrf.*?value.*?\"(.*?)\""));
    QStringList out;
    for (auto it = pattern.globalMatch(page); it.hasNext();)
        out.append(it.next().captured(1));
    return out;
}

QString captchaTxnId(const QVariantMap &reply)
{
    return QJsonDocument::fromJson(reply.value("message").toString().toUtf8()).object().value("transactionId").toString();
}

// The single entry of an archive, read to its end; nothing when it will not
// open with `password` or any check fails. `encryption`: 99 for WinZip AES,
// 1 for traditional, 0 for none.
std::optional<QByteArray> unzipEntry(const QByteArray &archive, const QString &password, QString *name = nullptr,
                                     int *encryption = nullptr)
{
    if (archive.size() < 30)
        return std::nullopt;
    if (encryption) {
        const bool locked = archive[6] & 1;
        *encryption = uchar(archive[8]) == 99 ? 99 : locked ? 1 : 0;
    }
    std::unique_ptr<struct archive, int (*)(struct archive *)> a(archive_read_new(), archive_read_free);
    archive_read_support_format_zip_seekable(a.get());
    archive_read_add_passphrase(a.get(), password.toUtf8().constData());
    archive_entry *entry = nullptr;
    if (archive_read_open_memory(a.get(), archive.constData(), size_t(archive.size())) != ARCHIVE_OK
        || archive_read_next_header(a.get(), &entry) != ARCHIVE_OK)
        return std::nullopt;
    if (name)
        *name = QString::fromUtf8(archive_entry_pathname_utf8(entry));
    QByteArray data;
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a.get(), &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) // a bad authentication code comes as a warning
            return std::nullopt;
        data.append(static_cast<const char *>(block), qsizetype(size));
    }
    if (archive_read_next_header(a.get(), &entry) != ARCHIVE_EOF)
        return std::nullopt;
    return data;
}

QByteArray exchange(quint16 port, const QByteArray &head, const QByteArray &body)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(head + "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { reply += socket.readAll(); });
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000))
        return "(no close) " + reply;
    return reply + socket.readAll();
}

} // namespace

class TestSimulatorAuthority : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(sim.start()); }
    void init()
    {
        sim.reset();
        net::Session::shared().cookieStore().removeAll();
    }

    void aadhaarNumberCheck_data();
    void aadhaarNumberCheck();
    void signInPageAndCaptcha();
    void otpRequest_data();
    void otpRequest();
    void loginEndsOnRedirect_data();
    void loginEndsOnRedirect();
    void tokenChecksCodeAndVerifier_data();
    void tokenChecksCodeAndVerifier();
    void downloadRefusals();
    void downloadServesTheArchive();
    void droppedDownloadFailsAsTransport();
    void malformedRequestsAreAnswered();

private:
    QString authorizePage(const QString &query)
    {
        const QString url = sim.authorityApiBaseUrl() + "/access/oauth/authorize?" + query;
        const HTTPHeaders headers{{"accept", "text/html"}, {"cache-control", "no-cache"}};
        return await([&](auto ok, auto no) { APIHandler::getRequestWithHeaders({}, headers, url, ok, no); })
            .value.toString();
    }
    // A JSON request as the kit sends it: GET without a body, else POST.
    Result call(const QString &path, const HTTPHeaders &headers, const std::optional<QVariantMap> &body = {})
    {
        const QString url = sim.authorityApiBaseUrl() + path;
        return await([&](auto ok, auto no) {
            body ? APIHandler::postRequest(*body, url, headers, "", ok, no)
                 : APIHandler::getRequest({}, url, headers, "", ok, no);
        });
    }
    QVariantMap captcha() { return call("/generateCaptcha", agent).map(); }
    QVariantMap requestOtp(const QString &number, const QString &text, const QVariant &txnId)
    {
        return call("/generateOTPForOAuth", agent, QVariantMap{{"uid", number}, {"captcha", text}, {"captchaTxnId", txnId}})
            .map();
    }
    QVariantMap login(const QString &csrf, const QString &otp)
    {
        const QString url = sim.authorityApiBaseUrl() + "/login";
        const QVariantMap form{{"captcha", "ABCDE"}, {"_csrf", csrf}, {"otp", otp}, {"submit", "Login"}, {"uid", uid}};
        return await([&](auto ok, auto no) { APIHandler::postFormRequest(form, formType, url, ok, no); }).map();
    }
    QVariantMap token(const QString &code, const QString &verifier)
    {
        return call("/access/oauth/token?client_id=myAadhaar&grant_type=authorization_code&code_verifier="
                        + QUrl::toPercentEncoding(verifier) + "&code=" + QUrl::toPercentEncoding(code),
                    formType, QVariantMap{{"", ""}})
            .map();
    }
    Result download(const QString &accessToken, const QString &code = shareCode, const QString &number = uid)
    {
        const HTTPHeaders headers{{"transactionId", ""}, {"Authorization", "Bearer " + accessToken.toUtf8()},
                                  {"'Accept'", "application/json"}, {"'Referer'", sim.authorityPortalUrl().toUtf8()}};
        return call("/eAadhaarService/api/oauth/downloadOfflineEkyc", headers,
                    QVariantMap{{"shareCode", code}, {"uid", number}});
    }
    QByteArray downloadedArchive(const QString &accessToken)
    {
        return QByteArray::fromBase64(download(accessToken).map().value("eKycXML").toString().toLatin1());
    }

    // Authorization page, captcha and one-time password; the session's csrf token once the password was sent.
    QString beginSignIn(const QString &query)
    {
        const QString csrf = csrfTokens(authorizePage(query)).value(0);
        const QString txn = captchaTxnId(captcha());
        return requestOtp(uid, sim.authority().currentCaptcha(), txn).value("status").toBool() ? csrf : QString();
    }
    // The whole sign-in; the authorization code it ends with.
    QString signIn(const QString &query)
    {
        const QString csrf = beginSignIn(query);
        return QUrlQuery(login(csrf, sim.authority().lastOtp()).value("resQuery").toUrl())
            .queryItemValue("code", QUrl::FullyDecoded);
    }
    QString accessToken()
    {
        const Pkce pkce;
        return token(signIn(authorizeQuery(pkce.challenge)), pkce.verifier).value("access_token").toString();
    }

    LogCapture quiet;
    Simulator sim;
};

void TestSimulatorAuthority::aadhaarNumberCheck_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("valid");
    // The authority's published sample residents.
    QTest::newRow("sample 999941057058") << "999941057058" << true;
    QTest::newRow("sample 999971658847") << "999971658847" << true;
    QTest::newRow("sample 999999990019") << "999999990019" << true;
    QTest::newRow("wrong check digit") << "999941057059" << false;
    QTest::newRow("adjacent digits swapped") << "999914057058" << false;
    QTest::newRow("grouped with blanks") << "9999 4105 7058" << false;
    QTest::newRow("empty") << "" << false;
    // These pass the check digit alone (a letter counted as 0, other scripts' digits by value).
    QTest::newRow("starts with 1") << "123456789010" << false;
    QTest::newRow("starts with 0") << "012345678906" << false;
    QTest::newRow("eleven digits") << "99994105700" << false;
    QTest::newRow("letter O for a zero") << "999941O57058" << false;
    QTest::newRow("Devanagari digits") << QStringLiteral("\u096F\u096F\u096F\u096F\u096A\u0967\u0966\u096B\u096D\u0966\u096B\u096E")
                                       << false;
}

void TestSimulatorAuthority::aadhaarNumberCheck()
{
    QFETCH(QString, number);
    QFETCH(bool, valid);
    QCOMPARE(Authority::isValidAadhaar(number), valid);
}

void TestSimulatorAuthority::signInPageAndCaptcha()
{
    QCOMPARE(sim.authorityApiBaseUrl(), sim.baseUrl().toString() + "uidai");
    const QString portalUrl = sim.authorityPortalUrl();
    QVERIFY(await([&](auto ok, auto no) { APIHandler::getRequestWithHeaders({}, {}, portalUrl, ok, no); })
                .value.toString()
                .contains("<html"));
    QCOMPARE(captcha().value("sessionActive"), QVariant(false)); // no session yet

    // Refused authorizations start no session; what they echo is escaped.
    const QString challenge = Pkce().challenge;
    for (const QString &query : {authorizeQuery(""), authorizeQuery(challenge, "S256", "%3Cscript%3Ex%3C/script%3E"),
                                 authorizeQuery(challenge).replace("response_type=code", "response_type=token")}) {
        const QString page = authorizePage(query);
        QVERIFY2(page.contains("OAuth error") && csrfTokens(page).isEmpty() && !page.contains("<script"),
                 qPrintable(query));
    }
    QVERIFY(net::Session::shared().cookieStore().allCookies().isEmpty());

    const QStringList tokens = csrfTokens(authorizePage(authorizeQuery(challenge)));
    QCOMPARE(tokens.size(), 1);
    QVERIFY(tokens.at(0).size() >= 16);
    QCOMPARE(net::Session::shared().cookieStore().cookiesForUrl(QUrl(sim.authorityApiBaseUrl() + "/login")).size(), 1);

    const QVariantMap reply = captcha();
    QCOMPARE(reply.value("sessionActive"), QVariant(true));
    const QJsonObject message = QJsonDocument::fromJson(reply.value("message").toString().toUtf8()).object();
    QImage picture;
    QVERIFY(picture.loadFromData(QByteArray::fromBase64(message.value("imageBase64").toString().toLatin1()), "PNG"));
    QVERIFY(picture.width() > picture.height() && picture.height() >= 30);
    QVERIFY(!message.value("transactionId").toString().isEmpty());
    QVERIFY(QRegularExpression("^[A-Z2-9]{5}$").match(sim.authority().currentCaptcha()).hasMatch());
    // Drawn from characters a person cannot take for one another.
    // Drawn in upper case only, so no l or g either.
    const QString alphabet = orvix::sim::captcha::alphabet();
    QVERIFY(QRegularExpression("^[A-Z2-9]{16,}$").match(alphabet).hasMatch());
    for (const QChar c : QStringLiteral("0OQ1I2Z5S6G8B9UV"))
        QVERIFY2(!alphabet.contains(c), qPrintable(QString(c)));
    QVERIFY(captchaTxnId(captcha()) != message.value("transactionId").toString());
}

void TestSimulatorAuthority::otpRequest_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<bool>("sessionActive");
    QTest::newRow("right captcha") << "" << true << true;
    QTest::newRow("right, lower case") << "lower" << true << true;
    QTest::newRow("the demo's sample number") << "sample uid" << true << true;
    QTest::newRow("wrong text") << "wrong text" << false << true;
    QTest::newRow("other transaction") << "other txn" << false << true;
    QTest::newRow("no transaction") << "null txn" << false << true;
    QTest::newRow("captcha used twice") << "twice" << false << true;
    QTest::newRow("invalid number") << "bad uid" << false << true;
    QTest::newRow("captcha refused") << "refuse captcha" << false << true;
    QTest::newRow("session inactive") << "inactive" << false << false;
}

void TestSimulatorAuthority::otpRequest()
{
    QFETCH(QString, setup);
    authorizePage(authorizeQuery(Pkce().challenge));
    QString txn = captchaTxnId(captcha());
    // A captcha of digits alone has no lower case.
    while (setup == "lower" && !sim.authority().currentCaptcha().contains(QRegularExpression("[A-Z]")))
        txn = captchaTxnId(captcha());
    QString text = sim.authority().currentCaptcha(), number = uid;
    QVariant txnId = txn;
    if (setup == "lower")
        text = text.toLower();
    else if (setup == "wrong text")
        text = text.left(4) + (text.endsWith('A') ? "B" : "A");
    else if (setup == "other txn")
        txnId = txn + "0";
    else if (setup == "null txn")
        txnId = QVariant();
    else if (setup == "twice")
        requestOtp(uid, text, txnId);
    else if (setup == "bad uid")
        number = "234567890125";
    else if (setup == "sample uid")
        number = Simulator::sampleAadhaarNumber();
    sim.authority().setCaptchaRefused(setup == "refuse captcha");
    sim.authority().setSessionInactive(setup == "inactive");

    const QVariantMap reply = requestOtp(number, text, txnId);
    QFETCH(bool, sent);
    QFETCH(bool, sessionActive);
    QCOMPARE(reply.value("status"), QVariant(sent));
    QCOMPARE(reply.value("sessionActive"), QVariant(sessionActive));
    QVERIFY(!reply.value("message").toString().isEmpty());
    if (setup != "twice")
        QCOMPARE(QRegularExpression("^[0-9]{6}$").match(sim.authority().lastOtp()).hasMatch(), sent);
    // An expired session stays so until a new authorization.
    sim.authority().setSessionInactive(false);
    QCOMPARE(captcha().value("sessionActive"), QVariant(sessionActive));
}

void TestSimulatorAuthority::loginEndsOnRedirect_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("lastPath");
    QTest::addColumn<QString>("error");
    QTest::newRow("signed in") << "" << "callback" << "";
    QTest::newRow("wrong password") << "wrong otp" << "failed" << "Invalid OTP";
    QTest::newRow("login refused") << "refuse" << "failed" << "Invalid OTP";
    QTest::newRow("internal error") << "internal" << "failed" << Authority::internalErrorText;
    QTest::newRow("wrong csrf") << "wrong csrf" << "invalidsession" << "Invalid session. Please sign in again.";
}

void TestSimulatorAuthority::loginEndsOnRedirect()
{
    QFETCH(QString, setup);
    QString csrf = beginSignIn(authorizeQuery(Pkce().challenge));
    QVERIFY(!csrf.isEmpty());
    QString otp = sim.authority().lastOtp();
    if (setup == "wrong otp")
        otp = otp == "000000" ? "000001" : "000000";
    else if (setup == "wrong csrf")
        csrf += "x";
    sim.authority().setLoginRefused(setup == "refuse");
    sim.authority().setLoginInternalError(setup == "internal");

    const QVariantMap landed = login(csrf, otp);
    const QUrl url = landed.value("resQuery").toUrl();
    QFETCH(QString, lastPath);
    QCOMPARE(url.fileName(), lastPath);
    QVERIFY(!landed.value("resString").toString().isEmpty());
    QFETCH(QString, error);
    QCOMPARE(QUrlQuery(url).queryItemValue("error", QUrl::FullyDecoded), error);
    QCOMPARE(QUrlQuery(url).queryItemValue("code").size() >= 20, error.isEmpty());
    if (error.isEmpty())
        QCOMPARE(url.toString(QUrl::RemoveQuery), sim.authorityPortalUrl() + "oauth/callback");
}

void TestSimulatorAuthority::tokenChecksCodeAndVerifier_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("error"); // empty: a token
    QTest::newRow("right verifier") << "" << "";
    QTest::newRow("longest verifier") << "128" << "";
    QTest::newRow("wrong verifier") << "wrong" << "invalid_grant";
    QTest::newRow("verifier too short") << "42" << "invalid_grant";
    QTest::newRow("plain method") << "plain" << "invalid_request";
    QTest::newRow("code used twice") << "twice" << "invalid_grant";
    QTest::newRow("empty code") << "empty" << "invalid_request";
    QTest::newRow("token refused") << "refuse" << "invalid_grant";
}

void TestSimulatorAuthority::tokenChecksCodeAndVerifier()
{
    QFETCH(QString, setup);
    Pkce pkce(setup == "128" ? 128 : setup == "42" ? 42 : 64);
    // "plain" sends the verifier itself as the challenge.
    QString code = signIn(setup == "plain" ? authorizeQuery(pkce.verifier, "plain") : authorizeQuery(pkce.challenge));
    QVERIFY(!code.isEmpty());
    if (setup == "wrong")
        pkce.verifier = Pkce().verifier;
    else if (setup == "twice")
        QCOMPARE(token(code, pkce.verifier).value("statusCode").toInt(), 200);
    else if (setup == "empty")
        code.clear();
    sim.authority().setTokenRefused(setup == "refuse");

    const QVariantMap reply = token(code, pkce.verifier);
    QFETCH(QString, error);
    QCOMPARE(reply.value("statusCode").toInt(), error.isEmpty() ? 200 : 400);
    QCOMPARE(reply.value("error").toString(), error);
    QCOMPARE(reply.value("access_token").toString().size() >= 20, error.isEmpty());
}

void TestSimulatorAuthority::downloadRefusals()
{
    const QString bearer = accessToken();
    QVERIFY(!bearer.isEmpty());
    const QList<std::tuple<bool, QString, QString, QString, int>> cases = {
        {true, bearer, shareCode, uid, 401},                  // refused
        {false, bearer + "x", shareCode, uid, 401},           // unknown token
        {false, bearer, "97a6", uid, 400},                    // share code not four digits
        {false, bearer, shareCode, "987654321018", 403},      // not the number signed in
    };
    for (const auto &[refused, token, code, number, status] : cases) {
        sim.authority().setDownloadRefused(refused);
        const QVariantMap reply = download(token, code, number).map();
        QCOMPARE(reply.value("statusCode").toInt(), status);
        QCOMPARE(reply.value("status").toString(), "Failure");
        if (status == 401)
            QCOMPARE(reply.value("message").toString(), Authority::tokenExpiredText);
        QVERIFY(!reply.contains("eKycXML") && !sim.authority().lastDocument().has_value());
    }
}

void TestSimulatorAuthority::downloadServesTheArchive()
{
    const QString bearer = accessToken(); // one token serves several downloads
    const QVariantMap reply = download(bearer).map();
    QCOMPARE(reply.value("status").toString(), "Success");
    const QString text = reply.value("eKycXML").toString();
    QVERIFY(!text.contains('\n'));
    const auto served = sim.authority().lastDocument();
    QVERIFY(served.has_value());
    QCOMPARE(QByteArray::fromBase64(text.toLatin1()), served->archive);
    QVERIFY(served->document.referenceId.startsWith(uid.right(4)));
    QCOMPARE(served->xml, simulator::offlineKycXml(served->document, -1));
    QString name;
    int encryption = 0;
    QCOMPARE(unzipEntry(served->archive, shareCode, &name, &encryption), std::optional(served->xml));
    QVERIFY(name == served->xmlFileName && name.startsWith("offline") && name.endsWith(".xml"));
    QCOMPARE(encryption, 1); // traditional, the authority's form
    QVERIFY(!unzipEntry(served->archive, "9737").has_value());

    sim.authority().setArchiveDamaged(true);
    QVERIFY(!unzipEntry(downloadedArchive(bearer), shareCode).has_value());
    sim.authority().setArchiveDamaged(false);

    sim.authority().setArchiveShareCode("4321");
    const QByteArray locked = downloadedArchive(bearer);
    QVERIFY(!unzipEntry(locked, shareCode).has_value());
    QCOMPARE(unzipEntry(locked, "4321"), std::optional(sim.authority().lastDocument()->xml));
    sim.authority().setArchiveShareCode({});

    sim.authority().setBase64LineBreaks(true);
    const QStringList lines = download(bearer).map().value("eKycXML").toString().split("\r\n");
    QVERIFY(lines.size() > 2);
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY(i + 1 < lines.size() ? lines[i].size() == 76 : lines[i].size() <= 76 && !lines[i].isEmpty());
    QCOMPARE(QByteArray::fromBase64(lines.join("").toLatin1()), sim.authority().lastDocument()->archive);
}

void TestSimulatorAuthority::droppedDownloadFailsAsTransport()
{
    const QString bearer = accessToken();
    sim.setOverride(Authority::downloadRoute, Override::dropConnection());
    const Result dropped = download(bearer);
    QVERIFY(dropped.failed && dropped.transportFailed);
    QCOMPARE(sim.requestsTo(Authority::downloadRoute).size(), 2); // the client's one retry

    sim.setOneShot(Authority::downloadRoute, Override::dropConnection());
    QCOMPARE(download(bearer).map().value("status").toString(), "Success");
}

void TestSimulatorAuthority::malformedRequestsAreAnswered()
{
    authorizePage(authorizeQuery(Pkce().challenge));
    const QByteArray cookie = "\r\nCookie: " + net::Session::shared().cookieStore().allCookies().value(0).toRawForm(
                                                 QNetworkCookie::NameAndValueOnly);
    const QByteArray otp = "POST /" + Authority::otpPath.toLatin1() + " HTTP/1.1";
    const QByteArray download = "POST /" + Authority::downloadPath.toLatin1() + " HTTP/1.1\r\nAuthorization: ";
    const QList<std::pair<QByteArray, QByteArray>> cases = {
        {otp + cookie, "{not json"},
        {otp + cookie, R"({"uid": 234567890124, "captcha": null, "captchaTxnId": {}})"},
        {otp + "\r\nCookie: JSESSIONID; =; ;JSESSIONID==x", "[]"},
        {"POST /" + Authority::loginPath.toLatin1() + " HTTP/1.1" + cookie, "%zz&&=&_csrf=%FF"},
        {"POST /" + Authority::tokenPath.toLatin1() + "?code=%00&code_verifier=%zz&client_id=myAadhaar HTTP/1.1",
         "\xff"},
        {download + "Bearer", "{}"},
        {download + "Basic eDp5", "null"},
        {"GET /" + Authority::loginFailedPath.toLatin1() + "?error=%3Cimg%20src%3Dx%3E HTTP/1.1", {}},
    };
    for (const auto &[head, body] : cases) {
        const QByteArray reply = exchange(sim.port(), head, body);
        QVERIFY2(QRegularExpression("^HTTP/1.1 [2-4]\\d\\d ").match(QString::fromLatin1(reply)).hasMatch(), head);
        QVERIFY2(!reply.contains("<img"), head);
    }
    QVERIFY(sim.authority().lastOtp().isEmpty());

    // Each request is recorded as it came: line, fields in order under their names as sent, body.
    const QList<Authority::RawRequest> recorded = sim.authority().recordedRequests();
    QCOMPARE(recorded.size(), cases.size() + 1); // after the authorization
    QCOMPARE(recorded[1].requestLine, "POST /" + Authority::otpPath.toLatin1());
    QCOMPARE(recorded[1].route, Authority::otpRoute);
    QCOMPARE(recorded[1].headers, (sim::HeaderList{{"Cookie", cookie.mid(10)}, {"Connection", "close"},
                                                   {"Content-Length", "9"}}));
    QCOMPARE(recorded[1].body, QByteArray("{not json"));
    QCOMPARE(recorded.last().requestLine, cases.last().first.chopped(9)); // without " HTTP/1.1"
    sim.reset();
    QVERIFY(sim.authority().recordedRequests().isEmpty());

    QString error;
    QVERIFY(simulator::makeOfflineKycArchive("<x/>", "offline.xml", "", &error).isEmpty() && !error.isEmpty());
    QVERIFY(simulator::makeOfflineKycArchive("<x/>", "", shareCode).isEmpty());
}

QTEST_MAIN(TestSimulatorAuthority)
#include "tst_simulator_authority.moc"
