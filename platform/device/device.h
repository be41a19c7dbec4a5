#pragma once
// The device identifier for a vendor: a name-based UUID of this machine's
// unique id and the bundle identifier.

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

namespace orvix::platform::device {

// Stable for one machine and bundle identifier, different across bundle
// identifiers; absent when the machine has no unique id.
std::optional<QUuid> identifierForVendor(const QString &bundleIdentifier);

// The same, from given machine id bytes (empty: absent).
std::optional<QUuid> identifierForVendor(const QByteArray &machineId, const QString &bundleIdentifier);

} // namespace orvix::platform::device
