// Extracts arbitrary bytes as a book into a folder under a temporary folder, and checks that
// nothing appears beside that folder: whatever the book's paths say, extraction writes only
// below the folder it was given.
//
// Seeds: whole books (make_seeds). An input that finds a fault belongs in
// tests/tst_extractor.cpp as a test case.

#include "extractor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Folders that cannot be made are reported one by one; expected, and only slow.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir root;
    static const QString book = root.filePath(QStringLiteral("book.chm"));
    static const QString target = root.filePath(QStringLiteral("out"));
    if (!root.isValid())
        std::abort();
    {
        QFile file(book);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    if (!QDir().mkpath(target))
        std::abort();

    BookExtractor::extract(book, target);

    const QStringList beside = QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                                           | QDir::System);
    if (beside != QStringList{QStringLiteral("book.chm"), QStringLiteral("out")})
        std::abort();
    QDir(target).removeRecursively();
    return 0;
}
