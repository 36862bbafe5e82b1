#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// Binds the PDFs the page engine prints, one file per topic, into one PDF: their pages in the
// order appended, an outline, a document title, and the pages' links turned into links inside
// the PDF where they lead to a topic it holds. All of it is built through the qpdf library's
// object model; no PDF syntax is written here.
//
// Memory. Appending a file copies its page objects (dictionaries, fonts' and images'
// dictionaries) but not its streams: those are read from the file again while write() writes
// them out, and no file is held open in between. So the files must stay unchanged until
// write() has finished, and memory grows only by the page objects, not by the pages' contents.
//
// Links. Each page keeps the link annotations the engine wrote for it. At write(), every link
// that names a URI is handed to the LinkMapper, which says whether it leads to a topic of the
// PDF (it becomes a link to that topic's first page), to another address (the URI is replaced)
// or stays as it is. Links to a named place within their own page ("#end") are pointed at that
// place on its page in the bound PDF as they are appended; a name the file does not define
// leaves the link without a destination.
//
// Failures are return values: a file that is no readable PDF, a write that fails or is
// cancelled; errorString() says why. Not thread-safe; one thread at a time may use it.
class PdfBinder
{
public:
    PdfBinder();
    ~PdfBinder();
    PdfBinder(const PdfBinder&) = delete;
    PdfBinder& operator=(const PdfBinder&) = delete;

    // Appends every page of the PDF file at path as the pages of `topic` (any key the caller
    // chooses; a topic appended twice keeps its first pages as its destination). False, with
    // nothing appended, when the file is no PDF with pages.
    bool appendFile(const QString& path, const QString& topic);
    int pageCount() const;
    bool hasTopic(const QString& topic) const;

    // The document title (the Info dictionary's Title, shown by viewers instead of the file name).
    void setTitle(const QString& title);

    // One outline item: its title, its depth (0 at the top; an item nests under the nearest
    // item before it of a smaller depth) and the topic it leads to (none: empty, or a topic not
    // appended).
    struct OutlineItem
    {
        QString title;
        int depth = 0;
        QString topic;
    };
    void setOutline(const QVector<OutlineItem>& items);

    struct LinkTarget
    {
        enum class Kind { Keep, Topic, Uri };
        Kind kind = Kind::Keep;
        QString text;   // the topic, or the new URI
    };
    using LinkMapper = std::function<LinkTarget(const QString& uri)>;

    // Writes the PDF into `path` through a temporary file beside it that replaces path only
    // when the whole PDF is written; on failure path is as it was and no temporary file stays.
    // `cancelled` is asked now and then; when it answers true, the write stops and fails.
    bool write(const QString& path, const LinkMapper& mapper, const std::function<bool()>& cancelled = {});

    QString errorString() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
