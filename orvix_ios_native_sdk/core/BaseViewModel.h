#pragma once

#include <memory>

namespace orvix {

// Base of the kit's view models.
class BaseViewModel : public std::enable_shared_from_this<BaseViewModel> {
public:
    BaseViewModel() = default;
    virtual ~BaseViewModel() = default;
    BaseViewModel(const BaseViewModel &) = delete;
    BaseViewModel &operator=(const BaseViewModel &) = delete;
};

} // namespace orvix
