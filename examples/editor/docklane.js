// A small client for Docklane, the desktop companion that listens on port
// 3465 of this computer, and the HTML work every editor page needs around
// its replies: pictures arrive as Base64 and must become data: URLs, because
// a page may not load file:/// pictures, nor the export folder's files.
(function (global) {
  'use strict';

  const DEFAULT_ADDRESS = 'http://127.0.0.1:3465';

  // kind: "unreachable" (nothing answered), "refused" (the browser keeps the
  // page from this computer's services), "http" (an answer that is not 200)
  // or "reply" (a 200 whose body is not JSON).
  class DocklaneError extends Error {
    constructor(kind, message) {
      super(message);
      this.name = 'DocklaneError';
      this.kind = kind;
    }
  }

  // What the browser says about this page reaching services of this
  // computer: "denied", "prompt", "granted" or "unknown". Chromium has named
  // the permission differently across versions (a name it does not know
  // makes query() throw); one denial is enough to keep the page out.
  async function localAccessState() {
    if (!global.navigator || !navigator.permissions) return 'unknown';
    const states = [];
    for (const name of ['local-network-access', 'loopback-network', 'local-network']) {
      try {
        states.push((await navigator.permissions.query({ name })).state);
      } catch (e) {
        // not a name of this browser
      }
    }
    for (const state of ['denied', 'prompt', 'granted']) {
      if (states.includes(state)) return state;
    }
    return 'unknown';
  }

  class DocklaneClient {
    constructor(address) {
      this.address = (address || DEFAULT_ADDRESS).replace(/\/+$/, '');
    }

    // POSTs `params` as a JSON body. Content-Type application/json makes the
    // browser ask with a preflight first, which Docklane answers.
    async call(path, params) {
      let response;
      try {
        response = await fetch(this.address + path, {
          method: 'POST',
          headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify(params || {}),
        });
      } catch (e) {
        const state = await localAccessState();
        if (state === 'denied') {
          throw new DocklaneError('refused', 'The browser does not let this page reach ' + this.address + '.');
        }
        const error = new DocklaneError('unreachable', 'Docklane does not answer at ' + this.address + '.');
        error.localAccess = state;
        throw error;
      }
      const text = await response.text();
      if (!response.ok) {
        throw new DocklaneError('http', 'Docklane answered ' + response.status + ': ' + text.slice(0, 200));
      }
      if (text === '') return null;  // the font list of a desktop without fonts
      try {
        return JSON.parse(text);
      } catch (e) {
        throw new DocklaneError('reply', 'Docklane answered ' + path + ' with something that is not JSON.');
      }
    }
  }

  function dataUrl(entry) {
    if (!entry || !entry.base64) return '';
    return 'data:' + (entry.mime_type || 'application/octet-stream') + ';base64,' + entry.base64;
  }

  // Every way a page may name a picture of `image_files` (its key, its
  // full_filename, its filename), each mapped to its data: URL. Entries that
  // could not be read have no URL.
  function pictureUrls(imageFiles) {
    const urls = new Map();
    if (!imageFiles) return urls;
    for (const [key, entry] of Object.entries(imageFiles)) {
      const url = dataUrl(entry);
      if (!url) continue;
      for (const name of [entry.full_filename, entry.filename, key]) {
        if (name && !urls.has(name)) urls.set(name, url);
      }
    }
    return urls;
  }

  function baseName(path) {
    return path.split(/[\\/]/).pop();
  }

  // Gives the pictures under `root` that `urls` knows their data: URLs,
  // looked up as written, percent-decoded, and by base name as the last
  // resort. A local source that stays unknown is taken off (kept in
  // data-missing-src): the page could not load it anyway.
  function replacePictureSources(root, urls) {
    let replaced = 0;
    let missing = 0;
    for (const img of root.querySelectorAll('img[src]')) {
      const src = img.getAttribute('src');
      if (/^(data|https?|blob):/i.test(src)) continue;
      let decoded = src;
      try { decoded = decodeURI(src); } catch (e) { /* keep it as written */ }
      const url = urls.get(src) || urls.get(decoded) || urls.get(baseName(decoded));
      if (url) {
        img.setAttribute('src', url);
        replaced += 1;
      } else {
        img.removeAttribute('src');
        img.setAttribute('data-missing-src', src);
        if (!img.hasAttribute('alt')) img.setAttribute('alt', '[picture ' + baseName(decoded) + ' not found]');
        missing += 1;
      }
    }
    return { replaced, missing };
  }

  const DROPPED_ELEMENTS = 'script, style, link, meta, base, iframe, frame, object, embed, title, form';

  // The markup of `html` (a whole page or a fragment) as a fragment of this
  // document, with its pictures' sources replaced from `urls` and without
  // what must not run or restyle the page. The work is done on an inert
  // document, so nothing loads before the sources are replaced.
  function cleanFragment(html, urls) {
    const page = new DOMParser().parseFromString(html, 'text/html');
    for (const node of page.body.querySelectorAll(DROPPED_ELEMENTS)) node.remove();
    for (const element of page.body.querySelectorAll('*')) {
      for (const attribute of Array.from(element.attributes)) {
        const name = attribute.name.toLowerCase();
        const value = attribute.value.trim().toLowerCase();
        if (name.startsWith('on') || ((name === 'href' || name === 'src') && value.startsWith('javascript:'))) {
          element.removeAttribute(attribute.name);
        }
      }
    }
    const pictures = replacePictureSources(page.body, urls || new Map());
    const fragment = document.createDocumentFragment();
    for (const node of Array.from(page.body.childNodes)) fragment.appendChild(document.importNode(node, true));
    return { fragment, replaced: pictures.replaced, missing: pictures.missing };
  }

  global.Docklane = {
    DEFAULT_ADDRESS,
    DocklaneError,
    DocklaneClient,
    localAccessState,
    dataUrl,
    pictureUrls,
    replacePictureSources,
    cleanFragment,
  };
})(window);
