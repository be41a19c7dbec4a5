#pragma once
// Widgets and the web engine are only ever touched on the main thread. The
// check stays in release builds: a call from another thread is a bug that
// would otherwise corrupt the engine's state quietly.

#include "platform/dispatch/dispatch.h"

#include <QtGlobal>

namespace orvix::platform::web::detail {

inline void requireMainThread(const char *where)
{
    if (Q_UNLIKELY(!dispatch::isMainThread()))
        qFatal("orvix web: %s called off the main thread", where);
}

} // namespace orvix::platform::web::detail
