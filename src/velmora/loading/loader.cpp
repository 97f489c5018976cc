// Loading: fetch the center document for the stored employee and fill both
// lists from it. The whole document is read and checked before anything is
// filled, so a failed load never shows part of a document as if it were all.

#include "shell/velmora_p.h"

#include "core/centerkey.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

using namespace VelmoraInternal;

void Velmora::Private::LoadCrossReference(qint32 employeeId, const QString &serverName)
{
    cmdCommit->setEnabled(false);
    q->setCursor(Qt::WaitCursor);

    storedEmployeeId = employeeId;
    if (!serverName.isEmpty())
        storedServerName = serverName;

    lstCenters->centers()->clear();
    lstSelectedCenters->centers()->clear();
    lstCenters->setPlaceholderText(QString());
    lstSelectedCenters->setPlaceholderText(QString());

    const QString url = storedServerName + QStringLiteral("/Velmora.asp?EmployeeID=") + QString::number(storedEmployeeId);
    const HttpResult answer = transfer->get(url);
    if (!answer.transferred) {
        failLoad(answer.error);
        return;
    }
    if (answer.status != 200) {
        QString reason = answer.error.isEmpty()
            ? QStringLiteral("The server at %1 answered HTTP %2.").arg(url).arg(answer.status)
            : answer.error;
        const QString text = QString::fromUtf8(answer.body.left(300)).trimmed();
        if (!text.isEmpty() && answer.contentType.startsWith("text/plain"))
            reason += QLatin1Char(' ') + text;
        failLoad(reason);
        return;
    }

    CenterDocument document;
    QString error;
    if (!CenterDocumentReader::read(answer.body, &document, &error)) {
        failLoad(error);
        return;
    }

    ReadCenterCounts(document);
    FillNonSelectedCenters(document);
    FillSelectedCenters(document);

    prbLoad->setValue(0);
    q->unsetCursor();
}

void Velmora::Private::ReadCenterCounts(const CenterDocument &document)
{
    // The reader has checked both counts and their sum against 32,767.
    const int sum = int(document.nonSelectedCount) + int(document.selectedCount);
    // A zero range would turn the bar into a busy indicator; keep it still.
    prbLoad->setRange(0, qMax(1, sum));
    lblAllVendors->setText(QStringLiteral("Non Selected Active Centers (%1):").arg(document.nonSelectedCount));
    lblSelVendors->setText(QStringLiteral("Selected Centers (%1):").arg(document.selectedCount));
    fitCaptions();
}

void Velmora::Private::FillNonSelectedCenters(const CenterDocument &document)
{
    fillList(lstCenters, optList[0], document.nonSelected);
}

void Velmora::Private::FillSelectedCenters(const CenterDocument &document)
{
    fillList(lstSelectedCenters, optList[1], document.selected);
}

void Velmora::Private::fillList(CenterListView *target, QRadioButton *option, const std::vector<CenterRecord> &records)
{
    std::vector<CenterItem> items;
    items.reserve(records.size());
    for (const CenterRecord &record : records)
        items.push_back({record.id, record.name, formatKey(record.id)});

    // Sorted by the key column in the list's current direction.
    target->setSort(CenterListModel::KeyColumn, target->sortOrder());
    target->centers()->reset(std::move(items));
    // The bar shows where the load stands; records are counted across both
    // lists (the non-selected first).
    const int placed = (target == lstCenters ? 0 : lstCenters->count()) + target->count();
    prbLoad->setValue(qMin(qMax(0, placed - 1), prbLoad->maximum()));

    option->setEnabled(true);
    optFind[0]->setEnabled(true);
    optFind[1]->setEnabled(true);
    txtVendorID->setEnabled(true);
    txtVendorID->setReadOnly(false);
    setSearchBoxActive(txtVendorID, true);

    // A load leaves no item selected and no item current.
    target->selectionModel()->clearSelection();
    target->setCurrentRow(-1);
}

void Velmora::Private::failLoad(const QString &reason)
{
    lstCenters->centers()->clear();
    lstSelectedCenters->centers()->clear();
    lblAllVendors->setText(QStringLiteral("Non Selected Active Centers (0):"));
    lblSelVendors->setText(QStringLiteral("Selected Centers (0):"));
    fitCaptions();
    prbLoad->setValue(0);
    cmdCommit->setEnabled(false);
    lstCenters->setPlaceholderText(reason);
    lstSelectedCenters->setPlaceholderText(reason);
    q->unsetCursor();
    Q_EMIT q->loadFailed(reason);
}
