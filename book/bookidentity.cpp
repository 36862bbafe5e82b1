#include "bookidentity.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

BookIdentity BookIdentity::ofPath(const QString& path)
{
    ItsfFileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        stamp = ItsfFileStamp::of(st);
    return BookIdentity(canonicalPathOf(path), stamp);
}

QString BookIdentity::canonicalPathOf(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString BookIdentity::originHost() const
{
    const QByteArray digest = QCryptographicHash::hash(m_path.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(32));
}

QString BookIdentity::cacheName() const
{
    return QString::fromLatin1(QCryptographicHash::hash(m_path.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QByteArray BookIdentity::stampDigest() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << m_stamp.device << m_stamp.inode << m_stamp.size << m_stamp.modifiedNs << m_stamp.changedNs;
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}
