// The reader's notes on the page shown.
#include "notestore.h"
#include "viewwidget.h"

void ViewWidget::setNoteStore(NoteStore* store)
{
    noteStore = store;
}

void ViewWidget::setNoteColor(QString color)
{
    noteColor = color;
}

void ViewWidget::note(NoteStore* store)
{
    Q_UNUSED(store);
    refresh();
}

void ViewWidget::unNote(NoteStore* store)
{
    if (store)
        store->eraseNotes(currentPath);
    refresh();
}
