#include "shell/translationloader.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace VelmoraInternal {

namespace {

// The translator this library installed, and the locale it was chosen for.
QPointer<QTranslator> g_installed;
QString g_installedFor;

} // namespace

void loadTranslation()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    const QLocale locale;
    if (g_installed && g_installedFor == locale.name())
        return;
    if (g_installed) {
        QCoreApplication::removeTranslator(g_installed);
        delete g_installed;
    }
    // A host that translates the commit button's caption has installed a
    // translation of the control's texts; it wins. (Ours is checked only once
    // removed, so that it is never mistaken for the host's.)
    const char *probe = "Commit to Database";
    if (QCoreApplication::translate("Velmora", probe) != QLatin1String(probe))
        return;
    // The .qm files are built into the library as resources: no path to
    // look up, so the same lookup works from any install prefix, from the
    // build tree and in Qt Designer.
    auto *translator = new QTranslator(app);
    if (!translator->load(locale, QStringLiteral("velmora"), QStringLiteral("_"),
                          QStringLiteral(":/velmora/translations"))) {
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    g_installed = translator;
    g_installedFor = locale.name();
}

} // namespace VelmoraInternal
