#include "orvix_ios_native_sdk/core/ScreenSize.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSizeF>

namespace orvix {

namespace {
QSizeF screenSize()
{
    // Initialised once, thread-safely; zero without a screen.
    static const QSizeF size = [] {
        const QScreen *screen = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
            ? QGuiApplication::primaryScreen()
            : nullptr;
        return screen ? QSizeF(screen->geometry().size()) : QSizeF(0, 0);
    }();
    return size;
}
} // namespace

qreal screenWidth()
{
    return screenSize().width();
}

qreal screenHeight()
{
    return screenSize().height();
}

} // namespace orvix
