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

// Width and height from the header, judged before anything is decoded; null when unknown.
function headerSize(b) {
  const be16 = (i) => (b[i] << 8) | b[i + 1];
  const be32 = (i) => ((b[i] << 24) >>> 0) + (b[i + 1] << 16) + (b[i + 2] << 8) + b[i + 3];
  const le16 = (i) => b[i] | (b[i + 1] << 8);
  const le32 = (i) => (b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (b[i + 3] << 24));
  if (b.length >= 24 && b[0] === 0x89 && b[1] === 0x50 && b[2] === 0x4e && b[3] === 0x47)
    return [be32(16), be32(20)];
  if (b.length >= 10 && b[0] === 0x47 && b[1] === 0x49 && b[2] === 0x46) return [le16(6), le16(8)];
  if (b.length >= 26 && b[0] === 0x42 && b[1] === 0x4d) {
    return le32(14) === 12 ? [le16(18), le16(20)] : [Math.abs(le32(18)), Math.abs(le32(22))];
  }
  if (b.length >= 4 && b[0] === 0xff && b[1] === 0xd8) {
    for (let i = 2; i + 9 < b.length;) {
      if (b[i] !== 0xff) return null;
      const marker = b[i + 1];
      if (marker === 0xff) { i++; continue; }
      if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc)
        return [be16(i + 7), be16(i + 5)];
      i += 2 + be16(i + 2);
    }
  }
  return null;
}

async function load(blob) {
  if (blob.size > MAX_FILE_BYTES) return { error: 'tooLargeBytes', bytes: blob.size };
  const head = new Uint8Array(await blob.slice(0, 256 * 1024).arrayBuffer());
  const declared = headerSize(head);
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

// The picture's record, as scan39 --json --grade writes it for a file of that name.
async function read(options) {
  const M = await wasm();
  const start = performance.now();
  const size = M.lengthBytesUTF8(options.name || '') + 1;
  const name = M._malloc(size);
  if (!name) return { error: 'memory' };
  let json;
  try {
    M.stringToUTF8(options.name || '', name, size);
    json = M.UTF8ToString(M._scan39_read(name, options.checkCharacter ? 1 : 0, options.fullAscii ? 1 : 0, 1));
  } finally {
    M._free(name);
  }
  const record = JSON.parse(json);
  return { record, symbols: record.symbols, ms: performance.now() - start };
}

async function profiles(index) {
  const M = await wasm();
  return { index, profiles: JSON.parse(M.UTF8ToString(M._scan39_profiles(index))) };
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
// read with the fast effort: the next frame comes soon, and a symbol missed now is seen then.
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
  const json = M.UTF8ToString(M._scan39_read_frame(options.checkCharacter ? 1 : 0, options.fullAscii ? 1 : 0, 0));
  const end = performance.now();
  return { symbols: JSON.parse(json).symbols, width, height, ms: end - start, readMs: end - ready };
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
      } else if (request.type === 'profiles') {
        answer = await profiles(request.index);
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
