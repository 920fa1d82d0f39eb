// The sample editor page (examples/editor) in Debian's Chromium, driven by
// Playwright, against the real Docklane on port 3465: the page is served
// from an origin of its own, as a real editor is, and everything runs on an
// Xvfb of the test's own. A screenshot of each scenario is kept.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { chromium } from 'playwright-core';

import {
  DOCKLANE_PORT, TestHome, chooseFile, literalPattern, ownClipboard, required, serveFolder, solidPng,
  startDesktop, startDocklane, stopAllChildren, waitUntil, xdotool,
} from './harness.mjs';

const CHROMIUM = '/usr/bin/chromium';
// As root in a sandbox, and with no network but this machine's.
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const IMPORT_TITLE = 'Import into the editor';  // the page's chooser title
const IMPORT_LIMIT_MS = 150000;  // an engine start and a conversion
const EDIT_TITLE = 'import.html - Plumeto1 - Word';  // the word processor's window

const screenshots = required('DL_BROWSER_SCREENSHOTS');
const editorFolder = required('DL_EDITOR_DIR');

let home;
let desktop;
let docklane;
let site;
let browser;

async function launch(extraArgs = []) {
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: false,  // on the test's Xvfb, beside the chooser
    args: [...CHROMIUM_ARGS, ...extraArgs],
    env: home.environment({ DISPLAY: desktop.display }),
  });
}

// A page of `context` with the editor loaded (with `query`), and the
// uncaught errors it raises. `beforeLoad` runs with the page still blank.
async function openEditor(context, query = '', beforeLoad = async () => {}) {
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.setViewportSize({ width: 1280, height: 800 });
  await beforeLoad(page);
  await page.goto(site.origin + '/' + query);
  return page;
}

async function shoot(page, name) {
  await page.screenshot({ path: path.join(screenshots, name + '.png') });
}

async function waitForStatus(page, pattern, timeout = 20000) {
  await page.waitForFunction(
    (source) => new RegExp(source).test(document.getElementById('status').textContent),
    pattern.source, { timeout });
}

// The pictures of the editor once they have loaded (or failed to).
async function editorPictures(page) {
  return page.evaluate(async () => {
    const images = Array.from(document.querySelectorAll('#editor img'));
    await Promise.all(images.map((img) => img.decode().catch(() => {})));
    return images.map((img) => ({
      width: img.naturalWidth, height: img.naturalHeight, src: img.getAttribute('src') || '',
    }));
  });
}

describe('the sample editor page in Chromium against Docklane', { concurrency: false }, () => {
  before(async () => {
    fs.mkdirSync(screenshots, { recursive: true });
    home = new TestHome();
    desktop = await startDesktop(home);
    docklane = await startDocklane(home, desktop.display, required('DL_DOCKLANE'), required('DL_DOCWARDEN'));
    site = await serveFolder(editorFolder);
    browser = await launch();
  });

  after(async () => {
    if (browser) await browser.close();
    if (site) site.server.close();
    if (docklane) await docklane.stop();
    if (desktop) await desktop.stop();
    // What a failed start-up left running.
    await stopAllChildren();
    if (home) home.remove();
  });

  test('the font menu lists the desktop fonts, Hangul ones included', async () => {
    const context = await browser.newContext();
    const page = await openEditor(context);
    await page.waitForSelector('#font-menu:not([disabled])');
    const fonts = await page.$$eval('#font-menu option', (options) => options.map((o) => o.value).filter(Boolean));
    assert.ok(fonts.includes('DejaVu Sans'), fonts.join(', '));
    assert.ok(fonts.some((f) => /nanum/i.test(f)), 'no Hangul font: ' + fonts.join(', '));
    assert.equal(await page.getAttribute('#connection', 'data-state'), 'up');
    assert.equal(await page.isVisible('#banner'), false);

    // Choosing a font sets it on the selected text.
    await page.click('#editor');
    await page.keyboard.type('가나다 font');
    await page.keyboard.press('Control+A');
    await page.selectOption('#font-menu', 'DejaVu Sans');
    assert.match(await page.innerHTML('#editor'), /font-family:\s*(&quot;|")?DejaVu Sans/);
    await shoot(page, 'fonts');
    assert.deepEqual(page.errors, []);
    await context.close();
  });

  test('a JSON POST with Content-Type application/json passes its preflight', async () => {
    const context = await browser.newContext();
    const page = await openEditor(context);
    await page.waitForSelector('#connection[data-state="up"]');
    const result = await page.evaluate(async (address) => {
      const post = (headers) => fetch(address + '/get_version_info', {
        method: 'POST', headers, body: JSON.stringify({ unused: [1, 2] }),
      }).then(async (r) => ({ status: r.status, json: await r.json() }), (e) => ({ error: e.name }));
      return {
        json: await post({ 'Content-Type': 'application/json' }),
        // A header the preflight does not allow: the browser really asked.
        refused: await post({ 'Content-Type': 'application/json', 'X-Not-Allowed': '1' }),
      };
    }, `http://127.0.0.1:${DOCKLANE_PORT}`);
    assert.equal(result.json.status, 200, JSON.stringify(result));
    assert.equal(result.json.json.product_name, 'PLUMETO_HTTP');
    assert.equal(result.json.json.success, true);
    assert.deepEqual(result.refused, { error: 'TypeError' });
    await shoot(page, 'json-post-preflight');
    await context.close();
  });

  test('Paste shows both local pictures of an HTML clipboard, though they share a name', async () => {
    const pictures = [
      { folder: 'a', width: 48, height: 32, colour: [200, 30, 30] },
      { folder: 'b', width: 24, height: 40, colour: [30, 60, 200] },
    ];
    const sources = pictures.map((p) => {
      const file = path.join(home.root, 'pictures', p.folder, 'image.png');
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, solidPng(p.width, p.height, p.colour));
      return 'file://' + file;
    });
    const owner = await ownClipboard(home, desktop.display,
      '<html><body><!--StartFragment--><p>Two pictures:</p>' +
      sources.map((s) => `<img src="${s}" alt="">`).join(' ') + '<!--EndFragment--></body></html>');
    try {
      const context = await browser.newContext();
      const page = await openEditor(context);
      await page.waitForSelector('#connection[data-state="up"]');
      await page.click('#editor');
      await page.click('#paste-button');
      await waitForStatus(page, /^Pasted the clipboard with 2 pictures\.$/);
      const shown = await editorPictures(page);
      assert.deepEqual(shown.map((p) => [p.width, p.height]), pictures.map((p) => [p.width, p.height]));
      assert.ok(shown.every((p) => p.src.startsWith('data:image/png;base64,')));
      assert.match(await page.textContent('#editor'), /Two pictures:/);
      await shoot(page, 'paste-two-pictures');
      assert.deepEqual(page.errors, []);
      await context.close();
    } finally {
      await owner.stop();
    }
  });

  test('Import of a Word document shows its text, table and pictures', { timeout: IMPORT_LIMIT_MS + 30000 }, async () => {
    // Alone in its folder: the chooser's location field completes names.
    const folder = path.join(home.root, 'pick');
    fs.mkdirSync(folder);
    const document = path.join(folder, 'korean_report.docx');
    fs.copyFileSync(path.join(required('DL_DOCUMENTS'), 'korean_report.docx'), document);

    const context = await browser.newContext();
    const page = await openEditor(context);
    await page.waitForSelector('#connection[data-state="up"]');
    await page.selectOption('#import-kind', 'doc');
    await page.click('#import-button');
    await page.waitForSelector('#progress:not([hidden])');
    assert.equal(await page.isDisabled('#paste-button'), true, 'buttons stay on during an import');
    assert.ok(await chooseFile(home, desktop.display, IMPORT_TITLE, document), 'the chooser could not be answered');
    await waitForStatus(page, /^Imported korean_report\.docx with 2 pictures\.$/, IMPORT_LIMIT_MS);

    const text = (await page.textContent('#editor')).replace(/\s+/g, ' ');
    for (const words of ['한국어 본문', '분기 보고서', '사과']) assert.ok(text.includes(words), `"${words}" missing in: ${text}`);
    assert.ok(await page.$('#editor table'), 'the table is missing');
    const shown = await editorPictures(page);
    assert.equal(shown.length, 2);
    assert.ok(shown.every((p) => p.width > 0 && p.height > 0), JSON.stringify(shown.map((p) => [p.width, p.height])));
    assert.equal(await page.isVisible('#progress'), false);
    assert.equal(await page.isDisabled('#paste-button'), false);
    await shoot(page, 'import-docx');
    assert.deepEqual(page.errors, []);
    await context.close();
  });

  test('Edit in word processor brings the typed text and the picture back', { timeout: 120000 }, async () => {
    const context = await browser.newContext();
    const page = await openEditor(context);
    await page.waitForSelector('#connection[data-state="up"]');
    const picture = solidPng(24, 16, [0, 120, 255]).toString('base64');
    await page.evaluate((png) => {
      document.getElementById('editor').innerHTML =
        `<p>편집할 문서</p><p><img src="data:image/png;base64,${png}"></p>`;
    }, picture);
    await page.click('#edit-button');
    let window = null;
    await waitUntil(() => {
      const ids = xdotool(home, desktop.display, ['search', '--onlyvisible', '--name', literalPattern(EDIT_TITLE)]);
      window = ids ? ids.trim().split('\n')[0] : null;
      return Boolean(window);
    }, 60000, 200);
    assert.ok(window, 'no word processor window');
    // The page hears of it once the window has been brought forward.
    await waitForStatus(page, /open in the word processor/);
    assert.equal(await page.isVisible('#finish-edit-button'), true);
    assert.equal(await page.getAttribute('#editor', 'contenteditable'), 'false', 'the editor stays editable meanwhile');

    // The person types at the end, saves and closes the word processor.
    xdotool(home, desktop.display, ['windowactivate', '--sync', window], 3000);
    xdotool(home, desktop.display, ['type', '--clearmodifiers', '--delay', '20', ' typed there'], 20000);
    xdotool(home, desktop.display, ['key', '--clearmodifiers', 'ctrl+s']);
    await new Promise((resolve) => setTimeout(resolve, 1000));
    xdotool(home, desktop.display, ['key', '--clearmodifiers', 'ctrl+w']);
    await waitForStatus(page, /^Back from the word processor/, 60000);

    const text = (await page.textContent('#editor')).replace(/\s+/g, ' ');
    assert.ok(text.includes('편집할 문서') && text.includes('typed there'), text);
    const shown = await editorPictures(page);
    assert.deepEqual(shown.map((p) => [p.width, p.height]), [[24, 16]]);
    assert.equal(await page.getAttribute('#editor', 'contenteditable'), 'true');
    await shoot(page, 'edit-in-word-processor');
    assert.deepEqual(page.errors, []);
    await context.close();
  });

  test('a Docklane that does not answer is told in a banner', async () => {
    const context = await browser.newContext();
    // A port that nothing listens on.
    const closed = await new Promise((resolve) => {
      const server = net.createServer().listen(0, '127.0.0.1', () => {
        const { port } = server.address();
        server.close(() => resolve(port));
      });
    });
    const page = await openEditor(context, `?docklane=http://127.0.0.1:${closed}`);
    await page.waitForSelector('#banner[data-kind="unreachable"]');
    assert.match(await page.textContent('#banner'), /Docklane does not answer/);
    assert.match(await page.textContent('#banner'), /systemctl --user start docklane\.service docwarden\.service/);
    assert.equal(await page.getAttribute('#connection', 'data-state'), 'down');
    await shoot(page, 'docklane-not-answering');
    assert.deepEqual(page.errors, []);
    await context.close();
  });

  describe('served as a public origin', () => {
    let publicBrowser;

    before(async () => {
      // Chromium then holds the page's origin to be on the internet, and
      // Docklane on this computer beyond it.
      publicBrowser = await launch([`--ip-address-space-overrides=127.0.0.1:${site.port}=public`]);
    });

    after(async () => {
      if (publicBrowser) await publicBrowser.close();
    });

    test('works once the person has allowed local access', async () => {
      const context = await publicBrowser.newContext();
      await context.grantPermissions(['local-network-access'], { origin: site.origin });
      const page = await openEditor(context);
      await page.waitForSelector('#connection[data-state="up"]');
      await page.waitForSelector('#font-menu:not([disabled])');
      assert.equal(await page.isVisible('#banner'), false);
      await shoot(page, 'public-origin-allowed');
      assert.deepEqual(page.errors, []);
      await context.close();
    });

    test('explains how to allow local access when it is denied', async () => {
      const context = await publicBrowser.newContext();
      const page = await openEditor(context, '', async (blank) => {
        await blank.goto('about:blank#deny-local-access');
        // The context's id, which Playwright keeps to itself, from the
        // target list, to deny the permission as a person would in the
        // site settings.
        const cdp = await publicBrowser.newBrowserCDPSession();
        const { targetInfos } = await cdp.send('Target.getTargets');
        const target = targetInfos.find((t) => t.url === 'about:blank#deny-local-access');
        assert.ok(target, 'the page is not among the targets');
        let denied = 0;
        for (const name of ['local-network-access', 'loopback-network', 'local-network']) {
          try {
            await cdp.send('Browser.setPermission', {
              permission: { name }, setting: 'denied', origin: site.origin, browserContextId: target.browserContextId,
            });
            denied += 1;
          } catch (e) {
            // a name this Chromium does not know
          }
        }
        assert.ok(denied > 0, 'Chromium knows none of the local access permissions');
      });
      await page.waitForSelector('#banner[data-kind="refused"]');
      const banner = await page.textContent('#banner');
      assert.match(banner, /Access other apps and services on this device/);
      assert.match(banner, /site settings/);
      assert.equal(await page.getAttribute('#connection', 'data-state'), 'down');
      await shoot(page, 'public-origin-denied');
      assert.deepEqual(page.errors, []);
      await context.close();
    });
  });
});
