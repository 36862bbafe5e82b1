#pragma once

#include <QByteArray>
#include <QList>

// Setting up the browser engine for reading books. Declares no engine types, so that the
// window can prepare the engine without seeing them.
//
// Every scheme the book scheme handler (bookscheme.h) serves, page addresses first.
QList<QByteArray> handledSchemes();
// Must run before the QApplication exists. Registers the URL schemes of book pages: the page
// addresses the browser loads (see bookorigin.h), one origin per book, and the book URL forms
// pages write, "mk" (mk:@MSITStore:book::/page.htm), "ms-its" and "its". As root, switches
// Chromium's sandbox off, since it refuses to start as root with it on. And sets the engine up
// for reading books with little memory: one renderer
// process (otherwise the engine starts a fresh process for every page the view is sent to,
// which costs more than the page), pages drawn in software without a GPU process or GL driver,
// and no zygote processes when the sandbox is off. Switches and variables the caller already
// set in the environment are kept.
void prepareBrowserControl();
