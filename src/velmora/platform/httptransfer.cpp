#include "httptransfer.h"

#include "inputblocker.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace VelmoraInternal {

HttpTransfer::HttpTransfer(QWidget *owner)
    : m_owner(owner)
    , m_manager(new QNetworkAccessManager(owner))
{
    // Follow redirects as a browser does, but never from https to http.
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

HttpTransfer::~HttpTransfer() = default;

HttpResult HttpTransfer::get(const QString &url)
{
    return run(url, nullptr, QByteArray());
}

HttpResult HttpTransfer::post(const QString &url, const QByteArray &body, const QByteArray &contentType)
{
    return run(url, &body, contentType);
}

HttpResult HttpTransfer::run(const QString &url, const QByteArray *body, const QByteArray &contentType)
{
    HttpResult result;
    const QUrl target(url, QUrl::StrictMode);
    if (!target.isValid() || target.scheme().isEmpty() || target.host().isEmpty()) {
        result.error = QStringLiteral("The server address \"%1\" is not a valid URL.").arg(url);
        return result;
    }

    QNetworkRequest request(target);
    request.setTransferTimeout(int(m_timeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply *reply = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        reply = m_manager->post(request, *body);
    } else {
        reply = m_manager->get(request);
    }

    m_busy = true;
    bool tooLarge = false;
    {
        InputBlocker blocker(m_owner);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64 total) {
            if (received > m_maxAnswerBytes || total > m_maxAnswerBytes) {
                tooLarge = true;
                reply->abort();
            }
        });
        // The transfer time-out covers a silent server; this one covers a
        // server that keeps trickling bytes for ever.
        QTimer overall;
        overall.setSingleShot(true);
        QObject::connect(&overall, &QTimer::timeout, reply, &QNetworkReply::abort);
        overall.start(m_timeout * 4);
        if (!reply->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_busy = false;

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.status = status.isValid() ? status.toInt() : 0;
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (!tooLarge && reply->isOpen())
        result.body = reply->readAll();

    if (tooLarge) {
        result.error = QStringLiteral("The answer from %1 is larger than %2 MB.").arg(url).arg(m_maxAnswerBytes / (1024 * 1024));
    } else if (reply->error() == QNetworkReply::OperationCanceledError
               || reply->error() == QNetworkReply::TimeoutError) {
        result.error = QStringLiteral("The server at %1 did not answer within %2 seconds.")
                           .arg(url).arg(double(m_timeout.count()) / 1000.0);
    } else if (reply->error() != QNetworkReply::NoError && result.status == 0) {
        result.error = QStringLiteral("The server at %1 could not be reached: %2").arg(url, reply->errorString());
    } else {
        result.transferred = true;
        if (!result.isSuccess()) {
            result.error = QStringLiteral("The server at %1 answered HTTP %2 %3.")
                               .arg(url)
                               .arg(result.status)
                               .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
        }
    }
    reply->deleteLater();
    return result;
}

} // namespace VelmoraInternal
