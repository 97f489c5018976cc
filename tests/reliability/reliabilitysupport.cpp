#include "reliabilitysupport.h"

#include "testdatabases.h"

#include <centerstore.h>
#include <sampledata.h>

#include "core/changeset.h"
#include "core/urlencoder.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace Reliability {

QString insertStatement(qint32 employee, qint32 center)
{
    return VelmoraInternal::ChangeSet::insertStatement(employee, QString::number(center));
}

QString deleteStatement(qint32 employee, const QList<qint32> &centers)
{
    QStringList ids;
    for (qint32 c : centers)
        ids << QString::number(c);
    return VelmoraInternal::ChangeSet::deleteStatement(employee, ids);
}

std::string commitBody(const QStringList &statements)
{
    return VelmoraInternal::ChangeSet::formBody(statements).toStdString();
}

std::string field(const QString &name, const QString &value)
{
    return (VelmoraInternal::urlEncode(name) + '=' + VelmoraInternal::urlEncode(value) + '&').toStdString();
}

QString Snapshot::differenceFrom(const Snapshot &other) const
{
    if (!error.isEmpty() || !other.error.isEmpty())
        return QStringLiteral("unreadable: %1 / %2").arg(error, other.error);
    QStringList lines;
    QSet<qint32> employees;
    for (const auto &[e, c] : assignments)
        employees.insert(e);
    for (const auto &[e, c] : other.assignments)
        employees.insert(e);
    QList<qint32> sorted(employees.begin(), employees.end());
    std::sort(sorted.begin(), sorted.end());
    auto show = [](const QList<qint32> &list) {
        QStringList parts;
        for (qint32 v : list)
            parts << QString::number(v);
        return parts.join(u',');
    };
    for (qint32 e : std::as_const(sorted)) {
        const auto mine = assignments.find(e);
        const auto theirs = other.assignments.find(e);
        const QList<qint32> a = mine == assignments.end() ? QList<qint32>() : mine->second;
        const QList<qint32> b = theirs == other.assignments.end() ? QList<qint32>() : theirs->second;
        if (a != b && lines.size() < 5)
            lines << QStringLiteral("employee %1: [%2] instead of [%3]").arg(e).arg(show(a), show(b));
    }
    if (centers != other.centers)
        lines << QStringLiteral("the centers differ (%1 rows instead of %2)").arg(centers.size()).arg(other.centers.size());
    return lines.join(QStringLiteral("; "));
}

Snapshot snapshot(const QString &address)
{
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("reliability-snapshot-%1").arg(++counter);
    Snapshot result;
    {
        QSqlDatabase db = TestDatabases::connect(address, name);
        if (!db.isOpen()) {
            result.error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (query.exec(QStringLiteral(
                    R"(SELECT "EmployeeID", "CenterID" FROM "CenterEmployeeCrossReference" ORDER BY 1, 2)"))) {
                while (query.next())
                    result.assignments[query.value(0).toInt()].append(query.value(1).toInt());
            } else {
                result.error = query.lastError().text();
            }
            if (query.exec(QStringLiteral(R"(SELECT "ID", "Name", "Active" FROM "Center" ORDER BY 1)"))) {
                while (query.next()) {
                    result.centers << QStringLiteral("%1|%2|%3")
                                          .arg(query.value(0).toInt())
                                          .arg(query.value(1).toString())
                                          .arg(query.value(2).toBool() ? 1 : 0);
                }
            } else {
                result.error = query.lastError().text();
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

QList<qint32> activeSampleCenters()
{
    QList<qint32> ids;
    for (const VelmoraServerCore::Center &c : VelmoraServerCore::SampleData::centers()) {
        if (c.active)
            ids << c.id;
    }
    return ids;
}

QList<qint32> inactiveSampleCenters()
{
    QList<qint32> ids;
    for (const VelmoraServerCore::Center &c : VelmoraServerCore::SampleData::centers()) {
        if (!c.active)
            ids << c.id;
    }
    return ids;
}

QString serverBinary()
{
#ifdef VELMORA_SERVER_BINARY
    return QStringLiteral(VELMORA_SERVER_BINARY);
#else
    return QString();
#endif
}

ServerProcess::~ServerProcess()
{
    kill();
}

bool ServerProcess::start(const QString &database, int port, const QStringList &extraArguments)
{
    m_output.clear();
    m_error.clear();
    m_port = 0;
    m_process.setProgram(serverBinary());
    m_process.setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                       QStringLiteral("--port"), QString::number(port),
                                       QStringLiteral("--db"), database, QStringLiteral("--quiet")}
                           + extraArguments);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("velmora-server did not start: %1").arg(m_process.errorString());
        return false;
    }
    static const QRegularExpression serving(QStringLiteral(R"(serving http://127\.0\.0\.1:(\d+)/)"));
    // Bounded: 30 s for the schema and the port.
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        m_process.waitForReadyRead(100);
        m_output += QString::fromUtf8(m_process.readAll());
        if (const auto match = serving.match(m_output); match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("velmora-server ended: %1").arg(m_output);
            return false;
        }
    }
    m_error = QStringLiteral("velmora-server did not report its port: %1").arg(m_output);
    m_process.kill();
    m_process.waitForFinished(10000);
    return false;
}

void ServerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
    m_output += QString::fromUtf8(m_process.readAll());
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(20000))
        kill();
    m_output += QString::fromUtf8(m_process.readAll());
}

bool ServerProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

qint64 ServerProcess::pid() const
{
    return m_process.processId();
}

QString ServerProcess::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

bool seedSampleDatabase(const QString &address, QString *error)
{
    VelmoraServerCore::CenterStore store(VelmoraServerCore::CenterStore::Settings{address});
    VelmoraServerCore::CenterStore::Error storeError;
    if (store.ensureSchema(&storeError) && store.seedSample(&storeError))
        return true;
    *error = storeError.message;
    return false;
}

VelmoraServerCore::VelmoraServer::Options localServerOptions(const QString &address)
{
    VelmoraServerCore::VelmoraServer::Options options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = 0;
    options.database = address;
    return options;
}

} // namespace Reliability
