// Choosing a flow: the priority map, the sequential health checks against the
// simulator's backend, and what the host hears when no screen can be shown.

#include "logcapture.h"

#include "receiver.h"

#include "orvix_ios_native_sdk/core/FlowScreen.h"
#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/core/internal/EntryPointAccess.h"
#include "platform/files/tempdir.h"
#include "platform/net/session.h"
#include "simulator/Simulator.h"

#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace orvix;
using orvix::internal::EntryPointAccess;
using orvix::sim::Backend;
using orvix::sim::Override;

namespace {

using Receiver = ReportReceiver;

QString message(const QVariantMap &report)
{
    return report.value("error").toMap().value("message").toString();
}

const QString resident = Config(Config::residentUidaiAadhaarFlow).rawValue();
const QString webApi = Config(Config::myAadhaarUidaiFlow).rawValue();
const QString digilocker = Config(Config::digilockerFlow).rawValue();

} // namespace

class TestFlowSelection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    // First: the sweep of left-over private folders runs once per process.
    void registrationRules();
    void checksRunOneAfterAnother();
    void firstAvailableAfterUnavailableIsChosen();
    void missingOrNonBooleanAvailabilityCountsAsUnavailable();
    void allUnavailableReportsEndpointsDown();
    void refusedCheckStopsTheRun();
    void unusableOrFailedChecksAreReported();
    void blankUserIdIsRefused();
    void apiFlowEndsSilently();
    void nextPriorityKey();

private:
    std::shared_ptr<OrvixEntryPoint> makeEntryPoint(const QString &userId = "user-1");
    // Waits until the run has no request in flight and nothing more to do.
    void settle();

    sim::Simulator m_sim;
    std::shared_ptr<Receiver> m_receiver;
};

void TestFlowSelection::initTestCase()
{
    QVERIFY(m_sim.start());
    internal::setBackendBaseURL(m_sim.backendBaseUrl());
}

void TestFlowSelection::init()
{
    m_sim.reset();
    m_receiver = std::make_shared<Receiver>();
}

std::shared_ptr<OrvixEntryPoint> TestFlowSelection::makeEntryPoint(const QString &userId)
{
    auto ep = OrvixEntryPoint::create(Backend::defaultCredential, userId, "https://host.example/ok",
                                      "https://host.example/fail", Mode::sandbox, nullptr);
    ep->orvixEntryDelegate = m_receiver;
    return ep;
}

void TestFlowSelection::settle()
{
    QTRY_COMPARE_WITH_TIMEOUT(platform::net::Session::shared().requestsInFlight(), 0, 15000);
    QCoreApplication::processEvents();
}

void TestFlowSelection::checksRunOneAfterAnother()
{
    LogCapture log;
    auto ep = makeEntryPoint();
    ep->addConfig({Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    // Positions are counted from 1.
    QCOMPARE(ep->priorityMap()->keys(), (QList<QString>{"priorityCall_1", "priorityCall_2"}));
    // The first reply is slow: the second check must still wait for it.
    m_sim.setOneShot(Backend::path("v1/resource/" + webApi + "/state"), Override::slow(300));
    bool secondAfterFirstReply = false;
    connect(&m_sim, &sim::Simulator::requestReceived, this, [&](const sim::Request &r) {
        if (r.path.contains(resident))
            secondAfterFirstReply = log.contains("<----- Updated HEALTH STATHS ---->");
    });
    ep->beginKYCFLow();
    QTRY_VERIFY(log.contains("<--- myAadhaarUidaiFlow -->"));
    settle();
    disconnect(&m_sim, nullptr, this, nullptr);

    const QList<sim::Request> seen = m_sim.requestsTo(Backend::resourceStateRoute);
    QCOMPARE(seen.size(), 2);
    QVERIFY(seen[0].path.contains(webApi));
    QVERIFY(seen[1].path.contains(resident));
    QVERIFY(secondAfterFirstReply);
    QCOMPARE(seen[0].header("X-Kalmar-Auth-Credential-ID"), Backend::defaultCredential.toUtf8());
    QCOMPARE(ep->currentHealthCheck().value(), QString("priorityCall_2"));
    QVERIFY(ep->priorityMap()->value("priorityCall_1").healthStatus.value());
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestFlowSelection::firstAvailableAfterUnavailableIsChosen()
{
    LogCapture log;
    m_sim.backend().setAvailable(resident, false);
    auto ep = makeEntryPoint();
    ep->addConfig({Config::residentUidaiAadhaarFlow, Config::digilockerFlow});
    ep->beginKYCFLow();
    QTRY_VERIFY(log.contains("<--- digilockerFlow -->"));
    settle();
    QVERIFY(log.lines().contains("nextCall---> priorityCall_2"));
    QCOMPARE(m_sim.requestsTo(Backend::resourceStateRoute).size(), 2);
    QVERIFY(!ep->priorityMap()->value("priorityCall_1").healthStatus.value());
    QVERIFY(ep->priorityMap()->value("priorityCall_2").healthStatus.value());
}

void TestFlowSelection::missingOrNonBooleanAvailabilityCountsAsUnavailable()
{
    for (auto field : {Backend::AvailabilityField::missing, Backend::AvailabilityField::notBoolean}) {
        m_sim.backend().setAvailabilityField(field);
        m_receiver->reports.clear();
        auto ep = makeEntryPoint();
        ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
        ep->beginKYCFLow();
        QTRY_COMPARE(m_receiver->reports.size(), 1);
        QCOMPARE(message(m_receiver->reports[0]), QString("ENDPOINTS_DOWN"));
        QCOMPARE(ep->priorityMap()->value("priorityCall_1").healthStatus, std::optional<bool>(false));
    }
}

void TestFlowSelection::allUnavailableReportsEndpointsDown()
{
    LogCapture log;
    m_sim.backend().setDefaultAvailable(false);
    auto ep = makeEntryPoint();
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    ep->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    settle();
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(m_receiver->reports[0].value("status").toBool(), false);
    QCOMPARE(message(m_receiver->reports[0]), QString("ENDPOINTS_DOWN"));
    QCOMPARE(m_sim.requestsTo(Backend::resourceStateRoute).size(), 3);
    QVERIFY(log.lines().contains("nextCall---> END"));
}

void TestFlowSelection::refusedCheckStopsTheRun()
{
    LogCapture log;
    m_sim.setOverride(Backend::path("v1/resource/" + webApi + "/state"), Override::errorCode(401, "UNAUTHORIZED"));
    auto ep = makeEntryPoint();
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    ep->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    settle();
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(message(m_receiver->reports[0]), QString("Unauthorized access!"));
    QCOMPARE(m_sim.requestsTo(Backend::resourceStateRoute).size(), 2); // the third is never asked
    QVERIFY(log.lines().contains("ERROR: SOMETHING WENT WRONG"));
    QVERIFY(!log.contains("<--- digilockerFlow -->")); // even though the first was available

    // A transport failure of a later check ends the run the same way.
    m_sim.clearOverrides();
    m_sim.clearRecords();
    m_receiver->reports.clear();
    m_sim.setOverride(Backend::path("v1/resource/" + webApi + "/state"), Override::dropConnection());
    auto dropped = makeEntryPoint();
    dropped->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    dropped->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    settle();
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(message(m_receiver->reports[0]), QString("You are offline! please check your internet connection."));
    QCOMPARE(m_sim.requestsTo(Backend::resourceStateRoute).size(), 3); // the second sent twice, the third never
    QVERIFY(!log.contains("<--- digilockerFlow -->"));

    // An unknown credential is refused by the backend the same way.
    m_sim.clearOverrides();
    m_receiver->reports.clear();
    auto stranger = OrvixEntryPoint::create("someone-else", "u", "s", "f", Mode::sandbox, nullptr);
    stranger->orvixEntryDelegate = m_receiver;
    stranger->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
    stranger->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(message(m_receiver->reports[0]), QString("Unauthorized access!"));

    // A refusal without an error code still says " access!".
    m_receiver->reports.clear();
    m_sim.setOverride(Backend::resourceStateRoute, Override::errorBody(500, QJsonObject{{"oops", true}}));
    auto ep2 = makeEntryPoint();
    ep2->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
    ep2->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(message(m_receiver->reports[0]), QString(" access!"));
}

void TestFlowSelection::unusableOrFailedChecksAreReported()
{
    struct Case {
        const char *name;
        Override override;
        QString expected; // a prefix of the message
    };
    const QList<Case> cases{
        {"array is no dictionary", Override::jsonArray(200), QStringLiteral(" access!")},
        {"page that is not JSON", Override::htmlPage(200), QStringLiteral("The reply could not be read as JSON")},
        {"dropped connection", Override::dropConnection(),
         QStringLiteral("You are offline! please check your internet connection.")},
    };
    for (const Case &c : cases) {
        m_sim.setOverride(Backend::resourceStateRoute, c.override);
        m_receiver->reports.clear();
        auto ep = makeEntryPoint();
        ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
        ep->beginKYCFLow();
        QTRY_COMPARE(m_receiver->reports.size(), 1);
        settle();
        QVERIFY2(m_receiver->reports.size() == 1, c.name);
        QVERIFY2(message(m_receiver->reports[0]).startsWith(c.expected), qPrintable(message(m_receiver->reports[0])));
        QCOMPARE(m_receiver->reports[0].value("status").toBool(), false);
    }
}

void TestFlowSelection::registrationRules()
{
    // The first run of the process, even one refused at once, removes the
    // private folder a process that ended left behind, and makes none itself.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    const QString left = tmp.filePath("orvix-Ended1");
    QVERIFY(QDir().mkdir(left) && QFile::setPermissions(left, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                 | QFileDevice::ExeOwner));
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    QVERIFY(::waitpid(ended, nullptr, 0) == ended);
    QFile marker(left + '/' + platform::files::ownerMarkerName);
    QVERIFY(marker.open(QIODevice::WriteOnly) && marker.write(platform::files::ownerMarkerText(ended)) > 0);
    marker.close();

    // Never registered: the empty message.
    auto none = makeEntryPoint();
    none->beginKYCFLow();
    tmpdir.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmpdir);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(m_receiver->reports.size(), 1);
    QCOMPARE(message(m_receiver->reports[0]), QString());
    QVERIFY(m_receiver->reports[0].contains("error"));

    // One flow: refused when registered, reported when started.
    LogCapture log;
    auto one = makeEntryPoint();
    one->addConfig({Config::digilockerFlow});
    QVERIFY(log.lines().contains("ERROR: MUST NEED ATLEAST TWO"));
    QVERIFY(one->priorityMap()->isEmpty());
    one->beginKYCFLow();
    QCOMPARE(m_receiver->reports.size(), 2);
    QCOMPARE(message(m_receiver->reports[1]), QString("ERROR: MUST NEED ATLEAST TWO PRIORITY List"));
    QCOMPARE(m_sim.requests().size(), 0);

    // Three, then two: the third of the first call stays and is checked too.
    m_sim.backend().setDefaultAvailable(false);
    auto ep = makeEntryPoint();
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    ep->addConfig({Config::myAadhaarUidaiFlow, Config::digilockerFlow});
    QCOMPARE(ep->priorityMap()->size(), 3);
    QCOMPARE(ep->priorityMap()->value("priorityCall_1").config->value(), Config::myAadhaarUidaiFlow);
    QCOMPARE(ep->priorityMap()->value("priorityCall_3").config->value(), Config::residentUidaiAadhaarFlow);
    ep->beginKYCFLow();
    QTRY_COMPARE(m_receiver->reports.size(), 3);
    const QList<sim::Request> seen = m_sim.requestsTo(Backend::resourceStateRoute);
    QCOMPARE(seen.size(), 3);
    QVERIFY(seen[0].path.contains(webApi));
    QVERIFY(seen[1].path.contains(digilocker));
    QVERIFY(seen[2].path.contains(resident));
    // A refused registration later does not undo the map.
    ep->addConfig({});
    QCOMPARE(ep->priorityMap()->size(), 3);
    QCOMPARE(ep->errorCode().value(), QString("ERROR: MUST NEED ATLEAST TWO PRIORITY List"));
}

void TestFlowSelection::blankUserIdIsRefused()
{
    for (const QString &blank : {QString(""), QString(" \t  "), QString("\t")}) {
        m_receiver->reports.clear();
        auto ep = makeEntryPoint(blank);
        ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
        ep->beginKYCFLow();
        QCOMPARE(m_receiver->reports.size(), 1);
        QCOMPARE(message(m_receiver->reports[0]), QString("Please enter a valid userId"));
    }
    QCOMPARE(m_sim.requests().size(), 0);

    // Line breaks are not blanks.
    m_receiver->reports.clear();
    LogCapture log;
    auto ep = makeEntryPoint("\n");
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow});
    ep->beginKYCFLow();
    QTRY_VERIFY(log.contains("<--- digilockerFlow -->"));
    QVERIFY(m_receiver->reports.isEmpty());
}

void TestFlowSelection::apiFlowEndsSilently()
{
    LogCapture log;
    auto ep = makeEntryPoint();
    ep->addConfig({Config::aadhaarApiflow, Config::digilockerFlow});
    ep->beginKYCFLow();
    QTRY_VERIFY(log.lines().contains("<--- NONE -->"));
    settle();
    QVERIFY(m_receiver->reports.isEmpty());
    // Its resource id is empty: two slashes in a row.
    QCOMPARE(m_sim.requestsTo(Backend::resourceStateRoute).at(0).path, Backend::path("v1/resource//state"));
    QVERIFY(!log.contains("<--- digilockerFlow -->"));
}

// A host reaches none of the run's steps, nor the report.
template <typename T>
concept hostReachesSteps = requires(T &ep, const QString &key) {
    ep.reportToHost(QVariantMap());
} || requires(T &ep, const QString &key) { ep.nextPriorityKey(key); }
  || requires(T &ep, const QString &key) { ep.runHealthCheck(key); }
  || requires(T &ep, const QString &key) { ep.proceedAfterHealthCheck(key); }
  || requires(T &ep, const QString &key) { ep.updateHealthStatus(true, key); }
  || requires(T &ep) { ep.launchFlow(std::nullopt); }
  || requires(T &ep, const QString &key) { ep.handleHealthCheckResponse(QVariant(), key); }
  || requires(T &ep) { ep.handleHealthCheckFailure(std::declval<Error>()); };
static_assert(!hostReachesSteps<OrvixEntryPoint>);
template <typename T>
concept hostReachesScreenReport = requires(T &screen) { screen.reportToHost(QVariantMap()); };
static_assert(!hostReachesScreenReport<FlowScreen>);

void TestFlowSelection::nextPriorityKey()
{
    auto ep = makeEntryPoint();
    const auto next = [&](const QString &key) { return EntryPointAccess::nextPriorityKey(*ep, key); };
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow});
    QCOMPARE(next("priorityCall_3"), QString("END"));
    QCOMPARE(next("priorityCall_2"), QString("priorityCall_3"));
    QCOMPARE(next("garbage"), QString("priorityCall_2"));
    QCOMPARE(next(""), QString("priorityCall_2"));
    // Past the largest number: no overflow into a small or negative key.
    QCOMPARE(next("priorityCall_9223372036854775807"), QString("END"));
    QCOMPARE(next("priorityCall_99999999999999999999"), QString("END"));
    ep->addConfig({Config::digilockerFlow, Config::myAadhaarUidaiFlow, Config::residentUidaiAadhaarFlow,
                   Config::digilockerFlow});
    QCOMPARE(next("priorityCall_3"), QString("priorityCall_4"));
}

QTEST_MAIN(TestFlowSelection)
#include "tst_flowselection.moc"
