#pragma once
// What every flow screen holds from the entry point that launched it.

#include "orvix_ios_native_sdk/core/Types.h"

#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace orvix {

class FlowScreen {
public:
    virtual ~FlowScreen() = default;

    // The host's values, the backend base URL and the entry point that
    // presented the screen (held strongly).
    std::optional<orvix::clientInfo> clientInfo;
    std::optional<QString> urlComponent;
    std::shared_ptr<orvix::popDelegate> popDelegate;

protected:
    // Hands a result to the host through the entry point; dropped silently
    // when either link is missing.
    void reportToHost(const QVariantMap &data) const;
};

} // namespace orvix
