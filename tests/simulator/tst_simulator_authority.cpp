// The authority stand-in, driven through the kit's own HTTP client the way the
// web-API flow drives it.

#include "logcapture.h"

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <zip.h>

using namespace orvix;
using namespace orvix::sim;
namespace net = orvix::platform::net;

namespace {

const QByteArray browserAgent = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like "
                                "Gecko) Chrome/96.0.4664.110 Safari/537.36";
const QString uid = QStringLiteral("234567890124"); // passes the Verhoeff check
const QString shareCode = QStringLiteral("9736");

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
    if (!QTest::qWaitFor([&] { return out->has_value(); }, 15000))
        return Result{{}, true, false};
    return **out;
}

struct Pkce {
    QString verifier;
    QString challenge;
    static Pkce fresh(int length = 64)
    {
        const QString chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
        Pkce p;
        for (int i = 0; i < length; ++i)
            p.verifier += chars.at(QRandomGenerator::global()->bounded(int(chars.size())));
        p.challenge = QString::fromLatin1(QCryptographicHash::hash(p.verifier.toUtf8(), QCryptographicHash::Sha256)
                                              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        return p;
    }
};

// What the kit's scraper finds on the authorization page.
QStringList csrfTokens(const QString &page)
{
    static const QRegularExpression pattern(QStringLiteral("_csrf.*?value.*?\"(.*?)\""));
    QStringList out;
    for (auto it = pattern.globalMatch(page); it.hasNext();)
        out.append(it.next().captured(1));
    return out;
}

// The single entry of an archive, read to its end with `password`; nothing when it will not open.
std::optional<QByteArray> unzipEntry(const QByteArray &archive, const QString &password, QString *name = nullptr,
                                     int *encryption = nullptr)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(archive.constData(), zip_uint64_t(archive.size()), 0, &error);
    zip_t *zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!zip) {
        if (source)
            zip_source_free(source);
        return std::nullopt;
    }
    std::optional<QByteArray> out;
    zip_stat_t st;
    if (zip_get_num_entries(zip, 0) == 1 && zip_stat_index(zip, 0, 0, &st) == 0) {
        if (name)
            *name = QString::fromUtf8(st.name);
        if (encryption)
            *encryption = st.encryption_method;
        if (zip_file_t *file = zip_fopen_index_encrypted(zip, 0, 0, password.toUtf8().constData())) {
            QByteArray data(qsizetype(st.size), Qt::Uninitialized);
            const zip_int64_t n = zip_fread(file, data.data(), st.size);
            char past;
            const zip_int64_t tail = zip_fread(file, &past, 1); // reaching the end checks the MAC
            if (zip_fclose(file) == 0 && n == zip_int64_t(st.size) && tail == 0)
                out = data;
        }
    }
    zip_discard(zip);
    return out;
}

QByteArray exchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(bytes);
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

    void portalAndSignInPage();
    void authorizeRefusesBadRequests_data();
    void authorizeRefusesBadRequests();
    void captchaIsAPngOfTheSession();
    void otpRequest_data();
    void otpRequest();
    void loginEndsOnRedirect_data();
    void loginEndsOnRedirect();
    void tokenChecksCodeAndVerifier_data();
    void tokenChecksCodeAndVerifier();
    void downloadServesTheArchive();
    void downloadRefusals_data();
    void downloadRefusals();
    void archiveSwitches();
    void droppedDownloadFailsAsTransport();
    void malformedRequestsAreAnswered();
    void archiveBuilderRefusesEmptyInput();

private:
    QString api(const QString &path) const { return sim.baseUrl().toString() + path; }
    static QString authorizeQuery(const QString &challenge, const QString &method = "S256",
                                  const QString &client = "myAadhaar")
    {
        return "grant_type=authorization_code&response_type=code&client_id=" + client
            + "&scope=READ&code_challenge_method=" + method + "&code_challenge=" + challenge;
    }

    QString authorizePage(const QString &query)
    {
        const HTTPHeaders headers{{"accept", "text/html,application/xhtml+xml"}, {"cache-control", "no-cache"}};
        const QString url = sim.authorityApiBaseUrl() + "/access/oauth/authorize?" + query;
        return await([&](auto ok, auto fail) { APIHandler::getRequestWithHeaders({}, headers, url, ok, fail); })
            .value.toString();
    }
    QVariantMap captcha()
    {
        const QString url = sim.authorityApiBaseUrl() + "/generateCaptcha";
        return await([&](auto ok, auto fail) {
                   APIHandler::getRequest({}, url, HTTPHeaders{{"User-Agent", browserAgent}}, "", ok, fail);
               }).map();
    }
    static QString captchaTxnId(const QVariantMap &reply)
    {
        return QJsonDocument::fromJson(reply.value("message").toString().toUtf8()).object().value("transactionId").toString();
    }
    QVariantMap requestOtp(const QString &number, const QString &text, const QVariant &txnId)
    {
        const QString url = sim.authorityApiBaseUrl() + "/generateOTPForOAuth";
        const QVariantMap body{{"uid", number}, {"captcha", text}, {"captchaTxnId", txnId}};
        return await([&](auto ok, auto fail) {
                   APIHandler::postRequest(body, url, HTTPHeaders{{"User-Agent", browserAgent}}, "", ok, fail);
               }).map();
    }
    QVariantMap login(const QString &csrf, const QString &otp)
    {
        const QString url = sim.authorityApiBaseUrl() + "/login";
        const QVariantMap form{{"captcha", "ABCDE"}, {"_csrf", csrf}, {"otp", otp}, {"submit", "Login"}, {"uid", uid}};
        const HTTPHeaders headers{{"User-Agent", browserAgent}, {"Content-Type", "application/x-www-form-urlencoded"}};
        return await([&](auto ok, auto fail) { APIHandler::postFormRequest(form, headers, url, ok, fail); }).map();
    }
    QVariantMap token(const QString &code, const QString &verifier)
    {
        const QString url = sim.authorityApiBaseUrl() + "/access/oauth/token?client_id=myAadhaar&grant_type="
                            "authorization_code&code_verifier="
            + QString::fromLatin1(QUrl::toPercentEncoding(verifier)) + "&code="
            + QString::fromLatin1(QUrl::toPercentEncoding(code));
        const HTTPHeaders headers{{"Content-Type", "application/x-www-form-urlencoded"}};
        return await([&](auto ok, auto fail) {
                   APIHandler::postRequest({{"", ""}}, url, headers, "", ok, fail);
               }).map();
    }
    Result download(const QString &accessToken, const QString &code = shareCode, const QString &number = uid)
    {
        const QString url = sim.authorityApiBaseUrl() + "/eAadhaarService/api/oauth/downloadOfflineEkyc";
        const HTTPHeaders headers{{"transactionId", "0F1E"}, {"X-Request-ID", "0F1E"},
                                  {"Authorization", "Bearer " + accessToken.toUtf8()},
                                  {"'Accept'", "application/json, text/plain, */*"}, {"'Connection'", "keep-alive"},
                                  {"'Referer'", sim.authorityPortalUrl().toUtf8()}};
        const QVariantMap body{{"shareCode", code}, {"uid", number}};
        return await([&](auto ok, auto fail) { APIHandler::postRequest(body, url, headers, "", ok, fail); });
    }

    // Authorization page, captcha and one-time password; the csrf token of the session.
    QString beginSignIn(const QString &query)
    {
        const QString csrf = csrfTokens(authorizePage(query)).value(0);
        const QVariantMap picture = captcha();
        const QVariantMap sent = requestOtp(uid, sim.authority().currentCaptcha(), captchaTxnId(picture));
        return sent.value("status").toBool() ? csrf : QString();
    }
    // The whole sign-in; the authorization code it ends with.
    QString signIn(const QString &query)
    {
        const QString csrf = beginSignIn(query);
        const QVariantMap landed = login(csrf, sim.authority().lastOtp());
        return QUrlQuery(landed.value("resQuery").toUrl()).queryItemValue("code");
    }
    QString accessToken()
    {
        const Pkce pkce = Pkce::fresh();
        return token(signIn(authorizeQuery(pkce.challenge)), pkce.verifier).value("access_token").toString();
    }

    LogCapture quiet;
    Simulator sim;
};

void TestSimulatorAuthority::portalAndSignInPage()
{
    QVERIFY(Simulator().authorityApiBaseUrl().isEmpty());
    QCOMPARE(sim.authorityApiBaseUrl(), sim.baseUrl().toString() + "uidai");
    QCOMPARE(sim.authorityPortalUrl(), sim.baseUrl().toString() + "portal/");
    const QString portal = await([&](auto ok, auto fail) {
                               APIHandler::getRequestWithHeaders({}, HTTPHeaders{}, sim.authorityPortalUrl(), ok, fail);
                           }).value.toString();
    QVERIFY(portal.contains("<html"));

    const Pkce pkce = Pkce::fresh();
    const QString page = authorizePage(authorizeQuery(pkce.challenge));
    const QStringList tokens = csrfTokens(page);
    QCOMPARE(tokens.size(), 1);
    QVERIFY(page.contains("value=\"" + tokens.at(0) + "\""));
    QVERIFY(tokens.at(0).size() >= 16);
    const auto cookies = net::Session::shared().cookieStore().cookiesForUrl(QUrl(sim.authorityApiBaseUrl() + "/login"));
    QCOMPARE(cookies.size(), 1);
    QCOMPARE(cookies.at(0).name(), Authority::sessionCookie);

    // A new authorization, a new session and token.
    QVERIFY(csrfTokens(authorizePage(authorizeQuery(pkce.challenge))).value(0) != tokens.at(0));
}

void TestSimulatorAuthority::authorizeRefusesBadRequests_data()
{
    QTest::addColumn<QString>("query");
    const QString challenge = Pkce::fresh().challenge;
    QTest::newRow("no challenge") << authorizeQuery("");
    QTest::newRow("unknown client") << authorizeQuery(challenge, "S256", "other");
    QTest::newRow("markup in client") << authorizeQuery(challenge, "S256", "%3Cscript%3Ex%3C/script%3E");
    QTest::newRow("token response") << authorizeQuery(challenge).replace("response_type=code", "response_type=token");
    QTest::newRow("empty") << QString();
}

void TestSimulatorAuthority::authorizeRefusesBadRequests()
{
    QFETCH(QString, query);
    const QString page = authorizePage(query);
    QVERIFY(page.contains("OAuth error"));
    QVERIFY(csrfTokens(page).isEmpty());
    QVERIFY(!page.contains("<script"));
    QVERIFY(net::Session::shared().cookieStore().allCookies().isEmpty());
}

void TestSimulatorAuthority::captchaIsAPngOfTheSession()
{
    QCOMPARE(captcha().value("sessionActive"), QVariant(false)); // no session yet

    authorizePage(authorizeQuery(Pkce::fresh().challenge));
    const QVariantMap reply = captcha();
    QCOMPARE(reply.value("statusCode").toInt(), 200);
    QCOMPARE(reply.value("sessionActive"), QVariant(true));
    const QJsonObject message = QJsonDocument::fromJson(reply.value("message").toString().toUtf8()).object();
    const QByteArray png = QByteArray::fromBase64(message.value("imageBase64").toString().toLatin1());
    QVERIFY(png.startsWith("\x89PNG"));
    QImage image;
    QVERIFY(image.loadFromData(png, "PNG"));
    QVERIFY(image.width() > image.height() && image.height() >= 30);
    QVERIFY(!message.value("transactionId").toString().isEmpty());

    const QString code = sim.authority().currentCaptcha();
    QVERIFY(QRegularExpression("^[A-Z2-9]{5}$").match(code).hasMatch());
    // Each request draws a new one.
    const QVariantMap again = captcha();
    QVERIFY(captchaTxnId(again) != message.value("transactionId").toString());
}

void TestSimulatorAuthority::otpRequest_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<bool>("sessionActive");
    QTest::newRow("right captcha") << "" << true << true;
    QTest::newRow("wrong text") << "wrong text" << false << true;
    QTest::newRow("other transaction") << "other txn" << false << true;
    QTest::newRow("no transaction") << "null txn" << false << true;
    QTest::newRow("captcha used twice") << "twice" << false << true;
    QTest::newRow("invalid number") << "bad uid" << false << true;
    QTest::newRow("captcha refused") << "refuse captcha" << false << true;
    QTest::newRow("session inactive") << "inactive" << false << false;
    QTest::newRow("no session") << "no cookie" << false << false;
}

void TestSimulatorAuthority::otpRequest()
{
    QFETCH(QString, setup);
    authorizePage(authorizeQuery(Pkce::fresh().challenge));
    const QString txn = captchaTxnId(captcha());
    QString text = sim.authority().currentCaptcha();
    QVariant txnId = txn;
    QString number = uid;
    if (setup == "wrong text")
        text = text.left(4) + (text.endsWith('A') ? "B" : "A");
    else if (setup == "other txn")
        txnId = txn + "0";
    else if (setup == "null txn")
        txnId = QVariant();
    else if (setup == "twice")
        requestOtp(uid, text, txnId);
    else if (setup == "bad uid")
        number = "234567890125";
    else if (setup == "refuse captcha")
        sim.authority().setCaptchaRefused(true);
    else if (setup == "inactive")
        sim.authority().setSessionInactive(true);
    else if (setup == "no cookie")
        net::Session::shared().cookieStore().removeAll();

    const QVariantMap reply = requestOtp(number, text, txnId);
    QFETCH(bool, sent);
    QFETCH(bool, sessionActive);
    QCOMPARE(reply.value("status"), QVariant(sent));
    QCOMPARE(reply.value("sessionActive"), QVariant(sessionActive));
    QVERIFY(!reply.value("message").toString().isEmpty());
    if (sent)
        QVERIFY(QRegularExpression("^[0-9]{6}$").match(sim.authority().lastOtp()).hasMatch());
    else if (setup != "twice")
        QVERIFY(sim.authority().lastOtp().isEmpty());
    // An expired session stays expired until a new authorization.
    if (setup == "inactive") {
        sim.authority().setSessionInactive(false);
        QCOMPARE(captcha().value("sessionActive"), QVariant(false));
    }
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
    QTest::newRow("wrong csrf") << "wrong csrf" << "invalidsession" << "";
    QTest::newRow("no csrf") << "no csrf" << "invalidsession" << "";
    QTest::newRow("no password sent") << "no otp" << "failed" << "Invalid OTP";
}

void TestSimulatorAuthority::loginEndsOnRedirect()
{
    QFETCH(QString, setup);
    QString csrf;
    if (setup == "no otp") {
        csrf = csrfTokens(authorizePage(authorizeQuery(Pkce::fresh().challenge))).value(0);
    } else {
        csrf = beginSignIn(authorizeQuery(Pkce::fresh().challenge));
        QVERIFY(!csrf.isEmpty());
    }
    QString otp = sim.authority().lastOtp();
    if (setup == "wrong otp")
        otp = otp == "000000" ? "000001" : "000000";
    else if (setup == "refuse")
        sim.authority().setLoginRefused(true);
    else if (setup == "internal")
        sim.authority().setLoginInternalError(true);
    else if (setup == "wrong csrf")
        csrf += "x";
    else if (setup == "no csrf")
        csrf.clear();

    const QVariantMap landed = login(csrf, otp);
    const QUrl url = landed.value("resQuery").toUrl();
    QFETCH(QString, lastPath);
    QCOMPARE(url.fileName(), lastPath);
    QVERIFY(!landed.value("resString").toString().isEmpty());
    QCOMPARE(sim.requestsTo(url.path()).size(), 1);
    const QUrlQuery query(url);
    if (lastPath == "callback") {
        QCOMPARE(url.toString(QUrl::RemoveQuery), sim.authorityPortalUrl() + "oauth/callback");
        QVERIFY(query.queryItemValue("code").size() >= 20);
        QCOMPARE(sim.requestsTo(Authority::authorizeRoute).size(), 2); // page, then the way back
        return;
    }
    QFETCH(QString, error);
    QVERIFY(query.hasQueryItem("error"));
    if (!error.isEmpty())
        QCOMPARE(query.queryItemValue("error", QUrl::FullyDecoded), error);
    QVERIFY(!query.hasQueryItem("code"));
}

void TestSimulatorAuthority::tokenChecksCodeAndVerifier_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("right verifier") << "" << 200 << "";
    QTest::newRow("longest verifier") << "128" << 200 << "";
    QTest::newRow("wrong verifier") << "wrong" << 400 << "invalid_grant";
    QTest::newRow("verifier too short") << "42" << 400 << "invalid_grant";
    QTest::newRow("plain method") << "plain" << 400 << "invalid_request";
    QTest::newRow("code used twice") << "twice" << 400 << "invalid_grant";
    QTest::newRow("unknown code") << "unknown" << 400 << "invalid_grant";
    QTest::newRow("empty code") << "empty" << 400 << "invalid_request";
    QTest::newRow("token refused") << "refuse" << 400 << "invalid_grant";
}

void TestSimulatorAuthority::tokenChecksCodeAndVerifier()
{
    QFETCH(QString, setup);
    Pkce pkce = Pkce::fresh(setup == "128" ? 128 : setup == "42" ? 42 : 64);
    // "plain" sends the verifier itself as the challenge.
    QString code = signIn(setup == "plain" ? authorizeQuery(pkce.verifier, "plain") : authorizeQuery(pkce.challenge));
    QVERIFY(!code.isEmpty());
    if (setup == "wrong")
        pkce.verifier = Pkce::fresh().verifier;
    else if (setup == "twice")
        QCOMPARE(token(code, pkce.verifier).value("statusCode").toInt(), 200);
    else if (setup == "unknown")
        code += "x";
    else if (setup == "empty")
        code.clear();
    else if (setup == "refuse")
        sim.authority().setTokenRefused(true);

    const QVariantMap reply = token(code, pkce.verifier);
    QFETCH(int, status);
    QCOMPARE(reply.value("statusCode").toInt(), status);
    QFETCH(QString, error);
    QCOMPARE(reply.value("error").toString(), error);
    QCOMPARE(reply.value("access_token").toString().isEmpty(), status != 200);
    if (status == 200)
        QCOMPARE(reply.value("token_type").toString(), "bearer");
}

void TestSimulatorAuthority::downloadServesTheArchive()
{
    const Result reply = download(accessToken());
    QVERIFY(!reply.failed);
    QCOMPARE(reply.map().value("status").toString(), "Success");
    const QString text = reply.map().value("eKycXML").toString();
    QVERIFY(!text.contains('\n'));
    const QByteArray archive = QByteArray::fromBase64(text.toLatin1());

    const auto served = sim.authority().lastDocument();
    QVERIFY(served.has_value());
    QCOMPARE(archive, served->archive);
    QCOMPARE(served->shareCode, shareCode);
    QVERIFY(served->document.referenceId.startsWith(uid.right(4)));
    QCOMPARE(served->xml, simulator::offlineKycXml(served->document, -1));

    QString name;
    int encryption = 0;
    const auto xml = unzipEntry(archive, shareCode, &name, &encryption);
    QVERIFY(xml.has_value());
    QCOMPARE(*xml, served->xml);
    QCOMPARE(name, served->xmlFileName);
    QVERIFY(name.startsWith("offline") && name.endsWith(".xml"));
    QCOMPARE(encryption, ZIP_EM_AES_256);
    QVERIFY(!unzipEntry(archive, "9737").has_value());
}

void TestSimulatorAuthority::downloadRefusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("status");
    QTest::newRow("download refused") << "refuse" << 401;
    QTest::newRow("unknown token") << "unknown" << 401;
    QTest::newRow("no token") << "empty" << 401;
    QTest::newRow("share code not digits") << "code" << 400;
    QTest::newRow("share code too long") << "long code" << 400;
    QTest::newRow("other number") << "uid" << 403;
}

void TestSimulatorAuthority::downloadRefusals()
{
    QFETCH(QString, setup);
    QString bearer = accessToken();
    QVERIFY(!bearer.isEmpty());
    QString code = shareCode, number = uid;
    if (setup == "refuse")
        sim.authority().setDownloadRefused(true);
    else if (setup == "unknown")
        bearer += "x";
    else if (setup == "empty")
        bearer.clear();
    else if (setup == "code")
        code = "97a6";
    else if (setup == "long code")
        code = "97360";
    else if (setup == "uid")
        number = "987654321018";

    const QVariantMap reply = download(bearer, code, number).map();
    QFETCH(int, status);
    QCOMPARE(reply.value("statusCode").toInt(), status);
    QCOMPARE(reply.value("status").toString(), "Failure");
    if (status == 401)
        QCOMPARE(reply.value("message").toString(), Authority::tokenExpiredText);
    QVERIFY(!reply.contains("eKycXML"));
    QVERIFY(!sim.authority().lastDocument().has_value());
}

void TestSimulatorAuthority::archiveSwitches()
{
    const QString bearer = accessToken(); // a token serves more than one download

    sim.authority().setArchiveDamaged(true);
    QByteArray archive = QByteArray::fromBase64(download(bearer).map().value("eKycXML").toString().toLatin1());
    QVERIFY(sim.authority().lastDocument().has_value());
    QCOMPARE(archive, sim.authority().lastDocument()->archive);
    QVERIFY(!unzipEntry(archive, shareCode).has_value());
    sim.authority().setArchiveDamaged(false);

    sim.authority().setArchiveShareCode("4321");
    archive = QByteArray::fromBase64(download(bearer).map().value("eKycXML").toString().toLatin1());
    QVERIFY(!unzipEntry(archive, shareCode).has_value());
    QCOMPARE(unzipEntry(archive, "4321"), std::optional(sim.authority().lastDocument()->xml));
    sim.authority().setArchiveShareCode({});

    sim.authority().setBase64LineBreaks(true);
    const QString text = download(bearer).map().value("eKycXML").toString();
    const QStringList lines = text.split("\r\n");
    QVERIFY(lines.size() > 2);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY(i + 1 == lines.size() ? lines[i].size() <= 76 && !lines[i].isEmpty() : lines[i].size() == 76);
        QVERIFY(!lines[i].contains('\n') && !lines[i].contains('\r'));
    }
    QCOMPARE(QByteArray::fromBase64(lines.join("").toLatin1()), sim.authority().lastDocument()->archive);
    QVERIFY(unzipEntry(sim.authority().lastDocument()->archive, shareCode).has_value());
}

void TestSimulatorAuthority::droppedDownloadFailsAsTransport()
{
    const QString bearer = accessToken();
    sim.setOverride(Authority::downloadRoute, Override::dropConnection());
    const Result dropped = download(bearer);
    QVERIFY(dropped.failed);
    QVERIFY(dropped.transportFailed);
    QCOMPARE(sim.requestsTo(Authority::downloadRoute).size(), 2); // the client's one retry

    sim.setOneShot(Authority::downloadRoute, Override::dropConnection());
    const Result retried = download(bearer);
    QVERIFY(!retried.failed);
    QCOMPARE(retried.map().value("status").toString(), "Success");
}

void TestSimulatorAuthority::malformedRequestsAreAnswered()
{
    authorizePage(authorizeQuery(Pkce::fresh().challenge));
    const QString cookie = net::Session::shared().cookieStore().allCookies().value(0).toRawForm(
        QNetworkCookie::NameAndValueOnly);
    auto raw = [&](const QByteArray &head, const QByteArray &body = {}) {
        return exchange(sim.port(), head + "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
                                        + "\r\n\r\n" + body);
    };
    const QByteArray otp = "POST /" + Authority::otpPath.toLatin1() + " HTTP/1.1\r\nCookie: " + cookie.toLatin1();
    const QList<std::pair<QByteArray, QByteArray>> cases = {
        {otp, "{not json"},
        {otp, "[1,2]"},
        {otp, R"({"uid": 234567890124, "captcha": null, "captchaTxnId": {}})"},
        {"POST /" + Authority::otpPath.toLatin1() + " HTTP/1.1\r\nCookie: JSESSIONID; =; ;JSESSIONID==x", "{}"},
        {"POST /" + Authority::loginPath.toLatin1() + " HTTP/1.1\r\nCookie: " + cookie.toLatin1(), "%zz&&=&_csrf=%FF"},
        {"GET /" + Authority::loginPath.toLatin1() + " HTTP/1.1", {}},
        {"POST /" + Authority::tokenPath.toLatin1() + "?code=%00&code_verifier=%zz&client_id=myAadhaar HTTP/1.1",
         "\xff\xfe"},
        {"POST /" + Authority::downloadPath.toLatin1() + " HTTP/1.1\r\nAuthorization: Bearer", "{}"},
        {"POST /" + Authority::downloadPath.toLatin1() + " HTTP/1.1\r\nAuthorization: Basic eDp5", "null"},
        {"GET /" + Authority::loginFailedPath.toLatin1() + "?error=%3Cimg%20src%3Dx%3E HTTP/1.1", {}},
    };
    for (const auto &[head, body] : cases) {
        const QByteArray reply = raw(head, body);
        QVERIFY2(QRegularExpression("^HTTP/1.1 [2-4][0-9][0-9] ").match(QString::fromLatin1(reply)).hasMatch(),
                 head.constData());
        QVERIFY2(!reply.contains("<img"), head.constData());
    }
    QVERIFY(sim.authority().lastOtp().isEmpty());
    QVERIFY(raw("GET /" + Authority::portalPrefix.toLatin1() + " HTTP/1.1").startsWith("HTTP/1.1 200"));
}

void TestSimulatorAuthority::archiveBuilderRefusesEmptyInput()
{
    QString error;
    QVERIFY(simulator::makeOfflineKycArchive("<x/>", "offline.xml", "", &error).isEmpty());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(simulator::makeOfflineKycArchive("<x/>", "", "9736", &error).isEmpty());
    QVERIFY(!error.isEmpty());
    // An empty document still makes an archive that opens to nothing.
    const QByteArray empty = simulator::makeOfflineKycArchive({}, "offline.xml", "9736");
    QCOMPARE(unzipEntry(empty, "9736"), std::optional(QByteArray()));
}

QTEST_MAIN(TestSimulatorAuthority)
#include "tst_simulator_authority.moc"
