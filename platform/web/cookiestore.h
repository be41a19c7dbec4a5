#pragma once
// The kit's one off-the-record web profile and its cookie store.
//
// The engine only announces cookie changes, so the store keeps a mirror of
// them from the moment the profile is created. Before answering it waits
// until the engine has delivered every change made so far: it sets a marker
// cookie on a reserved host and answers when that cookie comes back.
//
// Main thread only. Completions always run later on the main thread, never
// inside the call.

#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QUrl>
#include <functional>
#include <map>

class QWebEngineCookieStore;
class QWebEngineProfile;

namespace orvix::platform::web {

// Created on first use; lives until the application object is destroyed.
QWebEngineProfile *sharedProfile();

class HTTPCookieStore : public QObject {
    Q_OBJECT
public:
    static HTTPCookieStore &shared();

    // Every cookie of the profile.
    void allCookies(std::function<void(const QList<QNetworkCookie> &)> completion);

    // origin: the page the cookie belongs to; when empty the engine derives
    // it from the cookie's domain. The completion runs once the engine has
    // applied (or refused) the change.
    void setCookie(const QNetworkCookie &cookie, const QUrl &origin = {}, std::function<void()> completion = {});
    void deleteCookie(const QNetworkCookie &cookie, const QUrl &origin = {}, std::function<void()> completion = {});
    void deleteAllCookies(std::function<void()> completion = {});

    // Longest wait for the engine before answering from the mirror as it is.
    static constexpr int syncBoundMs = 3000;

private:
    explicit HTTPCookieStore(QWebEngineCookieStore *store, QObject *parent = nullptr);
    friend QWebEngineProfile *sharedProfile();

    void added(const QNetworkCookie &cookie);
    void removed(const QNetworkCookie &cookie);
    // Runs `then` once all earlier changes have arrived (or the bound passed).
    void afterPendingChanges(std::function<void()> then);
    void finishSync(const QByteArray &marker);

    QWebEngineCookieStore *m_store;
    QList<QNetworkCookie> m_cookies;
    std::map<QByteArray, std::function<void()>> m_syncs; // marker name -> continuation
    quint64 m_nextMarker = 0;
};

} // namespace orvix::platform::web
