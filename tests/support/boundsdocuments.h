#pragma once
// Offline e-KYC documents at the kit's document bounds, each dimension at
// its limit, and the worst combination of them; for the tests and the
// archive benchmark.

#include "orvix_ios_native_sdk/document/ParseXMLData.h"

#include <QByteArray>
#include <QList>

namespace orvix::testsupport {

using Bounds = DocumentBounds;

// The names of record() with its default Poi and Poa, each counted once:
// 5 elements and 10 attributes.
inline constexpr int kRecordNames = 15;
// Its elements, and the depth of its Pht.
inline constexpr int kRecordElements = 5;

// A record the screen shows: Poi and Poa with the given attributes (the
// defaults when empty), Pht with `photo`, then `extra` inside UidData.
inline QByteArray record(const QByteArray &poi = {}, const QByteArray &poa = {}, const QByteArray &photo = "QUJD",
                         const QByteArray &extra = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OfflinePaperlessKyc referenceId=\"123420260101\"><UidData><Poi "
        + (poi.isEmpty() ? QByteArray("name=\"Asha Rao\" dob=\"01-01-1990\" gender=\"F\"") : poi) + "/><Poa "
        + (poa.isEmpty() ? QByteArray("house=\"12\" street=\"MG Road\" dist=\"Pune\" pc=\"411038\" state=\"MH\" "
                                      "country=\"India\"")
                         : poa)
        + "/><Pht>" + photo + "</Pht>" + extra + "</UidData></OfflinePaperlessKyc>";
}

// `count` attributes a0, a1... each holding `value`.
inline QByteArray attributes(int count, const QByteArray &value, int from = 0)
{
    QByteArray out;
    for (int i = from; i < from + count; ++i)
        out += " a" + QByteArray::number(i) + "=\"" + value + '"';
    return out.mid(1);
}

// Each one is exactly at its bound, or one past it with `past`.
inline QByteArray atElements(bool past = false)
{
    return record({}, {}, "QUJD", QByteArray("<e/>").repeated(Bounds::maxElements - kRecordElements + past));
}

inline QByteArray atDepth(bool past = false)
{
    const int more = Bounds::maxDepth - 2 + past; // the root and UidData hold them
    return record({}, {}, "QUJD", QByteArray("<d>").repeated(more) + QByteArray("</d>").repeated(more));
}

inline QByteArray atAttributes(bool past = false)
{
    return record("name=\"Asha Rao\" dob=\"01-01-1990\" gender=\"F\" "
                  + attributes(Bounds::maxAttributes - 3 + past, "v"));
}

// The name and every shown part of the address as long as a value may be.
inline QByteArray atAttributeLength(bool past = false)
{
    const QByteArray value(Bounds::maxAttributeLength + past, 'N');
    const QByteArray part(Bounds::maxAttributeLength, 'P');
    QByteArray poa;
    for (const char *key : {"careof", "house", "landmark", "loc", "street", "po", "subdist", "dist", "pc", "state",
                            "country"})
        poa += QByteArray(key) + "=\"" + part + "\" ";
    return record("name=\"" + value + "\" dob=\"" + part + "\"", poa.chopped(1));
}

inline QByteArray atTextLength(bool past = false)
{
    return record({}, {}, QByteArray("QUJD").repeated(Bounds::maxTextLength / 4) + QByteArray(past, 'A'));
}

inline QByteArray atNameLength(bool past = false)
{
    const QByteArray name(Bounds::maxNameLength + past, 'n');
    return record({}, {}, "QUJD", "<" + name + " " + QByteArray(Bounds::maxNameLength, 'a') + "=\"1\"/>");
}

inline QByteArray atDistinctNames(bool past = false)
{
    const int more = Bounds::maxDistinctNames - kRecordNames + past;
    // Half as elements, half as attributes on one of them: 64 at a time.
    QByteArray extra;
    int made = 0;
    for (int element = 0; made < more; ++element) {
        extra += "<x" + QByteArray::number(element);
        ++made;
        const int onIt = qMin(Bounds::maxAttributes, more - made);
        if (onIt > 0)
            extra += ' ' + attributes(onIt, "1", made);
        made += onIt;
        extra += "/>";
    }
    return record({}, {}, "QUJD", extra);
}

// Exactly maxBytes: the photograph as long as a text may be, then one
// more text that fills the rest.
inline QByteArray atBytes(bool past = false)
{
    QByteArray xml = record({}, {}, QByteArray("QUJD").repeated(Bounds::maxTextLength / 4), "<Pad>@</Pad>");
    const qint64 fill = Bounds::maxBytes + past - (xml.size() - 1);
    return xml.replace(xml.indexOf('@'), 1, QByteArray(fill, 'p'));
}

// The most elements, each with the most attributes, as deep as allowed,
// the values as long as the size bound lets them be.
inline QByteArray worstCombination()
{
    const int elements = Bounds::maxElements - kRecordElements;
    const int tower = Bounds::maxDepth - 2;
    const auto build = [&](int valueLength) {
        const QByteArray open = "<t " + attributes(Bounds::maxAttributes, QByteArray(valueLength, 'v')) + ">";
        QByteArray extra;
        for (int made = 0; made < elements;) {
            const int height = qMin(tower, elements - made);
            extra += open.repeated(height) + QByteArray("</t>").repeated(height);
            made += height;
        }
        return record({}, {}, "QUJD", extra);
    };
    const qsizetype bare = build(0).size();
    const qint64 perValue = (Bounds::maxBytes - bare) / (qint64(elements) * Bounds::maxAttributes);
    return build(int(qMin<qint64>(perValue, Bounds::maxAttributeLength)));
}

// Documents a hostile authority stand-in served, each refused by a bound.
inline QByteArray hostileName16MiB()
{
    return record("name=\"" + QByteArray(16 * 1024 * 1024, 'A') + "\" dob=\"01-01-1990\"");
}

inline QByteArray hostileTowers() // 986,791 elements, 254 deep, 2 attributes each
{
    QByteArray extra;
    const QByteArray open = "<t a=\"1\" b=\"2\">";
    for (int made = 0; made < 986'791 - kRecordElements;) {
        const int height = qMin(252, 986'791 - kRecordElements - made);
        extra += open.repeated(height) + QByteArray("</t>").repeated(height);
        made += height;
    }
    return record({}, {}, "QUJD", extra);
}

inline QByteArray hostileWideElements() // 10,894 elements of 256 attributes
{
    const QByteArray element = "<w " + attributes(256, "v") + "/>";
    return record({}, {}, "QUJD", element.repeated(10'894 - kRecordElements));
}

inline QByteArray hostileFlatElements() // 999,990 elements of one attribute
{
    return record({}, {}, "QUJD", QByteArray("<f a=\"1\"/>").repeated(999'990 - kRecordElements));
}

inline QByteArray hostileDistinctNames() // 999,000 element names
{
    QByteArray extra;
    for (int i = 0; i < 999'000; ++i)
        extra += "<n" + QByteArray::number(i) + "/>";
    return record({}, {}, "QUJD", extra);
}

} // namespace orvix::testsupport
