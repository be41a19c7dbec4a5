// The simulator's backend, driven by the kit's own HTTP client.

#include "logcapture.h"

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BackendAPI.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

using namespace orvix;
using namespace orvix::sim;
namespace net = orvix::platform::net;

namespace {

// What one call ended with. Shared, so an answer after a failed wait
// still writes into live memory.
struct Outcome {
    bool done = false;
    QVariant value;
    std::optional<Error> error;
};
using OutcomePtr = std::shared_ptr<Outcome>;

APIHandler::OnSuccess succeeded(const OutcomePtr &o)
{
    return [o](const QVariant &v) { o->done = true, o->value = v; };
}
APIHandler::OnFailure failed(const OutcomePtr &o)
{
    return [o](const Error &e) { o->done = true, o->error = e; };
}

// Waits for a call: the reply map, or {"failure": "transport" | "other" | "timed out"}.
QVariantMap result(const OutcomePtr &o)
{
    if (!QTest::qWaitFor([&] { return o->done; }, 10000))
        return {{"failure", "timed out"}};
    if (o->error)
        return {{"failure", o->error->isSessionTaskFailed() ? "transport" : "other"}};
    return o->value.toMap();
}

int status(const QVariantMap &reply)
{
    return reply.value("statusCode", -1).toInt();
}

// One raw exchange on a socket of its own; the reply as received.
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

QByteArray rawPost(const QString &path, const QByteArray &contentType, const QByteArray &body)
{
    return "POST " + path.toUtf8() + " HTTP/1.1\r\nX-Kalmar-Auth-Credential-ID: merchant-demo\r\nContent-Type: "
        + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
        + body;
}

} // namespace

Q_DECLARE_METATYPE(orvix::sim::Override)

class TestSimulatorBackend : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(sim.start()); }
    void init() { sim.reset(); }

    void refusesMissingOrUnknownCredential();
    void resourceStateFollowsAvailability();
    void documentsIssueIds();
    void uploadsAreParsedAndRecorded();
    void multipartParser_data();
    void multipartParser();
    void supplierDocFetchAndWebhook();
    void recordsHeadersAsSent();
    void overridesReplaceTheReply_data();
    void overridesReplaceTheReply();
    void dropAndFailNext();
    void slowReplyComesLate();
    void badInputIsAnsweredOrIgnored();
    void executableServesUntilKilled();

private:
    QVariantMap post(const QString &path, const QVariantMap &body, std::optional<HTTPHeaders> headers = std::nullopt,
                     const QString &credential = Backend::defaultCredential)
    {
        auto o = std::make_shared<Outcome>();
        APIHandler::postRequest(body, sim.backendBaseUrl() + path, headers, credential, succeeded(o), failed(o));
        return result(o);
    }
    OutcomePtr startGet(const QString &path)
    {
        auto o = std::make_shared<Outcome>();
        APIHandler::getRequest({}, sim.backendBaseUrl() + path, std::nullopt, Backend::defaultCredential,
                               succeeded(o), failed(o));
        return o;
    }
    QVariantMap get(const QString &path) { return result(startGet(path)); }

    LogCapture quiet; // keeps the kit's request log out of the test output
    Simulator sim;
};

void TestSimulatorBackend::refusesMissingOrUnknownCredential()
{
    const QString path = backend::documentsPath();
    const QVariantMap none = post(path, backend::documentBody(), HTTPHeaders{});
    QCOMPARE(status(none), 401);
    QCOMPARE(none.value("errors").toMap().value("errorCode").toString(), QString("UNAUTHORIZED"));
    QCOMPARE(status(post(path, backend::documentBody(), std::nullopt, "someone-else")), 401);
    // Header names are not case-sensitive.
    QCOMPARE(status(post(path, backend::documentBody(), HTTPHeaders{{"x-kalmar-auth-credential-id", "merchant-demo"}})),
             200);

    sim.backend().addCredential("someone-else");
    QCOMPARE(status(post(path, backend::documentBody(), std::nullopt, "someone-else")), 200);
    sim.backend().clearCredentials();
    QCOMPARE(status(post(path, backend::documentBody())), 401);
    QCOMPARE(sim.requestsTo(Backend::documentsRoute).size(), 5);
}

void TestSimulatorBackend::resourceStateFollowsAvailability()
{
    auto state = [&](const QString &id) { return get(backend::resourceStatePath(id)); };
    sim.backend().setAvailable("flow-b", false);
    QCOMPARE(state("flow-a").value("isAvailable"), QVariant(true));
    QCOMPARE(state("flow-b").value("isAvailable"), QVariant(false));
    QCOMPARE(state("flow-b").value("resourceId").toString(), QString("flow-b"));
    sim.backend().setDefaultAvailable(false);
    QCOMPARE(state("flow-a").value("isAvailable"), QVariant(false));

    sim.backend().setAvailabilityField(Backend::AvailabilityField::missing);
    QVERIFY(!state("flow-a").contains("isAvailable"));
    sim.backend().setAvailabilityField(Backend::AvailabilityField::notBoolean);
    QCOMPARE(state("flow-a").value("isAvailable").typeId(), QMetaType::QString);

    const Request last = sim.requests().constLast();
    QCOMPARE(last.method, QByteArray("GET"));
    QCOMPARE(last.path, Backend::path(backend::resourceStatePath("flow-a")));
    QCOMPARE(last.captures, QStringList{"flow-a"});
}

void TestSimulatorBackend::documentsIssueIds()
{
    const QString first = post(backend::documentsPath(), backend::documentBody()).value("documentId").toString();
    const QString second = post(backend::documentsPath(), backend::documentBody()).value("documentId").toString();
    QVERIFY(!first.isEmpty());
    QVERIFY(first != second);
    QCOMPARE(sim.backend().issuedDocumentIds(), (QStringList{first, second}));
    QCOMPARE(sim.requestsTo(Backend::path(backend::documentsPath())).at(0).jsonObject().toVariantMap(),
             backend::documentBody());

    sim.backend().setDocumentIdField(Backend::DocumentIdField::empty);
    QCOMPARE(post(backend::documentsPath(), backend::documentBody()).value("documentId"), QVariant(QString()));
    sim.backend().setDocumentIdField(Backend::DocumentIdField::missing);
    QVERIFY(!post(backend::documentsPath(), backend::documentBody()).contains("documentId"));
    QCOMPARE(status(post(backend::documentsPath(), {{"extension", "xml"}})), 400);
    QCOMPARE(status(post(backend::documentsPath(), {{"extension", "pdf"}, {"name", "aadhaar"}, {"type", "aadhaar"}})), 400);
}


void TestSimulatorBackend::uploadsAreParsedAndRecorded()
{
    // Bytes that look like framing must come through untouched.
    const QList<QByteArray> files{QByteArray("PK\x03\x04\r\n--\r\n\0end", 14), QByteArray(70000, 'z')};
    for (const QString &id : {QStringLiteral("doc-1"), QString()}) {
        auto o = std::make_shared<Outcome>();
        APIHandler::uploadRequest(sim.backendBaseUrl() + backend::documentObjectPath(id), Backend::defaultCredential,
                                  backend::documentObjectFieldName, files, succeeded(o), failed(o));
        QCOMPARE(result(o).value("status").toInt(), 200);

        const QList<Request> got = sim.requestsTo(Backend::path(backend::documentObjectPath(id)));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].route, Backend::documentObjectRoute);
        QCOMPARE(got[0].captures, QStringList{id});
        QCOMPARE(got[0].parts.value_or(QList<MultipartPart>()).size(), files.size());
        for (int i = 0; i < files.size(); ++i) {
            const MultipartPart &part = got[0].parts->at(i);
            QCOMPARE(part.name, QByteArray(backend::documentObjectFieldName));
            QCOMPARE(part.fileName, QByteArray("aadhaar.zip"));
            QCOMPARE(part.contentType, QByteArray("application/octet-stream"));
            QCOMPARE(part.data, files[i]);
        }
    }
    QVERIFY(sim.requests().constLast().path.endsWith("/documents//object"));

    // A body that is not multipart, or has no attachment, is refused.
    const QString object = Backend::path(backend::documentObjectPath("d"));
    QVERIFY(exchange(sim.port(), rawPost(object, "application/json", "{}")).startsWith("HTTP/1.1 400"));
    const QByteArray other = "--b\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\nx\r\n--b--\r\n";
    QVERIFY(exchange(sim.port(), rawPost(object, "multipart/form-data; boundary=b", other)).startsWith("HTTP/1.1 400"));
}

void TestSimulatorBackend::multipartParser_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("parts"); // -1: unreadable
    QTest::addColumn<QByteArray>("firstFileName");
    QTest::addColumn<QByteArray>("firstData");

    const QByteArray type = "multipart/form-data; boundary=b";
    const QByteArray part = "Content-Disposition: form-data; name=\"a\"; filename=\"x;\\\"y\\\".zip\"\r\n\r\n";
    QTest::newRow("quoted boundary, preamble")
        << QByteArray("multipart/form-data; boundary=\"b b\"") << "preamble\r\n--b b\r\n" + part + "one\r\n--b b--\r\n"
        << 1 << QByteArray("x;\"y\".zip") << QByteArray("one");
    QTest::newRow("part without headers") << type << "--b\r\n\r\nbare\r\n--b\r\n" + part + "\r\n--b--" << 2
                                          << QByteArray() << QByteArray("bare");
    QTest::newRow("no close delimiter") << type << "--b\r\n" + part + "cut off" << -1 << QByteArray() << QByteArray();
    QTest::newRow("wrong boundary") << QByteArray("multipart/form-data; boundary=c") << "--b\r\n" + part + "x\r\n--b--"
                                    << -1 << QByteArray() << QByteArray();
}

void TestSimulatorBackend::multipartParser()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, parts);
    const auto parsed = parseMultipart(contentType, body);
    QCOMPARE(parsed ? int(parsed->size()) : -1, parts);
    if (parts > 0) {
        QTEST(parsed->at(0).fileName, "firstFileName");
        QTEST(parsed->at(0).data, "firstData");
    }
}

void TestSimulatorBackend::supplierDocFetchAndWebhook()
{
    QVariantMap supplier{{"id", "s-1"},      {"aadhaarXMLToken", "t"}, {"name", "N"},       {"gender", "F"},
                         {"dob", "1990"},    {"street", QVariant()},   {"city", "C"},       {"state", "S"},
                         {"district", QVariant()}, {"country", "IN"},  {"pincode", "560001"}};
    const QVariantMap ok = post(backend::supplierPath("offline-aadhaar"), supplier);
    QCOMPARE(ok.value("status").toString(), QString("ok"));
    QCOMPARE(ok.value("kind").toString(), QString("offline-aadhaar"));
    supplier.insert("pincode", 560001);
    supplier.remove("dob");
    const QVariantMap bad = post(backend::supplierPath("offline-aadhaar"), supplier);
    QCOMPARE(status(bad), 400);
    QCOMPARE(bad.value("errors").toMap().value("message").toString(), QString("missing or invalid: dob, pincode"));

    const QVariantMap fetchBody = backend::initDocFetchBody("https://cb.example/", "https://cancel.example/", "u");
    const QVariantMap fetch = post(backend::initDocFetchPath(), fetchBody);
    QCOMPARE(sim.requests().constLast().route, Backend::initDocFetchRoute);
    const QString tx = fetch.value("transactionId").toString();
    QCOMPARE(sim.backend().issuedTransactionIds(), QStringList{tx});
    const QUrl consent(fetch.value("url").toString());
    QCOMPARE(consent.adjusted(QUrl::RemoveQuery), sim.baseUrl().resolved(QUrl(Backend::consentPath)));
    QCOMPARE(QUrlQuery(consent).queryItemValue("tx"), tx);

    sim.backend().refuseDocFetch(403, "no more fetches");
    const QVariantMap refused = post(backend::initDocFetchPath(), fetchBody);
    QCOMPARE(status(refused), 403);
    QCOMPARE(refused.value("error").toMap().value("message").toString(), QString("no more fetches"));

    QCOMPARE(post(backend::digiLockerWebhookPath(), backend::digiLockerWebhookBody(tx)),
             (QVariantMap{{"statusCode", 200}}));
    QCOMPARE(sim.requestsTo(Backend::webhookRoute).at(0).jsonObject().value("transactionId").toString(), tx);
}

void TestSimulatorBackend::recordsHeadersAsSent()
{
    QSignalSpy spy(&sim, &Simulator::requestReceived);
    const HTTPHeaders sent{{"Zeta", "1"}, {"'Accept'", "a"}, {"x-kalmar-auth-credential-id", "merchant-demo"}};
    auto o = std::make_shared<Outcome>();
    APIHandler::getRequest({{"b", "2 3"}}, sim.backendBaseUrl() + "nowhere", sent, {}, succeeded(o), failed(o));
    QCOMPARE(status(result(o)), 404);

    QCOMPARE(spy.size(), 1);
    const Request r = spy.at(0).at(0).value<Request>();
    QVERIFY(r.route.isEmpty());
    QCOMPARE(QUrlQuery(r.query).queryItemValue("b", QUrl::FullyDecoded), QString("2 3"));
    QByteArrayList names;
    for (const auto &h : r.headers) {
        if (sent.contains(h.first))
            names.append(h.first);
    }
    QCOMPARE(names, (QByteArrayList{"Zeta", "'Accept'", "x-kalmar-auth-credential-id"}));
}

void TestSimulatorBackend::overridesReplaceTheReply_data()
{
    QTest::addColumn<Override>("override");
    QTest::addColumn<bool>("isJson");
    QTest::newRow("error code") << Override::errorCode(503, "MAINTENANCE") << true;
    QTest::newRow("custom body") << Override::errorBody(422, QJsonObject{{"detail", "x"}}) << true;
    QTest::newRow("empty body") << Override::emptyBody(500) << false;
    QTest::newRow("html page") << Override::htmlPage(502) << false;
    QTest::newRow("text") << Override::text(200, "plain words") << false;
    QTest::newRow("json array") << Override::jsonArray(200, {1, "two"}) << true;
}

void TestSimulatorBackend::overridesReplaceTheReply()
{
    QFETCH(Override, override);
    QFETCH(bool, isJson);
    sim.setOverride(Backend::resourceStateRoute, override);

    // Sent without the credential: the override answers before the route would refuse.
    auto response = std::make_shared<std::optional<net::DataResponse>>();
    net::DataRequestOptions options;
    options.urlText = sim.backendBaseUrl() + backend::resourceStatePath("r");
    options.emptyBody = net::EmptyBodyPolicy::acceptAlways;
    net::Session::shared().request(options, nullptr, [response](const net::DataResponse &r) { *response = r; });
    QTRY_VERIFY_WITH_TIMEOUT(response->has_value(), 10000);

    const net::DataResponse &r = **response;
    QVERIFY(!r.error);
    QCOMPARE(r.response->statusCode, override.reply.status);
    QCOMPARE(r.data.value_or("?"), override.reply.body);
    QCOMPARE(r.response->value("Content-Length").value_or("?"), QByteArray::number(override.reply.body.size()));
    QCOMPARE(!QJsonDocument::fromJson(*r.data).isNull(), isJson);
    QCOMPARE(sim.overrideFor(Backend::resourceStateRoute)->remaining, -1); // it stays
}

void TestSimulatorBackend::dropAndFailNext()
{
    // Dropped every time: a transport failure, after the kit's one resend.
    sim.setOverride(Backend::path(backend::documentsPath()), Override::dropConnection());
    QCOMPARE(post(backend::documentsPath(), backend::documentBody()).value("failure"), QVariant("transport"));
    QCOMPARE(sim.requestsTo(Backend::documentsRoute).size(), 2);

    // Dropped once: the resend gets through and the override is used up.
    sim.clearOverrides();
    sim.failNext(Backend::documentsRoute, 1, Override::dropConnection());
    QVERIFY(!post(backend::documentsPath(), backend::documentBody()).value("documentId").toString().isEmpty());
    QCOMPARE(sim.requestsTo(Backend::documentsRoute).size(), 4);
    QVERIFY(!sim.overrideFor(Backend::documentsRoute));

    const QString key = Backend::path(backend::resourceStatePath("r"));
    sim.failNext(key, 2, Override::errorCode(500, "BUSY"));
    sim.setOneShot(Backend::path(backend::resourceStatePath("s")), Override::errorCode(409, "ONCE"));
    QCOMPARE(sim.overrideFor(key)->remaining, 2);
    QList<int> statuses;
    for (const char *id : {"r", "s", "r", "s", "r"})
        statuses.append(status(get(backend::resourceStatePath(id))));
    QCOMPARE(statuses, (QList<int>{500, 409, 500, 200, 200}));
    QVERIFY(!sim.overrideFor(key));
}

void TestSimulatorBackend::slowReplyComesLate()
{
    const int delayMs = 400;
    sim.setOverride(Backend::resourceStateRoute, Override::slow(delayMs));
    QSignalSpy spy(&sim, &Simulator::requestReceived);
    QElapsedTimer clock;
    clock.start();
    OutcomePtr o = startGet(backend::resourceStatePath("r"));
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 5000);
    QVERIFY(!o->done);
    QCOMPARE(result(o).value("isAvailable"), QVariant(true));
    QVERIFY(clock.elapsed() >= delayMs - 20);

    // A client that leaves before its slow answer does no harm; the next
    // answer is due after the abandoned one.
    QTcpSocket leaver;
    leaver.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(leaver.waitForConnected(5000));
    leaver.write("GET " + Backend::path(backend::resourceStatePath("r")).toUtf8() + " HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
    leaver.abort();
    QCOMPARE(status(get(backend::resourceStatePath("r"))), 200);
}

void TestSimulatorBackend::badInputIsAnsweredOrIgnored()
{
    QTcpSocket garbage;
    garbage.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(garbage.waitForConnected(5000));
    garbage.write("GARBAGE\r\n\r\n\x01\x02");

    const QString documents = Backend::path(backend::documentsPath());
    const QString object = Backend::path(backend::documentObjectPath("d"));
    for (const QByteArray &request :
         {rawPost(documents, "application/json", "{\"extension\":"), rawPost(documents, "application/json", "[1]"),
          rawPost(object, "multipart/form-data; boundary=", "--\r\n\r\n"),
          rawPost(object, "multipart/form-data; boundary=z", "--z\r\nContent-Disposition")})
        QVERIFY2(exchange(sim.port(), request).startsWith("HTTP/1.1 400"), request.constData());

    // HEAD is answered like GET, without the body; documents takes POST alone.
    const QByteArray head = exchange(sim.port(), "HEAD " + Backend::path(backend::resourceStatePath("r")).toUtf8()
                                                     + " HTTP/1.1\r\nConnection: close\r\n"
                                                       "X-Kalmar-Auth-Credential-ID: merchant-demo\r\n\r\n");
    QVERIFY(head.startsWith("HTTP/1.1 200"));
    QVERIFY(head.endsWith("\r\n\r\n"));
    QVERIFY(exchange(sim.port(), "GET " + documents.toUtf8() + " HTTP/1.1\r\nConnection: close\r\n\r\n")
                .startsWith("HTTP/1.1 405"));

    QCOMPARE(status(post(backend::documentsPath(), backend::documentBody())), 200);
    QCOMPARE(garbage.readAll(), QByteArray()); // never answered, and nothing else suffered
}

void TestSimulatorBackend::executableServesUntilKilled()
{
    QProcess process;
    QByteArray out;
    connect(&process, &QProcess::readyReadStandardOutput, this, [&] { out += process.readAllStandardOutput(); });
    process.start(QStringLiteral(ORVIX_SIMULATOR_EXE), {"--credential", "from-command-line"});
    // Every URL labelled, then what a caller needs to be let in.
    QTRY_VERIFY_WITH_TIMEOUT(out.contains("sample Aadhaar number: "), 10000);
    const auto labelled = [&out](const QByteArray &label) {
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith(label + ": "))
                return QString::fromUtf8(line.mid(label.size() + 2));
        }
        return QString();
    };
    const QUrl base(labelled("simulator"));
    const QString backendBase = labelled("backend");
    QVERIFY(base.host() == "127.0.0.1" && base.port() > 0);
    QVERIFY(backendBase.startsWith(base.toString()) && backendBase.endsWith('/'));
    for (const char *label : {"authority API", "authority portal", "resident page", "DigiLocker consent page"})
        QVERIFY2(labelled(label).startsWith(base.toString()), label);
    QCOMPARE(labelled("credential header"), "X-Kalmar-Auth-Credential-ID");
    QCOMPARE(labelled("credentials accepted"), "merchant-demo (default), from-command-line");

    // One line per request, query values redacted.
    auto o = std::make_shared<Outcome>();
    APIHandler::getRequest({{"secret", "s3cr3t-value"}}, backendBase + backend::resourceStatePath("r"), std::nullopt,
                           "from-command-line", succeeded(o), failed(o));
    QCOMPARE(status(result(o)), 200);
    QTRY_VERIFY_WITH_TIMEOUT(out.contains("request: GET /backend/v1/resource/r/state?secret=<redacted> -> 200\n"), 10000);
    QVERIFY(!out.contains("s3cr3t-value"));
    process.kill();
    QVERIFY(process.waitForFinished(5000));
}

QTEST_MAIN(TestSimulatorBackend)
#include "tst_simulator_backend.moc"
