#pragma once
// Not installed: the entry point's internal steps, for the kit's screens and
// for tests. A host reaches none of them.

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"

namespace orvix::internal {

struct EntryPointAccess {
    static void reportToHost(OrvixEntryPoint &ep, const QVariantMap &data) { ep.reportToHost(data); }
    static void runHealthCheck(OrvixEntryPoint &ep, const QString &key) { ep.runHealthCheck(key); }
    static void updateHealthStatus(OrvixEntryPoint &ep, std::optional<bool> isAvailable, const QString &key)
    {
        ep.updateHealthStatus(isAvailable, key);
    }
    static void proceedAfterHealthCheck(OrvixEntryPoint &ep, const QString &key)
    {
        ep.proceedAfterHealthCheck(key);
    }
    static QString nextPriorityKey(const OrvixEntryPoint &ep, const QString &after)
    {
        return ep.nextPriorityKey(after);
    }
    static void launchFlow(OrvixEntryPoint &ep, const std::optional<PriorityCall> &entry) { ep.launchFlow(entry); }
    static void handleHealthCheckResponse(OrvixEntryPoint &ep, const QVariant &reply, const QString &key)
    {
        ep.handleHealthCheckResponse(reply, key);
    }
    static void handleHealthCheckFailure(OrvixEntryPoint &ep, const Error &error)
    {
        ep.handleHealthCheckFailure(error);
    }
};

} // namespace orvix::internal
