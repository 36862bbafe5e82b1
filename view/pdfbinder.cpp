#include "pdfbinder.h"

#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QSaveFile>

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/Pl_Function.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <vector>

Q_LOGGING_CATEGORY(lcBinder, "pagewick.view.pdf", QtWarningMsg)

namespace {

std::string utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// A destination at the top of a page, at the zoom the reader has.
QPDFObjectHandle pageTop(const QPDFObjectHandle& page)
{
    QPDFObjectHandle destination = QPDFObjectHandle::newArray();
    destination.appendItem(page);
    destination.appendItem(QPDFObjectHandle::newName("/XYZ"));
    destination.appendItem(QPDFObjectHandle::newNull());
    destination.appendItem(QPDFObjectHandle::newNull());
    destination.appendItem(QPDFObjectHandle::newNull());
    return destination;
}

struct CancelledWrite : std::exception
{
};

// The explicit destination a named one stands for in `input`: its /Dests dictionary or its
// name tree of destinations. Null when the name is not there.
QPDFObjectHandle namedDestination(QPDF& input, QPDFObjectHandle name)
{
    QPDFObjectHandle root = input.getRoot();
    QPDFObjectHandle found;
    if (name.isName() && root.getKey("/Dests").isDictionary()) {
        found = root.getKey("/Dests").getKey(name.getName());
    } else if (name.isString() && root.getKey("/Names").isDictionary()
               && root.getKey("/Names").getKey("/Dests").isDictionary()) {
        QPDFNameTreeObjectHelper tree(root.getKey("/Names").getKey("/Dests"), input);
        tree.findObject(name.getUTF8Value(), found);
    }
    if (found.isDictionary())
        found = found.getKey("/D");
    return found.isArray() && found.getArrayNItems() >= 1 ? found : QPDFObjectHandle();
}

// Named destinations (places within the same page, such as "#end") do not survive the binding,
// since the names of one page's file mean nothing in the bound PDF: each link to one is pointed
// at the place it names, on the page it lands on in the output. `outputPages` are the input's
// pages as appended, in order.
void resolveNamedLinks(QPDF& input, const std::vector<QPDFPageObjectHelper>& inputPages,
                       std::vector<QPDFObjectHandle> outputPages)
{
    for (QPDFObjectHandle page : outputPages) {
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (!annotations.isArray())
            continue;
        for (QPDFObjectHandle annotation : annotations.aitems()) {
            QPDFObjectHandle name = annotation.getKey("/Dest");
            if (!name.isName() && !name.isString())
                continue;
            QPDFObjectHandle place = namedDestination(input, name);
            annotation.removeKey("/Dest");
            if (place.isNull())
                continue;
            for (size_t i = 0; i < inputPages.size(); ++i) {
                if (inputPages[i].getObjectHandle().getObjGen() != place.getArrayItem(0).getObjGen())
                    continue;
                QPDFObjectHandle destination = QPDFObjectHandle::newArray();
                destination.appendItem(outputPages[i]);
                for (int item = 1; item < place.getArrayNItems(); ++item)
                    destination.appendItem(place.getArrayItem(item).shallowCopy());
                annotation.replaceKey("/Dest", destination);
            }
        }
    }
}

} // namespace

struct PdfBinder::Private
{
    QPDF out;
    std::vector<QPDFObjectHandle> pages;        // in order
    std::vector<QString> pageTopics;            // the topic of each page
    QHash<QString, QPDFObjectHandle> firstPage; // topic -> its first page
    QString title;
    QVector<OutlineItem> outline;
    QString error;

    void addOutline();
    void mapLinks(const LinkMapper& mapper);
};

PdfBinder::PdfBinder() : d(std::make_unique<Private>())
{
    d->out.emptyPDF();
}

PdfBinder::~PdfBinder() = default;

bool PdfBinder::appendFile(const QString& path, const QString& topic)
{
    try {
        // The source is read lazily from a file kept closed between reads: thousands of
        // appended pages hold no file descriptors, and their streams stay on disk until written.
        auto source = std::make_shared<ClosedFileInputSource>(QFile::encodeName(path).constData());
        QPDF input;
        input.setSuppressWarnings(true);
        input.processInputSource(source);
        const std::vector<QPDFPageObjectHelper> inputPages = QPDFPageDocumentHelper(input).getAllPages();
        if (inputPages.empty()) {
            d->error = QStringLiteral("%1 has no pages").arg(QFileInfo(path).fileName());
            return false;
        }
        QPDFPageDocumentHelper output(d->out);
        std::vector<QPDFObjectHandle> added;
        for (const QPDFPageObjectHelper& page : inputPages) {
            output.addPage(page, false);
            added.push_back(d->out.getAllPages().back());
        }
        resolveNamedLinks(input, inputPages, added);
        for (const QPDFObjectHandle& page : added) {
            d->pages.push_back(page);
            d->pageTopics.push_back(topic);
        }
        if (!d->firstPage.contains(topic))
            d->firstPage.insert(topic, d->pages.at(d->pages.size() - inputPages.size()));
        return true;
    } catch (const std::exception& e) {
        d->error = QStringLiteral("%1 is no readable PDF: %2").arg(QFileInfo(path).fileName(), QString::fromUtf8(e.what()));
        return false;
    }
}

int PdfBinder::pageCount() const
{
    return int(d->pages.size());
}

bool PdfBinder::hasTopic(const QString& topic) const
{
    return d->firstPage.contains(topic);
}

void PdfBinder::setTitle(const QString& title)
{
    d->title = title;
}

void PdfBinder::setOutline(const QVector<OutlineItem>& items)
{
    d->outline = items;
}

QString PdfBinder::errorString() const
{
    return d->error;
}

void PdfBinder::Private::addOutline()
{
    QPDFObjectHandle root = out.getRoot();
    if (outline.isEmpty()) {
        root.removeKey("/Outlines");
        return;
    }
    QPDFObjectHandle outlines = out.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    // The open items, outermost first, with their depths; the document's /Outlines at the bottom.
    struct Open
    {
        QPDFObjectHandle item;
        int depth;
        int count;      // items beneath it
        QPDFObjectHandle last;
    };
    std::vector<Open> open{{outlines, -1, 0, QPDFObjectHandle::newNull()}};
    const auto close = [&open] {
        Open done = open.back();
        open.pop_back();
        if (done.count > 0)
            done.item.replaceKey("/Count", QPDFObjectHandle::newInteger(done.count));
        if (!open.empty())
            open.back().count += done.count;
    };
    for (const OutlineItem& entry : std::as_const(outline)) {
        while (open.size() > 1 && open.back().depth >= entry.depth)
            close();
        Open& parent = open.back();
        QPDFObjectHandle item = out.makeIndirectObject(QPDFObjectHandle::newDictionary());
        item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(utf8(entry.title)));
        item.replaceKey("/Parent", parent.item);
        if (firstPage.contains(entry.topic))
            item.replaceKey("/Dest", pageTop(firstPage.value(entry.topic)));
        if (parent.last.isNull()) {
            parent.item.replaceKey("/First", item);
        } else {
            parent.last.replaceKey("/Next", item);
            item.replaceKey("/Prev", parent.last);
        }
        parent.item.replaceKey("/Last", item);
        parent.last = item;
        ++parent.count;
        open.push_back({item, entry.depth, 0, QPDFObjectHandle::newNull()});
    }
    while (!open.empty())
        close();
    root.replaceKey("/Outlines", outlines);
    root.replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
}

void PdfBinder::Private::mapLinks(const LinkMapper& mapper)
{
    for (size_t i = 0; i < pages.size(); ++i) {
        QPDFObjectHandle annotations = pages[i].getKey("/Annots");
        if (!annotations.isArray())
            continue;
        for (QPDFObjectHandle annotation : annotations.aitems()) {
            if (!annotation.isDictionary() || !annotation.getKey("/Subtype").isNameAndEquals("/Link"))
                continue;
            QPDFObjectHandle action = annotation.getKey("/A");
            if (!action.isDictionary() || !action.getKey("/S").isNameAndEquals("/URI"))
                continue;   // a place within the page, resolved when it was appended
            QPDFObjectHandle uri = action.getKey("/URI");
            if (!uri.isString())
                continue;
            const LinkTarget target = mapper ? mapper(QString::fromUtf8(uri.getUTF8Value().c_str())) : LinkTarget();
            if (target.kind == LinkTarget::Kind::Topic && firstPage.contains(target.text)) {
                annotation.removeKey("/A");
                annotation.replaceKey("/Dest", pageTop(firstPage.value(target.text)));
            } else if (target.kind == LinkTarget::Kind::Uri) {
                // URIs are 7-bit ASCII in PDF: the address goes percent-encoded.
                QPDFObjectHandle replaced = QPDFObjectHandle::newDictionary();
                replaced.replaceKey("/S", QPDFObjectHandle::newName("/URI"));
                replaced.replaceKey("/URI", QPDFObjectHandle::newString(target.text.toStdString()));
                annotation.replaceKey("/A", replaced);
            }
        }
    }
}

bool PdfBinder::write(const QString& path, const LinkMapper& mapper, const std::function<bool()>& cancelled)
{
    if (d->pages.empty()) {
        d->error = QStringLiteral("there are no pages to write");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        d->error = file.errorString();
        return false;
    }
    try {
        d->mapLinks(mapper);
        d->addOutline();
        QPDFObjectHandle info = d->out.getTrailer().getKey("/Info");
        if (!info.isDictionary()) {
            info = d->out.makeIndirectObject(QPDFObjectHandle::newDictionary());
            d->out.getTrailer().replaceKey("/Info", info);
        }
        if (!d->title.isEmpty()) {
            info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(utf8(d->title)));
            QPDFObjectHandle preferences = QPDFObjectHandle::newDictionary();
            preferences.replaceKey("/DisplayDocTitle", QPDFObjectHandle::newBool(true));
            d->out.getRoot().replaceKey("/ViewerPreferences", preferences);
        }
        info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString("Pagewick"));

        qint64 written = 0;
        Pl_Function sink("pagewick output", nullptr, [&](unsigned char const* data, size_t length) {
            if (cancelled && (written >> 20) != ((written + qint64(length)) >> 20) && cancelled())
                throw CancelledWrite();
            if (file.write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length))
                throw std::runtime_error(file.errorString().toStdString());
            written += qint64(length);
        });
        QPDFWriter writer(d->out);
        writer.setOutputPipeline(&sink);
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.setCompressStreams(true);
        writer.write();
    } catch (const CancelledWrite&) {
        file.cancelWriting();
        d->error = QStringLiteral("cancelled");
        return false;
    } catch (const std::exception& e) {
        file.cancelWriting();
        d->error = QString::fromUtf8(e.what());
        qCWarning(lcBinder) << "the bound PDF could not be written:" << d->error;
        return false;
    }
    if (!file.commit()) {
        d->error = file.errorString();
        return false;
    }
    return true;
}
