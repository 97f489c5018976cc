#include "store/centerstore.h"

#include "store/postgresaddress.h"
#include "store/sampledata.h"
#include "store/schema.h"

#include "protocol/limits.h"
#include "protocol/maskedaddress.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <atomic>

namespace VelmoraServerCore {

namespace {

using VelmoraProtocol::MaxCenters;

// The store's connections, retries and failures ("velmora.server.store"),
// at debug level: quiet unless QT_LOGGING_RULES turns it on.
Q_LOGGING_CATEGORY(lcStore, "velmora.server.store", QtWarningMsg)

constexpr auto SelectVersionAndAssigned = R"(SELECT (SELECT max("Version") FROM "CenterCatalogueVersion"), x."CenterID"
    FROM (SELECT 1 AS one) AS v LEFT JOIN "CenterEmployeeCrossReference" x ON x."EmployeeID" = ?
    ORDER BY x."CenterID")";

constexpr auto SelectCatalogue = R"(SELECT "ID", "Name" FROM "Center" WHERE "Active" ORDER BY "ID")";

constexpr auto SelectDocument = R"(SELECT c."ID", c."Name", x."CenterID" IS NOT NULL
    FROM "Center" c LEFT JOIN "CenterEmployeeCrossReference" x
      ON x."CenterID" = c."ID" AND x."EmployeeID" = ?
    WHERE c."Active" ORDER BY c."ID")";

constexpr auto InsertAssignment = R"(INSERT INTO "CenterEmployeeCrossReference"
    ("EmployeeID", "CenterID", "RecordLastUpdated") VALUES (?, ?, ?)
    ON CONFLICT ("EmployeeID", "CenterID") DO NOTHING)";

constexpr auto DeleteAssignment = R"(DELETE FROM "CenterEmployeeCrossReference"
    WHERE "EmployeeID" = ? AND "CenterID" = ?)";

// Commits for one employee take turns under this transaction-scoped lock,
// taken before anything is read. Its two keys are the table (its OID, which
// differs for every schema of the database) and the employee, so that
// servers on other schemas, and commits for other employees, never wait for
// each other. The schema-creation lock above uses the one-key form, whose
// keys PostgreSQL keeps apart from these.
constexpr auto EmployeeLockPg = R"(SELECT pg_advisory_xact_lock(
    '"CenterEmployeeCrossReference"'::regclass::oid::integer, ?::integer))";

// PostgreSQL takes a whole commit in a few statements over arrays of IDs
// rather than one round trip per center.
constexpr auto ActiveAmongPg = R"(SELECT "ID" FROM "Center" WHERE "Active" AND "ID" = ANY(?::integer[]) FOR SHARE)";
constexpr auto ActiveCountPg = R"(SELECT count(*) FROM
    (SELECT 1 FROM "Center" WHERE "Active" AND "ID" = ANY(?::integer[]) FOR SHARE) AS locked)";

constexpr auto AssignedAmongPg = R"(SELECT "CenterID" FROM "CenterEmployeeCrossReference"
    WHERE "EmployeeID" = ? AND "CenterID" = ANY(?::integer[]))";

constexpr auto InsertManyPg = R"(INSERT INTO "CenterEmployeeCrossReference" ("EmployeeID", "CenterID", "RecordLastUpdated")
    SELECT ?, unnest(?::integer[]), ? ON CONFLICT ("EmployeeID", "CenterID") DO NOTHING)";

constexpr auto DeleteManyPg = R"(DELETE FROM "CenterEmployeeCrossReference"
    WHERE "EmployeeID" = ? AND "CenterID" = ANY(?::integer[]))";

// An integer[] literal, "{1,2,3}".
QString arrayLiteral(const QList<qint32> &ids)
{
    QString text;
    text.reserve(ids.size() * 8 + 2);
    text += u'{';
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i)
            text += u',';
        text += QString::number(ids[i]);
    }
    return text + u'}';
}

constexpr auto UpsertCenter = R"(INSERT INTO "Center" ("ID", "Name", "Active") VALUES (?, ?, ?)
    ON CONFLICT ("ID") DO UPDATE SET "Name" = excluded."Name", "Active" = excluded."Active")";

// SQLite checks active centers in batches of this many IDs with one prepared
// statement (short batches are padded by repeating an ID), so a large commit
// costs a few queries rather than one per insert.
constexpr int ActiveCheckBatch = 256;

// SQLite: no row locks are needed, its writer holds the whole database
// already (BEGIN IMMEDIATE).
QString activeCheckSql()
{
    QString placeholders;
    for (int i = 0; i < ActiveCheckBatch; ++i)
        placeholders += (i ? QStringLiteral(",?") : QStringLiteral("?"));
    return QStringLiteral(R"(SELECT "ID" FROM "Center" WHERE "Active" AND "ID" IN ()") + placeholders + u')';
}

std::atomic<quint64> connectionCounter{0};

CenterStore::Error tooManyCenters()
{
    return {CenterStore::ErrorKind::Failed,
            QStringLiteral("more than %1 active centers: too many for one document").arg(MaxCenters)};
}

// The centers the list assigns, each once, in their order; and, when named
// is given, every center the list names, each once.
void collectCenters(const ChangeList &changes, QList<qint32> *wanted, QList<qint32> *named)
{
    QSet<qint32> seenWanted;
    QSet<qint32> seenNamed;
    auto note = [](QSet<qint32> &seen, QList<qint32> *list, qint32 id) {
        if (list && !seen.contains(id)) {
            seen.insert(id);
            list->append(id);
        }
    };
    for (const ChangeList::Change &change : changes.changes) {
        if (const auto *assign = std::get_if<ChangeList::Assign>(&change)) {
            note(seenWanted, wanted, assign->center);
            note(seenNamed, named, assign->center);
        } else {
            for (qint32 center : std::get<ChangeList::Remove>(change).centers)
                note(seenNamed, named, center);
        }
    }
}

// The changes played over the assignments in now, in order: the counts that
// running them one by one gives, and in now what they leave.
CenterStore::Outcome play(const ChangeList &changes, QSet<qint32> &now)
{
    CenterStore::Outcome result;
    for (const ChangeList::Change &change : changes.changes) {
        if (const auto *assign = std::get_if<ChangeList::Assign>(&change)) {
            if (!now.contains(assign->center)) {
                now.insert(assign->center);
                ++result.added;
            }
        } else {
            for (qint32 center : std::get<ChangeList::Remove>(change).centers)
                result.removed += now.remove(center) ? 1 : 0;
        }
    }
    return result;
}

// The IDs a query returns in its first column; the query is finished.
QSet<qint32> idsOf(QSqlQuery &query)
{
    QSet<qint32> result;
    while (query.next())
        result.insert(query.value(0).toInt());
    query.finish();
    return result;
}

// What every new connection runs first.
QStringList setupStatements(bool postgres, const QString &schema, const CenterStore::Settings &settings)
{
    QStringList setup;
    if (!postgres) {
        // WAL lets readers go on while one writer commits. FULL syncs the log
        // at every commit, so that a commit answered as saved survives a
        // power loss; NORMAL syncs at checkpoints only, which survives a
        // crash of the program but not of the machine.
        return setup << QStringLiteral("PRAGMA journal_mode=WAL")
                     << (settings.syncEveryCommit ? QStringLiteral("PRAGMA synchronous=FULL")
                                                  : QStringLiteral("PRAGMA synchronous=NORMAL"))
                     << QStringLiteral("PRAGMA foreign_keys=ON");
    }
    // Notices ("already exists, skipping") are not worth a log line.
    setup << QStringLiteral("SET client_min_messages TO WARNING") << QStringLiteral("SET TIME ZONE 'UTC'");
    // No statement, lock wait or forgotten transaction of ours outlasts
    // the time-out (a transaction with a deadline shortens the first
    // two, see begin()).
    const auto ms = std::chrono::milliseconds(settings.timeout).count();
    for (const char *setting : {"lock_timeout", "statement_timeout", "idle_in_transaction_session_timeout"})
        setup << QStringLiteral("SET %1 = %2").arg(QLatin1String(setting)).arg(ms);
    if (!schema.isEmpty()) {
        setup << Schema::creationLock("pg_advisory_lock")
              << QStringLiteral(R"(CREATE SCHEMA IF NOT EXISTS "%1")").arg(schema)
              << Schema::creationLock("pg_advisory_unlock")
              << QStringLiteral(R"(SET search_path TO "%1")").arg(schema);
    }
    return setup;
}

} // namespace

struct CenterStore::Connection
{
    QString name;
    QSqlDatabase db;
    bool postgres = false;
    // Prepared once per connection and reused by every request.
    std::optional<QSqlQuery> document;
    std::optional<QSqlQuery> insert;
    std::optional<QSqlQuery> remove;
    std::optional<QSqlQuery> activeCheck;
    std::optional<QSqlQuery> activeCount;
    std::optional<QSqlQuery> assignedAmong;
    std::optional<QSqlQuery> insertMany;
    std::optional<QSqlQuery> removeMany;
    std::optional<QSqlQuery> employeeLock;
    std::optional<QSqlQuery> versionAndAssigned;
    std::optional<QSqlQuery> catalogue;

    ~Connection()
    {
        versionAndAssigned.reset();
        catalogue.reset();
        employeeLock.reset();
        assignedAmong.reset();
        activeCount.reset();
        insertMany.reset();
        removeMany.reset();
        document.reset();
        insert.reset();
        remove.reset();
        activeCheck.reset();
        if (db.isValid())
            db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }

    // The statement in slot, prepared on first use; nullptr (slot left
    // empty) when it cannot be prepared.
    QSqlQuery *prepared(std::optional<QSqlQuery> &slot, const QString &sql, QSqlError *error)
    {
        if (!slot) {
            QSqlQuery query(db);
            // Forward-only spares SQLite's driver a copy of every row; Qt's
            // PostgreSQL driver instead fetches such a result one row per
            // message, which costs more than the whole result at once.
            query.setForwardOnly(!postgres);
            if (!query.prepare(sql)) {
                *error = query.lastError();
                return nullptr;
            }
            slot.emplace(std::move(query));
        }
        return &*slot;
    }
};

CenterStore::CenterStore(Settings settings) : m_settings(std::move(settings)) {}

CenterStore::~CenterStore() = default;

bool CenterStore::isPostgres() const
{
    return PostgresAddress::isPostgres(m_settings.database);
}

bool CenterStore::open(Error *error)
{
    if (m_connection && m_connection->db.isOpen())
        return true;
    m_connection.reset();
    auto connection = std::make_unique<Connection>();
    connection->name = QStringLiteral("velmora-store-%1").arg(++connectionCounter);
    connection->postgres = isPostgres();
    if (!openConnection(*connection, error)) {
        qCDebug(lcStore) << "cannot open" << connection->name << "-" << error->message;
        return false;
    }
    qCDebug(lcStore) << "opened" << connection->name << "to" << VelmoraProtocol::maskedAddress(m_settings.database);
    m_connection = std::move(connection);
    return true;
}

bool CenterStore::openConnection(Connection &connection, Error *error)
{
    const QString driver = connection.postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = {ErrorKind::Failed, QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver)};
        return false;
    }
    connection.db = QSqlDatabase::addDatabase(driver, connection.name);
    PostgresAddress address;
    if (connection.postgres) {
        QString reason;
        if (!PostgresAddress::parse(m_settings.database, m_settings.timeout, &address, &reason)) {
            *error = {ErrorKind::Failed, reason};
            return false;
        }
        connection.db.setHostName(address.host);
        connection.db.setPort(address.port);
        connection.db.setUserName(address.user);
        connection.db.setPassword(address.password);
        connection.db.setDatabaseName(address.database);
        connection.db.setConnectOptions(address.options);
    } else {
        // SQLite creates the file but not its directory, and says only
        // "out of memory" when that is missing.
        const QDir dir = QFileInfo(m_settings.database).absoluteDir();
        if (m_settings.database.isEmpty() || !dir.exists()) {
            *error = {ErrorKind::Failed, m_settings.database.isEmpty()
                          ? QStringLiteral("no database given")
                          : QStringLiteral("cannot create the database %1: the directory %2 does not exist (create "
                                           "it first)")
                                .arg(m_settings.database, QDir::toNativeSeparators(dir.path()))};
            return false;
        }
        connection.db.setDatabaseName(m_settings.database);
        connection.db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_settings.busyTimeoutMs));
    }
    if (!connection.db.open()) {
        *error = {ErrorKind::Unavailable, QStringLiteral("cannot open the database %1: %2")
                                              .arg(VelmoraProtocol::maskedAddress(m_settings.database),
                                                   connection.db.lastError().text())};
        return false;
    }
    return setUpConnection(connection, address.schema, error);
}

bool CenterStore::setUpConnection(Connection &connection, const QString &schema, Error *error)
{
    // Connections that open a new SQLite file at once can find it busy while
    // another one turns on WAL, and SQLite does not wait for that by itself:
    // such a step is tried again within the busy time-out.
    const QDeadlineTimer deadline(m_settings.busyTimeoutMs);
    for (const QString &sql : setupStatements(connection.postgres, schema, m_settings)) {
        QSqlQuery query(connection.db);
        while (!query.exec(sql)) {
            *error = failure(query.lastError(), QStringLiteral("setting up the connection"));
            if (connection.postgres || error->kind != ErrorKind::Unavailable || deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
    }
    return true;
}

void CenterStore::close()
{
    m_connection.reset();
}

CenterStore::Error CenterStore::failure(const QSqlError &sqlError, const QString &what) const
{
    const QString text = QStringLiteral("database error while %1: %2").arg(what, sqlError.text());
    const QString code = sqlError.nativeErrorCode();
    if (isPostgres()) {
        // Connection exceptions (08), operator intervention such as a
        // shutdown (57P), insufficient resources (53), our own time-outs
        // (a lock wait: 55P03, a statement: 57014, an idle transaction:
        // 25P03) and losing to another transaction (40001, 40P01) pass with
        // time.
        static const QRegularExpression passing(QStringLiteral("^(08|57P|53|55P03|57014|25P03|40001|40P01)"));
        if (sqlError.type() == QSqlError::ConnectionError || passing.match(code).hasMatch())
            return {ErrorKind::Unavailable, text};
        return {ErrorKind::Failed, text};
    }
    bool isNumber = false;
    const int primary = code.toInt(&isNumber) & 0xff;
    constexpr int SqliteBusy = 5;
    constexpr int SqliteLocked = 6;
    if (isNumber && (primary == SqliteBusy || primary == SqliteLocked))
        return {ErrorKind::Unavailable, QStringLiteral("the database is busy with another writer; try again")};
    return {ErrorKind::Failed, text};
}

bool CenterStore::connectionLost()
{
    if (!m_connection || !m_connection->postgres)
        return false;
    QSqlQuery probe(m_connection->db);
    return !probe.exec(QStringLiteral("SELECT 1"));
}

template<typename Work>
bool CenterStore::withConnection(Error *error, Work work)
{
    // A PostgreSQL server that restarted leaves a connection that looks open
    // but fails; each operation is one transaction, so running it again on a
    // fresh connection is safe.
    for (int attempt = 0;; ++attempt) {
        if (!open(error))
            return false;
        if (work())
            return true;
        // After a lost answer to COMMIT the work may have been applied: the
        // caller says so instead of running it again.
        if (error->kind == ErrorKind::OutcomeUnknown)
            close();
        if (error->kind == ErrorKind::Refused || error->kind == ErrorKind::OutcomeUnknown || !connectionLost())
            return false;
        qCDebug(lcStore) << "lost the connection" << m_connection->name << "-" << error->message
                         << (attempt > 0 ? "; giving up" : "; trying a fresh one");
        close();
        // Lost again on a fresh connection: the database is not there for
        // now, whatever the driver made of the broken connection.
        if (attempt > 0) {
            error->kind = ErrorKind::Unavailable;
            return false;
        }
    }
}

bool CenterStore::begin(Error *error)
{
    QString sql = m_connection->postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE");
    if (m_deadline != TimePoint::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            *error = {ErrorKind::Unavailable, QStringLiteral("the request's time for the database had passed before "
                                                             "its transaction began")};
            return false;
        }
        // In the same round trip as BEGIN; both end with the transaction.
        if (m_connection->postgres && left < m_settings.timeout)
            sql += QStringLiteral("; SET LOCAL lock_timeout = %1; SET LOCAL statement_timeout = %1").arg(left.count());
    }
    QSqlQuery query(m_connection->db);
    // IMMEDIATE takes SQLite's write lock up front, so a busy database is
    // waited for here (up to the busy time-out) instead of failing midway.
    if (!query.exec(sql)) {
        *error = failure(query.lastError(), QStringLiteral("starting a transaction"));
        return false;
    }
    return true;
}

QSqlError CenterStore::sendCommit(QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("COMMIT")) ? QSqlError() : query.lastError();
}

bool CenterStore::commit(Error *error)
{
    const QSqlError sqlError = sendCommit(m_connection->db);
    if (!sqlError.isValid())
        return true;
    *error = failure(sqlError, QStringLiteral("committing"));
    // Only a refusal that PostgreSQL raises before it writes the commit
    // record proves the transaction rolled back: a deferred constraint or
    // trigger failing (classes 22, 23, 42, 44, P0), a serialization failure
    // or deadlock (40), an invalid transaction state (25), a lock or
    // statement time-out (55, 57014). Anything else (no answer, a shutdown,
    // an internal error such as XX000, an I/O or resource failure) may come
    // after it: COMMIT may have been applied. SQLite's busy writer leaves
    // the transaction open, to be rolled back here.
    static const QRegularExpression beforeCommitRecord(QStringLiteral("^(22|23|25|40|42|44|55|57014|P0)"));
    const bool refused = isPostgres()
        ? sqlError.type() != QSqlError::ConnectionError && beforeCommitRecord.match(sqlError.nativeErrorCode()).hasMatch()
        : error->kind == ErrorKind::Unavailable;
    qCDebug(lcStore) << "COMMIT failed" << (refused ? "before its commit record" : "with its outcome unknown") << "-"
                     << sqlError.text();
    if (!refused)
        *error = {ErrorKind::OutcomeUnknown,
                  QStringLiteral("COMMIT got no clear answer, the change may or may not be stored: %1").arg(sqlError.text())};
    rollback();
    return false;
}

bool CenterStore::allAssignmentsActive(const ChangeList &changes, const QSet<qint32> &active, Error *error)
{
    for (qsizetype i = 0; i < changes.changes.size(); ++i) {
        const auto *assign = std::get_if<ChangeList::Assign>(&changes.changes[i]);
        if (assign && !active.contains(assign->center)) {
            rollback();
            *error = {ErrorKind::Refused, QStringLiteral("center %1 is not an active center").arg(assign->center),
                      int(i) + 1};
            return false;
        }
    }
    return true;
}

bool CenterStore::abandon(QSqlQuery &query, const QString &what, Error *error)
{
    *error = failure(query.lastError(), what);
    query.finish();
    rollback();
    return false;
}

void CenterStore::rollback()
{
    QSqlQuery query(m_connection->db);
    query.exec(QStringLiteral("ROLLBACK"));
}

bool CenterStore::ensureSchema(Error *error)
{
    return withConnection(error, [&] {
        if (!begin(error))
            return false;
        QStringList statements;
        if (m_connection->postgres)
            statements << Schema::creationLock("pg_advisory_xact_lock");
        statements << Schema::creation(m_connection->postgres);
        for (const QString &sql : std::as_const(statements)) {
            QSqlQuery query(m_connection->db);
            if (!query.exec(sql)) {
                *error = failure(query.lastError(), QStringLiteral("creating the tables"));
                rollback();
                return false;
            }
        }
        return commit(error);
    });
}

bool CenterStore::centerCount(int *count, Error *error)
{
    return withConnection(error, [&] {
        QSqlQuery query(m_connection->db);
        if (!query.exec(QStringLiteral(R"(SELECT COUNT(*) FROM "Center")")) || !query.next()) {
            *error = failure(query.lastError(), QStringLiteral("counting the centers"));
            return false;
        }
        *count = query.value(0).toInt();
        return true;
    });
}

bool CenterStore::putCenters(const QList<Center> &centers, Error *error)
{
    return withConnection(error, [&] {
        if (!begin(error))
            return false;
        QSqlQuery query(m_connection->db);
        if (!query.prepare(QString::fromLatin1(UpsertCenter))) {
            *error = failure(query.lastError(), QStringLiteral("preparing to store centers"));
            rollback();
            return false;
        }
        for (const Center &center : centers) {
            query.bindValue(0, center.id);
            query.bindValue(1, center.name);
            query.bindValue(2, center.active);
            if (!query.exec()) {
                *error = failure(query.lastError(), QStringLiteral("storing center %1").arg(center.id));
                rollback();
                return false;
            }
        }
        return commit(error);
    });
}

bool CenterStore::seedSample(Error *error)
{
    return withConnection(error, [&] {
        if (!begin(error))
            return false;
        auto fail = [&](const QSqlQuery &query, const QString &what) {
            *error = failure(query.lastError(), what);
            rollback();
            return false;
        };
        QSqlQuery count(m_connection->db);
        if (!count.exec(QStringLiteral(R"(SELECT COUNT(*) FROM "Center")")) || !count.next())
            return fail(count, QStringLiteral("counting the centers"));
        if (const int existing = count.value(0).toInt(); existing > 0) {
            count.finish();
            rollback();
            *error = {ErrorKind::Refused,
                      QStringLiteral("the database already holds %1 centers; only an empty database is seeded")
                          .arg(existing)};
            return false;
        }
        count.finish();

        QSqlQuery center(m_connection->db);
        if (!center.prepare(QString::fromLatin1(UpsertCenter)))
            return fail(center, QStringLiteral("preparing the sample centers"));
        for (const Center &c : SampleData::centers()) {
            center.bindValue(0, c.id);
            center.bindValue(1, c.name);
            center.bindValue(2, c.active);
            if (!center.exec())
                return fail(center, QStringLiteral("storing sample center %1").arg(c.id));
        }
        QSqlQuery assign(m_connection->db);
        if (!assign.prepare(QString::fromLatin1(InsertAssignment)))
            return fail(assign, QStringLiteral("preparing the sample assignments"));
        const QDateTime stamp = QDateTime::currentDateTimeUtc();
        for (const auto &[employee, centerId] : SampleData::assignments()) {
            assign.bindValue(0, employee);
            assign.bindValue(1, centerId);
            assign.bindValue(2, stamp);
            if (!assign.exec())
                return fail(assign, QStringLiteral("storing a sample assignment"));
        }
        return commit(error);
    });
}

bool CenterStore::centerLists(qint32 employee, CenterLists *lists, Error *error)
{
    return withConnection(error, [&] { return centerListsOnce(employee, lists, error); });
}

bool CenterStore::centerListsOnce(qint32 employee, CenterLists *lists, Error *error)
{
    QSqlQuery *document = prepared(m_connection->document, QString::fromLatin1(SelectDocument),
                                   QStringLiteral("preparing the center document"), error);
    if (!document)
        return false;
    QSqlQuery &query = *document;
    query.bindValue(0, employee);
    if (!query.exec()) {
        *error = failure(query.lastError(), QStringLiteral("reading the centers"));
        query.finish();
        return false;
    }
    CenterLists result;
    int total = 0;
    while (query.next()) {
        if (++total > MaxCenters) {
            query.finish();
            *error = tooManyCenters();
            return false;
        }
        Center center{query.value(0).toInt(), query.value(1).toString(), true};
        (query.value(2).toBool() ? result.selected : result.nonSelected).append(std::move(center));
    }
    if (!endRead(query, QStringLiteral("reading the centers"), error))
        return false;
    *lists = std::move(result);
    return true;
}

bool CenterStore::endRead(QSqlQuery &query, const QString &what, Error *error) const
{
    // A row that could not be fetched ends next() as the last row does:
    // only the query's error tells the two apart.
    const QSqlError readError = query.lastError();
    query.finish();
    if (readError.isValid()) {
        *error = failure(readError, what);
        return false;
    }
    return true;
}

QSqlQuery *CenterStore::prepared(std::optional<QSqlQuery> &slot, const QString &sql, const QString &what,
                                  Error *error)
{
    QSqlError prepareError;
    QSqlQuery *query = m_connection->prepared(slot, sql, &prepareError);
    if (!query)
        *error = failure(prepareError, what);
    return query;
}

bool CenterStore::document(qint32 employee, CatalogueKeeper &catalogue, QList<qint32> *assigned, Error *error)
{
    return withConnection(error, [&] { return documentOnce(employee, catalogue, assigned, error); });
}

bool CenterStore::documentOnce(qint32 employee, CatalogueKeeper &catalogue, QList<qint32> *assigned, Error *error)
{
    std::optional<qint64> version;
    if (!catalogueVersion(employee, &version, assigned, error))
        return false;
    if (version && catalogue.holds(*version))
        return true;
    // The centers changed since the kept catalogue was read, or none is kept:
    // they are read with the count and the assignments in one snapshot, so
    // that the catalogue is the one of its count.
    QSqlQuery begin(m_connection->db);
    if (!begin.exec(m_connection->postgres ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                                           : QStringLiteral("BEGIN"))) {
        *error = failure(begin.lastError(), QStringLiteral("starting a transaction"));
        return false;
    }
    bool read = catalogueVersion(employee, &version, assigned, error);
    qCDebug(lcStore) << "reading the catalogue of centers at version" << (version ? *version : -1);
    if (read)
        read = catalogue.obtain(version, [&](QList<Center> *centers) { return readCatalogue(centers, error); });
    rollback();
    return read;
}

bool CenterStore::catalogueVersion(qint32 employee, std::optional<qint64> *version, QList<qint32> *assigned,
                                   Error *error)
{
    QSqlQuery *query = prepared(m_connection->versionAndAssigned, QString::fromLatin1(SelectVersionAndAssigned),
                                QStringLiteral("preparing the center document"), error);
    if (!query)
        return false;
    query->bindValue(0, employee);
    if (!query->exec()) {
        *error = failure(query->lastError(), QStringLiteral("reading the assignments"));
        query->finish();
        return false;
    }
    version->reset();
    assigned->clear();
    while (query->next()) {
        if (!query->isNull(0))
            *version = query->value(0).toLongLong();
        if (!query->isNull(1))
            assigned->append(query->value(1).toInt());
    }
    if (!endRead(*query, QStringLiteral("reading the assignments"), error))
        return false;
    return true;
}

bool CenterStore::readCatalogue(QList<Center> *centers, Error *error)
{
    QSqlQuery *query = prepared(m_connection->catalogue, QString::fromLatin1(SelectCatalogue),
                                QStringLiteral("preparing the center document"), error);
    if (!query)
        return false;
    if (!query->exec()) {
        *error = failure(query->lastError(), QStringLiteral("reading the centers"));
        query->finish();
        return false;
    }
    while (query->next()) {
        if (centers->size() == MaxCenters) {
            query->finish();
            *error = tooManyCenters();
            return false;
        }
        centers->append({query->value(0).toInt(), query->value(1).toString(), true});
    }
    if (!endRead(*query, QStringLiteral("reading the centers"), error))
        return false;
    return true;
}

bool CenterStore::assignedCenters(qint32 employee, QList<qint32> *centers, Error *error)
{
    return withConnection(error, [&] {
        QSqlQuery query(m_connection->db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral(R"(SELECT "CenterID" FROM "CenterEmployeeCrossReference"
                                        WHERE "EmployeeID" = ? ORDER BY "CenterID")"));
        query.bindValue(0, employee);
        if (!query.exec()) {
            *error = failure(query.lastError(), QStringLiteral("reading the assignments"));
            return false;
        }
        centers->clear();
        while (query.next())
            centers->append(query.value(0).toInt());
        return true;
    });
}

bool CenterStore::apply(const ChangeList &changes, Outcome *outcome, Error *error)
{
    return withConnection(error, [&] {
        return m_connection->postgres ? applyOnPostgres(changes, outcome, error)
                                      : applyOnSqlite(changes, outcome, error);
    });
}

// PostgreSQL takes a whole commit in a few statements over arrays of IDs
// rather than one round trip per center.
bool CenterStore::applyOnPostgres(const ChangeList &changes, Outcome *outcome, Error *error)
{
    Connection &c = *m_connection;
    const std::pair<std::optional<QSqlQuery> *, const char *> statements[] = {
        {&c.employeeLock, EmployeeLockPg}, {&c.activeCount, ActiveCountPg}, {&c.activeCheck, ActiveAmongPg},
        {&c.assignedAmong, AssignedAmongPg}, {&c.insertMany, InsertManyPg}, {&c.removeMany, DeleteManyPg}};
    for (const auto &[slot, sql] : statements) {
        if (!prepared(*slot, QString::fromLatin1(sql), QStringLiteral("preparing a statement"), error))
            return false;
    }
    // The centers to assign (each once) and every center the list names.
    QList<qint32> wanted;
    QList<qint32> named;
    collectCenters(changes, &wanted, &named);

    if (!begin(error))
        return false;
    c.employeeLock->bindValue(0, changes.employee);
    if (!c.employeeLock->exec())
        return abandon(*c.employeeLock, QStringLiteral("waiting for the employee's other commits"), error);
    c.employeeLock->finish();
    if (!checkActiveOnPostgres(changes, wanted, error))
        return false;

    // The employee's assignments among the named centers, which no other
    // commit changes until ours ends (the lock); the changes are played
    // over them in order for the counts that running them one by one gives.
    c.assignedAmong->bindValue(0, changes.employee);
    c.assignedAmong->bindValue(1, arrayLiteral(named));
    if (!c.assignedAmong->exec())
        return abandon(*c.assignedAmong, QStringLiteral("reading the assignments"), error);
    QSet<qint32> now = idsOf(*c.assignedAmong);
    const Outcome result = play(changes, now);
    if (!writeEndState(changes.employee, named, now, error) || !commit(error))
        return false;
    *outcome = result;
    return true;
}

// Every center to be assigned must be active; the rows stay locked until
// the commit, so none is switched off meanwhile. Counting them is enough
// when all are; only a refusal needs to know which are not.
bool CenterStore::checkActiveOnPostgres(const ChangeList &changes, const QList<qint32> &wanted, Error *error)
{
    if (wanted.isEmpty())
        return true;
    QSqlQuery &activeCount = *m_connection->activeCount;
    QSqlQuery &activeAmong = *m_connection->activeCheck;
    const QString wantedIds = arrayLiteral(wanted);
    activeCount.bindValue(0, wantedIds);
    if (!activeCount.exec() || !activeCount.next())
        return abandon(activeCount, QStringLiteral("checking the centers"), error);
    const bool allActive = activeCount.value(0).toLongLong() == wanted.size();
    activeCount.finish();
    if (allActive)
        return true;
    activeAmong.bindValue(0, wantedIds);
    if (!activeAmong.exec())
        return abandon(activeAmong, QStringLiteral("checking the centers"), error);
    return allAssignmentsActive(changes, idsOf(activeAmong), error);
}

// Each named center ends as the last change naming it leaves it; that end
// state is written whatever was read, so a row that changed behind the
// lock's back (a hand-made edit) cannot make it wrong.
bool CenterStore::writeEndState(qint32 employee, const QList<qint32> &named, const QSet<qint32> &now, Error *error)
{
    QList<qint32> toInsert;
    QList<qint32> toRemove;
    for (qint32 center : named)
        (now.contains(center) ? toInsert : toRemove).append(center);
    QSqlQuery &insertMany = *m_connection->insertMany;
    QSqlQuery &removeMany = *m_connection->removeMany;
    if (!toInsert.isEmpty()) {
        insertMany.bindValue(0, employee);
        insertMany.bindValue(1, arrayLiteral(toInsert));
        insertMany.bindValue(2, QDateTime::currentDateTimeUtc());
        if (!insertMany.exec())
            return abandon(insertMany, QStringLiteral("adding %1 centers").arg(toInsert.size()), error);
        insertMany.finish();
    }
    if (!toRemove.isEmpty()) {
        removeMany.bindValue(0, employee);
        removeMany.bindValue(1, arrayLiteral(toRemove));
        if (!removeMany.exec())
            return abandon(removeMany, QStringLiteral("removing %1 centers").arg(toRemove.size()), error);
        removeMany.finish();
    }
    return true;
}

bool CenterStore::applyOnSqlite(const ChangeList &changes, Outcome *outcome, Error *error)
{
    Connection &c = *m_connection;
    const QString what = QStringLiteral("preparing a statement");
    if (!prepared(c.insert, QString::fromLatin1(InsertAssignment), what, error)
        || !prepared(c.remove, QString::fromLatin1(DeleteAssignment), what, error)
        || !prepared(c.activeCheck, activeCheckSql(), what, error) || !begin(error)) {
        return false;
    }
    QList<qint32> wanted;
    collectCenters(changes, &wanted, nullptr);
    Outcome result;
    if (!checkActive(changes, wanted, error) || !runChanges(changes, &result, error))
        return false;
    c.insert->finish();
    c.remove->finish();
    if (!commit(error))
        return false;
    *outcome = result;
    return true;
}

// Every center to be assigned must be active, checked in batches.
bool CenterStore::checkActive(const ChangeList &changes, const QList<qint32> &wanted, Error *error)
{
    QSqlQuery &activeCheck = *m_connection->activeCheck;
    QSet<qint32> active;
    for (qsizetype first = 0; first < wanted.size(); first += ActiveCheckBatch) {
        for (int i = 0; i < ActiveCheckBatch; ++i) {
            const qsizetype index = std::min(first + i, wanted.size() - 1);
            activeCheck.bindValue(i, wanted[index]);
        }
        if (!activeCheck.exec())
            return abandon(activeCheck, QStringLiteral("checking the centers"), error);
        while (activeCheck.next())
            active.insert(activeCheck.value(0).toInt());
        activeCheck.finish();
    }
    return allAssignmentsActive(changes, active, error);
}

// One statement per assignment and per center removed, in order.
bool CenterStore::runChanges(const ChangeList &changes, Outcome *outcome, Error *error)
{
    QSqlQuery &insert = *m_connection->insert;
    QSqlQuery &remove = *m_connection->remove;
    const QDateTime stamp = QDateTime::currentDateTimeUtc();
    for (qsizetype i = 0; i < changes.changes.size(); ++i) {
        const auto fail = [&](QSqlQuery &query, const QString &what) {
            abandon(query, what, error);
            error->change = int(i) + 1;
            return false;
        };
        if (const auto *assign = std::get_if<ChangeList::Assign>(&changes.changes[i])) {
            insert.bindValue(0, changes.employee);
            insert.bindValue(1, assign->center);
            insert.bindValue(2, stamp);
            if (!insert.exec())
                return fail(insert, QStringLiteral("adding center %1").arg(assign->center));
            outcome->added += insert.numRowsAffected() > 0 ? 1 : 0;
            continue;
        }
        // Each center once: a list that names one many times must not hold
        // the write lock for each repetition.
        QSet<qint32> removed;
        for (qint32 center : std::get<ChangeList::Remove>(changes.changes[i]).centers) {
            if (removed.contains(center))
                continue;
            removed.insert(center);
            remove.bindValue(0, changes.employee);
            remove.bindValue(1, center);
            if (!remove.exec())
                return fail(remove, QStringLiteral("removing center %1").arg(center));
            outcome->removed += remove.numRowsAffected() > 0 ? 1 : 0;
        }
    }
    return true;
}

} // namespace VelmoraServerCore
