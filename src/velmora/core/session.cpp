#include "core/session.h"

#include "core/gzipinflater.h"
#include "protocol/limits.h"
#include "protocol/maskedaddress.h"
#include "protocol/page.h"
#include "protocol/windows1252.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

namespace VelmoraInternal {

using VelmoraProtocol::MaxAnswerBytes;
using VelmoraProtocol::maskedAddress;
namespace Windows1252 = VelmoraProtocol::Windows1252;

namespace {

// The exchanges with the server page as they start and end, with their
// addresses masked. Quiet unless a host turns it on.
Q_LOGGING_CATEGORY(lcSession, "velmora.session", QtWarningMsg)

// The answer is text for the operator; honour a declared charset, else take
// UTF-8 when it is valid and Windows-1252 otherwise.
QString answerText(const QByteArray &contentType, const QByteArray &body)
{
    const QByteArray type = contentType.toLower();
    const int charsetAt = type.indexOf("charset=");
    if (charsetAt >= 0) {
        QByteArray charset = type.mid(charsetAt + 8).trimmed();
        const int end = charset.indexOf(';');
        if (end >= 0)
            charset.truncate(end);
        charset.replace('"', "");
        if (charset == "windows-1252" || charset == "cp1252" || charset == "iso-8859-1" || charset == "latin1")
            return Windows1252::decode(body);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(body);
    return utf8.hasError() ? Windows1252::decode(body) : text;
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

bool isGzip(const QNetworkReply *reply)
{
    const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return coding == "gzip" || coding == "x-gzip";
}

bool isUsableUrl(const QString &url)
{
    const QUrl target(url, QUrl::StrictMode);
    return target.isValid() && !target.scheme().isEmpty() && !target.host().isEmpty();
}

} // namespace

Session::Session(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_deadline(new QTimer(this))
{
    // Follow redirects as a browser does, but never from https to http.
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    // One deadline for the whole exchange: a server that sends a byte now
    // and then never trips a time-out for silence.
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (!m_reply)
            return;
        m_timedOut = true;
        m_reply->abort();
    });
}

Session::~Session()
{
    drop();
}

void Session::drop()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_deadline->stop();
    qCDebug(lcSession, "%s %s dropped after %lld ms", method(), qUtf8Printable(maskedAddress(m_url)),
            qlonglong(m_clock.elapsed()));
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void Session::load(const QString &url)
{
    if (isCommitting()) {
        qCDebug(lcSession, "GET %s waits for the running commit", qUtf8Printable(maskedAddress(url)));
        m_queuedLoad = url;
        return;
    }
    drop();
    start(url, nullptr);
    updateBusy();
}

bool Session::commit(const QString &url, const QByteArray &body)
{
    if (isCommitting())
        return false;
    drop();
    start(url, &body);
    updateBusy();
    return true;
}

void Session::start(const QString &url, const QByteArray *body)
{
    m_url = url;
    m_committing = body != nullptr;
    m_tooLarge = m_timedOut = m_bodySent = m_answering = false;
    m_inflater.reset();
    m_certificateProblems.clear();
    m_clock.start();
    qCDebug(lcSession, "%s %s starts%s", method(), qUtf8Printable(maskedAddress(url)),
            body ? qPrintable(QStringLiteral(" with %1 bytes").arg(body->size())) : "");

    // An unusable address still goes through the manager, which fails it
    // asynchronously like any other exchange.
    QNetworkRequest request(QUrl(url, QUrl::StrictMode));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Asked for by the control itself, so that QtNetwork leaves the answer
    // compressed and the control inflates it within its own bound: QtNetwork
    // would inflate all it has at once and check only the ratio (40:1 past
    // 10 MB): a 2.6 MB answer at 38:1 became 100 MB before anyone counted.
    request.setRawHeader("Accept-Encoding", "gzip");
    QNetworkReply *reply = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(VelmoraProtocol::FormContentType.latin1(), VelmoraProtocol::FormContentType.size()));
        reply = m_manager->post(request, *body);
    } else {
        reply = m_manager->get(request);
    }
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, &Session::finish);
    // Qt sends a request again on a fresh connection when a kept-alive one
    // closes under it: what the first attempt sent counts, whatever the
    // second one meets.
    connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64) {
        m_bodySent = m_bodySent || sent > 0;
    });
    // The answer's head comes before any of its body.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] { m_answering = true; });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { inflate(reply); });
    // Bytes as they come over the wire; a gzip answer's inflated text has its
    // own bound (inflate()).
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (received > MaxAnswerBytes || total > MaxAnswerBytes) {
            m_tooLarge = true;
            reply->abort();
        }
    });
    // Never ignored: the handshake fails, and the reason names the problem.
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &problem : errors) {
            if (!m_certificateProblems.contains(problem.errorString()))
                m_certificateProblems.append(problem.errorString());
        }
    });
    m_deadline->start(m_timeout);
}

bool Session::mayHaveArrived(QNetworkReply::NetworkError error) const
{
    // A time-out may strike just as the body goes out, before Qt has told
    // of it: it counts as sent.
    if (m_bodySent || m_answering || m_timedOut)
        return true;
    if (!isUsableUrl(m_url) || !m_certificateProblems.isEmpty())
        return false;
    // These end an exchange before a connection to the page stands.
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return false;
    default:
        return true;
    }
}

QString Session::failure(QNetworkReply *reply, int status) const
{
    const QString shownUrl = maskedAddress(m_url);
    const QNetworkReply::NetworkError error = reply->error();
    if (!isUsableUrl(m_url))
        return tr("The server address \"%1\" is not a valid URL.").arg(shownUrl);
    if (m_tooLarge)
        return tr("The answer from %1 is larger than %2 MB.").arg(shownUrl).arg(MaxAnswerBytes / (1024 * 1024));
    if (!m_certificateProblems.isEmpty()) {
        return tr("The certificate of the server at %1 was not accepted: %2.")
            .arg(shownUrl, m_certificateProblems.join(QStringLiteral("; ")));
    }
    const QString seconds = QString::number(double(m_timeout.count()) / 1000.0);
    if (m_timedOut && m_answering)
        return tr("The answer from %1 did not end within %2 seconds.").arg(shownUrl, seconds);
    if (m_timedOut || error == QNetworkReply::TimeoutError)
        return tr("The server at %1 did not answer within %2 seconds.").arg(shownUrl, seconds);
    if (error != QNetworkReply::NoError && status == 0) {
        // A commit whose request went out was not refused: the connection
        // went while the server may have been at work.
        if (m_committing && mayHaveArrived(error))
            return tr("The connection to the server at %1 broke off: %2").arg(shownUrl, maskedAddress(reply->errorString()));
        return tr("The server at %1 could not be reached: %2").arg(shownUrl, maskedAddress(reply->errorString()));
    }
    // A success status whose body then broke off is no success.
    if (error != QNetworkReply::NoError && isSuccess(status))
        return tr("The answer from %1 broke off: %2").arg(shownUrl, maskedAddress(reply->errorString()));
    if (m_committing ? isSuccess(status) : status == 200)
        return {};
    const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return tr("The server at %1 answered HTTP %2%3.")
        .arg(shownUrl)
        .arg(status)
        .arg(phrase.isEmpty() ? QString() : QLatin1Char(' ') + phrase);
}

void Session::inflate(QNetworkReply *reply)
{
    if (m_tooLarge || !isGzip(reply))
        return;
    if (!m_inflater)
        m_inflater = std::make_unique<GzipInflater>(MaxAnswerBytes);
    if (m_inflater->feed(reply->readAll()) == GzipInflater::State::TooLarge) {
        m_tooLarge = true;
        reply->abort();
    }
}

std::optional<QByteArray> Session::decodedBody(QNetworkReply *reply)
{
    const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (coding.isEmpty() || coding == "identity")
        return reply->readAll();
    if (!isGzip(reply))
        return std::nullopt;
    inflate(reply);
    if (m_tooLarge || m_inflater->state() != GzipInflater::State::Complete)
        return std::nullopt;
    return m_inflater->take();
}

void Session::finish()
{
    QNetworkReply *reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_reply = nullptr;
    m_deadline->stop();
    reply->deleteLater();

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    // An aborted reply (too large, timed out) has nothing left to read.
    const std::optional<QByteArray> decoded = m_tooLarge || !reply->isOpen() ? QByteArray() : decodedBody(reply);
    const QByteArray body = decoded.value_or(QByteArray());
    QString error = failure(reply, status);
    if (error.isEmpty() && !decoded) {
        error = tr("The answer from %1 is compressed in a way the control cannot read (Content-Encoding: %2).")
                    .arg(maskedAddress(m_url), QString::fromLatin1(reply->rawHeader("Content-Encoding").left(40)));
    }
    qCInfo(lcSession, "%s %s ended after %lld ms: HTTP %d, %lld bytes%s%s", method(),
           qUtf8Printable(maskedAddress(m_url)), qlonglong(m_clock.elapsed()), status, qlonglong(body.size()),
           error.isEmpty() ? "" : ", failed: ", qUtf8Printable(error));

    const QPointer<Session> guard(this);
    if (m_committing)
        reportCommit(reply->error(), status, answerText(contentType, body), error);
    else
        reportLoad(contentType, body, error);
    if (!guard)
        return;
    // A load asked for during the commit starts now, unless a newer one was
    // started meanwhile by a handler of the signals above.
    if (m_queuedLoad) {
        const QString url = *m_queuedLoad;
        m_queuedLoad.reset();
        if (!m_reply)
            start(url, nullptr);
    }
    updateBusy();
}

void Session::reportCommit(QNetworkReply::NetworkError networkError, int status, const QString &answer, QString error)
{
    // Unless the server refused the commit in its own words, the operator
    // learns whether the changes can have been saved, and what is safe now.
    const bool ownWords = status != 0 && !isSuccess(status);
    if (!error.isEmpty() && !ownWords) {
        error += QLatin1String(error.endsWith(u'.') ? " " : ". ")
            + (mayHaveArrived(networkError)
                   ? tr("The changes may or may not have been saved. They are kept: saving them again is safe, "
                        "or reload to see what the server holds.")
                   : tr("Nothing was saved."));
    }
    if (error.isEmpty())
        Q_EMIT committed(answer);
    else
        Q_EMIT commitFailed(error, answer.trimmed().left(2000));
}

void Session::reportLoad(const QByteArray &contentType, const QByteArray &body, QString error)
{
    if (!error.isEmpty()) {
        // A refusal in plain text says why; it goes with the reason.
        const QString text = answerText(contentType, body.left(300)).trimmed();
        if (!text.isEmpty() && contentType.startsWith("text/plain"))
            error += QLatin1Char(' ') + text;
        Q_EMIT loadFailed(error);
        return;
    }
    CenterDocument document;
    if (CenterDocumentReader::read(body, &document, &error))
        Q_EMIT loaded(document);
    else
        Q_EMIT loadFailed(error);
}

const char *Session::method() const
{
    return m_committing ? "POST" : "GET";
}

void Session::updateBusy()
{
    if (m_busy == isBusy())
        return;
    m_busy = isBusy();
    Q_EMIT busyChanged(m_busy);
}

} // namespace VelmoraInternal
