#include "shell/velmora_p.h"

#include "core/changeset.h"
#include "core/urlencoder.h"
#include "shell/centerlistview.h"
#include "shell/translationloader.h"

#include <velmora/identity.h>

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <iterator>
#include <limits>

using namespace VelmoraInternal;

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

// Eats mouse and keyboard input for the widgets it watches while active()
// holds; everything else (paint, timers, the network) goes on.
class InputGuard : public QObject
{
public:
    InputGuard(QObject *parent, std::function<bool()> active)
        : QObject(parent)
        , m_active(std::move(active))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            if (m_active())
                return true;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool()> m_active;
};

bool holdsMoreThanBlanks(const QString &text)
{
    for (QChar c : text) {
        if (c != QLatin1Char(' '))
            return true;
    }
    return false;
}

} // namespace

Velmora::Private::Private(Velmora *control)
    : q(control)
    , session(std::make_unique<Session>())
{
}

Velmora::Private::~Private()
{
    // A host that deletes the control during a wait gets its call back at
    // once; the running exchange is dropped without a signal.
    for (const Wait &wait : std::as_const(waits))
        wait.loop->quit();
    session.reset();
    // The views go before the models they show.
    delete fraMain;
}

CenterListView *Velmora::Private::view(Side side) const
{
    return lists[int(side)];
}

void Velmora::Private::setupUi()
{
    q->setWindowTitle(QString::fromLatin1(VelmoraIdentity::Title));

    auto *outer = new QVBoxLayout(q);
    outer->setContentsMargins(0, 0, 0, 0);
    fraMain = makeChild<QWidget>(q, "fraMain");
    outer->addWidget(fraMain);

    // Children are made in the design's order.
    commitButton = makeChild<QPushButton>(fraMain, "cmdCommit", Velmora::tr("Commit to Database"));
    removeAllButton = makeChild<QPushButton>(fraMain, "cmdRemoveAll", QStringLiteral("<<"));
    addAllButton = makeChild<QPushButton>(fraMain, "cmdAddAll", QStringLiteral(">>"));
    addButton = makeChild<QPushButton>(fraMain, "cmdAdd", QStringLiteral(">"));
    removeButton = makeChild<QPushButton>(fraMain, "cmdDelete", QStringLiteral("<"));

    fraFind = makeChild<QGroupBox>(fraMain, "fraFind", Velmora::tr(" Find Center"));
    Frame1 = makeChild<QGroupBox>(fraFind, "Frame1", Velmora::tr(" List to search  "));
    listOption[1] = makeChild<QRadioButton>(Frame1, "optList1", Velmora::tr("Selected Centers"));
    listOption[0] = makeChild<QRadioButton>(Frame1, "optList0", Velmora::tr("Non Selected Centers"));
    findButton = makeChild<QPushButton>(fraFind, "cmdFind", Velmora::tr("Find"));
    findOption[1] = makeChild<QRadioButton>(fraFind, "optFind1", Velmora::tr("ID"));
    searchBox[1] = makeChild<QLineEdit>(fraFind, "txtVendorID");
    findOption[0] = makeChild<QRadioButton>(fraFind, "optFind0", Velmora::tr("Name"));
    searchBox[0] = makeChild<QLineEdit>(fraFind, "txtVendorName");
    versionLabel = makeChild<QLabel>(fraFind, "lblVersionNumber",
                                     Velmora::tr("Version Number: %1.%2.%3")
                                         .arg(VelmoraIdentity::VersionMajor)
                                         .arg(VelmoraIdentity::VersionMinor)
                                         .arg(VelmoraIdentity::VersionRevision));

    progress = makeChild<QProgressBar>(fraMain, "prbLoad");
    progress->setTextVisible(false);
    progress->setAccessibleName(Velmora::tr("Loading"));
    // An idle bar would read as an empty text box: it shows only while busy,
    // and keeps its room meanwhile.
    QSizePolicy keepRoom = progress->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    progress->setSizePolicy(keepRoom);
    progress->setVisible(false);

    lists[0] = makeChild<CenterListView>(fraMain, "lstCenters");
    lists[1] = makeChild<CenterListView>(fraMain, "lstSelectedCenters");
    captions[1] = makeChild<QLabel>(fraMain, "lblSelVendors");
    captions[0] = makeChild<QLabel>(fraMain, "lblAllVendors");
    rules.list(Side::NonSelected)->setPendingToolTip(Velmora::tr("Will be unassigned on commit"));
    rules.list(Side::Selected)->setPendingToolTip(Velmora::tr("Will be assigned on commit"));
    for (Side side : {Side::NonSelected, Side::Selected}) {
        CenterListView *list = view(side);
        list->setModel(rules.list(side));
        QItemSelectionModel *own = list->selectionModel();
        list->setSelectionModel(rules.selection(side));
        delete own;
        list->setColumnHidden(CenterListModel::KeyColumn, true);
        list->header()->setSectionResizeMode(CenterListModel::NameColumn, QHeaderView::Stretch);
        list->header()->setSortIndicator(CenterListModel::IdColumn, Qt::AscendingOrder);
        captions[int(side)]->setBuddy(list);
    }
    lists[0]->setAccessibleName(Velmora::tr("Non Selected Active Centers"));
    lists[1]->setAccessibleName(Velmora::tr("Selected Centers"));
    searchBox[0]->setAccessibleName(Velmora::tr("Name"));
    searchBox[1]->setAccessibleName(Velmora::tr("ID"));

    // The pop-up is never shown as a menu bar of the control.
    removeMenu = new QMenu(q);
    removeMenu->setObjectName(QStringLiteral("mnuRemove"));
    removeMenu->setTitle(Velmora::tr("Remove"));
    removeAction = removeMenu->addAction(Velmora::tr("Remove"));
    removeAction->setObjectName(QStringLiteral("mnuRemoveItems"));

    auto *findGroup = new QButtonGroup(q);
    findGroup->addButton(findOption[0]);
    findGroup->addButton(findOption[1]);
    auto *listGroup = new QButtonGroup(q);
    listGroup->addButton(listOption[0]);
    listGroup->addButton(listOption[1]);

    // The arrangement of the design: the lists side by side under their
    // captions with the move buttons between them, the find panel under the
    // left list, the commit and the progress under the right one. The lists
    // share whatever room the host gives beyond that.
    auto *grid = new QGridLayout(fraMain);
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
    grid->addWidget(fraFind, 2, 0, 1, 2);
    auto *commitColumn = new QVBoxLayout;
    commitColumn->setContentsMargins(8, 36, 0, 0);
    commitColumn->setSpacing(23);
    commitColumn->addWidget(commitButton, 0, Qt::AlignRight);
    commitColumn->addWidget(progress);
    commitColumn->addStretch();
    grid->addLayout(commitColumn, 2, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);

    auto *findGrid = new QGridLayout(fraFind);
    findGrid->setContentsMargins(8, 2, 8, 2);
    findGrid->setHorizontalSpacing(4);
    findGrid->setVerticalSpacing(2);
    findGrid->addWidget(findOption[1], 0, 0);
    findGrid->addWidget(searchBox[1], 0, 1, Qt::AlignLeft);
    findGrid->addWidget(findOption[0], 1, 0);
    findGrid->addWidget(searchBox[0], 1, 1, 1, 2);
    auto *listChoice = new QVBoxLayout(Frame1);
    listChoice->setContentsMargins(8, 0, 8, 2);
    listChoice->setSpacing(0);
    listChoice->addWidget(listOption[0]);
    listChoice->addWidget(listOption[1]);
    auto *findRow = new QHBoxLayout;
    findRow->setSpacing(16);
    findRow->addWidget(Frame1);
    findRow->addWidget(findButton, 0, Qt::AlignBottom);
    findRow->addStretch();
    findGrid->addLayout(findRow, 2, 0, 1, 3);
    findGrid->addWidget(versionLabel, 3, 0, 1, 3);
    findGrid->setColumnStretch(2, 1);

    // Tab order of the design; a box that cannot be typed in takes no focus.
    QWidget *chain[] = {commitButton, removeAllButton, addAllButton, addButton, removeButton, listOption[1],
                        listOption[0], findButton, findOption[1], searchBox[1], findOption[0], searchBox[0],
                        lists[0], lists[1]};
    for (size_t i = 1; i < std::size(chain); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);

    fitToFont();
    applyState();

    // Input to the control's own widgets waits while it is busy; the pop-up
    // menu and message boxes are not among them.
    inputGuard = new InputGuard(q, [this] { return busy; });
    for (QWidget *child : q->findChildren<QWidget *>()) {
        if (child != removeMenu)
            child->installEventFilter(inputGuard);
    }
}

void Velmora::Private::fitToFont()
{
    // The design's sizes at its font; a larger font or a higher DPI grows
    // them so that no caption is clipped.
    const QFontMetrics metrics(q->font());
    const int moveWidth = std::max(41, metrics.horizontalAdvance(QStringLiteral(">>")) + 20);
    for (QPushButton *button : {addButton, addAllButton, removeAllButton, removeButton}) {
        button->setFixedWidth(moveWidth);
        button->setMinimumHeight(25);
    }
    commitButton->setMinimumWidth(std::max(112, metrics.horizontalAdvance(commitButton->text()) + 24));
    findButton->setMinimumWidth(std::max(65, metrics.horizontalAdvance(findButton->text()) + 24));
    commitButton->setMinimumHeight(25);
    findButton->setMinimumHeight(25);
    searchBox[1]->setFixedWidth(std::max(73, metrics.averageCharWidth() * 10));
    for (CenterListView *list : lists) {
        list->header()->resizeSection(CenterListModel::IdColumn,
                                      std::max(53, metrics.horizontalAdvance(QStringLiteral("000000")) + 8));
    }
}

void Velmora::Private::applyState()
{
    const ControlState &state = rules.state();
    addButton->setEnabled(state.addEnabled);
    addAllButton->setEnabled(state.addAllEnabled);
    removeButton->setEnabled(state.removeEnabled);
    removeAllButton->setEnabled(state.removeAllEnabled);
    commitButton->setEnabled(state.commitEnabled);
    findButton->setEnabled(state.findEnabled);
    for (int i = 0; i < 2; ++i) {
        listOption[i]->setEnabled(state.searchListEnabled[i]);
        findOption[i]->setEnabled(state.findModesEnabled);
        QLineEdit *box = searchBox[i];
        if (box->text() != state.searchText[i])
            box->setText(state.searchText[i]);
        const bool editable = state.searchEditable[i];
        box->setReadOnly(!editable);
        box->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
        // The inactive look is the button face, the active one the normal
        // field background, both from the control's palette.
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, q->palette().color(editable ? QPalette::Base : QPalette::Button));
        box->setPalette(palette);
        lists[i]->setMultiSelect(state.multiSelect[i]);
        captions[i]->setText(state.caption[i]);
        const CenterListModel *model = rules.list(Side(i));
        const int column = model->sortColumn() == CenterListModel::KeyColumn ? int(CenterListModel::IdColumn)
                                                                              : model->sortColumn();
        lists[i]->header()->setSortIndicator(column, model->sortOrder());
    }
    listOption[int(state.searchList)]->setChecked(true);
    findOption[int(state.findMode)]->setChecked(true);
    searchBox[int(FindMode::Id)]->setEnabled(state.idBoxEnabled);
    if (!busy) {
        progress->setRange(0, state.progressMaximum);
        progress->setValue(0);
    }
}

void Velmora::Private::connectUi()
{
    QObject::connect(&rules, &CrossReference::stateChanged, q, [this] { applyState(); });
    QObject::connect(&rules, &CrossReference::focusRequested, q, [this](Side side, int row) {
        view(side)->setFocus(Qt::OtherFocusReason);
        view(side)->scrollTo(rules.list(side)->index(row, 0), QAbstractItemView::EnsureVisible);
    });

    QObject::connect(addButton, &QPushButton::clicked, q, [this] { rules.moveOne(Side::NonSelected); });
    QObject::connect(removeButton, &QPushButton::clicked, q, [this] { rules.moveOne(Side::Selected); });
    QObject::connect(addAllButton, &QPushButton::clicked, q, [this] { rules.moveSelected(Side::NonSelected); });
    QObject::connect(removeAllButton, &QPushButton::clicked, q, [this] { rules.moveSelected(Side::Selected); });
    QObject::connect(commitButton, &QPushButton::clicked, q, [this] { commitFromButton(); });
    QObject::connect(removeAction, &QAction::triggered, q, [this] { rules.moveOne(Side::Selected); });

    for (Side side : {Side::NonSelected, Side::Selected}) {
        CenterListView *list = view(side);
        QObject::connect(list, &CenterListView::listClicked, q, [this, side] { rules.click(side); });
        QObject::connect(list, &CenterListView::listDoubleClicked, q, [this, side] { rules.moveOne(side); });
        QObject::connect(list, &CenterListView::activateKeyPressed, q, [this, side] { rules.moveOne(side); });
        QObject::connect(list, &CenterListView::headerClicked, q,
                         [this, side](int header) { rules.headerClicked(side, header); });
        // Dragging the selection into the other list is the multiple move.
        QObject::connect(list, &CenterListView::centersDropped, q, [this, side](QObject *source) {
            if (source == view(otherSide(side)))
                rules.moveSelected(otherSide(side));
        });
    }
    QObject::connect(view(Side::Selected), &CenterListView::deleteKeyPressed, q,
                     [this] { rules.moveOne(Side::Selected); });
    QObject::connect(view(Side::Selected), &CenterListView::popupRequested, q, [this](const QPoint &at) {
        if (rules.canOpenRemoveMenu())
            removeMenu->popup(at);
    });

    for (FindMode mode : {FindMode::Name, FindMode::Id}) {
        QObject::connect(findOption[int(mode)], &QRadioButton::clicked, q, [this, mode] { rules.chooseFindMode(mode); });
        QLineEdit *box = searchBox[int(mode)];
        QObject::connect(box, &QLineEdit::textChanged, q,
                         [this, mode](const QString &text) { rules.setSearchText(mode, text); });
        // Enter in the box that can be typed in presses Find.
        QObject::connect(box, &QLineEdit::returnPressed, q, [this, box] {
            if (!box->isReadOnly() && findButton->isEnabled())
                find();
        });
    }
    for (Side side : {Side::NonSelected, Side::Selected})
        QObject::connect(listOption[int(side)], &QRadioButton::clicked, q, [this, side] { rules.chooseSearchList(side); });
    QObject::connect(findButton, &QPushButton::clicked, q, [this] { find(); });

    QObject::connect(session.get(), &Session::loaded, q, [this](const CenterDocument &document) { onLoaded(document); });
    QObject::connect(session.get(), &Session::loadFailed, q, [this](const QString &reason) { onLoadFailed(reason); });
    QObject::connect(session.get(), &Session::committed, q, [this](const QString &answer) { onCommitted(answer); });
    QObject::connect(session.get(), &Session::commitFailed, q,
                     [this](const QString &reason, const QString &details) { onCommitFailed(reason, details); });
    QObject::connect(session.get(), &Session::busyChanged, q, [this] { refreshBusy(); });
}

void Velmora::Private::refreshBusy()
{
    const bool now = session->isBusy() || awaitingReload;
    if (now == busy)
        return;
    busy = now;
    if (busy) {
        q->setCursor(Qt::WaitCursor);
        progress->setRange(0, 0);
    } else {
        q->unsetCursor();
        progress->setRange(0, rules.state().progressMaximum);
        progress->setValue(0);
    }
    progress->setVisible(busy);
    Q_EMIT q->busyChanged(busy);
}

bool Velmora::Private::wait(const std::function<bool()> &done)
{
    if (done())
        return true;
    const QPointer<Velmora> alive(q);
    QEventLoop loop;
    waits.append({&loop, &done});
    // No input is excluded here: the rest of the host works on, and the
    // control's own widgets hold their input while it is busy.
    loop.exec();
    if (!alive)
        return false;
    waits.removeIf([&](const Wait &wait) { return wait.loop == &loop; });
    return true;
}

void Velmora::Private::wakeWaits()
{
    for (const Wait &wait : std::as_const(waits)) {
        if ((*wait.done)())
            wait.loop->quit();
    }
}

quint64 Velmora::Private::startLoad()
{
    // In Designer a server is only stored.
    if (designMode)
        return loadsStarted;
    // A load throws away whatever was not committed.
    rules.beginLoad();
    lists[0]->setPlaceholderText(QString());
    lists[1]->setPlaceholderText(QString());
    session->load(serverName + QStringLiteral("/Velmora.asp?EmployeeID=") + QString::number(employeeId));
    refreshBusy();
    return ++loadsStarted;
}

void Velmora::Private::loadEnded()
{
    // Only the newest load reports: replaced ones never do.
    loadsEnded = loadsStarted;
    refreshBusy();
}

void Velmora::Private::onLoaded(const CenterDocument &document)
{
    rules.fill(document);
    loadEnded();
    const QPointer<Velmora> alive(q);
    Q_EMIT q->loaded();
    if (alive)
        wakeWaits();
}

void Velmora::Private::onLoadFailed(const QString &reason)
{
    rules.fail();
    lists[0]->setPlaceholderText(reason);
    lists[1]->setPlaceholderText(reason);
    loadEnded();
    const QPointer<Velmora> alive(q);
    Q_EMIT q->loadFailed(reason);
    if (alive)
        wakeWaits();
}

Velmora::Private::CommitStart Velmora::Private::startCommit(bool reloadAfter)
{
    if (designMode)
        return CommitStart::NothingToSend; // nor does anything go out
    if (session->isCommitting())
        return CommitStart::AlreadyRunning;
    QStringList statements;
    if (!rules.buildStatements(employeeId, &statements)) {
        showMessage(Velmora::tr("Error Occoured"), QMessageBox::Critical, Velmora::tr("Information"),
                    Velmora::tr("More than %1 changes cannot be saved at once.").arg(ChangeSet::MaxStatements));
        return CommitStart::Refused;
    }
    const QByteArray body = ChangeSet::formBody(statements);
    if (body.isEmpty())
        return CommitStart::NothingToSend;
    reloadAfterCommit = reloadAfter;
    session->commit(serverName + QStringLiteral("/Velmora.asp"), body);
    ++commitsStarted;
    refreshBusy();
    return CommitStart::Sent;
}

void Velmora::Private::commitFromButton()
{
    if (session->isCommitting() || awaitingReload || designMode)
        return;
    rules.beginCommit();
    switch (startCommit(true)) {
    case CommitStart::NothingToSend:
        // Nothing to save: the lists are reloaded all the same.
        startLoad();
        break;
    case CommitStart::Refused:
        // Nothing was sent: the changes stay for the operator.
        rules.commitFailed();
        break;
    case CommitStart::Sent:
    case CommitStart::AlreadyRunning:
        break;
    }
}

void Velmora::Private::onCommitted(const QString &answer)
{
    commitsEnded = commitsStarted;
    const bool reload = reloadAfterCommit;
    if (reload)
        awaitingReload = true;
    refreshBusy();
    const QPointer<Velmora> alive(q);
    Q_EMIT q->committed(answer);
    if (!alive)
        return;
    // The operator reads the answer first; the reload follows its box.
    const auto reloadNow = [this, reload] {
        if (!reload)
            return;
        awaitingReload = false;
        startLoad();
    };
    if (holdsMoreThanBlanks(answer))
        showMessage(answer, QMessageBox::Information, QString::fromLatin1(VelmoraIdentity::Title), QString(), reloadNow);
    else
        reloadNow();
    wakeWaits();
}

void Velmora::Private::onCommitFailed(const QString &reason, const QString &details)
{
    commitsEnded = commitsStarted;
    // Nothing is reloaded: every pending change stays for a retry.
    if (reloadAfterCommit)
        rules.commitFailed();
    refreshBusy();
    const QPointer<Velmora> alive(q);
    Q_EMIT q->commitFailed(reason);
    if (!alive)
        return;
    showMessage(Velmora::tr("Error During saving to Database"), QMessageBox::NoIcon, QString(),
                details.isEmpty() ? reason : reason + QLatin1Char('\n') + details);
    wakeWaits();
}

void Velmora::Private::find()
{
    if (rules.find() < 0)
        showMessage(Velmora::tr("Not found"), QMessageBox::Information);
}

void Velmora::Private::showMessage(const QString &text, QMessageBox::Icon icon, const QString &title,
                                   const QString &informativeText, const std::function<void()> &closed)
{
    // Modal to the control's window but not a nested event loop: the box
    // reports its end through finished().
    auto *box = new QMessageBox(icon, title.isEmpty() ? QString::fromLatin1(VelmoraIdentity::Title) : title, text,
                                QMessageBox::Ok, q);
    box->setObjectName(QStringLiteral("velmoraMessageBox"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!informativeText.isEmpty())
        box->setInformativeText(informativeText);
    if (closed)
        QObject::connect(box, &QMessageBox::finished, q, closed);
    box->open();
}

Velmora::Velmora(QWidget *parent)
    : QWidget(parent)
{
    // Every text the control builds, its rules' included, comes after this.
    loadTranslation();
    d = std::make_unique<Private>(this);
    d->setupUi();
    d->connectUi();
    resize(sizeHint());
}

Velmora::~Velmora() = default;

bool Velmora::setEmployeeID(const QString &ptEmployeeID)
{
    bool ok = false;
    const qlonglong value = ptEmployeeID.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return false;
    d->employeeId = qint32(value);
    return true;
}

qint32 Velmora::employeeID() const
{
    return d->employeeId;
}

void Velmora::setServerName(const QString &PtServerName)
{
    load(PtServerName);
    const quint64 ticket = d->loadsStarted;
    // Done when this load has ended or a newer one has replaced it.
    d->wait([this, ticket] { return d->loadsEnded >= ticket || d->loadsStarted > ticket; });
}

QString Velmora::serverName() const
{
    return d->serverName;
}

void Velmora::load(const QString &serverName)
{
    d->serverName = serverName;
    d->startLoad();
}

void Velmora::SaveToDatabase()
{
    if (d->startCommit(false) != Private::CommitStart::Sent)
        return;
    const quint64 ticket = d->commitsStarted;
    d->wait([this, ticket] { return d->commitsEnded >= ticket; });
}

void Velmora::commit()
{
    d->commitFromButton();
}

QString Velmora::urlEncode(const QString &theData) const
{
    return QString::fromLatin1(VelmoraInternal::urlEncode(theData));
}

void Velmora::setTimeout(std::chrono::milliseconds timeout)
{
    d->session->setTimeout(timeout.count() > 0 ? timeout : std::chrono::milliseconds(30000));
}

std::chrono::milliseconds Velmora::timeout() const
{
    return d->session->timeout();
}

bool Velmora::isBusy() const
{
    return d->busy;
}

QString Velmora::employeeIDText() const
{
    return QString::number(d->employeeId);
}

void Velmora::enterDesignMode()
{
    d->designMode = true;
}

int Velmora::timeoutMs() const
{
    return int(timeout().count());
}

void Velmora::setTimeoutMs(int ms)
{
    setTimeout(std::chrono::milliseconds(ms));
}

QSize Velmora::sizeHint() const
{
    // The design's size, or more when the font needs it.
    return QWidget::sizeHint().expandedTo(QSize(583, 348));
}

void Velmora::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        d->fitToFont();
}
