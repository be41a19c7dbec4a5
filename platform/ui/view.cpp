#include "platform/ui/view.h"

#include "platform/ui/mainthread.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace orvix::platform::ui {

bool endEditing(QWidget *view, bool force)
{
    Q_UNUSED(force);
    assertMainThread("endEditing");
    QWidget *focus = QApplication::focusWidget();
    if (!view || !focus || (focus != view && !view->isAncestorOf(focus)))
        return false;
    focus->clearFocus();
    return true;
}

namespace {
class ParentCover : public QObject {
public:
    explicit ParentCover(QWidget *child) : QObject(child), m_child(child)
    {
        if (QWidget *parent = child->parentWidget()) {
            parent->installEventFilter(this);
            child->setGeometry(parent->rect());
        }
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && m_child && watched == m_child->parentWidget())
            m_child->setGeometry(m_child->parentWidget()->rect());
        return false;
    }

private:
    QPointer<QWidget> m_child;
};
} // namespace

void coverParent(QWidget *child)
{
    if (child)
        new ParentCover(child);
}

} // namespace orvix::platform::ui
