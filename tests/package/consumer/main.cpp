#include <velmora/velmora.h>

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Velmora control;
    std::puts("consumer ok");
    return 0;
}
