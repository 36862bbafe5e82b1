#pragma once

#include <QString>

// In-book paths: every path read from a book goes through makeAbsolutePath so that the
// same page always gets the same key. Web, mail, script and other-book links pass unchanged.
bool isRemoteUrl(const QString& url);
bool isJavascriptUrl(const QString& url);
bool isOtherBookUrl(const QString& url);
QString makeAbsolutePath(const QString& url);
