// The reader's choice of page colours: as the book, dark, or following the window's palette.
// Stored in the reader's settings under "Reader/pageColors" as "book", "dark" or "window"; an
// absent or unknown value reads as "book". Never stored in the book.

#include "mainwindow.h"

#include "readersettings.h"
#include "viewwidget.h"

#include <QActionGroup>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>

namespace {

const QString kPageColorsKey = QStringLiteral("Reader/pageColors");

// Tells the window again when its palette (or the application's) changes, for "Follow the
// Window".
class PaletteWatch : public QObject
{
public:
    PaletteWatch(QObject* parent, std::function<void()> changed) : QObject(parent), m_changed(std::move(changed)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
            m_changed();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_changed;
};

} // namespace

void MainWindow::createPageColorsMenu()
{
    pageColors = new QMenu(tr("Page Colors"), this);
    auto* group = new QActionGroup(pageColors);
    const QString stored = readerSettings().value(kPageColorsKey).toString();
    const QList<QPair<QString, QString>> choices = {{QStringLiteral("book"), tr("As the Book")},
                                                    {QStringLiteral("dark"), tr("Dark")},
                                                    {QStringLiteral("window"), tr("Follow the Window")}};
    for (const auto& [value, text] : choices) {
        QAction* action = pageColors->addAction(text);
        action->setCheckable(true);
        action->setData(value);
        group->addAction(action);
        action->setChecked(value == stored);
    }
    if (!group->checkedAction())
        group->actions().constFirst()->setChecked(true);
    connect(group, &QActionGroup::triggered, this, [this](QAction* action) {
        readerSettings().setValue(kPageColorsKey, action->data().toString());
        applyPageColors();
    });
    installEventFilter(new PaletteWatch(this, [this] { applyPageColors(); }));
    applyPageColors();
}

void MainWindow::applyPageColors()
{
    if (!pageColors || !view)
        return;
    const QAction* checked = pageColors->findChild<QActionGroup*>()->checkedAction();
    const QString choice = checked ? checked->data().toString() : QString();
    // The window's palette is dark when its window colour is darker than its text.
    const QPalette palette = QGuiApplication::palette();
    const bool windowDark = palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
    view->setDarkPages(choice == QLatin1String("dark") || (choice == QLatin1String("window") && windowDark));
}
