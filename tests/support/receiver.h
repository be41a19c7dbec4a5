#pragma once
// A host's delegate that keeps every report it receives.

#include "orvix_ios_native_sdk/core/Types.h"

#include <QList>
#include <QVariantMap>

struct ReportReceiver : orvix::OrvixEntryPointDelegate {
    QList<QVariantMap> reports;
    void onKYCFinished(const std::optional<QVariantMap> &data) override { reports.append(data.value_or(QVariantMap{})); }
};
