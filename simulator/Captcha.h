#pragma once
// The captcha pictures of the authority's web API and of its resident page.

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QString>

namespace orvix::sim::captcha {

// The characters a captcha is made of: upper-case letters and digits that a
// person cannot take for one another, so neither side of 0/O/Q, 1/I/l, 2/Z,
// 5/S, 6/G, 8/B, 9/g or U/V. Answers are compared without regard to case.
QString alphabet();

// A PNG of `code` on a light `background`, the characters as large as `size`
// allows with two dots of space between them, on one baseline, a few faint
// lines across. The same seed draws the
// same picture. Characters outside the alphabet are left out.
QByteArray png(const QString &code, QSize size, const QColor &background, quint32 seed);

} // namespace orvix::sim::captcha
