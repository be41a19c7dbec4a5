#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"

#include "platform/ui/storyboard.h"

namespace orvix {

void TermsConditionVC::registerScene()
{
    platform::ui::Storyboard::registerClass<TermsConditionVC>(QStringLiteral("TermsConditionVC"))
        .outlet(QStringLiteral("contentView"), &TermsConditionVC::contentView)
        .action(QStringLiteral("acceptAct:"), &TermsConditionVC::acceptAct);
}

TermsConditionVC::TermsConditionVC() = default;

void TermsConditionVC::viewDidLoad()
{
    BaseViewController::viewDidLoad();
}

void TermsConditionVC::acceptAct(QObject *sender)
{
    Q_UNUSED(sender);
    dismiss(true, {});
}

} // namespace orvix
