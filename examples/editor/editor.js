// The sample editor: a contenteditable document with Docklane's services on
// its toolbar. Docklane answers one request at a time, so the page runs one
// at a time too and keeps its buttons off meanwhile.
(function () {
  'use strict';

  const {
    DocklaneClient, DocklaneError, cleanFragment, pictureUrls, dataUrl,
  } = window.Docklane;

  // ?docklane=http://host:port points the page at another Docklane.
  const client = new DocklaneClient(new URLSearchParams(location.search).get('docklane') || undefined);

  const $ = (id) => document.getElementById(id);
  const editor = $('editor');
  const statusLine = $('status');
  const progress = $('progress');
  const connection = $('connection');
  const banner = $('banner');
  const fontMenu = $('font-menu');

  const IMPORT_TITLE = 'Import into the editor';
  const UTF8 = '65001';
  const POLL_MS = 2000;

  let busyCount = 0;
  // "idle", "editing" while the word processor has the document, or
  // "finishing" while it comes back; the buttons are off but in "idle".
  let editState = 'idle';
  let pollTimer = null;
  let savedRange = null;   // the caret in the editor, kept while the toolbar has the focus

  // --- Status, banner, progress --------------------------------------------

  function setStatus(text) {
    statusLine.textContent = text;
  }

  function setConnection(state, text) {
    connection.dataset.state = state;
    connection.textContent = text;
  }

  function showBanner(kind, title, text) {
    banner.dataset.kind = kind;
    $('banner-title').textContent = title;
    $('banner-text').textContent = text;
    banner.hidden = false;
  }

  function hideBanner() {
    banner.hidden = true;
    delete banner.dataset.kind;
  }

  // What the person needs to hear about a failed request.
  function report(error, doing) {
    if (!(error instanceof DocklaneError)) {
      setStatus(doing + ' failed: ' + error.message);
      return;
    }
    if (error.kind === 'refused') {
      setConnection('down', 'Docklane: blocked by the browser');
      showBanner('refused', 'Your browser keeps this page away from Docklane',
        'This page runs on a web site, and Docklane is a program on your own computer. ' +
        'The browser lets a site reach programs on your computer only when you allow it.\n' +
        'To allow it: click the icon left of the address, open the site settings, and set ' +
        '"Access other apps and services on this device" (Local network access) to Allow. Then press Retry.');
      setStatus(doing + ' failed: the browser refused local access.');
    } else if (error.kind === 'unreachable') {
      setConnection('down', 'Docklane: not answering');
      let text = 'Nothing answers at ' + client.address + '. Start Docklane and Docwarden ' +
        '(systemctl --user start docklane.service docwarden.service) and press Retry.';
      if (error.localAccess === 'prompt') {
        text += '\nIf the browser asks whether this site may access other apps and services on this device, allow it.';
      }
      showBanner('unreachable', 'Docklane does not answer', text);
      setStatus(doing + ' failed: Docklane does not answer.');
    } else {
      setStatus(doing + ' failed: ' + error.message);
    }
  }

  function setButtonsEnabled(enabled) {
    for (const button of document.querySelectorAll('.needs-docklane')) button.disabled = !enabled;
    $('import-kind').disabled = !enabled;
  }

  // Runs `work` with the buttons off and a progress bar; `label` is shown
  // with the seconds so far, for the long waits of a conversion.
  async function busy(label, work) {
    busyCount += 1;
    setButtonsEnabled(false);
    progress.hidden = false;
    document.body.setAttribute('aria-busy', 'true');
    const started = Date.now();
    setStatus(label);
    const ticker = setInterval(() => {
      setStatus(label + ' ' + Math.round((Date.now() - started) / 1000) + ' s');
    }, 1000);
    try {
      return await work();
    } finally {
      clearInterval(ticker);
      busyCount -= 1;
      if (busyCount === 0) {
        progress.hidden = true;
        document.body.removeAttribute('aria-busy');
        setButtonsEnabled(editState === 'idle');
      }
    }
  }

  // Calls Docklane; on success the banner goes, as Docklane evidently answers.
  async function call(path, params) {
    const reply = await client.call(path, params);
    hideBanner();
    return reply;
  }

  // --- Editing ---------------------------------------------------------------

  function saveSelection() {
    const selection = window.getSelection();
    if (selection.rangeCount && editor.contains(selection.getRangeAt(0).commonAncestorContainer)) {
      savedRange = selection.getRangeAt(0).cloneRange();
    }
  }
  document.addEventListener('selectionchange', saveSelection);
  // selectionchange comes later, as a task of its own: a font chosen right
  // after Ctrl+A or a drag would otherwise go to the caret before them.
  editor.addEventListener('keyup', saveSelection);
  editor.addEventListener('mouseup', saveSelection);

  function restoreSelection() {
    editor.focus();
    if (!savedRange) return;
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(savedRange);
  }

  // Puts `fragment` where the caret was, or at the end.
  function insertAtCaret(fragment) {
    restoreSelection();
    const selection = window.getSelection();
    let range;
    if (selection.rangeCount && editor.contains(selection.getRangeAt(0).commonAncestorContainer)) {
      range = selection.getRangeAt(0);
    } else {
      range = document.createRange();
      range.selectNodeContents(editor);
      range.collapse(false);
    }
    range.deleteContents();
    const last = fragment.lastChild;
    range.insertNode(fragment);
    if (last) {
      range.setStartAfter(last);
      range.collapse(true);
      selection.removeAllRanges();
      selection.addRange(range);
    }
    editor.dispatchEvent(new Event('input', { bubbles: true }));
  }

  function replaceDocument(fragment) {
    editor.replaceChildren(fragment);
    savedRange = null;
    editor.dispatchEvent(new Event('input', { bubbles: true }));
  }

  function paragraphsOf(text) {
    const fragment = document.createDocumentFragment();
    for (const line of text.split(/\r\n|\r|\n/)) {
      const p = document.createElement('p');
      p.textContent = line;
      if (line === '') p.appendChild(document.createElement('br'));
      fragment.appendChild(p);
    }
    return fragment;
  }

  function picturesNote(pictures) {
    if (!pictures.replaced && !pictures.missing) return '';
    let note = ' with ' + pictures.replaced + (pictures.replaced === 1 ? ' picture' : ' pictures');
    if (pictures.missing) note += ' (' + pictures.missing + ' could not be read)';
    return note;
  }

  for (const button of document.querySelectorAll('button.format')) {
    button.addEventListener('mousedown', (event) => event.preventDefault());  // keep the selection
    button.addEventListener('click', () => {
      restoreSelection();
      document.execCommand(button.dataset.command);
    });
  }

  fontMenu.addEventListener('change', () => {
    const family = fontMenu.value;
    if (!family) return;
    restoreSelection();
    document.execCommand('styleWithCSS', false, true);
    document.execCommand('fontName', false, family);
    setStatus('Font: ' + family);
    fontMenu.value = '';
  });

  // --- Docklane's services -----------------------------------------------------

  async function connect() {
    try {
      const version = await call('/get_version_info');
      const office = version.word_version ? ', office ' + version.word_version : ', no office';
      setConnection('up', 'Docklane ' + version.product_version + office + ', CP' + version.system_codepage);
      setStatus('Ready.');
    } catch (error) {
      report(error, 'Connecting');
      return false;
    }
    await loadFonts();
    return true;
  }

  async function loadFonts() {
    try {
      const reply = await call('/get_font_list');
      const families = reply && Array.isArray(reply.font_list) ? reply.font_list : [];
      const unique = Array.from(new Set(families)).sort((a, b) => a.localeCompare(b));
      fontMenu.replaceChildren(new Option('Fonts (' + unique.length + ')', ''));
      for (const family of unique) {
        const option = new Option(family, family);
        option.style.fontFamily = '"' + family.replace(/"/g, '') + '"';
        fontMenu.appendChild(option);
      }
      fontMenu.disabled = unique.length === 0;
    } catch (error) {
      report(error, 'Listing the fonts');
    }
  }

  async function pasteFromDesktop() {
    try {
      const reply = await busy('Reading the desktop clipboard…', () => call('/get_clipboard_text'));
      const html = reply.html_fragment || reply.html_body;
      if (html) {
        const result = cleanFragment(html, pictureUrls(reply.image_files));
        insertAtCaret(result.fragment);
        setStatus('Pasted the clipboard' + picturesNote(result) + '.');
      } else if (reply.screen_capture) {
        const img = document.createElement('img');
        img.alt = 'Pasted picture';
        img.src = dataUrl({ mime_type: 'image/png', base64: reply.screen_capture });
        const fragment = document.createDocumentFragment();
        fragment.appendChild(img);
        insertAtCaret(fragment);
        setStatus('Pasted the picture from the clipboard.');
      } else if (reply.text) {
        insertAtCaret(paragraphsOf(reply.text));
        setStatus('Pasted the clipboard text.');
      } else {
        setStatus('The desktop clipboard holds nothing to paste.');
      }
    } catch (error) {
      report(error, 'Pasting');
    }
  }

  // Slide pictures, in slide order, each under its number.
  function slidesFragment(imageFiles) {
    const slides = Object.values(imageFiles || {})
      .filter((entry) => typeof entry.slide_num === 'number')
      .sort((a, b) => a.slide_num - b.slide_num);
    const fragment = document.createDocumentFragment();
    let replaced = 0;
    let missing = 0;
    for (const entry of slides) {
      const figure = document.createElement('figure');
      figure.className = 'slide';
      const img = document.createElement('img');
      img.alt = 'Slide ' + entry.slide_num;
      const url = dataUrl(entry);
      if (url) { img.src = url; replaced += 1; } else { missing += 1; }
      const caption = document.createElement('figcaption');
      caption.textContent = 'Slide ' + entry.slide_num;
      figure.append(img, caption);
      fragment.appendChild(figure);
    }
    return { fragment, replaced, missing, count: slides.length };
  }

  const CANCELLED = 'no valid file selected!';

  async function importDocument() {
    const kind = $('import-kind').value;
    try {
      const reply = await busy('Choose the document in the window Docklane opened; it is converted then…',
        () => call('/import_file_as_html', { file_filter: kind, dialog_title: IMPORT_TITLE }));
      if (!reply.success) {
        setStatus(reply.message === CANCELLED ? 'Import cancelled.' : 'Import failed: ' + reply.message);
        return;
      }
      const name = (reply.local_filename || '').split('/').pop();
      const slides = slidesFragment(reply.image_files);
      if (slides.count > 0) {
        replaceDocument(slides.fragment);
        setStatus('Imported ' + name + ' as ' + slides.count + ' slide pictures.');
        return;
      }
      const result = cleanFragment(reply.html_data || reply.html_body_data || '', pictureUrls(reply.image_files));
      replaceDocument(result.fragment);
      setStatus('Imported ' + name + picturesNote(result) + '.');
    } catch (error) {
      report(error, 'Importing');
    }
  }

  function pageForEditing() {
    return '<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>Document</title></head><body>' +
      editor.innerHTML + '</body></html>';
  }

  async function editInWordProcessor() {
    try {
      const reply = await busy('Opening the word processor…',
        () => call('/edit_new_html', { html_data: pageForEditing(), html_codepage: UTF8 }));
      if (!reply.success) {
        setStatus('Cannot edit in the word processor: ' + reply.message);
        return;
      }
    } catch (error) {
      report(error, 'Opening the word processor');
      return;
    }
    editState = 'editing';
    editor.contentEditable = 'false';
    $('finish-edit-button').hidden = false;
    setButtonsEnabled(false);
    setStatus('The document is open in the word processor. Close it there to bring your changes back.');
    pollTimer = setTimeout(pollWordProcessor, POLL_MS);
  }

  async function pollWordProcessor() {
    let alive = true;
    try {
      alive = (await call('/check_msword_alive')).msword_alive;
    } catch (error) {
      report(error, 'Following the word processor');
    }
    // The person may have pressed "Close word processor" meanwhile.
    if (editState !== 'editing') return;
    if (alive) {
      pollTimer = setTimeout(pollWordProcessor, POLL_MS);
    } else {
      await finishEditing(false);
    }
  }

  // Brings the edited page back, with the pictures the word processor saved
  // beside it, which the reply only names.
  async function finishEditing(closeFirst) {
    if (editState !== 'editing') return;
    editState = 'finishing';
    clearTimeout(pollTimer);
    $('finish-edit-button').hidden = true;
    try {
      await busy('Bringing the document back from the word processor…', async () => {
        if (closeFirst) await call('/close_msword_window');
        const reply = await call('/export_as_html', { html_codepage: UTF8 });
        const pictures = {};
        for (const name of (reply.filelist || []).slice(1)) {
          const type = pictureType(name);
          if (!type) continue;
          const file = await call('/download_base64', { filename: name });
          if (file && file.success) {
            pictures[name] = { base64: file.base64, filename: name, full_filename: file.full_filename, mime_type: type };
          }
        }
        const result = cleanFragment(reply.html_data || '', pictureUrls(pictures));
        replaceDocument(result.fragment);
        setStatus('Back from the word processor' + picturesNote(result) + '.');
      });
    } catch (error) {
      report(error, 'Bringing the document back');
    } finally {
      editState = 'idle';
      editor.contentEditable = 'true';
      setButtonsEnabled(busyCount === 0);
    }
  }

  const PICTURE_TYPES = { png: 'image/png', jpg: 'image/jpeg', jpeg: 'image/jpeg', gif: 'image/gif', bmp: 'image/bmp', ico: 'image/x-icon' };

  function pictureType(name) {
    const match = /\.([a-z]+)$/i.exec(name);
    return match ? PICTURE_TYPES[match[1].toLowerCase()] : undefined;
  }

  function saveAs(name, blob) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  async function download() {
    const name = $('download-name').value.trim();
    if (!name) {
      setStatus('Name a file of the export folder (image001.png) or a full path first.');
      $('download-name').focus();
      return;
    }
    const asText = $('download-kind').value === 'text';
    try {
      const reply = await busy('Fetching ' + name + '…',
        () => call(asText ? '/download_text' : '/download_base64', { filename: name }));
      if (!reply.success) {
        setStatus('Docklane could not read ' + name + '.');
        return;
      }
      const base = name.split(/[\\/]/).pop();
      if (asText) {
        saveAs(base, new Blob([reply.text], { type: 'text/plain;charset=utf-8' }));
        setStatus('Downloaded ' + base + ' as text (' + reply.text.length + ' characters).');
      } else {
        const bytes = Uint8Array.from(atob(reply.base64), (c) => c.charCodeAt(0));
        saveAs(base, new Blob([bytes], { type: 'application/octet-stream' }));
        setStatus('Downloaded ' + base + ' (' + bytes.length + ' bytes).');
      }
    } catch (error) {
      report(error, 'Downloading');
    }
  }

  async function purge() {
    try {
      const reply = await busy('Emptying the export folder…', () => call('/purge_export'));
      setStatus((reply.success ? 'Export folder emptied: ' : 'Purge incomplete: ') + reply.message);
    } catch (error) {
      report(error, 'Purging');
    }
  }

  $('paste-button').addEventListener('click', pasteFromDesktop);
  $('import-button').addEventListener('click', importDocument);
  $('edit-button').addEventListener('click', editInWordProcessor);
  $('finish-edit-button').addEventListener('click', () => finishEditing(true));
  $('download-button').addEventListener('click', download);
  $('download-name').addEventListener('keydown', (event) => { if (event.key === 'Enter') download(); });
  $('purge-button').addEventListener('click', purge);
  $('banner-retry').addEventListener('click', async () => {
    setStatus('Asking Docklane again…');
    await connect();
  });
  for (const button of document.querySelectorAll('.needs-docklane')) {
    button.addEventListener('mousedown', (event) => event.preventDefault());
  }
  editor.addEventListener('keydown', (event) => {
    if (event.ctrlKey && event.shiftKey && (event.key === 'V' || event.key === 'v')) {
      event.preventDefault();
      if (busyCount === 0 && editState === 'idle') pasteFromDesktop();
    }
  });

  connect();
})();
