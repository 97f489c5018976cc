#include "core/gzipinflater.h"

#include <zlib.h>

#include <algorithm>

namespace VelmoraInternal {

namespace {
// The most the text grows in one step.
constexpr qint64 Step = 256 * 1024;
} // namespace

struct GzipInflater::Stream
{
    z_stream z{};
    bool ready = false;
};

GzipInflater::GzipInflater(qint64 limit) : m_stream(std::make_unique<Stream>()), m_limit(limit)
{
    // 16 + window bits: gzip only, not zlib or raw deflate.
    m_stream->ready = inflateInit2(&m_stream->z, 16 + MAX_WBITS) == Z_OK;
    if (!m_stream->ready)
        m_state = State::Corrupt;
}

GzipInflater::~GzipInflater()
{
    if (m_stream->ready)
        inflateEnd(&m_stream->z);
}

GzipInflater::State GzipInflater::feed(QByteArrayView compressed)
{
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
    z.avail_in = uInt(compressed.size());
    while (z.avail_in > 0 && (m_state == State::Partial || m_state == State::Complete)) {
        // Another member follows the one that ended.
        if (m_state == State::Complete) {
            inflateReset(&z);
            m_state = State::Partial;
        }
        // One byte of room beyond the limit tells a text of exactly the
        // limit from a longer one.
        const qint64 room = std::min(Step, m_limit + 1 - m_text.size());
        const qsizetype before = m_text.size();
        if (m_text.capacity() < before + room)
            m_text.reserve(std::max(before + room, qsizetype(std::min(2 * m_text.capacity(), m_limit + 1))));
        m_text.resize(before + room);
        z.next_out = reinterpret_cast<Bytef *>(m_text.data() + before);
        z.avail_out = uInt(room);
        const int result = inflate(&z, Z_NO_FLUSH);
        m_text.resize(before + room - qsizetype(z.avail_out));
        if (m_text.size() > m_limit)
            m_state = State::TooLarge;
        else if (result == Z_STREAM_END)
            m_state = State::Complete;
        else if (result != Z_OK && !(result == Z_BUF_ERROR && z.avail_in == 0))
            m_state = State::Corrupt;
    }
    return m_state;
}

} // namespace VelmoraInternal
