// gzip (RFC 1952) for the center document, written as one member whose
// deflate data is a row of pieces. Each piece is compressed on its own and
// ends on a byte boundary (a sync flush), so that a piece compressed once
// can be copied into a later answer as it is: the catalogue of centers keeps
// its pieces between requests and only what differs for an employee is
// compressed per request. A piece may refer back to the text just before it
// (its dictionary), which keeps the names' common words from costing again
// in every piece; it is then copied only behind that same text. Any gzip
// reader reads the result as one ordinary member.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <string_view>

namespace VelmoraServerCore {

// Whether an Accept-Encoding header value lets the answer be gzip: "gzip"
// (or "x-gzip", or "*" when gzip is not named) with a quality above 0.
bool acceptsGzip(std::string_view acceptEncoding);

// A piece of deflate data that can stand anywhere in a member.
struct DeflatedPiece
{
    QByteArray deflated;
    quint32 crc = 0;    // CRC-32 of the text it holds
    qint64 length = 0;  // bytes of that text
};

class GzipWriter
{
public:
    // Cached pieces are compressed once and sent many times. At 32,767
    // centers level 6 gives 7.9:1 and level 9 8.3:1 (6 kB less at a 20 Mbit/s
    // link) for about twice the time of each rebuild.
    static constexpr int CachedLevel = 6;
    // What is compressed for each answer: the fastest level, as these
    // pieces are small and their cost is paid on every request.
    static constexpr int FreshLevel = 1;

    GzipWriter();

    // dictionary: the text the piece will follow (at most its last 32 kB
    // count), or none.
    static DeflatedPiece deflate(QByteArrayView text, int level, QByteArrayView dictionary = {});

    // Compresses text now (at FreshLevel), after the text written so far.
    void append(QByteArrayView text);
    // Copies a piece compressed before; text is what it holds, and the
    // text written so far must end with the piece's dictionary.
    void append(const DeflatedPiece &piece, QByteArrayView text);
    // The whole member; the writer is spent.
    QByteArray finish();

private:
    void add(const DeflatedPiece &piece, QByteArrayView text);

    QByteArray m_out;
    quint32 m_crc;
    qint64 m_length = 0;
    QByteArray m_window; // the last 32 kB of text, at least
};

} // namespace VelmoraServerCore
