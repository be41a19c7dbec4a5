// The base screen: Aadhaar grouping, the offline XML lookup, toasts, and the
// screen size values.

#include "logcapture.h"
#include "orvix_ios_native_sdk/core/BaseViewController.h"
#include "orvix_ios_native_sdk/core/ScreenSize.h"
#include "platform/ui/toast.h"
#include "platform/ui/viewcontroller.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <future>

using namespace orvix;
namespace ui = orvix::platform::ui;

class TestBaseScreen : public QObject {
    Q_OBJECT
private slots:
    void formatAadhaarNumber_data();
    void formatAadhaarNumber();
    void listOfflineXMLFiles();
    void listOfflineXMLFilesOfAMissingFolder();
    void toastReplacesTheOneOnScreen_data();
    void toastReplacesTheOneOnScreen();
    void toastGoesAwayAfterItsDuration();
    void toastWithoutAWindowShowsNothing();
    void screenSizeIsThePrimaryScreens();
};

void TestBaseScreen::formatAadhaarNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("twelve digits") << "987654321098" << "9876 5432 1098";
    QTest::newRow("blank set again") << "9876 98" << "9876 98";
    QTest::newRow("no trailing blank") << "98765432" << "9876 5432";
    QTest::newRow("tab removed") << "9876\t5432" << "9876 5432";
    QTest::newRow("unicode spaces") << QString::fromUtf8("98\u00A076\u300054") << "9876 54";
    QTest::newRow("line break kept") << "98\n765" << "98\n7 65";
    QTest::newRow("characters, not code units") << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301x")
                                                << QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301 x");
    QTest::newRow("empty") << "" << "";
}

void TestBaseScreen::formatAadhaarNumber()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(BaseViewController::formatAadhaarNumber(text), expected);
}

void TestBaseScreen::listOfflineXMLFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"offline_77.xml", "Offline_9.xml", "offline.XML", "data.xml", ".offline_hidden.xml",
                             "offline_77.xml.zip", "my-offline.xml"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkpath("nested"));
    QFile nested(dir.filePath("nested/offline_1.xml"));
    QVERIFY(nested.open(QIODevice::WriteOnly));

    const QList<QUrl> found = BaseViewController::listOfflineXMLFiles(QUrl::fromLocalFile(dir.path()));
    QStringList names;
    for (const QUrl &url : found) {
        QVERIFY(url.isLocalFile());
        QCOMPARE(QFileInfo(url.toLocalFile()).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        names << url.fileName();
    }
    names.sort();
    QCOMPARE(names, QStringList({".offline_hidden.xml", "my-offline.xml", "offline_77.xml"}));
}

void TestBaseScreen::listOfflineXMLFilesOfAMissingFolder()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("gone");
    LogCapture log;
    QVERIFY(BaseViewController::listOfflineXMLFiles(QUrl::fromLocalFile(missing)).isEmpty());
    QCOMPARE(log.lines().size(), 1);
    QVERIFY(log.lines().first().startsWith("Error while enumerating files " + missing + ": "));
    QVERIFY(log.lines().first().size() > QString("Error while enumerating files " + missing + ": ").size());

    // A file is no folder either.
    QFile file(dir.filePath("plain"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(BaseViewController::listOfflineXMLFiles(QUrl::fromLocalFile(file.fileName())).isEmpty());
    QCOMPARE(log.lines().size(), 2);
}

void TestBaseScreen::toastReplacesTheOneOnScreen_data()
{
    // Two host windows; what the kit presents over the second, and where
    // the toast must go: "first" (the first window), "second", "sheet".
    QTest::addColumn<QString>("presented");
    QTest::addColumn<QString>("expected");
    // The message and what the toast keeps of it.
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    // How many lines it takes on screen, and those lines when they do not
    // depend on the font (else empty).
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("ellipsis"); // the toast ends in "…"
    const QString captcha = "Please enter valid captcha";
    const QStringList one{captcha};
    QTest::newRow("nothing presented") << "" << "first" << captcha << captcha << 1 << one << false;
    QTest::newRow("sheet over the second window") << "sheet" << "sheet" << captcha << captcha << 1 << one << false;
    QTest::newRow("full screen over the second window") << "full" << "second" << captcha << captcha << 1 << one << false;
    QTest::newRow("sheet over a full-screen screen") << "full,sheet" << "sheet" << captcha << captcha << 1 << one << false;
    QTest::newRow("sheet dismissed again") << "sheet,dismissed" << "first" << captcha << captcha << 1 << one << false;
    // A server's text of any length: at most 300 characters as a person
    // sees them, "…" among them, and never half a character.
    const QString huge = "<h1>" + QString(10'000'000, 'x');
    QTest::newRow("10 MB message") << "" << "first" << huge << huge.left(299) + QChar(0x2026) << 4 << QStringList() << true;
    const QString across = QString(299, 'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + QString(1000, 'b');
    QTest::newRow("a character across the cut") << "" << "first" << across << QString(299, 'a') + QChar(0x2026) << 4
                                                << QStringList() << true;
    const QString exactly = QString("word ").repeated(60).chopped(1) + ".";
    QTest::newRow("exactly 300 characters") << "" << "first" << exactly << exactly << 4 << QStringList() << true;
    const QString accent = QString::fromUtf8("e\u0301");
    QTest::newRow("300 characters of two code units") << "" << "first" << accent.repeated(300) << accent.repeated(300)
                                                      << 4 << QStringList() << true;
    QTest::newRow("301 characters of two code units") << "" << "first" << accent.repeated(301)
                                                      << accent.repeated(299) + QChar(0x2026) << 4 << QStringList() << true;
    const QString flag = QString::fromUtf8("\U0001F1EE\U0001F1F3");
    QTest::newRow("301 flags") << "" << "first" << flag.repeated(301) << flag.repeated(299) + QChar(0x2026) << 4
                               << QStringList() << true;
    const QString marks = "a" + QString(100'000, QChar(0x0301));
    QTest::newRow("one character of 100,000 marks") << "" << "first" << marks << QString(QChar(0x2026)) << 1
                                                    << QStringList{QString(QChar(0x2026))} << true;
    // At most four lines over the form.
    QStringList forty;
    for (int i = 1; i <= 40; ++i)
        forty << QString::number(i);
    QTest::newRow("40 lines") << "" << "first" << forty.join('\n') << forty.join('\n') << 4
                              << QStringList{"1", "2", "3", "4" + QString(QChar(0x2026))} << true;
    QTest::newRow("four lines, nothing cut") << "" << "first" << "a\nb\r\nc\nd" << "a\nb\r\nc\nd" << 4
                                             << QStringList{"a", "b", "c", "d"} << false;
    const QString pushedDown = QString(40, '\n') + captcha;
    QTest::newRow("40 line breaks, then the text") << "" << "first" << pushedDown << pushedDown << 1 << one << false;
}

void TestBaseScreen::toastReplacesTheOneOnScreen()
{
    QFETCH(QString, presented);
    QFETCH(QString, expected);
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QFETCH(int, lineCount);
    QFETCH(QStringList, lines);
    QFETCH(bool, ellipsis);
    QWidget first;
    first.resize(400, 700);
    first.show();
    QWidget second;
    second.resize(500, 600);
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    auto screen = std::make_shared<BaseViewController>();
    const QColor lightGray = QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3);
    // A toast from before the presentation goes when the next one comes.
    screen->showToast("first", Qt::red);

    std::shared_ptr<ui::ViewController> top = ui::ViewController::wrapping(&second);
    const std::shared_ptr<ui::ViewController> host = top;
    if (presented.contains("full")) {
        auto cover = std::make_shared<ui::ViewController>();
        cover->modalPresentationStyle = ui::ModalPresentationStyle::fullScreen;
        top->present(cover, false);
        top = cover;
    }
    if (presented.contains("sheet")) {
        auto sheet = std::make_shared<ui::ViewController>();
        top->present(sheet, true);
        QVERIFY(sheet->isPresented());
        top = sheet;
    }
    if (presented.contains("dismissed"))
        host->dismiss(false);

    QWidget *window = expected == "first" ? &first : expected == "second" ? &second : top->view()->window();
    QVERIFY(window->isVisible());
    if (expected == "sheet")
        QVERIFY(window != &first && window != &second && window->windowModality() == Qt::WindowModal);
    screen->showToast(message, lightGray);

    const QList<ui::ShownToast> toasts = ui::shownToasts();
    QCOMPARE(toasts.size(), 1);
    const ui::ShownToast &t = toasts.first();
    QCOMPARE(t.message, shown);
    QCOMPARE(t.lines.size(), lineCount);
    if (!lines.isEmpty())
        QCOMPARE(t.lines, lines);
    // "…" exactly when something did not fit, and only at the end.
    QCOMPARE(t.lines.last().endsWith(QChar(0x2026)), ellipsis);
    QFont font = window->font();
    font.setPointSize(12);
    QVERIFY(t.geometry.height() <= lineCount * QFontMetrics(font).lineSpacing() + 2 * 10);
    QVERIFY(t.geometry.width() <= int(window->width() * 0.8));
    QCOMPARE(t.window.data(), window);
    QCOMPARE(t.backgroundColor, lightGray);
    QCOMPARE(t.messageColor, QColor(Qt::black));
    QCOMPARE(t.horizontalPadding, 40);
    QCOMPARE(t.verticalPadding, 10);
    QCOMPARE(t.cornerRadius, 22.0);
    QVERIFY(t.messageAlignment & Qt::AlignHCenter);
    QCOMPARE(t.durationMs, 3000);
    QVERIFY(t.remainingMs > 0 && t.remainingMs <= 3000);
    // At the bottom, centred, in front of a full-screen screen on that window.
    QCOMPARE(t.geometry.bottom() + 1, window->height() - 10);
    QVERIFY(qAbs(t.geometry.center().x() - window->width() / 2) <= 1);
    QWidget *atToast = window->childAt(t.geometry.center());
    QVERIFY(atToast);
    QCOMPARE(atToast->objectName(), QString("orvix-toast"));
    host->dismiss(false);
    ui::hideAllToasts(window);
    QVERIFY(ui::shownToasts().isEmpty());
}

void TestBaseScreen::toastGoesAwayAfterItsDuration()
{
    QWidget window;
    window.show();
    const int saved = ui::ToastManager::shared().duration;
    ui::ToastManager::shared().duration = 50;
    BaseViewController().showToast("short", Qt::gray);
    ui::ToastManager::shared().duration = saved;
    QCOMPARE(ui::shownToasts().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(ui::shownToasts().isEmpty(), 2000);
}

void TestBaseScreen::toastWithoutAWindowShowsNothing()
{
    QWidget hidden;
    QVERIFY(!ui::firstWindow());
    BaseViewController().showToast("nobody sees this", Qt::gray);
    QVERIFY(ui::shownToasts().isEmpty());
}

void TestBaseScreen::screenSizeIsThePrimaryScreens()
{
    const QRect geometry = QGuiApplication::primaryScreen()->geometry();
    // The first reads race on worker threads; all see the same value.
    std::vector<std::future<QSizeF>> reads;
    for (int i = 0; i < 4; ++i)
        reads.push_back(std::async(std::launch::async, [] { return QSizeF(screenWidth(), screenHeight()); }));
    for (auto &read : reads)
        QCOMPARE(read.get(), QSizeF(geometry.size()));
    QVERIFY(screenWidth() > 0);
}

QTEST_MAIN(TestBaseScreen)
#include "tst_basescreen.moc"
