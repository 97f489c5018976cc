#include "shell/velmora_p.h"

#include "protocol/formencoding.h"
#include "protocol/limits.h"
#include "shell/centerlistview.h"
#include "shell/controlkeys.h"
#include "shell/translationloader.h"

#include <velmora/identity.h>

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

using namespace VelmoraInternal;

namespace {

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

// The first few IDs of a list and how many there are: "2 (34, 35)".
QString countedIds(const QStringList &ids)
{
    constexpr qsizetype Shown = 10;
    QString text = ids.mid(0, Shown).join(QStringLiteral(", "));
    if (ids.size() > Shown)
        text += QStringLiteral(", …");
    return QStringLiteral("%1 (%2)").arg(ids.size()).arg(text);
}

// One line for the operator on what a reload found, without a box: the
// rows it names are marked in the lists, or gone from them.
QString noticeText(const ReloadReport &report)
{
    QStringList parts;
    if (report.movesKept > 0)
        parts << Velmora::tr("Pending changes kept: %1.").arg(report.movesKept);
    if (report.movesAlreadyMade > 0)
        parts << Velmora::tr("Already made by another operator: %1.").arg(report.movesAlreadyMade);
    if (!report.changedElsewhere.isEmpty())
        parts << Velmora::tr("Changed by another operator, in italics: %1.").arg(countedIds(report.changedElsewhere));
    if (!report.gone.isEmpty())
        parts << Velmora::tr("No longer active: %1.").arg(countedIds(report.gone));
    return parts.join(u' ');
}

} // namespace

Velmora::Private::Private(Velmora *control)
    : q(control)
{
}

Velmora::Private::~Private()
{
    // The views go before the models they show, and the input guard before
    // the busy state it asks.
    delete inputGuard;
    delete form.body;
}

CenterListView *Velmora::Private::view(Side side) const
{
    return form.lists[int(side)];
}

void Velmora::Private::setupUi()
{
    form.setupUi(q, rules());
    applyState();

    // While busy the control's own widgets take no mouse or keyboard input,
    // so that nothing looks clickable that the busy gate would refuse; the
    // pop-up menu and message boxes are not among them. Whatever moves or
    // saves goes through the gate all the same.
    inputGuard = new InputGuard(q, [this] { return controller.isBusy(); });
    for (QWidget *child : q->findChildren<QWidget *>()) {
        if (child != form.removeMenu)
            child->installEventFilter(inputGuard);
    }
}

void Velmora::Private::applyState()
{
    const ControlState &state = rules().state();
    form.addButton->setEnabled(state.addEnabled);
    form.addAllButton->setEnabled(state.addAllEnabled);
    form.removeButton->setEnabled(state.removeEnabled);
    form.removeAllButton->setEnabled(state.removeAllEnabled);
    form.commitButton->setEnabled(state.commitEnabled);
    form.findButton->setEnabled(state.findEnabled);
    for (int i = 0; i < 2; ++i) {
        form.listOption[i]->setEnabled(state.findListEnabled[i]);
        form.findOption[i]->setEnabled(state.findModesEnabled);
        QLineEdit *box = form.findBox[i];
        if (box->text() != state.findText[i])
            box->setText(state.findText[i]);
        const bool editable = state.findEditable[i];
        box->setReadOnly(!editable);
        box->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
        // The inactive look is the button face, the active one the normal
        // field background, both from the control's palette.
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, q->palette().color(editable ? QPalette::Base : QPalette::Button));
        box->setPalette(palette);
        form.lists[i]->setMultiSelect(state.multiSelect[i]);
        form.captions[i]->setText(state.caption[i]);
        const CenterListModel *model = rules().list(Side(i));
        form.lists[i]->header()->setSortIndicator(shownColumnOf(model->sortColumn()), model->sortOrder());
    }
    form.listOption[int(state.findList)]->setChecked(true);
    form.findOption[int(state.findMode)]->setChecked(true);
    form.findBox[int(FindMode::Id)]->setEnabled(state.idBoxEnabled);
    if (state.pendingChanges != pending) {
        pending = state.pendingChanges;
        q->setWindowModified(pending);
        Q_EMIT q->pendingChangesChanged(pending);
    }
    if (!controller.isBusy()) {
        form.progress->setRange(0, state.progressMaximum);
        form.progress->setValue(0);
    }
}

void Velmora::Private::connectUi()
{
    QObject::connect(&rules(), &CrossReference::stateChanged, q, [this] { applyState(); });
    QObject::connect(&rules(), &CrossReference::focusRequested, q, [this](Side side, int row) {
        view(side)->setFocus(Qt::OtherFocusReason);
        view(side)->scrollTo(rules().list(side)->index(row, 0), QAbstractItemView::EnsureVisible);
    });
    QObject::connect(&rules(), &CrossReference::revealRequested, q, [this](Side side, int row) {
        view(side)->scrollTo(rules().list(side)->index(row, 0), QAbstractItemView::EnsureVisible);
    });
    connectMoves();
    connectFindPanel();
}

void Velmora::Private::connectMoves()
{
    // Every move, undo, redo and find next goes through the controller's
    // busy gate, whichever input asks for it.
    const auto gated = [this](std::function<void(CrossReference &)> request) {
        return [this, request] { controller.apply(request); };
    };
    const auto moveOne = [gated](Side from) { return gated([from](CrossReference &r) { r.moveOne(from); }); };
    const auto moveSelected = [gated](Side from) { return gated([from](CrossReference &r) { r.moveSelected(from); }); };
    const auto moveByKey = [gated](Side from) { return gated([from](CrossReference &r) { r.moveByKey(from); }); };
    QObject::connect(form.addButton, &QPushButton::clicked, q, moveOne(Side::NonSelected));
    QObject::connect(form.removeButton, &QPushButton::clicked, q, moveOne(Side::Selected));
    QObject::connect(form.addAllButton, &QPushButton::clicked, q, moveSelected(Side::NonSelected));
    QObject::connect(form.removeAllButton, &QPushButton::clicked, q, moveSelected(Side::Selected));
    QObject::connect(form.commitButton, &QPushButton::clicked, q, [this] { controller.commit(); });
    QObject::connect(form.removeAction, &QAction::triggered, q, moveOne(Side::Selected));

    for (Side side : {Side::NonSelected, Side::Selected}) {
        CenterListView *list = view(side);
        QObject::connect(list, &CenterListView::listClicked, q, [this, side] { rules().click(side); });
        QObject::connect(list, &CenterListView::listDoubleClicked, q, moveOne(side));
        QObject::connect(list, &CenterListView::activateKeyPressed, q, moveByKey(side));
        QObject::connect(list, &CenterListView::headerClicked, q,
                         [this, side](int header) { rules().headerClicked(side, header); });
        // Dragging the selection into the other list is the multiple move.
        QObject::connect(list, &CenterListView::centersDropped, q, moveSelected(otherSide(side)));
    }
    QObject::connect(view(Side::Selected), &CenterListView::deleteKeyPressed, q, moveByKey(Side::Selected));
    auto *keys = new ControlKeys(q, {{QKeySequence::Undo, false, gated([](CrossReference &r) { r.undo(); })},
                                     {QKeySequence::Redo, false, gated([](CrossReference &r) { r.redo(); })},
                                     {QKeySequence::FindNext, true, gated([this](CrossReference &) { find(false); })},
                                     {QKeySequence::FindPrevious, true, gated([this](CrossReference &) { find(true); })},
                                     // Refused by the controller itself while busy.
                                     {QKeySequence::Refresh, true, [this] { controller.reloadKeepingChanges(); }}});
    keys->setParent(form.body); // it calls into this Private: it goes with the children
    QObject::connect(view(Side::Selected), &CenterListView::popupRequested, q, [this](const QPoint &at) {
        if (rules().canOpenRemoveMenu())
            form.removeMenu->popup(at);
    });
}

void Velmora::Private::connectFindPanel()
{
    for (FindMode mode : {FindMode::Name, FindMode::Id}) {
        QObject::connect(form.findOption[int(mode)], &QRadioButton::clicked, q, [this, mode] { rules().chooseFindMode(mode); });
        QLineEdit *box = form.findBox[int(mode)];
        QObject::connect(box, &QLineEdit::textChanged, q,
                         [this, mode](const QString &text) { rules().setFindText(mode, text); });
        // Enter in the box that can be typed in presses Find.
        QObject::connect(box, &QLineEdit::returnPressed, q, [this, box] {
            if (!box->isReadOnly() && form.findButton->isEnabled())
                find();
        });
    }
    for (Side side : {Side::NonSelected, Side::Selected})
        QObject::connect(form.listOption[int(side)], &QRadioButton::clicked, q, [this, side] { rules().chooseFindList(side); });
    QObject::connect(form.findButton, &QPushButton::clicked, q, [this] { find(); });
}

void Velmora::Private::connectController()
{
    QObject::connect(&controller, &Controller::loadStarted, q, [this] {
        form.lists[0]->setPlaceholderText(QString());
        form.lists[1]->setPlaceholderText(QString());
        setNotice(QString());
    });
    QObject::connect(&controller, &Controller::loaded, q, &Velmora::loaded);
    QObject::connect(&controller, &Controller::loadFailed, q, [this](const QString &reason, bool listsKept) {
        if (listsKept) {
            setNotice(Velmora::tr("The reload failed; your changes are kept. %1").arg(reason));
        } else {
            form.lists[0]->setPlaceholderText(reason);
            form.lists[1]->setPlaceholderText(reason);
        }
        Q_EMIT q->loadFailed(reason);
    });
    QObject::connect(&controller, &Controller::reloadReported, q, [this](const ReloadReport &report) {
        setNotice(noticeText(report));
        const QStringList changed = report.changedElsewhere + report.gone;
        if (!changed.isEmpty())
            Q_EMIT q->changedByOthers(changed);
    });
    QObject::connect(&controller, &Controller::committed, q, &Velmora::committed);
    QObject::connect(&controller, &Controller::answerShown, q, [this](const QString &answer, bool reloadFollows) {
        std::function<void()> closed;
        if (reloadFollows)
            closed = [this] { controller.answerClosed(); };
        showMessage(answer, QMessageBox::Information, QString::fromLatin1(VelmoraIdentity::Title), QString(), closed);
    });
    QObject::connect(&controller, &Controller::commitFailed, q,
                     [this](const QString &reason, const QString &details) {
                         const QPointer<Velmora> control(q);
                         Q_EMIT q->commitFailed(reason);
                         if (control)
                             showMessage(Velmora::tr("Error During saving to Database"), QMessageBox::NoIcon, QString(),
                                         details.isEmpty() ? reason : reason + QLatin1Char('\n') + details);
                     });
    QObject::connect(&controller, &Controller::tooManyChanges, q, [this] {
        showMessage(Velmora::tr("Error Occoured"), QMessageBox::Critical, Velmora::tr("Information"),
                    Velmora::tr("More than %1 changes cannot be saved at once.").arg(VelmoraProtocol::MaxCenters));
    });
    QObject::connect(&controller, &Controller::saveRefused, q, &Velmora::saveRefused);
    QObject::connect(&controller, &Controller::busyChanged, q, [this](bool busy) { applyBusy(busy); });
}

void Velmora::Private::setNotice(const QString &text)
{
    // The label may be too small for all of it: the tool tip has it whole.
    form.notice->setText(text);
    form.notice->setToolTip(text);
}

void Velmora::Private::applyBusy(bool busy)
{
    if (busy) {
        q->setCursor(Qt::WaitCursor);
        form.progress->setRange(0, 0);
    } else {
        q->unsetCursor();
        form.progress->setRange(0, rules().state().progressMaximum);
        form.progress->setValue(0);
    }
    form.progress->setVisible(busy);
    Q_EMIT q->busyChanged(busy);
}

void Velmora::Private::find(std::optional<bool> backwards)
{
    // F3 and Shift+F3 need what the Find button needs: a text to look for.
    if (backwards && !rules().state().findEnabled)
        return;
    if ((backwards ? rules().findNext(*backwards) : rules().find()) < 0)
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
    d->connectController();
    d->rules().setCollation(locale());
    resize(sizeHint());
}

Velmora::~Velmora() = default;

bool Velmora::setEmployeeID(const QString &employeeId)
{
    bool ok = false;
    const qlonglong value = employeeId.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return false;
    d->controller.setEmployeeId(qint32(value));
    return true;
}

qint32 Velmora::employeeID() const
{
    return d->controller.employeeId();
}

void Velmora::setServerName(const QString &serverName)
{
    d->controller.setServerName(serverName);
    d->controller.waitForLoad(d->controller.load());
}

QString Velmora::serverName() const
{
    return d->controller.serverName();
}

void Velmora::load(const QString &serverName)
{
    d->controller.setServerName(serverName);
    d->controller.load();
}

void Velmora::setServerAddress(const QString &serverName)
{
    load(serverName);
}

bool Velmora::SaveToDatabase()
{
    bool refused = false;
    const quint64 ticket = d->controller.save(&refused);
    if (refused)
        return false;
    // A wait that ends with the control gone must not touch it.
    if (ticket && !d->controller.waitForSave(ticket))
        return false;
    return !hasPendingChanges();
}

void Velmora::commit()
{
    d->controller.commit();
}

void Velmora::reloadKeepingChanges()
{
    d->controller.reloadKeepingChanges();
}

QString Velmora::urlEncode(const QString &text) const
{
    return QString::fromLatin1(VelmoraProtocol::urlEncode(text));
}

void Velmora::setTimeout(std::chrono::milliseconds timeout)
{
    d->controller.setTimeout(timeout);
}

std::chrono::milliseconds Velmora::timeout() const
{
    return d->controller.timeout();
}

bool Velmora::isBusy() const
{
    return d->controller.isBusy();
}

QString Velmora::employeeIDText() const
{
    return QString::number(employeeID());
}

void Velmora::enterDesignMode()
{
    d->controller.enterDesignMode();
}

int Velmora::timeoutMs() const
{
    return int(timeout().count());
}

void Velmora::setTimeout(int milliseconds)
{
    setTimeout(std::chrono::milliseconds(milliseconds));
}

bool Velmora::hasPendingChanges() const
{
    return d->rules().state().pendingChanges;
}

QSize Velmora::sizeHint() const
{
    // 583 x 348 pixels, the size the control has always started at, or more
    // when the font needs it.
    return QWidget::sizeHint().expandedTo(QSize(583, 348));
}

void Velmora::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        d->form.fitToFont(font());
    else if (event->type() == QEvent::LocaleChange)
        d->rules().setCollation(locale());
}
