#include "orvix_ios_native_sdk/core/URLQuery.h"

namespace orvix {

std::optional<QString> queryValue(const QUrl &url, const QString &name)
{
    if (!url.isValid() || !url.hasQuery())
        return std::nullopt;
    const QByteArray query = url.query(QUrl::FullyEncoded).toUtf8();
    for (const QByteArray &item : query.split('&')) {
        const qsizetype eq = item.indexOf('=');
        const QByteArray rawName = eq < 0 ? item : item.left(eq);
        if (QUrl::fromPercentEncoding(rawName) != name)
            continue;
        if (eq < 0)
            return std::nullopt; // a name without a value
        return QUrl::fromPercentEncoding(item.mid(eq + 1));
    }
    return std::nullopt;
}

} // namespace orvix
