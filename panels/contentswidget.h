#pragma once

#include "lchmparsedentry.h"

#include <QModelIndex>
#include <QString>
#include <QVector>
#include <QWidget>

class QStandardItemModel;
class QTreeView;

// The book's table of contents as a tree. A click on an entry asks for its page through
// currentUrlChanged(); the panel never follows navigation that starts elsewhere.
class ContentsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ContentsWidget(QWidget* parent = nullptr);

    QTreeView* tree() const { return m_tree; }
    // The target last sent by currentUrlChanged().
    QString lastUrl() const { return m_lastUrl; }

    // Resource path of the icon shown for a contents image number.
    static QString iconPathForImageNumber(int imageNumber);

signals:
    void currentUrlChanged(const QString& url);

public slots:
    void setCurrentContents(QVector<LCHMParsedEntry>* contents);
    void setCurrentUrl(const QModelIndex& currentIndex);

private:
    QStandardItemModel* buildModel(const QVector<LCHMParsedEntry>& entries);

    QTreeView* m_tree = nullptr;
    QString m_lastUrl;
};
