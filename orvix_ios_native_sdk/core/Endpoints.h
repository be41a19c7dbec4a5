#pragma once

#include "orvix_ios_native_sdk/core/Types.h"

#include <QString>

namespace orvix {

// The backend base URL of a mode, ending in "/".
QString backendBaseURL(Mode mode);

// The authority's offline e-KYC service base, without a trailing "/".
QString authorityServiceBaseURL();
// The authority's portal root, ending in "/".
QString authorityPortalURL();
// The authority's resident portal base, ending in "/"; the offline e-KYC
// page is this + "offline-kyc".
QString residentPortalURL();

} // namespace orvix
