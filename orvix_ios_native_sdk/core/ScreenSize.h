#pragma once
// The primary screen's size in device-independent pixels, read once at the
// first call (from any thread) and never updated.

#include <QtGlobal>

namespace orvix {

qreal screenWidth();
qreal screenHeight();

} // namespace orvix
