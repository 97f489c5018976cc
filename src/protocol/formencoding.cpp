#include "protocol/formencoding.h"

#include "protocol/windows1252.h"

#include <array>
#include <cstring>

namespace VelmoraProtocol {

namespace {

// The piece written for each Windows-1252 byte, precomputed so that the
// loop does one lookup and one fixed four-byte copy per character.
struct Piece
{
    char text[3];
    unsigned char length;
};
static_assert(sizeof(Piece) == 4);

constexpr bool keptAsIs(int code)
{
    return code == 42 || code == 45 || code == 46 || (code >= 48 && code <= 57)
        || (code >= 65 && code <= 90) || code == 95 || (code >= 97 && code <= 122);
}

constexpr std::array<Piece, 256> makePieces()
{
    constexpr char hex[] = "0123456789ABCDEF";
    std::array<Piece, 256> pieces{};
    for (int code = 0; code < 256; ++code) {
        Piece &p = pieces[code];
        if (code == 32) {
            p.text[0] = '+';
            p.length = 1;
        } else if (keptAsIs(code)) {
            p.text[0] = static_cast<char>(code);
            p.length = 1;
        } else {
            p.text[0] = '%';
            p.text[1] = hex[code >> 4];
            p.text[2] = hex[code & 15];
            p.length = 3;
        }
    }
    return pieces;
}

constexpr std::array<Piece, 256> Pieces = makePieces();

// The same pieces indexed by UTF-16 unit below 0x100, so that the common
// characters skip the code page lookup.
constexpr std::array<Piece, 256> makeUnitPieces()
{
    std::array<Piece, 256> pieces{};
    for (int unit = 0; unit < 256; ++unit) {
        // Units 0x80-0x9F are C1 controls; only five of them have a byte.
        const bool controlWithByte = unit == 0x81 || unit == 0x8D || unit == 0x8F || unit == 0x90 || unit == 0x9D;
        const int code = (unit >= 0x80 && unit < 0xA0 && !controlWithByte) ? '?' : unit;
        pieces[unit] = Pieces[code];
    }
    return pieces;
}

constexpr std::array<Piece, 256> UnitPieces = makeUnitPieces();

// The value of one hex digit of an escape, either case; -1 for another byte.
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void appendUrlEncoded(QByteArray &out, QStringView text)
{
    // Room for the worst case (every unit escaped) plus the slack of the
    // fixed-size copy; trimmed to the real length afterwards. resize() keeps
    // the capacity, so a caller that reserved for many fields allocates once.
    const qsizetype start = out.size();
    out.resize(start + 3 * text.size() + 1);
    char *const begin = out.data() + start;
    char *dst = begin;
    for (QChar c : text) {
        const char16_t unit = c.unicode();
        const Piece &p = unit < 0x100 ? UnitPieces[unit] : Pieces[Windows1252::fromUnicode(unit)];
        std::memcpy(dst, &p, sizeof p);
        dst += p.length;
    }
    out.resize(start + (dst - begin));
}

QByteArray urlEncode(QStringView text)
{
    QByteArray out;
    appendUrlEncoded(out, text);
    return out;
}

bool urlDecode(QByteArrayView encoded, QString *out, qsizetype *badOffset)
{
    // Every output character comes from at least one input byte, so one
    // allocation of the input size is enough.
    QString text(encoded.size(), Qt::Uninitialized);
    QChar *dst = text.data();
    const char *src = encoded.data();
    const qsizetype n = encoded.size();
    for (qsizetype i = 0; i < n; ++i) {
        unsigned char byte = static_cast<unsigned char>(src[i]);
        if (byte == '+') {
            byte = ' ';
        } else if (byte == '%') {
            const int hi = i + 1 < n ? hexValue(src[i + 1]) : -1;
            const int lo = i + 2 < n ? hexValue(src[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                if (badOffset)
                    *badOffset = i;
                return false;
            }
            byte = static_cast<unsigned char>(hi * 16 + lo);
            i += 2;
        }
        *dst++ = QChar(Windows1252::toUnicode(byte));
    }
    text.truncate(dst - text.constData());
    *out = std::move(text);
    return true;
}

} // namespace VelmoraProtocol
