// Runs at document start in every frame of every page the player shows.
//
// A tour's pages read their sibling files with fetch() and XMLHttpRequest.
// Over file: URLs the engine answers a request that succeeded with the
// status 0 and no content type, and scripts written for web servers take
// that for a failure (viewers refuse their scene lists, the Flash runtime
// refuses its movies). This makes such an answer look like a web server's:
// status 200 "OK" and a content type guessed from the file name.
//
// It only relabels answers the engine has delivered. A request that the
// engine refuses, or that finds no file, fails as before, and what a page
// can reach is not decided here.
(function () {
  'use strict';
  var TYPES = {
    html: 'text/html', htm: 'text/html', xhtml: 'application/xhtml+xml',
    xml: 'text/xml', js: 'text/javascript', mjs: 'text/javascript',
    css: 'text/css', json: 'application/json', txt: 'text/plain',
    csv: 'text/csv', svg: 'image/svg+xml', png: 'image/png',
    jpg: 'image/jpeg', jpeg: 'image/jpeg', gif: 'image/gif',
    webp: 'image/webp', bmp: 'image/bmp', ico: 'image/x-icon',
    avif: 'image/avif', mp3: 'audio/mpeg', wav: 'audio/wav',
    ogg: 'audio/ogg', oga: 'audio/ogg', m4a: 'audio/mp4', mp4: 'video/mp4',
    webm: 'video/webm', ogv: 'video/ogg', swf: 'application/x-shockwave-flash',
    spl: 'application/futuresplash', wasm: 'application/wasm',
    woff: 'font/woff', woff2: 'font/woff2', ttf: 'font/ttf', otf: 'font/otf',
    pdf: 'application/pdf', zip: 'application/zip'
  };
  var FALLBACK = 'application/octet-stream';

  function resolve(url) {
    try {
      return new URL(String(url), document.baseURI);
    } catch (e) {
      return null;
    }
  }

  function isFile(url) {
    var u = resolve(url);
    return u !== null && u.protocol === 'file:';
  }

  function typeOf(url) {
    var u = resolve(url);
    var name = u ? u.pathname : '';
    var dot = name.lastIndexOf('.');
    var ext = dot < 0 || name.indexOf('/', dot) >= 0 ? ''
        : name.slice(dot + 1).toLowerCase();
    return Object.prototype.hasOwnProperty.call(TYPES, ext) ? TYPES[ext]
        : FALLBACK;
  }

  // fetch(): a delivered file: answer becomes a 200 response with the same
  // body and address.
  var realFetch = window.fetch;
  if (typeof realFetch === 'function') {
    var fixed = function fetch(input, init) {
      var asked = input instanceof Request ? input.url : input;
      return realFetch.apply(window, arguments).then(function (response) {
        var url = response.url || String(asked);
        if (response.status !== 0 || response.type === 'opaque' ||
            !isFile(url)) {
          return response;
        }
        var headers = new Headers(response.headers);
        if (!headers.has('Content-Type')) {
          headers.set('Content-Type', typeOf(url));
        }
        var relabelled = new Response(response.body, {
          status: 200, statusText: 'OK', headers: headers
        });
        Object.defineProperty(relabelled, 'url', { value: response.url });
        return relabelled;
      });
    };
    window.fetch = fixed;
  }

  // XMLHttpRequest: a request that brought an answer has the address it
  // was answered from (responseURL); one that failed or found no file has
  // none, and keeps its status 0.
  var proto = XMLHttpRequest.prototype;

  function getter(name) {
    return Object.getOwnPropertyDescriptor(proto, name).get;
  }

  var readyState = getter('readyState');
  var responseURL = getter('responseURL');

  // The address of a delivered file: answer, else null.
  function deliveredFile(xhr) {
    if (readyState.call(xhr) < 2) return null;  // no answer yet
    var url = responseURL.call(xhr);
    return url && isFile(url) ? url : null;
  }

  function redefine(name, fix) {
    var get = getter(name);
    Object.defineProperty(proto, name, {
      configurable: true, enumerable: true,
      get: function () {
        return fix.call(this, get.call(this));
      }
    });
  }

  var status = getter('status');
  redefine('status', function (code) {
    return code === 0 && deliveredFile(this) ? 200 : code;
  });
  redefine('statusText', function (text) {
    return !text && status.call(this) === 0 && deliveredFile(this) ? 'OK'
        : text;
  });

  var getResponseHeader = proto.getResponseHeader;
  proto.getResponseHeader = function (name) {
    var value = getResponseHeader.apply(this, arguments);
    var url = value === null && deliveredFile(this);
    if (url && String(name).toLowerCase() === 'content-type') {
      return typeOf(url);
    }
    return value;
  };

  var getAllResponseHeaders = proto.getAllResponseHeaders;
  proto.getAllResponseHeaders = function () {
    var all = getAllResponseHeaders.apply(this, arguments);
    var url = deliveredFile(this);
    if (url && !/^content-type:/im.test(all)) {
      all += 'content-type: ' + typeOf(url) + '\r\n';
    }
    return all;
  };
})();
