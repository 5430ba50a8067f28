// Drives the page in Debian's headless Chromium over the DevTools protocol (through a pipe,
// so nothing beyond node is needed) and checks it against the scan39 command-line program.
//   node browser_test.mjs ROOT CLI     ROOT: the built page (build-web), CLI: the scan39 binary
import { spawnSync } from 'node:child_process';
import { readFileSync, existsSync, writeFileSync, mkdirSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { deflateSync } from 'node:zlib';
import { serve, launch } from './chromium.mjs';
import { cameraChecks } from './camera_test.mjs';

const [root, cli] = process.argv.slice(2).map((p) => resolve(p));
const NOT_DECODED = '错误：非39码或扫描位置不正确';

// ---- pictures the tests need beside the samples ---------------------------------------------
mkdirSync(join(root, 'test'), { recursive: true });
writeFileSync(join(root, 'test/not-a-picture.txt'), 'This is text, not a picture.\n');
const huge = join(root, 'test/huge.png');
if (!existsSync(huge)) writeFileSync(huge, whitePng(8200, 8200));  // just over 64 Mi pixels

// Files that only declare a picture too large to decode: a few bytes a decoder would still
// allocate gigabytes for, and JPEGs whose frame header lies beyond the first 256 KB.
const hostile = {
  'test/huge-lossless.webp': webp('VP8L', [0x2f, ...le(16382 | (16382 << 14), 4)]),
  'test/huge-lossy.webp': webp('VP8 ', [0x50, 0x0d, 0x00, 0x9d, 0x01, 0x2a, ...le(16383, 2), ...le(16383, 2)]),
  'test/huge-extended.webp': webp('VP8X', [0x10, 0, 0, 0, ...le(19999, 3), ...le(19999, 3)]),
  'test/huge-late-header.jpg': jpeg(300 * 1024, [], 20000, 20000),
  'test/huge-stray-bytes.jpg': jpeg(70 * 1024, [0x12, 0x34, 0xff, 0x00, 0xff, 0xff], 65535, 1025),
};
for (const [name, bytes] of Object.entries(hostile)) writeFileSync(join(root, name), bytes);
// A real picture behind as much application data: still read.
writeFileSync(join(root, 'test/photo-late-header.jpg'),
  Buffer.concat([Buffer.from([0xff, 0xd8]), appSegments(300 * 1024), readFileSync(join(root, 'test/photo.jpg')).subarray(2)]));

function le(value, bytes) { return Array.from({ length: bytes }, (_, i) => (value >>> (8 * i)) & 0xff); }
function webp(chunk, data) {
  const body = Buffer.concat([Buffer.from(`WEBP${chunk}`), Buffer.from(le(data.length + 16, 4)), Buffer.from(data),
    Buffer.alloc(16)]);
  return Buffer.concat([Buffer.from('RIFF'), Buffer.from(le(body.length, 4)), body]);
}
// APP15 segments of `total` bytes, each of the largest length there is.
function appSegments(total) {
  const parts = [];
  for (let left = total; left > 0; left -= 65537) {
    const length = Math.min(65535, Math.max(2, left - 2));
    const s = Buffer.alloc(2 + length, 0x5a);
    s[0] = 0xff; s[1] = 0xef; s.writeUInt16BE(length, 2);
    parts.push(s);
  }
  return Buffer.concat(parts);
}
// Start of image, application data, `stray` bytes, then a frame header of width x height.
function jpeg(appBytes, stray, width, height) {
  const sof = [0xff, 0xc0, 0, 11, 8, height >> 8, height & 0xff, width >> 8, width & 0xff, 1, 1, 0x11, 0];
  return Buffer.concat([Buffer.from([0xff, 0xd8]), appSegments(appBytes), Buffer.from(stray), Buffer.from(sof),
    Buffer.from([0xff, 0xd9])]);
}

function whitePng(width, height) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (buf) => {
    let c = 0xffffffff;
    for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const out = Buffer.alloc(12 + data.length);
    out.writeUInt32BE(data.length, 0);
    out.write(type, 4, 'latin1');
    data.copy(out, 8);
    out.writeUInt32BE(crc(out.subarray(4, 8 + data.length)), 8 + data.length);
    return out;
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 1;  // one bit a pixel, grey
  const stride = 1 + Math.ceil(width / 8);
  const raw = Buffer.alloc(stride * height, 0xff);
  for (let y = 0; y < height; y++) raw[y * stride] = 0;  // filter byte
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// ---- the command-line program: the reference for the box ---------------------------------
function runCli(args, cwd, env = {}) {
  const r = spawnSync(cli, args, { cwd, encoding: 'utf8', env: { ...process.env, QT_QPA_PLATFORM: 'offscreen', ...env } });
  return r.stdout.split('\n').filter((l) => l.startsWith('{')).map((l) => JSON.parse(l));
}

// ---- the page in Chromium ----------------------------------------------------------------
const { base, close: closeServer, missing: notServed } = await serve(root);
const browser = await launch();
const { page, evaluate, until } = browser;
async function open(query, language = 'en-US') {
  await page('Emulation.setUserAgentOverride', { userAgent: 'scan39-test', acceptLanguage: language });
  await page('Page.navigate', { url: `${base}${query}` });
  await until(`document.readyState === 'complete' && ['done', 'error', 'idle'].includes(document.body.dataset.state)`, query);
}
const state = () => evaluate(`({ state: document.body.dataset.state, kind: document.getElementById('status').dataset.kind || '',
  status: document.getElementById('status').textContent,
  texts: [...document.querySelectorAll('#symbols .text')].map((e) => e.textContent) })`);
async function mouse(type, x, y) {
  await page('Input.dispatchMouseEvent', { type, x, y, button: 'left', buttons: type === 'mouseReleased' ? 0 : 1, clickCount: 1 });
}
// Drags from picture pixel (x1, y1) to (x2, y2) at 100% and returns what the page shows.
async function dragBox([x1, y1, x2, y2]) {
  const r = await evaluate(`document.getElementById('zoom-one').click(),
    (({ left, top }) => ({ left, top }))(document.getElementById('picture').getBoundingClientRect())`);
  await evaluate(`document.getElementById('box-result').dataset.result = 'waiting'`);
  await mouse('mouseMoved', r.left + x1 + 0.5, r.top + y1 + 0.5);
  await mouse('mousePressed', r.left + x1 + 0.5, r.top + y1 + 0.5);
  await mouse('mouseMoved', r.left + x2 + 0.5, r.top + y2 + 0.5);
  await mouse('mouseReleased', r.left + x2 + 0.5, r.top + y2 + 0.5);
  await until(`['0', '1'].includes(document.getElementById('box-result').dataset.result)`, 'the box decode');
  return evaluate(`document.getElementById('box-result').textContent`);
}

// ---- the checks --------------------------------------------------------------------------
let passed = 0, failed = 0;
async function check(name, body) {
  try {
    const problem = await body();
    if (problem) throw new Error(problem);
    passed++;
    console.log(`ok   ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAIL ${name}: ${e.message}`);
  }
}

const sampleSymbols = runCli(['--sample', '--json']);
const expectedTexts = [
  ['samples/form_sample.bmp', sampleSymbols.map((s) => s.expected)],
  ['samples/control_default.bmp', ['1234567']],
  ...JSON.parse(readFileSync(join(root, 'test/pictures.json'), 'utf8')),
  ['test/photo-late-header.jpg', ['SCAN39-WEB', 'PART-0042']],
];
for (const [picture, texts] of expectedTexts) {
  await check(`reads every symbol of ${picture}`, async () => {
    await open(`?picture=${picture}`);
    const s = await state();
    const missing = texts.filter((t) => !s.texts.includes(t));
    if (s.state !== 'done' || missing.length) return `state ${s.state}, found ${JSON.stringify(s.texts)}, missing ${JSON.stringify(missing)}`;
  });
}

await check('each symbol shows the grade scan39 --grade gives, and its ten profiles on a click', async () => {
  const picture = 'test/label.png';
  const graded = runCli(['--grade', '--json', join(root, picture)])[0].symbols.map((s) => s.grade.fractional.overall).sort();
  await open(`?picture=${picture}`);
  const shown = await evaluate(`[...document.querySelectorAll('#symbols button.grade')].map((b) => b.dataset.grade).sort()`);
  if (JSON.stringify(shown) !== JSON.stringify(graded)) return `page shows ${shown}, scan39 --grade ${graded}`;
  await evaluate(`document.querySelector('#symbols button.grade').click()`);
  await until(`!document.getElementById('profiles').hidden`, 'the profiles');
  const height = await evaluate(`document.getElementById('profiles-plot').clientHeight`);
  if (height < 10 * 30) return `plot only ${height} px high`;
});

// One writer: the page's record of a lossless picture is the very record scan39 writes.
for (const picture of ['test/label.png', 'samples/form_sample.bmp']) {
  await check(`the record of ${picture} is scan39 --json --grade's`, async () => {
    await open(`?picture=${picture}`);
    const shown = JSON.stringify(await evaluate('record'));
    const cli = JSON.stringify(runCli(['--grade', '--json', picture], root)[0]);
    if (shown !== cli) return `page ${shown}\nscan39 ${cli}`;
  });
}

// The page's effort and polarity are scan39's --effort and --polarity, by the same names: the
// record after choosing one is the one scan39 writes with it.
async function choose(id, value) {
  await evaluate(`document.body.dataset.state = 'busy', ((s) => { s.value = ${JSON.stringify(value)};
    s.dispatchEvent(new Event('change')); })(document.getElementById(${JSON.stringify(id)}))`);
  await until(`['done', 'error'].includes(document.body.dataset.state)`, `${id} ${value}`);
}
const optionCases = [
  ['effort', 'fast', 'samples/form_sample.bmp'], ['effort', 'thorough', 'test/label.png'],
  ['polarity', 'dark', 'test/label-negative.png'], ['polarity', 'light', 'test/label-negative.png'],
  ['polarity', 'both', 'test/label-negative.png'], ['polarity', 'light', 'test/label.png'],
];
for (const [option, value, picture] of optionCases) {
  await check(`--${option} ${value} on ${picture}: the page's record is scan39's`, async () => {
    await open(`?picture=${picture}`);
    await choose(option, value);
    const shown = JSON.stringify(await evaluate('record'));
    const cli = JSON.stringify(runCli(['--grade', '--json', `--${option}`, value, picture], root)[0]);
    if (shown !== cli) return `page ${shown}\nscan39 ${cli}`;
  });
}
await check('the negative label reads only with light bars allowed', async () => {
  await open('?picture=test/label-negative.png');
  await choose('polarity', 'dark');
  const dark = (await state()).texts;
  await choose('polarity', 'light');
  const light = (await state()).texts;
  if (dark.length !== 0 || JSON.stringify(light) !== '["SCAN39-WEB"]') return `dark ${dark}, light ${light}`;
});
await check('every effort and polarity the page offers is a name scan39 takes', async () => {
  const offered = await evaluate(`['effort', 'polarity'].map((id) =>
    [id, [...document.getElementById(id).options].map((o) => o.value)])`);
  for (const [id, names] of offered) {
    for (const name of names) {
      const r = spawnSync(cli, [`--${id}`, name, '--json', join(root, 'samples/control_default.bmp')], { encoding: 'utf8' });
      if (r.status === 2) return `scan39 --${id} ${name}: ${r.stderr}`;  // 1: read, nothing found
    }
  }
  if (JSON.stringify(offered) !== '[["effort",["thorough","fast"]],["polarity",["both","dark","light"]]]') return JSON.stringify(offered);
});

// The built-in boxes of the sample, then boxes the control treats in its own ways: right to
// left, upward, one pixel high, past the picture's edge, ending inside the quiet zone.
const boxes = [
  ['samples/form_sample.bmp', [...sampleSymbols.map((s) => s.box),
    [433, 90, 280, 100], [20, 100, 170, 85], [20, 100, 170, 100], [10, 150, 700, 170],
    [8, 160, 476, 170], [-4, 240, 545, 250]]],
  ['samples/control_default.bmp', [[2, 30, 246, 40], [2, 30, 244, 40], [2, 6, 246, 20]]],
  ['test/label.png', JSON.parse(readFileSync(join(root, 'test/boxes.json'), 'utf8'))],
];
for (const [picture, list] of boxes) {
  await open(`?picture=${picture}`);
  for (const box of list) {
    await check(`box ${box} on ${picture} decodes like scan39 --box`, async () => {
      const [cliResult] = runCli([`--box=${box.join(',')}`, '--json', join(root, picture)]);
      const expected = cliResult.result === 0 ? cliResult.value : NOT_DECODED;
      const shown = await dragBox(box);
      if (shown !== expected) return `page shows ${JSON.stringify(shown)}, scan39 --box ${JSON.stringify(expected)}`;
    });
  }
}

// A box that reads nothing says why, in the browser's language, in the words of scan39 --box.
for (const [language, locale] of [['en-US', 'C.UTF-8'], ['zh-CN', 'zh_CN.UTF-8']]) {
  const picture = 'test/label.png';
  await open(`?picture=${picture}`, language);
  for (const box of [[5, 130, 682, 120], [690, 120, 5, 130], [5, 120, 6, 130], [5, 120, 682, 121], [300, 120, 400, 130]]) {
    await check(`box ${box} that reads nothing says why, as scan39 --box in ${locale}`, async () => {
      const [cliResult] = runCli([`--box=${box.join(',')}`, '--json', join(root, picture)], undefined, { LC_ALL: locale });
      const shown = await dragBox(box);
      const why = await evaluate(`document.getElementById('box-why').textContent`);
      if (cliResult.result !== 1 || shown !== NOT_DECODED) return `read ${JSON.stringify(shown)}`;
      if (why !== cliResult.reason) return `page says ${JSON.stringify(why)}, scan39 ${JSON.stringify(cliResult.reason)}`;
    });
  }
  await check(`a box that reads says nothing more (${language})`, async () => {
    const good = JSON.parse(readFileSync(join(root, 'test/boxes.json'), 'utf8'))[0];
    await dragBox(good);
    const why = await evaluate(`document.getElementById('box-why').textContent`);
    if (why !== '') return `says ${JSON.stringify(why)}`;
  });
}

// Labels stay inside the picture, at every zoom, even for a symbol at its top or right edge;
// angles show as whole degrees, never -0 or 360.
await check('outline labels stay inside the picture', async () => {
  await open('?picture=test/label.png');
  for (const zoom of ['zoom-fit', 'zoom-one', 'zoom-out']) {
    const out = await evaluate(`document.getElementById('${zoom}').click(), (() => {
      const svg = document.getElementById('overlay');
      const [, , w, h] = svg.getAttribute('viewBox').split(' ').map(Number);
      return [...svg.querySelectorAll('text')].filter((t) => {
        const x = +t.getAttribute('x'), y = +t.getAttribute('y'), size = +t.getAttribute('font-size');
        return x < 0 || y - 0.75 * size < -0.01 || y > h + 0.01 || x + t.getComputedTextLength() > w + 0.01;
      }).map((t) => t.textContent + ' at ' + t.getAttribute('x') + ',' + t.getAttribute('y'));
    })()`);
    if (out.length) return `${zoom}: ${out.join('; ')}`;
  }
  const metas = await evaluate(`[...document.querySelectorAll('#symbols .meta')].map((m) => m.textContent)`);
  if (metas.some((m) => /-0°|360°/.test(m))) return metas.join('; ');
});

await check('the page brings its icon: no 404 for /favicon.ico', async () => {
  await open('?picture=test/label.png');
  const icon = await evaluate(`document.querySelector('link[rel=icon]') && document.querySelector('link[rel=icon]').href`);
  if (!icon || !icon.startsWith('data:')) return `icon ${icon}`;
  if (notServed.includes('/favicon.ico')) return `404 for ${notServed.join(', ')}`;
});

// The red box shown is the control's: from the press point to one pixel left of the pointer.
await check('the red box is drawn where the control draws it', async () => {
  for (const [box, want] of [[[5, 120, 682, 130], [5.5, 120.5, 676, 10]], [[690, 130, 5, 120], [4.5, 120.5, 686, 10]]]) {
    await dragBox(box);
    await until(`document.querySelector('rect.box')`, 'the red box');
    const got = await evaluate(`['x', 'y', 'width', 'height'].map((a) => +document.querySelector('rect.box').getAttribute(a))`);
    if (`${got}` !== `${want}`) return `drag ${box} shows a box at ${got}, not ${want}`;
  }
});

// Opened from a file, a page has no origin: it must say at once how to serve it.
await check('the page opened from a file says how to serve it', async () => {
  await page('Page.navigate', { url: `file://${join(root, 'index.html')}` });
  await until(`document.readyState === 'complete' && document.body.dataset.state === 'error'`, 'the message');
  const s = await state();
  if (s.kind !== 'fromFile' || !s.status.includes('scripts/web.sh --serve')) return JSON.stringify(s);
  const enabled = await evaluate(`[...document.querySelectorAll('input, select, button')].filter((e) => !e.disabled).length`);
  if (enabled) return `${enabled} controls still enabled`;
});

await check('a file that is not a picture gets its message', async () => {
  await open('');
  const { result } = await page('Runtime.evaluate', { expression: `document.getElementById('file')` });
  await page('DOM.enable');
  await page('DOM.setFileInputFiles', { objectId: result.objectId, files: [join(root, 'test/not-a-picture.txt')] });
  await until(`document.body.dataset.state === 'error'`, 'the message');
  const s = await state();
  if (s.kind !== 'notPicture' || !s.status.includes('not-a-picture.txt')) return JSON.stringify(s);
});

await check('a too-large picture gets its message, in Chinese for a Chinese browser', async () => {
  await open('?picture=test/huge.png', 'zh-CN');
  const s = await state();
  if (s.kind !== 'tooLarge' || !s.status.includes('8200 × 8200') || !s.status.startsWith('内存溢出')) return JSON.stringify(s);
});

// Refused from the header, before any decoder allocates: the message names the declared size.
for (const [name, bytes] of Object.entries(hostile)) {
  await check(`${name} (${bytes.length} bytes) is refused as too large before it is decoded`, async () => {
    await open(`?picture=${name}`);
    const s = await state();
    const [, w, h] = /(\d+) × (\d+)/.exec(s.status) || [];
    if (s.kind !== 'tooLarge' || !(w * h > 64 * 1024 * 1024)) return JSON.stringify(s);
  });
}

await check('the page answers clicks while a large picture is read', async () => {
  await page('Page.navigate', { url: `${base}?picture=test/large.png` });
  await until(`document.body && document.body.dataset.state === 'busy'`, 'the read to start');
  let answered = 0;
  for (let i = 0; i < 5 && (await evaluate(`document.body.dataset.state`)) === 'busy'; i++) {
    const before = await evaluate(`document.getElementById('zoom-level').textContent`);
    const at = await evaluate(`(({ left, top, width, height }) => ({ x: left + width / 2, y: top + height / 2 }))(document.getElementById('zoom-in').getBoundingClientRect())`);
    await mouse('mousePressed', at.x, at.y);
    await mouse('mouseReleased', at.x, at.y);
    const after = await evaluate(`[document.getElementById('zoom-level').textContent, document.body.dataset.state]`);
    if (after[0] !== before && after[1] === 'busy') answered++;
  }
  await until(`document.body.dataset.state !== 'busy'`, 'the read to end');
  const s = await state();
  if (!answered) return 'no click was answered while the picture was read';
  if (s.state !== 'done') return JSON.stringify(s);
});

// The README's picture of the page, when asked for: the photo read, in Chinese.
if (process.env.SCAN39_WEB_SCREENSHOT) {
  await page('Emulation.setDeviceMetricsOverride', { width: 1100, height: 640, deviceScaleFactor: 1, mobile: false });
  await open('?picture=test/photo.jpg', 'zh-CN');
  await evaluate(`document.querySelector('#symbols button.grade').click()`);
  await until(`!document.getElementById('profiles').hidden`, 'the profiles');
  const { data } = await page('Page.captureScreenshot', { format: 'png' });
  writeFileSync(process.env.SCAN39_WEB_SCREENSHOT, Buffer.from(data, 'base64'));
  console.log(`wrote ${process.env.SCAN39_WEB_SCREENSHOT}`);
}

await browser.close();
await cameraChecks({ root, base, check });
closeServer();
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
