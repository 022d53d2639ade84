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

  // XMLHttpRequest: the request remembers its address and whether it
  // failed; the status and header getters answer for delivered file: URLs.
  var proto = XMLHttpRequest.prototype;
  var requests = new WeakMap();  // request -> { url, failed }

  function fileState(xhr) {
    var state = requests.get(xhr);
    return state && state.file && !state.failed &&
        xhr.readyState === 4 ? state : null;
  }

  function markFailed() {
    var state = requests.get(this);
    if (state) state.failed = true;
  }

  var open = proto.open;
  proto.open = function (method, url) {
    var state = requests.get(this);
    if (!state) {
      state = {};
      requests.set(this, state);
      this.addEventListener('error', markFailed);
      this.addEventListener('abort', markFailed);
      this.addEventListener('timeout', markFailed);
    }
    var u = resolve(url);
    state.url = u ? u.href : String(url);
    state.file = u !== null && u.protocol === 'file:';
    state.failed = false;
    return open.apply(this, arguments);
  };

  var send = proto.send;
  proto.send = function () {
    try {
      return send.apply(this, arguments);
    } catch (e) {
      markFailed.call(this);  // a synchronous request that failed
      throw e;
    }
  };

  function getter(name) {
    return Object.getOwnPropertyDescriptor(proto, name).get;
  }

  function redefine(name, fix) {
    var get = getter(name);
    Object.defineProperty(proto, name, {
      configurable: true, enumerable: true,
      get: function () {
        var value = get.call(this);
        return fix.call(this, value);
      }
    });
  }

  redefine('status', function (code) {
    return code === 0 && fileState(this) ? 200 : code;
  });
  redefine('statusText', function (text) {
    return !text && fileState(this) && getter('status').call(this) === 0
        ? 'OK' : text;
  });

  var getResponseHeader = proto.getResponseHeader;
  proto.getResponseHeader = function (name) {
    var value = getResponseHeader.apply(this, arguments);
    var state = fileState(this);
    if (value === null && state &&
        String(name).toLowerCase() === 'content-type') {
      return typeOf(state.url);
    }
    return value;
  };

  var getAllResponseHeaders = proto.getAllResponseHeaders;
  proto.getAllResponseHeaders = function () {
    var all = getAllResponseHeaders.apply(this, arguments);
    var state = fileState(this);
    if (state && !/^content-type:/im.test(all)) {
      all += 'content-type: ' + typeOf(state.url) + '\r\n';
    }
    return all;
  };
})();
