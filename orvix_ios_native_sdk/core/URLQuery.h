#pragma once

#include <QString>
#include <QUrl>
#include <optional>

namespace orvix {

// The percent-decoded value of the first query item named exactly `name`;
// nothing when the URL has no query, no such item, or the item has no "=".
std::optional<QString> queryValue(const QUrl &url, const QString &name);

} // namespace orvix
