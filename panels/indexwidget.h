#pragma once

#include "backgroundrunner.h"
#include "lchmparsedentry.h"

#include <QAbstractListModel>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QLineEdit;
class QListView;
class QModelIndex;
class QPoint;

// A book's keyword index in display order: keywords sorted without regard to case, each
// followed by its sub-keywords in the book's order. Held as one vector; rows are made only when
// a view asks for them, so a hundred thousand keywords cost no widgets.
struct KeywordIndex
{
    QVector<LCHMParsedEntry> entries;
    QVector<int> keywordRows;  // rows of the top-level keywords, in sorted order

    // Sorts the top-level keywords of a parsed index, carrying each keyword's sub-keywords
    // along. An index already in order (the usual case) is kept as it is.
    static KeywordIndex fromParsed(QVector<LCHMParsedEntry> parsed);
    // The first top-level keyword not before `text` (so the first that starts with it, when
    // one does); the last keyword when all come before; -1 for an empty index or text.
    int rowForPrefix(const QString& text) const;
};

// The list model over a KeywordIndex. Display and tool tip: the keyword; Qt::UserRole: its
// first target; TargetsRole: all of them; IndentRole: its nesting level.
class KeywordIndexModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { TargetsRole = Qt::UserRole + 1, IndentRole };

    using QAbstractListModel::QAbstractListModel;

    void setIndex(KeywordIndex index);
    const KeywordIndex& keywordIndex() const { return m_index; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    KeywordIndex m_index;
};

// The Index tab: a line edit above the keyword list. Typing moves to the first keyword that
// starts with the text; Enter or a double click opens the keyword's page, after asking which
// one when the keyword has several. The index is parsed on the runner's low lane, from a book
// object of its own, so a large index never holds up the window.
class IndexWidget : public QWidget
{
    Q_OBJECT

public:
    // `runner` runs the panel's work and outlives the panel's tasks (not the panel).
    explicit IndexWidget(BackgroundRunner* runner, QWidget* parent = nullptr);

    // Starts reading the keyword index of the book at path; indexLoaded follows.
    void loadBook(const QString& path);
    bool isLoading() const { return m_loading; }

    QLineEdit* findEdit() const { return m_find; }
    QListView* list() const { return m_list; }
    KeywordIndexModel* model() const { return m_model; }

signals:
    // The index has been read: keywords is its count of rows, 0 when the book has none.
    void indexLoaded(int keywords);
    void currentUrlChanged(const QString& url);

public slots:
    void find(const QString& text);
    void openKeyword(const QModelIndex& index);

protected:
    // Asks which of several targets to open; returns its position in titles, or -1. Runs a
    // menu at globalPos; kept apart so the panel can be driven without one.
    virtual int chooseTarget(const QStringList& titles, const QPoint& globalPos);

private:
    QStringList targetTitles(const QStringList& urls) const;

    BackgroundRunner* m_runner;
    QString m_bookPath;
    bool m_loading = false;
    QLineEdit* m_find = nullptr;
    QListView* m_list = nullptr;
    KeywordIndexModel* m_model = nullptr;
};
