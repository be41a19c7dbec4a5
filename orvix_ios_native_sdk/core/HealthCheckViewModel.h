#pragma once

#include "orvix_ios_native_sdk/core/BaseViewModel.h"

namespace orvix {

// Asks the backend whether a flow's resource is available.
class HealthCheckViewModel : public BaseViewModel {
public:
    HealthCheckViewModel() = default;
};

} // namespace orvix
