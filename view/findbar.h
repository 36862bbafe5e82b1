#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;
class QWebEngineFindTextResult;
class QWebEnginePage;

// A bar under the page for finding text in it: a field, buttons for the previous and the next
// match, the count of matches ("3 of 12") and a close button. Finding ignores case and marks
// every match in the page, the current one apart.
//
// Typing finds as it goes; Enter finds the next match, Shift+Enter the previous one. Escape,
// wherever the focus is inside the bar's parent (the field or the page), closes the bar and
// clears the marks; the focus then goes back to the page. A new page clears the count: its
// matches are found again by the next find.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    // page is the page searched; the bar lives inside parent, whose Escape key it takes while
    // it is open.
    FindBar(QWebEnginePage* page, QWidget* parent);

    // Shows the bar with the focus in its field, the text there selected, and finds it again.
    void open();
    // Hides the bar and clears the marks; the focus goes to `focusAfter` when it was in the bar.
    void dismiss();
    void findNext();
    void findPrevious();

    // The text of the count as shown: "3 of 12", "No matches", or empty before a find.
    QString countText() const;
    QLineEdit* field() const { return m_field; }

    // The widget that takes the focus when the bar closes (the page).
    void setFocusAfter(QWidget* widget) { m_focusAfter = widget; }

    // True from a find until the page answers it (the count then shows the answer).
    bool isFinding() const { return m_answered != m_request; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void find(bool backward);
    void showResult(const QWebEngineFindTextResult& result);
    // Shows `text` as the count, and names the count by it.
    void setCount(const QString& text);

    QWebEnginePage* m_page;
    QLineEdit* m_field;
    QToolButton* m_previous;
    QToolButton* m_next;
    QLabel* m_count;
    QToolButton* m_close;
    QWidget* m_focusAfter = nullptr;
    quint64 m_request = 0;   // counts the finds asked for; answers to older ones are stale
    quint64 m_answered = 0;  // the find the count shows
};
