// The control's insides: the child widgets and the window-free controller
// they show. The handlers forward input to the controller and its rules; the
// form shows what they decide.
#pragma once

#include <velmora/velmora.h>

#include "core/controller.h"
#include "shell/controlform.h"

#include <functional>

namespace VelmoraInternal {
class CenterListView;
}

class Velmora::Private
{
public:
    explicit Private(Velmora *control);
    ~Private();

    void setupUi();
    void connectRules();
    void connectMoves();
    void connectKeys();
    void connectFindPanel();
    void connectController();
    VelmoraInternal::CenterListView *view(VelmoraInternal::Side side) const;
    VelmoraInternal::CrossReference &rules() { return controller.rules(); }
    // The request, run through the controller's busy gate.
    std::function<void()> gated(std::function<void(VelmoraInternal::CrossReference &)> request);

    Velmora *q;
    VelmoraInternal::Controller controller;
    VelmoraInternal::ControlForm form;
};
