#include "orvix_ios_native_sdk/flows/JavaScriptLiteral.h"

namespace orvix {

QString javaScriptStringLiteral(QStringView text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() + 2);
    out += u'\'';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\'' || u == u'"' || u == u'\\') {
            out += u'\\';
            out += c;
        } else if (u >= 0x20 && u < 0x7f && u != u'<' && u != u'>') {
            out += c;
        } else {
            out += QLatin1String("\\u");
            out += QLatin1Char(hex[(u >> 12) & 0xf]);
            out += QLatin1Char(hex[(u >> 8) & 0xf]);
            out += QLatin1Char(hex[(u >> 4) & 0xf]);
            out += QLatin1Char(hex[u & 0xf]);
        }
    }
    out += u'\'';
    return out;
}

} // namespace orvix
