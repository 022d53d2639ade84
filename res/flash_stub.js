// Runs at document start in every frame of every page the player shows,
// when the player carries the Flash runtime. The player calls this function
// with its settings:
//   runtime   address of the runtime's loader script
//   config    the runtime's settings for tours
//   wasm      "plain" to start the runtime's WebAssembly module that needs
//             no extensions even where the engine has them; else "auto"
//
// Old pages look for the browser plug-in before they write their <embed>,
// so its entry exists before the page's first script runs. The runtime
// itself (half a megabyte of script and a 14 MB WebAssembly module) is
// loaded only once the frame holds Flash markup: an <object> or <embed>
// naming a .swf movie, the Flash MIME type or the Flash ActiveX class, or
// an <object> with a "movie" parameter, also when a script adds one later.
function (settings) {
  'use strict';
  var FLASH_TYPE =
      /^\s*application\/(x-shockwave-flash|futuresplash|vnd\.adobe\.flash\.movie)\s*(;|$)/i;
  var FLASH_CLASSID = 'clsid:d27cdb6e-ae6d-11cf-96b8-444553540000';
  // The description carries the version detection scripts parse; the file
  // name is how the runtime recognises its own entry (and so replaces the
  // markup rather than leave it to a real plug-in).
  var PLUGIN = {
    name: 'Shockwave Flash',
    description: 'Shockwave Flash 32.0 r0',
    filename: 'ruffle.js'
  };
  var MIME_TYPES = [
    ['application/x-shockwave-flash', 'swf'],
    ['application/futuresplash', 'spl'],
    ['application/x-shockwave-flash2-preview', 'swf'],
    ['application/vnd.adobe.flash.movie', 'swf']
  ];

  // A list like navigator.plugins: indexes, names, item(), namedItem().
  function listOf(items, key) {
    var list = {};
    function define(name, value) {
      Object.defineProperty(list, name, { value: value, configurable: true });
    }
    items.forEach(function (item, i) {
      define(i, item);
      if (item[key] && !(item[key] in list)) define(item[key], item);
    });
    define('length', items.length);
    define('item', function (i) { return items[i >>> 0] || null; });
    define('namedItem', function (name) {
      for (var i = 0; i < items.length; i++) {
        if (items[i][key] === name) return items[i];
      }
      return null;
    });
    define('refresh', function () {});
    define(Symbol.iterator, function () { return items[Symbol.iterator](); });
    return list;
  }

  function installPluginEntry() {
    if (navigator.plugins && navigator.plugins.namedItem &&
        navigator.plugins.namedItem(PLUGIN.name)) {
      return;
    }
    var plugin = {};
    var types = MIME_TYPES.map(function (entry) {
      return { type: entry[0], suffixes: entry[1], description: PLUGIN.name,
               enabledPlugin: plugin };
    });
    var own = listOf(types, 'type');
    Object.getOwnPropertyNames(own).concat([Symbol.iterator]).forEach(
        function (name) {
          Object.defineProperty(plugin, name,
                                Object.getOwnPropertyDescriptor(own, name));
        });
    Object.keys(PLUGIN).forEach(function (name) {
      Object.defineProperty(plugin, name, { value: PLUGIN[name] });
    });
    var plugins = Array.prototype.slice.call(navigator.plugins || []);
    var mimeTypes = Array.prototype.slice.call(navigator.mimeTypes || []);
    Object.defineProperty(navigator, 'plugins', {
      value: listOf(plugins.concat([plugin]), 'name'), configurable: true
    });
    Object.defineProperty(navigator, 'mimeTypes', {
      value: listOf(mimeTypes.concat(types), 'type'), configurable: true
    });
  }

  function isMovieAddress(address) {
    if (!address) return false;
    var path = String(address).split(/[?#]/)[0].trim();
    return /\.(swf|spl)$/i.test(path);
  }

  function isFlashElement(element) {
    var type = element.getAttribute('type');
    if (type && FLASH_TYPE.test(type)) return true;
    if (element.localName === 'embed') {
      return isMovieAddress(element.getAttribute('src'));
    }
    var classid = (element.getAttribute('classid') || '').trim().toLowerCase();
    if (classid === FLASH_CLASSID) return true;
    if (isMovieAddress(element.getAttribute('data'))) return true;
    for (var i = 0; i < element.children.length; i++) {
      var param = element.children[i];
      if (param.localName === 'param' &&
          /^(movie|src)$/i.test(param.getAttribute('name') || '') &&
          (param.getAttribute('value') || '').trim() !== '') {
        return true;
      }
    }
    return false;
  }

  function hasFlash() {
    var found = document.querySelectorAll('object, embed');
    for (var i = 0; i < found.length; i++) {
      if (isFlashElement(found[i])) return true;
    }
    return false;
  }

  function concernsFlash(mutation) {
    if (mutation.type === 'attributes') {
      var name = mutation.target.localName;
      return name === 'object' || name === 'embed' || name === 'param';
    }
    for (var i = 0; i < mutation.addedNodes.length; i++) {
      var node = mutation.addedNodes[i];
      if (node.nodeType !== Node.ELEMENT_NODE) continue;
      if (/^(object|embed|param)$/.test(node.localName) ||
          node.querySelector('object, embed')) {
        return true;
      }
    }
    return false;
  }

  // The runtime picks the WebAssembly module that needs SIMD and other
  // extensions when the engine validates a probe module that uses them.
  // Failing the SIMD probe makes it take the plain module.
  function preferPlainModule() {
    var validate = WebAssembly.validate;
    WebAssembly.validate = function (bytes) {
      var view = ArrayBuffer.isView(bytes)
          ? new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength)
          : new Uint8Array(bytes);
      for (var i = 8; i + 1 < view.length; i++) {
        if (view.length < 64 && view[i] === 0xfd) return false;  // SIMD prefix
      }
      return validate.apply(WebAssembly, arguments);
    };
  }

  var loaded = false;
  function loadRuntime() {
    if (loaded) return;
    loaded = true;
    observer.disconnect();
    if (settings.wasm === 'plain') preferPlainModule();
    // Keys reach a movie only when it has the focus: give it to the first
    // movie that is ready, unless the user is somewhere else already.
    // The runtime hears keys while its stage (the container of its canvas)
    // has the focus; focusing the movie's element would hand the focus to
    // its first focusable part, a text field for on-screen keyboards.
    // The event comes from inside the runtime, which hears the focus only
    // once it has returned.
    document.addEventListener('loadedmetadata', function (event) {
      var movie = event.target;
      setTimeout(function () {
        var active = document.activeElement;
        if (active && active !== document.body &&
            active !== document.documentElement) {
          return;
        }
        var stage = movie.shadowRoot &&
            movie.shadowRoot.getElementById('container');
        (stage || movie).focus({ preventScroll: true });
      }, 0);
    }, true);
    var script = document.createElement('script');
    script.src = settings.runtime;
    (document.head || document.documentElement).appendChild(script);
  }

  function check() {
    if (!loaded && document.documentElement && hasFlash()) loadRuntime();
  }

  var observer = new MutationObserver(function (mutations) {
    if (mutations.some(concernsFlash)) check();
  });

  installPluginEntry();
  // Where the runtime finds its settings. Its presence also tells a runtime
  // loaded in a parent frame that this frame looks after itself.
  window.RufflePlayer = window.RufflePlayer || {};
  window.RufflePlayer.config = settings.config;
  observer.observe(document, {
    childList: true, subtree: true, attributes: true,
    attributeFilter: ['type', 'src', 'data', 'classid', 'name', 'value']
  });
}
