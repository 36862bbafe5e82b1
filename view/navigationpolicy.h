#pragma once

class BrowserControl;
class QWebEngineProfile;
class QWebEnginePage;

// The page for the browser control: every navigation it or a new window it opens asks for goes
// through the control's rules (BrowserControl::acceptNavigation, defined beside it). Owned by
// control.
QWebEnginePage* newBookPage(QWebEngineProfile* profile, BrowserControl* control);
