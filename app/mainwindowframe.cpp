// The main window's frame: the menu bar and the window's keys, the dock's width and state, the
// tool bar's style and overflow, the colours, and where the window opens.
//
// The menu bar's entries stand for the actions of the tool bar and the context menu: each
// entry is an action of its own, with the desktop's name and key for the command, that
// triggers the action it stands for and follows its enabled and checked state. So the tool bar
// and the context menu keep their texts, and a key does exactly what the entry does. The entries
// are actions of the window as well, so their keys work wherever the focus is (the page, a
// panel, the find bar), with the menu bar hidden and in full screen. The page view's own keys
// for the same commands are switched off (a key bound twice fires neither); keys a text field
// or the page itself takes for editing (copy, select all) stay theirs.

#include "mainwindow.h"

#include "appearance.h"
#include "readersettings.h"
#include "viewwidget.h"
#include "windowgeometry.h"

#include <QAction>
#include <QActionGroup>
#include <QDockWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <initializer_list>

namespace {

const QString kMenuBarKey = QStringLiteral("Reader/menuBar");
const QString kToolBarStyleKey = QStringLiteral("Reader/toolBarStyle");
const QString kWindowStateKey = QStringLiteral("Reader/windowState");
// Bumped when the window's docks or tool bars change, so that an old state is not applied.
constexpr int kWindowStateVersion = 1;

struct ToolBarStyle
{
    Qt::ToolButtonStyle style;
    const char* name;   // as stored
    const char* text;
};
// Icons only first: every button fits at the first-run size, each named by its tool tip.
constexpr ToolBarStyle kToolBarStyles[] = {
    {Qt::ToolButtonIconOnly, "iconsOnly", QT_TRANSLATE_NOOP("MainWindow", "&Icons Only")},
    {Qt::ToolButtonTextUnderIcon, "textUnderIcons", QT_TRANSLATE_NOOP("MainWindow", "Text &Under Icons")},
    {Qt::ToolButtonTextBesideIcon, "textBesideIcons", QT_TRANSLATE_NOOP("MainWindow", "Text &Beside Icons")},
    {Qt::ToolButtonFollowStyle, "desktop", QT_TRANSLATE_NOOP("MainWindow", "&Follow the Desktop")},
};

// Tabs with less room beside their titles: the panel dock starts 231 pixels wide, and the
// titles "Contents", "Search", "Bookmarks" and "Index" should all stay readable in it, without
// scroll arrows. Where the desktop's font is wider still, the titles are shortened with "…"
// rather than a tab pushed out of view.
class CompactTabStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? std::min(value, 8) : value;
    }
};

QList<QKeySequence> keys(QKeySequence::StandardKey key)
{
    return QKeySequence::keyBindings(key);
}

QList<QKeySequence> keys(std::initializer_list<QKeySequence> own, QKeySequence::StandardKey standard)
{
    QList<QKeySequence> all(own);
    for (const QKeySequence& key : QKeySequence::keyBindings(standard)) {
        if (!all.contains(key))
            all.append(key);
    }
    return all;
}

// The tool bar's overflow arrow opens a menu of the buttons that do not fit, in place of the
// tool bar's second row, which would lie over the dock until closed.
class OverflowMenu : public QObject
{
public:
    OverflowMenu(QToolBar* toolBar, QToolButton* arrow) : QObject(arrow), toolBar(toolBar), arrow(arrow)
    {
        arrow->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            popUp();
            return true;
        case QEvent::MouseButtonRelease:
            return true;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down) {
                popUp();
                return true;
            }
            return false;
        }
        default:
            return false;
        }
    }

private:
    void popUp()
    {
        QMenu menu(arrow);
        for (QAction* action : toolBar->actions()) {
            const QWidget* button = toolBar->widgetForAction(action);
            if (button && !button->isVisible()) {
                if (!action->isSeparator() || (!menu.isEmpty() && !menu.actions().constLast()->isSeparator()))
                    menu.addAction(action);
            }
        }
        if (!menu.isEmpty())
            menu.exec(arrow->mapToGlobal(QPoint(0, arrow->height())));
    }

    QToolBar* toolBar;
    QToolButton* arrow;
};

} // namespace

QAction* MainWindow::menuEntry(QAction* source, const QString& text, const QList<QKeySequence>& keys)
{
    auto* entry = new QAction(source->icon(), text, this);
    entry->setShortcuts(keys);
    entry->setCheckable(source->isCheckable());
    const auto follow = [entry, source] {
        entry->setEnabled(source->isEnabled());
        entry->setChecked(source->isChecked());
        entry->setIcon(source->icon());
    };
    follow();
    connect(source, &QAction::changed, entry, follow);
    connect(source, &QAction::toggled, entry, follow);
    connect(entry, &QAction::triggered, source, [source] {
        source->trigger();
    });
    addAction(entry);
    return entry;
}

QAction* MainWindow::menuCommand(const QString& text, const QList<QKeySequence>& keys, std::function<void()> run)
{
    auto* command = new QAction(text, this);
    command->setShortcuts(keys);
    connect(command, &QAction::triggered, this, std::move(run));
    addAction(command);
    return command;
}

void MainWindow::createMenus()
{
    const auto addMenu = [this](const QString& title, const QList<QAction*>& entries) {
        QMenu* menu = menuBar()->addMenu(title);
        for (QAction* entry : entries) {
            if (entry)
                menu->addAction(entry);
            else
                menu->addSeparator();
        }
        return menu;
    };

    menuBarAction = menuCommand(tr("&Menu Bar"), {QKeySequence(Qt::CTRL | Qt::Key_M)}, [this] {
        setMenuBarShown(menuBarAction->isChecked());
    });
    menuBarAction->setCheckable(true);
    showMenuBarAction = new QAction(tr("Show Menu Bar"), this);
    connect(showMenuBarAction, &QAction::triggered, this, [this] { setMenuBarShown(true); });

    // The books under the tool bar's Open, in a menu of their own: the tool bar's menu belongs
    // to its action.
    auto* recentBooks = new QMenu(tr("Open &Recent"), this);
    recentBooks->setToolTipsVisible(true);
    connect(recentBooks, &QMenu::aboutToShow, this, [this, recentBooks] { fillOpenMenu(recentBooks); });

    addMenu(tr("&File"), {
        menuEntry(openAction, tr("&Open…"), keys(QKeySequence::Open)),
        recentBooks->menuAction(),
        nullptr,
        menuEntry(printPreviewAction, tr("Print Pre&view")),
        menuEntry(printAction, tr("&Print…"), keys(QKeySequence::Print)),
        menuEntry(exportBookAction, tr("E&xport Book as PDF…")),
        menuEntry(saveAsAction, tr("&Save As…"), keys(QKeySequence::Save)),
        menuEntry(extractAction, tr("&Extract…")),
        nullptr,
        menuEntry(quitAction, tr("&Quit"), keys({QKeySequence(Qt::CTRL | Qt::Key_Q)}, QKeySequence::Quit)),
    });
    addMenu(tr("&Edit"), {
        menuEntry(copyAction, tr("&Copy"), keys(QKeySequence::Copy)),
        menuCommand(tr("Select &All"), keys(QKeySequence::SelectAll), [this] { view->selectAll(); }),
        nullptr,
        menuCommand(tr("&Find in Page…"), keys(QKeySequence::Find), [this] { view->findInPage(); }),
    });
    QMenu* viewMenu = addMenu(tr("&View"), {
        menuEntry(panelDock->toggleViewAction(), tr("&Panels"), {QKeySequence(Qt::Key_F9)}),
        nullptr,
        menuEntry(zoomInAction, tr("Zoom &In"), keys({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                                                     QKeySequence::ZoomIn)),
        menuEntry(zoomOutAction, tr("Zoom &Out"), keys({QKeySequence(Qt::CTRL | Qt::Key_Minus)}, QKeySequence::ZoomOut)),
        menuCommand(tr("&Actual Size"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { view->resetZoom(); }),
        nullptr,
        menuEntry(fullScreenAction, tr("F&ull Screen"), keys({QKeySequence(Qt::Key_F11)}, QKeySequence::FullScreen)),
        nullptr,
    });
    QMenu* styles = viewMenu->addMenu(tr("&Tool Bar"));
    auto* styleGroup = new QActionGroup(styles);
    const QString storedStyle = readerSettings().value(kToolBarStyleKey).toString();
    const ToolBarStyle* current = &kToolBarStyles[0];
    for (const ToolBarStyle& style : kToolBarStyles)
        current = storedStyle == QLatin1String(style.name) ? &style : current;
    toolBar->setToolButtonStyle(current->style);
    for (const ToolBarStyle& style : kToolBarStyles) {
        QAction* choice = styles->addAction(tr(style.text));
        choice->setCheckable(true);
        choice->setActionGroup(styleGroup);
        choice->setChecked(&style == current);
        connect(choice, &QAction::triggered, this, [this, &style] {
            toolBar->setToolButtonStyle(style.style);
            readerSettings().setValue(kToolBarStyleKey, QLatin1String(style.name));
        });
    }
    viewMenu->addAction(menuBarAction);
    QMenu* colours = viewMenu->addMenu(tr("Appea&rance"));
    auto* colourGroup = new QActionGroup(colours);
    const std::pair<Appearance::Choice, QString> schemes[] = {
        {Appearance::Choice::System, tr("&System")}, {Appearance::Choice::Light, tr("&Light")}, {Appearance::Choice::Dark, tr("&Dark")}};
    for (const auto& [scheme, text] : schemes) {
        QAction* choice = colours->addAction(text);
        choice->setCheckable(true);
        choice->setActionGroup(colourGroup);
        choice->setChecked(appearance->choice() == scheme);
        connect(choice, &QAction::triggered, appearance, [this, scheme = scheme] { appearance->setChoice(scheme); });
    }
    viewMenu->addMenu(pageColors);

    addMenu(tr("&Go"), {
        // As the view binds them: Backspace, in the platform's list for Back, is for text fields.
        menuEntry(backAction, tr("&Back"), {QKeySequence(Qt::ALT | Qt::Key_Left), QKeySequence(Qt::Key_Back)}),
        menuEntry(forwardAction, tr("&Forward"), {QKeySequence(Qt::ALT | Qt::Key_Right), QKeySequence(Qt::Key_Forward)}),
        menuEntry(homeAction, tr("&Home"), {QKeySequence(Qt::ALT | Qt::Key_Home)}),
    });
    addMenu(tr("&Notes"), {
        menuEntry(noteAction, tr("&Note")),
        menuEntry(eraseAction, tr("&Erase")),
        menuEntry(noteColorAction, tr("Note &Color…")),
        nullptr,
        menuEntry(bookmarkAction, tr("Add &Bookmark"), {QKeySequence(Qt::CTRL | Qt::Key_D)}),
    });
    addMenu(tr("&Help"), {
        menuEntry(helpAction, tr("Pagewick &Help"), keys({QKeySequence(Qt::Key_F1)}, QKeySequence::HelpContents)),
        menuEntry(aboutAction, tr("&About Pagewick")),
    });

    // One binding per key: the view lets go of the keys the window now carries.
    QList<QKeySequence> windowKeys;
    for (const QAction* action : actions())
        windowKeys += action->shortcuts();
    view->leaveKeysToWindow(windowKeys);

    // Full screen shows the page alone; the menu bar comes back with the window.
    connect(fullScreenAction, &QAction::toggled, this, [this](bool full) {
        menuBar()->setVisible(!full && menuBarAction->isChecked());
    });

    if (auto* arrow = toolBar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        new OverflowMenu(toolBar, arrow);
}

void MainWindow::setMenuBarShown(bool shown)
{
    menuBarAction->setChecked(shown);
    menuBar()->setVisible(shown && !isFullScreen());
    readerSettings().setValue(kMenuBarKey, shown);
}

// The dock keeps its first width until the reader drags it; restoreState brings back the width,
// side and visibility of the last run.
void MainWindow::readFrameSettings()
{
    QSettings settings = readerSettings();
    const bool menuBarShown = settings.value(kMenuBarKey, true).toBool();
    menuBarAction->setChecked(menuBarShown);
    menuBar()->setVisible(menuBarShown);
    if (!restoreState(settings.value(kWindowStateKey).toByteArray(), kWindowStateVersion))
        resizeDocks({panelDock}, {kDockFirstWidth}, Qt::Horizontal);
    fitDockToWindow();
}

void MainWindow::writeFrameSettings(QSettings& settings)
{
    // Full screen hides the dock and the tool bar for the while: the state to keep is the
    // window's own.
    if (!isFullScreen())
        settings.setValue(kWindowStateKey, saveState(kWindowStateVersion));
}

// The dock can be dragged up to half the window, and never below its first width.
void MainWindow::fitDockToWindow()
{
    panelDock->setMaximumWidth(std::max(kDockFirstWidth, width() / 2));
}

void MainWindow::fitTabsToDock()
{
    QTabBar* tabs = panelTabs->tabBar();
    auto* style = new CompactTabStyle;
    style->setParent(tabs);
    tabs->setStyle(style);
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideRight);
}
