#include "platform/ui/textfield.h"

#include "platform/ui/mainthread.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalBlocker>

namespace orvix::platform::ui {

// A hidden twin that shows what a key or input-method event would do to the
// text before the field itself handles it.
class TextField::Shadow : public QLineEdit {
public:
    using QLineEdit::inputMethodEvent;
    using QLineEdit::keyPressEvent;
};

TextField::TextField(QWidget *parent) : QLineEdit(parent)
{
    assertMainThread("TextField");
}

TextField::~TextField()
{
    delete m_shadow;
}

bool TextField::allows(const Edit &edit)
{
    m_lastEdit = {edit.range, text().mid(edit.range.location, edit.range.length), edit.replacement, cursorPosition()};
    std::shared_ptr<TextFieldDelegate> delegate = m_delegate.lock();
    if (!delegate)
        return true;
    QPointer<TextField> self(this);
    const bool ok = delegate->shouldChangeCharactersIn(this, edit.range, edit.replacement);
    return ok && self;
}

TextField::Edit TextField::selectionEdit(const QString &replacement) const
{
    if (hasSelectedText())
        return {{selectionStart(), int(selectedText().size())}, replacement};
    return {{cursorPosition(), 0}, replacement};
}

// Turns the text an event would produce into a range of the current text and
// its replacement, anchored at the selection or the cursor where possible.
TextField::Edit TextField::describe(const QString &proposed) const
{
    const QString current = text();
    const auto fits = [&](int location, int length, const QString &replacement) {
        return location >= 0 && location + length <= current.size()
            && QStringView(current).left(location) == QStringView(proposed).left(location)
            && current.size() - length + replacement.size() == proposed.size()
            && QStringView(proposed).mid(location, replacement.size()) == replacement
            && QStringView(current).mid(location + length) == QStringView(proposed).mid(location + replacement.size());
    };
    const int growth = int(proposed.size() - current.size());
    if (hasSelectedText()) {
        const int start = selectionStart();
        const int length = int(selectedText().size());
        const int replacementLength = length + growth;
        if (replacementLength >= 0) {
            const QString replacement = proposed.mid(start, replacementLength);
            if (fits(start, length, replacement))
                return {{start, length}, replacement};
        }
    } else {
        const int cursor = cursorPosition();
        if (growth >= 0 && fits(cursor, 0, proposed.mid(cursor, growth)))
            return {{cursor, 0}, proposed.mid(cursor, growth)};
        if (growth < 0) {
            if (fits(cursor + growth, -growth, QString()))
                return {{cursor + growth, -growth}, QString()};
            if (fits(cursor, -growth, QString()))
                return {{cursor, -growth}, QString()};
        }
    }
    // Anything else: the smallest differing span.
    int prefix = 0;
    while (prefix < current.size() && prefix < proposed.size() && current[prefix] == proposed[prefix])
        ++prefix;
    int suffix = 0;
    while (suffix < current.size() - prefix && suffix < proposed.size() - prefix
           && current[current.size() - 1 - suffix] == proposed[proposed.size() - 1 - suffix])
        ++suffix;
    return {{prefix, int(current.size()) - prefix - suffix}, proposed.mid(prefix, proposed.size() - prefix - suffix)};
}

TextField::Shadow &TextField::syncedShadow()
{
    if (!m_shadow)
        m_shadow = new Shadow;
    Shadow &s = *m_shadow;
    s.setInputMask(inputMask());
    s.setValidator(validator());
    s.setMaxLength(maxLength());
    s.setEchoMode(echoMode() == PasswordEchoOnEdit ? Normal : echoMode());
    s.setReadOnly(isReadOnly());
    s.setCursorMoveStyle(cursorMoveStyle());
    s.setLayoutDirection(layoutDirection());
    s.setText(text());
    if (hasSelectedText()) {
        const int start = selectionStart();
        const int length = int(selectedText().size());
        if (cursorPosition() == start)
            s.setSelection(start + length, -length);
        else
            s.setSelection(start, length);
    } else {
        s.setCursorPosition(cursorPosition());
    }
    return s;
}

void TextField::reportIfChanged(const QString &before)
{
    if (text() != before)
        emit editingChanged();
}

void TextField::keyPressEvent(QKeyEvent *event)
{
    if (isReadOnly() || event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        history(event->matches(QKeySequence::Undo), event);
        return;
    }

    const QString before = text();
    std::optional<Edit> edit;
    if (event->matches(QKeySequence::Paste)) {
        const bool selectionMode = event->key() == Qt::Key_Insert
            && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)
            && QGuiApplication::clipboard()->supportsSelection();
        const QString clip =
            QGuiApplication::clipboard()->text(selectionMode ? QClipboard::Selection : QClipboard::Clipboard);
        if (!clip.isEmpty() || hasSelectedText())
            edit = selectionEdit(clip);
    } else if (event->matches(QKeySequence::Cut)) {
        if (hasSelectedText())
            edit = selectionEdit(QString());
    } else if (event->matches(QKeySequence::DeleteEndOfLine)) {
        if (cursorPosition() < before.size())
            edit = Edit{{cursorPosition(), int(before.size()) - cursorPosition()}, QString()};
    } else if (event->matches(QKeySequence::DeleteCompleteLine)) {
        if (!before.isEmpty())
            edit = Edit{{0, int(before.size())}, QString()};
    } else {
        Shadow &shadow = syncedShadow();
        std::unique_ptr<QKeyEvent> copy(static_cast<QKeyEvent *>(event->clone()));
        shadow.keyPressEvent(copy.get());
        if (shadow.text() != before)
            edit = describe(shadow.text());
    }

    if (edit && !allows(*edit)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    reportIfChanged(before);
}

void TextField::inputMethodEvent(QInputMethodEvent *event)
{
    if (isReadOnly() || (event->commitString().isEmpty() && event->replacementLength() == 0)) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    const QString before = text();
    Shadow &shadow = syncedShadow();
    std::unique_ptr<QInputMethodEvent> copy(static_cast<QInputMethodEvent *>(event->clone()));
    shadow.inputMethodEvent(copy.get());
    if (shadow.text() != before && !allows(describe(shadow.text()))) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
    reportIfChanged(before);
}

void TextField::dropEvent(QDropEvent *event)
{
    if (isReadOnly() || !event->mimeData() || !event->mimeData()->hasText()) {
        QLineEdit::dropEvent(event);
        return;
    }
    const QString before = text();
    const int position = cursorPositionAt(event->position().toPoint());
    if (!allows({{position, 0}, event->mimeData()->text()})) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
    reportIfChanged(before);
}

void TextField::mouseReleaseEvent(QMouseEvent *event)
{
    // The middle button pastes the selection clipboard where it supports one.
    if (event->button() == Qt::MiddleButton && !isReadOnly() && QGuiApplication::clipboard()->supportsSelection()) {
        const QString before = text();
        if (!allows({{cursorPosition(), 0}, QGuiApplication::clipboard()->text(QClipboard::Selection)})) {
            event->accept();
            return;
        }
        QLineEdit::mouseReleaseEvent(event);
        reportIfChanged(before);
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TextField::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        const QString name = action->objectName();
        void (TextField::*command)() = nullptr;
        if (name == QLatin1String("edit-undo"))
            command = &TextField::userUndo;
        else if (name == QLatin1String("edit-redo"))
            command = &TextField::userRedo;
        else if (name == QLatin1String("edit-cut"))
            command = &TextField::userCut;
        else if (name == QLatin1String("edit-paste"))
            command = &TextField::userPaste;
        else if (name == QLatin1String("edit-delete"))
            command = &TextField::userDeleteSelection;
        if (!command)
            continue;
        disconnect(action, &QAction::triggered, nullptr, nullptr);
        connect(action, &QAction::triggered, this, command);
    }
    menu->popup(event->globalPos());
}

void TextField::userPaste()
{
    assertMainThread("TextField::userPaste");
    const QString clip = QGuiApplication::clipboard()->text();
    if (isReadOnly() || (clip.isEmpty() && !hasSelectedText()))
        return;
    const QString before = text();
    if (!allows(selectionEdit(clip)))
        return;
    paste();
    reportIfChanged(before);
}

void TextField::userCut()
{
    assertMainThread("TextField::userCut");
    if (isReadOnly() || !hasSelectedText())
        return;
    const QString before = text();
    if (!allows(selectionEdit(QString())))
        return;
    cut();
    reportIfChanged(before);
}

void TextField::userDeleteSelection()
{
    assertMainThread("TextField::userDeleteSelection");
    if (isReadOnly() || !hasSelectedText())
        return;
    const QString before = text();
    if (!allows(selectionEdit(QString())))
        return;
    del();
    reportIfChanged(before);
}

void TextField::userUndo()
{
    assertMainThread("TextField::userUndo");
    history(true, nullptr);
}

void TextField::userRedo()
{
    assertMainThread("TextField::userRedo");
    history(false, nullptr);
}

// Undo and redo: try the step quietly, walk it back, ask, then do it for real.
void TextField::history(bool undoStep, QKeyEvent *event)
{
    const bool available = undoStep ? isUndoAvailable() : isRedoAvailable();
    if (isReadOnly() || !available) {
        if (event)
            QLineEdit::keyPressEvent(event);
        return;
    }
    const QString before = text();
    const int cursor = cursorPosition();
    const int selStart = selectionStart();
    const int selLength = int(selectedText().size());
    QString proposed;
    {
        const QSignalBlocker blocker(this);
        undoStep ? undo() : redo();
        proposed = text();
        undoStep ? redo() : undo();
        if (text() != before)
            setText(before); // the history could not be walked back exactly
        if (selLength > 0 && cursor == selStart)
            setSelection(selStart + selLength, -selLength);
        else if (selLength > 0)
            setSelection(selStart, selLength);
        else
            setCursorPosition(cursor);
    }
    if (proposed != before && !allows(describe(proposed))) {
        if (event)
            event->accept();
        return;
    }
    if (event)
        QLineEdit::keyPressEvent(event);
    else
        undoStep ? undo() : redo();
    reportIfChanged(before);
}

} // namespace orvix::platform::ui
