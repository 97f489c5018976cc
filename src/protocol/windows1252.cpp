#include "protocol/windows1252.h"

#include <array>

namespace VelmoraProtocol::Windows1252 {

namespace {

// The characters of the bytes 0x80 to 0x9F; the rest of the code page is
// Latin-1 and maps to the code point of the same value.
constexpr std::array<char16_t, 32> HighControlBlock = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

constexpr unsigned char Unrepresentable = '?';

// Units below 0x100 in one lookup: identity except for the C1 controls the
// code page has no byte for.
constexpr std::array<unsigned char, 256> makeLowTable()
{
    std::array<unsigned char, 256> table{};
    for (int unit = 0; unit < 256; ++unit)
        table[unit] = static_cast<unsigned char>(unit);
    for (int unit = 0x80; unit < 0xA0; ++unit)
        table[unit] = Unrepresentable;
    for (int byte = 0x80; byte < 0xA0; ++byte) {
        const char16_t c = HighControlBlock[byte - 0x80];
        if (c < 0x100)
            table[c] = static_cast<unsigned char>(byte);
    }
    return table;
}

constexpr std::array<unsigned char, 256> LowTable = makeLowTable();

unsigned char fromUnicodeAbove255(char16_t unit)
{
    switch (unit) {
    case 0x20AC: return 0x80;
    case 0x201A: return 0x82;
    case 0x0192: return 0x83;
    case 0x201E: return 0x84;
    case 0x2026: return 0x85;
    case 0x2020: return 0x86;
    case 0x2021: return 0x87;
    case 0x02C6: return 0x88;
    case 0x2030: return 0x89;
    case 0x0160: return 0x8A;
    case 0x2039: return 0x8B;
    case 0x0152: return 0x8C;
    case 0x017D: return 0x8E;
    case 0x2018: return 0x91;
    case 0x2019: return 0x92;
    case 0x201C: return 0x93;
    case 0x201D: return 0x94;
    case 0x2022: return 0x95;
    case 0x2013: return 0x96;
    case 0x2014: return 0x97;
    case 0x02DC: return 0x98;
    case 0x2122: return 0x99;
    case 0x0161: return 0x9A;
    case 0x203A: return 0x9B;
    case 0x0153: return 0x9C;
    case 0x017E: return 0x9E;
    case 0x0178: return 0x9F;
    default: return Unrepresentable;
    }
}

} // namespace

unsigned char fromUnicode(char16_t unit)
{
    if (unit < 0x100)
        return LowTable[unit];
    return fromUnicodeAbove255(unit);
}

char16_t toUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return HighControlBlock[byte - 0x80];
    return byte;
}

QByteArray encode(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (QChar c : text)
        *out++ = static_cast<char>(fromUnicode(c.unicode()));
    return bytes;
}

QString decode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (char b : bytes)
        *out++ = QChar(toUnicode(static_cast<unsigned char>(b)));
    return text;
}

} // namespace VelmoraProtocol::Windows1252
