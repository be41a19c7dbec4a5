#include "platform/ui/keyboardmanager.h"

#include "platform/ui/mainthread.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTextEdit>

namespace orvix::platform::ui {

namespace {

bool isEditableField(QWidget *w)
{
    if (auto *line = qobject_cast<QLineEdit *>(w))
        return !line->isReadOnly();
    if (auto *text = qobject_cast<QTextEdit *>(w))
        return !text->isReadOnly();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(w))
        return !plain->isReadOnly();
    return false;
}

bool canTakeFocus(QWidget *w)
{
    return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && isEditableField(w);
}

QWidget *nextField(QWidget *from)
{
    QWidget *window = from->window();
    for (QWidget *w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if (w->window() == window && canTakeFocus(w))
            return w;
    }
    return nullptr;
}

} // namespace

KeyboardManager::KeyboardManager(QObject *parent) : QObject(parent)
{
    connect(qApp, &QApplication::focusChanged, this, &KeyboardManager::focusChanged);
    qApp->installEventFilter(this);
}

KeyboardManager &KeyboardManager::shared()
{
    assertMainThread("KeyboardManager::shared");
    static QPointer<KeyboardManager> instance;
    if (!instance)
        instance = new KeyboardManager(qApp);
    return *instance;
}

void KeyboardManager::setEnable(bool enabled)
{
    assertMainThread("KeyboardManager::setEnable");
    m_enabled = enabled;
    if (enabled)
        focusChanged(nullptr, QApplication::focusWidget());
}

void KeyboardManager::focusChanged(QWidget *, QWidget *now)
{
    if (!m_enabled || !now || !isEditableField(now))
        return;
    for (QWidget *p = now->parentWidget(); p; p = p->parentWidget()) {
        auto *area = qobject_cast<QScrollArea *>(p);
        if (area && area->widget() && area->widget()->isAncestorOf(now))
            area->ensureWidgetVisible(now);
    }
}

bool KeyboardManager::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_enabled || event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field || !field->hasFocus())
        return false;
    // After the field has handled its Enter.
    QPointer<QLineEdit> from(field);
    QMetaObject::invokeMethod(this, [from] {
        if (!from || !from->hasFocus())
            return;
        if (QWidget *next = nextField(from))
            next->setFocus(Qt::TabFocusReason);
    }, Qt::QueuedConnection);
    return false;
}

} // namespace orvix::platform::ui
