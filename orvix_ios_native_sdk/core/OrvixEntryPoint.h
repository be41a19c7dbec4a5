#pragma once
// The kit's entry point. The host creates it with its credentials and
// redirect URLs, sets orvixEntryDelegate, registers its flows and starts the
// run; every result reaches the host through onKYCFinished(data:).

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
    // The host's receiver of the result (held strongly).
    std::shared_ptr<OrvixEntryPointDelegate> orvixEntryDelegate;

    // Registers the flows in order of preference (at least two).
    void addConfig(const QList<Config> &config);
    // Starts a run: health checks in order, then the first available flow.
    void beginKYCFLow();

    // The user closed the DigiLocker sheet: reported as a failure.
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
