#include "platform/dispatch/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

namespace orvix::platform::dispatch {

void asyncMain(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !work)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void asyncGlobal(std::function<void()> work)
{
    if (!work)
        return;
    QThreadPool::globalInstance()->start(std::move(work));
}

bool isMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace orvix::platform::dispatch
