// Public types, the entry point's state and query values of redirect URLs.

#include "receiver.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/URLQuery.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/core/internal/EntryPointAccess.h"

#include <QtTest>
#include <unordered_set>

using namespace orvix;
using orvix::internal::EntryPointAccess;

namespace {
using Receiver = ReportReceiver;
} // namespace

class TestEntryPoint : public QObject {
    Q_OBJECT
private slots:
    void configRawValues();
    void configEqualityAndHashGoByRawValue();
    void modeSelectsBaseURL();
    void creationStoresArgumentsUnvalidated();
    void delegatesCanBeReplaced();
    void queryValue_data();
    void queryValue();
};

void TestEntryPoint::configRawValues()
{
    QCOMPARE(Config(Config::digilockerFlow).rawValue(), QString("VarentInitDocFetch_13c2bd51_b67e_4be4_9c60_f982dcc2bb17"));
    QCOMPARE(Config(Config::residentUidaiAadhaarFlow).rawValue().size(), 63);
    QCOMPARE(Config(Config::myAadhaarUidaiFlow).rawValue().size(), 59);
    QCOMPARE(Config(Config::digilockerFlow).rawValue().size(), 55);
    QVERIFY(Config(Config::aadhaarApiflow).rawValue().isEmpty());

    for (Config::Value v : {Config::residentUidaiAadhaarFlow, Config::myAadhaarUidaiFlow, Config::digilockerFlow,
                            Config::aadhaarApiflow}) {
        const auto back = Config::init(Config(v).rawValue());
        QVERIFY(back.has_value());
        QCOMPARE(back->value(), v);
    }
    QCOMPARE(Config::init(QString())->value(), Config::aadhaarApiflow);
    QVERIFY(!Config::init("varentinitdocfetch_13c2bd51_b67e_4be4_9c60_f982dcc2bb17").has_value());
    QVERIFY(!Config::init("OfflineDocVerification_13c2bd51_b67e_4be4_9c60_f982dcc2b009 ").has_value());
    QVERIFY(!Config::init("digilockerFlow").has_value());
}

void TestEntryPoint::configEqualityAndHashGoByRawValue()
{
    QVERIFY(Config(Config::digilockerFlow) == *Config::init("VarentInitDocFetch_13c2bd51_b67e_4be4_9c60_f982dcc2bb17"));
    QVERIFY(Config(Config::digilockerFlow) != Config(Config::myAadhaarUidaiFlow));
    std::unordered_set<Config> set{Config::digilockerFlow, Config::digilockerFlow, Config::aadhaarApiflow};
    QCOMPARE(set.size(), size_t(2));
    QSet<Config> qset{Config::residentUidaiAadhaarFlow, Config::residentUidaiAadhaarFlow};
    QCOMPARE(qset.size(), 1);
}

void TestEntryPoint::modeSelectsBaseURL()
{
    internal::setBackendBaseURL(std::nullopt);
    QSet<QString> seen;
    for (Mode m : {Mode::sandbox, Mode::production, Mode::stage}) {
        auto ep = OrvixEntryPoint::create("m", "u", "s", "f", m, nullptr);
        const QString base = ep->urlComponent().value();
        QCOMPARE(base, backendBaseURL(m));
        QVERIFY(base.startsWith("https://"));
        QVERIFY(base.endsWith("/"));
        QVERIFY(QUrl(base, QUrl::StrictMode).isValid());
        seen.insert(base);
    }
    QCOMPARE(seen.size(), 3); // each mode has its own backend
    QVERIFY(OrvixEntryPoint::create("m", "u", "s", "f", Mode::stage, nullptr)->urlComponent()->contains("stage"));
    QVERIFY(OrvixEntryPoint::create("m", "u", "s", "f", Mode::sandbox, nullptr)->urlComponent()->contains("sandbox"));

    internal::setBackendBaseURL(QString("http://127.0.0.1:1/backend/"));
    QCOMPARE(OrvixEntryPoint::create("m", "u", "s", "f", Mode::production, nullptr)->urlComponent().value(),
             QString("http://127.0.0.1:1/backend/"));
    internal::setBackendBaseURL(std::nullopt);
}

void TestEntryPoint::creationStoresArgumentsUnvalidated()
{
    auto host = platform::ui::ViewController::wrapping(nullptr);
    auto ep = OrvixEntryPoint::create("", "", "", "", Mode::sandbox, host);
    QCOMPARE(ep->merchantId(), std::optional<QString>(QString()));
    QCOMPARE(ep->userId(), std::optional<QString>(QString()));
    QCOMPARE(ep->mode(), std::optional<Mode>(Mode::sandbox));
    QVERIFY(!ep->errorCode().has_value());
    QVERIFY(!ep->currentHealthCheck().has_value());
    QVERIFY(ep->priorityMap().has_value() && ep->priorityMap()->isEmpty());
    QVERIFY(ep->healthCheckVM());
    QCOMPARE(ep->delegate, host);
    QVERIFY(!ep->orvixEntryDelegate);

    auto full = OrvixEntryPoint::create("merchant", "user\n1", "https://ok.example/s", "https://ok.example/f",
                                        Mode::stage, host);
    const clientInfo info = full->makeClientInfo();
    QCOMPARE(info.merchantId.value(), QString("merchant"));
    QCOMPARE(info.userId.value(), QString("user\n1"));
    QCOMPARE(info.successRedirectURL.value(), QString("https://ok.example/s"));
    QCOMPARE(info.failureRedirectURL.value(), QString("https://ok.example/f"));
}

void TestEntryPoint::delegatesCanBeReplaced()
{
    auto ep = OrvixEntryPoint::create("m", "u", "s", "f", Mode::sandbox, nullptr);
    // No receiver: the report is dropped, nothing fails.
    EntryPointAccess::reportToHost(*ep, {{"status", false}});

    auto first = std::make_shared<Receiver>();
    auto second = std::make_shared<Receiver>();
    ep->orvixEntryDelegate = first;
    EntryPointAccess::reportToHost(*ep, {{"status", true}});
    ep->orvixEntryDelegate = second;
    EntryPointAccess::reportToHost(*ep, {{"status", false}});
    QCOMPARE(first->reports.size(), 1);
    QCOMPARE(first->reports[0].value("status").toBool(), true);
    QCOMPARE(second->reports.size(), 1);
    QCOMPARE(second->reports[0].value("status").toBool(), false);

    auto other = platform::ui::ViewController::wrapping(nullptr);
    ep->delegate = other;
    QCOMPARE(ep->delegate, other);

    // The entry point can be shared by what it hands out.
    QCOMPARE(ep->sharedFromThis(), ep);
}

void TestEntryPoint::queryValue_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("value");

    QTest::newRow("first of two") << "https://h.example/cb?code=one&code=two" << "code" << true << "one";
    QTest::newRow("no equals") << "https://h.example/cb?code&state=x" << "code" << false << "";
    QTest::newRow("empty value") << "https://h.example/cb?code=&state=x" << "code" << true << "";
    QTest::newRow("case differs") << "https://h.example/cb?Code=abc" << "code" << false << "";
    QTest::newRow("no query") << "https://h.example/cb" << "code" << false << "";
    QTest::newRow("no item") << "https://h.example/cb?state=x" << "code" << false << "";
    QTest::newRow("percent decoded") << "https://h.example/cb?code=a%26b%3Dc%20d" << "code" << true << "a&b=c d";
    QTest::newRow("plus kept") << "https://h.example/cb?code=a+b" << "code" << true << "a+b";
    QTest::newRow("after fragment-free path") << "https://h.example/failed?error=Bad%20OTP" << "error" << true
                                              << "Bad OTP";
}

void TestEntryPoint::queryValue()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(bool, present);
    QFETCH(QString, value);
    const auto got = orvix::queryValue(QUrl(url), name);
    QCOMPARE(got.has_value(), present);
    if (present)
        QCOMPARE(*got, value);
}

QTEST_MAIN(TestEntryPoint)
#include "tst_entrypoint.moc"
