#pragma once

#include <QIcon>
#include <QString>

// Every icon the reader shows is looked up here: the tool bar's and the menus' actions, the
// contents tree's entries and the window's own icon.
//
// Pagewick's own pictures are SVG drawings compiled in as ":/images/<name>.svg", drawn on a
// 16-pixel grid, so that they are drawn afresh, and sharp, at every size and scale factor
// (1, 1.25, 1.5, 2 ...). Drawing them takes Qt's SVG icon engine (Debian libqt6svg6); without it
// an own icon is null, not a blurred bitmap.
//
// Where the desktop's icon theme has an icon of the standard freedesktop name for the same
// meaning ("go-previous" for "Back", "folder" for a contents folder), that icon is taken, so
// that the reader looks like the other programs on the desktop; ours is the fallback. A name
// without an own picture gives the theme's icon of that name, or a null icon.
namespace ReaderIcons {

// The resource path of the own picture called `name`.
QString ownPath(const QString& name);
// The icon called `name` (an own picture's name, such as "Back" or "icon1").
QIcon icon(const QString& name);

} // namespace ReaderIcons
