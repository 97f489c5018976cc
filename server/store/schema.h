// The tables of the server's database, the same on SQLite and PostgreSQL:
// "Center", "CenterEmployeeCrossReference" and the count of changes to
// "Center" that triggers keep in "CenterCatalogueVersion". Every statement
// creates only what is missing, so that a server needs no rights over what
// exists already.
#pragma once

#include <QString>
#include <QStringList>

namespace VelmoraServerCore::Schema {

// The statements that create what is missing, in order, for one database.
QStringList creation(bool postgres);

// Servers that start together on one PostgreSQL database take turns
// creating the schema under an advisory lock: "SELECT function(key)" with
// pg_advisory_lock, pg_advisory_unlock or pg_advisory_xact_lock.
QString creationLock(const char *function);

} // namespace VelmoraServerCore::Schema
