#pragma once

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/BaseViewModel.h"

namespace orvix {

// Asks the backend whether a flow's resource is available.
class HealthCheckViewModel : public BaseViewModel {
public:
    HealthCheckViewModel() = default;

    // GET baseURL + "v1/resource/<resourceId>/state" with the credential header.
    void getResourceState(const QString &credentialId, const QString &resourceId, const QString &baseURL,
                          APIHandler::OnSuccess success, APIHandler::OnFailure failure);
};

} // namespace orvix
