// The reader's notes on the page shown: locating a selection, filing it, painting the marks.
#include "browsercontrol.h"
#include "notelocator.h"
#include "notestore.h"
#include "pagescript.h"
#include "textrange.h"
#include "viewwidget.h"

namespace {

// The colour a new note gets at once, before the page is loaded again and painted in the
// reader's note colour.
const QString kFreshNoteColor = QStringLiteral("#a4e16f");

} // namespace

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
    const std::optional<TextRange> selection = locateSelection();
    recordNote(store);
    if (noteStart != -1 && selection)
        browser->paintBackground(*selection, kFreshNoteColor);
    refresh();
}

void ViewWidget::unNote(NoteStore* store)
{
    if (store)
        store->eraseNotes(currentPath());
    refresh();
}

std::optional<TextRange> ViewWidget::locateSelection()
{
    noteStart = -1;
    noteLength = -1;
    selectedText.clear();
    const auto cannotNote = [this] {
        warn(tr("Support Message"), tr("current location did not support note facility"));
        return std::nullopt;
    };

    const std::optional<TextRange> selection = browser->selection();
    if (!selection)
        return cannotNote();
    // Marks count the characters the page had when it loaded, which is what is painted after
    // every load. The selection is read from the page as it is now: when the page's scripts
    // (or a load under way) have changed its text up to the selection's end, the numbers
    // would mark other characters.
    const QString& loaded = selection->pageText();
    const QString now = browser->evaluate(PageScript::call(QStringLiteral("capture()")))
                            .toMap().value(QStringLiteral("text")).toString();
    if (now.left(selection->end()) != loaded.left(selection->end()))
        return cannotNote();

    const NoteLocation location = locateNote(pageText, *selection);
    selectedText = location.selectedText;
    if (!location.isPassage())
        return selection;   // nothing selected to mark
    if (!location.found())
        return cannotNote();
    noteStart = location.start;
    noteLength = location.length;
    return selection;
}

void ViewWidget::recordNote(NoteStore* store)
{
    if (noteStart == -1 || !store)
        return;
    store->addMark(currentPath(), NoteMark{noteStart, noteLength});
}

void ViewWidget::paintStoredNotes()
{
    if (!noteStore || noteStore->isEmpty())
        return;
    for (const PageNotes& page : std::as_const(*noteStore)) {
        if (page.path != currentPath())
            continue;
        for (const NoteMark& mark : page.marks) {
            TextRange range = browser->documentRange();
            range.collapseToPageStart();
            range.moveStart(mark.start);
            range.moveEnd(mark.length);
            browser->paintBackground(range, noteColor);
        }
    }
}
