// The web view in the real engine, against a local server.

#include "platform/web/webview.h"
#include "rawserver.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QWebEngineView>
#include <thread>

using namespace orvix::platform::web;

namespace {

constexpr int kWait = 20000; // ms; the first page also starts the engine

class Recorder : public NavigationDelegate {
public:
    QStringList events;
    std::optional<WebError> error;
    std::function<void()> onEnd;

    void didStartProvisionalNavigation(WebView *) override { events << QStringLiteral("start"); }
    void didFinish(WebView *) override { end(QStringLiteral("finish")); }
    void didFailProvisionalNavigation(WebView *, const WebError &e) override
    {
        error = e;
        end(QStringLiteral("fail:") + toString(e.code()));
    }
    int ends() const
    {
        return int(std::count_if(events.cbegin(), events.cend(),
                                 [](const QString &e) { return e == QLatin1String("finish") || e.startsWith("fail"); }));
    }

private:
    void end(const QString &what)
    {
        events << what;
        if (onEnd)
            onEnd();
    }
};

class QObjectRecorder : public QObject, public Recorder {};

struct ScriptResult {
    bool called = false;
    QVariant value;
    std::optional<WebError> error;
    bool onMainThread = false;
    int calls = 0;
};

// Catches what the desktop would otherwise open in another program.
class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

QByteArray page(const QByteArray &body) { return "<html><head><title>t</title></head><body>" + body + "</body></html>"; }

} // namespace

class TestWebView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void navigationCallbacks_data();
    void navigationCallbacks();
    void refusedSchemeIsNotHandedToTheDesktop();
    void goneDelegateIsNotCalled();
    void delegateMayDestroyTheView();
    void hangingLoadTimesOut();
    void cachePolicy();

    void urlObservation();
    void observationEnds();

    void javaScriptValuesAndErrors();
    void javaScriptPendingWhenViewDestroyed();

    void cookies();

    void backForwardGestures();

    void offMainThreadCallIsFatal();

private:
    QUrl url(const QString &path) const { return m_server->url(path); }
    bool loadAndWait(const QUrl &url, int timeoutSeconds = 60);
    ScriptResult evaluate(const QString &script);

    std::unique_ptr<RawServer> m_server;
    QPointer<WebView> m_view;
    std::shared_ptr<Recorder> m_recorder;
};

void TestWebView::initTestCase()
{
    m_server = std::make_unique<RawServer>([](const RawRequest &r) -> RawReply {
        const QByteArray path = r.path();
        if (path == "/page")
            return RawReply::http(200, page("<p id='p'>page</p>"), "text/html");
        if (path == "/cookie")
            return RawReply::http(200, page("cookie"), "text/html", {{"Set-Cookie", "visit=1; Path=/"}});
        if (path == "/redirect")
            return RawReply::http(302, "", "text/html", {{"Location", "/landing"}});
        if (path == "/landing")
            return RawReply::http(200, page("landing"), "text/html");
        if (path == "/jsnav")
            return RawReply::http(200, page("<script>location.href = '/after-js?x=1';</script>"), "text/html");
        if (path == "/to-callback") {
            const QByteArray target = r.target.mid(r.target.indexOf("to=") + 3);
            return RawReply::http(302, "", "text/html", {{"Location", QByteArray::fromPercentEncoding(target)}});
        }
        if (path == "/missing")
            return RawReply::http(404, page("not here"), "text/html");
        if (path == "/empty-500")
            return RawReply::http(500, "", "text/html");
        if (path == "/drop")
            return RawReply::drop();
        if (path == "/hang")
            return RawReply::hang();
        if (path == "/alert")
            return RawReply::http(200, page("<script>alert('hi'); document.title = confirm('ok?') ? 'yes' : 'no';</script>"),
                                  "text/html");
        if (path == "/mailto")
            return RawReply::http(200, page("<script>location.href = 'mailto:someone@example.com';</script>"),
                                  "text/html");
        return RawReply::http(200, page("other"), "text/html", {{"Cache-Control", "max-age=3600"}});
    });
    QVERIFY(m_server->port() != 0);
}

void TestWebView::init()
{
    m_view = new WebView;
    m_view->resize(400, 300);
    m_view->show();
    m_recorder = std::make_shared<Recorder>();
    m_view->setNavigationDelegate(m_recorder);
}

void TestWebView::cleanup()
{
    delete m_view;
    m_recorder.reset();
}

bool TestWebView::loadAndWait(const QUrl &target, int timeoutSeconds)
{
    const int before = m_recorder->ends();
    m_view->load({target, CachePolicy::useProtocolCachePolicy, timeoutSeconds});
    return QTest::qWaitFor([&] { return m_recorder->ends() > before; }, kWait)
        && m_recorder->events.last() == QLatin1String("finish");
}

ScriptResult TestWebView::evaluate(const QString &script)
{
    auto result = std::make_shared<ScriptResult>();
    m_view->evaluateJavaScript(script, [result](const QVariant &value, const std::optional<WebError> &error) {
        result->called = true;
        ++result->calls;
        result->value = value;
        result->error = error;
        result->onMainThread = QThread::currentThread() == qApp->thread();
    });
    const bool inline_ = result->called;
    (void)QTest::qWaitFor([&] { return result->called; }, kWait);
    ScriptResult out = *result;
    if (inline_)
        out.onMainThread = false; // must never run inside the call
    return out;
}

// ---- navigation ----

void TestWebView::navigationCallbacks_data()
{
    QTest::addColumn<QUrl>("target");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("engineCode");

    const QStringList finished{"start", "finish"};
    QTest::newRow("page") << url("/page") << finished << 0;
    // As on the mobile platform, a page the server answered is a finished
    // navigation whatever its status.
    QTest::newRow("404 with a page") << url("/missing") << finished << 0;
    QTest::newRow("500 with no body") << url("/empty-500") << finished << 0;
    QTest::newRow("redirect") << url("/redirect") << finished << 0;
    QTest::newRow("nothing listening")
        << QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort()))
        << QStringList{"start", "fail:cannotConnectToHost"} << -102;
    QTest::newRow("connection dropped") << url("/drop") << QStringList{"start", "fail:networkConnectionLost"} << -324;
    QTest::newRow("no URL") << QUrl() << QStringList{"fail:badURL"} << 0;
    QTest::newRow("relative URL") << QUrl("page") << QStringList{"fail:badURL"} << 0;
    QTest::newRow("other scheme") << QUrl("mailto:someone@example.com") << QStringList{"fail:unsupportedURL"} << 0;
    QTest::newRow("script dialogs do not block") << url("/alert") << finished << 0;
}

void TestWebView::navigationCallbacks()
{
    QFETCH(QUrl, target);
    QFETCH(QStringList, events);
    QFETCH(int, engineCode);

    m_view->load({target});
    QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends(), 1, kWait);
    QCOMPARE(m_recorder->events, events);
    if (events.last().startsWith("fail")) {
        QVERIFY(m_recorder->error);
        QVERIFY(!m_recorder->error->localizedDescription().isEmpty());
        QCOMPARE(m_recorder->error->engineCode(), engineCode);
        QCOMPARE(m_recorder->error->failingURL(), target);
    } else {
        QVERIFY(m_view->url().has_value());
        QCOMPARE(m_view->isLoading(), false);
    }
    if (target.path() == "/alert")
        QCOMPARE(m_view->title(), QStringLiteral("no")); // confirm() answered "cancel"
}

void TestWebView::refusedSchemeIsNotHandedToTheDesktop()
{
    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &sink, "open");
    m_view->load({url("/mailto")});
    QTest::qWait(3000); qDebug() << "DBG" << m_recorder->events << sink.opened << m_view->url().value_or(QUrl()) << (m_recorder->error ? m_recorder->error->debugDescription() : QString());
    QTRY_VERIFY_WITH_TIMEOUT(m_recorder->events.contains("fail:unsupportedURL"), kWait);
    qDebug() << m_recorder->events;
    QCOMPARE(m_recorder->error->failingURL().scheme(), QStringLiteral("mailto"));
    QVERIFY(evaluate(QStringLiteral("1")).called);
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    QVERIFY(sink.opened.isEmpty());
}

void TestWebView::goneDelegateIsNotCalled()
{
    // Weakly held: released before the engine reports.
    m_view->load({url("/page")});
    m_recorder.reset();
    QVERIFY(m_view->navigationDelegate() == nullptr);

    // A QObject delegate deleted mid-load.
    auto *objectDelegate = new QObjectRecorder;
    m_view->setNavigationDelegate(objectDelegate);
    QCOMPARE(m_view->navigationDelegate(), static_cast<NavigationDelegate *>(objectDelegate));
    delete objectDelegate;
    QVERIFY(m_view->navigationDelegate() == nullptr);

    // Nothing must reach either; a live delegate set last sees its own load.
    auto witness = std::make_shared<Recorder>();
    QTRY_VERIFY_WITH_TIMEOUT(!m_view->isLoading(), kWait);
    m_view->setNavigationDelegate(witness);
    m_view->load({url("/landing")});
    QTRY_COMPARE_WITH_TIMEOUT(witness->ends(), 1, kWait);
    m_recorder = witness; // for cleanup
}

void TestWebView::delegateMayDestroyTheView()
{
    m_recorder->onEnd = [this] { delete m_view; };
    Observation observation = m_view->observeURL([](const std::optional<QUrl> &) {});
    m_view->load({url("/page")});
    QTRY_VERIFY_WITH_TIMEOUT(m_view.isNull(), kWait);
    QVERIFY(!observation.isValid());
}

void TestWebView::hangingLoadTimesOut()
{
    QElapsedTimer clock;
    clock.start();
    m_view->load({url("/hang"), CachePolicy::useProtocolCachePolicy, 1});
    QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends(), 1, kWait);
    QVERIFY2(clock.elapsed() >= 900, "reported before the time-out");
    QCOMPARE(m_recorder->events, (QStringList{"start", "fail:timedOut"}));
    QCOMPARE(m_recorder->error->failingURL(), url("/hang"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_view->isLoading(), kWait);

    // The engine's own end of the stopped load is not reported a second
    // time, and the next load is clean.
    QVERIFY(loadAndWait(url("/page")));
    QCOMPARE(m_recorder->events, (QStringList{"start", "fail:timedOut", "start", "finish"}));
}

void TestWebView::cachePolicy()
{
    auto headerOf = [this](const QByteArray &path, const QByteArray &name) {
        const QList<RawRequest> requests = m_server->requests();
        for (auto it = requests.crbegin(); it != requests.crend(); ++it) {
            if (it->target == path)
                return it->header(name);
        }
        return QByteArray("<none>");
    };
    QVERIFY(loadAndWait(url("/cached?a")));
    QVERIFY(headerOf("/cached?a", "Cache-Control") != "no-cache");
    m_view->load({url("/cached?b"), CachePolicy::reloadIgnoringLocalCacheData});
    QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends(), 2, kWait);
    QCOMPARE(headerOf("/cached?b", "Cache-Control"), QByteArray("no-cache"));
}

// ---- URL observation ----

void TestWebView::urlObservation()
{
    QList<std::optional<QUrl>> seen;
    Observation observation = m_view->observeURL([&](const std::optional<QUrl> &u) { seen << u; });
    QVERIFY(observation.isValid());

    // Server-side redirect: the observer ends on the final address.
    QVERIFY(loadAndWait(url("/redirect")));
    QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == url("/landing"), kWait);
    QCOMPARE(m_view->url(), std::optional<QUrl>(url("/landing")));

    // A page script moving on.
    seen.clear();
    m_view->load({url("/jsnav")});
    QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == url("/after-js?x=1"), kWait);
    QVERIFY(seen.contains(url("/jsnav")));

    // A redirect to an address where nothing answers, as a sign-in page
    // ending on the host's redirect URL: the address is still observed.
    seen.clear();
    const QUrl callback(QStringLiteral("http://127.0.0.1:%1/callback?code=42").arg(closedPort()));
    const int before = m_recorder->ends();
    m_view->load({url("/to-callback?to=" + QString::fromLatin1(QUrl::toPercentEncoding(callback.toString())))});
    QTRY_VERIFY_WITH_TIMEOUT(m_recorder->ends() > before, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == callback, kWait);
    QCOMPARE(m_recorder->events.last(), QStringLiteral("fail:cannotConnectToHost"));
    QCOMPARE(m_recorder->error->failingURL(), callback);
}

void TestWebView::observationEnds()
{
    int first = 0, second = 0, self = 0;
    Observation a = m_view->observeURL([&](const std::optional<QUrl> &) { ++first; });
    auto b = std::make_unique<Observation>(m_view->observeURL([&](const std::optional<QUrl> &) { ++second; }));
    Observation c;
    c = m_view->observeURL([&](const std::optional<QUrl> &) {
        ++self;
        c.invalidate(); // ends itself while running
    });
    QVERIFY(loadAndWait(url("/page")));
    QTRY_VERIFY_WITH_TIMEOUT(first == 1 && second == 1, kWait);
    QCOMPARE(self, 1);
    QVERIFY(!c.isValid());

    a.invalidate();
    QVERIFY(!a.isValid());
    b.reset();
    int witnessed = 0;
    Observation witness;
    witness = m_view->observeURL([&](const std::optional<QUrl> &) { ++witnessed; });
    QVERIFY(loadAndWait(url("/landing")));
    QTRY_COMPARE_WITH_TIMEOUT(witnessed, 1, kWait);
    QCOMPARE(first, 1);
    QCOMPARE(second, 1);
    QCOMPARE(self, 1);

    // Outliving the web view, and ended from another thread afterwards.
    delete m_view;
    QVERIFY(!witness.isValid());
    std::thread([&] { witness.invalidate(); }).join();
}

// ---- scripts ----

void TestWebView::javaScriptValuesAndErrors()
{
    QVERIFY(loadAndWait(url("/page")));

    struct Case {
        const char *script;
        QVariant expected;
        std::optional<WebError::Code> error;
        const char *detail = "";
    };
    const QVariantMap object{{"a", 1}, {"b", QVariantList{1, "x", true}}};
    const QList<Case> cases = {
        {"1 + 2", 3, {}},
        {"1.5 * 3", 4.5, {}},
        {"'a' + \"b\" + `c`", QStringLiteral("abc"), {}},
        {"document.getElementById('p').textContent", QStringLiteral("page"), {}},
        {"({a: 1, b: [1, 'x', true]})", object, {}},
        {"var g = 41; g + 1", 42, {}},
        {"g", 41, {}}, // declared globally, as a top-level script would
        {"if (true) { 'last'; }", QStringLiteral("last"), {}},
        {"null", QVariant(), {}},
        {"undefined", QVariant(), {}},
        {"throw new Error('boom')", {}, WebError::Code::javaScriptExceptionOccurred, "Error: boom"},
        {"throw 'plain'", {}, WebError::Code::javaScriptExceptionOccurred, "plain"},
        {"1 +", {}, WebError::Code::javaScriptExceptionOccurred, "SyntaxError"},
        {"return 1", {}, WebError::Code::javaScriptExceptionOccurred, "SyntaxError"},
        {"'\\u2028 \" \\\\ </script>'", QStringLiteral("\u2028 \" \\ </script>"), {}},
        {"(function () {})", {}, WebError::Code::javaScriptResultTypeIsUnsupported, "function"},
        {"Symbol('s')", {}, WebError::Code::javaScriptResultTypeIsUnsupported, "symbol"},
    };
    for (const Case &c : cases) {
        const ScriptResult r = evaluate(QString::fromUtf8(c.script));
        const QByteArray where = QByteArray("script: ") + c.script;
        QVERIFY2(r.called && r.calls == 1, where);
        QVERIFY2(r.onMainThread, where);
        if (c.error) {
            QVERIFY2(r.error.has_value(), where);
            QCOMPARE(toString(r.error->code()), toString(*c.error));
            QVERIFY2(r.error->detail().contains(QString::fromUtf8(c.detail)),
                     qPrintable(where + " detail: " + r.error->detail()));
            QVERIFY(!r.error->localizedDescription().isEmpty());
        } else {
            QVERIFY2(!r.error.has_value(), qPrintable(where + " " + (r.error ? r.error->debugDescription() : "")));
            const bool number = c.expected.typeId() == QMetaType::Int || c.expected.typeId() == QMetaType::Double;
            QVERIFY2(number ? r.value.toDouble() == c.expected.toDouble() && r.value.canConvert<double>()
                            : r.value == c.expected,
                     qPrintable(where + " got " + r.value.toString()));
            QCOMPARE(r.value.isValid(), c.expected.isValid());
        }
    }

    // Values the engine cannot copy whole still answer.
    for (const char *script : {"var o = {}; o.self = o; o", "document.body", "window.eval = null; 1"}) {
        const ScriptResult r = evaluate(QString::fromUtf8(script));
        QVERIFY2(r.called && r.calls == 1, script);
    }
}

void TestWebView::javaScriptPendingWhenViewDestroyed()
{
    QVERIFY(loadAndWait(url("/page")));
    auto result = std::make_shared<ScriptResult>();
    m_view->evaluateJavaScript(QStringLiteral("1"), [result](const QVariant &value, const std::optional<WebError> &error) {
        ++result->calls;
        result->called = true;
        result->value = value;
        result->error = error;
    });
    m_view->evaluateJavaScript(QStringLiteral("2")); // no completion at all
    delete m_view;
    QTRY_VERIFY_WITH_TIMEOUT(result->called, kWait);
    QVERIFY(result->error);
    QCOMPARE(toString(result->error->code()), toString(WebError::Code::webViewInvalidated));
    // Called once only, even when the engine answers late.
    QVERIFY(!QTest::qWaitFor([&] { return result->calls > 1; }, 200));
}

// ---- cookies ----

void TestWebView::cookies()
{
    HTTPCookieStore &store = WebView::cookieStore();
    auto all = [&] {
        std::optional<QList<QNetworkCookie>> out;
        store.allCookies([&](const QList<QNetworkCookie> &cookies) { out = cookies; });
        (void)QTest::qWaitFor([&] { return out.has_value(); }, kWait);
        return out.value_or(QList<QNetworkCookie>{QNetworkCookie("not-answered", "1")});
    };
    auto names = [](const QList<QNetworkCookie> &cookies) {
        QStringList out;
        for (const QNetworkCookie &c : cookies)
            out << QString::fromLatin1(c.name() + '=' + c.value() + '@' + c.domain().toLatin1());
        out.sort();
        return out;
    };

    bool done = false;
    store.deleteAllCookies([&] { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, kWait);
    QCOMPARE(names(all()), QStringList{});

    // Set by the page's reply, seen as soon as the page has finished.
    QVERIFY(loadAndWait(url("/cookie")));
    QCOMPARE(names(all()), QStringList{"visit=1@127.0.0.1"});

    // Set by us, seen by the page.
    QNetworkCookie token("token", "xyz");
    token.setPath("/");
    done = false;
    store.setCookie(token, url("/"), [&] { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, kWait);
    QCOMPARE(names(all()), (QStringList{"token=xyz@127.0.0.1", "visit=1@127.0.0.1"}));
    QVERIFY(evaluate("document.cookie").value.toString().contains("token=xyz"));

    done = false;
    token.setDomain("127.0.0.1");
    store.deleteCookie(token, url("/"), [&] { done = true; });
    QTRY_VERIFY_WITH_TIMEOUT(done, kWait);
    QCOMPARE(names(all()), QStringList{"visit=1@127.0.0.1"});
    QVERIFY(!evaluate("document.cookie").value.toString().contains("token"));
}

// ---- gestures ----

void TestWebView::backForwardGestures()
{
    QVERIFY(loadAndWait(url("/page?a")));
    QVERIFY(loadAndWait(url("/page?b")));
    QVERIFY(m_view->canGoBack());
    QWidget *surface = m_view->engineView()->focusProxy();
    QVERIFY(surface);
    auto mouse = [&](Qt::MouseButton button) {
        const QPointF at(10, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, surface->mapToGlobal(at), button, button, Qt::NoModifier);
        QApplication::sendEvent(surface, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, surface->mapToGlobal(at), button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(surface, &release);
    };

    // Off (the default): the engine's own back button handling is held too.
    QVERIFY(!m_view->allowsBackForwardNavigationGestures());
    const int starts = int(m_recorder->events.count("start"));
    mouse(Qt::BackButton);
    QTest::keyClick(surface, Qt::Key_Left, Qt::AltModifier);
    QVERIFY(evaluate("1").called); // a round trip through the engine
    QVERIFY(!m_view->isLoading());
    QCOMPARE(m_recorder->events.count("start"), starts);
    QCOMPARE(m_view->url(), std::optional<QUrl>(url("/page?b")));

    m_view->setAllowsBackForwardNavigationGestures(true);
    mouse(Qt::BackButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_view->url(), std::optional<QUrl>(url("/page?a")), kWait);
    QTest::keyClick(surface, Qt::Key_Right, Qt::AltModifier);
    QTRY_COMPARE_WITH_TIMEOUT(m_view->url(), std::optional<QUrl>(url("/page?b")), kWait);
    QVERIFY(!m_view->canGoForward());
}

// ---- threads ----

void TestWebView::offMainThreadCallIsFatal()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVIX_WEB_OFF_THREAD_PROBE"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(kWait));
    QVERIFY(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
    QVERIFY2(child.readAllStandardError().contains("HTTPCookieStore::shared called off the main thread"),
             "no message naming the call");
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ORVIX_WEB_OFF_THREAD_PROBE")) {
        std::thread([] { HTTPCookieStore::shared(); }).join();
        return 0; // not reached
    }
    TestWebView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webview.moc"
