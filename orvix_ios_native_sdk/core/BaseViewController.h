#pragma once
// The base of every screen of the kit: a toast, the grouping of an Aadhaar
// number while it is typed and the lookup of the unzipped offline e-KYC XML.

#include "platform/ui/viewcontroller.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QUrl>

namespace orvix {

class BaseViewController : public platform::ui::ViewController {
public:
    BaseViewController();
    ~BaseViewController() override;

    void viewDidLoad() override;

    // Replaces any toast on screen by `message` for 3 seconds at the bottom of
    // the presented screen in front (a sheet, or the window a full-screen screen
    // covers), or of the app's first window when none is presented. Nothing is
    // shown when there is no window. Main thread only.
    void showToast(const QString &message, const QColor &backgroundColor);

    // The files directly in `directory` whose names contain "offline" and
    // end in ".xml" (both case-sensitive), in listing order. Logs and gives
    // an empty list when the folder cannot be listed. Any thread.
    static QList<QUrl> listOfflineXMLFiles(const QUrl &directory);

    // Blanks and tabs removed, then a blank after every fourth character
    // except at the end. Any thread.
    static QString formatAadhaarNumber(const QString &text);
    // The same, with `cursor` (a position in `text`) moved to stand after the
    // same characters in the result.
    static QString formatAadhaarNumber(const QString &text, int &cursor);
};

} // namespace orvix
