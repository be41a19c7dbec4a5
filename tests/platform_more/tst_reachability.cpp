// Reachability: the simulation hook, change signals, stopping, the backend.

#include "platform/reachability/reachability.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace orvix::platform::reachability;
using Connection = Reachability::Connection;

class TestReachability : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        Reachability::simulateConnection(std::nullopt);
        QCoreApplication::sendPostedEvents();
    }

    void simulatedChangesReachObjectAndCenter()
    {
        Reachability::simulateConnection(Connection::wifi);
        Reachability r;
        QVERIFY(r.startNotifier());
        QCOMPARE(r.connection(), Connection::wifi);

        QSignalSpy own(&r, &Reachability::reachabilityChanged);
        QSignalSpy center(Reachability::notificationCenter(), &ReachabilityNotificationCenter::changedNotification);
        Reachability::simulateConnection(Connection::cellular);
        QCOMPARE(r.connection(), Connection::cellular);
        QTRY_COMPARE(own.count(), 1);
        QCOMPARE(own.at(0).at(0).value<Reachability *>(), &r);
        QCOMPARE(center.count(), 1);
        QCOMPARE(center.at(0).at(0).value<Reachability *>(), &r);

        // The same connection again is no change.
        Reachability::simulateConnection(Connection::cellular);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(own.count(), 1);

        Reachability::simulateConnection(Connection::unavailable);
        QTRY_COMPARE(own.count(), 2);
        QCOMPARE(r.connection(), Connection::unavailable);
    }

    void stopStopsDelivery()
    {
        Reachability::simulateConnection(Connection::wifi);
        Reachability stopped, running, idle;
        QVERIFY(stopped.startNotifier() && running.startNotifier());
        QSignalSpy stoppedSpy(&stopped, &Reachability::reachabilityChanged);
        QSignalSpy idleSpy(&idle, &Reachability::reachabilityChanged);
        QSignalSpy runningSpy(&running, &Reachability::reachabilityChanged);
        QSignalSpy center(Reachability::notificationCenter(), &ReachabilityNotificationCenter::changedNotification);

        stopped.stopNotifier();
        Reachability::simulateConnection(Connection::cellular);
        QTRY_COMPARE(runningSpy.count(), 1);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(stoppedSpy.count() + idleSpy.count(), 0);
        QCOMPARE(center.count(), 1);
        QCOMPARE(center.at(0).at(0).value<Reachability *>(), &running);
        QCOMPARE(stopped.connection(), Connection::cellular); // still answers
    }

    void signalsArriveOnMainThread()
    {
        Reachability::simulateConnection(Connection::unavailable);
        Reachability r;
        QVERIFY(r.startNotifier());
        QThread *seen = nullptr;
        connect(&r, &Reachability::reachabilityChanged, this, [&] { seen = QThread::currentThread(); });
        std::unique_ptr<QThread> worker(QThread::create([] { Reachability::simulateConnection(Connection::wifi); }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QTRY_VERIFY(seen != nullptr);
        QCOMPARE(seen, QCoreApplication::instance()->thread());
    }

    void deletedBeforeDeliveryIsSafe()
    {
        Reachability::simulateConnection(Connection::wifi);
        auto *r = new Reachability;
        QVERIFY(r->startNotifier());
        QSignalSpy center(Reachability::notificationCenter(), &ReachabilityNotificationCenter::changedNotification);
        Reachability::simulateConnection(Connection::cellular);
        delete r;
        QCoreApplication::sendPostedEvents();
        QCOMPARE(center.count(), 0);
    }

    void realBackendOrClearFailure()
    {
        // Whether a backend is usable here depends on the machine.
        Reachability r;
        QString error;
        if (r.startNotifier(&error)) {
            QVERIFY(r.isNotifierRunning());
            const Connection c = r.connection();
            QVERIFY(c == Connection::unavailable || c == Connection::wifi || c == Connection::cellular);
        } else {
            QVERIFY(!error.isEmpty());
            QVERIFY(!r.isNotifierRunning());
            QCOMPARE(r.connection(), Connection::unavailable);
        }
    }
};

QTEST_GUILESS_MAIN(TestReachability)
#include "tst_reachability.moc"
