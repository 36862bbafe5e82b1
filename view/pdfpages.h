#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>

class QPrinter;

// Puts the pages of a PDF (as the web engine prints a page: one PDF page per printed sheet,
// laid out for the printer's own page layout) onto a printer or a print preview that cannot
// take the PDF itself. Each page is drawn as one image of the whole sheet, at the printer's
// resolution but never above maxDpi, so a 1200 dpi printer costs no more than maxDpi does; only
// one page's image exists at a time. The printer's page range (fromPage/toPage) is honoured.
//
// The images are kept in `format` (without alpha): a print preview holds every page's image at
// once, and a format of fewer bytes a pixel keeps a long page's preview small.
//
// progress(done, total) is called after each page; returning false stops the printing, which
// then fails. False, too, when the bytes are no PDF or the printer cannot be painted on.
bool paintPdfPages(const QByteArray& pdf, QPrinter* printer, int maxDpi,
                   const std::function<bool(int done, int total)>& progress = {},
                   QImage::Format format = QImage::Format_RGB888);
