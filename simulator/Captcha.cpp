#include "simulator/Captcha.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace orvix::sim::captcha {

namespace {

// Drawn from a 5x7 dot matrix, so no font is needed.
struct Glyph {
    char c;
    std::array<quint8, 7> rows; // bit 4 is the left column
};
constexpr Glyph glyphs[] = {
    {'A', {0x0e, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}}, {'C', {0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e}},
    {'D', {0x1c, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1c}}, {'E', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f}},
    {'F', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x10}}, {'H', {0x11, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0c}}, {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f}}, {'M', {0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}}, {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}},
    {'R', {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11}}, {'T', {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0a}}, {'X', {0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0a, 0x04, 0x04, 0x04}}, {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}}, {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
};

const Glyph *glyphOf(QChar c)
{
    const auto *found = std::find_if(std::begin(glyphs), std::end(glyphs),
                                     [c](const Glyph &g) { return QLatin1Char(g.c) == c; });
    return found == std::end(glyphs) ? nullptr : found;
}

} // namespace

QString alphabet()
{
    QString out;
    for (const Glyph &g : glyphs)
        out += QLatin1Char(g.c);
    return out;
}

QByteArray png(const QString &code, QSize size, const QColor &background, quint32 seed)
{
    const int width = std::max(size.width(), 1), height = std::max(size.height(), 1);
    const int count = std::max(int(code.size()), 1);
    // Dots as large as the height and width allow, at least 2 pixels.
    constexpr int margin = 6;
    int dot = std::max(2, std::min((height - 2 * margin) / 7, (width - 2 * margin) / (6 * count - 1)));
    const auto advanceFor = [&](int d) {
        return count > 1 ? std::min(8 * d, (width - 2 * margin - 5 * d) / (count - 1)) : 0;
    };
    // Smaller letters rather than letters that touch: two dots between them.
    while (count > 1 && dot > 2 && advanceFor(dot) - 5 * dot < 2 * dot - 1)
        --dot;
    const int advance = advanceFor(dot);
    const int left = (width - (advance * (count - 1) + 5 * dot)) / 2;
    const int top = (height - 7 * dot) / 2;

    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    auto noise = [&](int lines, int value) {
        for (int i = 0; i < lines; ++i) {
            painter.setPen(QPen(QColor::fromHsv(random.bounded(360), 60, value), 1));
            painter.drawLine(random.bounded(width), random.bounded(height), random.bounded(width),
                             random.bounded(height));
        }
    };
    noise(8, 170);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < code.size(); ++i) {
        const Glyph *glyph = glyphOf(code.at(i));
        if (!glyph)
            continue;
        // One baseline: a letter set lower would read as lower case.
        const int x0 = left + i * advance + random.bounded(-1, 2);
        const int y0 = top + random.bounded(-1, 2);
        const QColor ink = QColor::fromHsv(random.bounded(360), 180, 80);
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (glyph->rows[row] & (0x10 >> col))
                    painter.fillRect(x0 + col * dot, y0 + row * dot, dot, dot, ink);
            }
        }
    }
    painter.setRenderHint(QPainter::Antialiasing);
    noise(2, 215);
    painter.end();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

} // namespace orvix::sim::captcha
