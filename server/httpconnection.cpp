#include "httpconnection.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <limits>
#include <optional>

#include <poll.h>

namespace VelmoraServerCore {

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

HttpAnswer HttpAnswer::text(int status, const QString &text)
{
    HttpAnswer answer;
    answer.status = status;
    answer.body = text.toUtf8();
    if (status >= 400)
        answer.reason = text;
    return answer;
}

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

template<class Stream>
class Connection final : public HttpConnection, public std::enable_shared_from_this<Connection<Stream>>
{
    static constexpr bool Tls = !std::is_same_v<Stream, beast::tcp_stream>;

public:
    Connection(HttpHost *host, const QString &remote, tcp::socket socket, net::ssl::context *tls)
        : m_executor(socket.get_executor()), m_deadline(m_executor), m_socket(std::move(socket)), m_tls(tls),
          m_host(host), m_remote(remote)
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

    // True when the read ended because its deadline passed.
    bool disarmDeadline()
    {
        m_deadline.cancel();
        return m_late;
    }
    const HttpLimits &limits() const { return m_host->limits(); }

    void begin()
    {
        if constexpr (Tls) {
            // A TLS stream costs about 80 kB: it is made when the client's
            // first bytes arrive, so that an idle connection costs no more
            // than a plain one.
            m_deadline.expires_after(limits().idle);
            m_deadline.async_wait([weak = this->weak_from_this()](beast::error_code ec) {
                if (const auto self = weak.lock(); self && !ec && !self->m_stream)
                    self->m_socket.close(ec);
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
                                             self->waitForRequest();
                                     });
        }
    }

    // The idle deadline runs until the first byte; the head's from there on.
    void waitForRequest()
    {
        lowest().expires_after(limits().idle);
        m_stream->async_read_some(m_buffer.prepare(4096),
                                 [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                                     if (ec)
                                         return;
                                     self->m_buffer.commit(n);
                                     self->readHead();
                                 });
    }

    void readHead()
    {
        m_head.emplace();
        m_head->header_limit(std::uint32_t(std::min<qint64>(limits().headBytes, std::numeric_limits<std::uint32_t>::max())));
        // The declared length is judged below, with an answer of our own.
        m_head->body_limit(std::numeric_limits<std::uint64_t>::max());
        armDeadline(limits().head);
        http::async_read_header(*m_stream, m_buffer, *m_head,
                                [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->onHead(ec);
                                });
    }

    void onHead(beast::error_code ec)
    {
        if (disarmDeadline()) {
            return refuse(408, QStringLiteral("the request head did not arrive within %1 seconds")
                                   .arg(limits().head.count()));
        }
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
        if (ec == http::error::end_of_stream || ec == http::error::partial_message)
            return;
        if (ec.category() == http::make_error_code(http::error::bad_method).category())
            return refuse(400, QStringLiteral("the request head is malformed"));
        if (ec)
            return;

        const auto &head = m_head->get();
        if (std::distance(head.begin(), head.end()) > limits().headerCount) {
            return refuse(431, QStringLiteral("the request has more than %1 header lines")
                                   .arg(limits().headerCount));
        }
        if (head.count(http::field::transfer_encoding) && !onlyChunked(head)) {
            return refuse(501, QStringLiteral("Transfer-Encoding \"%1\" is not supported: send the body with "
                                              "Content-Length or chunked")
                                   .arg(QString::fromStdString(std::string(head[http::field::transfer_encoding])).left(80)));
        }
        const bool chunked = m_head->chunked();
        const auto length = m_head->content_length();
        if (head.method() == http::verb::post && !chunked && !length)
            return refuse(411, QStringLiteral("a POST needs a Content-Length header (or a chunked body)"));
        if (length && *length > std::uint64_t(limits().bodyBytes)) {
            return refuse(413, QStringLiteral("the request body is larger than the limit of %1 bytes")
                                   .arg(limits().bodyBytes));
        }
        if (!chunked && length.value_or(0) == 0)
            return dispatch();
        if (beast::iequals(head[http::field::expect], "100-continue")) {
            static const std::string proceed = "HTTP/1.1 100 Continue\r\n\r\n";
            lowest().expires_after(limits().body);
            net::async_write(*m_stream, net::buffer(proceed),
                             [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                 if (!ec)
                                     self->readBody();
                             });
            return;
        }
        readBody();
    }

    void readBody()
    {
        m_body.emplace(std::move(*m_head));
        m_body->body_limit(std::uint64_t(limits().bodyBytes));
        armDeadline(limits().body);
        http::async_read(*m_stream, m_buffer, *m_body,
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onBody(ec); });
    }

    void onBody(beast::error_code ec)
    {
        if (disarmDeadline()) {
            return refuse(408, QStringLiteral("the request body did not arrive within %1 seconds")
                                   .arg(limits().body.count()));
        }
        if (ec == http::error::body_limit) {
            return refuse(413, QStringLiteral("the request body is larger than the limit of %1 bytes")
                                   .arg(limits().bodyBytes));
        }
        if (ec == http::error::end_of_stream || ec == http::error::partial_message)
            return;
        if (ec.category() == http::make_error_code(http::error::bad_method).category())
            return refuse(400, QStringLiteral("the request body could not be read"));
        if (ec)
            return;
        dispatch();
    }

    // The request as far as it was read, for the log of a refusal.
    void describeRequest()
    {
        if (m_request)
            return;
        m_request = std::make_shared<HttpRequest>();
        m_request->remote = m_remote;
        m_request->start = std::chrono::steady_clock::now();
        const http::request_header<> *head = nullptr;
        if (m_body)
            head = &m_body->get().base();
        else if (m_head)
            head = &m_head->get().base();
        if (!head)
            return;
        m_request->method = std::string(head->method_string());
        m_request->target = std::string(head->target());
        splitTarget(m_request->target, &m_request->path, &m_request->query);
        m_request->authorization = std::string((*head)[http::field::authorization]);
        m_request->contentType = std::string((*head)[http::field::content_type]);
    }

    void dispatch()
    {
        describeRequest();
        if (m_body)
            m_request->body = m_body->release().body();
        m_body.reset();
        m_head.reset();
        m_state = State::Serving;
        lowest().expires_never();
        // The socket stays open and unread while the answer is awaited (this
        // connection lives as long as the answer's callback does), so a look
        // at it from a worker is safe.
        m_request->clientGone = [socket = lowest().socket().native_handle()] { return peerClosed(socket); };
        m_host->serve(m_request, [self = this->shared_from_this()](HttpAnswer answer) {
            net::post(self->m_executor,
                      [self, answer = std::move(answer)]() mutable { self->write(std::move(answer)); });
        });
    }

    void refuse(int status, const QString &text)
    {
        describeRequest();
        m_state = State::Serving;
        write(HttpAnswer::text(status, text));
    }

    void write(HttpAnswer answer)
    {
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
    std::optional<http::request_parser<http::empty_body>> m_head;
    std::optional<http::request_parser<http::string_body>> m_body;
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
