#include "shell/translationloader.h"

#include "core/uilanguage.h"

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
    // QTranslator::load(QLocale) would walk past an English entry (there is
    // no English catalogue) to the next language that has one.
    const QString directory = QStringLiteral(":/velmora/translations");
    const QString prefix = QStringLiteral("velmora_");
    const QString language = catalogueFor(QLocale().uiLanguages(), cataloguesIn(directory, prefix));
    if (g_installed && g_installedFor == language)
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
    if (language.isEmpty())
        return;
    auto *translator = new QTranslator(app);
    if (!translator->load(prefix + language, directory)) {
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    g_installed = translator;
    g_installedFor = language;
}

} // namespace VelmoraInternal
