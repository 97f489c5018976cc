#include "page/documentwriter.h"

namespace VelmoraServerCore {

namespace {

bool isBlankOnly(QStringView text)
{
    for (QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
    }
    return true;
}

// Replaces what XML 1.0 cannot hold (C0 controls other than tab, line feed
// and carriage return, U+FFFE, U+FFFF, unpaired surrogates) by U+FFFD.
QString xmlCharacters(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += text[i];
            out += text[++i];
            continue;
        }
        const bool forbidden = (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF
            || QChar::isSurrogate(c);
        out += forbidden ? QChar(QChar::ReplacementCharacter) : QChar(c);
    }
    return out;
}

// True when the text goes into the document as it is: nothing to replace or
// escape, and not blanks only. Almost every name is; checking first spares
// the copies below, which took half of a large document's time.
bool isPlain(QStringView text)
{
    bool blankOnly = true;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x20 || c == u'&' || c == u'<' || c == u'>' || QChar::isSurrogate(c) || c >= 0xFFFE)
            return false;
        if (c != u' ')
            blankOnly = false;
    }
    return !blankOnly;
}

void appendText(QByteArray &out, QStringView raw)
{
    if (isPlain(raw)) {
        out += raw.toUtf8();
        return;
    }
    const QString text = xmlCharacters(raw);
    if (isBlankOnly(text)) {
        // Character references rather than CDATA: a parser keeps them as
        // one text node, and it would read a carriage return inside CDATA
        // as a line feed.
        for (QChar c : text) {
            out += "&#";
            out += QByteArray::number(c.unicode());
            out += ';';
        }
        return;
    }
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&': escaped += u"&amp;"; break;
        case u'<': escaped += u"&lt;"; break;
        case u'>': escaped += u"&gt;"; break;
        case u'\r': escaped += u"&#13;"; break;
        default: escaped += c;
        }
    }
    out += escaped.toUtf8();
}

} // namespace

void DocumentWriter::appendRecord(QByteArray &out, const Center &center)
{
    out += "<Center><ID>";
    out += QByteArray::number(center.id);
    out += "</ID><Name>";
    appendText(out, center.name);
    out += "</Name></Center>";
}

QByteArray DocumentWriter::head(qsizetype nonSelected, qsizetype selected)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CenterDocument><Counts><Count><NonSelected>"
        + QByteArray::number(nonSelected) + "</NonSelected><Selected>" + QByteArray::number(selected)
        + "</Selected></Count></Counts><NonSelectedCenters>";
}

QByteArrayView DocumentWriter::middle()
{
    return "</NonSelectedCenters><SelectedCenters>";
}

QByteArrayView DocumentWriter::tail()
{
    return "</SelectedCenters></CenterDocument>\n";
}

QByteArray DocumentWriter::write(const CenterLists &lists)
{
    QByteArray out = head(lists.nonSelected.size(), lists.selected.size());
    out.reserve(128 + (lists.nonSelected.size() + lists.selected.size()) * 64);
    for (const Center &center : lists.nonSelected)
        appendRecord(out, center);
    out += middle();
    for (const Center &center : lists.selected)
        appendRecord(out, center);
    out += tail();
    return out;
}

} // namespace VelmoraServerCore
