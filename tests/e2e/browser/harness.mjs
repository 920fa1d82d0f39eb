// What the browser tests stand on: a private runtime folder and home, an
// Xvfb with openbox, the real Docklane with Docwarden as its pipe client,
// the sample page on a static server of its own, a desktop clipboard owner,
// and a person answering the open-file chooser with xdotool.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

export const DOCKLANE_PORT = 3465;

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function waitUntil(check, limitMs, stepMs = 50) {
  const end = Date.now() + limitMs;
  for (;;) {
    if (await check()) return true;
    if (Date.now() >= end) return false;
    await sleep(stepMs);
  }
}

export function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set; the tests are run by CTest, which sets it`);
  return value;
}

// Something accepts connections on 127.0.0.1:`port`.
export function listening(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

// A private XDG_RUNTIME_DIR and HOME (mode 0700), removed at the end.
export class TestHome {
  constructor() {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'dl-browser-'));
    fs.chmodSync(this.root, 0o700);
    this.runtime = path.join(this.root, 'run');
    this.home = path.join(this.root, 'home');
    fs.mkdirSync(this.runtime, { mode: 0o700 });
    fs.mkdirSync(this.home, { mode: 0o700 });
  }

  // This process's environment without display, session folder or
  // notification socket, plus ours and `extra`.
  environment(extra = {}) {
    const env = { ...process.env };
    for (const name of ['DISPLAY', 'WAYLAND_DISPLAY', 'XDG_RUNTIME_DIR', 'HOME', 'NOTIFY_SOCKET']) delete env[name];
    return { ...env, XDG_RUNTIME_DIR: this.runtime, HOME: this.home, ...extra };
  }

  remove() {
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// Every child process started here, so that none outlives the tests: a
// running child also keeps Node.js from ending.
const children = new Set();

export async function stopAllChildren() {
  await Promise.all(Array.from(children, (child) => child.stop('SIGKILL')));
}

// A child process with its output in files of the test home; ended by its
// own process id.
export class Child {
  constructor(home, label, program, args = [], env = home.environment()) {
    this.label = label;
    this.outPath = path.join(home.root, `${label}.out`);
    this.errPath = path.join(home.root, `${label}.err`);
    const out = fs.openSync(this.outPath, 'w');
    const err = fs.openSync(this.errPath, 'w');
    this.process = spawn(program, args, { env, stdio: ['ignore', out, err] });
    fs.closeSync(out);
    fs.closeSync(err);
    this.watch();
  }

  watch() {
    this.exited = new Promise((resolve) => this.process.once('exit', (code, signal) => resolve({ code, signal })));
    this.running = true;
    children.add(this);
    this.exited.then(() => {
      this.running = false;
      children.delete(this);
    });
  }

  // A process started otherwise, ended the same way.
  static adopt(label, process) {
    const child = Object.create(Child.prototype);
    child.label = label;
    child.process = process;
    child.errPath = null;
    child.watch();
    return child;
  }

  stderr() {
    try { return this.errPath ? fs.readFileSync(this.errPath, 'utf8') : ''; } catch (e) { return ''; }
  }

  async stop(signal = 'SIGTERM', limitMs = 5000) {
    if (!this.running) return;
    this.process.kill(signal);
    const ended = await Promise.race([this.exited.then(() => true), sleep(limitMs).then(() => false)]);
    if (!ended) {
      this.process.kill('SIGKILL');
      await this.exited;
    }
  }
}

// An Xvfb on a display number it picks itself, with openbox on it: the
// chooser must come up as a managed window in front of the browser.
export async function startDesktop(home) {
  const xvfb = Child.adopt('Xvfb', spawn('/usr/bin/Xvfb',
    ['-displayfd', '1', '-nolisten', 'tcp', '-screen', '0', '1280x1024x24'],
    { env: home.environment(), stdio: ['ignore', 'pipe', 'ignore'] }));
  const display = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('Xvfb named no display')), 15000);
    xvfb.process.stdout.on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) { clearTimeout(timer); resolve(':' + text.trim()); }
    });
    xvfb.process.once('exit', () => reject(new Error('Xvfb ended at start')));
  });
  const desktop = {
    display,
    xvfb,
    async stop() {
      if (desktop.wm) await desktop.wm.stop();
      // SIGTERM lets Xvfb remove its lock and socket files.
      await xvfb.stop();
    },
  };
  desktop.wm = new Child(home, 'openbox', '/usr/bin/openbox', ['--sm-disable'], home.environment({ DISPLAY: display }));
  const managed = await waitUntil(() => {
    const r = spawnSync('/usr/bin/xprop', ['-root', '_NET_SUPPORTING_WM_CHECK'], { env: home.environment({ DISPLAY: display }) });
    return r.status === 0 && /window id/.test(String(r.stdout));
  }, 10000, 100);
  if (!managed) throw new Error('openbox did not take the display: ' + desktop.wm.stderr());
  return desktop;
}

// Docklane with Docwarden connected to its pipe: it serves HTTP only then.
export async function startDocklane(home, display, docklane, docwarden) {
  if (await listening(DOCKLANE_PORT)) throw new Error('something else already listens on port 3465');
  const env = home.environment({ DISPLAY: display, LC_ALL: 'C.UTF-8' });
  const lane = new Child(home, 'docklane', docklane, [], env);
  const pipe = path.join(home.runtime, 'docklane_pipe');
  if (!await waitUntil(() => fs.existsSync(pipe) || !lane.running, 15000)) throw new Error('Docklane made no pipe');
  if (!lane.running) throw new Error('Docklane ended at start: ' + lane.stderr());
  const warden = new Child(home, 'docwarden', docwarden, [], env);
  if (!await waitUntil(() => listening(DOCKLANE_PORT), 15000, 100)) {
    throw new Error('Docklane does not listen on 3465: ' + lane.stderr() + warden.stderr());
  }
  return {
    lane,
    warden,
    async stop() {
      // Stopping Docwarden tells Docklane to quit.
      await warden.stop();
      await waitUntil(() => !lane.running, 15000);
      await lane.stop();
    },
  };
}

const TYPES = { '.html': 'text/html; charset=utf-8', '.css': 'text/css', '.js': 'text/javascript', '.png': 'image/png' };

// The page's folder on 127.0.0.1 at a port of its own.
export async function serveFolder(folder) {
  const server = http.createServer((request, response) => {
    const wanted = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(folder, wanted === '/' ? 'index.html' : wanted);
    if (!file.startsWith(folder) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-store' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, origin: `http://127.0.0.1:${server.address().port}`, port: server.address().port };
}

// The desktop clipboard holding `html` as text/html, owned by xclip in the
// foreground until stopped.
export async function ownClipboard(home, display, html) {
  const file = path.join(home.root, 'clipboard.html');
  fs.writeFileSync(file, html);
  const owner = new Child(home, 'xclip', '/usr/bin/xclip',
    ['-quiet', '-selection', 'clipboard', '-t', 'text/html', '-i', file], home.environment({ DISPLAY: display }));
  const owned = await waitUntil(() => {
    const r = spawnSync('/usr/bin/xclip', ['-o', '-selection', 'clipboard', '-t', 'TARGETS'],
      { env: home.environment({ DISPLAY: display }), timeout: 3000 });
    return r.status === 0 && String(r.stdout).includes('text/html');
  }, 10000, 100);
  if (!owned) {
    await owner.stop();
    throw new Error('xclip does not own the clipboard: ' + owner.stderr());
  }
  return owner;
}

export function xdotool(home, display, args, timeout = 5000) {
  const r = spawnSync('/usr/bin/xdotool', args, { env: home.environment({ DISPLAY: display }), timeout, encoding: 'utf8' });
  return r.status === 0 ? r.stdout : null;
}

export function literalPattern(text) {
  return '^' + text.replace(/[.[\]{}()\\*+?^$|]/g, '\\$&') + '$';
}

// Plays the person at the desktop: types `file` into the location field of
// the chooser titled `title` and accepts it. The chooser loads its folder
// for a while and loses keys pressed meanwhile, so each step is repeated
// while it stays open. True when it closed.
export async function chooseFile(home, display, title, file, limitMs = 60000) {
  const end = Date.now() + limitMs;
  let window = null;
  await waitUntil(() => {
    const ids = xdotool(home, display, ['search', '--onlyvisible', '--name', literalPattern(title)]);
    window = ids ? ids.trim().split('\n')[0] : null;
    return Boolean(window);
  }, limitMs, 200);
  if (!window) return false;
  const gone = () => xdotool(home, display, ['search', '--onlyvisible', '--name', literalPattern(title)]) === null;
  for (let attempt = 0; attempt < 4 && Date.now() < end; attempt += 1) {
    xdotool(home, display, ['windowactivate', '--sync', window], 3000);
    xdotool(home, display, ['key', '--clearmodifiers', 'ctrl+l']);
    await sleep(300);
    xdotool(home, display, ['key', '--clearmodifiers', 'ctrl+a']);
    xdotool(home, display, ['type', '--clearmodifiers', '--delay', '15', file], 20000);
    await sleep(300);
    for (let press = 0; press < 3; press += 1) {
      xdotool(home, display, ['key', '--clearmodifiers', 'Return']);
      if (await waitUntil(gone, 2000, 100)) return true;
    }
  }
  return false;
}

// A PNG of `width` x `height` pixels of one colour, made here so that the
// test knows exactly what must arrive.
export function solidPng(width, height, [r, g, b]) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (bytes) => {
    let c = 0xffffffff;
    for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const sum = Buffer.alloc(4);
    sum.writeUInt32BE(crc(body));
    return Buffer.concat([length, body, sum]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;  // bits per sample
  header[9] = 2;  // RGB
  const row = Buffer.concat([Buffer.from([0]), Buffer.from(Array(width).fill([r, g, b]).flat())]);
  const pixels = zlib.deflateSync(Buffer.concat(Array(height).fill(row)));
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', pixels), chunk('IEND', Buffer.alloc(0))]);
}
