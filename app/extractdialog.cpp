#include "extractdialog.h"

#include "backgroundrunner.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

void showMessage(QWidget* parent, const ExtractDialogHooks& hooks, bool warning, const QString& text,
                 const QString& detail = QString())
{
    if (hooks.showMessage) {
        hooks.showMessage(parent, warning, text, detail);
        return;
    }
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, tr("Pagewick"), text,
                    QMessageBox::Ok, parent);
    box.setDetailedText(detail);
    box.exec();
}

// What the reader is told when objects failed: how many, and the first few by name.
QString failureSummary(const ExtractionResult& result)
{
    QString text = result.failed == 1 ? tr("1 file of the book could not be extracted:")
                                      : tr("%1 files of the book could not be extracted:").arg(result.failed);
    for (const QString& name : result.failedNames)
        text += QLatin1Char('\n') + name;
    if (result.failed > result.failedNames.size())
        text += QLatin1Char('\n') + tr("and %1 more.").arg(result.failed - result.failedNames.size());
    return text;
}

// The window's side of one extraction: the progress dialog at the object the worker reached,
// and the reader's cancel for the worker. With an onProgress hook the worker waits for every
// object to be shown, so the hook sees each one and can cancel before it.
class ProgressRelay : public QObject
{
public:
    // What the worker shares with the window.
    struct Shared
    {
        std::atomic<bool> cancelled{false};
        std::atomic<int> shown{-1};   // the last object shown
    };

    ProgressRelay(QWidget* parent, QObject* owner, const QString& label, const ExtractDialogHooks& hooks)
        : QObject(owner), m_parent(parent), m_label(label), m_hooks(hooks)
    {
    }
    ~ProgressRelay() override
    {
        delete m_dialog;
        shared->cancelled.store(true);
    }

    // Worker thread: before object `index` of `count`. False stops the extraction.
    static bool report(const BackgroundRunner::Task& task, Shared& shared, bool lockstep, int index, int count)
    {
        const auto stopped = [&] { return shared.cancelled.load() || task.isCancelled(); };
        if (stopped())
            return false;
        task.progress(index, count);
        while (lockstep && shared.shown.load() != index && !stopped())
            QThread::msleep(1);
        return !stopped();
    }

    // Window thread: the dialog at the object the worker reached.
    void show(int index, int count)
    {
        if (!m_finished) {
            if (!m_dialog) {
                m_dialog = new QProgressDialog(m_parent);
                m_dialog->setLabelText(m_label);
                m_dialog->setRange(0, count);
                m_dialog->setWindowModality(Qt::WindowModal);
                connect(m_dialog, &QProgressDialog::canceled, this, [this] { shared->cancelled.store(true); });
            }
            // A modal dialog handles pending events here.
            m_dialog->setValue(index);
            if (m_hooks.onProgress)
                m_hooks.onProgress(m_dialog, index);
            if (m_dialog->wasCanceled())
                shared->cancelled.store(true);
        }
        shared->shown.store(index);
    }

    // Window thread, once the worker has returned: the dialog completes and takes no more updates.
    void finish()
    {
        m_finished = true;
        if (m_dialog)
            m_dialog->setValue(m_dialog->maximum());
    }

    const std::shared_ptr<Shared> shared = std::make_shared<Shared>();

private:
    QPointer<QWidget> m_parent;
    const QString m_label;
    const ExtractDialogHooks m_hooks;
    QPointer<QProgressDialog> m_dialog;   // a child of m_parent, which may go first
    bool m_finished = false;
};

} // namespace

bool extractBookInteractively(QWidget* parent, BackgroundRunner& runner, const QString& bookPath,
                              const ExtractDialogHooks& hooks)
{
    const QString caption = tr("Choose a directory to extract current chm file");
    const QString targetDir = hooks.chooseDirectory
        ? hooks.chooseDirectory(parent, caption)
        : QFileDialog::getExistingDirectory(parent, caption, QString(),
                                            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (targetDir.isEmpty()) {
        showMessage(parent, hooks, true, tr("choise a path to extract current file first"));
        return false;
    }

    // The relay goes with the window, or with the runner when there is none.
    auto* relay = new ProgressRelay(parent, parent ? static_cast<QObject*>(parent) : &runner,
                                    tr("Extract %1").arg(QFileInfo(bookPath).fileName()), hooks);
    const auto extract = hooks.extract ? hooks.extract : &BookExtractor::extract;
    runner.run(
        BackgroundRunner::Lane::Normal, relay,
        [extract, shared = relay->shared, lockstep = bool(hooks.onProgress), bookPath,
         targetDir](const BackgroundRunner::Task& task) {
            return extract(bookPath, targetDir, [&](int index, int count) {
                return ProgressRelay::report(task, *shared, lockstep, index, count);
            });
        },
        [relay, parent, hooks](const ExtractionResult& result) {
            relay->finish();
            relay->deleteLater();
            if (result.status == ExtractionResult::BookNotOpened || result.status == ExtractionResult::NoTarget)
                showMessage(parent, hooks, true, tr("can not extract current file"), result.errorString);
            else if (result.failed > 0)
                showMessage(parent, hooks, true, failureSummary(result));
            else
                showMessage(parent, hooks, false, tr("Extract accomplished"));
            if (hooks.finished)
                hooks.finished(result);
        },
        QString(), [relay](int index, int count) { relay->show(index, count); });
    return true;
}
