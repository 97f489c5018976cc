// The server's database: the centers and the table
// CenterEmployeeCrossReference, reached through QtSql on SQLite (a file
// path) or PostgreSQL (a postgresql:// URL) with the same schema and the
// same behaviour on both.
//
// One CenterStore is one database connection and must be used by the thread
// that opened it only; a server keeps one per worker thread.
#pragma once

#include "store/center.h"
#include "store/changelist.h"

#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

namespace VelmoraServerCore {

class CenterStore
{
public:
    struct Settings
    {
        // A file path for SQLite (created on first use), or a PostgreSQL
        // address (see PostgresAddress).
        QString database;
        // How long a writer waits for a SQLite database that another writer
        // holds before the request fails as unavailable.
        int busyTimeoutMs = 5000;
        // SQLite: false syncs the write-ahead log to disk at checkpoints only
        // (synchronous=NORMAL): faster small commits, but a commit already
        // reported as saved can be lost when the machine loses power.
        bool syncEveryCommit = true;
        // PostgreSQL: how long a statement may run or wait for a lock, and
        // a session of ours may sit idle in a transaction, before the
        // database gives up on it; also how long the connection may stay
        // silent before it counts as broken (TCP keepalives and
        // tcp_user_timeout, unless the address sets them).
        std::chrono::seconds timeout{5};
    };

    enum class ErrorKind {
        None,
        Refused,     // the change names something the database does not allow (a 409)
        Unavailable, // the database cannot be reached or is busy; nothing was changed (a 503)
        Failed,      // anything else before COMMIT; nothing was changed (a 500)
        // COMMIT was sent but its answer never came (the connection broke):
        // the change may or may not be stored. Sending the same changes
        // again is safe, reloading shows which (a 503).
        OutcomeUnknown,
    };

    struct Error
    {
        ErrorKind kind = ErrorKind::None;
        QString message;
        // The change of a ChangeList the error is about, counted from 1;
        // 0 when it is about none in particular.
        int change = 0;
    };

    struct Outcome
    {
        int added = 0;
        int removed = 0;
    };

    // Where the catalogue of the active centers is kept between requests,
    // by the database's count of changes to "Center" it was read at. The
    // store asks it while it reads a document, and reads the centers only
    // for a count whose catalogue is not kept.
    class CatalogueKeeper
    {
    public:
        virtual ~CatalogueKeeper() = default;
        // Whether the catalogue of version is kept (and from now on the one
        // this request uses).
        virtual bool holds(qint64 version) = 0;
        // The catalogue of version (none: the database keeps no count),
        // made from the active centers, ascending, that read() gives in the
        // snapshot of the assignments; false when read() failed.
        virtual bool obtain(std::optional<qint64> version, const std::function<bool(QList<Center> *)> &read) = 0;
    };

    explicit CenterStore(Settings settings);
    virtual ~CenterStore();
    CenterStore(const CenterStore &) = delete;
    CenterStore &operator=(const CenterStore &) = delete;

    // Opens the connection if it is not open. Every operation below calls it
    // itself, and reopens a connection that was lost (a restarted
    // PostgreSQL) once before it gives up.
    bool open(Error *error);
    void close();
    bool isPostgres() const;

    // Creates the tables (and the PostgreSQL schema named in the address)
    // when they do not exist yet.
    bool ensureSchema(Error *error);

    bool centerCount(int *count, Error *error);
    // Adds or replaces centers, in one transaction.
    bool putCenters(const QList<Center> &centers, Error *error);
    // Fills an empty database with the sample data of SampleData; refuses a
    // database that already holds centers.
    bool seedSample(Error *error);

    bool centerLists(qint32 employee, CenterLists *lists, Error *error);
    // What the employee's document is made of, read in one snapshot of the
    // database: the IDs of every center assigned to the employee,
    // ascending, and the catalogue of the active centers, which catalogue
    // keeps (see CatalogueKeeper).
    bool document(qint32 employee, CatalogueKeeper &catalogue, QList<qint32> *assigned, Error *error);
    // The IDs of every center assigned to the employee, active or not,
    // ascending.
    bool assignedCenters(qint32 employee, QList<qint32> *centers, Error *error);

    // Applies every change of the list in order, in one transaction: either
    // all of them take effect or none does. Commits for one employee take
    // turns (on PostgreSQL under an advisory lock on the employee), so any
    // two leave what one after the other would. Assigning an existing
    // assignment and removing a missing one change nothing. Assigning a
    // center that is not active (or does not exist) refuses the whole list,
    // naming the change.
    bool apply(const ChangeList &changes, Outcome *outcome, Error *error);

    // The time by which the current request's work must be done: a
    // transaction that would begin later fails as Unavailable without
    // reaching the database, and on PostgreSQL one that begins before it
    // waits for locks and statements only until then. The default,
    // TimePoint::max(), leaves each statement its Settings::timeout.
    using TimePoint = std::chrono::steady_clock::time_point;
    void setDeadline(TimePoint deadline) { m_deadline = deadline; }

protected:
    // Sends COMMIT on db and returns its error (none when it succeeded):
    // the one step a test replaces, to lose COMMIT's answer or to look at
    // the connection as a transaction ends.
    virtual QSqlError sendCommit(QSqlDatabase &db);

private:
    struct Connection;
    template<typename Work>
    bool withConnection(Error *error, Work work);
    bool openConnection(Connection &connection, Error *error);
    bool setUpConnection(Connection &connection, const QString &schema, Error *error);
    bool applyOnSqlite(const ChangeList &changes, Outcome *outcome, Error *error);
    bool applyOnPostgres(const ChangeList &changes, Outcome *outcome, Error *error);
    bool checkActive(const ChangeList &changes, const QList<qint32> &wanted, Error *error);
    bool checkActiveOnPostgres(const ChangeList &changes, const QList<qint32> &wanted, Error *error);
    bool runChanges(const ChangeList &changes, Outcome *outcome, Error *error);
    bool writeEndState(qint32 employee, const QList<qint32> &named, const QSet<qint32> &now, Error *error);
    bool centerListsOnce(qint32 employee, CenterLists *lists, Error *error);
    bool documentOnce(qint32 employee, CatalogueKeeper &catalogue, QList<qint32> *assigned, Error *error);
    // The count of changes to "Center" (none when its row is missing) and
    // the employee's assignments, in one statement and so one snapshot.
    bool catalogueVersion(qint32 employee, std::optional<qint64> *version, QList<qint32> *assigned, Error *error);
    bool readCatalogue(QList<Center> *centers, Error *error);
    // The statement in slot, prepared on first use; nullptr, with the
    // failure of what in *error, when it cannot be.
    QSqlQuery *prepared(std::optional<QSqlQuery> &slot, const QString &sql, const QString &what, Error *error);
    bool begin(Error *error);
    bool commit(Error *error);
    void rollback();
    // Records why query failed, ends it and rolls the transaction back; false.
    bool abandon(QSqlQuery &query, const QString &what, Error *error);
    // False, with the transaction rolled back and the refusal in *error, when
    // an assignment of the list names a center outside active.
    bool allAssignmentsActive(const ChangeList &changes, const QSet<qint32> &active, Error *error);
    Error failure(const QSqlError &sqlError, const QString &what) const;
    // After the last next() of a read: finishes the query; false, with
    // *error, when the rows ended on a failure rather than at their end.
    bool endRead(QSqlQuery &query, const QString &what, Error *error) const;
    bool connectionLost();

    Settings m_settings;
    std::unique_ptr<Connection> m_connection;
    TimePoint m_deadline = TimePoint::max();
};

} // namespace VelmoraServerCore
