// The whole cycle against a real velmora-server on 127.0.0.1, on SQLite and
// on PostgreSQL: load, move with the mouse, commit from the button, and the
// reload showing what the database now holds; a refused commit keeps the
// changes and its retry goes through.
#include <velmora/velmora.h>

#include "centerstore.h"
#include "controltest.h"
#include "httpserver.h"
#include "testdatabases.h"

#include <QSignalSpy>
#include <QSqlQuery>

using VelmoraServerCore::CenterStore;
using VelmoraServerCore::VelmoraServer;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commitCycle_data();
    void commitCycle();

private:
    QList<qint32> assigned(qint32 employee);
    bool setActive(qint32 center, bool active);
    bool commitFromTheButton(Velmora &control, QMessageBox::Icon icon);

    QString m_address;
};

QList<qint32> TestEndToEnd::assigned(qint32 employee)
{
    CenterStore store({m_address});
    QList<qint32> ids;
    CenterStore::Error error;
    store.assignedCenters(employee, &ids, &error);
    return ids;
}

bool TestEndToEnd::setActive(qint32 center, bool active)
{
    CenterStore store({m_address});
    CenterStore::Error error;
    return store.putCenters({{center, QStringLiteral("Work Center %1").arg(center), active}}, &error);
}

bool TestEndToEnd::commitFromTheButton(Velmora &control, QMessageBox::Icon icon)
{
    QTest::mouseClick(child(control, "cmdCommit"), Qt::LeftButton);
    QMessageBox *box = messageBox(control);
    if (!box || box->icon() != icon)
        return false;
    if (icon == QMessageBox::NoIcon && box->text() != QStringLiteral("Error During saving to Database"))
        return false;
    box->accept();
    return QTest::qWaitFor([&] { return !control.isBusy(); }, 10000);
}

void TestEndToEnd::commitCycle_data()
{
    TestDatabases::addBackendColumn();
    for (const QString &backend : TestDatabases::backends())
        TestDatabases::addBackendRow(backend, QStringLiteral("employee 12 on "));
}

void TestEndToEnd::commitCycle()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    TestDatabases databases;
    m_address = databases.create(backend, QStringLiteral("e2e"));
    {
        CenterStore store({m_address});
        CenterStore::Error error;
        QVERIFY(store.ensureSchema(&error));
        QList<VelmoraServerCore::Center> centers;
        for (int id = 1; id <= 6; ++id)
            centers.append({id, QStringLiteral("Work Center %1").arg(id), id != 6});
        QVERIFY(store.putCenters(centers, &error));
    }
    VelmoraServer::Options options;
    options.port = 0;
    options.database = m_address;
    VelmoraServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    Velmora control;
    control.show();
    QVERIFY(control.setEmployeeID(QStringLiteral("12")));
    control.setServerName(QStringLiteral("http://127.0.0.1:%1").arg(server.port()));
    QTreeView *left = list(control, 0);
    QTreeView *right = list(control, 1);
    QCOMPARE(ids(left), QStringLiteral("1 2 3 4 5")); // inactive center 6 is not offered
    QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 3));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(left, 3));
    QTest::mouseClick(child(control, "cmdAddAll"), Qt::LeftButton);
    QVERIFY(commitFromTheButton(control, QMessageBox::Information));
    QCOMPARE(assigned(12), (QList<qint32>{1, 4, 5}));
    QCOMPARE(ids(right), QStringLiteral("1 4 5"));
    QCOMPARE(enabled(control), QStringLiteral("000000"));

    // Center 3 goes inactive behind the operator's back: the whole commit is
    // refused, the changes stay, and the retry goes through once it is back.
    QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 1));
    QTest::mouseDClick(right->viewport(), Qt::LeftButton, {}, rowPoint(right, 0));
    QVERIFY(setActive(3, false));
    QVERIFY(commitFromTheButton(control, QMessageBox::NoIcon));
    QCOMPARE(assigned(12), (QList<qint32>{1, 4, 5}));
    QCOMPARE(ids(right).remove(u'*'), QStringLiteral("3 4 5"));
    QVERIFY(setActive(3, true));
    QVERIFY(commitFromTheButton(control, QMessageBox::Information));
    QCOMPARE(assigned(12), (QList<qint32>{3, 4, 5}));
    QCOMPARE(ids(left).remove(u'*'), QStringLiteral("1 2"));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
