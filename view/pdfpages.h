#pragma once

#include <QByteArray>

#include <functional>

class QPrinter;

// Puts the pages of a PDF (as the web engine prints a page: one PDF page per printed sheet,
// laid out for the printer's own page layout) onto a printer or a print preview that cannot
// take the PDF itself. Each page is drawn as one image of the whole sheet, at the printer's
// resolution but never above maxDpi, so a 1200 dpi printer costs no more than maxDpi does, and
// scaled to fit the printer's paper, keeping its shape; only one page's image exists at a time. The printer's page range (fromPage/toPage) is honoured.
//
// A print preview keeps every sheet's image at once. With a budget above 0, the resolution is
// lowered further, down to kMinBudgetDpi, so that all the sheets' images together (three bytes
// a pixel) stay within budgetBytes.
//
// progress(done, total) is called after each page; returning false stops the printing, which
// then fails. False, too, when the bytes are no PDF or the printer cannot be painted on.
constexpr int kMinBudgetDpi = 36;
bool paintPdfPages(const QByteArray& pdf, QPrinter* printer, int maxDpi,
                   const std::function<bool(int done, int total)>& progress = {}, qint64 budgetBytes = 0);
