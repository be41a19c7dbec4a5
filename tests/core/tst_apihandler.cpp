// The kit's HTTP client against a raw server on 127.0.0.1.

#include "logcapture.h"
#include "netcompare.h"
#include "rawserver.h"

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/HealthCheckViewModel.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/document/OldAadhaarFlowViewModel.h"
#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowViewModel.h"
#include "platform/net/session.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest>

using namespace orvix;
namespace net = orvix::platform::net;


namespace {

// What one request ended with; counts every closure call.
struct Outcome {
    int successes = 0;
    int failures = 0;
    QVariant value;
    std::optional<Error> error;
    bool onMainThread = true;

    APIHandler::OnSuccess success()
    {
        return [this](const QVariant &v) {
            ++successes;
            value = v;
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        };
    }
    APIHandler::OnFailure failure()
    {
        return [this](const Error &e) {
            ++failures;
            error = e;
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        };
    }
    bool done() const { return successes + failures > 0; }
};

// Waits until the outcome arrived and no request is left in flight, so a
// stray second call would be seen.
void settle(const Outcome &o)
{
    QTRY_VERIFY_WITH_TIMEOUT(o.done(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(net::Session::shared().requestsInFlight(), 0, 15000);
    QCoreApplication::processEvents();
}

QByteArray json(const QVariantMap &map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact);
}

} // namespace

class TestAPIHandler : public QObject {
    Q_OBJECT
private slots:
    void jsonRepliesCarryTheStatus();
    void unusableRepliesFailOnceWithoutResend();
    void emptyBodyIsSentTwiceThenFails();
    void transportFailuresAreTriedTwice();
    void timeOutIsATransportFailure();
    void uploadAcceptsOnly200();
    void formPostFollowsRedirectsAndKeepsCookies();
    void headersAreSentExactlyAsTheOperationSays();
    void parametersAreEncodedForEachOperation();
    void concurrentRequestsRetryOnTheirOwn();
    void requestFromWorkerThreadCompletesOnMain();
    void textRepliesMustBeUtf8();
    void logsCarryNoValues();
    void loggedURLsKeepNamesOnly_data();
    void loggedURLsKeepNamesOnly();
    void eachCallReadsRepliesUpToItsBound_data();
    void eachCallReadsRepliesUpToItsBound();
};

void TestAPIHandler::jsonRepliesCarryTheStatus()
{
    RawServer server([](const RawRequest &r) {
        if (r.path() == "/missing")
            return RawReply::http(404, R"({"errors":{"errorCode":"NOT_FOUND"}})");
        if (r.path() == "/own-status")
            return RawReply::http(200, R"({"statusCode":1,"ok":true})");
        return RawReply::http(200, R"([1,2,3])");
    });

    Outcome notFound;
    APIHandler::postRequest({}, server.url("/missing").toString(), std::nullopt, "m", notFound.success(),
                            notFound.failure());
    settle(notFound);
    QCOMPARE(notFound.successes, 1);
    QCOMPARE(notFound.failures, 0);
    const QVariantMap nf = notFound.value.toMap();
    QCOMPARE(nf.value("statusCode").toInt(), 404);
    QCOMPARE(nf.value("errors").toMap().value("errorCode").toString(), QString("NOT_FOUND"));

    Outcome own;
    APIHandler::getRequest({}, server.url("/own-status").toString(), std::nullopt, "m", own.success(),
                           own.failure());
    settle(own);
    QCOMPARE(own.successes, 1);
    QCOMPARE(own.value.toMap().value("statusCode").toInt(), 200);
    QCOMPARE(own.value.toMap().value("statusCode").typeId(), QMetaType::Int);
    QCOMPARE(own.value.toMap().value("ok").toBool(), true);

    Outcome array;
    APIHandler::postRequest({}, server.url("/array").toString(), std::nullopt, "m", array.success(),
                            array.failure());
    settle(array);
    QCOMPARE(array.successes, 1);
    QCOMPARE(array.value.typeId(), QMetaType::QString);
    QVERIFY(array.value.toString().isEmpty());
}

void TestAPIHandler::unusableRepliesFailOnceWithoutResend()
{
    RawServer server([](const RawRequest &r) {
        if (r.path() == "/html")
            return RawReply::http(500, "<html><body>Internal error</body></html>", "text/html");
        if (r.path() == "/scalar")
            return RawReply::http(200, "42");
        if (r.path() == "/reset-content")
            return RawReply::raw("HTTP/1.1 205 Reset Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return RawReply::raw("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
    });

    for (const char *path : {"/html", "/no-content", "/reset-content", "/scalar"}) {
        LogCapture log;
        Outcome o;
        if (QByteArray(path) == "/html")
            APIHandler::getRequest({}, server.url(path).toString(), std::nullopt, "m", o.success(), o.failure());
        else
            APIHandler::postRequest({}, server.url(path).toString(), std::nullopt, "m", o.success(), o.failure());
        settle(o);
        QCOMPARE(o.successes, 0);
        QCOMPARE(o.failures, 1);
        QVERIFY(o.error->asAFError());
        QVERIFY(!o.error->isSessionTaskFailed());
        QCOMPARE_CASE(o.error->asAFError()->kind(), net::NetError::Kind::responseSerializationFailed);
        QCOMPARE(server.count(path), 1);
        QVERIFY(log.lines().contains("erroMsg"));
    }
}

void TestAPIHandler::emptyBodyIsSentTwiceThenFails()
{
    RawServer server([](const RawRequest &) { return RawReply::http(200, QByteArray()); });
    Outcome o;
    APIHandler::postRequest({{"a", "b"}}, server.url("/empty").toString(), std::nullopt, "m", o.success(),
                            o.failure());
    settle(o);
    QCOMPARE(server.count("/empty"), 2);
    QCOMPARE(o.failures, 1);
    QCOMPARE(o.successes, 0);
    QCOMPARE_CASE(o.error->asAFError()->serializationReason(),
             net::NetError::SerializationReason::inputDataNilOrZeroLength);
    // The resend is the same request.
    QCOMPARE(server.requests().at(0).body, server.requests().at(1).body);
    QCOMPARE(server.requests().at(0).headers, server.requests().at(1).headers);

    // The second attempt may succeed.
    int n = 0;
    server.setHandler([&n](const RawRequest &) {
        return ++n == 1 ? RawReply::http(200, QByteArray()) : RawReply::http(200, R"({"x":"y"})");
    });
    Outcome second;
    APIHandler::postRequest({}, server.url("/flaky").toString(), std::nullopt, "m", second.success(),
                            second.failure());
    settle(second);
    QCOMPARE(server.count("/flaky"), 2);
    QCOMPARE(second.successes, 1);
    QCOMPARE(second.value.toMap().value("x").toString(), QString("y"));
}

void TestAPIHandler::transportFailuresAreTriedTwice()
{
    // Refused: nothing listens on a port we just released.
    quint16 freePort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        freePort = probe.serverPort();
    }
    QList<int> attempts;
    net::Session::shared().setAttemptObserver([&](const net::URLRequest &, int attempt) { attempts << attempt; });
    Outcome refused;
    APIHandler::getRequest({}, QString("http://127.0.0.1:%1/x").arg(freePort), std::nullopt, "m", refused.success(),
                           refused.failure());
    settle(refused);
    net::Session::shared().setAttemptObserver({});
    QCOMPARE(attempts, (QList<int>{1, 2}));
    QCOMPARE(refused.failures, 1);
    QVERIFY(refused.error->isSessionTaskFailed());
    QCOMPARE_CASE(refused.error->asAFError()->transportFailure(), net::NetError::TransportFailure::connectionRefused);

    // Dropped after the request arrived: the server sees it exactly twice.
    RawServer dropping([](const RawRequest &) { return RawReply::drop(); });
    for (int op = 0; op < 3; ++op) {
        Outcome dropped;
        const QString url = dropping.url(QString("/drop%1").arg(op)).toString();
        if (op == 0)
            APIHandler::postRequest({{"k", "v"}}, url, std::nullopt, "m", dropped.success(), dropped.failure());
        else if (op == 1)
            APIHandler::getRequestWithHeaders({}, std::nullopt, url, dropped.success(), dropped.failure());
        else
            APIHandler::uploadRequest(url, "m", "attachment", QList<QByteArray>{"zip"}, dropped.success(),
                                      dropped.failure());
        settle(dropped);
        QCOMPARE(dropping.count(QString("/drop%1").arg(op).toUtf8()), 2);
        QCOMPARE(dropped.failures, 1);
        QVERIFY(dropped.error->isSessionTaskFailed());
    }

    // A URL that cannot be built never leaves the machine and is not a transport failure.
    Outcome invalid;
    APIHandler::postRequest({}, "http://exa mple.com/ bad", std::nullopt, "m", invalid.success(), invalid.failure());
    settle(invalid);
    QCOMPARE(invalid.failures, 1);
    QCOMPARE_CASE(invalid.error->asAFError()->kind(), net::NetError::Kind::invalidURL);
}

void TestAPIHandler::timeOutIsATransportFailure()
{
    RawServer silent([](const RawRequest &) { return RawReply::hang(); });
    QCOMPARE(net::Session::shared().timeoutInterval(), 60000);
    net::Session::shared().setTimeoutInterval(200);
    Outcome o;
    APIHandler::getRequest({}, silent.url("/slow").toString(), std::nullopt, "m", o.success(), o.failure());
    settle(o);
    net::Session::shared().setTimeoutInterval(60000);
    QCOMPARE(silent.count("/slow"), 2);
    QCOMPARE(o.failures, 1);
    QCOMPARE_CASE(o.error->asAFError()->transportFailure(), net::NetError::TransportFailure::timedOut);
}

void TestAPIHandler::uploadAcceptsOnly200()
{
    int status = 201;
    RawServer server([&status](const RawRequest &) { return RawReply::http(status, R"({"ok":true})"); });

    Outcome created;
    APIHandler::uploadRequest(server.url("/documents/7/object").toString(), "cred", "attachment",
                              QList<QByteArray>{"PK\x03\x04 one", "two"}, created.success(), created.failure());
    settle(created);
    QCOMPARE(created.successes, 0);
    QCOMPARE(created.failures, 1);
    QCOMPARE_CASE(created.error->asAFError()->kind(), net::NetError::Kind::responseValidationFailed);
    QCOMPARE(created.error->asAFError()->statusCode(), 201);
    QCOMPARE(server.count("/documents/7/object"), 1);

    const RawRequest sent = server.requests().constLast();
    QCOMPARE(sent.header("X-Kalmar-Auth-Credential-ID"), QByteArray("cred"));
    const QByteArray type = sent.header("Content-Type");
    QVERIFY(type.startsWith("multipart/form-data; boundary="));
    const QByteArray boundary = type.mid(type.indexOf('=') + 1);
    QCOMPARE(sent.body.count("--" + boundary + "\r\n"), 2);
    QVERIFY(sent.body.endsWith("--" + boundary + "--\r\n"));
    QCOMPARE(sent.body.count("Content-Disposition: form-data; name=\"attachment\"; filename=\"aadhaar.zip\"\r\n"
                             "Content-Type: application/octet-stream\r\n\r\n"),
             2);
    QVERIFY(sent.body.contains("\r\n\r\nPK\x03\x04 one\r\n--"));

    status = 200;
    Outcome ok;
    APIHandler::uploadRequest(server.url("/up").toString(), "cred", "attachment", std::nullopt, ok.success(),
                              ok.failure());
    settle(ok);
    QCOMPARE(ok.successes, 1);
    QCOMPARE(ok.value.toMap(), (QVariantMap{{"status", 200}}));
    QVERIFY(server.requests().constLast().body.isEmpty()); // no files, no parts
}

void TestAPIHandler::formPostFollowsRedirectsAndKeepsCookies()
{
    RawServer server([](const RawRequest &r) {
        if (r.path() == "/login")
            return RawReply::http(302, "", "", {{"Location", "/step?x=1"}, {"Set-Cookie", "sid=abc; Path=/"}});
        if (r.path() == "/step")
            return RawReply::http(303, "", "", {{"Location", "/done?code=A%26B&state=s"}});
        return RawReply::http(200, "welcome " + r.header("Cookie"), "text/html");
    });
    Outcome o;
    HTTPHeaders headers{{"Content-Type", "application/x-www-form-urlencoded"}};
    APIHandler::postFormRequest({{"username", "1234"}, {"otp", "99 8&"}, {"a", "first"}}, headers,
                                server.url("/login").toString(), o.success(), o.failure());
    settle(o);
    QCOMPARE(o.successes, 1);
    const QVariantMap reply = o.value.toMap();
    const QUrl last = reply.value("resQuery").toUrl();
    QCOMPARE(last.path(), QString("/done"));
    QCOMPARE(last.query(QUrl::FullyEncoded), QString("code=A%26B&state=s"));
    QCOMPARE(reply.value("resString").toString(), QString("welcome sid=abc"));

    const QList<RawRequest> seen = server.requests();
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[0].method, QByteArray("POST"));
    QCOMPARE(seen[0].body, QByteArray("a=first&otp=99%208%26&username=1234"));
    QCOMPARE(seen[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(seen[1].method, QByteArray("GET")); // 302 after POST continues as GET
    QCOMPARE(seen[1].header("Cookie"), QByteArray("sid=abc"));
    QVERIFY(seen[1].body.isEmpty());
}

void TestAPIHandler::headersAreSentExactlyAsTheOperationSays()
{
    RawServer server([](const RawRequest &) { return RawReply::http(200, R"({"ok":1})"); });
    const QString url = server.url("/h").toString();

    Outcome a, b, c, d, e;
    APIHandler::postRequest({}, url, std::nullopt, "cred-1", a.success(), a.failure());
    settle(a);
    HTTPHeaders custom{{"'Accept'", "text/plain"}, {"Referer", "https://portal.example/"}};
    custom.add(QByteArray("'Accept'"), QByteArray("application/json")); // a new value, the same place
    APIHandler::postRequest({}, url, custom, "cred-2", b.success(), b.failure());
    settle(b);
    APIHandler::getRequest({}, url, HTTPHeaders{}, "cred-3", c.success(), c.failure());
    settle(c);
    APIHandler::getRequestWithHeaders({}, custom, url, d.success(), d.failure());
    settle(d);
    HTTPHeaders formType{{"Content-Type", "application/x-www-form-urlencoded"}};
    APIHandler::postRequest({{"k", "v"}}, url, formType, "", e.success(), e.failure());
    settle(e);

    const QList<RawRequest> seen = server.requests();
    QCOMPARE(seen.size(), 5);
    QCOMPARE(seen[0].header("X-Kalmar-Auth-Credential-ID"), QByteArray("cred-1"));
    QCOMPARE(seen[0].header("Content-Type"), QByteArray("application/json"));
    for (int i = 1; i < 5; ++i)
        QVERIFY2(!seen[i].hasHeader("X-Kalmar-Auth-Credential-ID"), qPrintable(QString::number(i)));
    // The quoted name is its own header, sent as given.
    for (int i : {1, 3}) {
        QCOMPARE(seen[i].header("'Accept'"), QByteArray("application/json"));
        QVERIFY(!seen[i].hasHeader("Accept"));
        QCOMPARE(seen[i].header("Referer"), QByteArray("https://portal.example/"));
        QVERIFY(seen[i].raw.indexOf("\r\n'Accept': ") < seen[i].raw.indexOf("\r\nReferer: "));
    }
    // The caller's form type over a JSON body is kept.
    QCOMPARE(seen[4].header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(seen[4].body, QByteArray(R"({"k":"v"})"));
    // A fresh connection per attempt, and the server is told so.
    for (const RawRequest &r : seen)
        QCOMPARE(r.header("Connection"), QByteArray("close"));
}

void TestAPIHandler::parametersAreEncodedForEachOperation()
{
    RawServer server([](const RawRequest &) { return RawReply::http(200, R"({})"); });
    const QVariantMap params{{"zeta", "last"},
                             {"flag", true},
                             {"off", false},
                             {"list", QVariantList{"a b", 2}},
                             {"nested", QVariantMap{{"k", "v/?&="}}},
                             {"name", QString::fromUtf8("Zoë")}};
    Outcome get;
    APIHandler::getRequest(params, server.url("/q?pre=1").toString(), std::nullopt, "m", get.success(),
                           get.failure());
    settle(get);
    QCOMPARE(server.requests().constLast().target,
             QByteArray("/q?pre=1&flag=1&list%5B%5D=a%20b&list%5B%5D=2&name=Zo%C3%AB&nested%5Bk%5D=v/?%26%3D"
                        "&off=0&zeta=last"));

    Outcome post;
    APIHandler::postRequest({{"id", QVariant()}, {"name", "A \"quoted\" \\ name\n"}}, server.url("/j").toString(),
                            std::nullopt, "m", post.success(), post.failure());
    settle(post);
    const QJsonObject body = QJsonDocument::fromJson(server.requests().constLast().body).object();
    QVERIFY(body.value("id").isNull());
    QCOMPARE(body.value("name").toString(), QString("A \"quoted\" \\ name\n"));

    // '+' is escaped like '&', '=' and the blank: a form decoder reads a bare '+' as a blank.
    const QVariantMap tricky{{"captcha", QString::fromUtf8("a+b &c=d\u00e9")}};
    const QByteArray encoded = "captcha=a%2Bb%20%26c%3Dd%C3%A9";
    Outcome query, form;
    APIHandler::getRequest(tricky, server.url("/q").toString(), std::nullopt, "m", query.success(), query.failure());
    settle(query);
    QCOMPARE(server.requests().constLast().target, "/q?" + encoded);
    APIHandler::postFormRequest(tricky, std::nullopt, server.url("/f").toString(), form.success(), form.failure());
    settle(form);
    QCOMPARE(server.requests().constLast().body, encoded);
}

void TestAPIHandler::concurrentRequestsRetryOnTheirOwn()
{
    QHash<QByteArray, int> seen;
    RawServer server([&seen](const RawRequest &r) {
        // Each path fails its first attempt only.
        return ++seen[r.path()] == 1 ? RawReply::drop() : RawReply::http(200, json({{"path", QString(r.path())}}));
    });
    Outcome first, second;
    APIHandler::getRequest({}, server.url("/one").toString(), std::nullopt, "m", first.success(), first.failure());
    APIHandler::getRequest({}, server.url("/two").toString(), std::nullopt, "m", second.success(),
                           second.failure());
    settle(first);
    settle(second);
    QCOMPARE(first.successes, 1);
    QCOMPARE(second.successes, 1);
    QCOMPARE(first.value.toMap().value("path").toString(), QString("/one"));
    QCOMPARE(second.value.toMap().value("path").toString(), QString("/two"));
    QCOMPARE(server.count("/one"), 2);
    QCOMPARE(server.count("/two"), 2);
}

void TestAPIHandler::requestFromWorkerThreadCompletesOnMain()
{
    RawServer server([](const RawRequest &) { return RawReply::http(200, R"({"a":"b"})"); });
    Outcome o;
    o.onMainThread = true;
    const QString url = server.url("/w").toString();
    QThread *worker = QThread::create([&] { APIHandler::postRequest({}, url, std::nullopt, "m", o.success(), o.failure()); });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    settle(o);
    QCOMPARE(o.successes, 1);
    QVERIFY(o.onMainThread);
}

void TestAPIHandler::textRepliesMustBeUtf8()
{
    RawServer server([](const RawRequest &r) {
        if (r.path() == "/latin1")
            return RawReply::http(200, "caf\xe9", "text/plain");
        if (r.path() == "/empty204")
            return RawReply::raw("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
        return RawReply::http(200, "ok \xc3\xa9", "text/plain");
    });
    Outcome bad, good, empty;
    APIHandler::getRequestWithHeaders({}, std::nullopt, server.url("/latin1").toString(), bad.success(),
                                      bad.failure());
    settle(bad);
    QCOMPARE(bad.successes, 0);
    QCOMPARE(bad.failures, 1);
    QCOMPARE_CASE(bad.error->asAFError()->serializationReason(),
             net::NetError::SerializationReason::stringSerializationFailed);
    QCOMPARE(server.count("/latin1"), 1);

    APIHandler::getRequestWithHeaders({}, std::nullopt, server.url("/utf8").toString(), good.success(),
                                      good.failure());
    settle(good);
    QCOMPARE(good.value.toString(), QString::fromUtf8("ok \xc3\xa9"));

    APIHandler::postFormRequest({}, std::nullopt, server.url("/empty204").toString(), empty.success(),
                                empty.failure());
    settle(empty);
    QCOMPARE(empty.successes, 1);
    QCOMPARE(empty.value.toMap().value("resString").toString(), QString());
}

void TestAPIHandler::logsCarryNoValues()
{
    // Secrets with letters in them: a port number or byte count in the log
    // cannot contain them by chance.
    RawServer server([](const RawRequest &r) {
        if (r.path() == "/f")
            return RawReply::http(302, "", "", {{"Location", "/done?code=code-Rd7q&state=st-Kp2w#frag-Zx9"}});
        return RawReply::http(200, R"({"name":"Asha Verma","uid":"uid-Jx4321"})");
    });
    LogCapture log;
    Outcome a, b, c, d;
    APIHandler::postRequest({{"otp", "otp-Mq123456"}, {"aadhaar", "uid-Wn999941057058"}}, server.url("/p").toString(),
                            std::nullopt, "secret-merchant", a.success(), a.failure());
    settle(a);
    APIHandler::postFormRequest({{"shareCode", "sc-Tb9736"}}, std::nullopt, server.url("/f").toString(), b.success(),
                                b.failure());
    settle(b);
    APIHandler::getRequest({}, server.url("/g").toString() + "?code_verifier=ver-Hd5s&code=code-Ya3e", std::nullopt,
                           "secret-merchant", c.success(), c.failure());
    settle(c);
    // A URL that cannot be built is named in the error, its query values left out.
    APIHandler::getRequestWithHeaders({}, std::nullopt, "http://[::1/x?token=tok-Vq8c", d.success(), d.failure());
    settle(d);
    QCOMPARE(d.failures, 1);

    const QString all = log.joined();
    for (const char *secret : {"otp-Mq123456", "uid-Wn999941057058", "Asha Verma", "uid-Jx4321", "sc-Tb9736",
                               "secret-merchant", "code-Rd7q", "st-Kp2w", "frag-Zx9", "ver-Hd5s", "code-Ya3e",
                               "tok-Vq8c"})
        QVERIFY2(!all.contains(secret), secret);
    // Names stay, so the log still tells what was sent.
    QVERIFY(all.contains(server.url("/p").toString() + "\n[\"aadhaar\": \"<redacted>\", \"otp\": \"<redacted>\"]"));
    QVERIFY(all.contains("\"name\": \"<redacted>\""));
    QVERIFY(all.contains(server.url("/done").toString() + "?code=<redacted>&state=<redacted>\n"));
    QVERIFY(all.contains("API Call URL--->" + server.url("/g").toString() + "?code_verifier=<redacted>&code=<redacted>"));
    QVERIFY(all.contains("?token=<redacted>"));
}

void TestAPIHandler::loggedURLsKeepNamesOnly_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("logged");
    QTest::newRow("no query") << "https://h.example:8443/a/b%20c" << "https://h.example:8443/a/b%20c";
    QTest::newRow("values") << "https://h.example/t?code_verifier=abc&code=x%2By"
                            << "https://h.example/t?code_verifier=<redacted>&code=<redacted>";
    QTest::newRow("empty value and bare name") << "http://h/p?a=&flag&b==x"
                                               << "http://h/p?a=<redacted>&flag&b=<redacted>";
    QTest::newRow("empty name") << "http://h/p?=secret&a=1" << "http://h/p?=<redacted>&a=<redacted>";
    QTest::newRow("fragment") << "http://h/p?a=1#code=2" << "http://h/p?a=<redacted>";
    QTest::newRow("fragment without query") << "http://h/p#secret" << "http://h/p";
    QTest::newRow("user info") << "https://user:pw@h.example/p?x=1" << "https://h.example/p?x=<redacted>";
    QTest::newRow("user info, '@' in the password") << "https://user:p@ss@h.example/p?x=1"
                                                    << "https://h.example/p?x=<redacted>";
    QTest::newRow("user info, '@' in both, none after") << "http://me@mail:a@b@h.example:81?x=1#y"
                                                        << "http://h.example:81?x=<redacted>";
    QTest::newRow("not a URL") << "not a url?pin=1234" << "not a url?pin=<redacted>";
}

void TestAPIHandler::loggedURLsKeepNamesOnly()
{
    QFETCH(QString, url);
    QFETCH(QString, logged);
    QCOMPARE(platform::log::redactedURL(url), logged);
    const QUrl parsed(url);
    if (parsed.isValid() && parsed.toString(QUrl::FullyEncoded) == url)
        QCOMPARE(platform::log::redactedURL(parsed), logged);
}

void TestAPIHandler::eachCallReadsRepliesUpToItsBound_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<qint64>("size"); // of every reply body
    QTest::addColumn<bool>("chunked"); // no length declared: the size shows only while reading
    QTest::addColumn<bool>("accepted");
    for (const char *call : {"health check", "sign-in page", "login", "captcha", "one-time password",
                             "DigiLocker start", "document submission", "download"}) {
        const qint64 bound = QByteArray(call) == "download" ? kMaxArchiveReplyBytes : kMaxReplyBytes;
        QTest::addRow("%s, at the bound", call) << QString(call) << bound << false << true;
        QTest::addRow("%s, one byte over", call) << QString(call) << bound + 1 << false << false;
    }
    QTest::newRow("captcha, chunked, at the bound") << "captcha" << kMaxReplyBytes << true << true;
    QTest::newRow("captcha, chunked, one byte over") << "captcha" << kMaxReplyBytes + 1 << true << false;
    QTest::newRow("sign-in page, chunked, one byte over") << "sign-in page" << kMaxReplyBytes + 1 << true << false;
    // The download's bound is not taken from itself: the largest archive the
    // kit opens, as Base64 (4 characters for 3 bytes) in a JSON reply, must pass.
    const qint64 archiveBase64 = (platform::zip::kMaxArchiveBytes + 2) / 3 * 4;
    QTest::newRow("download, the largest archive in Base64") << "download" << archiveBase64 + 1024 << false << true;
    // A writer that escapes "/" (one character in 64) and breaks lines every 76 as "\r\n".
    QTest::newRow("download, the largest archive, escaped, in lines")
        << "download" << archiveBase64 + archiveBase64 / 64 + archiveBase64 / 76 * 4 + 1024 << false << true;
    QTest::newRow("download, twice the largest archive") << "download" << 2 * archiveBase64 << false << false;
}

void TestAPIHandler::eachCallReadsRepliesUpToItsBound()
{
    QFETCH(QString, call);
    QFETCH(qint64, size);
    QFETCH(bool, chunked);
    QFETCH(bool, accepted);
    // A JSON object of exactly `size` bytes with what each caller reads.
    const QByteArray head = R"({"documentId":"d1","status":"Success","pad":")";
    const QByteArray body = head + QByteArray(size - head.size() - 2, 'x') + "\"}";
    QCOMPARE(qint64(body.size()), size);
    RawServer server([&](const RawRequest &r) {
        // The submission's first two steps are read at the bound; its upload gets the size of the row.
        const QByteArray reply = call == "document submission" && !r.path().endsWith("/object")
            ? body.left(kMaxReplyBytes - 2) + "\"}"
            : body;
        if (!chunked)
            return RawReply::http(200, reply);
        return RawReply::raw("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
                             "Connection: close\r\n\r\n"
                             + QByteArray::number(reply.size(), 16) + "\r\n" + reply + "\r\n0\r\n\r\n");
    });
    const QString base = server.url("/").toString();
    internal::setAuthorityServiceBaseURL(server.url("/uidai").toString());

    Outcome o;
    NewAadhaarFlowViewModel authority;
    auto digiLocker = std::make_shared<DigiLockerViewModel>();
    if (call == "health check") {
        HealthCheckViewModel().getResourceState("m", "resource", base, o.success(), o.failure());
    } else if (call == "sign-in page") {
        authority.authorize("response_type=code", o.success(), o.failure());
    } else if (call == "login") {
        authority.login({{"username", "234567890124"}}, o.success(), o.failure());
    } else if (call == "captcha") {
        authority.generateCaptcha(QString(), o.success(), o.failure());
    } else if (call == "one-time password") {
        authority.generateOTP({{"uid", "234567890124"}}, o.success(), o.failure());
    } else if (call == "DigiLocker start") {
        digiLocker->initDocFetch("m", base, std::nullopt, o.success(), o.failure());
    } else if (call == "document submission") {
        OldAadhaarFlowViewModel::create("m", base, "u", std::make_shared<OfflinePaperlessKyc>(QVariantMap{}),
                                        QList<QByteArray>{"PK"}, "offline-aadhaar")
            ->uploadAadhaarDocument([success = o.success()](auto) { success(QVariantMap{{"pad", "uploaded"}}); },
                                    o.failure());
    } else {
        authority.downloadOfflineEkyc({{"shareCode", "9736"}}, "token", o.success(), o.failure());
    }
    settle(o);
    internal::setAuthorityServiceBaseURL(std::nullopt);
    if (!accepted) {
        // Refused unread and not asked again.
        QCOMPARE(o.successes, 0);
        QCOMPARE(o.failures, 1);
        QVERIFY(o.error->asAFError());
        QCOMPARE_CASE(o.error->asAFError()->kind(), net::NetError::Kind::responseTooLarge);
        QCOMPARE(server.requests().size(), call == "document submission" ? 3 : 1);
        return;
    }
    QCOMPARE(o.failures, 0);
    QCOMPARE(o.successes, 1);
    // The page calls hand over the body as text.
    QVariant value = o.value;
    if (call == "login")
        value = value.toMap().value("resString");
    if (value.typeId() == QMetaType::QString)
        value = QJsonDocument::fromJson(value.toString().toUtf8()).object().toVariantMap();
    const QString pad = value.toMap().value("pad").toString();
    QCOMPARE(pad.size(), call == "document submission" ? 8 : size - head.size() - 2);
}

QTEST_MAIN(TestAPIHandler)
#include "tst_apihandler.moc"
