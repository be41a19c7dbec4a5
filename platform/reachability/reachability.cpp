#include "platform/reachability/reachability.h"

#include <QCoreApplication>
#include <QMutex>
#include <QPointer>
#include <QSet>

#include <atomic>

namespace orvix::platform::reachability {
namespace {

using Info = QNetworkInformation;

// The simulated connection, or -1 for none.
std::atomic<int> simulated{-1};

QMutex &registryMutex()
{
    static QMutex m;
    return m;
}

QSet<Reachability *> &registry()
{
    static QSet<Reachability *> all;
    return all;
}

std::optional<Reachability::Connection> simulatedConnection()
{
    const int value = simulated.load();
    if (value < 0)
        return std::nullopt;
    return Reachability::Connection(value);
}

} // namespace

ReachabilityNotificationCenter *ReachabilityNotificationCenter::instance()
{
    static ReachabilityNotificationCenter center;
    static const bool placed = [] {
        if (auto *app = QCoreApplication::instance())
            center.moveToThread(app->thread());
        return true;
    }();
    Q_UNUSED(placed);
    return &center;
}

Reachability::Reachability(QObject *parent) : QObject(parent)
{
    QMutexLocker lock(&registryMutex());
    registry().insert(this);
}

Reachability::~Reachability()
{
    stopNotifier();
    QMutexLocker lock(&registryMutex());
    registry().remove(this);
}

Reachability::Connection Reachability::map(Info::Reachability reachability, Info::TransportMedium medium)
{
    switch (reachability) {
    case Info::Reachability::Online:
    case Info::Reachability::Site:
        return medium == Info::TransportMedium::Cellular ? Connection::cellular : Connection::wifi;
    case Info::Reachability::Unknown:
    case Info::Reachability::Disconnected:
    case Info::Reachability::Local:
        break;
    }
    return Connection::unavailable;
}

QString Reachability::description(Connection connection)
{
    switch (connection) {
    case Connection::wifi:
        return QStringLiteral("WiFi");
    case Connection::cellular:
        return QStringLiteral("Cellular");
    case Connection::unavailable:
        break;
    }
    return QStringLiteral("No Connection");
}

Reachability::Connection Reachability::connection() const
{
    if (const auto c = simulatedConnection())
        return *c;
    const Info *info = Info::instance();
    if (!info || !info->supports(Info::Feature::Reachability))
        return Connection::unavailable;
    return map(info->reachability(), info->transportMedium());
}

void Reachability::attachBackend()
{
    if (m_attached)
        return;
    const auto usable = [] { return Info::instance() && Info::instance()->supports(Info::Feature::Reachability); };
    if (!usable())
        Info::loadDefaultBackend();
    if (!usable())
        Info::loadBackendByFeatures(Info::Feature::Reachability);
    if (!usable())
        return;
    Info *info = Info::instance();
    // Delivered on this object's thread whatever thread the backend reports on.
    connect(info, &Info::reachabilityChanged, this, &Reachability::refresh);
    connect(info, &Info::transportMediumChanged, this, &Reachability::refresh);
    m_attached = true;
}

bool Reachability::startNotifier(QString *error)
{
    if (m_running)
        return true;
    if (!QCoreApplication::instance()) {
        if (error)
            *error = QStringLiteral("Reachability needs a running application");
        return false;
    }
    if (!simulatedConnection()) {
        attachBackend();
        if (!m_attached) {
            if (error) {
                const QStringList names = Info::availableBackends();
                *error = QStringLiteral("No network information backend reports reachability (available: %1)")
                             .arg(names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", ")));
            }
            return false;
        }
    }
    m_running = true;
    m_last = connection();
    return true;
}

void Reachability::stopNotifier()
{
    if (m_attached) {
        if (Info *info = Info::instance())
            disconnect(info, nullptr, this, nullptr);
        m_attached = false;
    }
    m_running = false;
}

void Reachability::refresh()
{
    if (!m_running)
        return;
    const Connection now = connection();
    if (now == m_last)
        return;
    m_last = now;
    QPointer<Reachability> self(this);
    emit reachabilityChanged(this);
    if (self)
        emit notificationCenter()->changedNotification(this);
}

void Reachability::simulateConnection(std::optional<Connection> c)
{
    simulated.store(c ? int(*c) : -1);
    QMutexLocker lock(&registryMutex());
    for (Reachability *r : std::as_const(registry())) {
        QMetaObject::invokeMethod(
            r,
            [r] {
                if (!r->m_running)
                    return;
                // Back to the real backend: a notifier started under simulation
                // has none yet.
                if (!simulatedConnection())
                    r->attachBackend();
                r->refresh();
            },
            Qt::QueuedConnection);
    }
}

} // namespace orvix::platform::reachability
