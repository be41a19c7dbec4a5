#include "orvix_ios_native_sdk/document/ParseXMLData.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QStringView>
#include <QXmlStreamReader>

#include <utility>
#include <vector>

namespace orvix {
namespace {

struct Attribute {
    QString name;
    QString value;
};

struct Node {
    int name = -1;           // index into the element names
    int firstAttribute = 0;  // index into Tree::attributes
    int attributeCount = 0;
    int firstChild = -1;
    int lastChild = -1;
    int nextSibling = -1;
    bool textOnly = true;    // no attribute and no child element so far
    QString text;            // collected only while textOnly
};

// The document as a flat tree: children are linked by index, so neither
// building, writing nor freeing it recurses, however deep the document.
struct Tree {
    explicit Tree(QStringList &elementNames) : names(elementNames) {}

    int nameId(QStringView name)
    {
        const auto it = ids.constFind(name);
        if (it != ids.cend())
            return *it;
        names.append(name.toString());
        const int id = int(names.size() - 1);
        ids.insert(QStringView(names.constLast()), id); // the view stays on the list's string
        return id;
    }

    std::vector<Node> nodes;
    std::vector<Attribute> attributes;
    QStringList &names;
    QHash<QStringView, int> ids;
};

QString positioned(const QXmlStreamReader &reader)
{
    return QStringLiteral("%1 (line %2, column %3)")
        .arg(reader.errorString())
        .arg(reader.lineNumber())
        .arg(reader.columnNumber());
}

// Fills the tree; false with a message when the document is malformed.
bool build(const QString &xml, Tree &tree, QString &error)
{
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    std::vector<int> open;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const int index = int(tree.nodes.size());
            Node node;
            node.name = tree.nameId(reader.qualifiedName());
            const QXmlStreamAttributes attributes = reader.attributes();
            node.firstAttribute = int(tree.attributes.size());
            node.attributeCount = int(attributes.size());
            node.textOnly = attributes.isEmpty();
            for (const QXmlStreamAttribute &attribute : attributes)
                tree.attributes.push_back({attribute.qualifiedName().toString(), attribute.value().toString()});
            if (!open.empty()) {
                Node &parent = tree.nodes[size_t(open.back())];
                parent.textOnly = false;
                parent.text = QString(); // mixed content: its text is dropped
                if (parent.lastChild < 0)
                    parent.firstChild = index;
                else
                    tree.nodes[size_t(parent.lastChild)].nextSibling = index;
                parent.lastChild = index;
            }
            tree.nodes.push_back(std::move(node));
            open.push_back(index);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                open.pop_back();
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty()) {
                Node &node = tree.nodes[size_t(open.back())];
                if (node.textOnly)
                    node.text += reader.text();
            }
            break;
        case QXmlStreamReader::EntityReference:
            // Declared in an external subset we do not read: kept as written.
            if (!open.empty()) {
                Node &node = tree.nodes[size_t(open.back())];
                if (node.textOnly)
                    node.text += u'&' + reader.name().toString() + u';';
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        error = positioned(reader);
        return false;
    }
    if (tree.nodes.empty()) {
        error = QStringLiteral("the document has no element");
        return false;
    }
    return true;
}

// Names that occur twice among the children of one element.
std::vector<bool> repeatedNames(const Tree &tree)
{
    std::vector<int> seenUnder(size_t(tree.names.size()), -1);
    std::vector<bool> repeated(size_t(tree.names.size()), false);
    for (int parent = 0; parent < int(tree.nodes.size()); ++parent) {
        for (int child = tree.nodes[size_t(parent)].firstChild; child >= 0;
             child = tree.nodes[size_t(child)].nextSibling) {
            const auto name = size_t(tree.nodes[size_t(child)].name);
            if (seenUnder[name] == parent)
                repeated[name] = true;
            else
                seenUnder[name] = parent;
        }
    }
    return repeated;
}

void appendJsonString(QString &out, QStringView text)
{
    out += u'"';
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        out += text.sliced(run, i - run);
        switch (c) {
        case u'"': out += u"\\\""; break;
        case u'\\': out += u"\\\\"; break;
        case u'\n': out += u"\\n"; break;
        case u'\r': out += u"\\r"; break;
        case u'\t': out += u"\\t"; break;
        case u'\b': out += u"\\b"; break;
        case u'\f': out += u"\\f"; break;
        default: out += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')); break;
        }
        run = i + 1;
    }
    out += text.sliced(run);
    out += u'"';
}

// Writes the tree without recursion: each open object is a frame holding the
// steps that write its members.
class JsonWriter {
public:
    JsonWriter(const Tree &tree, const std::vector<bool> &repeated)
        : m_tree(tree), m_repeated(repeated),
          m_groupOwner(size_t(tree.names.size()), -1), m_groupIndex(size_t(tree.names.size()), 0)
    {
    }

    QString write(qsizetype sizeHint)
    {
        m_out.reserve(sizeHint);
        // The document is an object with the root as its one member.
        Frame document;
        document.steps.push_back({Op::NameKey, m_tree.nodes.front().name});
        appendMember(document, m_tree.nodes.front().name, {0});
        m_out += u'{';
        m_frames.push_back(std::move(document));

        while (!m_frames.empty()) {
            Frame &frame = m_frames.back();
            if (frame.next == frame.steps.size()) {
                m_out += u'}';
                m_frames.pop_back();
                continue;
            }
            const Step step = frame.steps[frame.next++];
            switch (step.op) { // may push a frame: `frame` is not used after this
            case Op::NameKey:
                appendJsonString(m_out, m_tree.names.at(step.index));
                m_out += u':';
                break;
            case Op::AttributeKey:
                appendJsonString(m_out, m_tree.attributes[size_t(step.index)].name);
                m_out += u':';
                break;
            case Op::AttributeValue:
                appendJsonString(m_out, m_tree.attributes[size_t(step.index)].value);
                break;
            case Op::Element:
                startElement(step.index);
                break;
            case Op::OpenArray: m_out += u'['; break;
            case Op::CloseArray: m_out += u']'; break;
            case Op::Comma: m_out += u','; break;
            }
        }
        return std::move(m_out);
    }

private:
    enum class Op : quint8 { NameKey, AttributeKey, AttributeValue, Element, OpenArray, CloseArray, Comma };
    struct Step {
        Op op;
        int index;
    };
    struct Frame {
        std::vector<Step> steps;
        size_t next = 0;
    };
    struct Group {
        int name;
        std::vector<int> members;
        bool written = false;
    };

    // An element's value as the value of a member; repeated names as arrays.
    void appendMember(Frame &frame, int name, const std::vector<int> &members)
    {
        if (!m_repeated[size_t(name)]) {
            frame.steps.push_back({Op::Element, members.front()});
            return;
        }
        frame.steps.push_back({Op::OpenArray, 0});
        for (size_t i = 0; i < members.size(); ++i) {
            if (i > 0)
                frame.steps.push_back({Op::Comma, 0});
            frame.steps.push_back({Op::Element, members[i]});
        }
        frame.steps.push_back({Op::CloseArray, 0});
    }

    void startElement(int index)
    {
        const Node &node = m_tree.nodes[size_t(index)];
        if (node.attributeCount == 0 && node.firstChild < 0) {
            if (node.text.isEmpty())
                m_out += u"{}";
            else
                appendJsonString(m_out, node.text);
            return;
        }
        m_out += u'{';
        m_frames.push_back(plan(index));
    }

    Frame plan(int index)
    {
        const Node &node = m_tree.nodes[size_t(index)];
        std::vector<Group> groups;
        for (int child = node.firstChild; child >= 0; child = m_tree.nodes[size_t(child)].nextSibling) {
            const auto name = size_t(m_tree.nodes[size_t(child)].name);
            if (m_groupOwner[name] != index) {
                m_groupOwner[name] = index;
                m_groupIndex[name] = groups.size();
                groups.push_back({int(name), {}});
            }
            groups[m_groupIndex[name]].members.push_back(child);
        }

        Frame frame;
        bool first = true;
        const auto separate = [&] {
            if (!first)
                frame.steps.push_back({Op::Comma, 0});
            first = false;
        };
        for (int a = node.firstAttribute; a < node.firstAttribute + node.attributeCount; ++a) {
            separate();
            frame.steps.push_back({Op::AttributeKey, a});
            const int name = m_tree.ids.value(QStringView(m_tree.attributes[size_t(a)].name), -1);
            if (name < 0 || m_groupOwner[size_t(name)] != index) {
                frame.steps.push_back({Op::AttributeValue, a});
                continue;
            }
            // A child element shares the attribute's name: one array for both.
            Group &group = groups[m_groupIndex[size_t(name)]];
            group.written = true;
            frame.steps.push_back({Op::OpenArray, 0});
            frame.steps.push_back({Op::AttributeValue, a});
            for (int member : group.members) {
                frame.steps.push_back({Op::Comma, 0});
                frame.steps.push_back({Op::Element, member});
            }
            frame.steps.push_back({Op::CloseArray, 0});
        }
        for (const Group &group : groups) {
            if (group.written)
                continue;
            separate();
            frame.steps.push_back({Op::NameKey, group.name});
            appendMember(frame, group.name, group.members);
        }
        return frame;
    }

    const Tree &m_tree;
    const std::vector<bool> &m_repeated;
    std::vector<int> m_groupOwner;    // per name: the element whose groups are being planned
    std::vector<size_t> m_groupIndex; // per name: its group in that element
    std::vector<Frame> m_frames;
    QString m_out;
};

} // namespace

ParseXMLData::ParseXMLData(const QString &xml) : m_xml(xml) {}

namespace {

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// One pass over the markup, each bound checked as soon as it can be broken.
class BoundsScan {
public:
    explicit BoundsScan(QStringView xml) : m_xml(xml) {}

    QString run()
    {
        using B = DocumentBounds;
        if (m_xml.size() > B::maxBytes)
            return QStringLiteral("the document is longer than %1 characters").arg(B::maxBytes);
        qsizetype textFrom = -1; // where the text since the last tag began, inside the root
        for (qsizetype at = 0; (at = m_xml.indexOf(u'<', at)) >= 0;) {
            const QStringView rest = m_xml.sliced(at);
            if (rest.startsWith(u"<!--")) {
                if (!skipPast(at, at + 4, u"-->"))
                    return unreadable();
            } else if (rest.startsWith(u"<![CDATA[")) {
                if (!skipPast(at, at + 9, u"]]>"))
                    return unreadable();
            } else if (rest.startsWith(u"<?")) {
                if (!skipPast(at, at + 2, u"?>"))
                    return unreadable();
            } else if (rest.startsWith(u"<!DOCTYPE")) {
                return QStringLiteral("the document declares a document type");
            } else if (rest.startsWith(u"<!")) {
                return unreadable();
            } else {
                // A tag: the text before it ends here. Comments, sections and
                // instructions inside it count as text, since the parser joins
                // the pieces around them.
                if (textFrom >= 0 && at - textFrom > B::maxTextLength)
                    return QStringLiteral("a text is longer than %1 characters").arg(B::maxTextLength);
                const QString why = rest.startsWith(u"</") ? endTag(at) : startTag(at);
                if (!why.isEmpty())
                    return why;
                textFrom = m_depth > 0 ? at : -1;
            }
        }
        return {};
    }

private:
    static QString unreadable() { return QStringLiteral("the document is not well-formed"); }

    // Moves `at` past `close`, searched from `from`; false when it never comes.
    bool skipPast(qsizetype &at, qsizetype from, QStringView close) const
    {
        const qsizetype end = m_xml.indexOf(close, from);
        if (end < 0)
            return false;
        at = end + close.size();
        return true;
    }

    void skipSpace(qsizetype &k) const
    {
        while (k < m_xml.size() && isXmlSpace(m_xml[k]))
            ++k;
    }

    // A name up to a blank, '=', '/', '>' or '<'; its length and the count
    // of distinct names checked.
    QString name(qsizetype &k, QStringView *out)
    {
        const qsizetype from = k;
        while (k < m_xml.size()) {
            const QChar c = m_xml[k];
            if (isXmlSpace(c) || c == u'=' || c == u'/' || c == u'>' || c == u'<')
                break;
            ++k;
        }
        *out = m_xml.sliced(from, k - from);
        if (out->isEmpty())
            return unreadable();
        if (out->size() > DocumentBounds::maxNameLength)
            return QStringLiteral("a name is longer than %1 characters").arg(DocumentBounds::maxNameLength);
        m_names.insert(*out);
        if (m_names.size() > DocumentBounds::maxDistinctNames)
            return QStringLiteral("the document has more than %1 distinct names").arg(DocumentBounds::maxDistinctNames);
        return {};
    }

    // From the '<' of a start tag past its '>'.
    QString startTag(qsizetype &at)
    {
        using B = DocumentBounds;
        if (++m_elements > B::maxElements)
            return QStringLiteral("the document has more than %1 elements").arg(B::maxElements);
        qsizetype k = at + 1;
        QStringView element;
        if (QString why = name(k, &element); !why.isEmpty())
            return why;
        int attributes = 0;
        for (;;) {
            const qsizetype before = k;
            skipSpace(k);
            if (k >= m_xml.size())
                return unreadable();
            if (m_xml[k] == u'>') {
                if (++m_depth > B::maxDepth)
                    return QStringLiteral("the document nests more than %1 elements deep").arg(B::maxDepth);
                at = k + 1;
                return {};
            }
            if (m_xml[k] == u'/') {
                if (k + 1 >= m_xml.size() || m_xml[k + 1] != u'>')
                    return unreadable();
                at = k + 2;
                return {};
            }
            if (k == before) // attributes are set apart by blanks
                return unreadable();
            QStringView attribute;
            if (QString why = name(k, &attribute); !why.isEmpty())
                return why;
            if (++attributes > B::maxAttributes)
                return QStringLiteral("an element has more than %1 attributes").arg(B::maxAttributes);
            skipSpace(k);
            if (k >= m_xml.size() || m_xml[k] != u'=')
                return unreadable();
            ++k;
            skipSpace(k);
            if (k >= m_xml.size() || (m_xml[k] != u'"' && m_xml[k] != u'\''))
                return unreadable();
            const qsizetype close = m_xml.indexOf(m_xml[k], k + 1);
            if (close < 0)
                return unreadable();
            if (close - k - 1 > B::maxAttributeLength)
                return QStringLiteral("an attribute value is longer than %1 characters").arg(B::maxAttributeLength);
            k = close + 1;
        }
    }

    // From the '<' of an end tag past its '>'.
    QString endTag(qsizetype &at)
    {
        const qsizetype close = m_xml.indexOf(u'>', at + 2);
        if (close < 0)
            return unreadable();
        m_depth = qMax(0, m_depth - 1);
        at = close + 1;
        return {};
    }

    QStringView m_xml;
    qint64 m_elements = 0;
    int m_depth = 0;
    QSet<QStringView> m_names;
};

} // namespace

QString documentBeyondBounds(QStringView xml)
{
    return BoundsScan(xml).run();
}

std::optional<QString> readBoundedDocument(const QString &path, QString *why, qint64 *bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (bytes)
        *bytes = file.size();
    if (file.size() > DocumentBounds::maxBytes) {
        *why = QStringLiteral("the document is larger than %1 bytes").arg(DocumentBounds::maxBytes);
        return std::nullopt;
    }
    const QByteArray data = file.read(file.size() + 1); // one more shows growth
    if (data.size() > DocumentBounds::maxBytes) { // grew while read
        *why = QStringLiteral("the document is larger than %1 bytes").arg(DocumentBounds::maxBytes);
        return std::nullopt;
    }
    if (bytes)
        *bytes = data.size();
    QStringDecoder decoder(QStringConverter::encodingForData(data).value_or(QStringConverter::Utf8));
    QString xml = decoder.decode(data);
    if (decoder.hasError()) {
        *why = QStringLiteral("not text in its encoding");
        return std::nullopt;
    }
    *why = documentBeyondBounds(xml);
    if (!why->isEmpty())
        return std::nullopt;
    return xml;
}

QString ParseXMLData::convertToJSON()
{
    m_elementArr.clear();
    m_arrayElementArr.clear();
    m_errorString.clear();

    Tree tree(m_elementArr);
    if (!build(m_xml, tree, m_errorString)) {
        m_elementArr.clear();
        return QString();
    }
    const std::vector<bool> repeated = repeatedNames(tree);
    for (qsizetype i = 0; i < m_elementArr.size(); ++i) {
        if (repeated[size_t(i)])
            m_arrayElementArr.append(m_elementArr.at(i));
    }
    return JsonWriter(tree, repeated).write(m_xml.size() + 16);
}

} // namespace orvix
