#include "testbooks.h"

#include <QDir>
#include <QFileInfo>

QString testBookPath(const QString& name)
{
    return QDir(QStringLiteral(PAGEWICK_TEST_BOOKS_DIR)).filePath(name);
}

QString sharedBookPath(const QString& name)
{
    const QString path = QDir(QStringLiteral(PAGEWICK_SHARED_BOOKS_DIR)).filePath(name);
    return QFileInfo::exists(path) ? QFileInfo(path).absoluteFilePath() : QString();
}
