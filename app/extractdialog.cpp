#include "extractdialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QtConcurrent>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

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

// Carries the worker's progress to the dialog on the window's thread, and the reader's cancel
// back. The worker only posts an update when none is waiting, so the window's thread is never
// flooded and shows the latest object reached. With an onProgress hook the worker instead waits
// for every object to be shown, so the hook sees each one and can cancel before it.
class ProgressRelay : public QObject
{
public:
    ProgressRelay(QWidget* parent, const QString& label, const ExtractDialogHooks& hooks)
        : m_parent(parent), m_label(label), m_hooks(hooks), m_lockstep(bool(hooks.onProgress))
    {
    }

    // Worker thread: before object `index` of `count`. False stops the extraction.
    bool report(int index, int count)
    {
        if (m_cancelled.load())
            return false;
        m_count.store(count);
        m_index.store(index);
        if (m_lockstep) {
            std::unique_lock<std::mutex> lock(m_mutex);
            postShow();
            m_shownChanged.wait(lock, [&] { return m_shown == index; });
        } else if (!m_updatePending.exchange(true)) {
            postShow();
        }
        return !m_cancelled.load();
    }

    // Window thread, once the worker has returned: the dialog completes and takes no more updates.
    void finish()
    {
        m_finished = true;
        if (m_dialog)
            m_dialog->setValue(m_dialog->maximum());
    }

private:
    void postShow()
    {
        QMetaObject::invokeMethod(this, [this] { show(); }, Qt::QueuedConnection);
    }

    // Window thread: the dialog at the object the worker reached.
    void show()
    {
        const int index = m_index.load();
        if (!m_finished) {
            if (!m_dialog) {
                m_dialog = std::make_unique<QProgressDialog>(m_parent);
                m_dialog->setLabelText(m_label);
                m_dialog->setRange(0, m_count.load());
                m_dialog->setWindowModality(Qt::WindowModal);
                connect(m_dialog.get(), &QProgressDialog::canceled, this, [this] { m_cancelled.store(true); });
            }
            // A modal dialog handles pending events here; no other update is posted meanwhile.
            m_dialog->setValue(index);
            if (m_hooks.onProgress)
                m_hooks.onProgress(m_dialog.get(), index);
            if (m_dialog->wasCanceled())
                m_cancelled.store(true);
        }
        if (m_lockstep) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_shown = index;
            }
            m_shownChanged.notify_one();
        } else {
            m_updatePending.store(false);
        }
    }

    QPointer<QWidget> m_parent;
    const QString m_label;
    const ExtractDialogHooks& m_hooks;
    const bool m_lockstep;
    std::unique_ptr<QProgressDialog> m_dialog;
    bool m_finished = false;

    std::atomic<int> m_index{0};
    std::atomic<int> m_count{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_updatePending{false};
    std::mutex m_mutex;
    std::condition_variable m_shownChanged;
    int m_shown = -1;   // the last object shown in lockstep
};

} // namespace

std::optional<ExtractionResult> extractBookInteractively(QWidget* parent, const QString& bookPath,
                                                         const ExtractDialogHooks& hooks)
{
    const QString caption = tr("Choose a directory to extract current chm file");
    const QString targetDir = hooks.chooseDirectory
        ? hooks.chooseDirectory(parent, caption)
        : QFileDialog::getExistingDirectory(parent, caption, QString(),
                                            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (targetDir.isEmpty()) {
        showMessage(parent, hooks, true, tr("choise a path to extract current file first"));
        return std::nullopt;
    }

    const QString label = tr("Extract %1").arg(QFileInfo(bookPath).fileName());
    ProgressRelay relay(parent, label, hooks);
    auto extract = hooks.extract;
    if (!extract)
        extract = &BookExtractor::extract;
    QFutureWatcher<ExtractionResult> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<ExtractionResult>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([&relay, &extract, bookPath, targetDir] {
        return extract(bookPath, targetDir, [&relay](int index, int count) { return relay.report(index, count); });
    }));
    if (!watcher.isFinished())
        loop.exec();
    const ExtractionResult result = watcher.result();
    relay.finish();

    if (result.status == ExtractionResult::BookNotOpened || result.status == ExtractionResult::NoTarget) {
        showMessage(parent, hooks, true, tr("can not extract current file"), result.errorString);
        return result;
    }
    if (result.failed > 0)
        showMessage(parent, hooks, true, failureSummary(result));
    else
        showMessage(parent, hooks, false, tr("Extract accomplished"));
    return result;
}
