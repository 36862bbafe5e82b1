if (!window.__pagewickColors) {
  window.__pagewickColors = (function () {
    'use strict';
    // Dark pages that keep their layout: the whole page is inverted and turned half way round
    // the colour wheel (light turns dark, hues stay), and what shows pictures is turned back,
    // so photographs and screenshots keep their colours. Nothing in the document changes but
    // a style sheet adopted by the document and marks on pictures; the page's characters stay.
    //
    // A page with styles of its own for dark (prefers-color-scheme: dark) gets those instead:
    // its media rules are rewritten to match as if the desktop asked for dark, and nothing is
    // inverted. Frames are inverted with their parent, so they only turn their pictures back.
    //
    // Printing is never dark: the filters apply on screen only, and forPrint(true) puts the
    // page's own media rules back as written until forPrint(false).
    const turn = 'invert(1) hue-rotate(180deg)';
    const isTop = window === window.top;
    // Pictures that show through their background (diagrams drawn on transparent ground) are
    // left inverted, as the text around them: turned back, their dark lines would vanish into
    // the dark page. Marks of notes and search hits are turned back to their own colours.
    const pictures = 'img:not([data-pagewick-clear]), video, canvas, embed, object, svg image, '
                   + '[data-pagewick-mark]';
    const sheetText = {
      page: '@media screen { html { filter: ' + turn + ' !important; } '
            + pictures + ' { filter: ' + turn + ' !important; } }',
      frame: '@media screen { ' + pictures + ' { filter: ' + turn + ' !important; } }'
    };
    const darkQuery = /\(\s*prefers-color-scheme\s*:\s*dark\s*\)/gi;
    const lightQuery = /\(\s*prefers-color-scheme\s*:\s*light\s*\)/gi;
    // Media queries that always and never match on screen and paper alike.
    const always = '(min-width: 0px)';
    const never = '(max-width: -1px)';

    let dark = false;
    let printing = false;
    let sheet = null;
    // Every media list of the page that names the colour scheme, with its text as written.
    const written = new Map();

    function mediaLists() {
      const lists = [];
      const visit = (styleSheet, depth) => {
        if (!styleSheet || depth > 8)
          return;
        lists.push(styleSheet.media);
        let rules;
        try {
          rules = styleSheet.cssRules;
        } catch (e) {
          return;   // a sheet of another origin: not readable, and not the book's
        }
        const pending = Array.from(rules);
        for (let i = 0; i < pending.length && i < 20000; ++i) {
          const rule = pending[i];
          if (rule.styleSheet)
            visit(rule.styleSheet, depth + 1);
          if (rule.media)
            lists.push(rule.media);
          if (rule.cssRules)
            pending.push(...rule.cssRules);
        }
      };
      for (const styleSheet of Array.from(document.styleSheets))
        visit(styleSheet, 0);
      return lists;
    }

    // Finds the media lists that name the colour scheme; true when the page styles itself for dark.
    function scanMedia() {
      for (const list of mediaLists()) {
        if (list && !written.has(list) && /prefers-color-scheme/i.test(list.mediaText))
          written.set(list, list.mediaText);
      }
      for (const text of written.values()) {
        if (text.search(darkQuery) >= 0)
          return true;
      }
      return false;
    }

    function rewriteMedia(asDark) {
      for (const [list, text] of written) {
        const wanted = asDark ? text.replace(darkQuery, always).replace(lightQuery, never) : text;
        if (list.mediaText !== wanted)
          list.mediaText = wanted;
      }
    }

    // Marks the pictures that show through: more than a twentieth of a small copy is clear.
    const probe = document.createElement('canvas');
    probe.width = probe.height = 24;
    const classified = new WeakSet();
    function classify(image) {
      if (classified.has(image) || !image.naturalWidth)
        return;
      classified.add(image);
      try {
        const context = probe.getContext('2d', { willReadFrequently: true });
        context.clearRect(0, 0, 24, 24);
        context.drawImage(image, 0, 0, 24, 24);
        const pixels = context.getImageData(0, 0, 24, 24).data;
        let clear = 0;
        for (let i = 3; i < pixels.length; i += 4) {
          if (pixels[i] < 200)
            ++clear;
        }
        if (clear * 20 > 24 * 24)
          image.setAttribute('data-pagewick-clear', '');
      } catch (e) {
        // Not readable (not of this book): taken as a photograph.
      }
    }
    // After the page is drawn dark: reading pictures back decodes them, which must not hold up
    // the change.
    let classifying = false;
    function classifyLater() {
      if (classifying)
        return;
      classifying = true;
      setTimeout(() => {
        classifying = false;
        if (dark)
          classifyAll();
      }, 50);
    }
    function classifyAll() {
      for (const image of Array.from(document.images)) {
        if (image.complete)
          classify(image);
        else
          image.addEventListener('load', () => { if (dark) classify(image); }, { once: true });
      }
    }

    function adopt(text) {
      if (!sheet) {
        sheet = new CSSStyleSheet();
        document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
      } else if (!document.adoptedStyleSheets.includes(sheet)) {
        document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
      }
      sheet.replaceSync(text);
    }

    // Brings the page to the colours asked for: dark or the book's own.
    // Whether the frame's parent is turned, itself or by its own parent: then the frame is
    // turned with it and only turns its pictures back. A parent of another origin is taken as
    // turned (it is when dark and without dark styles of its own, as nearly all pages are).
    function parentTurned() {
      if (isTop)
        return false;
      try {
        const parent = window.parent.__pagewickColors;
        return !parent || parent.turned();
      } catch (e) {
        return true;
      }
    }

    // What the document shows now: 'book', 'dark' (turned) or 'own' (its own dark styles).
    let shown = 'book';
    // Brings the page to the colours asked for: dark or the book's own; then its frames.
    function update() {
      if (!dark && !sheet && written.size === 0)
        return false;   // never dark: nothing to look at
      const ownDark = scanMedia();
      const underTurned = dark && parentTurned();
      // Under a turned parent, a dark style of the frame's own would be turned back to light.
      rewriteMedia(dark && ownDark && !underTurned && !printing);
      if (underTurned) {
        adopt(sheetText.frame);
        shown = 'dark';
      } else if (dark && !ownDark) {
        adopt(sheetText.page);
        shown = 'dark';
      } else {
        if (sheet)
          sheet.replaceSync('');
        shown = dark ? 'own' : 'book';
      }
      if (dark && document.readyState !== 'loading')
        classifyLater();
      forFrames(inner => inner.update());
      return ownDark;
    }

    // Same-origin frames follow their parent.
    function forFrames(call) {
      for (let i = 0; i < window.frames.length; ++i) {
        try {
          const inner = window.frames[i].__pagewickColors;
          if (inner)
            call(inner);
        } catch (e) {
          // A frame of another origin keeps the colours it was created with.
        }
      }
    }

    document.addEventListener('DOMContentLoaded', update);
    window.addEventListener('load', update);

    return {
      // Dark (true) or the book's colours; answers whether the page has dark styles of its own.
      set(wanted) {
        dark = !!wanted;
        forFrames(inner => inner.setOnly(dark));
        return update();
      },
      setOnly(wanted) {
        dark = !!wanted;
        forFrames(inner => inner.setOnly(dark));
      },
      forPrint(on) {
        printing = !!on;
        forFrames(inner => inner.forPrint(printing));
        if (isTop)
          update();
        return true;
      },
      update: update,
      turned() {
        return shown === 'dark';
      },
      // What the page shows: 'book', 'dark' (turned, by itself or with its parent) or 'own'
      // (its own dark styles).
      state() {
        update();
        return shown;
      }
    };
  })();
}
