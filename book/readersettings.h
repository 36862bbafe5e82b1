#pragma once

#include <QSettings>

// The reader's settings store (on Linux ~/.config/Pagewick/size pos color.conf), shared by the
// window, the panels and every process of the reader. Nothing else names it.
inline QSettings readerSettings()
{
    return QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
}
