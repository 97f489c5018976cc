#include "store/schema.h"

namespace VelmoraServerCore::Schema {

namespace {

// Identifiers are quoted everywhere so that PostgreSQL keeps their case and
// both databases show the same names.
constexpr auto CreateCenterTable = R"(CREATE TABLE IF NOT EXISTS "Center" (
    "ID" INTEGER NOT NULL PRIMARY KEY CHECK ("ID" > 0),
    "Name" VARCHAR(200) NOT NULL CHECK ("Name" <> ''),
    "Active" BOOLEAN NOT NULL DEFAULT TRUE))";

constexpr auto CreateCrossReferenceTable = R"(CREATE TABLE IF NOT EXISTS "CenterEmployeeCrossReference" (
    "EmployeeID" INTEGER NOT NULL,
    "CenterID" INTEGER NOT NULL REFERENCES "Center" ("ID"),
    "RecordLastUpdated" TIMESTAMP NOT NULL,
    PRIMARY KEY ("EmployeeID", "CenterID")))";

// Servers that start together on one PostgreSQL database would race to
// create the schema and the tables ("IF NOT EXISTS" does not make the
// creation atomic): they take turns under this advisory lock.
constexpr qint64 SchemaCreationLock = 7310418951238463052;

constexpr auto CreateCenterIndex = R"(CREATE INDEX IF NOT EXISTS "CenterEmployeeCrossReference_CenterID"
    ON "CenterEmployeeCrossReference" ("CenterID"))";

// The count of changes to "Center", one row that triggers raise with every
// change of the table, whoever makes it: this server, another one on the
// same database, or a site's own tool. A server keeps the centers it has
// read for as long as the count stays the same.
constexpr auto CreateVersionTable = R"(CREATE TABLE IF NOT EXISTS "CenterCatalogueVersion" (
    "Version" BIGINT NOT NULL))";
// PostgreSQL counts a transaction once however many statements it runs: a
// row updated again and again in one transaction leaves a version of it
// behind each time, which every later update of it would step over.
constexpr auto CreateVersionTablePg = R"(CREATE TABLE IF NOT EXISTS "CenterCatalogueVersion" (
    "Version" BIGINT NOT NULL, "Transaction" BIGINT))";
constexpr auto InsertVersionRow = R"(INSERT INTO "CenterCatalogueVersion" ("Version")
    SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM "CenterCatalogueVersion"))";

// PostgreSQL: once per statement (TRUNCATE included), also when the table
// is filled by logical replication (ENABLE ALWAYS). The function runs with
// its owner's rights, so that a tool allowed to write "Center" need not be
// allowed to write the count, and names the count's table in the schema of
// the table that changed, whatever the writer's search_path.
// Both are made only when missing, so that a server needs no rights over
// them once they exist.
constexpr auto CreateVersionTriggerPg = R"(DO $do$ BEGIN
    IF to_regprocedure('"CenterCatalogueChanged"()') IS NULL THEN
        CREATE FUNCTION "CenterCatalogueChanged"() RETURNS trigger
            LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $function$
        BEGIN
            EXECUTE format('UPDATE %I."CenterCatalogueVersion" SET "Version" = "Version" + 1, '
                           '"Transaction" = txid_current() WHERE "Transaction" IS DISTINCT FROM txid_current()',
                           TG_TABLE_SCHEMA);
            RETURN NULL;
        END $function$;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_trigger
                   WHERE tgrelid = '"Center"'::regclass AND tgname = 'CenterCatalogueChanged') THEN
        CREATE TRIGGER "CenterCatalogueChanged" AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON "Center"
            FOR EACH STATEMENT EXECUTE FUNCTION "CenterCatalogueChanged"();
        ALTER TABLE "Center" ENABLE ALWAYS TRIGGER "CenterCatalogueChanged";
    END IF;
END $do$)";

// SQLite has row triggers only; they are part of the file, so another
// program writing it raises the count as well.
QStringList versionTriggersSqlite()
{
    QStringList statements;
    for (const char *event : {"Insert", "Update", "Delete"}) {
        statements << QStringLiteral(R"(CREATE TRIGGER IF NOT EXISTS "CenterCatalogue%1" AFTER %2 ON "Center"
            BEGIN UPDATE "CenterCatalogueVersion" SET "Version" = "Version" + 1; END)")
                          .arg(QLatin1String(event), QString::fromLatin1(event).toUpper());
    }
    return statements;
}

} // namespace

QString creationLock(const char *function)
{
    return QStringLiteral("SELECT %1(%2)").arg(QLatin1String(function)).arg(SchemaCreationLock);
}

QStringList creation(bool postgres)
{
    QStringList statements;
    for (const char *sql : {CreateCenterTable, CreateCrossReferenceTable, CreateCenterIndex,
                            postgres ? CreateVersionTablePg : CreateVersionTable, InsertVersionRow})
        statements << QString::fromLatin1(sql);
    if (postgres)
        statements << QString::fromLatin1(CreateVersionTriggerPg);
    else
        statements << versionTriggersSqlite();
    return statements;
}

} // namespace VelmoraServerCore::Schema
