#pragma once

#include <QtGlobal>

#include <functional>

class QPrinter;
class QWidget;

// The print preview dialog for sheets that are drawn as images (see paintPdfPages): one page's
// PDF from the engine, or a chapter bound into one PDF. The dialog asks for the sheets again
// whenever it needs them; paint draws them onto the target it is given.
//
// On the dialog's own screen, sheets are drawn at kPreviewDpi, lower still so that all the
// sheets' images stay within kPreviewBudgetBytes, since the dialog keeps every sheet it is
// given. Printed from the preview, they are drawn at printDpi again. A progress dialog with
// Cancel is shown while sheets are drawn.
//
// paint(target, maxDpi, progress, budgetBytes) stops when progress returns false; it tells the
// reader itself of a failure worth telling. Blocks in the dialog's own loop until it closes.
using PaintSheets = std::function<bool(QPrinter* target, int maxDpi,
                                       const std::function<bool(int done, int total)>& progress,
                                       qint64 budgetBytes)>;
void showPrintPreview(QWidget* parent, QPrinter* printer, int printDpi, const PaintSheets& paint);

// Resolution of the sheets a print preview shows: a sheet fits the screen at about this.
constexpr int kPreviewDpi = 72;
// What the images of all the sheets of one preview may take together.
constexpr qint64 kPreviewBudgetBytes = qint64(192) << 20;
