// Two round trips between the control and the server, chosen by the first
// input byte:
//   even: a text through the control's urlEncode and back through the
//         server's form decoding is the same text when Windows-1252 can
//         represent it; a character it cannot represent arrives as '?'.
//         The encoding uses only the kept characters, '+' and "%XX" with
//         upper-case hex digits; whole bodies of "SQL" fields decode to the
//         same fields in the same order.
//   odd:  centers with any names through the server's document writer and
//         back through the control's reader arrive with the same IDs, in the
//         same lists and order, and the same names (characters XML cannot
//         hold arrive as U+FFFD).
#include "fuzzcheck.h"
#include "reference.h"

#include <centerstore.h>
#include <documentwriter.h>
#include <formdecoder.h>
#include <httpserver.h>

#include "core/centerdocument.h"
#include "core/changeset.h"
#include "core/urlencoder.h"

namespace VelmoraFuzz {

namespace {

bool isHexUpper(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool isKept(char c)
{
    return c == '*' || c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')
        || (c >= 'a' && c <= 'z');
}

void urlRoundTrip(const std::uint8_t *data, std::size_t size, bool anyUnits)
{
    QString text;
    if (anyUnits) {
        for (std::size_t i = 0; i + 1 < size; i += 2)
            text += QChar(char16_t(data[i] | data[i + 1] << 8));
    } else {
        for (std::size_t i = 0; i < size; ++i)
            text += QChar(windows1252Char(data[i]));
    }
    QString expected;
    for (QChar c : std::as_const(text))
        expected += windows1252Byte(c.unicode()) ? c : QChar(u'?');

    const QByteArray encoded = VelmoraInternal::urlEncode(text);
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            VELMORA_FUZZ_CHECK(i + 2 < encoded.size() && isHexUpper(encoded[i + 1]) && isHexUpper(encoded[i + 2]),
                               "an escape that is not '%' and two upper-case hex digits");
            i += 2;
        } else {
            VELMORA_FUZZ_CHECK(c == '+' || isKept(c), "a character left unescaped that must be escaped");
        }
    }

    QString decoded;
    VELMORA_FUZZ_CHECK(VelmoraServerCore::FormDecoder::decodeComponent(encoded, &decoded),
                       "the server refuses the control's encoding");
    VELMORA_FUZZ_CHECK(decoded == expected, "the server decodes the control's encoding to another text");

    // The same through whole bodies: the text cut into up to four fields.
    QStringList statements;
    QStringList expectedValues;
    const qsizetype pieces = 1 + (size % 4);
    for (qsizetype p = 0; p < pieces; ++p) {
        const qsizetype from = text.size() * p / pieces;
        const qsizetype to = text.size() * (p + 1) / pieces;
        statements << text.mid(from, to - from);
        expectedValues << expected.mid(from, to - from);
    }
    const QByteArray body = VelmoraInternal::ChangeSet::formBody(statements);
    QList<VelmoraServerCore::FormField> fields;
    VelmoraServerCore::FormDecoder::Error error;
    VELMORA_FUZZ_CHECK(
        VelmoraServerCore::FormDecoder::decode(body, VelmoraServerCore::VelmoraServer::MaxFields, &fields, &error),
        "the server refuses the control's body");
    VELMORA_FUZZ_CHECK(fields.size() == statements.size(), "the body decodes to another number of fields");
    for (qsizetype i = 0; i < fields.size(); ++i) {
        VELMORA_FUZZ_CHECK(fields[i].name == u"SQL", "a field of the body is not named SQL");
        VELMORA_FUZZ_CHECK(fields[i].value == expectedValues[i], "a field of the body decodes to another text");
    }
}

// What the name of a center becomes in the document: characters XML 1.0
// cannot hold are replaced by U+FFFD, surrogate pairs stay.
QString xmlSafe(const QString &name)
{
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            out += name[i];
            out += name[++i];
            continue;
        }
        const bool forbidden = (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE
            || c == 0xFFFF || QChar::isSurrogate(c);
        out += forbidden ? QChar(QChar::ReplacementCharacter) : QChar(c);
    }
    return out;
}

void documentRoundTrip(const std::uint8_t *data, std::size_t size)
{
    using namespace VelmoraServerCore;
    // Records: one byte of flags and length (bit 7: assigned, bits 0-6:
    // units), then the name in UTF-16 units. IDs count up from a seed.
    CenterLists lists;
    qint32 id = 1;
    std::size_t at = 0;
    if (size >= 4) {
        id = 1 + qint32((data[0] | data[1] << 8 | data[2] << 16) & 0x3FFFFFFF);
        at = 3;
    }
    while (at < size) {
        const bool assigned = data[at] & 0x80;
        const std::size_t units = data[at] & 0x7F;
        ++at;
        QString name;
        for (std::size_t u = 0; u < units && at + 1 < size; ++u, at += 2)
            name += QChar(char16_t(data[at] | data[at + 1] << 8));
        if (name.isEmpty()) // the database refuses an empty name
            continue;
        (assigned ? lists.selected : lists.nonSelected).append(Center{id++, name, true});
    }

    const QByteArray written = DocumentWriter::write(lists);
    VelmoraInternal::CenterDocument document;
    QString error;
    VELMORA_FUZZ_CHECK(VelmoraInternal::CenterDocumentReader::read(written, &document, &error),
                       "the control cannot read the server's document: " + error.toStdString());
    VELMORA_FUZZ_CHECK(document.nonSelectedCount == lists.nonSelected.size()
                           && document.selectedCount == lists.selected.size(),
                       "the document's counts are not the numbers of centers");
    auto same = [](const QList<Center> &sent, const std::vector<VelmoraInternal::CenterRecord> &read) {
        VELMORA_FUZZ_CHECK(qsizetype(read.size()) == sent.size(), "a list arrives with another number of centers");
        for (qsizetype i = 0; i < sent.size(); ++i) {
            VELMORA_FUZZ_CHECK(read[size_t(i)].id == QString::number(sent[i].id), "a center arrives with another ID");
            VELMORA_FUZZ_CHECK(read[size_t(i)].name == xmlSafe(sent[i].name),
                               "a center arrives with another name: sent \"" + sent[i].name.toStdString()
                                   + "\", read \"" + read[size_t(i)].name.toStdString() + "\"");
        }
    };
    same(lists.nonSelected, document.nonSelected);
    same(lists.selected, document.selected);
}

} // namespace

int roundTrip(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        documentRoundTrip(data + 1, size - 1);
    else
        urlRoundTrip(data + 1, size - 1, data[0] & 2);
    return 0;
}

} // namespace VelmoraFuzz

VELMORA_FUZZ_ENTRY(roundTrip)
