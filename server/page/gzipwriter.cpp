#include "page/gzipwriter.h"

#include <QtEndian>

#include <zlib.h>

#include <cctype>

namespace VelmoraServerCore {

namespace {

// ID1 ID2 CM=deflate FLG=0 MTIME=0 XFL=0 OS=Unix: no name, no time, so that
// the same document always gives the same bytes.
constexpr char Header[] = {'\x1f', '\x8b', '\x08', 0, 0, 0, 0, 0, 0, '\x03'};
// An empty final block with fixed codes: BFINAL=1, BTYPE=01, end of block.
constexpr char FinalBlock[] = {'\x03', '\x00'};
// How far deflate refers back.
constexpr qsizetype Window = qsizetype(1) << MAX_WBITS;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Whether the parameters of one coding ("; q=0.5") leave it a quality above
// 0. A quality that is not a qvalue counts as 0: the plain answer is always
// safe to send.
bool positiveQuality(std::string_view parameters)
{
    while (!parameters.empty()) {
        const size_t semicolon = parameters.find(';');
        const std::string_view parameter = trimmed(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view() : parameters.substr(semicolon + 1);
        const size_t eq = parameter.find('=');
        if (eq == std::string_view::npos || !equalsNoCase(trimmed(parameter.substr(0, eq)), "q"))
            continue;
        const std::string_view value = trimmed(parameter.substr(eq + 1));
        if (value.empty() || value.size() > 5 || (value[0] != '0' && value[0] != '1')
            || (value.size() > 1 && value[1] != '.'))
            return false;
        bool nonZero = value[0] == '1';
        for (size_t i = 2; i < value.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(value[i])) || (value[0] == '1' && value[i] != '0'))
                return false;
            nonZero = nonZero || value[i] != '0';
        }
        return nonZero;
    }
    return true;
}

} // namespace

bool acceptsGzip(std::string_view acceptEncoding)
{
    int gzip = -1; // -1: not named; else whether its quality is above 0
    int any = -1;
    while (!acceptEncoding.empty()) {
        const size_t comma = acceptEncoding.find(',');
        const std::string_view element = acceptEncoding.substr(0, comma);
        acceptEncoding = comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
        const size_t semicolon = element.find(';');
        const std::string_view coding = trimmed(element.substr(0, semicolon));
        const bool positive = semicolon == std::string_view::npos || positiveQuality(element.substr(semicolon + 1));
        if (equalsNoCase(coding, "gzip") || equalsNoCase(coding, "x-gzip"))
            gzip = std::max(gzip, int(positive));
        else if (coding == "*")
            any = std::max(any, int(positive));
    }
    return gzip >= 0 ? gzip == 1 : any == 1;
}

GzipWriter::GzipWriter() : m_out(Header, sizeof Header), m_crc(quint32(crc32(0, nullptr, 0))) {}

DeflatedPiece GzipWriter::deflate(QByteArrayView text, int level, QByteArrayView dictionary)
{
    DeflatedPiece piece;
    piece.length = text.size();
    piece.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(text.data()), uInt(text.size())));
    z_stream stream{};
    // Raw deflate (negative window bits): the member's header and trailer
    // are written around the pieces.
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        qFatal("zlib cannot start a deflate stream");
    dictionary = dictionary.last(std::min<qsizetype>(dictionary.size(), Window));
    if (!dictionary.isEmpty())
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(dictionary.data()), uInt(dictionary.size()));
    // A sync flush adds at most 6 bytes to the bound.
    piece.deflated.resize(qsizetype(deflateBound(&stream, uLong(text.size())) + 6));
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(piece.deflated.data());
    stream.avail_out = uInt(piece.deflated.size());
    const int result = ::deflate(&stream, Z_SYNC_FLUSH);
    if (result != Z_OK || stream.avail_in != 0)
        qFatal("zlib did not compress a piece: %d", result);
    piece.deflated.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return piece;
}

void GzipWriter::append(QByteArrayView text)
{
    if (!text.isEmpty())
        add(deflate(text, FreshLevel, m_window), text);
}

void GzipWriter::append(const DeflatedPiece &piece, QByteArrayView text)
{
    add(piece, text);
}

void GzipWriter::add(const DeflatedPiece &piece, QByteArrayView text)
{
    m_out += piece.deflated;
    m_crc = quint32(crc32_combine(m_crc, piece.crc, z_off_t(piece.length)));
    m_length += piece.length;
    m_window += text;
    if (m_window.size() > 2 * Window)
        m_window.remove(0, m_window.size() - Window);
}

QByteArray GzipWriter::finish()
{
    m_out.append(FinalBlock, sizeof FinalBlock);
    char trailer[8];
    qToLittleEndian(m_crc, trailer);
    qToLittleEndian(quint32(m_length), trailer + 4); // ISIZE: the length modulo 2^32
    m_out.append(trailer, sizeof trailer);
    return std::move(m_out);
}

} // namespace VelmoraServerCore
