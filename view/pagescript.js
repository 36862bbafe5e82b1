if (!window.__pagewick) {
  window.__pagewick = (function () {
    'use strict';
    // The characters of a page are the text of its text nodes under the body, in document
    // order, leaving out what scripts, styles, noscript and template elements hold.
    const skipped = new Set(['script', 'style', 'noscript', 'template']);
    // A walk by hand: a tree walker calling a filter for every node costs ten times more.
    function textNodes() {
      const nodes = [];
      const body = document.body;
      if (!body)
        return nodes;
      let node = body.firstChild;
      while (node) {
        const type = node.nodeType;
        if (type === Node.TEXT_NODE || type === Node.CDATA_SECTION_NODE) {
          nodes.push(node);
        } else if (type === Node.ELEMENT_NODE && node.firstChild && !skipped.has(node.localName)) {
          node = node.firstChild;
          continue;
        }
        while (node !== body && !node.nextSibling)
          node = node.parentNode;
        if (node === body)
          break;
        node = node.nextSibling;
      }
      return nodes;
    }

    // The number of characters before a boundary point of a DOM range.
    function offsetOf(nodes, container, offset) {
      const boundary = document.createRange();
      try {
        boundary.setStart(container, offset);
      } catch (e) {
        return 0;
      }
      // The first text node that does not begin before the boundary (nodes are in document order).
      let low = 0;
      let high = nodes.length;
      while (low < high) {
        const middle = (low + high) >> 1;
        if (nodes[middle] !== container && boundary.comparePoint(nodes[middle], 0) < 0)
          low = middle + 1;
        else
          high = middle;
      }
      let count = 0;
      for (let i = 0; i < low; ++i)
        count += nodes[i].length;
      if (low < nodes.length && nodes[low] === container)
        count += Math.min(offset, container.length);
      return count;
    }

    // Parents under which a span would change the layout or not show at all.
    const noSpanParents = new Set(['textarea', 'option', 'optgroup', 'select', 'title', 'datalist']);
    const noBlankSpanParents = new Set(['html', 'head', 'table', 'thead', 'tbody', 'tfoot', 'tr',
                                        'colgroup', 'ul', 'ol', 'dl', 'frameset']);
    const htmlNamespace = 'http://www.w3.org/1999/xhtml';
    function paintable(node) {
      const parent = node.parentNode;
      if (!parent || parent.namespaceURI !== htmlNamespace || noSpanParents.has(parent.localName))
        return false;
      return !(noBlankSpanParents.has(parent.localName) && /^\s*$/.test(node.data));
    }

    // The link of the reader's last click, from events the browser made for real input only
    // (a page's scripts can click, but their clicks are never "trusted"). Seen first, at the
    // window, before any handler of the page. Frames of the page's own book keep their own;
    // the top page takes the latest of them all (clock time: each frame counts its own
    // performance time).
    const kClickLifetimeMs = 2000;
    let clicked = null;
    function noteClick(event) {
      clicked = null;
      if (!event.isTrusted || !(event.target instanceof Element))
        return;
      const link = event.target.closest('a[href], area[href]');
      if (link && typeof link.href === 'string')
        clicked = { href: link.href, at: Date.now() };
    }
    window.addEventListener('click', noteClick, true);
    window.addEventListener('auxclick', noteClick, true);
    // Takes the click records of this window and of its frames of the same origin.
    function takeClicks(records) {
      if (clicked)
        records.push(clicked);
      clicked = null;
      for (let i = 0; i < window.frames.length; ++i) {
        try {
          const inner = window.frames[i].__pagewick;
          if (inner)
            inner.takeClicks(records);
        } catch (e) {
          // A frame of another origin: its clicks are not this page's.
        }
      }
      return records;
    }

    return {
      takeClicks: takeClicks,
      takeClickedLink() {
        let latest = null;
        for (const record of takeClicks([])) {
          if (!latest || record.at > latest.at)
            latest = record;
        }
        return latest && Date.now() - latest.at < kClickLifetimeMs ? latest.href : '';
      },
      capture() {
        const nodes = textNodes();
        let text = '';
        for (const node of nodes)
          text += node.data;
        return { title: document.title, text: text };
      },
      selection() {
        const selection = window.getSelection();
        if (!selection || selection.rangeCount === 0)
          return [];
        const range = selection.getRangeAt(0);
        const nodes = textNodes();
        return [offsetOf(nodes, range.startContainer, range.startOffset),
                offsetOf(nodes, range.endContainer, range.endOffset)];
      },
      // Wraps the characters [start, end) in spans with a background colour. Text nodes are
      // split, never changed, so the page keeps every character where it was.
      paint(start, end, color) {
        let painted = 0;
        if (!(end > start))
          return painted;
        let position = 0;
        for (const node of textNodes()) {
          const length = node.length;
          const nodeStart = position;
          position += length;
          if (position <= start)
            continue;
          if (nodeStart >= end)
            break;
          if (!paintable(node))
            continue;
          const from = Math.max(start, nodeStart) - nodeStart;
          const to = Math.min(end, position) - nodeStart;
          let target = node;
          if (to < length)
            target.splitText(to);
          if (from > 0)
            target = target.splitText(from);
          const span = document.createElement('span');
          span.style.setProperty('background-color', color, 'important');
          // Dark pages show marks in their own colours (pagecolors.js).
          span.setAttribute('data-pagewick-mark', '');
          target.parentNode.insertBefore(span, target);
          span.appendChild(target);
          ++painted;
        }
        return painted;
      },
      selectAll() {
        const selection = window.getSelection();
        if (selection && document.body)
          selection.selectAllChildren(document.body);
        return true;
      },
      unselect() {
        const selection = window.getSelection();
        if (selection)
          selection.removeAllRanges();
        return true;
      },
      scroll() {
        return [Math.round(window.scrollX), Math.round(window.scrollY)];
      },
      scrollTo(x, y) {
        window.scrollTo(x, y);
        return true;
      },
      zoom() {
        const body = document.body;
        if (!body)
          return null;
        const zoom = Number(body.style.zoom);
        return isNaN(zoom) ? 0 : zoom;
      },
      setZoom(zoom) {
        const body = document.body;
        if (!body)
          return null;
        body.style.zoom = String(zoom);
        const readBack = Number(body.style.zoom);
        return isNaN(readBack) ? 0 : readBack;
      }
    };
  })();
}
