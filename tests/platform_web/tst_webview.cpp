// The web view in the real engine, against a local server. One process, so
// the engine starts once.

#include "platform/dispatch/dispatch.h"
#include "platform/web/webview.h"
#include "rawserver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QWebEngineView>
#include <thread>

using namespace orvix::platform::web;

namespace {

constexpr int kWait = 20000; // ms; the first page also starts the engine

// Short slices, as QTRY does: one long processEvents() can stay busy with
// the engine's own events well past the moment we wait for.
template <class Predicate>
bool waitUntil(Predicate done)
{
    QDeadlineTimer deadline(kWait);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(10);
    return done();
}

// Everything posted to the main thread before this call has run.
bool drainPosted()
{
    bool reached = false;
    orvix::platform::dispatch::asyncMain([&] { reached = true; });
    return waitUntil([&] { return reached; });
}

class Recorder : public NavigationDelegate {
public:
    QStringList events;
    int ends = 0;
    std::optional<WebError> error;
    std::function<void()> onEnd;

    void didStartProvisionalNavigation(WebView *) override { events << "start"; }
    void didFinish(WebView *) override { end("finish"); }
    void didFailProvisionalNavigation(WebView *, const WebError &e) override
    {
        error = e;
        end("fail:" + toString(e.code()));
    }

private:
    void end(const QString &what)
    {
        events << what;
        ++ends;
        if (onEnd)
            onEnd();
    }
};

class QObjectRecorder : public QObject, public Recorder {};

// Catches what the desktop would otherwise open in another program.
class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

struct ScriptResult {
    int calls = 0;
    QVariant value;
    std::optional<WebError> error;
    bool onMainThread = false;
};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // free again once probe goes
}

RawReply html(const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers = {}, int status = 200)
{
    return RawReply::http(status, "<html><head><title>t</title></head><body>" + body + "</body></html>", "text/html",
                          headers);
}

} // namespace

class TestWebView : public QObject {
    Q_OBJECT

    std::unique_ptr<RawServer> m_server;
    QPointer<WebView> m_view;
    std::shared_ptr<Recorder> m_recorder;

    QUrl url(const QString &path) const { return m_server->url(path); }

    bool loadAndWait(const QUrl &target)
    {
        const int before = m_recorder->ends;
        m_view->load({target});
        return waitUntil([&] { return m_recorder->ends > before; }) && m_recorder->events.last() == "finish";
    }

    ScriptResult evaluate(const QString &script)
    {
        auto result = std::make_shared<ScriptResult>();
        m_view->evaluateJavaScript(script, [result](const QVariant &value, const std::optional<WebError> &error) {
            ++result->calls;
            result->value = value;
            result->error = error;
            result->onMainThread = QThread::currentThread() == qApp->thread();
        });
        const bool inside = result->calls > 0; // must never run inside the call
        waitUntil([&] { return result->calls > 0; });
        ScriptResult out = *result;
        out.onMainThread = out.onMainThread && !inside;
        return out;
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<RawServer>([](const RawRequest &r) -> RawReply {
            const QByteArray path = r.path();
            if (path == "/cookie")
                return html("cookie", {{"Set-Cookie", "visit=1; Path=/"}});
            if (path == "/redirect")
                return RawReply::http(302, "", "text/html", {{"Location", "/landing"}});
            if (path == "/jsnav")
                return html("<script>location.href = '/after-js?x=1';</script>");
            if (path == "/to") // 302 to the address in the query
                return RawReply::http(302, "", "text/html", {{"Location", QByteArray::fromPercentEncoding(r.target.mid(4))}});
            if (path == "/missing")
                return html("not here", {}, 404);
            if (path == "/drop")
                return RawReply::drop();
            if (path == "/hang")
                return RawReply::hang();
            if (path == "/dialogs")
                return html("<script>alert('hi'); document.title = confirm('ok?') ? 'yes' : 'no';</script>");
            if (path == "/mailto")
                return html("<script>location.href = 'mailto:someone@example.com';</script>");
            if (path == "/maillink")
                return html("<a href='mailto:someone@example.com' style='display:block; height:250px'>mail</a>");
            return html("<p id='p'>page</p>", {{"Cache-Control", "max-age=3600"}});
        });
        QVERIFY(m_server->port() != 0);
    }

    void init()
    {
        m_view = new WebView;
        m_view->resize(400, 300);
        m_view->show();
        m_recorder = std::make_shared<Recorder>();
        m_view->setNavigationDelegate(m_recorder);
    }

    void cleanup() { delete m_view; }

    // ---- navigation ----

    void navigationCallbacks_data()
    {
        QTest::addColumn<QUrl>("target");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("engineCode");

        const QStringList finished{"start", "finish"};
        QTest::newRow("page") << url("/page") << finished << 0;
        // As on the mobile platform, a page the server answered is finished
        // whatever its status.
        QTest::newRow("404 with a page") << url("/missing") << finished << 0;
        QTest::newRow("nothing listening") << QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()))
                                           << QStringList{"start", "fail:cannotConnectToHost"} << -102;
        QTest::newRow("connection dropped") << url("/drop") << QStringList{"start", "fail:networkConnectionLost"}
                                            << -324;
        QTest::newRow("no URL") << QUrl() << QStringList{"fail:badURL"} << 0;
        QTest::newRow("other scheme") << QUrl("mailto:a@example.com") << QStringList{"fail:unsupportedURL"} << 0;
        QTest::newRow("script dialogs do not block") << url("/dialogs") << finished << 0;
    }

    void navigationCallbacks()
    {
        QFETCH(QUrl, target);
        QFETCH(QStringList, events);
        QFETCH(int, engineCode);

        m_view->load({target});
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends, 1, kWait);
        QCOMPARE(m_recorder->events, events);
        if (m_recorder->error) {
            QVERIFY(!m_recorder->error->localizedDescription().isEmpty());
            QCOMPARE(m_recorder->error->engineCode(), engineCode);
            QCOMPARE(m_recorder->error->failingURL(), target);
        } else {
            QCOMPARE(m_view->url(), std::optional<QUrl>(target));
        }
        if (target.path() == "/dialogs")
            QCOMPARE(m_view->title(), QStringLiteral("no")); // confirm() was answered "cancel"
    }

    void refusedSchemeIsNotHandedToTheDesktop()
    {
        UrlSink sink;
        QDesktopServices::setUrlHandler("mailto", &sink, "open");
        auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("mailto"); });

        m_view->load({url("/mailto")}); // a page script's jump
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->events.contains("fail:unsupportedURL"), kWait);

        // A link the user clicks: left alone, the engine hands it to the desktop.
        m_recorder->events.clear();
        QVERIFY(loadAndWait(url("/maillink")));
        QTest::mouseClick(m_view->engineView()->focusProxy(), Qt::LeftButton, {}, QPoint(20, 20));
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->events.contains("fail:unsupportedURL"), kWait);
        QCOMPARE(m_recorder->error->failingURL(), QUrl("mailto:someone@example.com"));
        QVERIFY(sink.opened.isEmpty());
    }

    void delegateLifetime()
    {
        // A weakly held delegate released, and a QObject one deleted, mid-load.
        QSignalSpy engineDone(m_view->engineView(), &QWebEngineView::loadFinished);
        m_view->load({url("/page")});
        m_recorder.reset();
        QVERIFY(!m_view->navigationDelegate());
        auto *objectDelegate = new QObjectRecorder;
        m_view->setNavigationDelegate(objectDelegate);
        QCOMPARE(m_view->navigationDelegate(), static_cast<NavigationDelegate *>(objectDelegate));
        delete objectDelegate;
        QVERIFY(!m_view->navigationDelegate());
        QTRY_COMPARE_WITH_TIMEOUT(engineDone.count(), 1, kWait);
        QVERIFY(drainPosted()); // those reports went nowhere

        // A delegate destroying the web view from its callback.
        m_recorder = std::make_shared<Recorder>();
        m_view->setNavigationDelegate(m_recorder);
        m_recorder->onEnd = [this] { delete m_view; };
        Observation observation = m_view->observeURL([](const std::optional<QUrl> &) {});
        m_view->load({url("/landing")});
        QTRY_VERIFY_WITH_TIMEOUT(m_view.isNull(), kWait);
        QCOMPARE(m_recorder->events, (QStringList{"start", "finish"}));
        QVERIFY(!observation.isValid());
    }

    void hangingLoadTimesOut()
    {
        QElapsedTimer clock;
        clock.start();
        m_view->load({url("/hang"), CachePolicy::useProtocolCachePolicy, 1});
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends, 1, kWait);
        QVERIFY2(clock.elapsed() >= 900, "reported before the time-out");
        QCOMPARE(m_recorder->events, (QStringList{"start", "fail:timedOut"}));
        QCOMPARE(m_recorder->error->failingURL(), url("/hang"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_view->isLoading(), kWait);

        // The engine's own end of the stopped load is not reported again.
        QVERIFY(loadAndWait(url("/page")));
        QCOMPARE(m_recorder->events, (QStringList{"start", "fail:timedOut", "start", "finish"}));
    }

    void cachePolicy()
    {
        QVERIFY(loadAndWait(url("/cached?a")));
        m_view->load({url("/cached?b"), CachePolicy::reloadIgnoringLocalCacheData});
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->ends, 2, kWait);
        QMap<QByteArray, QByteArray> sent;
        for (const RawRequest &r : m_server->requests())
            sent[r.target] = r.header("Cache-Control");
        QVERIFY(sent.value("/cached?a") != "no-cache");
        QCOMPARE(sent.value("/cached?b"), QByteArray("no-cache"));
    }

    // ---- URL observation ----

    void urlObservation()
    {
        QList<std::optional<QUrl>> seen;
        Observation observation = m_view->observeURL([&](const std::optional<QUrl> &u) { seen << u; });

        QVERIFY(loadAndWait(url("/redirect"))); // server side
        QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == url("/landing"), kWait);
        QCOMPARE(m_view->url(), std::optional<QUrl>(url("/landing")));

        seen.clear();
        m_view->load({url("/jsnav")}); // a page script
        QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty() && seen.last() == url("/after-js?x=1"), kWait);
        QVERIFY(seen.contains(url("/jsnav")));

        // Redirected to an address where nothing answers, as a sign-in page
        // ending on the host's redirect URL: still observed.
        const QUrl callback(QStringLiteral("http://127.0.0.1:%1/callback?code=42").arg(closedPort()));
        const int before = m_recorder->ends;
        m_view->load({url("/to?" + QString::fromLatin1(QUrl::toPercentEncoding(callback.toString())))});
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->ends > before && seen.last() == callback, kWait);
        QCOMPARE(m_recorder->events.last(), QStringLiteral("fail:cannotConnectToHost"));
        QCOMPARE(m_recorder->error->failingURL(), callback);
    }

    void observationEnds()
    {
        int first = 0, self = 0, witnessed = 0;
        Observation a = m_view->observeURL([&](const std::optional<QUrl> &) { ++first; });
        Observation c;
        const QString note = QStringLiteral("a capture of its own, kept on the heap");
        c = m_view->observeURL([&self, &c, note](const std::optional<QUrl> &) {
            c.invalidate();                 // ends itself while running...
            self += note.isEmpty() ? 0 : 1; // ...and goes on using its captures
        });
        QVERIFY(loadAndWait(url("/page")));
        QTRY_COMPARE_WITH_TIMEOUT(first, 1, kWait);
        QCOMPARE(self, 1);
        QVERIFY(!c.isValid());

        a.invalidate();
        Observation witness = m_view->observeURL([&](const std::optional<QUrl> &) { ++witnessed; });
        QVERIFY(loadAndWait(url("/landing")));
        QTRY_COMPARE_WITH_TIMEOUT(witnessed, 1, kWait);
        QCOMPARE(first + self, 2);

        // Outliving the web view, then ended from another thread.
        delete m_view;
        QVERIFY(!witness.isValid());
        std::thread([&] { witness.invalidate(); }).join();
    }

    // ---- scripts ----

    void javaScriptValuesAndErrors()
    {
        QVERIFY(loadAndWait(url("/page")));
        struct Case {
            const char *script;
            QVariant expected;
            std::optional<WebError::Code> error = {};
            const char *detail = "";
        };
        const auto exception = WebError::Code::javaScriptExceptionOccurred;
        const auto unsupported = WebError::Code::javaScriptResultTypeIsUnsupported;
        const QList<Case> cases = {
            {"1 + 2", 3},
            {"1.5 * 3", 4.5},
            {"document.getElementById('p').textContent", "page"},
            {"({a: 1, b: [1, 'x', true]})", QVariantMap{{"a", 1}, {"b", QVariantList{1, "x", true}}}},
            {"var g = 41; g + 1", 42},
            {"g", 41}, // declared globally, as by a top-level script
            {"if (true) { 'last'; }", "last"},
            {"'\\u2028 \" \\\\ </script>'", QStringLiteral("\u2028 \" \\ </script>")},
            {"null", QVariant()},
            {"throw new Error('boom')", {}, exception, "Error: boom"},
            {"throw 'plain'", {}, exception, "plain"},
            {"1 +", {}, exception, "SyntaxError"},
            {"(function () {})", {}, unsupported, "function"},
        };
        for (const Case &c : cases) {
            const ScriptResult r = evaluate(QString::fromUtf8(c.script));
            const QByteArray where = QByteArray("script: ") + c.script;
            QVERIFY2(r.calls == 1 && r.onMainThread, where);
            QVERIFY2(r.error.has_value() == c.error.has_value(), where);
            if (c.error) {
                QCOMPARE(toString(r.error->code()), toString(*c.error));
                QVERIFY2(r.error->detail().contains(c.detail), qPrintable(where + " -> " + r.error->detail()));
            } else if (c.expected.typeId() == QMetaType::Int || c.expected.typeId() == QMetaType::Double) {
                QVERIFY2(r.value.canConvert<double>() && r.value.toDouble() == c.expected.toDouble(), where);
            } else {
                QVERIFY2(r.value == c.expected, qPrintable(where + " -> " + r.value.toString()));
            }
        }
        // Values the engine cannot copy whole, or a page without eval, still answer.
        for (const char *script : {"var o = {}; o.self = o; o", "document.body", "window.eval = null; 1"})
            QVERIFY2(evaluate(script).calls == 1, script);
    }

    void javaScriptPendingWhenViewDestroyed()
    {
        QVERIFY(loadAndWait(url("/page")));
        auto result = std::make_shared<ScriptResult>();
        m_view->evaluateJavaScript("1", [result](const QVariant &, const std::optional<WebError> &error) {
            ++result->calls;
            result->error = error;
        });
        m_view->evaluateJavaScript("2"); // no completion at all
        delete m_view;
        QTRY_COMPARE_WITH_TIMEOUT(result->calls, 1, kWait);
        QCOMPARE(toString(result->error.value_or(WebError()).code()), QStringLiteral("webViewInvalidated"));
        QVERIFY(drainPosted()); // the engine answered during the delete: nothing more may follow
        QCOMPARE(result->calls, 1);
    }

    // ---- cookies ----

    void cookies()
    {
        HTTPCookieStore &store = WebView::cookieStore();
        auto all = [&] {
            std::optional<QStringList> out;
            store.allCookies([&](const QList<QNetworkCookie> &cookies) {
                out.emplace();
                for (const QNetworkCookie &c : cookies)
                    *out << QString::fromLatin1(c.name() + '=' + c.value() + '@') + c.domain();
                out->sort();
            });
            waitUntil([&] { return out.has_value(); });
            return out.value_or(QStringList{"no answer"});
        };
        auto settle = [&](auto change) {
            bool done = false;
            change([&] { done = true; });
            return waitUntil([&] { return done; });
        };

        QVERIFY(settle([&](auto done) { store.deleteAllCookies(done); }));
        QCOMPARE(all(), QStringList{});

        // From the page's reply, there as soon as the page has finished.
        QVERIFY(loadAndWait(url("/cookie")));
        QCOMPARE(all(), QStringList{"visit=1@127.0.0.1"});

        // From us, seen by the page.
        QNetworkCookie token("token", "xyz");
        token.setPath("/");
        QVERIFY(settle([&](auto done) { store.setCookie(token, url("/"), done); }));
        QCOMPARE(all(), (QStringList{"token=xyz@127.0.0.1", "visit=1@127.0.0.1"}));
        QVERIFY(evaluate("document.cookie").value.toString().contains("token=xyz"));

        token.setDomain("127.0.0.1");
        QVERIFY(settle([&](auto done) { store.deleteCookie(token, url("/"), done); }));
        QCOMPARE(all(), QStringList{"visit=1@127.0.0.1"});
        QVERIFY(!evaluate("document.cookie").value.toString().contains("token"));
    }

    // ---- back and forward ----

    void backForwardGestures()
    {
        QVERIFY(loadAndWait(url("/page?a")));
        QVERIFY(loadAndWait(url("/page?b")));
        QWidget *surface = m_view->engineView()->focusProxy();
        auto backButton = [&] {
            const QPointF at(10, 10);
            QMouseEvent press(QEvent::MouseButtonPress, at, surface->mapToGlobal(at), Qt::BackButton, Qt::BackButton,
                              Qt::NoModifier);
            QApplication::sendEvent(surface, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, surface->mapToGlobal(at), Qt::BackButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &release);
        };

        // Off by default, and then even the engine's own back button is held.
        QVERIFY(!m_view->allowsBackForwardNavigationGestures());
        backButton();
        QTest::keyClick(surface, Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(evaluate("1").calls, 1); // a round trip through the engine
        QVERIFY(!m_view->isLoading());
        QCOMPARE(m_view->url(), std::optional<QUrl>(url("/page?b")));

        m_view->setAllowsBackForwardNavigationGestures(true);
        backButton();
        QTRY_COMPARE_WITH_TIMEOUT(m_view->url(), std::optional<QUrl>(url("/page?a")), kWait);
        QTest::keyClick(surface, Qt::Key_Right, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(m_view->url(), std::optional<QUrl>(url("/page?b")), kWait);
    }

    // ---- threads ----

    void offMainThreadCallIsFatal()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVIX_WEB_OFF_THREAD_PROBE", "1");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(kWait));
        QVERIFY(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
        QVERIFY(child.readAllStandardError().contains("HTTPCookieStore::shared called off the main thread"));
    }
};

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
