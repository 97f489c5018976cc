// What only the widget shows: its children and their first state, the
// layout at the design font and at a large one, mouse and keyboard on the
// lists, the find panel's keys, the message boxes, the busy pointer, and
// the waits of the synchronous members (deletion, host input meanwhile); and
// the whole cycle against a real velmora-server on SQLite and PostgreSQL:
// load, move with the mouse, commit from the button, the reload showing what
// the database holds, and a refused commit that keeps the changes; over
// HTTPS too, where a certificate the host does not trust fails the load or
// the commit before anything is sent; the texts in the host's language, with
// the commit body the same in every one; and the Qt Designer plugin, whose
// control never touches the network.
#include "store/centerstore.h"
#include "controlfixture.h"
#include "suitechecks.h"
#include "testlines.h"
#include "velmoraserver.h"
#include "http/tlscertificate.h"
#include "testdatabases.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#ifdef VELMORA_DESIGNER_PLUGIN
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#endif
#include <QProgressBar>
#include <QPushButton>
#include <QSslConfiguration>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

using VelmoraServerCore::CenterStore;
using VelmoraServerCore::TlsCertificate;
using VelmoraServerCore::VelmoraServer;

namespace {

QString ids(const QTreeView *view)
{
    QStringList out;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        QString id = view->model()->index(row, 0).data().toString();
        if (view->selectionModel()->isRowSelected(row, {}))
            id += u'*';
        out.append(id);
    }
    return out.join(u' ');
}

QString enabled(const QWidget &control)
{
    QString bits;
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit", "cmdFind"})
        bits += child(control, name)->isEnabled() ? u'1' : u'0';
    return bits;
}

QPoint rowPoint(QTreeView *view, int row)
{
    return view->visualRect(view->model()->index(row, 1)).center();
}

// Drags the rows of from onto onto, as far as the drop; true when onto took
// the drag as it entered.
bool drag(QTreeView *from, QTreeView *onto)
{
    const std::unique_ptr<QMimeData> mime(from->model()->mimeData({}));
    QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QDropEvent drop(QPointF(5, 5), Qt::MoveAction, mime.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(onto->viewport(), &enter);
    QCoreApplication::sendEvent(onto->viewport(), &drop);
    return enter.isAccepted();
}

QMessageBox *messageBox(const QWidget &control)
{
    // A box that was closed goes later; only a shown one counts.
    QMessageBox *box = nullptr;
    const auto shown = [&] {
        for (QMessageBox *candidate : control.findChildren<QMessageBox *>(QStringLiteral("velmoraMessageBox")))
            box = candidate->isVisible() ? candidate : box;
        return box != nullptr;
    };
    return QTest::qWaitFor(shown, 5000) ? box : nullptr;
}

// The body of the commit that assigns center 34 to employee 12.
const char InsertOf34For12[] = "POST /Velmora.asp SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29+VALUES+%2812%2C34%2CGETDATE%28%29+%29+&";

// A host's own translation of the control's texts.
struct HostTranslator : QTranslator
{
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *text, const char *, int) const override { return u'\u00bb' + QString::fromUtf8(text); }
};

} // namespace


class TestControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void layoutAtTheFont_data() { TestTable::load(VELMORA_TABLES "/fonts.txt"); }
    void layoutAtTheFont();
    void mouseKeyboardAndFind_data() { TestTable::load(VELMORA_TABLES "/busy-inputs.txt"); }
    void mouseKeyboardAndFind();
    void commitFromTheButtonLeavesTheHostResponsive_data() { TestTable::load(VELMORA_TABLES "/languages.txt"); }
    void commitFromTheButtonLeavesTheHostResponsive();
    void waitsEndWhenTheControlGoes_data() { TestTable::load(VELMORA_TABLES "/control-goes.txt"); }
    void waitsEndWhenTheControlGoes();
    void commitCycleAgainstVelmoraServer_data() { TestTable::load(VELMORA_TABLES "/commit-cycles.txt"); }
    void commitCycleAgainstVelmoraServer();
#ifdef VELMORA_DESIGNER_PLUGIN
    void designModeStoresAndNeverLoads();
#endif

private:
    bool commitFromTheButton(Velmora &control, QMessageBox::Icon icon);
};

void TestControl::layoutAtTheFont()
{
    QFETCH(int, pointSize);
    Velmora control;
    QFont font = control.font();
    font.setPointSize(pointSize);
    control.setFont(font);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QTreeView *left = list(control, 0);
    if (pointSize == 8) {
        // The design's places, columns and first state.
        QVERIFY(qAbs(control.width() - 583) <= 6 && qAbs(control.height() - 348) <= 20);
        QVERIFY(qAbs(left->mapTo(&control, QPoint()).y() - 24) <= 6);
        QVERIFY(left->geometry().right() < child(control, "cmdAdd")->geometry().right() && child(control, "cmdAdd")->geometry().right() < list(control, 1)->geometry().left() + 4);
        QVERIFY(left->header()->sectionSize(0) == 53 && left->isColumnHidden(2));
        QCOMPARE(enabled(control), QStringLiteral("000000"));
        QVERIFY(!child<QProgressBar>(control, "prbLoad")->isVisible());
        QCOMPARE(left->accessibleName(), QStringLiteral("Non Selected Active Centers"));
        // The first focus goes past disabled and read-only widgets.
        QWidget *first = control.nextInFocusChain();
        while (first != &control && !(first->isEnabled() && first->focusPolicy() & Qt::TabFocus))
            first = first->nextInFocusChain();
        QCOMPARE(first, left);
        // The tab order of the design.
        const QStringList order = QStringLiteral("cmdCommit cmdRemoveAll cmdAddAll cmdAdd cmdDelete optList1 optList0 cmdFind optFind1 txtVendorID optFind0 txtVendorName lstCenters lstSelectedCenters").split(u' ');
        QStringList chain;
        QWidget *w = child(control, "cmdCommit");
        for (int step = 0; step < 1000 && chain.size() < order.size(); ++step, w = w->nextInFocusChain()) {
            if (order.contains(w->objectName()))
                chain += w->objectName();
        }
        QCOMPARE(chain, order);
    } else {
        QVERIFY(control.sizeHint().width() > 583);
    }
    // At the smallest size the layout allows, every caption fits.
    control.resize(control.minimumSizeHint());
    QTest::qWait(20);
    for (QWidget *widget : control.findChildren<QWidget *>()) {
        if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLabel *>(widget))
            QVERIFY2(widget->width() >= widget->fontMetrics().horizontalAdvance(widget->property("text").toString()), qPrintable(widget->objectName()));
    }
}

void TestControl::mouseKeyboardAndFind()
{
    PageServer page;
    Velmora control;
    control.show();
    QVERIFY(loadInto(control, page, {{"1", "A"}, {"2", "B"}, {"3", "C"}}, {{"9", "Z"}}));
    QTreeView *left = list(control, 0);
    QTreeView *right = list(control, 1);

    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0));
    QCOMPARE(enabled(control), QStringLiteral("100000"));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(left, 2));
    QCOMPARE(enabled(control), QStringLiteral("010000"));
    QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 1));
    QCOMPARE(ids(right), QStringLiteral("2* 9"));
    QCOMPARE(right->model()->index(0, 0).data(Qt::UserRole + 1).toBool(), true);

    // The pop-up over the assigned list: right button (not the left one),
    // Menu key, Shift+F10.
    auto *menu = child<QMenu>(control, "mnuRemove");
    QTest::mouseClick(right->viewport(), Qt::LeftButton, {}, rowPoint(right, 0));
    QVERIFY(!menu->isVisible());
    QTest::mouseClick(right->viewport(), Qt::RightButton, {}, rowPoint(right, 0));
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
    QTest::keyClick(right, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
    QTest::keyClick(right, Qt::Key_Menu);
    QTRY_VERIFY(menu->isVisible());
    child<QAction>(control, "mnuRemoveItems")->trigger();
    menu->hide();
    QCOMPARE(ids(left), QStringLiteral("1 2* 3"));

    // A header click sorts (Enter and Delete: tst_hosting).
    QTest::mouseClick(left->header()->viewport(), Qt::LeftButton, {},
                      QPoint(left->header()->sectionViewportPosition(0) + 5, 5));
    QCOMPARE(ids(left), QStringLiteral("3 2* 1"));
    QVERIFY(left->header()->sortIndicatorOrder() == Qt::DescendingOrder && left->header()->sortIndicatorSection() == 0);

    // The find panel: Enter in the usable box finds; another mode locks the box.
    auto *idBox = child<QLineEdit>(control, "txtVendorID");
    QVERIFY(!idBox->isReadOnly());
    QTest::keyClicks(idBox, "3");
    QVERIFY(child(control, "cmdFind")->isEnabled());
    QTest::keyClick(idBox, Qt::Key_Return);
    QCOMPARE(ids(left), QStringLiteral("3* 2 1")); // a hit in the first row is a hit
    QVERIFY(control.focusWidget() == left && !control.findChild<QMessageBox *>());
    QTest::mouseClick(child(control, "optFind0"), Qt::LeftButton);
    QCOMPARE(idBox->text(), QString());
    QVERIFY(idBox->isReadOnly() && idBox->focusPolicy() == Qt::NoFocus);
    QTest::keyClicks(child(control, "txtVendorName"), "drill");
    QTest::mouseClick(child(control, "cmdFind"), Qt::LeftButton);
    QMessageBox *box = messageBox(control);
    QVERIFY(box && box->text() == u"Not found" && box->icon() == QMessageBox::Information);
    box->accept();

    // A drop from the other list moves its selection; a drag from another
    // control's list (named as this one's) is refused as it enters.
    Velmora stranger;
    QVERIFY(drag(left, right) && !drag(list(stranger, 1), left));
    QCOMPARE(ids(right), QStringLiteral("3* 9"));

    // Nothing that moves or saves is taken during a host's save: the lists
    // stay as they were, and the save is the only request.
    QFETCH(QString, busyInput);
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0)); // ">" enabled
    const std::map<QString, std::function<void()>> inputs = {
        {">", [&] { child<QPushButton>(control, "cmdAdd")->click(); }},
        {"double-click", [&] { QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0)); }},
        {"Enter", [&] { QTest::keyClick(left, Qt::Key_Return); }},
        {"Delete", [&] { QTest::keyClick(right, Qt::Key_Delete); }},
        {"Remove", [&] { child<QAction>(control, "mnuRemoveItems")->trigger(); }},
        {"drop", [&] { drag(left, right); }},
        {"undo", [&] { QTest::keyClick(left, Qt::Key_Z, Qt::ControlModifier); }},
        {"save", [&] { QVERIFY(!boundedWait("a refused SaveToDatabase()", [&] { return control.SaveToDatabase(); })); }},
        {"commit", [&] { control.commit(); }},
        {"F5", [&] { QTest::keyClick(left, Qt::Key_F5); }},
        {"click", [&] { QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 1)); }},
        {"typing", [&] { QTest::keyClicks(child(control, "txtVendorName"), "x"); }}};
    page.answer(true, {200, "Saved.", "text/plain", 200});
    const qsizetype before = page.requests().size();
    QTimer::singleShot(50, &control, [&] { inputs.at(busyInput)(); });
    QVERIFY(boundedWait("SaveToDatabase()", [&] { return control.SaveToDatabase(); }));
    QStringList sent;
    for (const QString &request : page.requests().mid(before))
        sent << request.section(u' ', 0, 0);
    // Nor does any other input reach the widgets meanwhile: the current row
    // and the find box stay as they were.
    const QString current = QString::number(left->currentIndex().row());
    const QString findText = child<QLineEdit>(control, "txtVendorName")->text();
    COMPARE_LINES(QStringLiteral("%1 | %2 | %3 | %4 %5").arg(ids(left), ids(right), sent.join(u' '), current, findText).split(u' '),
                  QStringLiteral("2* 1 | 3 9 | POST | 0 drill").split(u' '));
}

void TestControl::commitFromTheButtonLeavesTheHostResponsive()
{
    QFETCH(QString, locale);
    QFETCH(bool, hostTranslates);
    QFETCH(QStringList, texts);
    QLocale::setDefault(QLocale(locale));
    HostTranslator hostTexts;
    QVERIFY(!hostTranslates || QCoreApplication::installTranslator(&hostTexts));
    PageServer page;
    QWidget host;
    auto *layout = new QVBoxLayout(&host);
    auto *hostEdit = new QLineEdit(&host);
    auto *control = new Velmora(&host);
    layout->addWidget(hostEdit);
    layout->addWidget(control);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QVERIFY(control->setEmployeeID(QStringLiteral("12")));
    page.answer(false, {200, "<a></b>"});
    QSignalSpy failed(control, &Velmora::loadFailed);
    boundedWait("setServerName()", [&] { control->setServerName(page.address()); });
    // The reason shows in the empty lists.
    const QImage withReason = list(*control, 0)->viewport()->grab().toImage();
    QVERIFY(list(*control, 0)->property("placeholderText") == failed.value(0).value(0));
    list(*control, 0)->setProperty("placeholderText", QString());
    QVERIFY(list(*control, 0)->viewport()->grab().toImage() != withReason);
    QVERIFY(loadInto(*control, page, {{"34", "A"}}, {}));
    QTest::mouseDClick(list(*control, 0)->viewport(), Qt::LeftButton, {}, rowPoint(list(*control, 0), 0));
    page.answer(true, {500, "down", "text/plain"});
    QTest::mouseClick(child(*control, "cmdCommit"), Qt::LeftButton);
    QMessageBox *box = messageBox(*control);
    QVERIFY(box);
    QCOMPARE((QStringList{child<QPushButton>(*control, "cmdCommit")->text(), child<QLabel>(*control, "lblAllVendors")->text(), failed.value(0).value(0).toString(), box->text(), box->informativeText().left(texts[4].size())}), texts);
    box->accept();

    page.answer(true, {200, "Saved.", "text/plain", 500});
    page.answer(false, {200, centerDocument({}, {{"34", "A"}})});
    QSignalSpy busy(control, &Velmora::busyChanged);
    QTest::mouseClick(child(*control, "cmdCommit"), Qt::LeftButton);
    QVERIFY(control->isBusy() && control->cursor().shape() == Qt::WaitCursor && child(*control, "prbLoad")->isVisible());
    QCOMPARE(enabled(*control), QStringLiteral("000000"));
    // The host takes input while the control waits (the control takes none:
    // inputsWhileBusy).
    QTest::keyClicks(hostEdit, "abc");
    QCOMPARE(hostEdit->text(), QStringLiteral("abc"));

    // The answer comes first, then the reload.
    box = messageBox(*control);
    QVERIFY(box && box->windowTitle() == u"Velmora Cross Reference" && box->text() == u"Saved." && control->isBusy());
    box->accept();
    QCOMPARE(child<QProgressBar>(*control, "prbLoad")->maximum(), 0); // the reload keeps the busy bar
    QTRY_VERIFY(!control->isBusy());
    QVERIFY(control->cursor().shape() == Qt::ArrowCursor && !child(*control, "prbLoad")->isVisible());
    QCOMPARE(ids(list(*control, 1)), QStringLiteral("34"));
    QCOMPARE(page.requests().mid(2), (QStringList{InsertOf34For12, InsertOf34For12, "GET /Velmora.asp?EmployeeID=12"}));
    QCOMPARE(busy.size(), 2);
}

void TestControl::waitsEndWhenTheControlGoes()
{
    QFETCH(bool, parentGoes);
    QFETCH(bool, later);
    RawServer silent;
    auto *window = new QWidget;
    auto *control = new Velmora(window);
    control->setTimeout(std::chrono::minutes(2));
    QPointer<Velmora> alive(control);
    QTimer::singleShot(200, [=] {
        QWidget *doomed = parentGoes ? window : static_cast<QWidget *>(control);
        if (later)
            doomed->deleteLater();
        else
            delete doomed;
    });
    // The wait ends with the control, well before the time-out.
    boundedWait("setServerName()", [&] { control->setServerName(silent.address()); }, 5);
    QTRY_VERIFY(!alive);
    if (!parentGoes)
        delete window;
}

bool TestControl::commitFromTheButton(Velmora &control, QMessageBox::Icon icon)
{
    QTest::mouseClick(child(control, "cmdCommit"), Qt::LeftButton);
    QMessageBox *box = messageBox(control);
    if (!box || box->icon() != icon || (icon == QMessageBox::NoIcon && box->text() != u"Error During saving to Database"))
        return false;
    box->accept();
    return QTest::qWaitFor([&] { return !control.isBusy(); }, 10000);
}

void TestControl::commitCycleAgainstVelmoraServer()
{
    QFETCH(QString, backend);
    QFETCH(bool, tls);
    if (!TestDatabases::require(backend))
        return;
    TestDatabases databases;
    const QString address = databases.create(backend, QStringLiteral("e2e"));
    QVERIFY(TestDatabases::putCenters(address, 6, true));
    CenterStore store({address});
    CenterStore::Error error;
    const auto setActive = [&](bool active) { return store.putCenters({{3, QStringLiteral("Center 3"), active}}, &error); };
    // A site's CA and the server's certificate from it, for 127.0.0.1.
    QTemporaryDir dir;
    const TlsCertificate ca = TlsCertificate::generate(QStringLiteral("Velmora test CA"));
    VelmoraServer::Options options;
    options.port = 0;
    options.database = address;
    QString reason;
    if (tls) {
        options.tlsCertificateFile = dir.filePath(QStringLiteral("cert.pem"));
        options.tlsKeyFile = dir.filePath(QStringLiteral("key.pem"));
        QVERIFY2(TlsCertificate::generate(QStringLiteral("127.0.0.1"), &ca).save(options.tlsCertificateFile, options.tlsKeyFile, &reason), qPrintable(reason));
    }
    VelmoraServer server(options);
    QVERIFY2(server.start(&reason), qPrintable(reason));
    const QString url = QStringLiteral("%1://127.0.0.1:%2").arg(tls ? u"https" : u"http").arg(server.port());
    const QSslConfiguration systemTrust = QSslConfiguration::defaultConfiguration();
    const auto restoreTrust = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(systemTrust); });
    if (tls) {
        // Until the host trusts the site's CA the load fails on the
        // certificate; plain HTTP to the TLS port fails at once.
        Velmora stranger;
        QSignalSpy failed(&stranger, &Velmora::loadFailed);
        boundedWait("setServerName()", [&] { stranger.setServerName(url); });
        boundedWait("setServerName()", [&] { stranger.setServerName(QString(url).remove(4, 1)); });
        QVERIFY2(failed.size() == 2 && failed[0][0].toString().contains(u"was not accepted: The issuer certificate")
                 && failed[1][0].toString().contains(u"could not be reached"), qPrintable(failed.value(0).value(0).toString() + failed.value(1).value(0).toString()));
        QSslConfiguration trusting = systemTrust;
        trusting.addCaCertificate(QSslCertificate(ca.certificatePem));
        QSslConfiguration::setDefaultConfiguration(trusting);
    }

    Velmora control;
    control.show();
    QVERIFY(control.setEmployeeID(QStringLiteral("12")));
    boundedWait("setServerName()", [&] { control.setServerName(url); });
    QTreeView *left = list(control, 0);
    QTreeView *right = list(control, 1);
    QCOMPARE(ids(left), QStringLiteral("1 2 3 4 5")); // inactive center 6 is not offered
    QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 3));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0));
    QTest::mouseClick(left->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(left, 3));
    QTest::mouseClick(child(control, "cmdAddAll"), Qt::LeftButton);
    QVERIFY(commitFromTheButton(control, QMessageBox::Information));
    QCOMPARE(TestDatabases::assigned(address, 12), (QList<qint32>{1, 4, 5}));
    QCOMPARE(ids(right), QStringLiteral("1 4 5"));
    QCOMPARE(enabled(control), QStringLiteral("000000"));

    // Center 3 goes inactive behind the operator's back: the whole commit is
    // refused, the changes stay, and the retry goes through once it is back.
    QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 1));
    QTest::mouseDClick(right->viewport(), Qt::LeftButton, {}, rowPoint(right, 0));
    QVERIFY(setActive(false));
    QVERIFY(commitFromTheButton(control, QMessageBox::NoIcon));
    QCOMPARE(TestDatabases::assigned(address, 12), (QList<qint32>{1, 4, 5}));
    QCOMPARE(ids(right).remove(u'*'), QStringLiteral("3 4 5"));
    QVERIFY(setActive(true));
    QVERIFY(commitFromTheButton(control, QMessageBox::Information));
    QCOMPARE(TestDatabases::assigned(address, 12), (QList<qint32>{3, 4, 5}));
    QCOMPARE(ids(left).remove(u'*'), QStringLiteral("1 2"));

    // Another server, with a certificate the host does not trust, answers at
    // the address: the commit fails on it and nothing reaches the database.
    if (tls) {
        QTest::mouseDClick(left->viewport(), Qt::LeftButton, {}, rowPoint(left, 0));
        server.stop();
        options.port = server.port();
        QVERIFY(TlsCertificate::generate(QStringLiteral("127.0.0.1")).save(options.tlsCertificateFile, options.tlsKeyFile, &reason));
        VelmoraServer impostor(options);
        QVERIFY2(impostor.start(&reason), qPrintable(reason));
        QSignalSpy failed(&control, &Velmora::commitFailed);
        QVERIFY(commitFromTheButton(control, QMessageBox::NoIcon));
        QVERIFY2(failed.value(0).value(0).toString().contains(u"was not accepted: The certificate is self-signed"), qPrintable(failed.value(0).value(0).toString()));
        QCOMPARE(TestDatabases::assigned(address, 12), (QList<qint32>{3, 4, 5}));
    }
}

#ifdef VELMORA_DESIGNER_PLUGIN
void TestControl::designModeStoresAndNeverLoads()
{
    // Loaded from its file as Qt Designer loads it.
    QPluginLoader loader(QStringLiteral(VELMORA_DESIGNER_PLUGIN));
    auto *plugin = qobject_cast<QDesignerCustomWidgetInterface *>(loader.instance());
    QVERIFY2(plugin, qPrintable(loader.errorString()));
    QVERIFY(plugin->name() == u"Velmora" && plugin->toolTip() == u"Velmora Cross Reference" && !plugin->icon().isNull());
    QVERIFY(plugin->domXml().contains(u"displayname=\"Velmora Cross Reference\"") && plugin->domXml().contains(u"<width>583</width>"));

    PageServer page;
    QWidget form;
    auto *designed = qobject_cast<Velmora *>(plugin->createWidget(&form));
    QVERIFY(designed);
    // What the property editor sets, then a host's own calls: all only stored.
    const std::pair<const char *, QVariant> assigned[] = {{"timeout", 5000}, {"employeeID", "12"}, {"serverAddress", page.address()}};
    for (const auto &[name, value] : assigned)
        QVERIFY(designed->metaObject()->property(designed->metaObject()->indexOfProperty(name)).isDesignable() && designed->setProperty(name, value) && designed->property(name) == value);
    boundedWait("setServerName() in design mode", [&] { designed->setServerName(page.address()); });
    designed->commit();
    QVERIFY(!designed->isBusy() && designed->employeeID() == 12);

    // Outside Designer the same assignment loads: its request is the only one.
    Velmora running;
    QVERIFY(loadInto(running, page, {{"1", "A"}}, {}));
    QCOMPARE(page.requests(), QStringList{QStringLiteral("GET /Velmora.asp?EmployeeID=0")});
}
#endif

QTEST_MAIN(TestControl)
#include "tst_control.moc"
