// Windows-1252, the 8-bit code page in which form fields travel between the
// control and the server page.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace VelmoraProtocol::Windows1252 {

// The code of one UTF-16 unit in Windows-1252, or '?' (63) when the code page
// cannot represent it (lone surrogates included: each unit is one character).
unsigned char fromUnicode(char16_t unit);

// The character that a Windows-1252 byte stands for. The five bytes that the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control of the same value, so that every byte has exactly one character.
char16_t toUnicode(unsigned char byte);

QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

} // namespace VelmoraProtocol::Windows1252
