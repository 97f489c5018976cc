// velmora-server's figures at one size on one database: the document, a
// commit of every center and back, and small commits from 8 clients at once.
#pragma once

#include "report.h"

#include "store/centerstore.h"

#include <QList>
#include <QString>

namespace Bench {

struct ServerOptions
{
    bool quick = false;
    int clients = 8;
    // Each small-commit run lasts this long (and at most MaxSmallCommits
    // requests per client).
    double smallCommitSeconds = 2.0;
};

// backend: the suffix of the row keys ("sqlite", "pg"). database: an address
// that fillDatabase() has filled with centers.
void benchServer(Report &report, const QString &backend, const QString &database,
                 const QList<VelmoraServerCore::Center> &centers, const ServerOptions &options);

} // namespace Bench
