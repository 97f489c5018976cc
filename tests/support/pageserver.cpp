#include "pageserver.h"

#include <httplib.h>
#include <zlib.h>

#include <QTcpSocket>
#include <QTimer>

#include <chrono>

PageServer::PageServer()
    : m_server(std::make_unique<httplib::Server>())
{
    const auto serve = [this](bool post) {
        return [this, post](const httplib::Request &request, httplib::Response &response) {
            std::unique_lock<std::mutex> lock(m_mutex);
            const QString query = post ? u' ' + QString::fromStdString(request.body)
                                       : QStringLiteral("?EmployeeID=") + QString::fromStdString(request.get_param_value("EmployeeID"));
            m_requests.append(QString::fromStdString(request.method + ' ' + request.path) + query);
            const Answer answer = m_answers[post];
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
            response.status = answer.status;
            if (!answer.contentEncoding.isEmpty())
                response.set_header("Content-Encoding", answer.contentEncoding.toStdString());
            response.set_content(answer.body.toStdString(), answer.contentType.toStdString());
        };
    };
    m_server->Get("/Velmora.asp", serve(false));
    m_server->Post("/Velmora.asp", serve(true));
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() does nothing before the server runs: a server destroyed at
    // once would then listen for ever and its thread never join.
    for (int i = 0; i < 5000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PageServer::~PageServer()
{
    m_server->stop();
    m_thread.join();
}

void PageServer::answer(bool post, const Answer &answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[post] = answer;
}

QStringList PageServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

QByteArray centerDocument(const Centers &nonSelected, const Centers &selected)
{
    QByteArray xml = "<?xml version=\"1.0\"?><Centers><Counts><Count><NonSelected>"
        + QByteArray::number(qsizetype(nonSelected.size())) + "</NonSelected><Selected>"
        + QByteArray::number(qsizetype(selected.size())) + "</Selected></Count></Counts>";
    for (const Centers *list : {&nonSelected, &selected}) {
        xml += "<List>";
        for (const auto &[id, name] : *list)
            xml += "<Center><ID>" + id.toUtf8() + "</ID><Name>" + name.toHtmlEscaped().toUtf8() + "</Name></Center>";
        xml += "</List>";
    }
    return xml + "</Centers>";
}

RawServer::RawServer(Behaviour behaviour)
{
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this, behaviour] {
        QTcpSocket *socket = nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, this, [this, behaviour, socket] {
            // The control's requests are whole at the end of a GET's head, or
            // at the '&' that ends every commit body.
            const QByteArray in = socket->property("in").toByteArray() + socket->readAll();
            socket->setProperty("in", in);
            if (!(in.startsWith("GET") ? in.endsWith("\r\n\r\n") : in.endsWith('&')))
                return;
            if (behaviour == Closes || behaviour == GoesAway)
                socket->close();
            if (behaviour == GoesAway)
                close();
            if (behaviour == Trickles) {
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
                auto *drip = new QTimer(socket);
                connect(drip, &QTimer::timeout, socket, [socket] { socket->write("."); });
                drip->start(20);
            }
        });
    });
}

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY); // 16: gzip
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}
