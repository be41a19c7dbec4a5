// Submitting a verified record to the simulator's backend: the three calls,
// what they carry, and how each way of failing ends the chain.

#include "orvix_ios_native_sdk/document/OldAadhaarFlowViewModel.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"

#include <QJsonObject>
#include <QtTest>

using namespace orvix;
using namespace Qt::StringLiterals;
using orvix::sim::Backend;
using orvix::sim::Override;
using NetKind = orvix::platform::net::NetError::Kind;

Q_DECLARE_METATYPE(orvix::sim::Override)
Q_DECLARE_METATYPE(orvix::sim::Backend::DocumentIdField)

namespace {

std::shared_ptr<OfflinePaperlessKyc> makeRecord(bool withPoa = true)
{
    QVariantMap uid{{u"Poi"_s, QVariantMap{{u"name"_s, u"Priya Sharma"_s}, {u"gender"_s, u"F"_s},
                                           {u"dob"_s, u"01-02-1990"_s}, {u"m"_s, u"mhash"_s}}},
                    {u"Pht"_s, u"/9j/"_s}};
    if (withPoa)
        uid.insert(u"Poa"_s, QVariantMap{{u"street"_s, u"MG Road"_s}, {u"vtc"_s, u"Kothrud"_s},
                                         {u"state"_s, u"Maharashtra"_s}, {u"dist"_s, u"Pune"_s},
                                         {u"country"_s, u"India"_s}, {u"pc"_s, u"411038"_s}, {u"house"_s, u"12"_s}});
    return std::make_shared<OfflinePaperlessKyc>(QVariantMap{{u"referenceId"_s, u"1234"_s}, {u"UidData"_s, uid}});
}

const QByteArray archive("PK\x03\x04zip\x00\xff\r\n--bytes", 18);

// How one chain ended; shared with its closures, which may outlive a failed test.
struct Outcome {
    int successes = 0;
    int failures = 0;
    std::shared_ptr<OfflinePaperlessKyc> record;
    std::optional<Error> error;
    int calls() const { return successes + failures; }
};

std::shared_ptr<Outcome> run(const std::shared_ptr<OldAadhaarFlowViewModel> &model)
{
    auto out = std::make_shared<Outcome>();
    model->uploadAadhaarDocument(
        [out](std::shared_ptr<OfflinePaperlessKyc> record) {
            ++out->successes;
            out->record = std::move(record);
        },
        [out](const Error &error) {
            ++out->failures;
            out->error = error;
        });
    return out;
}

// The supplier body is the chain's own: a host cannot build one.
template <typename T>
concept suppliesParameters = requires(const T &vm) { vm.makeSupplierParameters(QString()); };
static_assert(!suppliesParameters<OldAadhaarFlowViewModel>);

} // namespace

// The chain has ended, every request is done, and exactly one closure ran.
#define WAIT_FOR_END(out)                                                                           \
    QTRY_VERIFY_WITH_TIMEOUT((out)->calls() > 0, 15000);                                           \
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);      \
    QCOMPARE((out)->calls(), 1)

class TestSubmission : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_sim.start()); }
    void cleanup()
    {
        QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
        m_sim.reset();
    }

    void sendsThreeCallsAndHandsBackTheRecord();
    void absentValuesGoAsNull();
    void unusableDocumentIdGoesOnEmpty_data();
    void unusableDocumentIdGoesOnEmpty();
    void supplierReplyOtherThan200Fails_data();
    void supplierReplyOtherThan200Fails();
    void clientErrorsEndTheChain_data();
    void clientErrorsEndTheChain();
    void chainOutlivesItsCaller();

private:
    std::shared_ptr<OldAadhaarFlowViewModel> model(std::shared_ptr<OfflinePaperlessKyc> record,
                                                   std::optional<QString> kycType = u"offline-aadhaar"_s,
                                                   std::optional<QString> userID = u"user-42"_s,
                                                   std::optional<QString> key = Backend::defaultCredential)
    {
        return OldAadhaarFlowViewModel::create(key, m_sim.backendBaseUrl(), userID, std::move(record),
                                               QList<QByteArray>{archive}, kycType);
    }

    sim::Simulator m_sim;
};

void TestSubmission::sendsThreeCallsAndHandsBackTheRecord()
{
    const auto record = makeRecord();
    const auto out = run(model(record));
    WAIT_FOR_END(out);
    QCOMPARE(out->successes, 1);
    QCOMPARE(out->record.get(), record.get());

    const QList<sim::Request> seen = m_sim.requests();
    QCOMPARE(seen.size(), 3);
    const QString id = m_sim.backend().issuedDocumentIds().value(0);
    QVERIFY(!id.isEmpty());
    QCOMPARE(seen[0].path, Backend::path(u"documents"_s));
    QCOMPARE(seen[1].path, Backend::path(u"v1/suppliers/offline-aadhaar"_s));
    QCOMPARE(seen[2].path, Backend::path(u"documents/"_s + id + u"/object"_s));
    for (const sim::Request &r : seen) {
        QCOMPARE(r.method, "POST");
        QCOMPARE(r.header(APIHandler::credentialHeaderName), Backend::defaultCredential.toUtf8());
    }

    QCOMPARE(seen[0].jsonObject(),
             QJsonObject({{u"extension"_s, u"xml"_s}, {u"name"_s, u"aadhaar"_s}, {u"type"_s, u"aadhaar"_s}}));
    // Exactly the eleven keys: nothing else of the record is sent.
    QCOMPARE(seen[1].jsonObject(),
             QJsonObject({{u"id"_s, u"user-42"_s}, {u"aadhaarXMLToken"_s, id}, {u"name"_s, u"Priya Sharma"_s},
                          {u"gender"_s, u"F"_s}, {u"dob"_s, u"01-02-1990"_s}, {u"street"_s, u"MG Road"_s},
                          {u"city"_s, u"Kothrud"_s}, {u"state"_s, u"Maharashtra"_s}, {u"district"_s, u"Pune"_s},
                          {u"country"_s, u"India"_s}, {u"pincode"_s, u"411038"_s}}));

    QVERIFY(seen[2].parts);
    QCOMPARE(seen[2].parts->size(), 1);
    const sim::MultipartPart &part = seen[2].parts->first();
    QCOMPARE(part.name, "attachment");
    QCOMPARE(part.fileName, "aadhaar.zip");
    QCOMPARE(part.contentType, "application/octet-stream");
    QCOMPARE(part.data, archive);
}

void TestSubmission::absentValuesGoAsNull()
{
    // No Poa in the record, no user id, no KYC type.
    const auto out = run(model(makeRecord(false), std::nullopt, std::nullopt));
    WAIT_FOR_END(out);
    QCOMPARE(out->successes, 1);

    const QList<sim::Request> supplier = m_sim.requestsTo(Backend::supplierRoute);
    QCOMPARE(supplier.size(), 1);
    QCOMPARE(supplier[0].path, Backend::path(u"v1/suppliers/offline-aadhaar-old"_s));
    const QJsonObject body = supplier[0].jsonObject();
    QCOMPARE(body.size(), 11);
    // value() of a missing key is undefined, not null: each key is there.
    for (const char *key : {"id", "street", "city", "state", "district", "country", "pincode"})
        QVERIFY2(body.value(QLatin1String(key)).isNull(), key);
    QCOMPARE(body.value(u"name"_s), u"Priya Sharma"_s);
    QCOMPARE(body.value(u"gender"_s), u"F"_s);
    QCOMPARE(body.value(u"dob"_s), u"01-02-1990"_s);
}

void TestSubmission::unusableDocumentIdGoesOnEmpty_data()
{
    QTest::addColumn<Backend::DocumentIdField>("field");
    QTest::addColumn<QJsonObject>("reply"); // replaces the backend's when set
    QTest::newRow("empty id") << Backend::DocumentIdField::empty << QJsonObject();
    QTest::newRow("no id") << Backend::DocumentIdField::missing << QJsonObject();
    QTest::newRow("id not a string") << Backend::DocumentIdField::fresh << QJsonObject{{u"documentId"_s, 42}};
}

void TestSubmission::unusableDocumentIdGoesOnEmpty()
{
    QFETCH(Backend::DocumentIdField, field);
    QFETCH(QJsonObject, reply);
    m_sim.backend().setDocumentIdField(field);
    if (!reply.isEmpty())
        m_sim.setOverride(Backend::documentsRoute, Override::errorBody(200, reply));
    const auto out = run(model(makeRecord()));
    WAIT_FOR_END(out);
    QCOMPARE(out->successes, 1);

    const QList<sim::Request> supplier = m_sim.requestsTo(Backend::supplierRoute);
    QCOMPARE(supplier.size(), 1);
    QJsonObject expected{{u"id"_s, u"user-42"_s}};
    for (const char *key : {"aadhaarXMLToken", "name", "gender", "dob", "street", "city", "state", "district",
                            "country", "pincode"})
        expected.insert(QLatin1String(key), u""_s);
    QCOMPARE(supplier[0].jsonObject(), expected);

    const QList<sim::Request> upload = m_sim.requestsTo(Backend::documentObjectRoute);
    QCOMPARE(upload.size(), 1);
    QCOMPARE(upload[0].path, Backend::path(u"documents//object"_s));
}

void TestSubmission::supplierReplyOtherThan200Fails_data()
{
    QTest::addColumn<Override>("reply");
    QTest::addColumn<int>("code");
    QTest::newRow("201 with a success body") << Override::errorBody(201, QJsonObject{{u"status"_s, u"ok"_s}}) << 201;
    QTest::newRow("array, no status") << Override::jsonArray(200) << 400;
}

void TestSubmission::supplierReplyOtherThan200Fails()
{
    QFETCH(Override, reply);
    QFETCH(int, code);
    m_sim.setOverride(Backend::supplierRoute, reply);
    const auto out = run(model(makeRecord()));
    WAIT_FOR_END(out);
    QCOMPARE(out->failures, 1);
    QVERIFY(!out->error->asAFError());
    QCOMPARE(out->error->domain(), QString());
    QCOMPARE(out->error->code(), code);
    QVERIFY(m_sim.requestsTo(Backend::documentObjectRoute).isEmpty());
}

void TestSubmission::clientErrorsEndTheChain_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<Override>("reply");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("status"); // of a validation error
    QTest::addColumn<QStringList>("notReached");
    QTest::newRow("documents answer HTML")
        << Backend::documentsRoute << Override::htmlPage(200) << int(NetKind::responseSerializationFailed) << 0
        << QStringList{Backend::supplierRoute, Backend::documentObjectRoute};
    QTest::newRow("documents connection dropped")
        << Backend::documentsRoute << Override::dropConnection() << int(NetKind::sessionTaskFailed) << 0
        << QStringList{Backend::supplierRoute, Backend::documentObjectRoute};
    QTest::newRow("supplier connection dropped")
        << Backend::supplierRoute << Override::dropConnection() << int(NetKind::sessionTaskFailed) << 0
        << QStringList{Backend::documentObjectRoute};
    QTest::newRow("upload connection dropped")
        << Backend::documentObjectRoute << Override::dropConnection() << int(NetKind::sessionTaskFailed) << 0
        << QStringList{};
    QTest::newRow("upload answered 201")
        << Backend::documentObjectRoute << Override::errorBody(201, QJsonObject{{u"status"_s, u"uploaded"_s}})
        << int(NetKind::responseValidationFailed) << 201 << QStringList{};
}

void TestSubmission::clientErrorsEndTheChain()
{
    QFETCH(QString, route);
    QFETCH(Override, reply);
    QFETCH(int, kind);
    QFETCH(int, status);
    QFETCH(QStringList, notReached);
    m_sim.setOverride(route, reply);
    const auto out = run(model(makeRecord()));
    WAIT_FOR_END(out);
    QCOMPARE(out->failures, 1);
    const auto *netError = out->error->asAFError();
    QVERIFY(netError);
    QCOMPARE(int(netError->kind()), kind);
    if (status)
        QCOMPARE(netError->statusCode(), status);
    QVERIFY(!m_sim.requestsTo(route).isEmpty());
    for (const QString &later : notReached)
        QVERIFY2(m_sim.requestsTo(later).isEmpty(), qPrintable(later));
}

void TestSubmission::chainOutlivesItsCaller()
{
    const auto record = makeRecord();
    auto vm = model(record);
    const std::weak_ptr<OldAadhaarFlowViewModel> weak = vm;
    const auto out = run(vm);
    vm.reset();
    QVERIFY(!weak.expired());
    WAIT_FOR_END(out);
    QCOMPARE(out->record.get(), record.get());
    QCOMPARE(m_sim.requests().size(), 3);
    // Nothing holds it once the chain is over.
    QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), 5000);
}

QTEST_GUILESS_MAIN(TestSubmission)
#include "tst_document_submission.moc"
