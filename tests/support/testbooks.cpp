#include "testbooks.h"

#include <QDir>
#include <QFileInfo>

#include <sys/resource.h>

QString testBookPath(const QString& name)
{
    return QDir(QStringLiteral(PAGEWICK_TEST_BOOKS_DIR)).filePath(name);
}

QString sharedBookPath(const QString& name)
{
    const QString path = QDir(QStringLiteral(PAGEWICK_SHARED_BOOKS_DIR)).filePath(name);
    return QFileInfo::exists(path) ? QFileInfo(path).absoluteFilePath() : QString();
}

qint64 peakMemoryKiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss);
}
