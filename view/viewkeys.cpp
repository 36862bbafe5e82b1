// The keys of the page view. They work wherever the focus is inside the view (the page or its
// find bar), never elsewhere in the window. A window that carries the same keys on its own
// actions takes them over (leaveKeysToWindow). Keys the page itself takes (copy, select all,
// typing into a page's form) are left to the page.
#include "browsercontrol.h"
#include "findbar.h"
#include "viewwidget.h"

#include <QKeySequence>
#include <QLayout>
#include <QShortcut>
#include <QWebEngineView>

void ViewWidget::setUpKeys()
{
    findBar = new FindBar(browser->webView()->page(), this);
    findBar->setFocusAfter(browser);
    layout()->addWidget(findBar);

    auto bind = [this](const QList<QKeySequence>& keys, void (ViewWidget::*slot)()) {
        for (const QKeySequence& key : keys) {
            auto* shortcut = new QShortcut(key, this);
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, slot);
        }
    };
    // Not the platform's whole list for Back: it holds Backspace, which a text field on a page
    // needs for deleting (it would go back instead, and the typing would be lost).
    bind({QKeySequence(Qt::ALT | Qt::Key_Left), QKeySequence(Qt::Key_Back)}, &ViewWidget::back);
    bind({QKeySequence(Qt::ALT | Qt::Key_Right), QKeySequence(Qt::Key_Forward)}, &ViewWidget::forward);
    bind(QKeySequence::keyBindings(QKeySequence::Find), &ViewWidget::findInPage);
    bind(QKeySequence::keyBindings(QKeySequence::FindNext), &ViewWidget::findNextInPage);
    bind(QKeySequence::keyBindings(QKeySequence::FindPrevious), &ViewWidget::findPreviousInPage);
    // Ctrl+= too: on most keyboards "+" needs Shift, and browsers take the key under it.
    bind(QKeySequence::keyBindings(QKeySequence::ZoomIn) << QKeySequence(Qt::CTRL | Qt::Key_Equal), &ViewWidget::zoomIn);
    bind(QKeySequence::keyBindings(QKeySequence::ZoomOut), &ViewWidget::zoomOut);
    bind({QKeySequence(Qt::CTRL | Qt::Key_0)}, &ViewWidget::resetZoom);

    // Ctrl+wheel steps the view's zoom; the control keeps the engine from zooming by itself.
    // Queued: a step asks the page for its zoom, which must not wait inside the wheel event.
    connect(browser, &BrowserControl::zoomWheeled, this, [this](int steps) {
        for (; steps > 0; --steps)
            zoomIn();
        for (; steps < 0; ++steps)
            zoomOut();
    }, Qt::QueuedConnection);
}

void ViewWidget::resetZoom()
{
    zoomFactor = 1.0;
    browser->setZoom(1.0);
}

void ViewWidget::setDarkPages(bool dark)
{
    browser->setDarkPages(dark);
}

bool ViewWidget::darkPages() const
{
    return browser->darkPages();
}

void ViewWidget::findInPage()
{
    findBar->open();
}

void ViewWidget::findNextInPage()
{
    if (findBar->isHidden())
        findBar->open();
    else
        findBar->findNext();
}

void ViewWidget::findPreviousInPage()
{
    if (findBar->isHidden())
        findBar->open();
    else
        findBar->findPrevious();
}

void ViewWidget::selectAll()
{
    browser->selectAll();
}

void ViewWidget::leaveKeysToWindow(const QList<QKeySequence>& keys)
{
    for (QShortcut* shortcut : findChildren<QShortcut*>(Qt::FindDirectChildrenOnly))
        shortcut->setEnabled(!keys.contains(shortcut->key()));
}
