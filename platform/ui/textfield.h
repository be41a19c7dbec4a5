#pragma once
// A line edit that asks its delegate before every user edit (typing, paste,
// cut, delete, drag and drop, undo and redo, input methods) and reports each
// accepted one with editingChanged(). A refused edit changes nothing.
// Programmatic changes (setText, clear, insert) neither ask nor report.

#include <QLineEdit>
#include <QPointer>
#include <memory>

namespace orvix::platform::ui {

class TextField;

// A span of the current text, in UTF-16 code units (as QString indexes).
struct TextRange {
    int location = 0;
    int length = 0;
    friend bool operator==(const TextRange &, const TextRange &) = default;
};

class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    // May the characters in `range` of the current text become `replacementString`?
    virtual bool shouldChangeCharactersIn(TextField *textField, TextRange range, const QString &replacementString)
    {
        Q_UNUSED(textField);
        Q_UNUSED(range);
        Q_UNUSED(replacementString);
        return true;
    }
};

class TextField : public QLineEdit {
    Q_OBJECT
public:
    explicit TextField(QWidget *parent = nullptr);
    ~TextField() override;

    // Held weakly; without a delegate every edit is allowed.
    void setDelegate(std::weak_ptr<TextFieldDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<TextFieldDelegate> delegate() const { return m_delegate.lock(); }

    // The latest user edit put to the delegate: the range it replaces, the
    // text there before, its replacement and where the cursor stood. In a
    // handler of editingChanged() it is the edit just made.
    struct UserEdit {
        TextRange range;
        QString replaced;
        QString replacement;
        int cursorBefore = 0;
    };
    const UserEdit &lastEdit() const { return m_lastEdit; }

    // The user's edit commands (keys and the context menu come here too).
    void userPaste();
    void userCut();
    void userDeleteSelection();
    void userUndo();
    void userRedo();

signals:
    // After every accepted user edit that changed the text.
    void editingChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Edit {
        TextRange range;
        QString replacement;
    };
    class Shadow;

    bool allows(const Edit &edit);
    Edit selectionEdit(const QString &replacement) const;
    Edit describe(const QString &proposed) const;
    Shadow &syncedShadow();
    void history(bool undo, QKeyEvent *event);
    void reportIfChanged(const QString &before);

    std::weak_ptr<TextFieldDelegate> m_delegate;
    UserEdit m_lastEdit;
    Shadow *m_shadow = nullptr;
};

} // namespace orvix::platform::ui
