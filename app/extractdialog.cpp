#include "extractdialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>

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

    std::unique_ptr<QProgressDialog> dialog;
    const QString label = tr("Extract %1").arg(QFileInfo(bookPath).fileName());
    const ExtractionResult result = BookExtractor::extract(bookPath, targetDir, [&](int index, int count) {
        if (!dialog) {
            dialog = std::make_unique<QProgressDialog>(parent);
            dialog->setLabelText(label);
            dialog->setRange(0, count);
            dialog->setWindowModality(Qt::WindowModal);
        }
        dialog->setValue(index);
        if (hooks.onProgress)
            hooks.onProgress(dialog.get(), index);
        QApplication::processEvents();
        return !dialog->wasCanceled();
    });

    if (result.status == ExtractionResult::BookNotOpened || result.status == ExtractionResult::NoTarget) {
        showMessage(parent, hooks, true, tr("can not extract current file"), result.errorString);
        return result;
    }
    if (dialog)
        dialog->setValue(dialog->maximum());
    if (result.failed > 0)
        showMessage(parent, hooks, true, failureSummary(result));
    else
        showMessage(parent, hooks, false, tr("Extract accomplished"));
    return result;
}
