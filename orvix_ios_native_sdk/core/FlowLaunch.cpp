// Presenting the chosen flow's screen.

#include "orvix_ios_native_sdk/core/FlowScreen.h"
#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"
#include "platform/log/log.h"
#include "platform/ui/storyboard.h"

namespace orvix {

using platform::log::line;
namespace ui = platform::ui;

void OrvixEntryPoint::presentFlowScreen(Config config)
{
    QString sceneIdentifier;
    switch (config.value()) {
    case Config::residentUidaiAadhaarFlow:
        line(QStringLiteral("<--- residentUidaiAadhaarFlow OLD Flow-->"));
        sceneIdentifier = QStringLiteral("OldAadhaarFlowVC");
        break;
    case Config::myAadhaarUidaiFlow:
        line(QStringLiteral("<--- myAadhaarUidaiFlow -->"));
        sceneIdentifier = QStringLiteral("NewAadhaarFlowVC");
        break;
    case Config::digilockerFlow:
        line(QStringLiteral("<--- digilockerFlow -->"));
        sceneIdentifier = QStringLiteral("DigiLockerViewController");
        break;
    case Config::aadhaarApiflow:
        line(QStringLiteral("<--- NONE -->"));
        return;
    }

    const ui::Storyboard storyboard = kitStoryboard();
    std::shared_ptr<ui::ViewController> screen = storyboard.instantiateViewController(sceneIdentifier);
    auto fields = std::dynamic_pointer_cast<FlowScreen>(screen);
    if (!screen || !fields) {
        // Like a missing host controller: the run ends without a report.
        line(QStringLiteral("The scene \"%1\" could not be loaded").arg(sceneIdentifier));
        return;
    }
    fields->clientInfo = makeClientInfo();
    fields->urlComponent = m_urlComponent;
    fields->popDelegate = std::static_pointer_cast<orvix::popDelegate>(sharedFromThis());
    if (auto digiLocker = std::dynamic_pointer_cast<DigiLockerViewController>(screen))
        digiLocker->merchantId = m_merchantId;

    const bool sheet = config.value() == Config::digilockerFlow;
    if (sheet) {
        screen->modalPresentationStyle = ui::ModalPresentationStyle::automatic;
        if (ui::PresentationController *pc = screen->presentationController())
            pc->delegate = std::static_pointer_cast<ui::AdaptivePresentationControllerDelegate>(sharedFromThis());
    } else {
        screen->modalPresentationStyle = ui::ModalPresentationStyle::fullScreen;
    }
    if (std::shared_ptr<ui::ViewController> host = delegate)
        host->present(screen, sheet);
}

void OrvixEntryPoint::presentationControllerDidDismiss(ui::PresentationController *presentationController)
{
    // The page may have reached the success URL just before the close was
    // handled: that report stands alone.
    auto *screen = presentationController
        ? dynamic_cast<DigiLockerViewController *>(presentationController->presentedViewController())
        : nullptr;
    if (screen && !screen->sheetClosedByUser())
        return;
    reportToHost({{QStringLiteral("status"), false}});
}

} // namespace orvix
