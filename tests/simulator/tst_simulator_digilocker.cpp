// The DigiLocker stand-in pages and host pages, driven by the kit's own HTTP client.

#include "logcapture.h"

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BackendAPI.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

using namespace orvix;
using namespace orvix::sim;
namespace net = orvix::platform::net;

namespace {

struct Page {
    int status = -1; // -1: no reply
    QByteArray body;
    QByteArray contentType;
    QUrl url; // after redirects
};

Page fetch(const QString &url, net::HTTPMethod method = net::HTTPMethod::GET)
{
    auto out = std::make_shared<std::optional<net::DataResponse>>();
    net::DataRequestOptions options;
    options.urlText = url;
    options.method = method;
    options.emptyBody = net::EmptyBodyPolicy::acceptAlways;
    net::Session::shared().request(options, nullptr, [out](const net::DataResponse &r) { *out = r; });
    if (!QTest::qWaitFor([&] { return out->has_value(); }, 10000) || !(*out)->response)
        return {};
    const net::DataResponse &r = **out;
    return {r.response->statusCode, r.data.value_or(QByteArray()), r.response->value("Content-Type").value_or(""),
            r.response->url};
}

// Clicks like a form would: postFormRequest's {"resQuery", "resString"}, or {"failure": ...}.
struct Click {
    bool done = false;
    QVariantMap result;
};
std::shared_ptr<Click> startClick(const QString &url, const QVariantMap &fields = {})
{
    auto click = std::make_shared<Click>();
    APIHandler::postFormRequest(
        fields, std::nullopt, url, [click](const QVariant &v) { click->done = true, click->result = v.toMap(); },
        [click](const Error &) { click->done = true, click->result = {{"failure", true}}; });
    return click;
}
QVariantMap click(const QString &url, const QVariantMap &fields = {})
{
    const auto c = startClick(url, fields);
    return QTest::qWaitFor([&] { return c->done; }, 10000) ? c->result : QVariantMap{{"failure", "timed out"}};
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

QByteArray rawRequest(const QByteArray &method, const QString &target, const QByteArray &formBody = {})
{
    return method + ' ' + target.toUtf8()
        + " HTTP/1.1\r\nConnection: close\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
        + QByteArray::number(formBody.size()) + "\r\n\r\n" + formBody;
}

// The action of the POST form holding the button with this id, resolved against the page.
QString formAction(const Page &page, const QString &buttonId)
{
    const QRegularExpression form(QStringLiteral("<form method=\"post\" action=\"([^\"]*)\">\\s*<button[^>]*id=\"%1\"")
                                      .arg(buttonId));
    const QString action = form.match(QString::fromUtf8(page.body)).captured(1).replace("&amp;", "&");
    return action.isEmpty() ? QString() : page.url.resolved(QUrl(action)).toString();
}

} // namespace

class TestSimulatorDigiLocker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(sim.start()); }
    void init() { sim.reset(); }

    void consentPageEscapesWhatItShows();
    void buttonsLeadToTheHostUrls_data();
    void buttonsLeadToTheHostUrls();
    void locationIsSentAsReceived();
    void unknownOrMissingTransaction_data();
    void unknownOrMissingTransaction();
    void unusableHostUrlIsNotSent();
    void consentFailsAndDecisionWaitsWhenTold();
    void hostPagesAnswerAnything();
    void resetForgetsTransactions();

private:
    // Runs init-doc-fetch; the consent page URL it answers.
    QString beginFetch(const QString &callback, const QString &cancel, const QString &username = "asha")
    {
        auto url = std::make_shared<std::optional<QString>>();
        APIHandler::postRequest(
            backend::initDocFetchBody(callback, cancel, username), sim.backendBaseUrl() + backend::initDocFetchPath(),
            std::nullopt, Backend::defaultCredential,
            [url](const QVariant &v) { *url = v.toMap().value("url").toString(); },
            [url](const Error &) { *url = QString(); });
        return QTest::qWaitFor([&] { return url->has_value(); }, 10000) ? **url : QString();
    }
    QString lastTx() { return sim.backend().issuedTransactionIds().value(0); }

    LogCapture quiet;
    Simulator sim;
};

void TestSimulatorDigiLocker::consentPageEscapesWhatItShows()
{
    const Page page = fetch(beginFetch(sim.hostSuccessUrl(), sim.hostFailureUrl(), "<script>alert('x')</script>&\""));
    QCOMPARE(page.status, 200);
    QVERIFY(page.contentType.startsWith("text/html"));
    QVERIFY(page.body.contains("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;&quot;"));
    QVERIFY(!page.body.contains("<script"));
    for (const char *id : {"allow", "deny"})
        QVERIFY2(!formAction(page, id).isEmpty(), id);
    QVERIFY(page.body.contains(">Allow</button>") && page.body.contains(">Deny</button>"));
}

void TestSimulatorDigiLocker::buttonsLeadToTheHostUrls_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("hostText");
    const QByteArray complete = "Verification complete", cancelled = "Verification cancelled";
    QTest::newRow("allow") << true << sim.hostSuccessUrl() << complete;
    QTest::newRow("deny") << false << sim.hostFailureUrl() << cancelled;
    QTest::newRow("allow, own query and escapes")
        << true << sim.hostSuccessUrl() + "?state=a%2Fb%20c&next=https%3A%2F%2Fh.example%2F%3Fq%3D1%26r%3D2" << complete;
    QTest::newRow("deny, own query and escapes") << false << sim.hostFailureUrl() + "?why=said%20no&pct=%25&e=%C3%A9"
                                                 << cancelled;
}

void TestSimulatorDigiLocker::buttonsLeadToTheHostUrls()
{
    QFETCH(bool, allow);
    QFETCH(QString, target);
    // The other URL points nowhere useful, so a mix-up shows.
    const QString elsewhere = sim.baseUrl().toString() + "wrong-way";
    const Page consent = fetch(beginFetch(allow ? target : elsewhere, allow ? elsewhere : target));
    QSignalSpy spy(&sim.digiLocker(), &DigiLocker::decided);

    const QVariantMap landed = click(formAction(consent, allow ? "allow" : "deny"));
    QCOMPARE(landed.value("resQuery").toUrl().toString(QUrl::FullyEncoded), target);
    QFETCH(QByteArray, hostText);
    QVERIFY(landed.value("resString").toString().toUtf8().contains(hostText));

    // The host page got the query exactly as the host gave it.
    const QString hostRoute = allow ? DigiLocker::hostSuccessRoute : DigiLocker::hostFailureRoute;
    QCOMPARE(sim.requestsTo(hostRoute).size(), 1);
    QCOMPARE(sim.requestsTo(hostRoute).at(0).query, QUrl(target).query(QUrl::FullyEncoded));
    QCOMPARE(sim.digiLocker().decisions(), (QList<DigiLocker::Decision>{{lastTx(), allow}}));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0), (QVariantList{lastTx(), allow}));
}

void TestSimulatorDigiLocker::locationIsSentAsReceived()
{
    // Escapes in odd case, raw non-ASCII, a fragment: nothing is normalised.
    const QString callback = QString::fromUtf8("https://host.example/cb?a=%7e&b=%2f&c=\xC3\xA9 d#frag");
    const QString cancel = "myapp://cancel";
    beginFetch(callback, cancel);
    const QString tx = lastTx();

    const QByteArray allowed = exchange(sim.port(), rawRequest("POST", "/" + DigiLocker::allowPath + "?tx=" + tx));
    QVERIFY2(allowed.startsWith("HTTP/1.1 302"), allowed.constData());
    QVERIFY(allowed.contains("\r\nLocation: " + callback.toUtf8() + "\r\n"));
    // A tx posted as a form field, and a plain link, work too.
    const QByteArray denied =
        exchange(sim.port(), rawRequest("POST", "/" + DigiLocker::denyPath, "tx=" + tx.toUtf8() + "&other=1"));
    QVERIFY(denied.contains("\r\nLocation: myapp://cancel\r\n"));
    QVERIFY(exchange(sim.port(), rawRequest("GET", "/" + DigiLocker::denyPath + "?tx=" + tx))
                .contains("\r\nLocation: myapp://cancel\r\n"));
    QCOMPARE(sim.digiLocker().decisions().size(), 3);
}

void TestSimulatorDigiLocker::unknownOrMissingTransaction_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("formBody");
    const QString consent = "/" + DigiLocker::consentPath, allow = "/" + DigiLocker::allowPath;
    QTest::newRow("consent, no tx") << QByteArray("GET") << consent << QByteArray();
    QTest::newRow("consent, empty tx") << QByteArray("GET") << consent + "?tx=" << QByteArray();
    QTest::newRow("consent, unknown tx") << QByteArray("GET") << consent + "?tx=nope" << QByteArray();
    QTest::newRow("consent, markup in tx") << QByteArray("GET") << consent + "?tx=%3Cb%3E%251x%3C/b%3E" << QByteArray();
    QTest::newRow("consent, not UTF-8") << QByteArray("GET") << consent + "?tx=%FF%FE&tx" << QByteArray();
    QTest::newRow("allow, unknown tx") << QByteArray("POST") << allow + "?tx=nope" << QByteArray();
    QTest::newRow("allow, broken form") << QByteArray("POST") << allow << QByteArray("tx=%zz&&=&tx=%3Cb%3E");
    QTest::newRow("deny, no tx") << QByteArray("POST") << "/" + DigiLocker::denyPath << QByteArray();
}

void TestSimulatorDigiLocker::unknownOrMissingTransaction()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, target);
    QFETCH(QByteArray, formBody);
    beginFetch(sim.hostSuccessUrl(), sim.hostFailureUrl()); // one known transaction, not named here

    const QByteArray reply = exchange(sim.port(), rawRequest(method, target, formBody));
    QVERIFY2(reply.startsWith("HTTP/1.1 404"), reply.constData());
    QVERIFY(reply.contains("Content-Type: text/html"));
    QVERIFY(reply.contains("transaction"));
    QVERIFY(!reply.contains("<b>"));
    QVERIFY(!reply.contains("Location:"));
    QVERIFY(sim.digiLocker().decisions().isEmpty());
}

void TestSimulatorDigiLocker::unusableHostUrlIsNotSent()
{
    beginFetch(QString(), "https://h.example/\r\nSet-Cookie: stolen=1");
    for (const QString &path : {DigiLocker::allowPath, DigiLocker::denyPath}) {
        const QByteArray reply = exchange(sim.port(), rawRequest("POST", "/" + path + "?tx=" + lastTx()));
        QVERIFY2(reply.startsWith("HTTP/1.1 400"), reply.constData());
        QVERIFY(!reply.contains("Location:"));
        QVERIFY(!reply.contains("Set-Cookie:"));
    }
    QCOMPARE(fetch(sim.hostSuccessUrl()).status, 200); // still serving
}

void TestSimulatorDigiLocker::consentFailsAndDecisionWaitsWhenTold()
{
    const QString consentUrl = beginFetch(sim.hostSuccessUrl(), sim.hostFailureUrl());
    sim.setOneShot(DigiLocker::consentRoute, Override::htmlPage(500));
    QCOMPARE(fetch(consentUrl).status, 500);
    const Page consent = fetch(consentUrl);
    QCOMPARE(consent.status, 200);

    const int delayMs = 400;
    sim.setOverride(DigiLocker::decisionRoute, Override::slow(delayMs));
    QSignalSpy spy(&sim.digiLocker(), &DigiLocker::decided);
    QElapsedTimer clock;
    clock.start();
    const auto pending = startClick(formAction(consent, "allow"));
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 5000);
    QVERIFY(!pending->done);
    QTRY_VERIFY_WITH_TIMEOUT(pending->done, 10000);
    QVERIFY(clock.elapsed() >= delayMs - 20);
    QCOMPARE(pending->result.value("resQuery").toUrl().toString(), sim.hostSuccessUrl());
}

void TestSimulatorDigiLocker::hostPagesAnswerAnything()
{
    QVERIFY(Simulator().hostSuccessUrl().isEmpty());
    for (const auto &[url, text] : {std::pair{sim.hostSuccessUrl(), "Verification complete"},
                                    std::pair{sim.hostFailureUrl(), "Verification cancelled"}}) {
        for (const QString &query : {QString(), QString("?status=1&x=%3Cb%3E&&="), QString("?")}) {
            const Page page = fetch(url + query);
            QCOMPARE(page.status, 200);
            QVERIFY(page.contentType.startsWith("text/html"));
            QVERIFY(page.body.contains(text));
            QVERIFY(!page.body.contains("<b>"));
        }
        QCOMPARE(fetch(url, net::HTTPMethod::POST).status, 200);
    }
}

void TestSimulatorDigiLocker::resetForgetsTransactions()
{
    const QString consentUrl = beginFetch(sim.hostSuccessUrl(), sim.hostFailureUrl());
    QCOMPARE(click(formAction(fetch(consentUrl), "deny")).value("resQuery").toUrl().toString(), sim.hostFailureUrl());
    QCOMPARE(sim.digiLocker().decisions().size(), 1);
    sim.reset();
    QVERIFY(sim.digiLocker().decisions().isEmpty());
    QCOMPARE(fetch(consentUrl).status, 404);
}

QTEST_MAIN(TestSimulatorDigiLocker)
#include "tst_simulator_digilocker.moc"
