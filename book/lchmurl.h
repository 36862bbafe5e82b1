#pragma once

#include <QString>

// In-book paths: every path read from a book goes through makeAbsolutePath so that the
// same page always gets the same key. Web, mail, script and other-book links pass unchanged.
bool isRemoteUrl(const QString& url);
bool isJavascriptUrl(const QString& url);
bool isOtherBookUrl(const QString& url);
QString makeAbsolutePath(const QString& url);

// A target written in a sitemap, as an in-book path: escapes such as %20 decoded once, a
// relative target resolved against the folder of the sitemap file `sitemapPath` (an in-book
// path such as "/Documents/toc.hhc"), and ".." never leading above the book's root (such
// steps are dropped, as a browser does at a site's root). Web, mail, script and other-book
// links pass unchanged.
QString resolveSitemapTarget(const QString& target, const QString& sitemapPath);
