#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"

#include "platform/ui/storyboard.h"

namespace orvix {

namespace {
[[maybe_unused]] const bool registered = [] {
    platform::ui::Storyboard::registerClass<TermsConditionVC>(QStringLiteral("TermsConditionVC"))
        .outlet(QStringLiteral("contentView"), &TermsConditionVC::contentView)
        .action(QStringLiteral("acceptAct:"), &TermsConditionVC::acceptAct);
    return true;
}();
} // namespace

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
