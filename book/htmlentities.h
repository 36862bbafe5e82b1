#pragma once

#include <QStringView>

// The named character references that books write in their pages and sitemaps: the Latin-1
// set (U+00A0 to U+00FF, with "Dstrok" for U+00D0 as some help compilers write it), the
// markup characters, typographic punctuation and spaces, arrows, some Greek letters and
// mathematical signs ("lte" and "gte" beside "le" and "ge"). Names are case-sensitive.
//
// Four names stand for the plain ASCII character that help compilers' sitemaps mean by them,
// not the one HTML gives them: "Prime" is '"', "minus" '-', "oplus" '+' and "frasl" '/'.
//
// Every code point is in the Basic Multilingual Plane. Numeric references ("&#233;") are
// not looked up here: the page-text extractor and the sitemap parser read them by rules of
// their own.
namespace HtmlEntities {

// The code point `name` (without "&" and ";") stands for; 0 when the name is unknown.
char32_t codePoint(QStringView name);

} // namespace HtmlEntities
