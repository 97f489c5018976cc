#include "core/uilanguage.h"

#include <QDir>

namespace VelmoraInternal {

QString catalogueFor(const QStringList &uiLanguages, const QStringList &catalogues)
{
    for (const QString &name : uiLanguages) {
        // "de-DE", "de_DE" and "de" all ask for the catalogue "de".
        const QString language = name.section(u'-', 0, 0).section(u'_', 0, 0);
        if (language == u"en" || language == u"C")
            return {};
        if (catalogues.contains(language))
            return language;
    }
    return {};
}

QStringList cataloguesIn(const QString &directory, const QString &prefix)
{
    QStringList found;
    const QStringList files = QDir(directory).entryList({prefix + QStringLiteral("*.qm")}, QDir::Files);
    for (const QString &file : files)
        found.append(file.mid(prefix.size()).chopped(3));
    return found;
}

} // namespace VelmoraInternal
