#pragma once
// The offline e-KYC XML document as JSON text.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <optional>

namespace orvix {

// Converts one XML document into JSON text: one object whose only key is the
// root element's name.
//
// - Names are taken as written, prefix included; a namespace declaration
//   ("xmlns", "xmlns:p") is an ordinary attribute.
// - An element with attributes or child elements becomes an object: its
//   attributes as strings, then its child elements by name. Its text is
//   dropped.
// - An element with neither becomes its text (entities resolved, every piece
//   kept), or {} when it has none.
// - A name that occurs more than once among the children of any one element
//   is an array wherever it appears, in document order. A child named like
//   an attribute of the same element shares that key's array, the
//   attribute's value first.
// - Every leaf value is a string.
//
// Malformed XML gives an empty text, which does not decode as JSON.
class ParseXMLData {
public:
    explicit ParseXMLData(const QString &xml);

    // Parses and converts on the calling thread.
    QString convertToJSON();

    // Filled by convertToJSON(): every distinct element name in order of
    // first appearance, and those of them that became arrays.
    const QStringList &elementArr() const { return m_elementArr; }
    const QStringList &arrayElementArr() const { return m_arrayElementArr; }

    // The parser's message when the document was malformed, else empty.
    const QString &errorString() const { return m_errorString; }

private:
    QString m_xml;
    QStringList m_elementArr;
    QStringList m_arrayElementArr;
    QString m_errorString;
};

// Bounds on a document taken from an archive, checked before it is parsed.
// A real offline e-KYC document is tens of kilobytes: a few dozen elements,
// nesting under ten levels, under twenty attributes on an element, values of
// a few hundred characters and one Base64 photograph as text. Each bound is
// far above that; together they keep the cost of any document within them,
// through conversion, record, screen and submission, under 200 MB and half
// a second (bench_archive measures it).
struct DocumentBounds {
    // Of the file; a 2 MB Base64 photograph fits with room, and a stored
    // archive of it stays under the archive bound (8 MiB).
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;
    // Each element costs about a kilobyte on the way (tree, JSON, maps).
    static constexpr qint64 maxElements = 4096;
    // Elements inside one another.
    static constexpr int maxDepth = 32;
    // On one element; with maxElements, at most 262,144 attributes in all.
    static constexpr int maxAttributes = 64;
    // Characters of one attribute value as written: what a label may show.
    static constexpr qint64 maxAttributeLength = 4096;
    // Characters of one text as written, from tag to tag: the photograph.
    static constexpr qint64 maxTextLength = 3 * 1024 * 1024;
    // Characters of one element or attribute name.
    static constexpr int maxNameLength = 256;
    // Element and attribute names told apart, each counted once.
    static constexpr int maxDistinctNames = 1024;
};

// Why `xml` lies beyond DocumentBounds, in words, or an empty text when it
// does not. One linear pass over the text. A document type declaration is
// refused as well: its entities could make elements the pass cannot count.
// So is a tag the pass cannot read, which the parser would refuse too.
QString documentBeyondBounds(QStringView xml);

// The XML file at `path` as text (in the encoding its bytes tell, UTF-8 when
// they tell none), within DocumentBounds; nullopt and why not otherwise.
// The file's size is checked before it is read. `bytes` gets that size.
std::optional<QString> readBoundedDocument(const QString &path, QString *why, qint64 *bytes = nullptr);

} // namespace orvix
