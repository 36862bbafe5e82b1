#include "findbar.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

FindBar::FindBar(QWebEnginePage* page, QWidget* parent)
    : QWidget(parent)
    , m_page(page)
    , m_field(new QLineEdit(this))
    , m_previous(new QToolButton(this))
    , m_next(new QToolButton(this))
    , m_count(new QLabel(this))
    , m_close(new QToolButton(this))
{
    m_field->setPlaceholderText(tr("Find in page"));
    m_field->setClearButtonEnabled(true);
    m_previous->setArrowType(Qt::UpArrow);
    m_previous->setToolTip(tr("Previous match (Shift+Enter)"));
    m_next->setArrowType(Qt::DownArrow);
    m_next->setToolTip(tr("Next match (Enter)"));
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setToolTip(tr("Close (Esc)"));
    m_close->setAutoRaise(true);
    for (QToolButton* button : {m_previous, m_next})
        button->setAutoRaise(true);
    // Names for screen readers; the tool tips describe the keys. The count is named by what it
    // shows.
    m_field->setAccessibleName(tr("Find in page"));
    m_previous->setAccessibleName(tr("Previous match"));
    m_next->setAccessibleName(tr("Next match"));
    m_close->setAccessibleName(tr("Close the find bar"));
    m_count->setAccessibleDescription(tr("Matches of the text in the page"));
    for (QToolButton* clear : m_field->findChildren<QToolButton*>())
        clear->setAccessibleName(tr("Clear"));
    setCount(QString());

    // One line high: the page keeps every pixel the bar does not need.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_previous);
    layout->addWidget(m_next);
    layout->addWidget(m_count);
    layout->addStretch(1);
    layout->addWidget(m_close);

    connect(m_field, &QLineEdit::textEdited, this, [this] { find(false); });
    connect(m_previous, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(m_next, &QToolButton::clicked, this, &FindBar::findNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::dismiss);
    // The marks and the count belong to the page they were found on.
    connect(m_page, &QWebEnginePage::loadStarted, this, [this] { setCount(QString()); });

    m_field->installEventFilter(this);
    parent->installEventFilter(this);
    hide();
}

void FindBar::open()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    if (!m_field->text().isEmpty())
        find(false);
}

void FindBar::dismiss()
{
    if (isHidden())
        return;
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    m_answered = ++m_request;
    setCount(QString());
    // An empty text ends the find and takes the marks away.
    m_page->findText(QString());
    if (hadFocus && m_focusAfter)
        m_focusAfter->setFocus(Qt::OtherFocusReason);
}

void FindBar::findNext()
{
    find(false);
}

void FindBar::findPrevious()
{
    find(true);
}

QString FindBar::countText() const
{
    return m_count->text();
}

void FindBar::find(bool backward)
{
    // A find started before this one is answered with no matches when this one overtakes it:
    // only the answer to the latest request is shown.
    const quint64 request = ++m_request;
    const QString text = m_field->text();
    if (text.isEmpty()) {
        m_answered = request;
        setCount(QString());
        m_page->findText(QString());
        return;
    }
    m_page->findText(text, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags(),
                     [self = QPointer<FindBar>(this), request](const QWebEngineFindTextResult& result) {
                         if (self && self->m_request == request && !self->isHidden()) {
                             self->m_answered = request;
                             self->showResult(result);
                         }
                     });
}

void FindBar::showResult(const QWebEngineFindTextResult& result)
{
    if (result.numberOfMatches() > 0)
        setCount(tr("%1 of %2").arg(result.activeMatch()).arg(result.numberOfMatches()));
    else
        setCount(tr("No matches"));
}

void FindBar::setCount(const QString& text)
{
    m_count->setText(text);
    m_count->setAccessibleName(text.isEmpty() ? tr("Matches") : text);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            find(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    // Escape is asked for as a shortcut first: taking it there closes the bar before anything
    // else (leaving full screen) sees the key, and only the next Escape goes on.
    if (event->type() == QEvent::ShortcutOverride && !isHidden()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            dismiss();
            key->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
