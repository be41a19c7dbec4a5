#include "orvix_ios_native_sdk/core/FlowScreen.h"

#include "orvix_ios_native_sdk/core/internal/EntryPointAccess.h"

namespace orvix {

void FlowScreen::reportToHost(const QVariantMap &data) const
{
    if (auto *entryPoint = dynamic_cast<OrvixEntryPoint *>(popDelegate.get()))
        internal::EntryPointAccess::reportToHost(*entryPoint, data);
}

} // namespace orvix
