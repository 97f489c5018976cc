// Inflates a gzip answer (RFC 1952: one member or several in a row) as its
// bytes arrive, into at most a given number of bytes: a small answer that
// would inflate past the bound is stopped there, before the memory is taken.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace VelmoraInternal {

class GzipInflater
{
public:
    enum class State {
        Partial,  // more bytes are needed to end the member
        Complete, // every member read so far is complete
        TooLarge, // the text would be longer than the limit
        Corrupt,  // not gzip, or damaged
    };

    explicit GzipInflater(qint64 limit);
    ~GzipInflater();
    GzipInflater(const GzipInflater &) = delete;
    GzipInflater &operator=(const GzipInflater &) = delete;

    // Inflates the next bytes of the answer.
    State feed(QByteArrayView compressed);
    State state() const { return m_state; }
    // The text inflated so far.
    QByteArray take() { return std::move(m_text); }

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    qint64 m_limit;
    State m_state = State::Partial;
    QByteArray m_text;
};

} // namespace VelmoraInternal
