// The device identifier for a vendor.

#include "platform/device/device.h"

#include <QSysInfo>
#include <QtTest>

using namespace orvix::platform::device;

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    void derivedFromMachineAndBundle()
    {
        const auto a = identifierForVendor(QByteArray("machine-1"), QStringLiteral("com.example.a"));
        QVERIFY(a.has_value());
        QCOMPARE(a->version(), QUuid::Sha1);
        QCOMPARE(a->variant(), QUuid::DCE);
        QCOMPARE(identifierForVendor(QByteArray("machine-1"), QStringLiteral("com.example.a")), a);
        QVERIFY(identifierForVendor(QByteArray("machine-1"), QStringLiteral("com.example.b")) != a);
        QVERIFY(identifierForVendor(QByteArray("machine-2"), QStringLiteral("com.example.a")) != a);
        QCOMPARE(identifierForVendor(QByteArray(), QStringLiteral("com.example.a")), std::nullopt);
    }


    void thisMachine()
    {
        const QString bundle = QStringLiteral("com.example.a");
        const auto id = identifierForVendor(bundle);
        QCOMPARE(id, identifierForVendor(bundle));
        QCOMPARE(id, identifierForVendor(QSysInfo::machineUniqueId(), bundle));
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
