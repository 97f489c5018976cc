// Count captions, move buttons and search-list options after every move.

#include "shell/velmora_p.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

using namespace VelmoraInternal;

void Velmora::Private::RefreshListState(Move move)
{
    RefreshListCaptions();
    RefreshListButtons(move);
}

void Velmora::Private::RefreshListCaptions()
{
    // Always counted from the lists themselves.
    lblSelVendors->setText(QStringLiteral("Selected Centers (%1):").arg(lstSelectedCenters->count()));
    lblAllVendors->setText(QStringLiteral("Non Selected Active Centers (%1):").arg(lstCenters->count()));
    fitCaptions();
}

void Velmora::Private::RefreshListButtons(Move move)
{
    const bool centersEmpty = lstCenters->count() == 0;
    const bool selectedEmpty = lstSelectedCenters->count() == 0;

    switch (move) {
    case Move::Add:
        cmdAdd->setEnabled(false);
        cmdDelete->setEnabled(true);
        cmdCommit->setEnabled(true);
        optList[1]->setChecked(true);
        if (centersEmpty)
            optList[0]->setEnabled(false);
        optList[1]->setEnabled(!selectedEmpty);
        break;
    case Move::Delete:
        cmdDelete->setEnabled(false);
        cmdAdd->setEnabled(true);
        cmdCommit->setEnabled(true);
        optList[0]->setChecked(true);
        optList[0]->setEnabled(!centersEmpty);
        if (selectedEmpty)
            optList[1]->setEnabled(false);
        break;
    case Move::AddAll:
        cmdAddAll->setEnabled(false);
        cmdRemoveAll->setEnabled(true);
        cmdCommit->setEnabled(true);
        optList[1]->setChecked(true);
        if (centersEmpty) {
            optList[0]->setEnabled(false);
            optList[1]->setEnabled(true);
        }
        break;
    case Move::RemoveAll:
        cmdRemoveAll->setEnabled(false);
        cmdAddAll->setEnabled(true);
        cmdCommit->setEnabled(true);
        optList[0]->setChecked(true);
        if (selectedEmpty) {
            optList[0]->setEnabled(true);
            optList[1]->setEnabled(false);
        }
        break;
    }
}
