// The Designer plugin, loaded from its file as Qt Designer loads it: what it
// puts into the widget box, and a control in design mode that stores what a
// form assigns but never asks a server for anything.
#include <velmora/velmora.h>

#include "pageserver.h"

#include <QPluginLoader>
#include <QSignalSpy>
#include <QtTest>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

using namespace std::chrono_literals;

class TestDesigner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void designModeStoresAndNeverLoads();
};

void TestDesigner::designModeStoresAndNeverLoads()
{
    QPluginLoader loader(QStringLiteral(VELMORA_DESIGNER_PLUGIN));
    auto *plugin = qobject_cast<QDesignerCustomWidgetInterface *>(loader.instance());
    QVERIFY2(plugin, qPrintable(loader.errorString()));
    QCOMPARE(plugin->name(), QStringLiteral("Velmora"));
    QCOMPARE(plugin->toolTip(), QStringLiteral("Velmora Cross Reference"));
    QVERIFY(plugin->domXml().contains(u"displayname=\"Velmora Cross Reference\"") && plugin->domXml().contains(u"<width>583</width>"));
    QVERIFY(!plugin->icon().isNull() && plugin->includeFile() == u"velmora/velmora.h");

    PageServer page;
    page.answer(false, {200, centerDocument({{"1", "A"}}, {})});
    QWidget form;
    auto *designed = qobject_cast<Velmora *>(plugin->createWidget(&form));
    QVERIFY(designed && designed->metaObject()->className() == QByteArrayLiteral("Velmora"));
    // What the property editor sets, and a host's own calls besides.
    for (const char *name : {"timeout", "employeeID", "serverName"})
        QVERIFY(designed->metaObject()->property(designed->metaObject()->indexOfProperty(name)).isDesignable());
    QVERIFY(designed->setProperty("timeout", 5000) && designed->setProperty("employeeID", QStringLiteral("12")));
    QVERIFY(designed->setProperty("serverName", page.address()));
    designed->setServerName(page.address());
    designed->commit();
    QVERIFY(!designed->isBusy());
    QVERIFY(designed->employeeID() == 12 && designed->timeout() == 5s && designed->serverName() == page.address());

    // Outside Designer the same assignment loads: its request is the only one.
    Velmora running;
    QSignalSpy loaded(&running, &Velmora::loaded);
    running.setProperty("serverName", page.address());
    QVERIFY(loaded.wait(10000));
    QCOMPARE(page.requests(), QStringList{QStringLiteral("GET /Velmora.asp?EmployeeID=0")});
}

QTEST_MAIN(TestDesigner)
#include "tst_designer.moc"
