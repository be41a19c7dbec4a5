#pragma once
// The kit's entry point. A host includes this header and
// platform/ui/viewcontroller.h (ViewController::wrapping, which hands the kit
// the host's window); the other installed headers are the kit's own.
//
// On the main thread, with the host's window shown:
//
//   auto host = orvix::platform::ui::ViewController::wrapping(&mainWindow);
//   auto kyc = orvix::OrvixEntryPoint::create(merchantId, userId, successUrl, failureUrl,
//                                             orvix::Mode::sandbox, host);
//   kyc->orvixEntryDelegate = receiver;   // an orvix::OrvixEntryPointDelegate
//   kyc->addConfig({orvix::Config::digilockerFlow, orvix::Config::myAadhaarUidaiFlow});
//   kyc->beginKYCFLow();
//
// The kit checks the flows with its backend in the order given and shows the
// first available one over the host's window: the two Aadhaar flows cover
// it, DigiLocker opens as a window-modal sheet. The shown screen keeps the
// entry point alive until it is dismissed.
//
// THE RESULT DICTIONARY
//
// Every result reaches OrvixEntryPointDelegate::onKYCFinished() as a
// QVariantMap (the optional always holds one) with these keys:
//
//   "status"    bool         in every report; true only for a completed verification
//   "error"     QVariantMap  on the failures marked below: {"message": QString},
//                            a text for a person (it may be empty)
//   "userInfo"  QVariantMap  on an Aadhaar success only: the verified record
//
// A key that does not apply is absent, never null. Most failures carry
// "status" alone. On the Aadhaar screens, what the user can put right (an
// invalid Aadhaar number, a wrong captcha, in the web-API flow a wrong
// one-time password or a lost connection) is shown as a toast over the
// screen and is not reported.
//
// Before any screen is shown: {"status": false, "error": {"message": M}} with M
//   "ERROR: MUST NEED ATLEAST TWO PRIORITY List"   addConfig() was given fewer than two flows
//   ""                                             addConfig() was never called
//   "Please enter a valid userId"                  the user id is blanks and tabs only
//   the backend's error code, capitalised, + " access!"
//                                                  a health check answered with another HTTP status
//   "You are offline! please check your internet connection."
//                                                  a health check could not reach the backend
//   the error's description                       a health check failed otherwise
//   "The reply could not be read as JSON: …"       a health check was answered with a body that is
//                                                  not JSON (an HTML page with HTTP 200 or 500, say):
//                                                  reported, so that the run does not end in silence
//   "ENDPOINTS_DOWN"                               no registered flow is available
//
// Aadhaar flows (myAadhaarUidaiFlow: the authority's web API;
// residentUidaiAadhaarFlow: the authority's resident web page):
//   {"status": true, "userInfo": R}   the user pressed Proceed on the verified record; dismissed
//   {"status": false}                 the user pressed Back; dismissed
//   {"status": false}                 the downloaded archive cannot be opened (in the resident
//                                     flow also after a wrong one-time password, which gets a
//                                     page instead of an archive), or holds more than one
//                                     document or a document that is not a file; the screen
//                                     stays up with its error panel
//   {"status": false}                 resident flow: the backend did not take the record; the
//                                     screen stays up
//
// R, the offline e-KYC record: dictionaries and QString values only, keyed
// by the document's element and attribute names; what the document lacks is
// a missing key.
//   "referenceId"  QString
//   "UidData"      QVariantMap:
//       "Poi"  {"name", "dob", "gender", "e", "m"}   (e and m: the document's hashes of the
//                                                     e-mail address and mobile number)
//       "Poa"  {"careof", "house", "street", "landmark", "loc", "vtc", "po", "subdist",
//               "dist", "state", "country", "pc"}
//       "Pht"  QString, the photograph as Base64 JPEG
//   "Signature"    QVariantMap, the document's XML signature: "xmlns", "SignatureValue",
//                  "SignedInfo" {"CanonicalizationMethod" {"Algorithm"},
//                                "SignatureMethod" {"Algorithm"},
//                                "Reference" {"URI", "Transforms" {"Transform" {"Algorithm"}},
//                                             "DigestMethod" {"Algorithm"}, "DigestValue"}},
//                  "KeyInfo" {"X509Data" {"X509SubjectName", "X509Certificate"}}
//
// DigiLocker flow (digilockerFlow): never "userInfo", the host learns only
// success or failure.
//   {"status": true}                  the page reached the success redirect URL; dismissed
//   {"status": false}                 the page reached the failure redirect URL, reported once
//                                     the backend's webhook call has answered; dismissed
//   {"status": false, "error": {"message": M}}
//                                     the backend refused to start (M: its message, or ""),
//                                     or a backend request failed (M: the offline text above,
//                                     or the error's description); dismissed
//   {"status": false}                 the user closed the sheet. The close and the page's
//                                     arrival at the success URL reach the screen through
//                                     the event queue; whichever is handled first reports,
//                                     the other reports nothing
//
// TWICE OR NEVER
//
// A run usually reports once. It reports twice when
//   - a failure leaves the screen up (the archive or the resident flow's
//     submission above) and the user then presses Back;
//   - a failure leaves the error panel up, the user presses Try again and
//     the run then succeeds: {"status": true, "userInfo": R} follows the
//     earlier {"status": false};
//   - a reply arrives after the user has left the screen and the rest of
//     the run fails (below), or the backend answers the DigiLocker start or
//     webhook after the sheet was closed: {"status": false} comes again.
// Nothing cancels a request. A reply that arrives after the user has left
// the screen is still handled, and the run goes on out of sight: Back in the
// web-API flow while the sign-in is pending is followed by the token, the
// download and the backend submission (document, supplier record, archive
// upload); Back in the resident flow during the download, by the
// submission. When that succeeds nothing more is reported: the host has
// {"status": false} while the backend holds the verified document.
// It never reports when
//   - the chosen flow is aadhaarApiflow, which has no screen;
//   - `delegate` is null when the screen is to be shown;
//   - `delegate` already presents a kit screen when the screen is to be
//     shown (beginKYCFLow() called again during a run, or entry points that
//     share one host window): the log's only trace is "ViewController:
//     attempt to present a controller that is already presented…". Give
//     each run that may overlap a window of its own;
//   - the web-API flow's sign-in, token, download or submission step fails,
//     or the resident flow's download fails: the screen shows a message or
//     stops its spinner and waits for the user (Back then reports);
//   - the archive holds no XML document, or one that does not parse or lies
//     beyond the kit's bounds (4 MiB, 4,096 elements, 32 levels of nesting,
//     64 attributes on one element, values of 4,096 characters, texts of
//     3 MiB, names of 256 characters, 1,024 distinct names, no document type
//     declaration);
//   - the host's window is closed during an Aadhaar flow: the kit does not
//     watch that window, so the close itself reports nothing (a reply still
//     under way is handled as above);
//   - orvixEntryDelegate is null when a report is made: that report is dropped.
//
// REPLIES AND TEXT FROM OUTSIDE
//
// Every reply of the backend and the authority is read up to 1 MiB
// (kMaxReplyBytes in APIHandler.h), the e-KYC download up to
// kMaxArchiveReplyBytes (the 8 MiB archive bound as Base64, a quarter more
// for line breaks and escapes, plus 1 MiB), the resident page's archive up to
// 8 MiB. A larger reply fails unread, as a failed request: a health check
// then reports the error's description. An error message in a report thus
// comes from at most 1 MiB of reply. The authority's pages and the DigiLocker
// pages are web pages in web views; every label and toast the kit draws
// itself shows what the backend, the authority, their pages and the document
// say as plain text. A toast shows at most 300 characters as a person sees
// them (a letter with its accents is one) on at most 4 lines; a longer
// message is cut and ends in "…", which counts within the 300.
//
// When a captcha or one-time-password reply finds the authority's session
// inactive, the web-API screen starts the authorization over, once. If the
// captcha after that start-over finds none either, the screen toasts
// "Session expired.", keeps the captcha panel with its reload button and
// sends nothing more until the person reloads, presses Send OTP and its
// checks pass (a valid number, a captcha of five characters, the terms
// ticked), tries again or goes back; each of these allows one more
// start-over. Nothing is reported.
//
// THREAD
//
// onKYCFinished() is called on the main thread, from the kit's own event
// handling (a reply, a click); downloads that finish on a worker thread move
// to the main thread first. The kit neither waits for the call nor looks at
// what it does.

#include "orvix_ios_native_sdk/core/Error.h"
#include "orvix_ios_native_sdk/core/HealthCheckViewModel.h"
#include "orvix_ios_native_sdk/core/Types.h"
#include "platform/ui/viewcontroller.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace orvix {

namespace internal {
struct EntryPointAccess;
}

class OrvixEntryPoint : public platform::ui::ViewController,
                        public popDelegate,
                        public platform::ui::AdaptivePresentationControllerDelegate {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The only way to create an entry point. Nothing is validated here: a
    // blank user id is refused when the run starts.
    static std::shared_ptr<OrvixEntryPoint> create(const QString &merchantId, const QString &userId,
                                                   const QString &successRedirectURL,
                                                   const QString &failureRedirectURL, Mode runOnProduction,
                                                   std::shared_ptr<platform::ui::ViewController> refVC);

    OrvixEntryPoint(Passkey, const QString &merchantId, const QString &userId, const QString &successRedirectURL,
                    const QString &failureRedirectURL, Mode runOnProduction,
                    std::shared_ptr<platform::ui::ViewController> refVC);
    ~OrvixEntryPoint() override;

    // The host's view controller the flow screen is presented over.
    std::shared_ptr<platform::ui::ViewController> delegate;
    // The host's receiver of the result (held strongly); see the result
    // dictionary above.
    std::shared_ptr<OrvixEntryPointDelegate> orvixEntryDelegate;

    // Registers the flows in order of preference (at least two).
    void addConfig(const QList<Config> &config);
    // Starts a run: health checks in order, then the first available flow.
    // The first run of a process also removes the kit's private folders
    // under QDir::tempPath() left by processes that ended without removing
    // theirs (killed, crashed); those of running processes stay.
    void beginKYCFLow();

    // The user closed the DigiLocker sheet: reported as a failure, unless
    // its screen reported first.
    void presentationControllerDidDismiss(platform::ui::PresentationController *presentationController) override;

    // The run's state, read by the kit's screens and by tests.
    const std::optional<QString> &merchantId() const { return m_merchantId; }
    const std::optional<QString> &userId() const { return m_userId; }
    const std::optional<QString> &successRedirectURL() const { return m_successRedirectURL; }
    const std::optional<QString> &failureRedirectURL() const { return m_failureRedirectURL; }
    const std::optional<Mode> &mode() const { return m_mode; }
    const std::optional<QString> &errorCode() const { return m_errorCode; }
    const std::optional<QMap<QString, PriorityCall>> &priorityMap() const { return m_priorityMap; }
    const std::optional<QString> &urlComponent() const { return m_urlComponent; }
    const std::shared_ptr<HealthCheckViewModel> &healthCheckVM() const { return m_healthCheckVM; }
    const std::optional<QString> &currentHealthCheck() const { return m_currentHealthCheck; }

    // The four host values, as handed to a flow screen.
    clientInfo makeClientInfo() const;

    std::shared_ptr<OrvixEntryPoint> sharedFromThis();

private:
    // The kit's screens and its tests reach the steps below through
    // internal::EntryPointAccess (core/internal, not installed).
    friend struct internal::EntryPointAccess;

    // Hands one result to the delegate set at this moment; dropped when none is.
    void reportToHost(const QVariantMap &data);

    // The steps of a run.
    void runHealthCheck(const QString &key);
    void updateHealthStatus(std::optional<bool> isAvailable, const QString &key);
    void proceedAfterHealthCheck(const QString &key);
    QString nextPriorityKey(const QString &after) const;
    void launchFlow(const std::optional<PriorityCall> &entry);
    void handleHealthCheckResponse(const QVariant &reply, const QString &key);
    void handleHealthCheckFailure(const Error &error);

    // Instantiates the flow's screen, hands it the run's values and presents it.
    void presentFlowScreen(Config config);

    std::optional<QString> m_merchantId;
    std::optional<QString> m_userId;
    std::optional<QString> m_successRedirectURL;
    std::optional<QString> m_failureRedirectURL;
    std::optional<Mode> m_mode;
    std::optional<QString> m_errorCode;
    std::optional<QMap<QString, PriorityCall>> m_priorityMap;
    std::optional<QString> m_urlComponent;
    std::shared_ptr<HealthCheckViewModel> m_healthCheckVM;
    std::optional<QString> m_currentHealthCheck;
};

} // namespace orvix
