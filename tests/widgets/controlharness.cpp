#include "controlharness.h"

#include <QAction>
#include <QHeaderView>

namespace Harness {

QByteArray document(int nonSelectedCount, int selectedCount,
                    const std::vector<Center> &nonSelected, const std::vector<Center> &selected)
{
    auto records = [](const std::vector<Center> &centers) {
        QByteArray out;
        for (const Center &c : centers) {
            out += "<Center><CenterID>" + c.first.toHtmlEscaped().toUtf8() + "</CenterID><CenterName>"
                + c.second.toHtmlEscaped().toUtf8() + "</CenterName></Center>\n";
        }
        return out;
    };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CrossReference>\n"
           "<Counts><Count><NonSelected>" + QByteArray::number(nonSelectedCount) + "</NonSelected><Selected>"
        + QByteArray::number(selectedCount) + "</Selected></Count></Counts>\n"
        + "<NonSelectedCenters>\n" + records(nonSelected) + "</NonSelectedCenters>\n"
        + "<SelectedCenters>\n" + records(selected) + "</SelectedCenters>\n</CrossReference>\n";
}

QByteArray document(const std::vector<Center> &nonSelected, const std::vector<Center> &selected)
{
    return document(int(nonSelected.size()), int(selected.size()), nonSelected, selected);
}

QStringList ids(const CenterListView *list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << list->item(row).id;
    return out;
}

QStringList keys(const CenterListView *list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << list->item(row).key;
    return out;
}

QStringList selectedIds(const CenterListView *list)
{
    QStringList out;
    for (int row : list->selectedRows())
        out << list->item(row).id;
    return out;
}

QString buttonStates(const Velmora &c)
{
    QString out;
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        out += button(c, name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return out;
}

QPoint rowCenter(const CenterListView *list, int row)
{
    const QModelIndex index = list->model()->index(row, 1);
    const_cast<CenterListView *>(list)->scrollTo(index);
    return list->visualRect(index).center();
}

void clickRow(CenterListView *list, int row, Qt::KeyboardModifiers modifiers, Qt::MouseButton button)
{
    QTest::mouseClick(list->viewport(), button, modifiers, rowCenter(list, row));
}

void doubleClickRow(CenterListView *list, int row)
{
    // A real double-click: press, release, double-click press, release.
    const QPoint at = rowCenter(list, row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void clickBlank(CenterListView *list)
{
    const QPoint at(list->viewport()->width() / 2, list->viewport()->height() - 3);
    if (list->indexAt(at).isValid())
        qFatal("the list has no blank area below its rows");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void clickHeader(CenterListView *list, int headerIndexFromOne)
{
    QHeaderView *header = list->header();
    const int section = headerIndexFromOne - 1;
    const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, header->height() / 2));
}

int rowOf(const CenterListView *list, const QString &id)
{
    return list->centers()->findId(id, Qt::CaseSensitive);
}

ModalWatcher::ModalWatcher()
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            QStringList texts;
            QAction *chosen = nullptr;
            for (QAction *action : menu->actions()) {
                texts << action->text();
                if (!menuChoice.isEmpty() && action->text() == menuChoice)
                    chosen = action;
            }
            menus << texts.join(QLatin1Char('|'));
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (whileModal) {
            auto run = std::move(whileModal);
            whileModal = nullptr;
            run();
        }
        messages.append({box->windowTitle(), box->text(), box->informativeText(), box->icon()});
        box->accept();
    });
    m_timer.start();
}

} // namespace Harness
