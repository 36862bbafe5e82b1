#include "readericons.h"

#include <array>

namespace {

struct IconName
{
    QLatin1String own;     // the picture under ":/images/"
    QLatin1String theme;   // the freedesktop name of the same meaning; empty when there is none
};

// Pictures without a standard name of the same meaning (notes, the panels, the contents'
// book) are always ours.
constexpr std::array<IconName, 29> kNames = {{
    {QLatin1String("Back"), QLatin1String("go-previous")},
    {QLatin1String("Forward"), QLatin1String("go-next")},
    {QLatin1String("Home"), QLatin1String("go-home")},
    {QLatin1String("ZoomIn"), QLatin1String("zoom-in")},
    {QLatin1String("ZoomOut"), QLatin1String("zoom-out")},
    {QLatin1String("FullScreen"), QLatin1String("view-fullscreen")},
    {QLatin1String("Print"), QLatin1String("document-print")},
    {QLatin1String("PrintPreview"), QLatin1String("document-print-preview")},
    {QLatin1String("SaveAs"), QLatin1String("document-save-as")},
    {QLatin1String("Extract"), QLatin1String()},
    {QLatin1String("Copy"), QLatin1String("edit-copy")},
    {QLatin1String("Note"), QLatin1String()},
    {QLatin1String("unNote"), QLatin1String()},
    {QLatin1String("BookMark"), QLatin1String("bookmark-new")},
    {QLatin1String("Quit"), QLatin1String("application-exit")},
    {QLatin1String("Colors"), QLatin1String()},
    {QLatin1String("About"), QLatin1String("help-about")},
    {QLatin1String("Help"), QLatin1String("help-contents")},
    {QLatin1String("TOC"), QLatin1String()},
    {QLatin1String("Open"), QLatin1String("document-open")},
    {QLatin1String("Icon"), QLatin1String("pagewick")},
    {QLatin1String("icon1"), QLatin1String()},
    {QLatin1String("icon9"), QLatin1String("x-office-document")},
    {QLatin1String("icon11"), QLatin1String("text-x-generic")},
    {QLatin1String("icon17"), QLatin1String()},
    {QLatin1String("icon21"), QLatin1String("text-html")},
    {QLatin1String("icon25"), QLatin1String("folder")},
    {QLatin1String("icon27"), QLatin1String("folder-open")},
    {QLatin1String("iconDefault"), QLatin1String("text-x-generic")},
}};

} // namespace

namespace ReaderIcons {

QString ownPath(const QString& name)
{
    return QLatin1String(":/images/") + name + QLatin1String(".svg");
}

QIcon icon(const QString& name)
{
    for (const IconName& entry : kNames) {
        if (entry.own != name)
            continue;
        const QIcon own(ownPath(name));
        return entry.theme.isEmpty() ? own : QIcon::fromTheme(entry.theme, own);
    }
    return QIcon::fromTheme(name);
}

} // namespace ReaderIcons
