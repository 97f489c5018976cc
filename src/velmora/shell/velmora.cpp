#include "velmora_p.h"

#include "layout.h"
#include "core/urlencoder.h"

#include <velmora/identity.h>

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>

#include <limits>

using namespace VelmoraInternal;

namespace {

template<typename T>
T *makeChild(QWidget *parent, const char *name)
{
    auto *child = new T(parent);
    child->setObjectName(QLatin1String(name));
    return child;
}

} // namespace

Velmora::Private::Private(Velmora *control)
    : q(control)
{
}

void Velmora::Private::setupUi()
{
    q->setWindowTitle(QString::fromLatin1(VelmoraIdentity::Title));
    // The layout is a fixed design at 15 twips per pixel, drawn for an
    // 8-point face; a larger default font would clip the captions.
    QFont font = q->font();
    if (font.pointSizeF() > 8.0) {
        font.setPointSizeF(8.0);
        q->setFont(font);
    }

    // Children are created in the design's order, which is also the tab order
    // of the layout.
    fraMain = makeChild<QGroupBox>(q, "fraMain");
    fraMain->setFlat(true);
    fraMain->setStyleSheet(QStringLiteral("QGroupBox#fraMain { border: 0; margin: 0; padding: 0; }"));

    fraFind = makeChild<QGroupBox>(fraMain, "fraFind");
    fraFind->setTitle(QStringLiteral(" Find Center"));
    txtVendorName = makeChild<QLineEdit>(fraFind, "txtVendorName");
    optFind[0] = makeChild<QRadioButton>(fraFind, "optFind0");
    optFind[0]->setText(QStringLiteral("Name"));
    txtVendorID = makeChild<QLineEdit>(fraFind, "txtVendorID");
    optFind[1] = makeChild<QRadioButton>(fraFind, "optFind1");
    optFind[1]->setText(QStringLiteral("ID"));
    cmdFind = makeChild<QPushButton>(fraFind, "cmdFind");
    cmdFind->setText(QStringLiteral("Find"));
    Frame1 = makeChild<QGroupBox>(fraFind, "Frame1");
    Frame1->setTitle(QStringLiteral(" List to search  "));
    optList[0] = makeChild<QRadioButton>(Frame1, "optList0");
    optList[0]->setText(QStringLiteral("Non Selected Centers"));
    optList[1] = makeChild<QRadioButton>(Frame1, "optList1");
    optList[1]->setText(QStringLiteral("Selected Centers"));
    lblVersionNumber = makeChild<QLabel>(fraFind, "lblVersionNumber");
    lblVersionNumber->setText(QStringLiteral("Version Number:"));

    cmdDelete = makeChild<QPushButton>(fraMain, "cmdDelete");
    cmdDelete->setText(QStringLiteral("<"));
    cmdAdd = makeChild<QPushButton>(fraMain, "cmdAdd");
    cmdAdd->setText(QStringLiteral(">"));
    cmdAddAll = makeChild<QPushButton>(fraMain, "cmdAddAll");
    cmdAddAll->setText(QStringLiteral(">>"));
    cmdRemoveAll = makeChild<QPushButton>(fraMain, "cmdRemoveAll");
    cmdRemoveAll->setText(QStringLiteral("<<"));
    cmdCommit = makeChild<QPushButton>(fraMain, "cmdCommit");
    cmdCommit->setText(QStringLiteral("Commit to Database"));

    prbLoad = makeChild<QProgressBar>(fraMain, "prbLoad");
    prbLoad->setTextVisible(false);
    prbLoad->setRange(0, 100);
    prbLoad->setValue(0);

    lstCenters = makeChild<CenterListView>(fraMain, "lstCenters");
    lstCenters->centers()->setObjectName(QStringLiteral("lstCenters"));
    lstCenters->centers()->setPendingToolTip(QStringLiteral("Will be unassigned on commit"));
    lstSelectedCenters = makeChild<CenterListView>(fraMain, "lstSelectedCenters");
    lstSelectedCenters->centers()->setObjectName(QStringLiteral("lstSelectedCenters"));
    lstSelectedCenters->centers()->setPendingToolTip(QStringLiteral("Will be assigned on commit"));

    lblSelVendors = makeChild<QLabel>(fraMain, "lblSelVendors");
    lblSelVendors->setText(QStringLiteral("Selected Centers:"));
    lblAllVendors = makeChild<QLabel>(fraMain, "lblAllVendors");
    lblAllVendors->setText(QStringLiteral("Non Selected Active Centers:"));

    // The pop-up menu is never shown as a menu bar of the control.
    mnuRemove = new QMenu(q);
    mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    mnuRemove->setTitle(QStringLiteral("Remove"));
    mnuRemoveItems = mnuRemove->addAction(QStringLiteral("Remove"));
    mnuRemoveItems->setObjectName(QStringLiteral("mnuRemoveItems"));

    optFindGroup = new QButtonGroup(q);
    optFindGroup->setObjectName(QStringLiteral("optFind"));
    optFindGroup->addButton(optFind[0], 0);
    optFindGroup->addButton(optFind[1], 1);
    optListGroup = new QButtonGroup(q);
    optListGroup->setObjectName(QStringLiteral("optList"));
    optListGroup->addButton(optList[0], 0);
    optListGroup->addButton(optList[1], 1);

    // Initial states before any load.
    for (QPushButton *button : {cmdAdd, cmdAddAll, cmdDelete, cmdRemoveAll, cmdCommit, cmdFind})
        button->setEnabled(false);
    for (QRadioButton *option : {optFind[0], optFind[1], optList[0], optList[1]})
        option->setEnabled(false);
    optFind[1]->setChecked(true);
    optList[0]->setChecked(true);
    txtVendorID->setEnabled(false);
    txtVendorID->setReadOnly(true);
    setSearchBoxActive(txtVendorID, false);
    txtVendorName->setEnabled(true);
    txtVendorName->setReadOnly(true);
    setSearchBoxActive(txtVendorName, false);

    // Tab order follows the layout: lists and buttons left to right, then the
    // commit, then the find panel top to bottom.
    QWidget::setTabOrder(lstCenters, cmdAdd);
    QWidget::setTabOrder(cmdAdd, cmdAddAll);
    QWidget::setTabOrder(cmdAddAll, cmdRemoveAll);
    QWidget::setTabOrder(cmdRemoveAll, cmdDelete);
    QWidget::setTabOrder(cmdDelete, lstSelectedCenters);
    QWidget::setTabOrder(lstSelectedCenters, cmdCommit);
    QWidget::setTabOrder(cmdCommit, optFind[1]);
    QWidget::setTabOrder(optFind[1], txtVendorID);
    QWidget::setTabOrder(txtVendorID, optFind[0]);
    QWidget::setTabOrder(optFind[0], txtVendorName);
    QWidget::setTabOrder(txtVendorName, optList[0]);
    QWidget::setTabOrder(optList[0], optList[1]);
    QWidget::setTabOrder(optList[1], cmdFind);

    transfer = std::make_unique<HttpTransfer>(q);

    applyLayout(Layout::designSize());

    connectLists();
    connectFind();
    QObject::connect(cmdCommit, &QPushButton::clicked, q, [this] { cmdCommit_Click(); });
}

void Velmora::Private::setSearchBoxActive(QLineEdit *box, bool active)
{
    // The inactive look is the button face, the active one the normal field
    // background, both from the palette so that themes are respected.
    QPalette palette = box->palette();
    const QPalette reference = q->palette();
    palette.setColor(QPalette::Base, active ? reference.color(QPalette::Base) : reference.color(QPalette::Button));
    box->setPalette(palette);
}

void Velmora::Private::applyLayout(const QSize &size)
{
    const QSize controlSize = size.expandedTo(Layout::designSize());
    const QList<QWidget *> children = q->findChildren<QWidget *>();
    for (QWidget *child : children) {
        const Layout::DesignRect rect = Layout::designRect(child->objectName());
        if (rect.width == 0)
            continue;
        child->setGeometry(Layout::geometryFor(child->objectName(), controlSize));
    }
    for (QWidget *child : children)
        fitCaption(child, controlSize);
}

void Velmora::Private::fitCaption(QWidget *child, const QSize &controlSize)
{
    // Captions keep the design's places, but a face wider than the one the
    // design was drawn for must not clip them: a caption that needs more
    // room takes it, towards the free side and never past its container.
    if (!qobject_cast<QAbstractButton *>(child) && !qobject_cast<QLabel *>(child))
        return;
    if (Layout::designRect(child->objectName()).width == 0 || !child->parentWidget())
        return;
    QRect geometry = Layout::geometryFor(child->objectName(), controlSize.expandedTo(Layout::designSize()));
    // Buttons are measured by their text alone: the style's minimum button
    // width would widen even ">".
    auto *push = qobject_cast<QPushButton *>(child);
    const int needed = push ? push->fontMetrics().horizontalAdvance(push->text()) + 12 : child->sizeHint().width();
    if (needed > geometry.width()) {
        const int room = Layout::geometryFor(child->parentWidget()->objectName(), controlSize).width() - 4;
        if (child == cmdCommit)
            geometry.setLeft(std::max(4, geometry.right() + 1 - needed));
        else
            geometry.setWidth(std::min(needed, room - geometry.left()));
    }
    child->setGeometry(geometry);
}

void Velmora::Private::fitCaptions()
{
    fitCaption(lblAllVendors, q->size());
    fitCaption(lblSelVendors, q->size());
}

void Velmora::Private::startUp()
{
    // Selected list first, then the other, as the columns were always made.
    for (CenterListView *list : {lstSelectedCenters, lstCenters}) {
        // Full-row selection is the display option this control switches on.
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        const int width = Layout::pixels(Layout::designRect(list->objectName()).width);
        list->header()->resizeSection(CenterListModel::IdColumn, qRound(width / 5.0));
        list->header()->resizeSection(CenterListModel::NameColumn, qRound((4.0 * width) / 5.0));
        list->header()->resizeSection(CenterListModel::KeyColumn, 0);
        list->setColumnHidden(CenterListModel::KeyColumn, true);
        list->header()->setSortIndicator(CenterListModel::IdColumn, Qt::AscendingOrder);
    }
    lblVersionNumber->setText(QStringLiteral("Version Number: %1.%2.%3")
                                  .arg(VelmoraIdentity::VersionMajor)
                                  .arg(VelmoraIdentity::VersionMinor)
                                  .arg(VelmoraIdentity::VersionRevision));
}

Velmora::Velmora(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Private>(this))
{
    d->setupUi();
    d->startUp();
    resize(sizeHint());
}

Velmora::~Velmora() = default;

bool Velmora::setEmployeeID(const QString &ptEmployeeID)
{
    bool ok = false;
    const qlonglong value = ptEmployeeID.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return false;
    d->storedEmployeeId = qint32(value);
    return true;
}

void Velmora::setServerName(const QString &PtServerName)
{
    if (d->isBusy())
        return; // a host call from inside a running load or save
    d->storedServerName = PtServerName;
    d->LoadCrossReference(d->storedEmployeeId, d->storedServerName);
}

void Velmora::SaveToDatabase()
{
    d->saveToDatabase();
}

QString Velmora::urlEncode(const QString &theData) const
{
    return QString::fromLatin1(VelmoraInternal::urlEncode(theData));
}

void Velmora::setTimeout(std::chrono::milliseconds timeout)
{
    d->transfer->setTimeout(timeout.count() > 0 ? timeout : std::chrono::milliseconds(30000));
}

std::chrono::milliseconds Velmora::timeout() const
{
    return d->transfer->timeout();
}

int Velmora::timeoutMs() const
{
    return int(timeout().count());
}

void Velmora::setTimeoutMs(int ms)
{
    setTimeout(std::chrono::milliseconds(ms));
}

void Velmora::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    d->applyLayout(event->size());
}

void Velmora::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Captions may need other widths in another face or style.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        d->applyLayout(size());
}

QSize Velmora::sizeHint() const
{
    return Layout::designSize();
}
