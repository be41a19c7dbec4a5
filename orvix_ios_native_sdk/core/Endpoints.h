#pragma once

#include "orvix_ios_native_sdk/core/Types.h"

#include <QString>

namespace orvix {

// The backend base URL of a mode, ending in "/".
QString backendBaseURL(Mode mode);

} // namespace orvix
