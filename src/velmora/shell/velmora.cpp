#include "shell/velmora_p.h"

#include "protocol/formencoding.h"
#include "protocol/limits.h"
#include "shell/centerlistview.h"
#include "shell/controlkeys.h"
#include "shell/translationloader.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

using namespace VelmoraInternal;

Velmora::Private::Private(Velmora *control)
    : q(control)
{
}

Velmora::Private::~Private()
{
    // The views go before the models they show; the controller, which
    // filters their input, outlives them.
    delete form.body;
}

CenterListView *Velmora::Private::view(Side side) const
{
    return form.lists[int(side)];
}

void Velmora::Private::setupUi()
{
    form.setupUi(q, rules());
    form.showState(rules(), controller.isBusy());

    // While busy the control's own widgets take no mouse or keyboard input
    // (the controller's busy gate decides); the pop-up menu and message
    // boxes are not among them. Whatever moves or saves goes through the
    // gate all the same.
    for (QWidget *child : q->findChildren<QWidget *>()) {
        if (child != form.removeMenu)
            child->installEventFilter(&controller);
    }
}

void Velmora::Private::connectRules()
{
    QObject::connect(&rules(), &CrossReference::stateChanged, q, [this] { form.showState(rules(), controller.isBusy()); });
    QObject::connect(&rules(), &CrossReference::pendingChangesChanged, q, [this](bool pending) {
        q->setWindowModified(pending);
        Q_EMIT q->pendingChangesChanged(pending);
    });
    QObject::connect(&rules(), &CrossReference::focusRequested, q, [this](Side side, int row) {
        view(side)->setFocus(Qt::OtherFocusReason);
        view(side)->scrollTo(rules().list(side)->index(row, 0), QAbstractItemView::EnsureVisible);
    });
    QObject::connect(&rules(), &CrossReference::revealRequested, q, [this](Side side, int row) {
        view(side)->scrollTo(rules().list(side)->index(row, 0), QAbstractItemView::EnsureVisible);
    });
}

std::function<void()> Velmora::Private::gated(std::function<void(CrossReference &)> request)
{
    return [this, request] { controller.apply(request); };
}

void Velmora::Private::connectMoves()
{
    // Every move goes through the controller's busy gate, whichever input
    // asks for it.
    const auto moveOne = [this](Side from) { return gated([from](CrossReference &r) { r.moveOne(from); }); };
    const auto moveSelected = [this](Side from) { return gated([from](CrossReference &r) { r.moveSelected(from); }); };
    const auto moveByKey = [this](Side from) { return gated([from](CrossReference &r) { r.moveByKey(from); }); };
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
    QObject::connect(view(Side::Selected), &CenterListView::popupRequested, q, [this](const QPoint &at) {
        if (rules().canOpenRemoveMenu())
            form.removeMenu->popup(at);
    });
}

void Velmora::Private::connectKeys()
{
    // Undo, redo and find next go through the busy gate as the moves do; F5
    // is refused by the controller itself while busy.
    auto *keys = new ControlKeys(q, {{QKeySequence::Undo, false, gated([](CrossReference &r) { r.undo(); })},
                                     {QKeySequence::Redo, false, gated([](CrossReference &r) { r.redo(); })},
                                     {QKeySequence::FindNext, true, gated([this](CrossReference &r) { form.showFound(r.findNext(false)); })},
                                     {QKeySequence::FindPrevious, true, gated([this](CrossReference &r) { form.showFound(r.findNext(true)); })},
                                     {QKeySequence::Refresh, true, [this] { controller.reloadKeepingChanges(); }}});
    keys->setParent(form.body); // it calls into this Private: it goes with the children
}

void Velmora::Private::connectFindPanel()
{
    for (FindMode mode : {FindMode::Name, FindMode::Id}) {
        QObject::connect(form.findOption[int(mode)], &QRadioButton::clicked, q, [this, mode] { rules().chooseFindMode(mode); });
        QLineEdit *box = form.findBox[int(mode)];
        QObject::connect(box, &QLineEdit::textChanged, q,
                         [this, mode](const QString &text) { rules().setFindText(mode, text); });
        QObject::connect(box, &QLineEdit::returnPressed, q, [this, mode] { form.showFound(rules().findFromBox(mode)); });
    }
    for (Side side : {Side::NonSelected, Side::Selected})
        QObject::connect(form.listOption[int(side)], &QRadioButton::clicked, q, [this, side] { rules().chooseFindList(side); });
    QObject::connect(form.findButton, &QPushButton::clicked, q, [this] { form.showFound(rules().find()); });
}

void Velmora::Private::connectController()
{
    QObject::connect(&controller, &Controller::loadStarted, q, [this] {
        form.showPlaceholder(QString());
        form.showNotice(QString());
    });
    QObject::connect(&controller, &Controller::loaded, q, &Velmora::loaded);
    QObject::connect(&controller, &Controller::loadFailed, q, [this](const QString &reason, bool listsKept) {
        if (listsKept)
            form.showNotice(Velmora::tr("The reload failed; your changes are kept. %1").arg(reason));
        else
            form.showPlaceholder(reason);
        Q_EMIT q->loadFailed(reason);
    });
    QObject::connect(&controller, &Controller::reloadReported, q, [this](const ReloadReport &report) {
        form.showReloadReport(report);
        const QStringList changed = report.changedElsewhere + report.gone;
        if (!changed.isEmpty())
            Q_EMIT q->changedByOthers(changed);
    });
    QObject::connect(&controller, &Controller::committed, q, &Velmora::committed);
    QObject::connect(&controller, &Controller::answerShown, q, [this](const QString &answer, bool reloadFollows) {
        const auto closed = [this] { controller.answerClosed(); };
        form.showMessage(answer, QMessageBox::Information, {}, {}, reloadFollows ? std::function<void()>(closed) : nullptr);
    });
    QObject::connect(&controller, &Controller::commitFailed, q, [this](const QString &reason, const QString &details) {
        const QPointer<Velmora> alive(q);
        Q_EMIT q->commitFailed(reason);
        if (alive)
            form.showMessage(Velmora::tr("Error During saving to Database"), QMessageBox::NoIcon, QString(),
                             details.isEmpty() ? reason : reason + QLatin1Char('\n') + details);
    });
    QObject::connect(&controller, &Controller::tooManyChanges, q, [this] {
        form.showMessage(Velmora::tr("Error Occoured"), QMessageBox::Critical, Velmora::tr("Information"),
                         Velmora::tr("More than %1 changes cannot be saved at once.").arg(VelmoraProtocol::MaxCenters));
    });
    QObject::connect(&controller, &Controller::saveRefused, q, &Velmora::saveRefused);
    QObject::connect(&controller, &Controller::busyChanged, q, [this](bool busy) {
        form.showBusy(busy, rules().state().progressMaximum);
        Q_EMIT q->busyChanged(busy);
    });
}

Velmora::Velmora(QWidget *parent)
    : QWidget(parent)
{
    // Every text the control builds, its rules' included, comes after this.
    loadTranslation();
    d = std::make_unique<Private>(this);
    d->setupUi();
    d->connectRules();
    d->connectMoves();
    d->connectKeys();
    d->connectFindPanel();
    d->connectController();
    d->rules().setCollation(locale());
    resize(sizeHint());
}

Velmora::~Velmora() = default;

bool Velmora::setEmployeeID(const QString &employeeId)
{
    return d->controller.setEmployeeId(employeeId);
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
    return d->controller.saveAndWait();
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
