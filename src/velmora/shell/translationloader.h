// The control's own translation: chosen by the host's locale and installed
// by the library itself, as the libraries of KDE Frameworks do, so that a
// host needs no code for it.
#pragma once

namespace VelmoraInternal {

// Installs the translation of the control's texts that matches QLocale()
// (the host's QLocale::setDefault(), else the system's), unless the host has
// installed a translation of them itself. Called as each control is
// created, before it builds a text: the first control of a process loads it,
// later ones only follow a change of the default locale.
void loadTranslation();

} // namespace VelmoraInternal
