#pragma once
// The terms-and-conditions screen. It only shows the scene's text; its one
// button closes it. Consent itself is recorded by the Aadhaar screens.

#include "orvix_ios_native_sdk/core/BaseViewController.h"

#include <QPointer>
#include <QTextBrowser>

namespace orvix {

class TermsConditionVC : public BaseViewController {
public:
    TermsConditionVC();

    // Makes the scene's class known to the storyboard.
    static void registerScene();

    void viewDidLoad() override;

    // The scene's button: dismisses the screen, animated.
    void acceptAct(QObject *sender);

    // Outlet: the terms text, filled by the scene.
    QPointer<QTextBrowser> contentView;
};

} // namespace orvix
