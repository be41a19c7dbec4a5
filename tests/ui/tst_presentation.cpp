// Modal presentation: full screen and sheets, the lifecycle calls, the user's
// close of a sheet, ownership after dismissal, and the main-thread check.

#include "logcapture.h"
#include "platform/ui/textfield.h"
#include "platform/ui/toast.h"
#include "platform/ui/viewcontroller.h"

#include <QApplication>
#include <QDialog>
#include <QLayout>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QtTest>

using namespace orvix::platform::ui;

namespace {

// Records its lifecycle calls and whether the view was visible at each.
class Recorder : public ViewController {
public:
    QStringList events;
    void viewDidLoad() override { events << "didLoad"; }
    void viewWillAppear(bool) override { events << (view()->isVisible() ? "willAppear:visible" : "willAppear"); }
    void viewDidAppear(bool) override { events << (view()->isVisible() ? "didAppear:visible" : "didAppear"); }
    void viewWillDisappear(bool) override { events << "willDisappear"; }
    void viewDidDisappear(bool) override { events << (view()->isVisible() ? "didDisappear:visible" : "didDisappear"); }
};

struct CountingDelegate : AdaptivePresentationControllerDelegate {
    int dismissed = 0;
    void presentationControllerDidDismiss(PresentationController *) override { ++dismissed; }
};

// A shown host window wrapped by a controller.
struct Host {
    QWidget window;
    std::shared_ptr<ViewController> controller;
    Host()
    {
        window.resize(400, 600);
        window.show();
        controller = ViewController::wrapping(&window);
    }
};

QDialog *sheetOf(const std::shared_ptr<ViewController> &vc)
{
    return qobject_cast<QDialog *>(vc->view()->window());
}

} // namespace

class TestPresentation : public QObject {
    Q_OBJECT
private slots:
    void lifecycleRunsInOrder();
    void fullScreenCoversTheHostWindow();
    void fullScreenWithoutAShownHostGetsAWindow();
    void sheetIsWindowModalAndItsUserCloseReachesTheDelegateOnce_data();
    void sheetIsWindowModalAndItsUserCloseReachesTheDelegateOnce();
    void dismissalByCodeDoesNotReachTheDelegate();
    void dismissedControllerIsReleased();
    void controllerHeldElsewhereStaysValid();
    void dismissTakesDownEverythingAbove();
    void presentingTwiceIsRefused();
    void offMainThreadIsFatal_data();
    void offMainThreadIsFatal();
};

void TestPresentation::lifecycleRunsInOrder()
{
    Host host;
    auto vc = std::make_shared<Recorder>();
    vc->modalPresentationStyle = ModalPresentationStyle::fullScreen;
    bool presented = false;
    host.controller->present(vc, true, [&] {
        vc->events << "completion";
        presented = true;
    });
    // The completion comes from the event loop, not from inside present().
    QVERIFY(!presented);
    QTRY_VERIFY(presented);
    QCOMPARE(vc->events, QStringList({"didLoad", "willAppear", "didAppear:visible", "completion"}));

    bool dismissed = false;
    host.controller->dismiss(true, [&] { dismissed = true; });
    QTRY_VERIFY(dismissed);
    vc->events.clear();
    presented = false;
    host.controller->present(vc, false, [&] { presented = true; });
    QTRY_VERIFY(presented);
    QCOMPARE(vc->events, QStringList({"willAppear", "didAppear:visible"}));
}

void TestPresentation::fullScreenCoversTheHostWindow()
{
    Host host;
    auto *content = new QWidget(&host.window);
    content->setGeometry(0, 0, 400, 600);
    content->show();
    auto vc = std::make_shared<ViewController>();
    vc->modalPresentationStyle = ModalPresentationStyle::fullScreen;
    host.controller->present(vc, false);

    QWidget *view = vc->view();
    QCOMPARE(view->window(), &host.window);
    QVERIFY(view->isVisible());
    QCOMPARE(view->geometry(), host.window.rect());
    QWidget *hit = host.window.childAt(200, 300);
    QVERIFY(hit == view || view->isAncestorOf(hit));
    QCOMPARE(vc->presentingViewController(), host.controller);
    QCOMPARE(host.controller->presentedViewController(), std::static_pointer_cast<ViewController>(vc));
    QVERIFY(vc->presentationController() == nullptr);

    host.window.resize(500, 700);
    QTRY_COMPARE(view->geometry(), QRect(0, 0, 500, 700));

    host.controller->dismiss(false);
    QVERIFY(!view->isVisible());
    QVERIFY(view->parentWidget() == nullptr);
    QVERIFY(!vc->presentingViewController());
}

void TestPresentation::fullScreenWithoutAShownHostGetsAWindow()
{
    QWidget hidden;
    for (QWidget *window : {static_cast<QWidget *>(nullptr), &hidden}) {
        auto host = ViewController::wrapping(window);
        auto vc = std::make_shared<ViewController>();
        vc->modalPresentationStyle = ModalPresentationStyle::fullScreen;
        host->present(vc, false);
        QVERIFY(vc->view()->isWindow() && vc->view()->isVisible());
        host->dismiss(false);
        QVERIFY(!vc->view()->isVisible());
    }
}

void TestPresentation::sheetIsWindowModalAndItsUserCloseReachesTheDelegateOnce_data()
{
    // What the person does: "close" (the close button), or Escape pressed in
    // "sheet", in "field" (a field on the sheet) or in "other" (another window
    // of the host, which only the close button may follow).
    QTest::addColumn<QString>("action");
    QTest::newRow("close button") << "close";
    QTest::newRow("escape") << "sheet";
    QTest::newRow("escape in a field of the sheet") << "field";
    QTest::newRow("escape in another window of the host") << "other";
}

void TestPresentation::sheetIsWindowModalAndItsUserCloseReachesTheDelegateOnce()
{
    QFETCH(QString, action);
    Host host;
    QWidget other;
    other.resize(200, 200);
    other.show();
    auto delegate = std::make_shared<CountingDelegate>();
    std::weak_ptr<ViewController> weak;
    QPointer<QDialog> sheet;
    {
        auto vc = std::make_shared<Recorder>();
        weak = vc;
        QCOMPARE(vc->modalPresentationStyle, ModalPresentationStyle::automatic);
        vc->presentationController()->delegate = delegate;
        host.controller->present(vc, true);
        QCOMPARE(vc->presentationController()->presentingViewController(), host.controller);
        sheet = sheetOf(vc);
    }
    QVERIFY(sheet && sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->parentWidget(), &host.window);
    if (action == "field") {
        auto *field = new QLineEdit(sheet);
        sheet->layout()->addWidget(field);
        QTest::keyClick(field, Qt::Key_Escape);
    } else if (action == "sheet") {
        QTest::keyClick(sheet, Qt::Key_Escape);
    } else if (action == "other") {
        QTest::keyClick(&other, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(delegate->dismissed, 0);
        QVERIFY(host.controller->presentedViewController());
    }
    if (action == "close" || action == "other")
        sheet->close();

    QTRY_COMPARE(delegate->dismissed, 1);
    QVERIFY(!host.controller->presentedViewController());
    QTRY_VERIFY(sheet.isNull());
    QTRY_VERIFY(weak.expired());
    QCoreApplication::processEvents();
    QCOMPARE(delegate->dismissed, 1);
}

void TestPresentation::dismissalByCodeDoesNotReachTheDelegate()
{
    Host host;
    auto delegate = std::make_shared<CountingDelegate>();
    auto vc = std::make_shared<Recorder>();
    vc->presentationController()->delegate = delegate;
    host.controller->present(vc, true);

    bool done = false;
    vc->dismiss(true, [&] { done = true; }); // a presented controller dismisses itself
    QTRY_VERIFY(done);
    QCOMPARE(delegate->dismissed, 0);
    QVERIFY(!host.controller->presentedViewController());
    QVERIFY(vc->events.contains("willDisappear"));
    QCOMPARE(vc->events.last(), QString("didDisappear"));
}

void TestPresentation::dismissedControllerIsReleased()
{
    Host host;
    std::weak_ptr<ViewController> weak;
    QPointer<QWidget> view;
    {
        auto vc = std::make_shared<ViewController>();
        vc->modalPresentationStyle = ModalPresentationStyle::fullScreen;
        host.controller->present(vc, false);
        weak = vc;
        view = vc->view();
    }
    QVERIFY(!weak.expired()); // the presenting controller holds it
    host.controller->dismiss(true);
    QVERIFY(!weak.expired()); // until the dismissal has completed
    QTRY_VERIFY(weak.expired());
    QTRY_VERIFY(view.isNull());
}

void TestPresentation::controllerHeldElsewhereStaysValid()
{
    Host host;
    auto held = std::make_shared<ViewController>();
    auto *field = new TextField(held->view());
    QPointer<TextField> outlet(field);
    host.controller->present(held, false);
    bool done = false;
    host.controller->dismiss(false, [&] { done = true; });
    QTRY_VERIFY(done);
    QCoreApplication::processEvents();

    // A pending request still holds the screen: its widgets live on, hidden.
    QVERIFY(outlet);
    QVERIFY(!held->view()->isVisible());
    outlet->setText("still usable");
    QCOMPARE(outlet->text(), QString("still usable"));

    // The last holder lets go on a worker thread: the widgets go on the main thread.
    QPointer<QWidget> view = held->view();
    QThread *worker = QThread::create([held = std::move(held)]() mutable { held.reset(); });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    QTRY_VERIFY(view.isNull());
    QVERIFY(outlet.isNull());
}

void TestPresentation::dismissTakesDownEverythingAbove()
{
    Host host;
    auto a = std::make_shared<Recorder>();
    auto b = std::make_shared<Recorder>();
    auto c = std::make_shared<Recorder>();
    a->modalPresentationStyle = ModalPresentationStyle::fullScreen;
    c->modalPresentationStyle = ModalPresentationStyle::fullScreen;
    host.controller->present(a, false);
    a->present(b, false); // a sheet over the host window
    b->present(c, false); // covers the sheet
    QCOMPARE(c->view()->window(), b->view()->window());

    // On a presenting controller, dismiss takes down what it presented.
    b->dismiss(false);
    QVERIFY(!c->view()->isVisible() && b->view()->isVisible());

    b->present(c, false);
    bool done = false;
    host.controller->dismiss(false, [&] { done = true; });
    QTRY_VERIFY(done);
    for (auto *vc : {a.get(), b.get(), c.get()}) {
        QVERIFY(!vc->view()->isVisible() && !vc->presentingViewController());
        QCOMPARE(vc->events.last(), QString("didDisappear"));
    }
}

void TestPresentation::presentingTwiceIsRefused()
{
    Host host;
    LogCapture log;
    auto first = std::make_shared<ViewController>();
    auto second = std::make_shared<ViewController>();
    host.controller->present(first, false);
    host.controller->present(second, false);
    second->present(first, false);
    QCOMPARE(host.controller->presentedViewController(), first);
    QVERIFY(!second->isViewLoaded() && !second->presentedViewController());
    QVERIFY(log.contains("already presented"));
}

void TestPresentation::offMainThreadIsFatal_data()
{
    QTest::addColumn<QString>("call");
    QTest::newRow("view") << "view";
    QTest::newRow("present") << "present";
    QTest::newRow("toast") << "toast";
    QTest::newRow("text field") << "textfield";
}

void TestPresentation::offMainThreadIsFatal()
{
    QFETCH(QString, call);
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--off-main-thread", call});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY(child.exitStatus() == QProcess::CrashExit || child.exitCode() != 0);
    QVERIFY2(child.readAllStandardError().contains("must run on the main thread"), qPrintable(call));
}

// The child of offMainThreadIsFatal: makes one UI call from a worker thread.
static int offMainThread(const QString &call)
{
    QThread *worker = QThread::create([call] {
        if (call == "view") {
            ViewController::wrapping(nullptr)->view();
        } else if (call == "present") {
            auto host = ViewController::wrapping(nullptr);
            host->present(std::make_shared<ViewController>(), false);
        } else if (call == "toast") {
            hideAllToasts(nullptr);
        } else if (call == "textfield") {
            TextField field;
        }
    });
    worker->start();
    worker->wait();
    delete worker;
    return 0; // reached only when the call was not stopped
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == "--off-main-thread")
        return offMainThread(args.at(2));
    TestPresentation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_presentation.moc"
