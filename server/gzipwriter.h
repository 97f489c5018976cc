// gzip (RFC 1952) for the center document, written as one member whose
// deflate data is a row of pieces. Each piece is compressed on its own,
// without reference to what stands before it, and ends on a byte boundary
// (a sync flush), so that a piece compressed once can be copied into any
// later answer as it is: the catalogue of centers keeps its pieces between
// requests and only what differs for an employee is compressed per request.
// Any gzip reader reads the result as one ordinary member.
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
    // Cached pieces are compressed once and sent many times: the level that
    // gives the smallest answers at a cost paid once per catalogue.
    static constexpr int CachedLevel = 9;
    // What is compressed for each answer: the fastest level, as these
    // pieces are small and their cost is paid on every request.
    static constexpr int FreshLevel = 1;

    GzipWriter();

    static DeflatedPiece deflate(QByteArrayView text, int level);

    // Compresses text now (at FreshLevel) as a piece of its own.
    void append(QByteArrayView text);
    // Copies a piece compressed before.
    void append(const DeflatedPiece &piece);
    // The whole member; the writer is spent.
    QByteArray finish();

private:
    QByteArray m_out;
    quint32 m_crc;
    qint64 m_length = 0;
};

} // namespace VelmoraServerCore
