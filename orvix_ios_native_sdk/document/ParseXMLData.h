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

// Bounds on a document taken from an archive, checked before it is parsed:
// far above any offline e-KYC document (tens of kilobytes), low enough that
// a hostile one costs little time and memory.
struct DocumentBounds {
    static constexpr qint64 maxBytes = 16 * 1024 * 1024; // of the file
    static constexpr int maxDepth = 256;                  // elements inside one another
    static constexpr int maxAttributes = 256;             // on one element
    static constexpr qint64 maxElements = 1'000'000;
};

// Why `xml` lies beyond DocumentBounds, in words, or an empty text when it
// does not. One linear pass over the text. A document type declaration is
// refused as well: its entities could make elements the pass cannot count.
// Malformed markup is left for the parser to reject.
QString documentBeyondBounds(QStringView xml);

// The XML file at `path` as text (in the encoding its bytes tell, UTF-8 when
// they tell none), within DocumentBounds; nullopt and why not otherwise.
// The file's size is checked before it is read. `bytes` gets that size.
std::optional<QString> readBoundedDocument(const QString &path, QString *why, qint64 *bytes = nullptr);

} // namespace orvix
