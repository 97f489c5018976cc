// The data the benchmarks run on: generated work centers (names of realistic
// length with a few accented letters, IDs of six and seven digits) stored in
// a database that velmora-server serves.
#pragma once

#include "store/centerstore.h"

#include <QList>
#include <QString>

namespace Bench {

// n centers with ascending IDs from 100,000 up to about 2,500,000, the same
// every time for the same n.
QList<VelmoraServerCore::Center> generateCenters(int n);

// Employees the benchmarks use. None has an assignment at the start, so the
// control shows every center in the unassigned list.
inline constexpr qint32 LoadEmployee = 1;
inline constexpr qint32 BulkCommitEmployee = 2;
inline constexpr qint32 FirstSmallCommitEmployee = 101;

// Creates the schema in an empty database and stores the centers. For a
// PostgreSQL address with a schema, the schema is dropped first.
bool fillDatabase(const QString &database, const QList<VelmoraServerCore::Center> &centers, QString *error);

// The PostgreSQL address with schema added as its "schema" query item.
QString withSchema(const QString &postgresUrl, const QString &schema);

// Drops the schema named in a PostgreSQL address (and everything in it).
bool dropSchema(const QString &postgresUrlWithSchema, QString *error);

} // namespace Bench
