#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"

namespace orvix {

std::shared_ptr<OrvixEntryPoint> OrvixEntryPoint::create(const QString &merchantId, const QString &userId,
                                                         const QString &successRedirectURL,
                                                         const QString &failureRedirectURL, Mode runOnProduction,
                                                         std::shared_ptr<platform::ui::ViewController> refVC)
{
    return std::make_shared<OrvixEntryPoint>(Passkey{}, merchantId, userId, successRedirectURL, failureRedirectURL,
                                             runOnProduction, std::move(refVC));
}

OrvixEntryPoint::OrvixEntryPoint(Passkey, const QString &merchantId, const QString &userId,
                                 const QString &successRedirectURL, const QString &failureRedirectURL,
                                 Mode runOnProduction, std::shared_ptr<platform::ui::ViewController> refVC)
{
    m_merchantId = merchantId;
    m_userId = userId;
    m_successRedirectURL = successRedirectURL;
    m_failureRedirectURL = failureRedirectURL;
    m_mode = runOnProduction;
    delegate = std::move(refVC);
    m_urlComponent = backendBaseURL(runOnProduction);
    m_healthCheckVM = std::make_shared<HealthCheckViewModel>();
    m_priorityMap = QMap<QString, PriorityCall>();
}

OrvixEntryPoint::~OrvixEntryPoint() = default;

clientInfo OrvixEntryPoint::makeClientInfo() const
{
    return clientInfo{m_merchantId, m_userId, m_successRedirectURL, m_failureRedirectURL};
}

void OrvixEntryPoint::reportToHost(const QVariantMap &data)
{
    // Keep the receiver alive for the call even if it replaces itself.
    if (std::shared_ptr<OrvixEntryPointDelegate> receiver = orvixEntryDelegate)
        receiver->onKYCFinished(data);
}

std::shared_ptr<OrvixEntryPoint> OrvixEntryPoint::sharedFromThis()
{
    return std::static_pointer_cast<OrvixEntryPoint>(shared_from_this());
}

} // namespace orvix
