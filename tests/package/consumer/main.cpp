#include <velmora/velmora.h>

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Velmora control;
    if (!control.setEmployeeID(QStringLiteral("7")) || control.setEmployeeID(QStringLiteral("x")))
        return 1;
    std::puts("consumer ok");
    return 0;
}
