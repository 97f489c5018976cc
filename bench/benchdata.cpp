#include "benchdata.h"

#include "store/postgresaddress.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <array>
#include <random>

namespace Bench {

using VelmoraServerCore::Center;
using VelmoraServerCore::CenterStore;

QList<Center> generateCenters(int n)
{
    static const std::array<const char16_t *, 20> sites = {
        u"Hamburg", u"Zürich", u"São Paulo", u"Monterrey", u"Querétaro", u"Göteborg", u"Lyon",
        u"Milwaukee", u"Pune", u"Ostrava", u"Kraków", u"Besançon", u"Eindhoven", u"Tianjin",
        u"Valladolid", u"Tampere", u"Århus", u"Dortmund", u"Chihuahua", u"Linköping"};
    static const std::array<const char16_t *, 6> areas = {
        u"Plant 1", u"Plant 2", u"Plant 3", u"North Works", u"South Works", u"Site B"};
    static const std::array<const char16_t *, 16> kinds = {
        u"CNC Milling", u"Press Shop", u"Paint Line", u"Final Assembly", u"Heat Treatment",
        u"Quality Lab", u"Injection Moulding", u"Welding Cell", u"Tool Room", u"Packaging",
        u"Shipping", u"Machining Centre", u"Laser Cutting", u"Powder Coating",
        u"Incoming Inspection", u"Maintenance"};

    std::mt19937 random(20240601u + quint32(n));
    // IDs spread over 100,000 .. about 2,500,000: a third have six digits.
    const int meanGap = std::max(1, 2400000 / std::max(1, n));
    std::uniform_int_distribution<int> gap(1, 2 * meanGap - 1);
    std::uniform_int_distribution<int> pick(0, 1 << 20);

    QList<Center> centers;
    centers.reserve(n);
    qint32 id = 100000;
    for (int i = 0; i < n; ++i) {
        id += gap(random);
        const int r = pick(random);
        Center center;
        center.id = id;
        center.name = QStringLiteral("%1 %2 – %3 %4")
                          .arg(QString::fromUtf16(sites[size_t(r % int(sites.size()))]),
                               QString::fromUtf16(areas[size_t((r / 20) % int(areas.size()))]),
                               QString::fromUtf16(kinds[size_t((r / 120) % int(kinds.size()))]))
                          .arg(i % 997 + 1, 3, 10, QLatin1Char('0'));
        center.active = true;
        centers.append(center);
    }
    return centers;
}

QString withSchema(const QString &postgresUrl, const QString &schema)
{
    QUrl url(postgresUrl);
    QUrlQuery query(url);
    query.removeAllQueryItems(QStringLiteral("schema"));
    query.addQueryItem(QStringLiteral("schema"), schema);
    url.setQuery(query);
    return url.toString();
}

bool dropSchema(const QString &postgresUrlWithSchema, QString *error)
{
    const QUrl url(postgresUrlWithSchema);
    const QString schema = QUrlQuery(url).queryItemValue(QStringLiteral("schema"));
    if (schema.isEmpty())
        return true;
    const QString name = QStringLiteral("velmora-bench-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setUserName(url.userName(QUrl::FullyDecoded));
        db.setPassword(url.password(QUrl::FullyDecoded));
        db.setDatabaseName(url.path(QUrl::FullyDecoded).mid(1));
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            ok = query.exec(QStringLiteral(R"(DROP SCHEMA IF EXISTS "%1" CASCADE)").arg(schema));
            if (!ok)
                *error = query.lastError().text();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool fillDatabase(const QString &database, const QList<Center> &centers, QString *error)
{
    if (VelmoraServerCore::PostgresAddress::isPostgres(database) && !dropSchema(database, error))
        return false;
    CenterStore store({database});
    CenterStore::Error storeError;
    int existing = 0;
    if (!store.ensureSchema(&storeError) || !store.centerCount(&existing, &storeError)) {
        *error = storeError.message;
        return false;
    }
    if (existing != 0) {
        *error = QStringLiteral("the database already holds %1 centers").arg(existing);
        return false;
    }
    if (!store.putCenters(centers, &storeError)) {
        *error = storeError.message;
        return false;
    }
    return true;
}

} // namespace Bench
