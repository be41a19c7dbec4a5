#include "platform/ui/view.h"

#include "platform/ui/mainthread.h"

#include <QApplication>
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

} // namespace orvix::platform::ui
