#include "platform/ui/mainthread.h"

#include "platform/dispatch/dispatch.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace orvix::platform::ui {

void assertMainThread(const char *where)
{
    if (dispatch::isMainThread())
        return;
    if (!QCoreApplication::instance())
        qFatal("orvix: %s needs a QApplication", where ? where : "a UI call");
    qFatal("orvix: %s must run on the main thread", where ? where : "a UI call");
}

} // namespace orvix::platform::ui
