#pragma once

#include <QString>

// The script the page view runs inside each page, in a world of its own: the page's scripts
// can neither see nor change it. Its source is pagescript.js, compiled in as a resource. It defines window.__pagewick once per document with these
// calls (offsets count the page's characters, see BrowserControl::pageText):
//   takeClickedLink()      the address of the link the reader clicked last, in the page or a
//                          frame of its own book (a real click, not a script's), if it was a
//                          moment ago, else ''; forgotten once taken
//   capture()              {title, text}: the document title and every character of the page
//   selection()            [start, end] of the reader's selection, [] when there is none
//   paint(start, end, c)   gives the characters [start, end) the background colour c
//   selectAll(), unselect()
//   scroll()               [x, y];   scrollTo(x, y)
//   zoom()                 the body's CSS zoom as a number (0 when unset or not a number),
//                          null without a body;   setZoom(z) writes it and returns the read-back
namespace PageScript {

// Defines window.__pagewick unless the document already has it.
const QString& definition();

// A call to make on the page: the definition (for documents it was not injected into, such as
// "about:blank" and error pages) followed by "window.__pagewick." + call.
QString call(const QString& call);

// The page colours script (pagecolors.js), in the same world: window.__pagewickColors with
//   set(dark)              dark (true) or the book's own colours, in the page and its frames
//                          of the same origin; answers whether the page has dark styles of its own
//   forPrint(on)           the page's own media rules as written while printing
//   state()                'book', 'dark' (darkened by the reader) or 'own' (its own dark styles)
const QString& colorsDefinition();
QString colorsCall(const QString& call);

} // namespace PageScript
