#pragma once
// Network reachability on QNetworkInformation.
//
// How the backend's view maps to a connection:
//   Online or Site, over Cellular                  -> cellular
//   Online or Site, over anything else (WiFi,
//     Ethernet, Bluetooth, unknown medium)         -> wifi
//   Disconnected, Local (link only), Unknown       -> unavailable
// Site counts as reachable: there is a route beyond the local link, which is
// what a reachable flag means on a phone too (a proxy or captive portal may
// still be in the way). Unknown is not reachable: nothing says it is.

#include <QNetworkInformation>
#include <QObject>
#include <QString>

#include <optional>

namespace orvix::platform::reachability {

class Reachability;

// Process-wide: reachabilityChanged of every running notifier, for observers
// that hold no Reachability. Lives on the main thread.
class ReachabilityNotificationCenter : public QObject {
    Q_OBJECT
public:
    static ReachabilityNotificationCenter *instance();

signals:
    void changedNotification(orvix::platform::reachability::Reachability *reachability);

private:
    ReachabilityNotificationCenter() = default;
};

// Create and use it on the main thread; its signals are emitted there.
class Reachability : public QObject {
    Q_OBJECT
public:
    enum class Connection { unavailable, wifi, cellular };
    Q_ENUM(Connection)

    explicit Reachability(QObject *parent = nullptr);
    ~Reachability() override;

    // Starts watching. Fails (with a text in `error`) when no backend that
    // reports reachability can be loaded, unless a connection is simulated.
    bool startNotifier(QString *error = nullptr);
    void stopNotifier();
    bool isNotifierRunning() const { return m_running; }

    // The current connection, whether or not the notifier runs.
    Connection connection() const;

    // "WiFi", "Cellular", "No Connection".
    static QString description(Connection connection);

    // The process-wide notification (see ReachabilityNotificationCenter).
    static ReachabilityNotificationCenter *notificationCenter() { return ReachabilityNotificationCenter::instance(); }

    // Test hook: every Reachability reports `c`, startNotifier succeeds without
    // a backend, and running notifiers whose connection changes emit (queued).
    // nullopt goes back to the real backend.
    static void simulateConnection(std::optional<Connection> c);

    // The mapping above.
    static Connection map(QNetworkInformation::Reachability reachability,
                          QNetworkInformation::TransportMedium medium);

signals:
    void reachabilityChanged(orvix::platform::reachability::Reachability *reachability);

private:
    void attachBackend();
    void refresh();

    bool m_running = false;
    bool m_attached = false;
    Connection m_last = Connection::unavailable;
};

} // namespace orvix::platform::reachability
