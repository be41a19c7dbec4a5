#include "orvix_ios_native_sdk/core/FlowScreen.h"

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"

namespace orvix {

void FlowScreen::reportToHost(const QVariantMap &data) const
{
    if (auto *entryPoint = dynamic_cast<OrvixEntryPoint *>(popDelegate.get()))
        entryPoint->reportToHost(data);
}

} // namespace orvix
