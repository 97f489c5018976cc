#include <velmora/velmora.h>

#include <QApplication>
#include <QSslConfiguration>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Velmora control;
    // As the README's HTTPS section: Velmora::Velmora brings Qt6::Network.
    QSslConfiguration::setDefaultConfiguration(QSslConfiguration::defaultConfiguration());
    std::puts("consumer ok");
    return 0;
}
