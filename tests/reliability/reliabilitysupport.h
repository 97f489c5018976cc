// Helpers shared by the reliability suites: commit bodies as the control
// builds them, the whole content of a server database for exact
// comparisons, and velmora-server as a child process that can be killed.
#pragma once

#include <httpserver.h>

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <string>

namespace Reliability {

// The control's two statements and its body for a list of them.
QString insertStatement(qint32 employee, qint32 center);
QString deleteStatement(qint32 employee, const QList<qint32> &centers);
std::string commitBody(const QStringList &statements);
// One field, name and value encoded as the control encodes.
std::string field(const QString &name, const QString &value);

// Every assignment (employee -> ascending centers) and every center
// ("id|name|active"), read straight from the database.
struct Snapshot
{
    std::map<qint32, QList<qint32>> assignments;
    QStringList centers;
    QString error; // set when the database could not be read

    bool operator==(const Snapshot &other) const
    {
        return assignments == other.assignments && centers == other.centers;
    }
    // A short description of how this differs from other, for a failure.
    QString differenceFrom(const Snapshot &other) const;
};
Snapshot snapshot(const QString &address);

// The sample's active and inactive center IDs, ascending.
QList<qint32> activeSampleCenters();

// Creates the schema at address and fills it with the sample data. False,
// with the reason, when that fails.
bool seedSampleDatabase(const QString &address, QString *error);
// Options of an in-process server for address on 127.0.0.1, at any free port.
VelmoraServerCore::VelmoraServer::Options localServerOptions(const QString &address);
QList<qint32> inactiveSampleCenters();

// velmora-server as a child process on 127.0.0.1. start() waits (bounded)
// for the line that names the port.
class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool start(const QString &database, int port = 0, const QStringList &extraArguments = {});
    // SIGKILL, then waits for the process to end.
    void kill();
    // SIGTERM, then waits (bounded) for the process to end.
    void stop();
    bool isRunning() const;
    qint64 pid() const;
    int port() const { return m_port; }
    QString baseUrl() const;
    QString output() const { return m_output; }
    QString error() const { return m_error; }

private:
    QProcess m_process;
    QString m_output;
    QString m_error;
    int m_port = 0;
};

// The path of the velmora-server binary of this build.
QString serverBinary();

} // namespace Reliability
