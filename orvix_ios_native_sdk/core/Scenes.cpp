#include "orvix_ios_native_sdk/core/Scenes.h"

#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"

#include <mutex>

namespace orvix {

platform::ui::Storyboard kitStoryboard()
{
    // Registered here rather than by static initialisers, which a static
    // library may leave out of the program.
    static std::once_flag once;
    std::call_once(once, [] {
        TermsConditionVC::registerScene();
        DigiLockerViewController::registerScene();
        NewAadhaarFlowVC::registerScene();
        OldAadhaarFlowVC::registerScene();
    });
    return platform::ui::Storyboard(QString::fromLatin1(kitStoryboardName),
                                    platform::ui::Bundle::identifier(QString::fromLatin1(kitBundleIdentifier)));
}

} // namespace orvix
