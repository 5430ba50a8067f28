// Decodes the picture, converts it and runs the WebAssembly reader, away from the page's
// thread so the page keeps answering however long a large picture takes.
'use strict';
importScripts('scan39.js');

// The desktop loader's bounds: 64 Mi pixels, and a file larger than such a picture at 32 bits
// a pixel plus 1 MiB is not read at all.
const MAX_PIXELS = 64 * 1024 * 1024;
const MAX_FILE_BYTES = MAX_PIXELS * 4 + 1024 * 1024;

let module = null;
function wasm() {
  if (!module) module = createScan39();
  return module;
}

// The file's bytes through a window that moves along it: a header is found however far into
// the file it lies, without holding the whole file.
function fileWindow(blob) {
  let start = 0, data = new Uint8Array(0);
  const f = {
    // Makes bytes [at, at + n) readable with byte(); false when the file ends before.
    async has(at, n) {
      if (at < 0 || at + n > blob.size) return false;
      if (at < start || at + n > start + data.length) {
        start = at;
        data = new Uint8Array(await blob.slice(at, at + Math.max(n, 64 * 1024)).arrayBuffer());
      }
      return true;
    },
    byte: (at) => data[at - start],
    // Where the first byte at or after `at` that is (`is`) or is not `value` lies, or -1.
    async find(at, value, is = true) {
      while (await f.has(at, 1)) {
        let k = at - start;
        if (is) k = data.indexOf(value, k);
        else while (k < data.length && data[k] === value) k++;
        if (k >= 0 && k < data.length) return start + k;
        at = start + data.length;
      }
      return -1;
    },
  };
  return f;
}

// Width and height the file declares, judged before anything is decoded; null when unknown
// (the decoded size is judged then). Decoders allocate for the declared size before they find
// the file holds far less, so a few bytes can cost gigabytes.
async function headerSize(blob) {
  const f = fileWindow(blob);
  if (!(await f.has(0, Math.min(blob.size, 30)))) return null;
  const n = blob.size, b = f.byte;
  const be32 = (i) => ((b(i) << 24) >>> 0) + (b(i + 1) << 16) + (b(i + 2) << 8) + b(i + 3);
  const le16 = (i) => b(i) | (b(i + 1) << 8);
  const le24 = (i) => le16(i) | (b(i + 2) << 16);
  const le32 = (i) => (le24(i) | (b(i + 3) << 24));
  const tag = (i) => String.fromCharCode(b(i), b(i + 1), b(i + 2), b(i + 3));
  if (n >= 24 && b(0) === 0x89 && tag(0).endsWith('PNG')) return [be32(16), be32(20)];
  if (n >= 10 && tag(0).startsWith('GIF')) return [le16(6), le16(8)];
  if (n >= 26 && b(0) === 0x42 && b(1) === 0x4d) {
    return le32(14) === 12 ? [le16(18), le16(20)] : [Math.abs(le32(18)), Math.abs(le32(22))];
  }
  if (n >= 30 && tag(0) === 'RIFF' && tag(8) === 'WEBP') {
    const chunk = tag(12);  // extended (the canvas), lossless or lossy
    if (chunk === 'VP8X') return [1 + le24(24), 1 + le24(27)];
    if (chunk === 'VP8L' && b(20) === 0x2f) {
      const bits = le32(21) >>> 0;
      return [1 + (bits & 0x3fff), 1 + ((bits >>> 14) & 0x3fff)];
    }
    if (chunk === 'VP8 ') return [le16(26) & 0x3fff, le16(28) & 0x3fff];
    return null;
  }
  if (n >= 4 && b(0) === 0xff && b(1) === 0xd8) return jpegSize(f);
  return null;
}

// A JPEG's frame size: its markers walked segment by segment, each skipped by its length
// (application data such as Exif or ICC profiles may come first, of any length), up to the
// frame header. Between segments, as libjpeg does, stray bytes up to the next marker are passed.
async function jpegSize(f) {
  for (let i = 2; ;) {
    i = await f.find(i, 0xff);
    if (i < 0) return null;
    i = await f.find(i + 1, 0xff, false);  // past fill bytes
    if (i < 0) return null;
    const marker = f.byte(i++);
    if (marker === 0x00 || marker === 0x01 || (marker >= 0xd0 && marker <= 0xd8)) continue;
    if (marker === 0xd9 || marker === 0xda) return null;  // the image ends or its data starts
    if (!(await f.has(i, 7))) return null;
    const length = (f.byte(i) << 8) | f.byte(i + 1);
    if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc)
      return [(f.byte(i + 5) << 8) | f.byte(i + 6), (f.byte(i + 3) << 8) | f.byte(i + 4)];
    if (length < 2) return null;
    i += length;
  }
}

async function load(blob) {
  if (blob.size > MAX_FILE_BYTES) return { error: 'tooLargeBytes', bytes: blob.size };
  const declared = await headerSize(blob);
  if (declared && declared[0] * declared[1] > MAX_PIXELS)
    return { error: 'tooLarge', width: declared[0], height: declared[1] };
  let bitmap;
  try {
    bitmap = await createImageBitmap(blob, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  } catch (e) {
    return { error: 'notPicture' };
  }
  const { width, height } = bitmap;
  if (width * height > MAX_PIXELS) { bitmap.close(); return { error: 'tooLarge', width, height }; }
  let pixels;
  try {
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d', { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    pixels = context.getImageData(0, 0, width, height).data;
  } catch (e) {
    return { error: 'memory', width, height };
  } finally {
    bitmap.close();
  }
  const M = await wasm();
  const at = M._scan39_picture(width, height);
  if (!at) return { error: 'memory', width, height };
  M.HEAPU8.set(pixels, at);
  M._scan39_prepare();
  return { width, height };
}

// Strings for the module, freed together once `body` is done with their addresses; null when
// there is no memory for them.
function withStrings(M, texts, body) {
  const at = [];
  try {
    for (const text of texts) {
      const size = M.lengthBytesUTF8(text) + 1;
      const p = M._malloc(size);
      if (!p) return null;
      at.push(p);
      M.stringToUTF8(text, p, size);
    }
    return body(...at);
  } finally {
    for (const p of at) M._free(p);
  }
}

// The module's answer to a read: the record and each symbol's profiles. An option name the
// module refuses is a fault of the page, not of the picture.
function answerOf(json) {
  const answer = JSON.parse(json);
  if (answer.error) throw new Error(answer.error);
  return answer;
}

// The picture's record, as scan39 --json --grade writes it for a file of that name, and the
// profiles behind each symbol's grade for the plot.
async function read(options) {
  const M = await wasm();
  const start = performance.now();
  const json = withStrings(M, [options.name || '', options.effort, options.polarity],
    (name, effort, polarity) => M.UTF8ToString(
      M._scan39_read(name, options.checkCharacter ? 1 : 0, options.fullAscii ? 1 : 0, effort, polarity)));
  if (json === null) return { error: 'memory' };
  const { record, profiles } = answerOf(json);
  return { record, symbols: record.symbols, profiles, ms: performance.now() - start };
}

async function box(b) {
  const M = await wasm();
  return JSON.parse(M.UTF8ToString(M._scan39_box(b.x1, b.y1, b.x2, b.y2)));
}

async function outline(b) {
  const M = await wasm();
  return { outline: JSON.parse(M.UTF8ToString(M._scan39_outline(b.x1, b.y1, b.x2, b.y2))), drag: b.drag };
}

// A camera frame, handed over by the page as a VideoFrame, an ImageBitmap or ImageData, and
// read with the fast effort whatever the page's choice: the next frame comes soon, and a
// symbol missed now is seen then. The polarity is the page's.
// A frame in a YUV format hands over its luma plane as the grey picture; anything else is
// drawn and read back as RGBA.
const LUMA_FORMATS = ['I420', 'I420A', 'I422', 'I444', 'NV12'];
let frameCanvas = null;
async function frame(request) {
  const M = await wasm();
  const start = performance.now();
  const source = request.frame;
  const isVideo = typeof VideoFrame !== 'undefined' && source instanceof VideoFrame;
  const width = isVideo ? source.displayWidth : source.width;
  const height = isVideo ? source.displayHeight : source.height;
  let at = 0;
  try {
    // Only frames shown as they are stored: no scaling, turning or mirroring to undo.
    if (isVideo && LUMA_FORMATS.includes(source.format) && source.visibleRect.width === width
        && source.visibleRect.height === height && !source.rotation && !source.flip) {
      at = await copyPlanes(M, source, width, height);
    }
    if (!at) at = copyRgba(M, source, width, height);
  } finally {
    if (source.close) source.close();
  }
  if (!at) return { error: 'memory' };
  const ready = performance.now();
  const options = request.options;
  const json = withStrings(M, ['fast', options.polarity], (effort, polarity) => M.UTF8ToString(
    M._scan39_read_frame(options.checkCharacter ? 1 : 0, options.fullAscii ? 1 : 0, effort, polarity)));
  if (json === null) return { error: 'memory' };
  const end = performance.now();
  return { symbols: answerOf(json).record.symbols, width, height, ms: end - start, readMs: end - ready };
}

// A YUV frame's planes straight into the module's grey frame, whose room takes them all.
async function copyPlanes(M, source, width, height) {
  const rect = { x: source.visibleRect.x, y: source.visibleRect.y, width, height };
  const size = source.allocationSize({ rect });
  const at = M._scan39_frame(width, height, 1);
  if (!at || size > width * height * 3) return 0;
  try {
    await source.copyTo(M.HEAPU8.subarray(at, at + size), { rect, layout: planes(source.format, width, height) });
  } catch (e) {
    return 0;  // a layout this browser does not copy to: drawn instead
  }
  return at;
}

// Anything else as RGBA: ImageData as it is, a picture drawn and read back.
function copyRgba(M, source, width, height) {
  let rgba = source.data;
  if (!(source instanceof ImageData)) {
    if (!frameCanvas || frameCanvas.width !== width || frameCanvas.height !== height) {
      frameCanvas = new OffscreenCanvas(width, height);
      frameCanvas.context = frameCanvas.getContext('2d', { willReadFrequently: true });
    }
    frameCanvas.context.drawImage(source, 0, 0, width, height);
    rgba = frameCanvas.context.getImageData(0, 0, width, height).data;
  }
  const at = M._scan39_frame(width, height, 4);
  if (at) M.HEAPU8.set(rgba, at);
  return at;
}

// Tightly packed planes, the luma first.
function planes(format, width, height) {
  const cw = format === 'I444' ? width : Math.ceil(width / 2);
  const ch = format === 'I420' || format === 'I420A' || format === 'NV12' ? Math.ceil(height / 2) : height;
  const luma = { offset: 0, stride: width };
  if (format === 'NV12') return [luma, { offset: width * height, stride: 2 * cw }];
  const u = { offset: width * height, stride: cw };
  const v = { offset: width * height + cw * ch, stride: cw };
  return format === 'I420A' ? [luma, u, v, { offset: width * height + 2 * cw * ch, stride: width }] : [luma, u, v];
}

// Requests are handled one after another, in the order they came.
let queue = Promise.resolve();
self.onmessage = (event) => {
  const request = event.data;
  // The box follows the pointer: answered as soon as the module is free, not after the
  // requests queued before it.
  if (request.type === 'outline') {
    outline(request.box).catch(() => ({ outline: null, drag: request.box.drag }))
      .then((answer) => self.postMessage({ type: 'outline', seq: request.seq, ...answer }));
    return;
  }
  queue = queue.then(async () => {
    let answer;
    try {
      if (request.type === 'load') {
        answer = await load(request.blob);
        if (!answer.error) {
          self.postMessage({ type: 'picture', seq: request.seq, ...answer });
          answer = await read(request.options);
        }
      } else if (request.type === 'read') {
        answer = await read(request.options);
      } else if (request.type === 'frame') {
        answer = await frame(request);
      } else if (request.type === 'box') {
        answer = await box(request.box);
      }
    } catch (e) {
      // The module ran out of memory or failed: start a fresh one for the next picture.
      module = null;
      answer = { error: 'memory', detail: String(e) };
    }
    if (request.frame && request.frame.close) request.frame.close();  // a no-op once read
    self.postMessage({ type: request.type, seq: request.seq, live: request.live, ...answer });
  });
};
