// The text field's delegate, the spinner, the keyboard manager, endEditing
// and the bounded picture decoder.

#include "platform/ui/activityindicator.h"
#include "picturebombs.h"
#include "platform/ui/keyboardmanager.h"
#include "platform/ui/picture.h"
#include "platform/ui/textfield.h"
#include "platform/ui/view.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImageReader>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtTest>

using namespace orvix::platform::ui;

Q_DECLARE_METATYPE(orvix::platform::ui::PictureBounds)

namespace {

struct Question {
    TextRange range;
    QString replacement;
};

// Records every question; refuses when the new text would exceed `limit`
// or when `refuseAll` is set.
struct Recorder : TextFieldDelegate {
    QList<Question> questions;
    int limit = 1000;
    bool refuseAll = false;
    bool shouldChangeCharactersIn(TextField *field, TextRange range, const QString &replacement) override
    {
        questions.append({range, replacement});
        return !refuseAll && field->text().size() + replacement.size() - range.length <= limit;
    }
};

template <class Field = TextField>
struct Fixture {
    Field field;
    std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
    QSignalSpy changed{&field, &TextField::editingChanged};
    Fixture(const QString &text = {})
    {
        field.setText(text);
        field.setDelegate(delegate);
    }
};

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void typingIsAskedPerKeyAndRefusedWhole();
    void deletionsAskWithTheirRange_data();
    void deletionsAskWithTheirRange();
    void pasteIsOneQuestionWithTheWholeText();
    void cutAndUndoAreAsked();
    void dropAndInputMethodAreAsked();
    void programmaticChangesNeitherAskNorReport();
    void spinnerStartsAndStops();
    void keyboardManagerMovesOnEnterAndScrolls();
    void endEditingClearsFocusInsideTheView();
    void decodesOnlyWhatItCanAfford_data();
    void decodesOnlyWhatItCanAfford();
    void aDecodedPictureMustMatchItsHeader_data();
    void aDecodedPictureMustMatchItsHeader();
    void backgroundDecodeCallsBackOnTheMainThread_data();
    void backgroundDecodeCallsBackOnTheMainThread();
};

void TestControls::typingIsAskedPerKeyAndRefusedWhole()
{
    Fixture<> f;
    f.delegate->limit = 4;
    QTest::keyClicks(&f.field, "12345");
    QCOMPARE(f.field.text(), QString("1234"));
    QCOMPARE(f.delegate->questions.size(), 5);
    QCOMPARE(f.delegate->questions.at(2).range, TextRange({2, 0}));
    QCOMPARE(f.delegate->questions.at(2).replacement, QString("3"));
    QCOMPARE(f.changed.count(), 4);

    // Typing over a selection replaces it in one question.
    f.field.setSelection(1, 2);
    QTest::keyClick(&f.field, Qt::Key_X);
    QCOMPARE(f.delegate->questions.last().range, TextRange({1, 2}));
    QCOMPARE(f.delegate->questions.last().replacement, QString("x"));
    QCOMPARE(f.field.text(), QString("1x4"));
}

void TestControls::deletionsAskWithTheirRange_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("location");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("after");
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << 6 << 1 << "abc degh";
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << 7 << 1 << "abc defh";
    QTest::newRow("word backward") << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << 4 << 3 << "abc gh";
}

void TestControls::deletionsAskWithTheirRange()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, location);
    QFETCH(int, length);
    QFETCH(QString, after);

    Fixture<> f("abc defgh");
    f.field.setCursorPosition(7);
    f.delegate->refuseAll = true;
    QTest::keyClick(&f.field, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.field.text(), QString("abc defgh"));
    QCOMPARE(f.field.cursorPosition(), 7);
    QCOMPARE(f.changed.count(), 0);
    QCOMPARE(f.delegate->questions.size(), 1);
    QCOMPARE(f.delegate->questions.first().range, TextRange({location, length}));
    QVERIFY(f.delegate->questions.first().replacement.isEmpty());

    f.delegate->refuseAll = false;
    QTest::keyClick(&f.field, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.field.text(), after);
    QCOMPARE(f.changed.count(), 1);
    // What a handler of the change learns about it.
    QCOMPARE(f.field.lastEdit().range, TextRange({location, length}));
    QCOMPARE(f.field.lastEdit().replaced, QString("abc defgh").mid(location, length));
    QCOMPARE(f.field.lastEdit().cursorBefore, 7);
}

void TestControls::pasteIsOneQuestionWithTheWholeText()
{
    Fixture<> f("1234");
    QGuiApplication::clipboard()->setText("98765");
    f.field.setCursorPosition(2);
    f.delegate->limit = 8;
    QTest::keyClick(&f.field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.delegate->questions.size(), 1);
    QCOMPARE(f.delegate->questions.first().range, TextRange({2, 0}));
    QCOMPARE(f.delegate->questions.first().replacement, QString("98765"));
    QCOMPARE(f.field.text(), QString("1234")); // 9 characters would be too many
    QCOMPARE(f.changed.count(), 0);

    // Over a selection the replaced length counts off.
    f.field.setSelection(1, 2);
    QTest::keyClick(&f.field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.delegate->questions.last().range, TextRange({1, 2}));
    QCOMPARE(f.field.text(), QString("1987654"));
    QCOMPARE(f.changed.count(), 1);

    // The context menu's paste goes through the same question.
    f.field.selectAll();
    f.delegate->refuseAll = true;
    f.field.userPaste();
    QCOMPARE(f.delegate->questions.last().range, TextRange({0, 7}));
    QCOMPARE(f.field.text(), QString("1987654"));
}

void TestControls::cutAndUndoAreAsked()
{
    Fixture<> f("abcd");
    QGuiApplication::clipboard()->setText("untouched");
    f.field.setSelection(1, 2);
    f.delegate->refuseAll = true;
    QTest::keyClick(&f.field, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(f.field.text(), QString("abcd"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("untouched"));

    f.delegate->refuseAll = false;
    QTest::keyClick(&f.field, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(f.field.text(), QString("ad"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("bc"));

    // Undo brings "bc" back: refused, the text and the history stay.
    f.delegate->refuseAll = true;
    QTest::keyClick(&f.field, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.delegate->questions.last().range, TextRange({1, 0}));
    QCOMPARE(f.delegate->questions.last().replacement, QString("bc"));
    QCOMPARE(f.field.text(), QString("ad"));
    QVERIFY(f.field.isUndoAvailable());

    f.delegate->refuseAll = false;
    f.field.userUndo();
    QCOMPARE(f.field.text(), QString("abcd"));
    QCOMPARE(f.changed.count(), 2);
}

void TestControls::dropAndInputMethodAreAsked()
{
    // Drops only arrive during a real drag; hand one over directly.
    struct Droppable : TextField {
        using TextField::dropEvent;
    };
    Fixture<Droppable> f("abc");
    f.delegate->refuseAll = true;
    QMimeData mime;
    mime.setText("XYZ");
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    f.field.dropEvent(&drop);
    QCOMPARE(f.field.text(), QString("abc"));
    QCOMPARE(f.delegate->questions.size(), 1);
    QCOMPARE(f.delegate->questions.last().replacement, QString("XYZ"));

    f.field.setCursorPosition(3);
    QInputMethodEvent commit;
    commit.setCommitString("de");
    QCoreApplication::sendEvent(&f.field, &commit);
    QCOMPARE(f.field.text(), QString("abc"));
    QCOMPARE(f.delegate->questions.size(), 2);
    QCOMPARE(f.delegate->questions.last().range, TextRange({3, 0}));
    QCOMPARE(f.delegate->questions.last().replacement, QString("de"));
    QCOMPARE(f.changed.count(), 0);
}

void TestControls::programmaticChangesNeitherAskNorReport()
{
    Fixture<> f;
    f.field.setText("123");
    f.field.insert("4");
    f.field.clear();
    QVERIFY(f.delegate->questions.isEmpty());
    QCOMPARE(f.changed.count(), 0);

    // The delegate is held weakly: once gone, every edit is allowed.
    f.delegate->refuseAll = true;
    f.delegate.reset();
    QVERIFY(!f.field.delegate());
    QTest::keyClicks(&f.field, "56");
    QCOMPARE(f.field.text(), QString("56"));
}

void TestControls::spinnerStartsAndStops()
{
    QWidget window;
    auto *spinner = new ActivityIndicatorView(&window);
    window.show();
    QVERIFY(!spinner->isAnimating() && !spinner->isVisible());
    spinner->startAnimating();
    QVERIFY(spinner->isAnimating() && spinner->isVisible());
    spinner->stopAnimating();
    QVERIFY(!spinner->isAnimating() && !spinner->isVisible());
    spinner->setHidesWhenStopped(false);
    spinner->startAnimating();
    spinner->stopAnimating();
    QVERIFY(!spinner->isAnimating() && spinner->isVisible());
}

void TestControls::keyboardManagerMovesOnEnterAndScrolls()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *area = new QScrollArea;
    layout->addWidget(area);
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    auto *first = new TextField;
    auto *spacer = new QWidget;
    spacer->setFixedHeight(2000);
    auto *readOnly = new TextField;
    readOnly->setReadOnly(true);
    auto *second = new TextField;
    column->addWidget(first);
    column->addWidget(spacer);
    column->addWidget(readOnly);
    column->addWidget(second);
    area->setWidget(content);
    window.resize(300, 300);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    KeyboardManager::shared().setEnable(false);
    first->setFocus();
    QTRY_VERIFY(first->hasFocus());
    QTest::keyClick(first, Qt::Key_Return);
    QCoreApplication::processEvents();
    QVERIFY(first->hasFocus());

    KeyboardManager::shared().setEnable(true);
    QVERIFY(KeyboardManager::shared().enable());
    QTest::keyClick(first, Qt::Key_Return);
    QTRY_VERIFY(second->hasFocus());
    QVERIFY(area->verticalScrollBar()->value() > 0);
    KeyboardManager::shared().setEnable(false);
}

void TestControls::endEditingClearsFocusInsideTheView()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *view = new QWidget;
    auto *inner = new TextField(view);
    auto *outer = new TextField;
    layout->addWidget(view);
    layout->addWidget(outer);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    outer->setFocus();
    QVERIFY(!endEditing(view, true));
    QVERIFY(outer->hasFocus());
    inner->setFocus();
    QVERIFY(endEditing(view, true));
    QVERIFY(!inner->hasFocus());
}

namespace pictures {

using namespace orvix::testsupport;

PictureBounds withPixels(PictureBounds bounds, qint64 maxPixels)
{
    bounds.maxPixels = maxPixels;
    return bounds;
}

PictureBounds withBytes(PictureBounds bounds, qint64 maxBytes)
{
    bounds.maxBytes = maxBytes;
    return bounds;
}

QImage grey(QSize size)
{
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(90);
    return image;
}

// A byte put after the JPEG's first segment, where a marker must come.
QByteArray withStrayByte(QByteArray jpeg)
{
    return jpeg.insert(4 + qFromBigEndian<quint16>(jpeg.constData() + 4), '\x00');
}

// Holds every worker of the global pool until released (at the latest when
// it goes).
class HeldPool {
public:
    HeldPool()
    {
        for (int i = 0; i < m_workers; ++i) {
            QThreadPool::globalInstance()->start([started = m_started, hold = m_hold] {
                started->release();
                hold->acquire();
            });
        }
        m_started->acquire(m_workers);
    }
    ~HeldPool() { release(); }
    void release()
    {
        m_hold->release(std::exchange(m_workers, 0));
    }

private:
    int m_workers = QThreadPool::globalInstance()->maxThreadCount();
    std::shared_ptr<QSemaphore> m_started = std::make_shared<QSemaphore>();
    std::shared_ptr<QSemaphore> m_hold = std::make_shared<QSemaphore>();
};

} // namespace pictures

// A row: the bytes, the bounds, and either the size shown or a refusal that
// says why in words.
void TestControls::decodesOnlyWhatItCanAfford_data()
{
    using namespace pictures;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PictureBounds>("bounds");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QString>("refusal");
    const PictureBounds photograph = PictureBounds::photograph();
    const PictureBounds captcha = PictureBounds::captcha();
    const QByteArray photo = jpegOf(photoLike({400, 500}), 90);
    const QByteArray captchaPng = pngOf(photoLike({200, 60}));
    const QSize none(0, 0); // a null image's

    QTest::newRow("photograph, baseline") << photo << photograph << QSize(400, 500) << QString();
    QTest::newRow("photograph, progressive") << jpegOf(photoLike({400, 500}), 90, true) << photograph << QSize(400, 500)
                                             << QString();
    QTest::newRow("photograph, restart markers") << libjpegOf(photoLike({400, 500}), 1, false) << photograph
                                                 << QSize(400, 500) << QString();
    QTest::newRow("photograph, progressive, restart markers") << libjpegOf(photoLike({400, 500}), 1, true)
                                                              << photograph << QSize(400, 500) << QString();
    QTest::newRow("captcha PNG") << captchaPng << captcha << QSize(200, 60) << QString();
    QTest::newRow("captcha JPEG") << jpegOf(photoLike({200, 60})) << captcha << QSize(200, 60) << QString();
    QTest::newRow("PNG where only JPEG comes") << captchaPng << photograph << none << "PNG";
    QTest::newRow("empty") << QByteArray() << captcha << none << "empty";

    // Bytes: at the bound shown, one over refused before anything is read.
    QTest::newRow("bytes at the bound") << photo << withBytes(photograph, photo.size()) << QSize(400, 500) << QString();
    QTest::newRow("bytes one over") << photo << withBytes(photograph, photo.size() - 1) << none << "bytes, more than";

    // Formats: only JPEG and PNG, told by their leading bytes.
    QTest::newRow("ICO saying 1x1, holding 5000x5000") << icoLie({5000, 5000}) << captcha << none << "neither";
    QTest::newRow("PNG behind a stray byte") << QByteArray(" " + captchaPng) << captcha << none << "neither";

    // Pixels, from the header before decoding.
    QTest::newRow("JPEG at the pixel bound") << jpegOf(grey({1024, 1024})) << captcha << QSize(1024, 1024) << QString();
    QTest::newRow("JPEG one column over") << jpegOf(grey({1025, 1024})) << captcha << none << "1025x1024, more than";
    QTest::newRow("PNG 5600x5600 in 100 KB") << bigPng({5600, 5600}) << captcha << none << "5600x5600, more than";

    // Scans: counted before decoding, and their work bounded.
    QTest::newRow("64 scans") << progressiveJpeg({64, 64}, 64) << captcha << QSize(64, 64) << QString();
    QTest::newRow("65 scans") << progressiveJpeg({64, 64}, 65) << captcha << none << "more than 64 scans";
    QTest::newRow("last scan repeated 1000 times") << progressiveScanBomb({256, 256}, 1000) << photograph << none
                                                   << "more than 64 scans";
    QTest::newRow("2000 empty scans") << emptyScanBomb({256, 256}, 2000) << captcha << none << "more than 64 scans";
    QTest::newRow("64 scans at 2000x2000") << progressiveJpeg({2000, 2000}, 64) << photograph << none
                                           << "block passes";
    QTest::newRow("progressive 4:2:0 at 16 Mpx keeps 48 MiB of coefficients")
        << libjpegOf(grey({4096, 4096}), 0, true) << photograph << QSize(1024, 1024) << QString();
    QTest::newRow("progressive 4:4:4 at 12 Mpx would keep 69 MiB")
        << libjpegOf(grey({3464, 3464}), 0, true, 1) << photograph << none << "coefficients";
    QTest::newRow("sequential 4:4:4 at 16 Mpx in one scan keeps none")
        << libjpegOf(grey({4096, 4096}), 0, false, 1) << photograph << QSize(1024, 1024) << QString();

    // Marker and chunk streams that cannot be walked.
    QTest::newRow("JPEG cut short") << photo.left(photo.size() * 2 / 3) << photograph << none << "end before";
    QTest::newRow("JPEG cut inside a segment") << photo.left(30) << photograph << none << "end before";
    QTest::newRow("JPEG with a stray byte between segments") << withStrayByte(photo) << photograph << none
                                                             << "cannot be read";
    QTest::newRow("PNG cut short") << captchaPng.left(captchaPng.size() - 20) << captcha << none << "end before";

    // A PNG's image data inflates to exactly what its size needs.
    QTest::newRow("PNG interlaced, odd size") << zeroPng({37, 23}, true) << captcha << QSize(37, 23) << QString();
    QTest::newRow("PNG interlaced, one byte more") << zeroPng({37, 23}, true, 1) << captcha << none << "inflates";
    QTest::newRow("PNG, one byte more") << zeroPng({37, 23}, false, 1) << captcha << none << "inflates";
    QTest::newRow("PNG with 64 MB of zeros after its image") << zeroPng({256, 256}, false, 64 << 20) << captcha
                                                             << none << "inflates";

    // Compressed text inflates to at most 1 MiB in all.
    QTest::newRow("PNG with a little compressed text") << textPng({37, 23}, "zTXt", 2, 100'000) << captcha
                                                       << QSize(37, 23) << QString();
    QTest::newRow("PNG with 1 MiB of text in iTXt") << textPng({37, 23}, "iTXt", 1, 1 << 20) << captcha
                                                    << QSize(37, 23) << QString();
    QTest::newRow("PNG with 30 zTXt of 8 MB") << textPng({37, 23}, "zTXt", 30, 8'000'000) << captcha << none
                                              << "text inflates";
    QTest::newRow("PNG with 1 MiB and 2 bytes of text") << textPng({37, 23}, "iTXt", 2, (1 << 19) + 1) << captcha << none
                                                      << "text inflates";

    // Scaled to fit the square when either side is over it.
    QTest::newRow("16384x1024 scaled") << jpegOf(grey({16384, 1024})) << photograph << QSize(1024, 64) << QString();
    QTest::newRow("1024x4096 scaled") << jpegOf(grey({1024, 4096})) << photograph << QSize(256, 1024) << QString();
    QTest::newRow("PNG 2048x512 scaled") << zeroPng({2048, 512}) << withPixels(captcha, 2048 * 512) << QSize(1024, 256)
                                         << QString();
}

void TestControls::decodesOnlyWhatItCanAfford()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PictureBounds, bounds);
    QFETCH(QSize, shown);
    QFETCH(QString, refusal);

    const DecodedPicture picture = decodePicture(bytes, bounds);
    QCOMPARE(picture.image.size(), shown);
    if (refusal.isEmpty()) {
        QCOMPARE(picture.refusal, QString());
    } else {
        QVERIFY2(picture.refusal.contains(refusal), qPrintable(picture.refusal));
    }
}

// What a reader hands back is held to what its header said, whatever the
// reader: here Qt's ICO reader, whose directory says 1x1.
void TestControls::aDecodedPictureMustMatchItsHeader_data()
{
    using namespace pictures;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<PictureBounds>("bounds");
    QTest::addColumn<QString>("refusal");
    const PictureBounds captcha = PictureBounds::captcha();
    const PictureBounds anySize = withPixels(captcha, qint64(1) << 40);
    QTest::newRow("ICO saying 1x1") << icoLie({300, 200}) << QByteArray("ico") << QSize(1, 1) << anySize
                                    << "not the 1x1";
    QTest::newRow("as its header says") << zeroPng({300, 200}) << QByteArray("png") << QSize(300, 200) << captcha
                                        << QString();
    QTest::newRow("turned upright") << zeroPng({300, 200}) << QByteArray("png") << QSize(200, 300) << captcha
                                    << QString();
    QTest::newRow("more pixels than the bound") << zeroPng({300, 200}) << QByteArray("png") << QSize(300, 200)
                                                << withPixels(captcha, 300 * 200 - 1) << "more than 59999 pixels";
    PictureBounds small = captcha;
    small.maxSide = 250;
    QTest::newRow("wider than the square") << zeroPng({300, 200}) << QByteArray("png") << QSize(300, 200) << small
                                           << "larger than 250";
    QTest::newRow("not a picture") << QByteArray("not a picture") << QByteArray("png") << QSize(1, 1) << captcha
                                   << "could not be decoded";
}

void TestControls::aDecodedPictureMustMatchItsHeader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, format);
    QFETCH(QSize, expected);
    QFETCH(PictureBounds, bounds);
    QFETCH(QString, refusal);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    const DecodedPicture picture = detail::readChecked(reader, expected, bounds);
    QCOMPARE(picture.image.isNull(), !refusal.isEmpty());
    QVERIFY2(refusal.isEmpty() ? picture.refusal.isEmpty() : picture.refusal.contains(refusal),
             qPrintable(picture.refusal));
}

void TestControls::backgroundDecodeCallsBackOnTheMainThread_data()
{
    using namespace pictures;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("photograph") << jpegOf(photoLike({400, 500})) << 2000 << QSize(400, 500) << QString();
    QTest::newRow("scan bomb") << progressiveScanBomb({256, 256}, 1000) << 2000 << QSize(0, 0) << "more than 64 scans";
    // Decoding 16 Mpx takes milliseconds even scaled: past a deadline of 0.
    QTest::newRow("not ready in time") << jpegOf(grey({16384, 1024})) << 0 << QSize(0, 0) << "not ready within 0 ms";
}

void TestControls::backgroundDecodeCallsBackOnTheMainThread()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, deadlineMs);
    QFETCH(QSize, shown);
    QFETCH(QString, refusal);

    pictures::HeldPool pool; // the picture can only wait for a worker

    int calls = 0;
    QThread *thread = nullptr;
    DecodedPicture picture;
    decodePictureInBackground(bytes, PictureBounds::photograph(), [&](DecodedPicture decoded) {
        ++calls;
        thread = QThread::currentThread();
        picture = std::move(decoded);
    }, deadlineMs);
    for (int turn = 0; turn < 3; ++turn) // enough for a decode queued here and its reply
        QCoreApplication::processEvents();
    QCOMPARE(calls, 0); // not decoded on this thread, nor inline
    pool.release();
    QTRY_COMPARE(calls, 1);
    QCOMPARE(thread, QCoreApplication::instance()->thread());
    QCOMPARE(picture.image.size(), shown);
    QVERIFY2(refusal.isEmpty() ? picture.refusal.isEmpty() : picture.refusal.contains(refusal),
             qPrintable(picture.refusal));
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
