// Presenting the chosen flow's screen.

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"

#include "platform/log/log.h"

namespace orvix {

void OrvixEntryPoint::presentFlowScreen(Config config)
{
    switch (config.value()) {
    case Config::residentUidaiAadhaarFlow:
        platform::log::line(QStringLiteral("<--- residentUidaiAadhaarFlow OLD Flow-->"));
        break;
    case Config::myAadhaarUidaiFlow:
        platform::log::line(QStringLiteral("<--- myAadhaarUidaiFlow -->"));
        break;
    case Config::digilockerFlow:
        platform::log::line(QStringLiteral("<--- digilockerFlow -->"));
        break;
    case Config::aadhaarApiflow:
        platform::log::line(QStringLiteral("<--- NONE -->"));
        return;
    }
    platform::log::line(QStringLiteral("The screen of %1 could not be loaded").arg(config.caseName()));
}

} // namespace orvix
