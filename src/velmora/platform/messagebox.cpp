#include "messagebox.h"

#include <velmora/identity.h>

namespace VelmoraInternal {

void showMessage(QWidget *parent, const QString &text, QMessageBox::Icon icon,
                 const QString &title, const QString &informativeText)
{
    QMessageBox box(icon, title.isEmpty() ? QString::fromLatin1(VelmoraIdentity::Title) : title, text,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("velmoraMessageBox"));
    box.setTextFormat(Qt::PlainText);
    if (!informativeText.isEmpty())
        box.setInformativeText(informativeText);
    box.exec();
}

} // namespace VelmoraInternal
