#include "orvix_ios_native_sdk/core/Types.h"

namespace orvix {

QString Config::rawValue() const
{
    switch (m_value) {
    case residentUidaiAadhaarFlow:
        return QStringLiteral("OfflineDocVerification_old_13c2bd51_b67e_4be4_9c60_f982dcc2b009");
    case myAadhaarUidaiFlow:
        return QStringLiteral("OfflineDocVerification_13c2bd51_b67e_4be4_9c60_f982dcc2b009");
    case digilockerFlow:
        return QStringLiteral("VarentInitDocFetch_13c2bd51_b67e_4be4_9c60_f982dcc2bb17");
    case aadhaarApiflow:
        return QString();
    }
    return QString();
}

QString Config::caseName() const
{
    switch (m_value) {
    case residentUidaiAadhaarFlow: return QStringLiteral("residentUidaiAadhaarFlow");
    case myAadhaarUidaiFlow: return QStringLiteral("myAadhaarUidaiFlow");
    case digilockerFlow: return QStringLiteral("digilockerFlow");
    case aadhaarApiflow: return QStringLiteral("aadhaarApiflow");
    }
    return QString();
}

std::optional<Config> Config::init(const QString &rawValue)
{
    for (Value v : {residentUidaiAadhaarFlow, myAadhaarUidaiFlow, digilockerFlow, aadhaarApiflow}) {
        if (Config(v).rawValue() == rawValue)
            return Config(v);
    }
    return std::nullopt;
}

} // namespace orvix
