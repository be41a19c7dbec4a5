// The text field's delegate, the spinner, the keyboard manager and endEditing.

#include "platform/ui/activityindicator.h"
#include "platform/ui/keyboardmanager.h"
#include "platform/ui/textfield.h"
#include "platform/ui/view.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

using namespace orvix::platform::ui;

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

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
