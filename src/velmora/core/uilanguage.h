// Which translation an operator reads. The texts are written in English;
// a catalogue exists for a few other languages.
#pragma once

#include <QString>
#include <QStringList>

namespace VelmoraInternal {

// The catalogue to load for an operator whose languages are uiLanguages
// (as QLocale::uiLanguages() lists them, most preferred first), given the
// catalogues there are, by language ("de", "nl", …). Empty when English, or the C
// locale, comes before every language with a catalogue: the texts are then
// used as written.
QString catalogueFor(const QStringList &uiLanguages, const QStringList &catalogues);

// The catalogues in a directory of files named prefix + language + ".qm".
QStringList cataloguesIn(const QString &directory, const QString &prefix);

} // namespace VelmoraInternal
