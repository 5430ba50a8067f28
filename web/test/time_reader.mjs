// WebAssembly side of the timing: the same pictures and output as time_reader.cpp, with the
// module the page uses.   node time_reader.mjs MODULE.js REPEATS PICTURE.pgm...
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { resolve } from 'node:path';

const [modulePath, repeatsText, ...pictures] = process.argv.slice(2);
const createScan39 = createRequire(import.meta.url)(resolve(modulePath));
// This emscripten's loader would fetch() the file path under a node that has fetch: hand it
// the bytes instead.
const M = await createScan39({ wasmBinary: readFileSync(resolve(modulePath).replace(/\.js$/, '.wasm')) });
const repeats = Math.max(1, Number(repeatsText));

for (const path of pictures) {
  const bytes = readFileSync(path);
  const header = bytes.toString('latin1', 0, 64).match(/^P5\s+(\d+)\s+(\d+)\s+255\s/);
  if (!header) throw new Error(`${path}: not a binary PGM picture`);
  const [width, height] = [Number(header[1]), Number(header[2])];
  const grey = bytes.subarray(header[0].length, header[0].length + width * height);
  // The page hands RGBA to the module; grey in all three channels gives the same grey back.
  const at = M._scan39_picture(width, height);
  const rgba = M.HEAPU8.subarray(at, at + width * height * 4);
  for (let i = 0; i < grey.length; i++) rgba.fill(grey[i], 4 * i, 4 * i + 3), (rgba[4 * i + 3] = 255);
  M._scan39_prepare();
  const times = [];
  let found = 0;
  for (let r = 0; r < repeats; r++) {
    const start = performance.now();
    found = JSON.parse(M.UTF8ToString(M._scan39_read(0, 0, 0, 0, 0))).record.symbols.length;  // the defaults
    times.push(performance.now() - start);
  }
  times.sort((a, b) => a - b);
  console.log(`${path} ${times[times.length >> 1].toFixed(3)} ${found}`);
}
