#include "core/centerdocument.h"

#include "core/centerkey.h"
#include "protocol/limits.h"
#include "protocol/windows1252.h"

#include <pugixml.hpp>

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VelmoraInternal {

using VelmoraProtocol::MaxAnswerBytes;
using VelmoraProtocol::MaxCenters;
using VelmoraProtocol::MinCount;
namespace Windows1252 = VelmoraProtocol::Windows1252;

namespace {

// Thrown inside the reader only, so that every check can stop the read in
// one line; read() turns it into its false result.
struct ReadFailure
{
    QString reason;
};

[[noreturn]] void fail(QString reason)
{
    throw ReadFailure{std::move(reason)};
}

// Grouped as in "32,767", with the separator of the operator's language
// rather than the system locale's.
QString grouped(qint64 value)
{
    //: The separator of digit groups in numbers such as 32,767.
    const QString separator = CenterDocumentReader::tr(",");
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, separator);
    return value < 0 ? u'-' + digits : digits;
}

// A value quoted in a reason, cut short so that a huge text node cannot
// flood a message box.
QString quoted(const QString &text)
{
    constexpr qsizetype Shown = 40;
    if (text.size() <= Shown)
        return u'"' + text + u'"';
    return u'"' + text.left(Shown) + QStringLiteral("\u2026\"");
}

// ---------------------------------------------------------------------------
// Bytes to UTF-8

bool isForbiddenControl(char32_t c)
{
    return c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
}

[[noreturn]] void failControl(char32_t c, qsizetype offset)
{
    fail(CenterDocumentReader::tr("The server's answer contains the control character 0x%1 at byte %2, "
                                  "which XML does not allow")
             .arg(uint(c), 2, 16, QLatin1Char('0'))
             .arg(offset));
}

// Checks the bytes as UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF) and for control characters, which the parser would otherwise
// take as the end of the text.
void checkUtf8(std::string_view bytes, qsizetype reportedStart)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = qsizetype(bytes.size());
    qsizetype i = 0;
    // Reported at the first byte of the sequence that breaks.
    auto bad = [&](qsizetype at) {
        fail(CenterDocumentReader::tr("The server's answer is not valid UTF-8 at byte %1")
                 .arg(reportedStart + at));
    };
    auto continuation = [&](qsizetype at, unsigned char lo, unsigned char hi) {
        if (at >= n || p[at] < lo || p[at] > hi)
            bad(i);
    };
    while (i < n) {
        // Eight bytes at a time while they are all printable ASCII (0x20 to
        // 0x7F): a byte at or above 0x80 sets its top bit in word, and the
        // lowest byte below 0x20 sets it in the difference.
        if (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, sizeof word);
            if (((word | (word - 0x2020202020202020ULL)) & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char b = p[i];
        if (b < 0x80) {
            if (isForbiddenControl(b))
                failControl(b, reportedStart + i);
            ++i;
        } else if (b >= 0xC2 && b <= 0xDF) {
            continuation(i + 1, 0x80, 0xBF);
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
            const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
            continuation(i + 1, lo, hi);
            continuation(i + 2, 0x80, 0xBF);
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
            const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
            continuation(i + 1, lo, hi);
            continuation(i + 2, 0x80, 0xBF);
            continuation(i + 3, 0x80, 0xBF);
            i += 4;
        } else {
            bad(i);
        }
    }
}

std::string windows1252ToUtf8(std::string_view bytes)
{
    for (qsizetype i = 0; i < qsizetype(bytes.size()); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (isForbiddenControl(b))
            failControl(b, i);
    }
    const QByteArray utf8 = Windows1252::decode(QByteArrayView(bytes.data(), bytes.size())).toUtf8();
    return std::string(utf8.constData(), utf8.size());
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian, qsizetype reportedStart)
{
    if (bytes.size() % 2 != 0)
        fail(CenterDocumentReader::tr("The server's answer is UTF-16 but has an odd number of bytes"));
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype units = qsizetype(bytes.size() / 2);
    auto unitAt = [&](qsizetype i) -> char16_t {
        return bigEndian ? char16_t(p[2 * i] << 8 | p[2 * i + 1])
                         : char16_t(p[2 * i + 1] << 8 | p[2 * i]);
    };
    QString text(units, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= units || !QChar::isLowSurrogate(unitAt(i + 1)))
                fail(CenterDocumentReader::tr("The server's answer is not valid UTF-16 at byte %1")
                         .arg(reportedStart + 2 * i));
            *out++ = QChar(u);
            *out++ = QChar(unitAt(++i));
            continue;
        }
        if (QChar::isLowSurrogate(u))
            fail(CenterDocumentReader::tr("The server's answer is not valid UTF-16 at byte %1")
                     .arg(reportedStart + 2 * i));
        if (isForbiddenControl(u))
            failControl(u, reportedStart + 2 * i);
        *out++ = QChar(u);
    }
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), utf8.size());
}

// The value of encoding="..." in an XML declaration at the very start, in
// lower case, or empty when there is none.
std::string declaredEncoding(std::string_view bytes)
{
    if (bytes.substr(0, 5) != "<?xml" || bytes.size() < 6
        || (bytes[5] != ' ' && bytes[5] != '\t' && bytes[5] != '\r' && bytes[5] != '\n'))
        return {};
    const std::string_view head = bytes.substr(0, bytes.find("?>"));
    std::size_t at = head.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at += 8;
    auto skipBlanks = [&] {
        while (at < head.size() && (head[at] == ' ' || head[at] == '\t' || head[at] == '\r' || head[at] == '\n'))
            ++at;
    };
    skipBlanks();
    if (at >= head.size() || head[at] != '=')
        return {};
    ++at;
    skipBlanks();
    if (at >= head.size() || (head[at] != '"' && head[at] != '\''))
        return {};
    const char quote = head[at++];
    const std::size_t end = head.find(quote, at);
    if (end == std::string_view::npos)
        return {};
    std::string name(head.substr(at, end - at));
    for (char &c : name) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return name;
}

bool isWestern8Bit(const std::string &encoding)
{
    // Latin-1 is read as Windows-1252, as browsers do: the 0x80-0x9F block
    // holds printable characters in what such servers really send.
    static constexpr std::array<std::string_view, 12> Names = {
        "iso-8859-1", "iso8859-1", "iso_8859-1", "iso_8859-1:1987", "latin1", "latin-1",
        "l1", "cp819", "ibm819", "windows-1252", "cp1252", "x-cp1252",
    };
    for (std::string_view name : Names) {
        if (encoding == name)
            return true;
    }
    return false;
}

bool isUtf8Compatible(const std::string &encoding)
{
    return encoding.empty() || encoding == "utf-8" || encoding == "utf8"
        || encoding == "us-ascii" || encoding == "ascii";
}

// The answer as UTF-8 text without byte order mark, whatever it came in:
// a view of body when it is UTF-8 already, else of *converted.
std::string_view toUtf8Document(const QByteArray &body, std::string *converted)
{
    const std::string_view bytes(body.constData(), std::size_t(body.size()));
    auto startsWith = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
    using namespace std::string_view_literals;

    if (startsWith("\xEF\xBB\xBF"sv)) {
        const std::string_view rest = bytes.substr(3);
        checkUtf8(rest, 3);
        return rest;
    }
    if (startsWith("\xFF\xFE\0\0"sv) || startsWith("\0\0\xFE\xFF"sv))
        fail(CenterDocumentReader::tr("The server's answer is in UTF-32, which the control does not read"));
    if (startsWith("\xFF\xFE"sv))
        return *converted = utf16ToUtf8(bytes.substr(2), false, 2);
    if (startsWith("\xFE\xFF"sv))
        return *converted = utf16ToUtf8(bytes.substr(2), true, 2);
    if (startsWith("<\0?\0"sv))
        return *converted = utf16ToUtf8(bytes, false, 0);
    if (startsWith("\0<\0?"sv))
        return *converted = utf16ToUtf8(bytes, true, 0);

    const std::string encoding = declaredEncoding(bytes);
    if (isWestern8Bit(encoding))
        return *converted = windows1252ToUtf8(bytes);
    if (!isUtf8Compatible(encoding))
        fail(CenterDocumentReader::tr("The server's answer declares the encoding \"%1\", which the control "
                                      "does not read")
                 .arg(QString::fromLatin1(encoding.data(), qsizetype(encoding.size()))));
    checkUtf8(bytes, 0);
    return bytes;
}

// ---------------------------------------------------------------------------
// Positions in the text

struct LineColumn
{
    qsizetype line = 1;
    qsizetype column = 1;
};

// Line and column (in characters) of a byte offset in the UTF-8 text.
LineColumn lineColumnAt(std::string_view text, qsizetype offset)
{
    LineColumn at;
    const qsizetype end = std::min<qsizetype>(offset, qsizetype(text.size()));
    for (qsizetype i = 0; i < end; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '\n') {
            ++at.line;
            at.column = 1;
        } else if ((b & 0xC0) != 0x80) {
            ++at.column;
        }
    }
    return at;
}

QString where(std::string_view text, qsizetype offset)
{
    const LineColumn at = lineColumnAt(text, offset);
    return CenterDocumentReader::tr("line %1, column %2").arg(at.line).arg(at.column);
}

// ---------------------------------------------------------------------------
// References in text

// The parser leaves references alone (parse_escapes is off) so that an
// entity the document declares for itself is seen here instead of passing
// through as literal text: it is refused, never expanded.
struct Reference
{
    std::size_t length = 0;   // from '&' to ';' inclusive
    char32_t codePoint = 0;   // the character it stands for
};

std::optional<Reference> parseReference(std::string_view text, std::size_t at)
{
    const std::size_t semicolon = text.find(';', at);
    if (semicolon == std::string_view::npos || semicolon - at > 12)
        return std::nullopt;
    const std::string_view name = text.substr(at + 1, semicolon - at - 1);
    Reference ref;
    ref.length = semicolon - at + 1;
    if (name == "lt")
        ref.codePoint = '<';
    else if (name == "gt")
        ref.codePoint = '>';
    else if (name == "amp")
        ref.codePoint = '&';
    else if (name == "apos")
        ref.codePoint = '\'';
    else if (name == "quot")
        ref.codePoint = '"';
    else if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return std::nullopt;
        char32_t value = 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            value = value * (hex ? 16 : 10) + char32_t(d);
            if (value > 0x10FFFF)
                return std::nullopt;
        }
        const bool allowed = value == 0x9 || value == 0xA || value == 0xD
            || (value >= 0x20 && value <= 0xD7FF) || (value >= 0xE000 && value <= 0xFFFD)
            || value >= 0x10000;
        if (!allowed)
            return std::nullopt;
        ref.codePoint = value;
    } else {
        return std::nullopt;
    }
    return ref;
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Appends the text with its references replaced; the whole document was
// checked beforehand, so every '&' starts a valid reference here.
void appendUnescaped(std::string &out, std::string_view text)
{
    std::size_t from = 0;
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', from)) {
        out.append(text.substr(from, amp - from));
        const std::optional<Reference> ref = parseReference(text, amp);
        if (!ref) { // not reached after the check; kept literal to stay safe
            out += '&';
            from = amp + 1;
            continue;
        }
        appendUtf8(out, ref->codePoint);
        from = amp + ref->length;
    }
    out.append(text.substr(from));
}

void checkReferences(std::string_view documentText, std::string_view value, ptrdiff_t nodeOffset)
{
    for (std::size_t amp = value.find('&'); amp != std::string_view::npos; amp = value.find('&', amp + 1)) {
        if (parseReference(value, amp))
            continue;
        const QString at = where(documentText, nodeOffset);
        const std::size_t semicolon = value.find(';', amp);
        if (semicolon == std::string_view::npos || semicolon - amp > 40)
            fail(CenterDocumentReader::tr("The server's answer is not XML: a '&' in the text at %1 does not start "
                                          "a reference")
                     .arg(at));
        const std::string_view ref = value.substr(amp, semicolon - amp + 1);
        const QString refText = QString::fromUtf8(ref.data(), qsizetype(ref.size()));
        if (ref.size() > 1 && ref[1] == '#')
            fail(CenterDocumentReader::tr("The server's answer is not XML: the character reference %1 in the text "
                                          "at %2 is malformed or names a character XML does not allow")
                     .arg(refText, at));
        fail(CenterDocumentReader::tr("The server's answer uses the entity %1 in the text at %2, which the control "
                                      "does not expand: it reads only the five predefined entities and character "
                                      "references")
                 .arg(refText, at));
    }
}

// Visits every node below `top` in document order without recursion, so
// that the depth of the document cannot exhaust the stack.
template<typename Visit>
void forEachDescendant(pugi::xml_node top, Visit &&visit)
{
    pugi::xml_node node = top.first_child();
    while (node) {
        visit(node);
        if (pugi::xml_node child = node.first_child()) {
            node = child;
            continue;
        }
        while (node && node != top && !node.next_sibling())
            node = node.parent();
        if (!node || node == top)
            break;
        node = node.next_sibling();
    }
}

void checkAllReferences(const pugi::xml_document &doc, std::string_view documentText)
{
    // Most documents hold no reference at all: one scan instead of a walk.
    if (documentText.find('&') == std::string_view::npos)
        return;
    forEachDescendant(doc, [&](pugi::xml_node node) {
        if (node.type() == pugi::node_pcdata) {
            checkReferences(documentText, node.value(), node.offset_debug());
        } else if (node.type() == pugi::node_element) {
            for (pugi::xml_attribute attribute : node.attributes())
                checkReferences(documentText, attribute.value(), node.offset_debug());
        }
    });
}

// ---------------------------------------------------------------------------
// Reading by position

// UTF-8 to text, keeping a U+FEFF at the start: QString::fromUtf8() drops it
// as if it were a byte order mark, and a name may begin with it.
QString utf8Text(std::string_view bytes)
{
    using namespace std::string_view_literals;
    if (bytes.substr(0, 3) != "\xEF\xBB\xBF"sv)
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

// The UTF-8 text of a node: for an element all the text and CDATA it
// contains, in document order; for any other node its value. A view of the
// parser's buffer where nothing needs expanding (the usual case), else of
// *scratch.
std::string_view textBytes(pugi::xml_node node, std::string *scratch)
{
    scratch->clear();
    switch (node.type()) {
    case pugi::node_pcdata: {
        const std::string_view value = node.value();
        if (value.find('&') == std::string_view::npos)
            return value;
        appendUnescaped(*scratch, value);
        break;
    }
    case pugi::node_element:
        forEachDescendant(node, [&](pugi::xml_node inner) {
            if (inner.type() == pugi::node_pcdata)
                appendUnescaped(*scratch, inner.value());
            else if (inner.type() == pugi::node_cdata)
                *scratch += inner.value();
        });
        break;
    default:
        *scratch = node.value();
        break;
    }
    return *scratch;
}

QString textOf(pugi::xml_node node)
{
    std::string scratch;
    return utf8Text(textBytes(node, &scratch));
}

// The child at a 0-based position among all kept child nodes, or a null node.
pugi::xml_node childAt(pugi::xml_node parent, int position)
{
    pugi::xml_node child = parent.first_child();
    for (int i = 0; child && i < position; ++i)
        child = child.next_sibling();
    return child;
}

QString kindOf(pugi::xml_node node)
{
    switch (node.type()) {
    case pugi::node_comment: return CenterDocumentReader::tr("a comment");
    case pugi::node_pi: return CenterDocumentReader::tr("a processing instruction");
    case pugi::node_pcdata: return CenterDocumentReader::tr("text");
    case pugi::node_cdata: return CenterDocumentReader::tr("a CDATA section");
    default: return CenterDocumentReader::tr("a node of another kind");
    }
}

enum class CountReading { Number, NotANumber, OutOfRange };

// Signed 16-bit whole number. Blanks around the digits are tolerated, as a
// number typed into a form would be; a sign is allowed, nothing else (no
// fraction, no exponent, no grouping).
CountReading parseCount(const QString &text, qint16 *count)
{
    QStringView digits = QStringView(text).trimmed();
    bool negative = false;
    if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
        negative = digits.front() == u'-';
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return CountReading::NotANumber;
    qint32 value = 0;
    bool tooLarge = false;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return CountReading::NotANumber;
        if (!tooLarge) {
            value = value * 10 + (c.unicode() - u'0');
            tooLarge = value > -MinCount;
        }
    }
    if (negative)
        value = -value;
    if (tooLarge || value < MinCount || value > MaxCenters)
        return CountReading::OutOfRange;
    *count = qint16(value);
    return CountReading::Number;
}

qint16 readCount(pugi::xml_node record, int position, const QString &what)
{
    const pugi::xml_node field = childAt(record, position);
    if (!field)
        fail(CenterDocumentReader::tr("The center document has no count of %1 (root node 1, child 1, child %2)")
                 .arg(what).arg(position + 1));
    const QString text = textOf(field);
    qint16 count = 0;
    switch (parseCount(text, &count)) {
    case CountReading::Number:
        break;
    case CountReading::NotANumber:
        fail(CenterDocumentReader::tr("The count of %1 %2 is not a number").arg(what, quoted(text)));
    case CountReading::OutOfRange:
        fail(CenterDocumentReader::tr("The count of %1 %2 lies outside %3 to %4")
                 .arg(what, quoted(text), grouped(MinCount), grouped(MaxCenters)));
    }
    return count;
}

struct ListSource
{
    int position;               // of the list element under the root: 1 or 2
    const char *name;           // for reasons
};

// The texts of the records, gathered while the parsed tree is alive and
// turned into strings once it is gone: so the strings, which stay for as
// long as the lists show them, take the tree's freed memory instead of
// lying between its pages.
struct RecordTexts
{
    std::string bytes;
    // Per list (the non-selected, then the selected) and record: where its
    // ID and its name end in bytes.
    std::vector<std::pair<std::size_t, std::size_t>> ends[2];
};

void readList(pugi::xml_node root, const ListSource &source, RecordTexts &texts, int &recordCounter)
{
    const QString listName = CenterDocumentReader::tr(source.name);
    const pugi::xml_node list = childAt(root, source.position);
    if (!list)
        fail(CenterDocumentReader::tr("The center document has no list of %1 (root node %2)")
                 .arg(listName).arg(source.position + 1));

    auto &ends = texts.ends[source.position - 1];
    std::string scratch;
    int index = 0;
    for (pugi::xml_node record = list.first_child(); record; record = record.next_sibling()) {
        ++index;
        // Built only for a failure: formatting it for every record took a
        // quarter of a load.
        const auto which = [&] {
            return CenterDocumentReader::tr("Center record %1 of the %2").arg(index).arg(listName);
        };
        if (record.type() != pugi::node_element)
            fail(CenterDocumentReader::tr("%1 is %2, not a center record").arg(which(), kindOf(record)));

        const pugi::xml_node idField = record.first_child();
        const pugi::xml_node nameField = idField.next_sibling();
        if (!idField)
            fail(CenterDocumentReader::tr("%1 has neither an ID nor a name").arg(which()));
        if (!nameField)
            fail(CenterDocumentReader::tr("%1 has an ID field but no name field").arg(which()));
        const pugi::xml_node idNode = idField.first_child();
        if (!idNode)
            fail(CenterDocumentReader::tr("%1 has no ID").arg(which()));
        const pugi::xml_node nameNode = nameField.first_child();
        if (!nameNode)
            fail(CenterDocumentReader::tr("%1 has no name").arg(which()));

        // The ID goes unquoted into SQL later, so only a plain number passes.
        // A byte above 0x7F is never a digit, so Latin-1 judges UTF-8 alike.
        const std::string_view id = textBytes(idNode, &scratch);
        if (!isDecimalWholeNumber(QLatin1StringView(id.data(), qsizetype(id.size()))))
            fail(CenterDocumentReader::tr("%1 has the ID %2, which is not a whole number")
                     .arg(which(), quoted(utf8Text(id))));
        texts.bytes.append(id);
        const std::size_t idEnd = texts.bytes.size();
        texts.bytes.append(textBytes(nameNode, &scratch));
        ends.emplace_back(idEnd, texts.bytes.size());

        if (++recordCounter > MaxCenters)
            fail(CenterDocumentReader::tr("The center document lists more than %1 centers")
                     .arg(grouped(MaxCenters)));
    }
}

// What the parser found wrong, in the operator's language; in English the
// parser's own description.
QString parseProblem(const pugi::xml_parse_result &result)
{
    switch (result.status) {
    case pugi::status_unrecognized_tag: return CenterDocumentReader::tr("could not determine tag type");
    case pugi::status_bad_pi:
        return CenterDocumentReader::tr("error parsing document declaration/processing instruction");
    case pugi::status_bad_comment: return CenterDocumentReader::tr("error parsing comment");
    case pugi::status_bad_cdata: return CenterDocumentReader::tr("error parsing CDATA section");
    case pugi::status_bad_doctype: return CenterDocumentReader::tr("error parsing document type declaration");
    case pugi::status_bad_pcdata: return CenterDocumentReader::tr("error parsing PCDATA section");
    case pugi::status_bad_start_element: return CenterDocumentReader::tr("error parsing start element tag");
    case pugi::status_bad_attribute: return CenterDocumentReader::tr("error parsing element attribute");
    case pugi::status_bad_end_element: return CenterDocumentReader::tr("error parsing end element tag");
    case pugi::status_end_element_mismatch: return CenterDocumentReader::tr("start-end tags mismatch");
    default: break;
    }
    // Failures of the parser itself (memory), not of the document.
    QString description = QString::fromUtf8(result.description());
    if (!description.isEmpty())
        description[0] = description[0].toLower();
    return description;
}

QString notXml(const pugi::xml_parse_result &result, std::string_view text)
{
    if (result.status == pugi::status_no_document_element)
        return CenterDocumentReader::tr("The server's answer is not XML: it has no document element");
    return CenterDocumentReader::tr("The server's answer is not XML: %1 at %2")
        .arg(parseProblem(result), where(text, result.offset));
}

// Parses and checks the document; the records' texts go to *texts.
void readTree(const QByteArray &body, CenterDocument &document, RecordTexts *texts)
{
    if (body.size() > MaxAnswerBytes)
        fail(CenterDocumentReader::tr("The server's answer is %1 bytes long, more than the %2 bytes the control reads")
                 .arg(grouped(body.size()), grouped(MaxAnswerBytes)));
    if (body.isEmpty())
        fail(CenterDocumentReader::tr("The server's answer is empty"));

    std::string converted;
    const std::string_view text = toUtf8Document(body, &converted);

    // Comments and processing instructions are kept because they take a
    // position; whitespace-only text is dropped (no parse_ws_pcdata). The
    // declaration and a DOCTYPE stay out of the tree; they lie outside the
    // document element anyway. The text is UTF-8 by now whatever the
    // declaration says, hence the explicit encoding.
    constexpr unsigned Flags =
        (pugi::parse_default & ~pugi::parse_escapes) | pugi::parse_comments | pugi::parse_pi;
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), Flags, pugi::encoding_utf8);
    if (!result)
        fail(notXml(result, text));

    int elements = 0;
    for (pugi::xml_node top = doc.first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element && ++elements > 1)
            fail(CenterDocumentReader::tr("The server's answer is not XML: a second document element follows the "
                                          "first at %1")
                     .arg(where(text, top.offset_debug())));
    }
    checkAllReferences(doc, text);

    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node counts = childAt(root, 0);
    if (!counts)
        fail(CenterDocumentReader::tr("The center document has no counts element (root node 1)"));
    const pugi::xml_node countsRecord = childAt(counts, 0);
    if (!countsRecord)
        fail(CenterDocumentReader::tr("The center document has no counts record (root node 1, child 1)"));

    const qint16 nonSelected = readCount(countsRecord, 0, CenterDocumentReader::tr("non-selected centers"));
    const qint16 selected = readCount(countsRecord, 1, CenterDocumentReader::tr("selected centers"));
    const int sum = int(nonSelected) + int(selected);
    if (sum > MaxCenters)
        fail(CenterDocumentReader::tr("The counts add up to %1, more than %2").arg(sum).arg(grouped(MaxCenters)));
    if (sum < MinCount)
        fail(CenterDocumentReader::tr("The counts add up to %1, less than %2").arg(sum).arg(grouped(MinCount)));
    document.nonSelectedCount = nonSelected;
    document.selectedCount = selected;

    int recordCounter = 0;
    readList(root, {1, QT_TRANSLATE_NOOP("CenterDocumentReader", "non-selected centers")}, *texts, recordCounter);
    readList(root, {2, QT_TRANSLATE_NOOP("CenterDocumentReader", "selected centers")}, *texts, recordCounter);
}

void readDocument(const QByteArray &body, CenterDocument &document)
{
    RecordTexts texts;
    readTree(body, document, &texts);
    // The tree and its buffers are gone by now.
    const std::string_view bytes(texts.bytes);
    std::size_t start = 0;
    for (int list = 0; list < 2; ++list) {
        std::vector<CenterRecord> &records = list == 0 ? document.nonSelected : document.selected;
        records.reserve(texts.ends[list].size());
        for (const auto &[idEnd, nameEnd] : texts.ends[list]) {
            records.push_back({CenterId::fromText(QLatin1StringView(bytes.data() + start, qsizetype(idEnd - start))),
                               utf8Text(bytes.substr(idEnd, nameEnd - idEnd))});
            start = nameEnd;
        }
    }
}

} // namespace

bool CenterDocumentReader::read(const QByteArray &body, CenterDocument *document, QString *error)
{
    *document = CenterDocument();
    if (error)
        error->clear();
    try {
        readDocument(body, *document);
        return true;
    } catch (const ReadFailure &failure) {
        if (error)
            *error = failure.reason;
    } catch (const std::bad_alloc &) {
        if (error)
            *error = tr("The server's answer is too large to read");
    }
    return false;
}

} // namespace VelmoraInternal
