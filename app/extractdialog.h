#pragma once

#include "extractor.h"

#include <QString>

#include <functional>

class BackgroundRunner;
class QProgressDialog;
class QWidget;

// Stand-ins for the dialogs of an interactive extraction, so tests can drive it without
// blocking. An unset member uses the real dialog.
struct ExtractDialogHooks
{
    // In place of QFileDialog::getExistingDirectory(parent, caption, ...).
    std::function<QString(QWidget* parent, const QString& caption)> chooseDirectory;
    // In place of the message boxes: a warning box when `warning`, an information box otherwise;
    // `detail` is the box's detailed text (empty for none).
    std::function<void(QWidget* parent, bool warning, const QString& text, const QString& detail)> showMessage;
    // Called with the progress dialog before each object, after its value is set. The worker
    // waits for it before each object, so a cancel here stops before that object.
    std::function<void(QProgressDialog* dialog, int index)> onProgress;
    // In place of BookExtractor::extract; called on the worker thread.
    std::function<ExtractionResult(const QString& bookPath, const QString& targetDir,
                                   const BookExtractor::Progress& progress)> extract;
    // Called with the result once the reader has been told how it went.
    std::function<void(const ExtractionResult& result)> finished;
};

// The Extract command of the main window: asks for a folder, extracts the book at `bookPath`
// into it behind a window-modal progress dialog "Extract <file name>" that can cancel, and tells
// the user how it went: "Extract accomplished" when every object was written (also after a
// cancellation), otherwise a warning with the count of objects that failed and the first few
// of their names. When the book or the folder cannot be opened, the reason is the message's
// detailed text. Nothing happens to the book when no folder is chosen; the result is then false.
//
// The extraction itself runs on the runner's normal lane and the call returns once it is
// started: the dialog gets the object the worker has reached, and the end, through the runner,
// and cancelling stops the worker before its next object. An extraction the runner cancels (the
// window closes) stops the same way and tells nothing.
bool extractBookInteractively(QWidget* parent, BackgroundRunner& runner, const QString& bookPath,
                              const ExtractDialogHooks& hooks = {});
