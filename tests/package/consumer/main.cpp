#include <velmora/identity.h>
#include <velmora/velmora.h>

#include <QApplication>
#include <QLabel>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Velmora control;
    if (!control.setEmployeeID(QStringLiteral("7")) || control.setEmployeeID(QStringLiteral("x")))
        return 1;
    auto *version = control.findChild<QLabel *>(QStringLiteral("lblVersionNumber"));
    if (!version || version->text() != QStringLiteral("Version Number: 3.0.2"))
        return 2;
    if (std::strcmp(VelmoraIdentity::ClassId, "{92AA2752-FD2D-11D4-B95D-0008C7BBC99A}") != 0)
        return 3;
    std::puts("consumer ok");
    return 0;
}
