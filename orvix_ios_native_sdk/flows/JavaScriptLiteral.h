#pragma once
// Text that goes into a page's script as a value.

#include <QString>
#include <QStringView>

namespace orvix {

// A single-quoted JavaScript string literal that evaluates to exactly `text`.
// Only printable ASCII is written as it is; quotes and backslashes are
// escaped, and line breaks, U+2028/U+2029, other control characters, "<", ">"
// and everything outside ASCII become \uXXXX escapes (UTF-16 code units), so
// the literal can neither end early nor close a surrounding <script> element.
QString javaScriptStringLiteral(QStringView text);

} // namespace orvix
