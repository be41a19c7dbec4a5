#include "orvix_ios_native_sdk/core/HealthCheckViewModel.h"

#include "orvix_ios_native_sdk/core/BackendAPI.h"
#include "platform/log/log.h"

namespace orvix {

void HealthCheckViewModel::getResourceState(const QString &credentialId, const QString &resourceId,
                                            const QString &baseURL, APIHandler::OnSuccess success,
                                            APIHandler::OnFailure failure)
{
    const QString path = backend::resourceStatePath(resourceId);
    platform::log::line(path);
    APIHandler::getRequest({}, baseURL + path, std::nullopt, credentialId, std::move(success), std::move(failure));
}

} // namespace orvix
