// The HTTP exchanges of the control: a GET of the center document and a POST
// of the commit body. Each call waits for the answer in a local event loop:
// paint and network events go on, input to the control is held off (see
// InputBlocker), and a time-out ends a server that never answers.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QWidget;

namespace VelmoraInternal {

struct HttpResult
{
    bool transferred = false; // a complete HTTP answer arrived
    int status = 0;           // its HTTP status, 0 when none
    QByteArray body;
    QByteArray contentType;
    QString error;            // why the transfer failed, for the operator

    bool isSuccess() const { return transferred && status >= 200 && status < 300; }
};

class HttpTransfer
{
public:
    explicit HttpTransfer(QWidget *owner);
    ~HttpTransfer();

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // Answers larger than this fail instead of filling memory.
    void setMaxAnswerBytes(qint64 bytes) { m_maxAnswerBytes = bytes; }

    bool isBusy() const { return m_busy; }

    HttpResult get(const QString &url);
    HttpResult post(const QString &url, const QByteArray &body, const QByteArray &contentType);

private:
    HttpResult run(const QString &url, const QByteArray *body, const QByteArray &contentType);

    QWidget *m_owner;
    QNetworkAccessManager *m_manager;
    std::chrono::milliseconds m_timeout{30000};
    qint64 m_maxAnswerBytes = 64 * 1024 * 1024;
    bool m_busy = false;
};

} // namespace VelmoraInternal
