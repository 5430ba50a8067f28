// The page: picture in, symbols out. All heavy work happens in worker.js.
'use strict';

const NOT_DECODED = '错误：非39码或扫描位置不正确';  // the control's own error text, in every language

const TEXTS = {
  zh: {
    fromFile: '此页面不能直接从文件（file://）打开：浏览器不允许它在那里启动读取器。请改为提供此文件夹：bash scripts/web.sh --serve，然后打开 http://127.0.0.1:8039/（或在此文件夹中运行 python3 -m http.server）。',
    title: 'scan39 · Code 39 条码读取',
    open: '打开图片…',
    camera: '拍照',
    checkChar: '校验字符（模 43）',
    fullAscii: '全 ASCII',
    effort: '查找',
    effortThorough: '细致',
    effortFast: '快速',
    polarity: '条色',
    polarityBoth: '两者',
    polarityDark: '浅底深条',
    polarityLight: '深底浅条（反色）',
    fit: '适合窗口',
    zoomIn: '放大',
    zoomOut: '缩小',
    hint: '选择一张图片，或把图片拖到这里，或直接粘贴（Ctrl+V）。图片只在本机读取，不会上传。',
    symbols: '找到的条码',
    boxTitle: '框选解码',
    boxHint: '在图片上按住鼠标拖出红框：上边穿过条码，左边在条码之前，右边在条码右侧空白之后。松开鼠标即按扫描控件的规则沿红框上边解码。',
    starting: '正在加载读取模块…',
    ready: '请选择图片。',
    reading: (name) => `正在读取“${name}”…`,
    found: (n, ms) => `找到 ${n} 个条码（${ms} 毫秒）。`,
    none: (ms) => `没有找到 Code 39 条码（${ms} 毫秒）。可以试试框选解码。`,
    copy: '复制',
    copied: '已复制',
    lines: (n, a) => `${n} 条扫描线一致，${a}°`,
    notPicture: (name) => `无效图片：文件“${name}”不是浏览器能打开的图片`,
    tooLarge: (name, w, h) => `内存溢出：文件“${name}”太大（${w} × ${h} 像素，最多允许 67108864 像素）`,
    tooLargeBytes: (name, n) => `内存溢出：文件“${name}”太大（${n} 字节）`,
    memory: (name) => `内存不足：无法读取“${name}”`,
    notFound: (name) => `文件未找到：${name}`,
    pasted: '粘贴的图片',
    grade: (letter, value) => `等级 ${letter}（${value}）`,
    gradeTitle: '按 ISO/IEC 15416 的扫描反射率曲线评定的印刷质量。相机照片不是经过校准的检测仪：等级取决于光照和镜头。点击查看 10 条曲线。',
    profilesTitle: (n) => `第 ${n} 个条码的 10 条扫描反射率曲线`,
    threshold: '阈值',
    invalid: '校验不符',
    boxUpward: (from, to) => `框是从 ${from} 向上拖到 ${to} 的；应向右下方拖动`,
    boxLeftward: (from, to) => `框是从 ${from} 向左拖到 ${to} 的；应向右下方拖动`,
    boxShort: (across, down) => `拖动太短：横向 ${across} 像素，向下 ${down} 像素；应横跨条码并向下至少 2 个像素`,
    boxOutside: (w, h) => `框在 ${w}×${h} 像素的图片之外`,
    boxNothing: '框上边缘下面一行读不出条码；框应从条码左侧的空白处开始，到右侧的空白处结束',
    params: { decode: '译码', min_reflectance: '最小反射率', symbol_contrast: '符号反差', min_edge_contrast: '最小边缘反差', modulation: '调制比', defects: '缺陷度', decodability: '可译码度', quiet_zones: '空白区' },
  },
  en: {
    fromFile: 'This page cannot run from a file (file://): browsers do not start its reader there. Serve the folder instead: bash scripts/web.sh --serve, then open http://127.0.0.1:8039/ (or run python3 -m http.server in this folder).',
    title: 'scan39 · Code 39 reader',
    open: 'Open picture…',
    camera: 'Take photo',
    checkChar: 'Check character (mod 43)',
    fullAscii: 'Full ASCII',
    effort: 'Search',
    effortThorough: 'Thorough',
    effortFast: 'Fast',
    polarity: 'Bars',
    polarityBoth: 'Either',
    polarityDark: 'Dark on light',
    polarityLight: 'Light on dark (reversed)',
    fit: 'Fit',
    zoomIn: 'Zoom in',
    zoomOut: 'Zoom out',
    hint: 'Choose a picture, drop one here, or paste it (Ctrl+V). The picture is read on this device and never uploaded.',
    symbols: 'Symbols found',
    boxTitle: 'Decode along a box',
    boxHint: 'Drag a red box over the picture: its top edge across the bars, its left edge before the symbol, its right edge past the quiet zone after it. On release the row under the top edge is decoded with the scanning control\'s rule.',
    starting: 'Loading the reader…',
    ready: 'Choose a picture.',
    reading: (name) => `Reading "${name}"…`,
    found: (n, ms) => `Found ${n} symbol${n === 1 ? '' : 's'} (${ms} ms).`,
    none: (ms) => `No Code 39 symbol found (${ms} ms). Try decoding along a box.`,
    copy: 'Copy',
    copied: 'Copied',
    lines: (n, a) => `${n} agreeing scan lines, ${a}°`,
    notPicture: (name) => `Not a picture: "${name}" is not a picture this browser can open`,
    tooLarge: (name, w, h) => `Picture too large: "${name}" has ${w} × ${h} pixels, at most 67108864 are allowed`,
    tooLargeBytes: (name, n) => `Picture too large: "${name}" has ${n} bytes`,
    memory: (name) => `Out of memory: "${name}" cannot be read`,
    notFound: (name) => `File not found: ${name}`,
    pasted: 'pasted picture',
    grade: (letter, value) => `grade ${letter} (${value})`,
    gradeTitle: 'Print quality by the scan reflectance profiles of ISO/IEC 15416. A camera picture is no calibrated verifier: the grade is as good as the light and the lens. Click for the 10 profiles.',
    profilesTitle: (n) => `The 10 scan reflectance profiles of symbol ${n}`,
    threshold: 'threshold',
    invalid: 'check fails',
    boxUpward: (from, to) => `the box was dragged upward, from ${from} to ${to}; drag down and to the right`,
    boxLeftward: (from, to) => `the box was dragged to the left, from ${from} to ${to}; drag down and to the right`,
    boxShort: (across, down) => `the drag is too short, ${across} pixels across and ${down} down; it must cross the symbol and go at least 2 pixels down`,
    boxOutside: (w, h) => `the box lies outside the picture of ${w}×${h} pixels`,
    boxNothing: 'nothing readable along the row below the box\'s top edge; start the box in the white margin left of the symbol and end it in the margin right of it',
    params: { decode: 'decode', min_reflectance: 'Rmin', symbol_contrast: 'symbol contrast', min_edge_contrast: 'edge contrast', modulation: 'modulation', defects: 'defects', decodability: 'decodability', quiet_zones: 'quiet zones' },
  },
};
const lang = (navigator.languages || [navigator.language]).some((l) => /^zh\b/i.test(l)) ? 'zh' : 'en';
const T = { ...TEXTS[lang], ...CAMERA_TEXTS[lang] };  // camera.js brings its own texts
document.documentElement.lang = lang === 'zh' ? 'zh-CN' : 'en';
document.title = T.title;
for (const el of document.querySelectorAll('[data-t]')) el.textContent = T[el.dataset.t];
for (const el of document.querySelectorAll('[data-t-title]')) el.title = T[el.dataset.tTitle];

const $ = (id) => document.getElementById(id);
const stage = $('stage'), img = $('picture'), overlay = $('overlay'), viewer = $('viewer');
const SVG = 'http://www.w3.org/2000/svg';

// A symbol's outline from its four corners ([x, y] each, as the record's "position"), in a
// group with a label above its first corner; the picture's overlay and the live video's draw
// alike.
function symbolOutline(position, text, lift) {
  const g = document.createElementNS(SVG, 'g');
  const polygon = document.createElementNS(SVG, 'polygon');
  polygon.setAttribute('points', position.map(([x, y]) => `${x},${y}`).join(' '));
  const label = document.createElementNS(SVG, 'text');
  label.setAttribute('x', position[0][0]);
  label.setAttribute('y', position[0][1] - lift);
  // Where the label would like to be; clampLabels keeps it inside the picture.
  label.dataset.x = position[0][0];
  label.dataset.y = position[0][1] - lift;
  label.textContent = text;
  g.append(polygon, label);
  return g;
}

// Labels moved inside the picture of width x height (the overlay's user units) where they
// would stick out: a symbol at the top or right edge keeps its label readable. `px` is one
// screen pixel in those units.
function clampLabels(svg, width, height, px) {
  for (const t of svg.querySelectorAll('text')) {
    if (t.dataset.x === undefined) continue;
    const size = Number(t.getAttribute('font-size')) || 16 * px;
    let length = 0;
    try { length = t.getComputedTextLength(); } catch (e) { /* not rendered yet */ }
    const x = Math.max(0, Math.min(Number(t.dataset.x), width - length));
    // The baseline at least one font size down, and the descenders above the bottom edge.
    const y = Math.max(size, Math.min(Number(t.dataset.y), height - 0.25 * size));
    t.setAttribute('x', x);
    t.setAttribute('y', y);
  }
}

// Why a box read nothing, as scan39 --box says it: the drag's direction and length first,
// since those are what a person gets wrong most.
function boxWhy(b, width, height) {
  const from = `${b.x1},${b.y1}`, to = `${b.x2},${b.y2}`;
  if (b.y2 < b.y1) return T.boxUpward(from, to);
  if (b.x2 < b.x1) return T.boxLeftward(from, to);
  if (b.y2 - b.y1 < 2 || b.x2 - b.x1 < 2) return T.boxShort(b.x2 - b.x1, b.y2 - b.y1);
  if (b.x1 >= width || b.y1 >= height || b.x2 < 0 || b.y2 < 0) return T.boxOutside(width, height);
  return T.boxNothing;
}

// The angle as the record rounds it, in whole degrees: never "-0" nor "360".
const shownAngle = (a) => (Math.round(a) % 360 + 360) % 360;

// A page opened from a file has no origin of its own: the browser refuses it a worker and
// the module, so it would look ready and do nothing. It says at once how to serve it instead.
if (location.protocol === 'file:') {
  setState('error', T.fromFile, 'fromFile');
  for (const el of document.querySelectorAll('input, select, button')) el.disabled = true;
  throw new Error(T.fromFile);
}

const worker = new Worker('worker.js');
let seq = 0;              // the latest request; older answers are dropped
let current = null;       // { name, width, height, url }
let symbols = [];
let record = null;        // the last read's record, as scan39 --json --grade writes it
let profiles = [];        // the profiles behind each of its symbols' grades, in its order
let scale = 1, fit = true;

function setState(state, message, kind) {
  document.body.dataset.state = state;
  const status = $('status');
  status.textContent = message || '';
  if (kind) status.dataset.kind = kind; else delete status.dataset.kind;
}

function options() {
  // The select's values are the option names every face of scan39 takes.
  return { checkCharacter: $('check').checked, fullAscii: $('ascii').checked,
    effort: $('effort').value, polarity: $('polarity').value };
}

function open(blob, name) {
  stopCamera();
  if (current && current.url) URL.revokeObjectURL(current.url);
  current = { name, blob };
  symbols = [];
  $('symbols').replaceChildren();
  $('profiles').hidden = true;
  $('box-result').textContent = '';
  $('box-why').textContent = '';
  delete $('box-result').dataset.result;
  setState('busy', T.reading(name));
  worker.postMessage({ type: 'load', seq: ++seq, blob, options: { ...options(), name } });
}

worker.onmessage = (event) => {
  const m = event.data;
  if (m.seq !== seq && m.type !== 'box') return;
  if (m.error) {
    stage.hidden = true;
    $('hint').hidden = false;
    const name = current ? current.name : '';
    const text = m.error === 'tooLarge' ? T.tooLarge(name, m.width, m.height)
      : m.error === 'tooLargeBytes' ? T.tooLargeBytes(name, m.bytes)
      : m.error === 'notPicture' ? T.notPicture(name) : T.memory(name);
    setState('error', text, m.error === 'tooLargeBytes' ? 'tooLarge' : m.error);
    return;
  }
  if (m.type === 'picture') {
    current.width = m.width;
    current.height = m.height;
    current.url = URL.createObjectURL(current.blob);
    img.src = current.url;
    overlay.setAttribute('viewBox', `0 0 ${m.width} ${m.height}`);
    overlay.replaceChildren();
    $('hint').hidden = true;
    stage.hidden = false;
    fit = true;
    layout();
  } else if (m.type === 'load' || m.type === 'read') {
    record = m.record;
    symbols = m.symbols;
    profiles = m.profiles;
    showSymbols(Math.round(m.ms));
  } else if (m.type === 'box') {
    const out = $('box-result');
    out.dataset.result = m.result;
    out.textContent = m.result === 0 ? m.value : NOT_DECODED;
    $('box-why').textContent = m.result === 0 || !boxAsked || !current ? ''
      : boxWhy(boxAsked, current.width, current.height);
  }
};

function showSymbols(ms) {
  const list = $('symbols');
  list.replaceChildren();
  for (const node of overlay.querySelectorAll('.symbol')) node.remove();
  symbols.forEach((s, i) => {
    const li = document.createElement('li');
    li.className = 'symbol';
    const text = document.createElement('span');
    text.className = 'text';
    text.textContent = s.text;
    const copy = document.createElement('button');
    copy.type = 'button';
    copy.textContent = T.copy;
    copy.onclick = async () => {
      try { await navigator.clipboard.writeText(s.text); copy.textContent = T.copied; } catch (e) { /* no clipboard access */ }
    };
    const meta = document.createElement('div');
    meta.className = 'meta';
    meta.textContent = T.lines(s.lines, shownAngle(s.angle));
    const grade = document.createElement('button');
    grade.type = 'button';
    grade.className = 'grade';
    // The interpolated grade verifiers print since 2016; a record without it has whole bands.
    const shown = s.grade.fractional || s.grade;
    grade.dataset.grade = shown.overall;
    grade.textContent = T.grade(shown.overall, shown.value.toFixed(1));
    grade.title = T.gradeTitle;
    const itsProfiles = profiles[i];  // this read's, even once another read has begun
    grade.onclick = () => drawProfiles(i, itsProfiles);
    li.append(text, copy, grade, meta);
    if (s.interpretation) {
      const meaning = document.createElement('div');
      meaning.className = 'meta meaning';
      const n = s.interpretation;
      meaning.textContent = `${n.kind.toUpperCase()}: ${n.valid ? n.value : T.invalid}`;
      li.append(meaning);
    }
    list.append(li);

    const g = symbolOutline(s.position, `${i + 1}. ${s.text}`, 4);
    g.setAttribute('class', 'symbol');
    overlay.prepend(g);
  });
  styleOverlay();
  $('profiles').hidden = true;
  setState('done', symbols.length ? T.found(symbols.length, ms) : T.none(ms));
}

// The picture put away, for the live camera: no zoom, no box, no re-read on option changes.
function closePicture() {
  if (current && current.url) URL.revokeObjectURL(current.url);
  current = null;
  ++seq;
  symbols = [];
  overlay.replaceChildren();
  img.removeAttribute('src');
  stage.hidden = true;
  $('box-result').textContent = '';
  $('box-why').textContent = '';
  delete $('box-result').dataset.result;
  $('profiles').hidden = true;
}

// The ten profiles one under another: reflectance 0..1, the global threshold dashed, the bars'
// ends marked, and each profile's grade with the parameter that set it.
function drawProfiles(index, profiles) {
  const box = $('profiles');
  box.hidden = false;
  $('profiles-title').textContent = T.profilesTitle(index + 1);
  const canvas = $('profiles-plot');
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth || 320, strip = 44, height = strip * profiles.length;
  canvas.width = width * ratio;
  canvas.height = height * ratio;
  canvas.style.height = `${height}px`;
  const g = canvas.getContext('2d');
  g.scale(ratio, ratio);
  g.clearRect(0, 0, width, height);
  g.font = '11px system-ui, sans-serif';
  const colours = { A: '#00802b', B: '#4a8a00', C: '#b07800', D: '#c05000', F: '#c00000' };
  profiles.forEach((p, k) => {
    const top = k * strip + 4, h = strip - 8;
    const x = (i) => (i / Math.max(1, p.r.length - 1)) * width;
    const y = (r) => top + (1 - r) * h;
    g.fillStyle = k % 2 ? '#f6f6f4' : '#fff';
    g.fillRect(0, k * strip, width, strip);
    g.strokeStyle = '#bbb';
    g.beginPath();
    for (const at of [p.begin, p.end]) { g.moveTo(x(at), top); g.lineTo(x(at), top + h); }
    g.stroke();
    g.strokeStyle = '#36c';
    g.setLineDash([4, 3]);
    g.beginPath();
    g.moveTo(0, y(p.threshold));
    g.lineTo(width, y(p.threshold));
    g.stroke();
    g.setLineDash([]);
    g.strokeStyle = colours[p.grade] || '#000';
    g.beginPath();
    p.r.forEach((r, i) => (i ? g.lineTo(x(i), y(r)) : g.moveTo(x(i), y(r))));
    g.stroke();
    const failing = p.failing ? ` · ${T.params[p.failing] || p.failing}` : '';
    const label = `${k + 1}: ${p.grade}${failing}`;
    g.fillStyle = 'rgba(255, 255, 255, .85)';
    g.fillRect(2, top, g.measureText(label).width + 4, 13);
    g.fillStyle = colours[p.grade] || '#000';
    g.fillText(label, 4, top + 10);
  });
  const mark = g.measureText(T.threshold).width;
  g.fillStyle = 'rgba(255, 255, 255, .85)';
  g.fillRect(width - mark - 6, 4, mark + 4, 13);
  g.fillStyle = '#36c';
  g.fillText(T.threshold, width - mark - 4, 14);
}

// Zoom: "fit" shrinks large pictures into the viewer; small ones stay at 100%.
function layout() {
  $('zoom-level').textContent = `${Math.round(scale * 100)}%`;
  if (!current || !current.width) return;
  if (fit) {
    const w = viewer.clientWidth - 16, h = viewer.clientHeight - 16;
    scale = Math.min(1, w / current.width, h / current.height);
  }
  const w = current.width * scale, h = current.height * scale;
  for (const el of [img, overlay]) { el.style.width = `${w}px`; el.style.height = `${h}px`; }
  img.classList.toggle('pixels', scale >= 2);
  $('zoom-level').textContent = `${Math.round(scale * 100)}%`;
  styleOverlay();
}

// Outlines and labels keep a readable size at every zoom.
function styleOverlay() {
  const px = 1 / scale;
  for (const p of overlay.querySelectorAll('polygon')) p.setAttribute('stroke-width', 3 * px);
  for (const t of overlay.querySelectorAll('text')) {
    t.setAttribute('font-size', 16 * px);
    t.setAttribute('stroke-width', 3 * px);
  }
  const box = overlay.querySelector('rect.box');
  if (box) box.setAttribute('stroke-width', Math.max(1, px));
  if (current && current.width) clampLabels(overlay, current.width, current.height, px);
}

function zoom(factor) {
  fit = false;
  scale = Math.min(16, Math.max(0.02, scale * factor));
  layout();
}
$('zoom-in').onclick = () => zoom(1.25);
$('zoom-out').onclick = () => zoom(0.8);
$('zoom-one').onclick = () => { fit = false; scale = 1; layout(); };
$('zoom-fit').onclick = () => { fit = true; layout(); };
window.addEventListener('resize', () => fit && layout());
viewer.addEventListener('wheel', (e) => {
  if (!e.ctrlKey || !current) return;
  e.preventDefault();
  zoom(e.deltaY < 0 ? 1.1 : 1 / 1.1);
}, { passive: false });

// The red box, as the scanning control draws it: the module works out its pixels, so the
// page shows just what the box decode reads. While an answer is on its way, only the latest
// pointer position waits to be asked for.
let drag = null;
let dragId = 0;      // each press starts a new box; answers about older ones are dropped
let boxWanted = null;  // the latest box not yet asked for
let boxAsked = null;   // the last box sent for decoding, for saying why it read nothing
let asking = false;
// A second worker over the same module answers the box alone, so the box follows the pointer
// even while the first is busy reading a large picture.
const geometry = new Worker('worker.js');
geometry.onmessage = (event) => outlineArrived(event.data);
function pixelAt(e) {
  const r = img.getBoundingClientRect();
  return [Math.floor((e.clientX - r.left) / scale), Math.floor((e.clientY - r.top) / scale)];
}
function askOutline() {
  if (asking || !boxWanted) return;
  asking = true;
  geometry.postMessage({ type: 'outline', seq, box: { ...boxWanted, drag: dragId } });
  boxWanted = null;
}
function outlineArrived(m) {
  asking = false;
  if (m.seq === seq && m.drag === dragId && m.outline) drawBox(m.outline);
  askOutline();
}
function drawBox(outline) {
  let rect = overlay.querySelector('rect.box');
  if (!outline) { if (rect) rect.remove(); return; }
  if (!rect) {
    rect = document.createElementNS(SVG, 'rect');
    rect.setAttribute('class', 'box');
    overlay.append(rect);
  }
  const [left, top, right, bottom] = outline;
  rect.setAttribute('x', left + 0.5);
  rect.setAttribute('y', top + 0.5);
  rect.setAttribute('width', right - left);
  rect.setAttribute('height', bottom - top);
  styleOverlay();
}
// A drag may start in the margin around the picture too, as the command line's --box allows;
// not on the viewer's scroll bars.
viewer.addEventListener('pointerdown', (e) => {
  if (!current || !current.width || stage.hidden) return;
  const v = viewer.getBoundingClientRect();
  if (e.clientX - v.left >= viewer.clientWidth || e.clientY - v.top >= viewer.clientHeight) return;
  e.preventDefault();
  viewer.setPointerCapture(e.pointerId);
  const [x, y] = pixelAt(e);
  drag = { x1: x, y1: y, moved: false };
  ++dragId;
  boxWanted = null;
  drawBox(null);
});
viewer.addEventListener('pointermove', (e) => {
  if (!drag) return;
  [drag.x2, drag.y2] = pixelAt(e);
  drag.moved = true;
  boxWanted = { x1: drag.x1, y1: drag.y1, x2: drag.x2, y2: drag.y2 };
  askOutline();
});
function release() {
  if (!drag) return;
  const b = drag;
  drag = null;
  if (!b.moved) return;
  $('box-result').dataset.result = 'busy';
  $('box-why').textContent = '';
  boxAsked = { x1: b.x1, y1: b.y1, x2: b.x2, y2: b.y2 };
  worker.postMessage({ type: 'box', seq, box: boxAsked });
}
viewer.addEventListener('pointerup', release);
viewer.addEventListener('pointercancel', release);

// Ways in: chooser, camera, drop, paste, ?picture=NAME.
for (const input of [$('file'), $('camera')]) {
  input.addEventListener('change', () => {
    if (input.files.length) open(input.files[0], input.files[0].name);
    input.value = '';
  });
}
for (const box of [$('check'), $('ascii'), $('effort'), $('polarity')]) {
  box.addEventListener('change', () => {
    if (!current || !current.width) return;
    setState('busy', T.reading(current.name));
    worker.postMessage({ type: 'read', seq: ++seq, options: { ...options(), name: current.name } });
  });
}
document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('dragover'); });
document.addEventListener('dragleave', (e) => { if (!e.relatedTarget) document.body.classList.remove('dragover'); });
document.addEventListener('drop', (e) => {
  e.preventDefault();
  document.body.classList.remove('dragover');
  const file = e.dataTransfer.files[0];
  if (file) open(file, file.name);
});
document.addEventListener('paste', (e) => {
  for (const item of e.clipboardData.items) {
    if (item.kind === 'file') { open(item.getAsFile(), T.pasted); e.preventDefault(); return; }
  }
});

const wanted = new URLSearchParams(location.search).get('picture');
// Only pictures next to the page: a link cannot make the page fetch from elsewhere.
if (wanted && new URL(wanted, location.href).origin === location.origin) {
  setState('busy', T.reading(wanted));
  fetch(wanted).then((r) => {
    if (!r.ok) throw new Error(r.status);
    return r.blob();
  }).then((blob) => open(blob, wanted)).catch(() => setState('error', T.notFound(wanted), 'notFound'));
} else {
  setState('idle', T.ready);
}
