#include "platform/web/webview.h"

#include "platform/dispatch/dispatch.h"
#include "platform/web/threadcheck.h"

#include <QChildEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <atomic>
#include <climits>
#include <map>

namespace orvix::platform::web {

using detail::requireMainThread;

namespace {

// Schemes we load. Anything else (mailto:, tel:, custom app schemes...) is
// refused instead of being handed to another program on the desktop.
bool isAllowedScheme(const QString &scheme)
{
    static const QStringList allowed = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("about"),
                                        QStringLiteral("data"), QStringLiteral("blob"), QStringLiteral("file"),
                                        QStringLiteral("qrc")};
    return allowed.contains(scheme.toLower());
}

// Evaluates the script text as a top-level script (indirect eval keeps the
// value of its last expression and declares globals as a script would) and
// always answers with a tagged object, so a thrown error cannot pass for an
// empty result.
QString wrapScript(const QString &script)
{
    const QByteArray literal = QJsonDocument(QJsonArray{script}).toJson(QJsonDocument::Compact);
    return QStringLiteral(
               "(function () {\n"
               "  var r;\n"
               "  try {\n"
               "    r = (0, eval)(%1[0]);\n"
               "  } catch (e) {\n"
               "    var name = '', message = '';\n"
               "    try { name = (e && e.name) ? String(e.name) : ''; } catch (x) {}\n"
               "    try { message = (e && e.message !== undefined) ? String(e.message) : String(e); }\n"
               "    catch (x) { message = 'unreadable error'; }\n"
               "    return { orvix: 1, ok: false, name: name, message: message };\n"
               "  }\n"
               "  var t = typeof r;\n"
               "  if (t === 'function' || t === 'symbol' || t === 'bigint')\n"
               "    return { orvix: 1, ok: false, unsupported: t };\n"
               "  return { orvix: 1, ok: true, value: r };\n"
               "})()")
        .arg(QString::fromUtf8(literal));
}

std::pair<QVariant, std::optional<WebError>> unwrapResult(const QVariant &raw)
{
    const QVariantMap map = raw.toMap();
    if (raw.typeId() != QMetaType::QVariantMap || map.value(QStringLiteral("orvix")).toInt() != 1)
        return {QVariant(), WebError(WebError::Code::javaScriptResultUnavailable)};
    if (map.value(QStringLiteral("ok")).toBool()) {
        QVariant value = map.value(QStringLiteral("value"));
        if (value.typeId() == QMetaType::Nullptr)
            value = QVariant();
        return {value, std::nullopt};
    }
    if (map.contains(QStringLiteral("unsupported")))
        return {QVariant(), WebError(WebError::Code::javaScriptResultTypeIsUnsupported,
                                     map.value(QStringLiteral("unsupported")).toString())};
    const QString name = map.value(QStringLiteral("name")).toString();
    const QString message = map.value(QStringLiteral("message")).toString();
    return {QVariant(), WebError(WebError::Code::javaScriptExceptionOccurred,
                                 name.isEmpty() ? message : name + QStringLiteral(": ") + message)};
}

} // namespace

// The engine page with the mobile platform's defaults: script dialogs are
// answered at once without showing anything, and only our schemes load.
class WebPage : public QWebEnginePage {
public:
    WebPage(QWebEngineProfile *profile, QObject *parent, std::function<void(const QUrl &)> refused)
        : QWebEnginePage(profile, parent), m_refused(std::move(refused))
    {
    }

    void detach() { m_refused = nullptr; }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (isAllowedScheme(url.scheme()))
            return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
        if (isMainFrame && m_refused)
            m_refused(url);
        return false;
    }
    void javaScriptAlert(const QUrl &, const QString &) override {}
    bool javaScriptConfirm(const QUrl &, const QString &) override { return false; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override { return false; }

private:
    std::function<void(const QUrl &)> m_refused;
};

// ---- Observation ----

struct Observation::State {
    std::atomic<bool> active{true};
    WebView::URLObserver handler; // set, called and cleared on the main thread
};

Observation &Observation::operator=(Observation &&other) noexcept
{
    if (this != &other) {
        invalidate();
        m_state = std::move(other.m_state);
    }
    return *this;
}

void Observation::invalidate()
{
    if (!m_state)
        return;
    m_state->active = false;
    std::shared_ptr<State> state = std::move(m_state);
    if (dispatch::isMainThread())
        state->handler = nullptr;
    else
        dispatch::asyncMain([state] { state->handler = nullptr; });
}

bool Observation::isValid() const
{
    return m_state && m_state->active;
}

// ---- WebView ----

struct WebView::Pending {
    std::map<quint64, JavaScriptCompletion> completions;
    quint64 next = 0;
};

WebView::WebView(QWidget *parent) : QWidget(parent), m_pending(std::make_shared<Pending>())
{
    requireMainThread("WebView::WebView");
    m_view = new QWebEngineView(this);
    watchInput(m_view);
    m_page = new WebPage(sharedProfile(), m_view, [this](const QUrl &url) { refusedNavigation(url); });
    m_view->setPage(m_page);
    for (QWidget *child : m_view->findChildren<QWidget *>())
        watchInput(child);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    m_timeout = new QTimer(this);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, &WebView::timedOut);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &WebView::loadingChanged);
    connect(m_page, &QWebEnginePage::urlChanged, this, &WebView::urlChanged);
}

WebView::~WebView()
{
    requireMainThread("WebView::~WebView");
    m_timeout->stop();
    m_page->disconnect(this);
    m_page->detach();

    for (const auto &weak : m_observers) {
        if (auto state = weak.lock()) {
            state->active = false;
            state->handler = nullptr;
        }
    }
    m_observers.clear();

    // Scripts still waiting get their answer after we are gone; the engine's
    // own late callbacks find nothing left to call.
    std::map<quint64, JavaScriptCompletion> waiting = std::move(m_pending->completions);
    m_pending.reset();
    for (auto &[id, completion] : waiting) {
        if (completion)
            dispatch::asyncMain([completion = std::move(completion)] {
                completion(QVariant(), WebError(WebError::Code::webViewInvalidated));
            });
    }

    // The page goes with the engine view, before the profile ever does.
    delete m_view;
    m_view = nullptr;
    m_page = nullptr;
}

void WebView::load(const URLRequest &request)
{
    requireMainThread("WebView::load");
    m_timeoutSeconds = request.timeoutSeconds;
    const QUrl &url = request.url;
    if (url.isEmpty() || !url.isValid() || url.isRelative()) {
        reportFailure(WebError(WebError::Code::badURL, url.errorString(), url));
        return;
    }
    if (!isAllowedScheme(url.scheme())) {
        reportFailure(WebError(WebError::Code::unsupportedURL, url.scheme(), url));
        return;
    }
    QWebEngineHttpRequest httpRequest(url);
    if (request.cachePolicy == CachePolicy::reloadIgnoringLocalCacheData) {
        httpRequest.setHeader("Cache-Control", "no-cache");
        httpRequest.setHeader("Pragma", "no-cache");
    }
    m_page->load(httpRequest);
    armTimeout(m_timeoutSeconds);
}

void WebView::reload()
{
    requireMainThread("WebView::reload");
    if (m_page->url().isEmpty())
        return;
    m_page->triggerAction(QWebEnginePage::Reload);
    armTimeout(m_timeoutSeconds);
}

void WebView::stopLoading()
{
    requireMainThread("WebView::stopLoading");
    m_timeout->stop();
    m_page->triggerAction(QWebEnginePage::Stop);
}

bool WebView::isLoading() const
{
    requireMainThread("WebView::isLoading");
    return m_page->isLoading();
}

std::optional<QUrl> WebView::url() const
{
    requireMainThread("WebView::url");
    const QUrl url = m_page->url();
    return url.isEmpty() ? std::nullopt : std::optional<QUrl>(url);
}

QString WebView::title() const
{
    requireMainThread("WebView::title");
    return m_page->title();
}

bool WebView::canGoBack() const
{
    requireMainThread("WebView::canGoBack");
    return m_page->history()->canGoBack();
}

bool WebView::canGoForward() const
{
    requireMainThread("WebView::canGoForward");
    return m_page->history()->canGoForward();
}

void WebView::goBack()
{
    requireMainThread("WebView::goBack");
    m_page->triggerAction(QWebEnginePage::Back);
}

void WebView::goForward()
{
    requireMainThread("WebView::goForward");
    m_page->triggerAction(QWebEnginePage::Forward);
}

void WebView::setNavigationDelegate(std::weak_ptr<NavigationDelegate> delegate)
{
    requireMainThread("WebView::setNavigationDelegate");
    m_weakDelegate = std::move(delegate);
    m_delegateOwner.clear();
    m_objectDelegate = nullptr;
}

void WebView::setNavigationDelegate(QObject *owner, NavigationDelegate *delegate)
{
    requireMainThread("WebView::setNavigationDelegate");
    m_weakDelegate.reset();
    m_delegateOwner = delegate ? owner : nullptr;
    m_objectDelegate = owner ? delegate : nullptr;
}

NavigationDelegate *WebView::navigationDelegate() const
{
    requireMainThread("WebView::navigationDelegate");
    if (auto strong = m_weakDelegate.lock())
        return strong.get();
    return m_delegateOwner ? m_objectDelegate : nullptr;
}

Observation WebView::observeURL(URLObserver handler)
{
    requireMainThread("WebView::observeURL");
    auto state = std::make_shared<Observation::State>();
    state->handler = std::move(handler);
    std::erase_if(m_observers, [](const auto &weak) { return weak.expired(); });
    m_observers.push_back(state);
    return Observation(std::move(state));
}

void WebView::setAllowsBackForwardNavigationGestures(bool allows)
{
    requireMainThread("WebView::setAllowsBackForwardNavigationGestures");
    m_allowsGestures = allows;
}

void WebView::evaluateJavaScript(const QString &script, JavaScriptCompletion completion)
{
    requireMainThread("WebView::evaluateJavaScript");
    if (!completion) {
        m_page->runJavaScript(wrapScript(script), QWebEngineScript::MainWorld);
        return;
    }
    const quint64 id = ++m_pending->next;
    m_pending->completions.emplace(id, std::move(completion));
    std::weak_ptr<Pending> weak = m_pending;
    m_page->runJavaScript(wrapScript(script), QWebEngineScript::MainWorld, [weak, id](const QVariant &raw) {
        const std::shared_ptr<Pending> pending = weak.lock();
        if (!pending)
            return;
        auto it = pending->completions.find(id);
        if (it == pending->completions.end())
            return;
        JavaScriptCompletion done = std::move(it->second);
        pending->completions.erase(it);
        auto [value, error] = unwrapResult(raw);
        dispatch::asyncMain([done = std::move(done), value = std::move(value), error = std::move(error)] {
            done(value, error);
        });
    });
}

// ---- engine signals ----

void WebView::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_loading = true;
        m_swallowEnd = false;
        reportStart();
        return;
    }
    m_loading = false;
    if (m_swallowEnd) {
        m_swallowEnd = false;
        m_refusedURL.reset();
        return;
    }
    m_timeout->stop();
    const std::optional<QUrl> refused = std::exchange(m_refusedURL, std::nullopt);
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        reportFinish();
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            reportFinish(); // the server answered with a page; its status is the page's business
        else if (refused)
            reportFailure(WebError(WebError::Code::unsupportedURL, refused->scheme(), *refused));
        else if (!isAllowedScheme(info.url().scheme())) // a page script's jump, never started
            reportFailure(WebError(WebError::Code::unsupportedURL, info.url().scheme(), info.url()));
        else
            reportFailure(WebError::fromEngine(info.errorCode(), info.errorString(), info.url()));
        break;
    case QWebEngineLoadingInfo::LoadStartedStatus:
        break;
    }
}

void WebView::urlChanged(const QUrl &url)
{
    const std::optional<QUrl> value = url.isEmpty() ? std::nullopt : std::optional<QUrl>(url);
    QMetaObject::invokeMethod(this, [this, value] {
        std::erase_if(m_observers, [](const auto &weak) { return weak.expired(); });
        std::vector<std::shared_ptr<Observation::State>> observers;
        for (const auto &weak : m_observers) {
            if (auto state = weak.lock())
                observers.push_back(std::move(state));
        }
        // A handler may end observations or destroy this web view: from here
        // on only the copies are used, and each is checked before its call.
        for (const auto &state : observers) {
            if (!state->active)
                continue;
            const URLObserver handler = state->handler;
            if (handler)
                handler(value);
        }
    }, Qt::QueuedConnection);
}

void WebView::refusedNavigation(const QUrl &url)
{
    if (m_loading) {
        m_refusedURL = url; // reported when the engine ends the run
        return;
    }
    reportFailure(WebError(WebError::Code::unsupportedURL, url.scheme(), url));
}

void WebView::timedOut()
{
    // Reported now; the engine's own end of this run is then dropped.
    m_swallowEnd = m_loading;
    m_page->triggerAction(QWebEnginePage::Stop);
    reportFailure(WebError(WebError::Code::timedOut,
                           QStringLiteral("no answer within %1 s").arg(m_timeoutSeconds), m_page->requestedUrl()));
}

void WebView::armTimeout(int seconds)
{
    if (seconds <= 0) {
        m_timeout->stop();
        return;
    }
    m_timeout->start(seconds >= INT_MAX / 1000 ? INT_MAX : seconds * 1000);
}

// ---- delivery ----

void WebView::toDelegate(std::function<void(NavigationDelegate *)> call)
{
    QMetaObject::invokeMethod(this, [this, call = std::move(call)] {
        // A weakly held delegate is kept alive for the length of the call.
        if (const std::shared_ptr<NavigationDelegate> strong = m_weakDelegate.lock())
            call(strong.get());
        else if (m_delegateOwner && m_objectDelegate)
            call(m_objectDelegate);
    }, Qt::QueuedConnection);
}

void WebView::reportStart()
{
    toDelegate([this](NavigationDelegate *d) { d->didStartProvisionalNavigation(this); });
}

void WebView::reportFinish()
{
    toDelegate([this](NavigationDelegate *d) { d->didFinish(this); });
}

void WebView::reportFailure(const WebError &error)
{
    toDelegate([this, error](NavigationDelegate *d) { d->didFailProvisionalNavigation(this, error); });
}

// ---- back and forward by mouse and keys ----

void WebView::watchInput(QObject *object)
{
    object->installEventFilter(this);
}

bool WebView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child->isWidgetType())
            watchInput(child);
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const bool back = mouse->button() == Qt::BackButton;
        const bool forward = mouse->button() == Qt::ForwardButton;
        if (!back && !forward)
            break;
        // The engine would navigate on its own; only we decide.
        if (m_allowsGestures && event->type() == QEvent::MouseButtonPress)
            back ? goBack() : goForward();
        return true;
    }
    case QEvent::KeyPress: {
        if (!m_allowsGestures)
            break;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Back)) {
            goBack();
            return true;
        }
        if (key->matches(QKeySequence::Forward)) {
            goForward();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace orvix::platform::web
