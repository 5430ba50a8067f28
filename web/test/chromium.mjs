// Debian's headless Chromium over the DevTools protocol (through a pipe, so nothing beyond
// node is needed), and a static server for the built page.
import { spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { mkdtempSync, readFileSync, rmSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, extname } from 'node:path';

const WAIT_MS = 120000;  // a guard against a hung page, not a measurement
export const sleep = (ms) => new Promise((ok) => setTimeout(ok, ms));

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm', '.png': 'image/png', '.bmp': 'image/bmp', '.jpg': 'image/jpeg',
  '.webp': 'image/webp', '.txt': 'text/plain' };

// Serves ROOT on 127.0.0.1; resolves to { base, close, missing }, `missing` the paths asked
// for that are not there (each answered 404).
export async function serve(root) {
  const missing = [];
  const server = createServer((req, res) => {
    const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = join(root, path === '/' ? 'index.html' : path);
    if (!file.startsWith(root) || !existsSync(file)) { missing.push(path); res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'Content-Type': TYPES[extname(file)] || 'application/octet-stream' });
    res.end(readFileSync(file));
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  return { base: `http://127.0.0.1:${server.address().port}/`, close: () => server.close(), missing };
}

// A browser with one page (1280 x 900) and the given extra command-line switches.
export async function launch(switches = []) {
  const profile = mkdtempSync(join(tmpdir(), 'scan39-chromium-'));
  const browser = spawn('/usr/bin/chromium', ['--headless=new', '--no-sandbox', '--disable-gpu',
    '--remote-debugging-pipe', `--user-data-dir=${profile}`, '--no-first-run', ...switches, 'about:blank'],
  { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
  const pending = new Map();
  let nextId = 0, inbox = '';
  browser.stdio[4].on('data', (data) => {
    inbox += data.toString('utf8');
    let end;
    while ((end = inbox.indexOf('\0')) >= 0) {
      const message = JSON.parse(inbox.slice(0, end));
      inbox = inbox.slice(end + 1);
      const waiting = pending.get(message.id);
      if (!waiting) continue;
      pending.delete(message.id);
      if (message.error) waiting.fail(new Error(`${waiting.method}: ${message.error.message}`));
      else waiting.ok(message.result);
    }
  });
  function send(method, params = {}, sessionId = undefined) {
    const id = ++nextId;
    browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
    return new Promise((ok, fail) => pending.set(id, { ok, fail, method }));
  }
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const page = (method, params) => send(method, params, sessionId);
  await page('Page.enable');
  await page('Emulation.setDeviceMetricsOverride', { width: 1280, height: 900, deviceScaleFactor: 1, mobile: false });

  async function evaluate(expression) {
    const r = await page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.text}`);
    return r.result.value;
  }
  async function until(expression, what, waitMs = WAIT_MS) {
    for (const start = Date.now(); Date.now() - start < waitMs; await sleep(20)) {
      const v = await evaluate(expression);
      if (v) return v;
    }
    throw new Error(`timed out waiting for ${what}`);
  }
  async function close() {
    const exited = new Promise((ok) => browser.once('exit', ok));
    await send('Browser.close').catch(() => browser.kill());
    await exited;
    rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
  }
  return { send, page, evaluate, until, close };
}
