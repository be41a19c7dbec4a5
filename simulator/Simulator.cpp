#include "simulator/Simulator.h"

#include "simulator/HttpServer.h"

#include <QHostAddress>

namespace orvix::sim {

Simulator::Simulator(QObject *parent)
    : QObject(parent),
      m_server(std::make_unique<HttpServer>([this](Request &r) { return dispatch(r); })),
      m_backend(std::make_unique<Backend>()),
      m_digiLocker(std::make_unique<DigiLocker>(*m_backend)),
      m_authority(std::make_unique<Authority>()),
      m_residentPortal(std::make_unique<ResidentPortal>())
{
    qRegisterMetaType<orvix::sim::Request>();
    addRoutes(m_backend->routes());
    addRoutes(m_digiLocker->routes());
    addRoutes(m_authority->routes());
    addRoutes(m_residentPortal->routes());
}

Simulator::~Simulator() = default;

bool Simulator::start(quint16 port)
{
    if (isListening())
        return false;
    m_port = m_server->listen(QHostAddress::LocalHost, port);
    return isListening();
}

QUrl Simulator::baseUrl() const
{
    if (!isListening())
        return {};
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

QString Simulator::backendBaseUrl() const
{
    if (!isListening())
        return {};
    return baseUrl().resolved(QUrl(Backend::prefix)).toString();
}

QString Simulator::hostSuccessUrl() const
{
    return isListening() ? baseUrl().resolved(QUrl(DigiLocker::hostSuccessPath)).toString() : QString();
}

QString Simulator::hostFailureUrl() const
{
    return isListening() ? baseUrl().resolved(QUrl(DigiLocker::hostFailurePath)).toString() : QString();
}

QString Simulator::authorityApiBaseUrl() const
{
    return isListening() ? baseUrl().resolved(QUrl(Authority::apiPrefix)).toString() : QString();
}

QString Simulator::authorityPortalUrl() const
{
    return isListening() ? baseUrl().resolved(QUrl(Authority::portalPrefix)).toString() : QString();
}

QString Simulator::residentPortalUrl() const
{
    return isListening() ? baseUrl().resolved(QUrl(ResidentPortal::prefix)).toString() : QString();
}

void Simulator::setRequestLog(std::function<void(const QString &line)> log)
{
    m_server->setRequestLog(std::move(log));
}

void Simulator::addRoute(Route route)
{
    m_routes.append(std::move(route));
}

void Simulator::addRoutes(const QList<Route> &routes)
{
    m_routes.append(routes);
}

void Simulator::setOverride(const QString &key, const Override &override)
{
    if (override.remaining == 0)
        m_overrides.remove(key);
    else
        m_overrides.insert(key, override);
}

void Simulator::failNext(const QString &key, int n, const Override &failure)
{
    setOverride(key, failure.times(n));
}

std::optional<Override> Simulator::overrideFor(const QString &key) const
{
    const auto it = m_overrides.constFind(key);
    return it == m_overrides.cend() ? std::nullopt : std::optional<Override>(*it);
}

void Simulator::clearOverride(const QString &key)
{
    m_overrides.remove(key);
}

void Simulator::clearOverrides()
{
    m_overrides.clear();
}

QList<Request> Simulator::requestsTo(const QString &key) const
{
    QList<Request> out;
    for (const Request &r : m_records) {
        if (r.path == key || (!r.route.isEmpty() && r.route == key))
            out.append(r);
    }
    return out;
}

void Simulator::reset()
{
    m_overrides.clear();
    m_records.clear();
    m_backend->reset();
    m_digiLocker->reset();
    m_authority->reset();
    m_residentPortal->reset();
}

std::optional<Override> Simulator::takeOverride(const Request &request)
{
    for (const QString &key : {request.route, request.path}) {
        const auto it = m_overrides.find(key);
        if (key.isEmpty() || it == m_overrides.end())
            continue;
        const Override found = *it;
        if (it->remaining > 0 && --it->remaining == 0)
            m_overrides.erase(it);
        return found;
    }
    return std::nullopt;
}

Reply Simulator::dispatch(Request &request)
{
    request.serverUrl = baseUrl();
    const Route *route = nullptr;
    QByteArrayList allowed;
    for (const Route &candidate : std::as_const(m_routes)) {
        const QRegularExpressionMatch match = candidate.path.match(request.path);
        if (!match.hasMatch())
            continue;
        const bool methodMatches = candidate.method.isEmpty() || candidate.method == request.method
            || (candidate.method == "GET" && request.method == "HEAD");
        if (!methodMatches) {
            allowed.append(candidate.method);
            continue;
        }
        route = &candidate;
        request.route = candidate.name;
        request.captures = match.capturedTexts().mid(1);
        break;
    }
    m_records.append(request);
    emit requestReceived(request);

    const std::optional<Override> override = takeOverride(request);
    if (override && override->kind == Override::Kind::replace)
        return override->reply;
    if (override && override->kind == Override::Kind::drop)
        return Reply{.behaviour = Reply::Behaviour::drop};

    Reply reply;
    if (route) {
        reply = route->handler(request);
    } else if (!allowed.isEmpty()) {
        reply = Reply::errorCode(405, QStringLiteral("METHOD_NOT_ALLOWED"));
        reply.headers.append({"Allow", allowed.join(", ")});
    } else {
        reply = Reply::errorCode(404, QStringLiteral("NOT_FOUND"), QStringLiteral("no route for ") + request.path);
    }
    if (override && override->kind == Override::Kind::slow) {
        reply.behaviour = Reply::Behaviour::slow;
        reply.delayMs = override->delayMs;
    }
    return reply;
}

} // namespace orvix::sim
