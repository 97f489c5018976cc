// The "Find Center" panel: search the chosen list by a piece of the name or
// by the whole ID. Every search starts again at the top of the list.

#include "shell/velmora_p.h"

#include "core/centersearch.h"
#include "platform/messagebox.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace VelmoraInternal;

void Velmora::Private::connectFind()
{
    QObject::connect(optFind[0], &QRadioButton::clicked, q, [this] { optFind_Click(0); });
    QObject::connect(optFind[1], &QRadioButton::clicked, q, [this] { optFind_Click(1); });
    QObject::connect(txtVendorName, &QLineEdit::textChanged, q, [this] { txtVendorName_Change(); });
    QObject::connect(txtVendorID, &QLineEdit::textChanged, q, [this] { txtVendorID_Change(); });
    QObject::connect(cmdFind, &QPushButton::clicked, q, [this] { cmdFind_Click(); });
    // Enter in the box that can be typed in presses Find.
    for (QLineEdit *box : {txtVendorName, txtVendorID}) {
        QObject::connect(box, &QLineEdit::returnPressed, q, [this, box] {
            if (!box->isReadOnly() && cmdFind->isEnabled())
                cmdFind->click();
        });
    }
}

void Velmora::Private::optFind_Click(int index)
{
    QLineEdit *other = index == 0 ? txtVendorID : txtVendorName;
    QLineEdit *chosen = index == 0 ? txtVendorName : txtVendorID;
    other->setText(QString());
    other->setReadOnly(true);
    setSearchBoxActive(other, false);
    chosen->setReadOnly(false);
    setSearchBoxActive(chosen, true);
}

void Velmora::Private::txtVendorName_Change()
{
    cmdFind->setEnabled(!txtVendorName->text().isEmpty());
}

void Velmora::Private::txtVendorID_Change()
{
    cmdFind->setEnabled(!txtVendorID->text().isEmpty());
}

void Velmora::Private::cmdFind_Click()
{
    lstSelectedCenters->setMultiSelect(false);
    lstCenters->setMultiSelect(false);
    cmdDelete->setEnabled(false);
    cmdRemoveAll->setEnabled(false);
    cmdAddAll->setEnabled(false);
    cmdAdd->setEnabled(false);

    CenterListView *list = optList[0]->isChecked() ? lstCenters : lstSelectedCenters;
    const int hit = optFind[0]->isChecked() ? findByName(*list->centers(), txtVendorName->text())
                                            : findById(*list->centers(), txtVendorID->text());

    if (hit < 0) {
        showMessage(q, QStringLiteral("Not found"), QMessageBox::Information);
        return;
    }
    list->selectOnly({hit});
    list->setCurrentRow(hit);
    list->ensureVisible(hit);
    (optList[0]->isChecked() ? lstCenters : lstSelectedCenters)->setFocus(Qt::OtherFocusReason);
}
