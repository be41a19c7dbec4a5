#include "platform/web/cookiestore.h"

#include "platform/dispatch/dispatch.h"
#include "platform/web/threadcheck.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace orvix::platform::web {

namespace {

// Marker cookies live on a reserved host that no page can reach.
const QString markerHost = QStringLiteral("sync.orvix.invalid");
const QByteArray markerPrefix = "orvix-sync-";

bool isMarker(const QNetworkCookie &cookie)
{
    QString domain = cookie.domain();
    if (domain.startsWith(QLatin1Char('.')))
        domain.remove(0, 1);
    return domain == markerHost && cookie.name().startsWith(markerPrefix);
}

QNetworkCookie markerCookie(const QByteArray &name)
{
    QNetworkCookie c(name, "1");
    c.setPath(QStringLiteral("/"));
    return c;
}

QUrl markerOrigin()
{
    return QUrl(QStringLiteral("http://") + markerHost + QLatin1Char('/'));
}

struct Shared {
    QWebEngineProfile *profile = nullptr;
    HTTPCookieStore *cookies = nullptr;
};

Shared &shared()
{
    static Shared s;
    return s;
}

// The profile must go before the engine shuts down with the application
// object; post routines run first in last-registered order.
void releaseShared()
{
    Shared &s = shared();
    delete s.cookies;
    s.cookies = nullptr;
    delete s.profile;
    s.profile = nullptr;
}

} // namespace

QWebEngineProfile *sharedProfile()
{
    detail::requireMainThread("sharedProfile");
    Shared &s = shared();
    if (!s.profile) {
        // No storage name: off the record, nothing is written to disk.
        s.profile = new QWebEngineProfile();
        s.profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        s.profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        s.cookies = new HTTPCookieStore(s.profile->cookieStore());
        qAddPostRoutine(releaseShared);
    }
    return s.profile;
}

HTTPCookieStore &HTTPCookieStore::shared()
{
    detail::requireMainThread("HTTPCookieStore::shared");
    sharedProfile();
    return *web::shared().cookies;
}

HTTPCookieStore::HTTPCookieStore(QWebEngineCookieStore *store, QObject *parent) : QObject(parent), m_store(store)
{
    connect(m_store, &QWebEngineCookieStore::cookieAdded, this, &HTTPCookieStore::added);
    connect(m_store, &QWebEngineCookieStore::cookieRemoved, this, &HTTPCookieStore::removed);
    m_store->loadAllCookies();
}

void HTTPCookieStore::added(const QNetworkCookie &cookie)
{
    if (isMarker(cookie)) {
        finishSync(cookie.name());
        return;
    }
    m_cookies.removeIf([&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
    m_cookies.append(cookie);
}

void HTTPCookieStore::removed(const QNetworkCookie &cookie)
{
    if (isMarker(cookie))
        return;
    m_cookies.removeIf([&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
}

void HTTPCookieStore::afterPendingChanges(std::function<void()> then)
{
    // Changes reach us in the order the engine made them, so once the marker
    // set now comes back, every earlier change has been mirrored.
    const QByteArray name = markerPrefix + QByteArray::number(++m_nextMarker);
    m_syncs.emplace(name, std::move(then));
    m_store->setCookie(markerCookie(name), markerOrigin());
    QTimer::singleShot(syncBoundMs, this, [this, name] { finishSync(name); });
}

void HTTPCookieStore::finishSync(const QByteArray &marker)
{
    auto it = m_syncs.find(marker);
    if (it == m_syncs.end())
        return;
    std::function<void()> then = std::move(it->second);
    m_syncs.erase(it);
    QNetworkCookie c = markerCookie(marker);
    c.setDomain(markerHost);
    m_store->deleteCookie(c, markerOrigin());
    if (then)
        then();
}

void HTTPCookieStore::allCookies(std::function<void(const QList<QNetworkCookie> &)> completion)
{
    detail::requireMainThread("HTTPCookieStore::allCookies");
    afterPendingChanges([this, completion = std::move(completion)] {
        if (completion)
            dispatch::asyncMain([completion, cookies = m_cookies] { completion(cookies); });
    });
}

namespace {

std::function<void()> later(std::function<void()> completion)
{
    return [completion = std::move(completion)] {
        if (completion)
            dispatch::asyncMain(completion);
    };
}

} // namespace

void HTTPCookieStore::setCookie(const QNetworkCookie &cookie, const QUrl &origin, std::function<void()> completion)
{
    detail::requireMainThread("HTTPCookieStore::setCookie");
    m_store->setCookie(cookie, origin);
    afterPendingChanges(later(std::move(completion)));
}

void HTTPCookieStore::deleteCookie(const QNetworkCookie &cookie, const QUrl &origin, std::function<void()> completion)
{
    detail::requireMainThread("HTTPCookieStore::deleteCookie");
    m_store->deleteCookie(cookie, origin);
    afterPendingChanges(later(std::move(completion)));
}

void HTTPCookieStore::deleteAllCookies(std::function<void()> completion)
{
    detail::requireMainThread("HTTPCookieStore::deleteAllCookies");
    m_store->deleteAllCookies();
    afterPendingChanges(later(std::move(completion)));
}

} // namespace orvix::platform::web
