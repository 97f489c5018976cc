#include "shell/controlform.h"

#include "core/crossreference.h"
#include "shell/centerlistview.h"

#include <velmora/identity.h>
#include <velmora/velmora.h>

#include <QAction>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <iterator>

namespace VelmoraInternal {

namespace {

template<typename T>
T *makeChild(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *child = new T(parent);
    child->setObjectName(QLatin1String(name));
    if constexpr (!std::is_same_v<T, QLineEdit> && !std::is_same_v<T, QProgressBar>
                  && !std::is_same_v<T, CenterListView> && !std::is_same_v<T, QWidget>) {
        if (!text.isNull()) {
            if constexpr (std::is_same_v<T, QGroupBox>)
                child->setTitle(text);
            else
                child->setText(text);
        }
    }
    return child;
}

} // namespace

void ControlForm::setupUi(QWidget *control, CrossReference &rules)
{
    m_control = control;
    control->setWindowTitle(QString::fromLatin1(VelmoraIdentity::Title));

    auto *outer = new QVBoxLayout(control);
    outer->setContentsMargins(0, 0, 0, 0);
    body = makeChild<QWidget>(control, "fraMain");
    outer->addWidget(body);

    // Children are made in the order hosts have always found them in.
    makeButtons();
    makeFindPanel();
    makeProgress();
    makeListsAndNotice();
    showModels(rules);
    makePopupAndOptionGroups();
    layOutBody();
    layOutFindPanel();
    setTabOrder();
    fitToFont(control->font());
}

void ControlForm::makeButtons()
{
    commitButton = makeChild<QPushButton>(body, "cmdCommit", Velmora::tr("Commit to Database"));
    removeAllButton = makeChild<QPushButton>(body, "cmdRemoveAll", QStringLiteral("<<"));
    addAllButton = makeChild<QPushButton>(body, "cmdAddAll", QStringLiteral(">>"));
    addButton = makeChild<QPushButton>(body, "cmdAdd", QStringLiteral(">"));
    removeButton = makeChild<QPushButton>(body, "cmdDelete", QStringLiteral("<"));
}

void ControlForm::makeFindPanel()
{
    findPanel = makeChild<QGroupBox>(body, "fraFind", Velmora::tr(" Find Center"));
    listChoice = makeChild<QGroupBox>(findPanel, "Frame1", Velmora::tr(" List to search  "));
    listOption[1] = makeChild<QRadioButton>(listChoice, "optList1", Velmora::tr("Selected Centers"));
    listOption[0] = makeChild<QRadioButton>(listChoice, "optList0", Velmora::tr("Non Selected Centers"));
    findButton = makeChild<QPushButton>(findPanel, "cmdFind", Velmora::tr("Find"));
    findOption[1] = makeChild<QRadioButton>(findPanel, "optFind1", Velmora::tr("ID"));
    findBox[1] = makeChild<QLineEdit>(findPanel, "txtVendorID");
    findOption[0] = makeChild<QRadioButton>(findPanel, "optFind0", Velmora::tr("Name"));
    findBox[0] = makeChild<QLineEdit>(findPanel, "txtVendorName");
    findBox[0]->setAccessibleName(Velmora::tr("Name"));
    findBox[1]->setAccessibleName(Velmora::tr("ID"));
    versionLabel = makeChild<QLabel>(findPanel, "lblVersionNumber",
                                     Velmora::tr("Version Number: %1.%2.%3")
                                         .arg(VelmoraIdentity::VersionMajor)
                                         .arg(VelmoraIdentity::VersionMinor)
                                         .arg(VelmoraIdentity::VersionRevision));
}

void ControlForm::makeProgress()
{
    progress = makeChild<QProgressBar>(body, "prbLoad");
    progress->setTextVisible(false);
    progress->setAccessibleName(Velmora::tr("Loading"));
    // An idle bar would read as an empty text box: it shows only while busy,
    // and keeps its room meanwhile.
    QSizePolicy keepRoom = progress->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    progress->setSizePolicy(keepRoom);
    progress->setVisible(false);
}

void ControlForm::makeListsAndNotice()
{
    lists[0] = makeChild<CenterListView>(body, "lstCenters");
    lists[1] = makeChild<CenterListView>(body, "lstSelectedCenters");
    captions[1] = makeChild<QLabel>(body, "lblSelVendors");
    captions[0] = makeChild<QLabel>(body, "lblAllVendors");
    lists[0]->setAccessibleName(Velmora::tr("Non Selected Active Centers"));
    lists[1]->setAccessibleName(Velmora::tr("Selected Centers"));
    notice = makeChild<QLabel>(body, "notice");
    notice->setWordWrap(true);
    notice->setTextFormat(Qt::PlainText);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // It takes the room below the commit and asks for none: a long notice
    // must not grow the control inside its host.
    notice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    notice->setAccessibleName(Velmora::tr("Notice"));
}

void ControlForm::showModels(CrossReference &rules)
{
    rules.list(Side::NonSelected)->setPendingToolTip(Velmora::tr("Will be unassigned on commit"));
    rules.list(Side::Selected)->setPendingToolTip(Velmora::tr("Will be assigned on commit"));
    for (Side side : {Side::NonSelected, Side::Selected}) {
        CenterListView *list = lists[int(side)];
        rules.list(side)->setChangedElsewhereToolTip(Velmora::tr("Changed by another operator"));
        list->setModel(rules.list(side));
        QItemSelectionModel *own = list->selectionModel();
        list->setSelectionModel(rules.selection(side));
        delete own;
        list->setColumnHidden(CenterListModel::KeyColumn, true);
        list->header()->setSectionResizeMode(CenterListModel::NameColumn, QHeaderView::Stretch);
        list->header()->setSortIndicator(CenterListModel::IdColumn, Qt::AscendingOrder);
        captions[int(side)]->setBuddy(list);
    }
    lists[0]->setDropPartner(lists[1]);
    lists[1]->setDropPartner(lists[0]);
}

void ControlForm::makePopupAndOptionGroups()
{
    // The pop-up is never shown as a menu bar of the control.
    removeMenu = new QMenu(m_control);
    removeMenu->setObjectName(QStringLiteral("mnuRemove"));
    removeMenu->setTitle(Velmora::tr("Remove"));
    removeAction = removeMenu->addAction(Velmora::tr("Remove"));
    removeAction->setObjectName(QStringLiteral("mnuRemoveItems"));

    for (QRadioButton **options : {findOption, listOption}) {
        auto *group = new QButtonGroup(m_control);
        group->addButton(options[0]);
        group->addButton(options[1]);
    }
}

void ControlForm::layOutBody()
{
    // The lists side by side under their captions with the move buttons
    // between them, the find panel under the left list, the commit, the
    // progress and the notice under the right one. The lists share whatever
    // room the host gives beyond that.
    auto *grid = new QGridLayout(body);
    grid->setContentsMargins(7, 7, 6, 3);
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(0);
    grid->addWidget(captions[0], 0, 0);
    grid->addWidget(captions[1], 0, 2);
    grid->addWidget(lists[0], 1, 0);
    grid->addWidget(lists[1], 1, 2);
    auto *moves = new QVBoxLayout;
    moves->setSpacing(0);
    moves->addSpacing(40);
    for (QPushButton *button : {addButton, addAllButton, removeAllButton, removeButton})
        moves->addWidget(button);
    moves->addStretch();
    grid->addLayout(moves, 1, 1);
    grid->addWidget(findPanel, 2, 0, 1, 2);
    auto *commitColumn = new QVBoxLayout;
    commitColumn->setContentsMargins(8, 36, 0, 0);
    commitColumn->setSpacing(23);
    commitColumn->addWidget(commitButton, 0, Qt::AlignRight);
    auto *progressColumn = new QVBoxLayout;
    progressColumn->setSpacing(6);
    progressColumn->addWidget(progress);
    progressColumn->addWidget(notice, 1);
    commitColumn->addLayout(progressColumn, 1);
    grid->addLayout(commitColumn, 2, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);
}

void ControlForm::layOutFindPanel()
{
    auto *findGrid = new QGridLayout(findPanel);
    findGrid->setContentsMargins(8, 2, 8, 2);
    findGrid->setHorizontalSpacing(4);
    findGrid->setVerticalSpacing(2);
    findGrid->addWidget(findOption[1], 0, 0);
    findGrid->addWidget(findBox[1], 0, 1, Qt::AlignLeft);
    findGrid->addWidget(findOption[0], 1, 0);
    findGrid->addWidget(findBox[0], 1, 1, 1, 2);
    auto *listColumn = new QVBoxLayout(listChoice);
    listColumn->setContentsMargins(8, 0, 8, 2);
    listColumn->setSpacing(0);
    listColumn->addWidget(listOption[0]);
    listColumn->addWidget(listOption[1]);
    auto *findRow = new QHBoxLayout;
    findRow->setSpacing(16);
    findRow->addWidget(listChoice);
    findRow->addWidget(findButton, 0, Qt::AlignBottom);
    findRow->addStretch();
    findGrid->addLayout(findRow, 2, 0, 1, 3);
    findGrid->addWidget(versionLabel, 3, 0, 1, 3);
    findGrid->setColumnStretch(2, 1);
}

void ControlForm::setTabOrder()
{
    // From Commit through the buttons, the options and the find panel to the
    // lists; a box that cannot be typed in takes no focus (showState()).
    QWidget *chain[] = {commitButton, removeAllButton, addAllButton, addButton, removeButton, listOption[1],
                        listOption[0], findButton, findOption[1], findBox[1], findOption[0], findBox[0],
                        lists[0], lists[1]};
    for (size_t i = 1; i < std::size(chain); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void ControlForm::fitToFont(const QFont &font)
{
    // The sizes of the 8-point layout (move buttons 41 pixels wide, …); a
    // larger font or a higher DPI grows them so that no caption is clipped.
    const QFontMetrics metrics(font);
    const int moveWidth = std::max(41, metrics.horizontalAdvance(QStringLiteral(">>")) + 20);
    for (QPushButton *button : {addButton, addAllButton, removeAllButton, removeButton}) {
        button->setFixedWidth(moveWidth);
        button->setMinimumHeight(25);
    }
    commitButton->setMinimumWidth(std::max(112, metrics.horizontalAdvance(commitButton->text()) + 24));
    findButton->setMinimumWidth(std::max(65, metrics.horizontalAdvance(findButton->text()) + 24));
    commitButton->setMinimumHeight(25);
    findButton->setMinimumHeight(25);
    findBox[1]->setFixedWidth(std::max(73, metrics.averageCharWidth() * 10));
    for (CenterListView *list : lists) {
        list->header()->resizeSection(CenterListModel::IdColumn,
                                      std::max(53, metrics.horizontalAdvance(QStringLiteral("000000")) + 8));
    }
}

void ControlForm::showState(const CrossReference &rules, bool busy)
{
    const ControlState &state = rules.state();
    addButton->setEnabled(state.addEnabled);
    addAllButton->setEnabled(state.addAllEnabled);
    removeButton->setEnabled(state.removeEnabled);
    removeAllButton->setEnabled(state.removeAllEnabled);
    commitButton->setEnabled(state.commitEnabled);
    findButton->setEnabled(state.findEnabled);
    for (int i = 0; i < 2; ++i) {
        listOption[i]->setEnabled(state.findListEnabled[i]);
        findOption[i]->setEnabled(state.findModesEnabled);
        QLineEdit *box = findBox[i];
        if (box->text() != state.findText[i])
            box->setText(state.findText[i]);
        const bool editable = state.findEditable[i];
        box->setReadOnly(!editable);
        box->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
        // The inactive look is the button face, the active one the normal
        // field background, both from the control's palette.
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, m_control->palette().color(editable ? QPalette::Base : QPalette::Button));
        box->setPalette(palette);
        lists[i]->setMultiSelect(state.multiSelect[i]);
        captions[i]->setText(state.caption[i]);
        const CenterListModel *model = rules.list(Side(i));
        lists[i]->header()->setSortIndicator(shownColumnOf(model->sortColumn()), model->sortOrder());
    }
    listOption[int(state.findList)]->setChecked(true);
    findOption[int(state.findMode)]->setChecked(true);
    findBox[int(FindMode::Id)]->setEnabled(state.idBoxEnabled);
    if (!busy)
        resetProgress(state.progressMaximum);
}

void ControlForm::showBusy(bool busy, int progressMaximum)
{
    if (busy) {
        m_control->setCursor(Qt::WaitCursor);
        progress->setRange(0, 0);
    } else {
        m_control->unsetCursor();
        resetProgress(progressMaximum);
    }
    progress->setVisible(busy);
}

void ControlForm::resetProgress(int maximum)
{
    progress->setRange(0, maximum);
    progress->setValue(0);
}

void ControlForm::showNotice(const QString &text)
{
    // The label may be too small for all of it: the tool tip has it whole.
    notice->setText(text);
    notice->setToolTip(text);
}

void ControlForm::showReloadReport(const ReloadReport &report)
{
    // The first few IDs of a list and how many there are: "2 (34, 35)".
    const auto counted = [](const QStringList &ids) {
        constexpr qsizetype Shown = 10;
        QString text = ids.mid(0, Shown).join(QStringLiteral(", "));
        if (ids.size() > Shown)
            text += QStringLiteral(", …");
        return QStringLiteral("%1 (%2)").arg(ids.size()).arg(text);
    };
    // The rows it names are marked in the lists, or gone from them.
    QStringList parts;
    if (report.movesKept > 0)
        parts << Velmora::tr("Pending changes kept: %1.").arg(report.movesKept);
    if (report.movesAlreadyMade > 0)
        parts << Velmora::tr("Already made by another operator: %1.").arg(report.movesAlreadyMade);
    if (!report.changedElsewhere.isEmpty())
        parts << Velmora::tr("Changed by another operator, in italics: %1.").arg(counted(report.changedElsewhere));
    if (!report.gone.isEmpty())
        parts << Velmora::tr("No longer active: %1.").arg(counted(report.gone));
    showNotice(parts.join(u' '));
}

void ControlForm::showFound(std::optional<int> hit)
{
    if (hit && *hit < 0)
        showMessage(Velmora::tr("Not found"), QMessageBox::Information);
}

void ControlForm::showPlaceholder(const QString &text)
{
    lists[0]->setPlaceholderText(text);
    lists[1]->setPlaceholderText(text);
}

void ControlForm::showMessage(const QString &text, QMessageBox::Icon icon, const QString &title,
                              const QString &informativeText, const std::function<void()> &closed)
{
    // The box reports its end through finished().
    auto *box = new QMessageBox(icon, title.isEmpty() ? QString::fromLatin1(VelmoraIdentity::Title) : title, text,
                                QMessageBox::Ok, m_control);
    box->setObjectName(QStringLiteral("velmoraMessageBox"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!informativeText.isEmpty())
        box->setInformativeText(informativeText);
    if (closed)
        QObject::connect(box, &QMessageBox::finished, m_control, closed);
    box->open();
}

} // namespace VelmoraInternal
