// The control's exchanges with the server page, asynchronous: a GET of the
// center document and a POST of the commit body over QNetworkAccessManager.
// One exchange runs at a time. A new load replaces a running load (the old
// one never reports); a load asked for during a commit starts when the commit
// has reported. Every exchange ends within its time-out, which bounds the
// whole exchange (a server that trickles its answer as well as a silent one),
// and destroying the session aborts a running exchange without a signal.
//
// A failed commit says whether the server may have received it: only one that
// failed before any of its body left (no connection, no such host, a refused
// certificate) cannot have been carried out.
//
// https:// addresses are verified against the CA certificates of the default
// QSslConfiguration (the system's, plus whatever the host adds); a server
// whose certificate does not verify fails the exchange, with the problem
// named, before anything is sent.
#pragma once

#include "core/centerdocument.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

#include <QNetworkReply>

class QNetworkAccessManager;
class QTimer;

namespace VelmoraInternal {

// How long a load or a commit waits for a silent server before it fails,
// unless the host sets another time-out.
inline constexpr std::chrono::milliseconds DefaultTimeout{30000};

class GzipInflater;

class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // A load or a commit is running, or a load waits for a commit.
    bool isBusy() const { return m_reply || m_queuedLoad; }
    bool isCommitting() const { return m_reply && m_committing; }

    // GET url and read the center document.
    void load(const QString &url);
    // POST body as a form; false (and nothing sent) while a commit runs.
    bool commit(const QString &url, const QByteArray &body);

Q_SIGNALS:
    void loaded(const VelmoraInternal::CenterDocument &document);
    void loadFailed(const QString &reason);
    // The server accepted the commit; answer is its text for the operator.
    void committed(const QString &answer);
    // reason says what went wrong; details carry the server's own words.
    void commitFailed(const QString &reason, const QString &details);
    void busyChanged(bool busy);

private:
    void start(const QString &url, const QByteArray *body);
    void inflate(QNetworkReply *reply);
    // The answer's body as the server meant it: inflated when it came
    // compressed; nullopt when it is compressed in a way not read here.
    std::optional<QByteArray> decodedBody(QNetworkReply *reply);
    void finish();
    void reportCommit(QNetworkReply::NetworkError networkError, int status, const QString &answer, QString error);
    void reportLoad(const QByteArray &contentType, const QByteArray &body, QString error);
    const char *method() const;
    QString failure(QNetworkReply *reply, int status) const;
    bool mayHaveArrived(QNetworkReply::NetworkError error) const;
    void drop();
    void updateBusy();

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    QString m_url;
    bool m_committing = false;
    bool m_tooLarge = false;
    bool m_timedOut = false;
    bool m_bodySent = false; // some of the commit's body went out
    bool m_answering = false; // some of the answer came in
    QTimer *m_deadline;
    QElapsedTimer m_clock; // since the running exchange started
    std::unique_ptr<GzipInflater> m_inflater; // of a gzip answer
    QStringList m_certificateProblems; // of the running exchange's server
    bool m_busy = false;
    std::optional<QString> m_queuedLoad;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
};

} // namespace VelmoraInternal
