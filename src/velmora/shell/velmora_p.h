// The control's insides: the child widgets and the window-free controller
// they show. The handlers forward input to the controller and its rules and
// apply the state they decide.
#pragma once

#include <velmora/velmora.h>

#include "core/controller.h"
#include "shell/controlform.h"

#include <QMessageBox>

#include <functional>
#include <optional>

namespace VelmoraInternal {
class CenterListView;
}

class Velmora::Private
{
public:
    explicit Private(Velmora *control);
    ~Private();

    void setupUi();
    void connectUi();
    void connectMoves();
    void connectFindPanel();
    void connectController();
    void applyState();
    void applyBusy(bool busy);
    void setNotice(const QString &text);
    VelmoraInternal::CenterListView *view(VelmoraInternal::Side side) const;
    VelmoraInternal::CrossReference &rules() { return controller.rules(); }

    // The Find button, or with a direction F3 and Shift+F3.
    void find(std::optional<bool> backwards = std::nullopt);
    void showMessage(const QString &text, QMessageBox::Icon icon, const QString &title = QString(),
                     const QString &informativeText = QString(), const std::function<void()> &closed = {});

    Velmora *q;
    VelmoraInternal::Controller controller;
    QObject *inputGuard = nullptr;
    bool pending = false; // what pendingChangesChanged() last said

    VelmoraInternal::ControlForm form;
};
