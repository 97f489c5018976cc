// The control's message boxes: real QMessageBoxes, modal to the control.
#pragma once

#include <QMessageBox>
#include <QString>

namespace VelmoraInternal {

// Shows text with an OK button and waits until the operator closes it. An
// empty title gives the control's own title.
void showMessage(QWidget *parent, const QString &text, QMessageBox::Icon icon,
                 const QString &title = QString(), const QString &informativeText = QString());

} // namespace VelmoraInternal
