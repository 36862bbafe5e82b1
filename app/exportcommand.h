#pragma once

#include <QPageLayout>

struct StartRequest;

// `pagewick --export-pdf OUT.pdf BOOK.chm [--chapter IN-BOOK-PATH]`: writes the book (or the
// chapter) as one PDF (BookPdfExport) and returns the exit status: 0 when the PDF was written,
// 1 when it was not, with the reason on standard error. Progress ("page 12 of 206"), pages left
// out and pages skipped go to standard error as they happen. Needs no display: unless the
// environment names a platform, it runs on the offscreen one, chosen before the application
// object exists (which this function makes).
int runPdfExportCommand(const StartRequest& request, int argc, char** argv);

// The paper of a PDF made without a printer: Letter where the locale measures in inches (the
// United States), A4 elsewhere, portrait, with margins of 10 mm.
QPageLayout defaultExportLayout();
