#include "http/httpconnection.h"

#include "http/trustedproxies.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <cctype>
#include <atomic>
#include <limits>
#include <new>
#include <optional>

#include <poll.h>

namespace VelmoraServerCore {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// After the answer, what the client still sends is read and dropped for a
// moment before closing: closing with unread bytes makes the kernel send a
// reset, which may destroy the answer before the client has read it.
constexpr std::size_t LingerBytes = 64 * 1024;
constexpr std::chrono::seconds LingerTime{2};

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && beast::iequals(text.substr(0, prefix.size()), prefix);
}

// The path and query of an origin-form target ("/Velmora.asp?x") or of an
// absolute-form one ("http://host:8080/Velmora.asp?x"), which a server must
// accept as well.
void splitTarget(std::string_view target, std::string *path, std::string *query)
{
    for (std::string_view scheme : {"http://", "https://"}) {
        if (startsWithNoCase(target, scheme)) {
            target.remove_prefix(scheme.size());
            const auto end = target.find_first_of("/?");
            target = end == std::string_view::npos ? std::string_view("/") : target.substr(end);
            break;
        }
    }
    const auto question = target.find('?');
    *path = std::string(target.substr(0, question));
    *query = question == std::string_view::npos ? std::string() : std::string(target.substr(question + 1));
    if (path->empty())
        *path = "/";
}

// Whether the peer has closed its side of the socket or the connection has
// failed, without reading or waiting.
bool peerClosed(int socket)
{
    pollfd watched{socket, POLLRDHUP, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Whether the Transfer-Encoding headers name "chunked" alone: the only coding
// the server decodes.
bool onlyChunked(const http::fields &fields)
{
    int codings = 0;
    bool chunked = false;
    const auto [first, last] = fields.equal_range(http::field::transfer_encoding);
    for (auto field = first; field != last; ++field) {
        for (const auto coding : http::token_list(field->value())) {
            ++codings;
            chunked = beast::iequals(coding, "chunked");
        }
    }
    return codings == 1 && chunked;
}

// The errors a body ends with when it cannot be held: its share of the body
// budget would overdraw it, or memory ran out. Both are answered 503.
const beast::error_code BudgetSpent = make_error_code(boost::system::errc::no_buffer_space);
const beast::error_code OutOfMemory = make_error_code(boost::system::errc::not_enough_memory);

// A request body for Beast's parser that grows as its bytes arrive, never
// from the length the client declared (Beast's string body reserves that
// at once), and holds its capacity against the body budget.
struct RequestBody
{
    struct value_type
    {
        std::string bytes;
        BodyBudget::Share share;
        std::size_t limit = 0; // the body limit, which the capacity never passes
    };

    class reader
    {
    public:
        template<bool isRequest, class Fields>
        reader(http::header<isRequest, Fields> &, value_type &body) : m_body(body)
        {
        }

        void init(const boost::optional<std::uint64_t> &, beast::error_code &ec) { ec = {}; }

        template<class Buffers>
        std::size_t put(const Buffers &buffers, beast::error_code &ec)
        {
            const std::size_t n = beast::buffer_bytes(buffers);
            std::string &bytes = m_body.bytes;
            if (bytes.size() + n > bytes.capacity()) {
                // Doubled as a string grows, but never past the limit. A
                // fresh string gets exactly what is reserved; one that
                // grows may get more than the budget counted.
                const std::size_t wanted = std::max(bytes.size() + n, std::min(2 * bytes.capacity(), m_body.limit));
                if (!m_body.share.hold(qint64(wanted))) {
                    ec = BudgetSpent;
                    return 0;
                }
                try {
                    std::string grown;
                    grown.reserve(wanted);
                    grown.append(bytes);
                    bytes.swap(grown);
                } catch (const std::bad_alloc &) {
                    ec = OutOfMemory;
                    return 0;
                }
            }
            for (const auto buffer : beast::buffers_range_ref(buffers))
                bytes.append(static_cast<const char *>(buffer.data()), buffer.size());
            ec = {};
            return n;
        }

        void finish(beast::error_code &ec) { ec = {}; }

    private:
        value_type &m_body;
    };
};

// A refusal found in the framing.
struct Fault
{
    int status = 0;
    QString text;
};

// Whether a line of text ends in a bare LF or CR where CRLF is required
// (its last byte may still wait for its LF). Beast waits for a CRLF that
// never comes after such a line; lines like these are also how requests
// are smuggled past proxies that read them otherwise.
bool bareLineEnd(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            || (text[i] == '\r' && i + 1 < text.size() && text[i + 1] != '\n')) {
            return true;
        }
    }
    return false;
}

// Why the chunked body that continues with pending can never become a
// request, if so; judged before Beast reads a chunk line, which it would
// buffer without end. pending starts with the previous chunk's CRLF (after
// the first chunk) and the next chunk line; after the last one, the
// trailer, which ends with an empty line.
std::optional<Fault> chunkFault(std::string_view pending, const HttpLimits &limits)
{
    if (pending.substr(0, 2) == "\r\n")
        pending.remove_prefix(2);
    const std::size_t lineEnd = pending.find("\r\n");
    const std::string_view line = pending.substr(0, lineEnd);
    if (line.size() > std::size_t(ChunkLineLimit)) {
        return Fault{400, QStringLiteral("a chunk line (the size and its extensions) is longer than %1 bytes")
                              .arg(ChunkLineLimit)};
    }
    const QString bare = QStringLiteral("a line of the chunked body does not end in CRLF");
    if (bareLineEnd(line))
        return Fault{400, bare};
    const std::size_t digits = line.find_first_not_of('0');
    const bool last = digits != 0 && (digits == std::string_view::npos || !std::isxdigit(uchar(line[digits])));
    if (lineEnd == std::string_view::npos || !last)
        return {};
    std::string_view trailer = pending.substr(lineEnd + 2);
    const std::size_t end = trailer.substr(0, 2) == "\r\n" ? 0 : trailer.find("\r\n\r\n");
    trailer = trailer.substr(0, end == std::string_view::npos ? end : end + 2);
    if (qint64(trailer.size()) > limits.headBytes) {
        return Fault{431, QStringLiteral("the trailer of the chunked body is larger than the limit of %1 bytes")
                              .arg(limits.headBytes)};
    }
    if (bareLineEnd(trailer))
        return Fault{400, bare};
    return {};
}

template<class Stream>
class Connection final : public HttpConnection, public std::enable_shared_from_this<Connection<Stream>>
{
    static constexpr bool Tls = !std::is_same_v<Stream, beast::tcp_stream>;

public:
    Connection(HttpHost *host, const QString &remote, tcp::socket socket, net::ssl::context *tls)
        : m_executor(socket.get_executor()), m_deadline(m_executor), m_socket(std::move(socket)), m_tls(tls),
          m_host(host), m_remote(remote),
          // Room for the head, or for a chunk line with the trailer after it.
          m_buffer(std::size_t(host->limits().headBytes + 2 * ChunkLineLimit))
    {
        if constexpr (!Tls)
            m_stream.emplace(std::move(m_socket));
    }

    ~Connection() override { m_host->closed(this, m_remote); }

    void start() override
    {
        net::dispatch(m_executor, [self = this->shared_from_this()] { self->begin(); });
    }

    void stopWaiting() override
    {
        net::post(m_executor, [self = this->shared_from_this()] {
            beast::error_code ignored;
            if (!self->m_stream)
                self->m_socket.close(ignored);
            else if (self->m_state != State::Serving)
                self->lowest().close();
        });
    }

private:
    enum class State { Reading, Serving, Closing };
    using Parser = http::request_parser<RequestBody>;

    beast::tcp_stream &lowest() { return beast::get_lowest_layer(*m_stream); }

    // The stream's own expiry closes the socket; a head or body that comes
    // too late still gets its 408, so those deadlines only cancel the read.
    void armDeadline(std::chrono::seconds limit)
    {
        lowest().expires_never();
        m_late = false;
        m_deadline.expires_after(limit);
        m_deadline.async_wait([weak = this->weak_from_this()](beast::error_code ec) {
            const auto self = weak.lock();
            if (ec || !self)
                return;
            self->m_late = true;
            beast::error_code ignored;
            self->lowest().socket().cancel(ignored);
        });
    }

    const HttpLimits &limits() const { return m_host->limits(); }
    bool inHead() const { return !m_parser->is_header_done(); }

    void begin()
    {
        if constexpr (Tls) {
            // A TLS stream costs about 80 kB: it is made when the client's
            // first bytes arrive, so that an idle connection costs no more
            // than a plain one.
            m_deadline.expires_after(limits().idle);
            m_deadline.async_wait([weak = this->weak_from_this()](beast::error_code ec) {
                if (const auto self = weak.lock(); self && !ec && !self->m_stream) {
                    qCDebug(lcHttp) << "closed a connection from" << self->m_remote << "silent past the idle time-out";
                    self->m_socket.close(ec);
                }
            });
            m_socket.async_wait(tcp::socket::wait_read, [self = this->shared_from_this()](beast::error_code ec) {
                self->m_deadline.cancel();
                if (!ec && self->m_socket.is_open())
                    self->handshake();
            });
        } else {
            waitForRequest();
        }
    }

    void handshake()
    {
        if constexpr (Tls) {
            m_stream.emplace(std::move(m_socket), *m_tls);
            lowest().expires_after(limits().handshake);
            m_stream->async_handshake(net::ssl::stream_base::server,
                                     [self = this->shared_from_this()](beast::error_code ec) {
                                         if (!ec)
                                             return self->waitForRequest();
                                         qCDebug(lcHttp) << "no TLS handshake with" << self->m_remote << "-"
                                                         << ec.message().c_str();
                                     });
        }
    }

    // The idle deadline runs until the first byte; the head's from there on.
    void waitForRequest()
    {
        lowest().expires_after(limits().idle);
        m_stream->async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                                     if (ec) {
                                         qCDebug(lcHttp) << "closed a connection from" << self->m_remote
                                                         << "before its request:" << ec.message().c_str();
                                         return;
                                     }
                                     self->m_buffer.commit(n);
                                     self->m_parser.emplace();
                                     self->m_parser->header_limit(std::uint32_t(self->limits().headBytes));
                                     // The declared length is judged in onHead(), with an answer of our own.
                                     self->m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
                                     self->armDeadline(self->limits().head);
                                     self->parse();
                                 });
    }

    void receive()
    {
        const std::size_t room = m_buffer.max_size() - m_buffer.size();
        if (room == 0) // not reached: the limits above refuse before
            return refuse(400, QStringLiteral("the request does not fit the server's read buffer"));
        // As Beast reads: into the room the buffer has (512 bytes at least),
        // so that a request that trickles in keeps its buffer small.
        const std::size_t size = std::min({std::max<std::size_t>(512, m_buffer.capacity() - m_buffer.size()), room,
                                           std::size_t(65536)});
        m_stream->async_read_some(m_buffer.prepare(size),
                                 [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                                     self->m_buffer.commit(n);
                                     if (self->m_late)
                                         return self->refuseLate();
                                     if (!ec)
                                         self->parse();
                                 });
    }

    // Gives the parser what the buffer holds and reads on while it needs more.
    // Running out of memory ends this request only.
    void parse()
    {
        try {
            parseBuffered();
        } catch (const std::bad_alloc &) {
            if (m_parser)
                m_parser->get().body() = {};
            refuse(HttpAnswer::shortOfMemory());
        }
    }

    void parseBuffered()
    {
        while (m_buffer.size() > 0 && !m_parser->is_done()) {
            const bool head = inHead();
            // The parser goes a step at a time (not eagerly), so that each
            // chunk line is judged before it reads it.
            const bool atLine = !head && m_parser->chunked() && m_chunkLeft == 0;
            if (const auto fault = atLine ? chunkFault(buffered(), limits()) : std::nullopt)
                return refuse(fault->status, fault->text);
            beast::error_code ec;
            const std::size_t used = m_parser->put(m_buffer.data(), ec);
            m_buffer.consume(used);
            if (!head && !atLine)
                m_chunkLeft -= std::min<std::uint64_t>(m_chunkLeft, used);
            // A chunked body counts with its chunk lines, so that endless
            // tiny chunks end at the limit too.
            if (!head && (m_bodyRead += qint64(used)) > limits().bodyBytes)
                return refuseTooLarge();
            if (ec == http::error::need_more)
                break;
            if (ec)
                return refuseUnreadable(ec, head);
            if (head && !inHead())
                return onHead();
        }
        if (m_parser->is_done())
            return dispatch();
        // An unfinished head is all head: Beast reads it once its empty line
        // has come, and would wait for that.
        if (inHead() && bareLineEnd(buffered()))
            return refuse(400, QStringLiteral("a line of the request head does not end in CRLF"));
        receive();
    }

    std::string_view buffered() const
    {
        const auto bytes = m_buffer.data();
        return {static_cast<const char *>(bytes.data()), bytes.size()};
    }

    void refuseUnreadable(beast::error_code ec, bool head)
    {
        if (ec == http::error::header_limit) {
            return refuse(431, QStringLiteral("the request head is larger than the limit of %1 bytes")
                                   .arg(limits().headBytes));
        }
        if (ec == http::error::bad_content_length) {
            return refuse(400, QStringLiteral("Content-Length must be one plain decimal number, the same in "
                                              "every Content-Length header, and not beside Transfer-Encoding"));
        }
        if (ec == http::error::bad_transfer_encoding)
            return refuse(400, QStringLiteral("Transfer-Encoding is repeated or given beside Content-Length"));
        if (ec == http::error::body_limit)
            return refuseTooLarge();
        if (ec == BudgetSpent || ec == OutOfMemory) {
            HttpAnswer busy = HttpAnswer::busy();
            busy.reason = ec == OutOfMemory ? QStringLiteral("out of memory for the request body")
                                            : QStringLiteral("the request bodies held reached the budget of %1 bytes")
                                                  .arg(m_host->bodyBudget().limit());
            return refuse(std::move(busy));
        }
        refuse(400, head ? QStringLiteral("the request head is malformed")
                         : QStringLiteral("the request body could not be read"));
    }

    void refuseTooLarge()
    {
        refuse(413, QStringLiteral("the request body is larger than the limit of %1 bytes").arg(limits().bodyBytes));
    }

    void refuseLate()
    {
        if (inHead()) {
            return refuse(408, QStringLiteral("the request head did not arrive within %1 seconds")
                                   .arg(limits().head.count()));
        }
        refuse(408, QStringLiteral("the request body did not arrive within %1 seconds").arg(limits().body.count()));
    }

    void onHead()
    {
        describeRequest();
        const auto &head = m_parser->get();
        if (std::distance(head.begin(), head.end()) > limits().headerCount) {
            return refuse(431, QStringLiteral("the request has more than %1 header lines")
                                   .arg(limits().headerCount));
        }
        if (head.count(http::field::transfer_encoding) && !onlyChunked(head)) {
            return refuse(501, QStringLiteral("Transfer-Encoding \"%1\" is not supported: send the body with "
                                              "Content-Length or chunked")
                                   .arg(QString::fromStdString(std::string(head[http::field::transfer_encoding])).left(80)));
        }
        const bool chunked = m_parser->chunked();
        const auto length = m_parser->content_length();
        if (head.method() == http::verb::post && !chunked && !length)
            return refuse(411, QStringLiteral("a POST needs a Content-Length header (or a chunked body)"));
        if (length && *length > std::uint64_t(limits().bodyBytes))
            return refuseTooLarge();
        if (m_parser->is_done())
            return dispatch();
        readBody(beast::iequals(head[http::field::expect], "100-continue"));
    }

    void readBody(bool proceed)
    {
        m_parser->body_limit(std::uint64_t(limits().bodyBytes));
        m_parser->on_chunk_header(m_chunkStarts);
        auto &body = m_parser->get().body();
        body.share = BodyBudget::Share(&m_host->bodyBudget());
        body.limit = std::size_t(limits().bodyBytes);
        if (!proceed) {
            armDeadline(limits().body);
            return parse();
        }
        static const std::string proceeding = "HTTP/1.1 100 Continue\r\n\r\n";
        m_deadline.cancel();
        lowest().expires_after(limits().body);
        net::async_write(*m_stream, net::buffer(proceeding),
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec)
                                 return;
                             self->armDeadline(self->limits().body);
                             self->parse();
                         });
    }

    // The request as far as its head was read: for the page and the log. The
    // client's address is the peer's, or from a trusted proxy the one it
    // forwarded; fields of a trailer are never read.
    void describeRequest()
    {
        if (m_request)
            return;
        m_request = std::make_shared<HttpRequest>();
        m_request->peer = m_request->remote = m_remote;
        m_request->start = std::chrono::steady_clock::now();
        if (!m_parser)
            return;
        const auto &head = m_parser->get();
        m_request->method = std::string(head.method_string());
        m_request->target = std::string(head.target());
        splitTarget(m_request->target, &m_request->path, &m_request->query);
        m_request->authorization = std::string(head[http::field::authorization]);
        m_request->contentType = std::string(head[http::field::content_type]);
        const TrustedProxies &proxies = m_host->trustedProxies();
        if (!inHead() && proxies.contains(m_remote)) {
            std::vector<std::string_view> forwarded;
            const auto [first, last] = head.equal_range("X-Forwarded-For");
            for (auto field = first; field != last; ++field)
                forwarded.push_back(field->value());
            m_request->remote = proxies.client(m_remote, forwarded);
        }
        const auto [encodingFirst, encodingLast] = head.equal_range(http::field::accept_encoding);
        for (auto field = encodingFirst; field != encodingLast; ++field)
            m_request->acceptEncoding += (field == encodingFirst ? "" : ",") + std::string(field->value());
    }

    void dispatch()
    {
        m_deadline.cancel();
        describeRequest();
        auto &body = m_parser->get().body();
        m_request->body = std::move(body.bytes);
        m_request->bodyShare = std::move(body.share);
        m_parser.reset();
        m_state = State::Serving;
        lowest().expires_never();
        // The socket stays open and unread while the answer is awaited (this
        // connection lives as long as the answer's callback does), so a look
        // at it from a worker is safe.
        m_request->clientGone = [socket = lowest().socket().native_handle()] { return peerClosed(socket); };
        try {
            m_host->serve(m_request, [self = this->shared_from_this()](HttpAnswer answer) {
                net::post(self->m_executor,
                          [self, answer = std::move(answer)]() mutable { self->write(std::move(answer)); });
                self->m_answered = true;
            });
        } catch (const std::bad_alloc &) {
            if (!m_answered)
                write(HttpAnswer::shortOfMemory());
        }
    }

    void refuse(int status, const QString &text) { refuse(HttpAnswer::text(status, text)); }

    void refuse(HttpAnswer answer)
    {
        m_deadline.cancel();
        describeRequest();
        m_state = State::Serving;
        write(std::move(answer));
    }

    void write(HttpAnswer answer)
    {
        // The request is done: its body gives its memory and budget back.
        m_request->body = std::string();
        m_request->bodyShare.release();
        m_parser.reset();
        m_answer = std::move(answer);
        const auto status = http::int_to_status(unsigned(m_answer.status));
        m_out = "HTTP/1.1 " + std::to_string(m_answer.status) + ' ' + std::string(http::obsolete_reason(status))
            + "\r\nContent-Type: " + m_answer.contentType + "\r\n";
        for (const auto &[name, value] : m_answer.headers)
            m_out += name + ": " + value + "\r\n";
        m_out += "Content-Length: " + std::to_string(m_answer.body.size()) + "\r\nConnection: close\r\n\r\n";
        // A HEAD answer names the length of the document it leaves out. One
        // buffer: Beast's TLS stream ends a write of several after the first.
        const bool head = m_request->method == "HEAD";
        if (!head)
            m_out.append(m_answer.body.constData(), std::size_t(m_answer.body.size()));
        const qint64 bytes = head ? 0 : m_answer.body.size();
        m_answer.body.clear();
        lowest().expires_after(limits().body);
        net::async_write(*m_stream, net::buffer(m_out),
                         [self = this->shared_from_this(), bytes](beast::error_code ec, std::size_t) {
                             self->m_host->log(*self->m_request, self->m_answer, bytes);
                             self->m_out.clear();
                             if (ec)
                                 return self->lowest().close();
                             self->finish();
                         });
    }

    void finish()
    {
        m_state = State::Closing;
        if (m_host->stopping())
            return lowest().close();
        lowest().expires_after(LingerTime);
        if constexpr (Tls) {
            m_stream->async_shutdown([self = this->shared_from_this()](beast::error_code) { self->lowest().close(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            linger();
        }
    }

    void linger()
    {
        m_stream->async_read_some(net::buffer(m_discard),
                                 [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                                     self->m_lingered += n;
                                     if (ec || self->m_lingered > LingerBytes)
                                         return self->lowest().close();
                                     self->linger();
                                 });
    }

    net::any_io_executor m_executor; // the connection's strand
    net::steady_timer m_deadline;
    bool m_late = false;
    std::optional<Stream> m_stream;
    tcp::socket m_socket; // until the stream takes it over
    net::ssl::context *m_tls;
    HttpHost *m_host;
    QString m_remote;
    State m_state = State::Reading;
    beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    qint64 m_bodyRead = 0;         // bytes of the body as sent
    std::uint64_t m_chunkLeft = 0; // bytes of the chunk under way still to come
    std::function<void(std::uint64_t, std::string_view, beast::error_code &)> m_chunkStarts =
        [this](std::uint64_t size, std::string_view, beast::error_code &ec) {
            m_chunkLeft = size;
            ec = {};
        };
    std::atomic<bool> m_answered{false};
    std::shared_ptr<HttpRequest> m_request;
    HttpAnswer m_answer;
    std::string m_out;
    std::array<char, 4096> m_discard;
    std::size_t m_lingered = 0;
};

} // namespace

std::shared_ptr<HttpConnection> HttpConnection::create(tcp::socket socket, const QString &remote,
                                                       net::ssl::context *tls, HttpHost *host)
{
    // Answers go out in two buffers; without this, Nagle's algorithm and the
    // client's delayed ACK would add tens of milliseconds.
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (tls)
        return std::make_shared<Connection<beast::ssl_stream<beast::tcp_stream>>>(host, remote, std::move(socket), tls);
    return std::make_shared<Connection<beast::tcp_stream>>(host, remote, std::move(socket), nullptr);
}

} // namespace VelmoraServerCore
