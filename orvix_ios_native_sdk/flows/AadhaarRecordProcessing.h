#pragma once
// What both Aadhaar screens do once the offline e-KYC archive lies as
// "aadhaar.zip" in the kit's temporary directory: open it with the share
// code, take its XML file as "aadhaar.xml", parse the record, submit it with
// the archive to the backend, show it, and hand it to the host on Proceed.
//
// Threads: openArchive(), moveToTemporaryDirectory() and processOfflineXML()
// may run on any thread and touch no view; both flows run them on a worker,
// since what they cost is up to the archive. Storing the record and starting
// the submission always happen on the main thread (inline when already
// there), and pictures are decoded on a worker and shown when ready.
// Everything else is main thread only.

#include "orvix_ios_native_sdk/core/BaseViewController.h"
#include "orvix_ios_native_sdk/core/DesignableViews.h"
#include "orvix_ios_native_sdk/core/Error.h"
#include "orvix_ios_native_sdk/core/FlowScreen.h"
#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/document/OldAadhaarFlowViewModel.h"
#include "platform/ui/activityindicator.h"
#include "platform/ui/image.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/textfield.h"

#include <QByteArray>
#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace orvix {

class AadhaarRecordProcessing : public BaseViewController,
                                public FlowScreen,
                                public platform::ui::TextFieldDelegate {
public:
    static inline const QString defaultShareCode = QStringLiteral("9736");

    AadhaarRecordProcessing();
    ~AadhaarRecordProcessing() override;

    // Outlets (the scene sets them).
    QPointer<platform::ui::ActivityIndicatorView> popupLoader;
    QPointer<UIViewCustom> otpView;
    QPointer<UIViewCustom> userInfoView;
    QPointer<platform::ui::ImageView> profilePic;
    QPointer<QLabel> usernameLbl;
    QPointer<QLabel> dobLbl;
    QPointer<QLabel> addressLbl;
    QPointer<QWidget> ErrorView;
    // The panels and controls both screens have.
    QPointer<QWidget> webMainView;
    QPointer<platform::ui::ImageView> captchaImgView;
    QPointer<platform::ui::ActivityIndicatorView> spinnerIc;
    QPointer<platform::ui::TextField> aadhaarNoTF;
    QPointer<platform::ui::TextField> captchaTF;
    QPointer<QAbstractButton> aadhaarSubmitBtn;
    QPointer<QWidget> popUpMainView;
    QPointer<UIViewCustom> aadhaarCaptchaView;
    QPointer<platform::ui::TextField> otpTF;
    QPointer<QAbstractButton> otpSubmitBtn;
    QPointer<UIViewCustom> EmptyView;
    QPointer<QWidget> emptyViewHeader;
    QPointer<QLabel> errorTextLbl;

    // The state of the terms check box.
    bool isAgree = false;

    // The number field shows its text in groups of four while typed; the
    // cursor stays after the same digits.
    void didChangeText(QObject *textField);
    // An edit that removed one blank of the grouping: the digit beyond it
    // (before it for Backspace, after it for Delete) goes from `text` too.
    static void removeDigitBeyondBlank(const platform::ui::TextField::UserEdit &edit, QString &text, int &cursor);
    // Ticks or clears the check box (its sender) and flips isAgree.
    void checkBoxAct(QObject *sender);
    // Shows the terms screen.
    void showAgreeAct(QObject *sender);
    // The fields' length limits: number 14, captcha 20, password 6.
    bool limitTextLength(platform::ui::TextField *textField, int replacedLength, const QString &replacement) const;
    bool shouldChangeCharactersIn(platform::ui::TextField *textField, platform::ui::TextRange range,
                                  const QString &replacementString) override;

    // Set before the screen is shown; nothing in the kit sets it.
    std::optional<QString> prefillShareCode;
    // The latest run's record and submission.
    std::shared_ptr<OfflinePaperlessKyc> aadhaarModel;
    std::shared_ptr<OldAadhaarFlowViewModel> oldAadhaarVM;

    // prefillShareCode, else the default.
    QString shareCode() const;

    // The kit's private temporary directory, ending in "/".
    static QString temporaryDirectory();
    // "aadhaar.zip" there.
    static QString archivePath();
    // The folder each run unzips into, emptied first.
    static QString unzipDirectory();

    // Step A: unzips "aadhaar.zip" with the share code and goes on with its
    // XML file. A failed unzip logs its reason and queues
    // reportArchiveFailure() on the main thread. On every way out the
    // archive, the unzip folder and "aadhaar.xml" are removed.
    void openArchive(const QString &zipPath);
    // The download's archive as Base64: decoded, written as "aadhaar.zip"
    // through the private folder and opened, all on a worker. Nothing in
    // it decodes to bytes: reportArchiveFailure() on the main thread.
    void openEncodedArchiveInBackground(const QString &base64);
    // Moves the file into the temporary directory under `name` (replacing
    // what is there); errors are ignored. Returns the destination.
    QUrl moveToTemporaryDirectory(const QUrl &source, const QString &name);
    // Reads and parses the XML file, then stores the record and submits it
    // with the archive's bytes. Stops silently (logged) on any unusable input.
    void processOfflineXML(const std::optional<QString> &path);

    // The submission's success: fills and shows the record panel. The
    // photograph follows once decoded on a worker, if it is a picture a
    // photograph can be.
    void showUserInfo();
    // Shows the captcha in `base64` once decoded on a worker; clears the
    // one shown at once. Only the latest captcha is ever shown, and none
    // that is not a small picture (logged).
    void showCaptcha(const QString &base64);
    // The record's one-line postal address.
    static QString composeAddress(const OfflinePaperlessKyc *record);
    static QString composeAddress(const std::shared_ptr<OfflinePaperlessKyc> &record)
    {
        return composeAddress(record.get());
    }
    // The record panel's button: reports the record and dismisses the screen.
    void ProceedAct(QObject *sender);
    // The archive could not be used: error panel, loader stopped, ["status": false].
    void reportArchiveFailure();

    // Registers the outlets and the action above for a screen class.
    template <class T>
    static void registerRecordOutlets(platform::ui::ClassRegistration<T> &registration)
    {
        registration.outlet(QStringLiteral("popupLoader"), &AadhaarRecordProcessing::popupLoader)
            .outlet(QStringLiteral("otpView"), &AadhaarRecordProcessing::otpView)
            .outlet(QStringLiteral("userInfoView"), &AadhaarRecordProcessing::userInfoView)
            .outlet(QStringLiteral("profilePic"), &AadhaarRecordProcessing::profilePic)
            .outlet(QStringLiteral("usernameLbl"), &AadhaarRecordProcessing::usernameLbl)
            .outlet(QStringLiteral("dobLbl"), &AadhaarRecordProcessing::dobLbl)
            .outlet(QStringLiteral("addressLbl"), &AadhaarRecordProcessing::addressLbl)
            .outlet(QStringLiteral("ErrorView"), &AadhaarRecordProcessing::ErrorView)
            .outlet(QStringLiteral("webMainView"), &AadhaarRecordProcessing::webMainView)
            .outlet(QStringLiteral("captchaImgView"), &AadhaarRecordProcessing::captchaImgView)
            .outlet(QStringLiteral("spinnerIc"), &AadhaarRecordProcessing::spinnerIc)
            .outlet(QStringLiteral("aadhaarNoTF"), &AadhaarRecordProcessing::aadhaarNoTF)
            .outlet(QStringLiteral("captchaTF"), &AadhaarRecordProcessing::captchaTF)
            .outlet(QStringLiteral("aadhaarSubmitBtn"), &AadhaarRecordProcessing::aadhaarSubmitBtn)
            .outlet(QStringLiteral("popUpMainView"), &AadhaarRecordProcessing::popUpMainView)
            .outlet(QStringLiteral("aadhaarCaptchaView"), &AadhaarRecordProcessing::aadhaarCaptchaView)
            .outlet(QStringLiteral("otpTF"), &AadhaarRecordProcessing::otpTF)
            .outlet(QStringLiteral("otpSubmitBtn"), &AadhaarRecordProcessing::otpSubmitBtn)
            .outlet(QStringLiteral("EmptyView"), &AadhaarRecordProcessing::EmptyView)
            .outlet(QStringLiteral("emptyViewHeader"), &AadhaarRecordProcessing::emptyViewHeader)
            .outlet(QStringLiteral("errorTextLbl"), &AadhaarRecordProcessing::errorTextLbl)
            .action(QStringLiteral("didChangeTextWithTextField:"), &AadhaarRecordProcessing::didChangeText)
            .action(QStringLiteral("checkBoxAct:"), &AadhaarRecordProcessing::checkBoxAct)
            .action(QStringLiteral("showAgreeAct:"), &AadhaarRecordProcessing::showAgreeAct)
            .action(QStringLiteral("ProceedAct:"), &AadhaarRecordProcessing::ProceedAct);
    }

protected:
    // What the user typed, blanks removed.
    static QString withoutBlanks(const QString &text);
    // Characters as the user sees them (a letter with its accents is one).
    static qsizetype characterCount(const QString &text);
    // Exactly twelve ASCII digits.
    static bool isTwelveDigits(const QString &number);
    // The supplier kind sent with the record.
    virtual QString supplierKind() const = 0;
    // The submission failed (main thread).
    virtual void submissionFailed(const Error &error) = 0;
    // Whether the unzip and the XML file found are logged.
    virtual bool logsArchiveSteps() const { return false; }

    std::shared_ptr<AadhaarRecordProcessing> recordSelf();

    // Runs `work` on a worker; the screen stays alive until it has run and
    // is let go on the main thread, where its widgets live.
    void runInBackground(std::function<void()> work);

private:
    quint64 m_captchaShown = 0; // which captcha the picture view waits for
    void commitRecord(std::shared_ptr<OfflinePaperlessKyc> record, std::optional<QByteArray> archive);
};

} // namespace orvix
