#pragma once

#include <QByteArray>
#include <QList>

// Setting up the browser engine for reading books. Declares no engine types, so that the
// window can prepare the engine without seeing them.
//
// These must run before the QApplication exists.
// Registers the URL schemes of book pages: the page addresses the browser loads (see
// bookorigin.h), one origin per book, and the book URL forms pages write, "mk"
// (mk:@MSITStore:book::/page.htm), "ms-its" and "its".
void registerBookScheme();
// Every scheme the book scheme handler (bookscheme.h) serves, page addresses first.
QList<QByteArray> handledSchemes();
// Chromium refuses to start as root with its sandbox on: as root, switch it off.
void disableSandboxWhenRoot();
// Both of the above, and the engine set up for reading books with little memory: one renderer
// process (otherwise the engine starts a fresh process for every page the view is sent to,
// which costs more than the page), pages drawn in software without a GPU process or GL driver,
// and no zygote processes when the sandbox is off. Switches and variables the caller already
// set in the environment are kept.
void prepareBrowserControl();
