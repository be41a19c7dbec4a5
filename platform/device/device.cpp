#include "platform/device/device.h"

#include <QSysInfo>

namespace orvix::platform::device {
namespace {
// Namespace of this kit's vendor identifiers.
const QUuid kVendorNamespace(QStringLiteral("{61094f33-c155-4fc1-ada5-58c40382dbd2}"));
} // namespace

std::optional<QUuid> identifierForVendor(const QByteArray &machineId, const QString &bundleIdentifier)
{
    if (machineId.isEmpty())
        return std::nullopt;
    // The machine id becomes a namespace of its own, so no choice of bundle
    // identifier can collide with another machine's.
    const QUuid machine = QUuid::createUuidV5(kVendorNamespace, machineId);
    return QUuid::createUuidV5(machine, bundleIdentifier.toUtf8());
}

std::optional<QUuid> identifierForVendor(const QString &bundleIdentifier)
{
    return identifierForVendor(QSysInfo::machineUniqueId(), bundleIdentifier);
}

} // namespace orvix::platform::device
