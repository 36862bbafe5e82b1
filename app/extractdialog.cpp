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

void showMessage(QWidget* parent, const ExtractDialogHooks& hooks, bool warning, const QString& text)
{
    if (hooks.showMessage) {
        hooks.showMessage(parent, warning, text);
        return;
    }
    if (warning)
        QMessageBox::warning(parent, tr("Pagewick"), text, QMessageBox::Ok);
    else
        QMessageBox::information(parent, tr("Pagewick"), text, QMessageBox::Ok);
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
        showMessage(parent, hooks, true, tr("can not extract current file"));
        return result;
    }
    if (dialog)
        dialog->setValue(dialog->maximum());
    showMessage(parent, hooks, false, tr("Extract accomplished"));
    return result;
}
