#pragma once
// The kit's web view: a widget around the web engine, on the shared
// off-the-record profile (see cookiestore.h).
//
// Main thread only: every public member checks it and stops the program when
// called from another thread.
//
// Navigation callbacks and URL observations are delivered from the event
// loop, never from inside an engine signal, so a receiver may delete the web
// view while handling one. Nothing is delivered after the web view is gone.
//
// The engine reports one loading run per navigation the user or page starts;
// a load() made while another is still running continues that run (one
// start, then one finish or failure for the newest page).

#include "platform/web/cookiestore.h"
#include "platform/web/weberror.h"

#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace orvix::platform::web {

class WebView;
class WebPage;

enum class CachePolicy {
    useProtocolCachePolicy,
    // Fetch from the server, not from the cache (sent as no-cache).
    reloadIgnoringLocalCacheData,
    // The two below load like useProtocolCachePolicy: the engine has no
    // per-load switch for them.
    returnCacheDataElseLoad,
    returnCacheDataDontLoad,
};

struct URLRequest {
    QUrl url;
    CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
    int timeoutSeconds = 60; // whole load, from load() to finish; <= 0: none
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    virtual void didStartProvisionalNavigation(WebView *webView) { Q_UNUSED(webView) }
    // The page and everything it needs has loaded. A reply with an HTTP
    // error status (404, 500...) that the server answered is a finished
    // page too, as on the mobile platform.
    virtual void didFinish(WebView *webView) { Q_UNUSED(webView) }
    // The page could not be loaded: no server, no connection, time-out,
    // stopped, refused scheme... The URL then shows the failed address.
    virtual void didFailProvisionalNavigation(WebView *webView, const WebError &error)
    {
        Q_UNUSED(webView) Q_UNUSED(error)
    }
};

// Ends an observation when invalidated or destroyed. May be invalidated or
// destroyed on any thread, also after the web view is gone.
class Observation {
public:
    struct State;
    Observation() = default;
    explicit Observation(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    Observation(Observation &&) noexcept = default;
    Observation &operator=(Observation &&other) noexcept;
    Observation(const Observation &) = delete;
    Observation &operator=(const Observation &) = delete;
    ~Observation() { invalidate(); }

    void invalidate();
    // False once invalidated or once the web view is gone.
    bool isValid() const;

private:
    std::shared_ptr<State> m_state;
};

class WebView : public QWidget {
    Q_OBJECT
public:
    explicit WebView(QWidget *parent = nullptr);
    ~WebView() override;

    void load(const URLRequest &request);
    // Loads the current page again, with the last request's time-out.
    void reload();
    void stopLoading();
    bool isLoading() const;

    // The address shown: the page loaded, or being loaded, or that failed.
    std::optional<QUrl> url() const;
    QString title() const;

    bool canGoBack() const;
    bool canGoForward() const;
    void goBack();
    void goForward();

    // Held weakly: a delegate that is gone is simply not called.
    void setNavigationDelegate(std::weak_ptr<NavigationDelegate> delegate);
    // For a QObject delegate: held while `owner` lives.
    void setNavigationDelegate(QObject *owner, NavigationDelegate *delegate);
    template <class D>
        requires std::derived_from<D, QObject> && std::derived_from<D, NavigationDelegate>
    void setNavigationDelegate(D *delegate)
    {
        setNavigationDelegate(static_cast<QObject *>(delegate), static_cast<NavigationDelegate *>(delegate));
    }
    // The live delegate, or nullptr.
    NavigationDelegate *navigationDelegate() const;

    // The handler receives the URL's new value each time it changes (no
    // value when the page has none), until the observation ends or the web
    // view is destroyed.
    using URLObserver = std::function<void(const std::optional<QUrl> &url)>;
    [[nodiscard]] Observation observeURL(URLObserver handler);

    // Off by default. On: the mouse's back and forward buttons and
    // Alt+Left / Alt+Right move through the history. Off: they do nothing.
    void setAllowsBackForwardNavigationGestures(bool allows);
    bool allowsBackForwardNavigationGestures() const { return m_allowsGestures; }

    // Runs the script in the page's main world, as a top-level script: the
    // result is the value of its last expression (strings, numbers, booleans,
    // lists and maps; null and undefined give an invalid QVariant). A thrown
    // error or a syntax error arrives as javaScriptExceptionOccurred with the
    // error's "Name: message" as detail. The completion always runs later on
    // the main thread, exactly once; when the web view is destroyed first it
    // runs with webViewInvalidated.
    using JavaScriptCompletion = std::function<void(const QVariant &result, const std::optional<WebError> &error)>;
    void evaluateJavaScript(const QString &script, JavaScriptCompletion completion = {});

    // The cookie store shared by all web views.
    static HTTPCookieStore &cookieStore() { return HTTPCookieStore::shared(); }

    // The engine's view inside, for tests and focus handling.
    QWebEngineView *engineView() const { return m_view; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Pending;
    void loadingChanged(const QWebEngineLoadingInfo &info);
    void urlChanged(const QUrl &url);
    void timedOut();
    void armTimeout(int seconds);
    void refusedNavigation(const QUrl &url);
    void toDelegate(std::function<void(NavigationDelegate *)> call);
    void reportStart();
    void reportFinish();
    void reportFailure(const WebError &error);
    void watchInput(QObject *object);

    QWebEngineView *m_view = nullptr;
    WebPage *m_page = nullptr;
    QTimer *m_timeout = nullptr;
    int m_timeoutSeconds = 60;
    bool m_loading = false;        // between the engine's start and its end of a run
    bool m_swallowEnd = false;     // the run's end was already reported (time-out)
    bool m_allowsGestures = false;
    std::optional<QUrl> m_refusedURL; // a main-frame navigation we refused during a run

    std::weak_ptr<NavigationDelegate> m_weakDelegate;
    QPointer<QObject> m_delegateOwner;
    NavigationDelegate *m_objectDelegate = nullptr;

    std::vector<std::weak_ptr<Observation::State>> m_observers;
    std::shared_ptr<Pending> m_pending; // scripts waiting for the engine
};

} // namespace orvix::platform::web
