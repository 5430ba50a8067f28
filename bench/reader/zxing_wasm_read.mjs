// zxing-cpp 3.x (the zxing-wasm build from npm) as a peer in the reader comparison: reads every
// picture named on the command line, or one name a line on standard input, in ONE process, with
// Code 39 only, and prints one JSON object per picture:
//   {"file":...,"texts":["AB-12",...],"formats":["Code39Std",...]}   or   {"file":...,"error":...}
// Install once: (cd bench/reader/node && npm install). The module's own .wasm from node_modules
// is handed over as wasmBinary, since its default fetches it from a CDN.
//
//   node bench/reader/zxing_wasm_read.mjs [--formats Code39Std] PICTURE...
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import * as readline from "node:readline";

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, "node", "package.json"));
let zxing;
try {
    zxing = await import(require.resolve("zxing-wasm/reader"));
} catch (e) {
    console.error(`zxing-wasm is not installed: (cd ${join(here, "node")} && npm install)`);
    process.exit(2);
}
const wasmPath = require.resolve("zxing-wasm/reader/zxing_reader.wasm");
await zxing.prepareZXingModule({
    overrides: { wasmBinary: readFileSync(wasmPath) },
    fireImmediately: true,
});

const args = process.argv.slice(2);
let formats = ["Code39"];
const files = [];
for (let i = 0; i < args.length; ++i) {
    if (args[i] === "--formats") formats = args[++i].split(",");
    else if (args[i] === "--version") {
        console.log(`zxing-wasm ${zxing.ZXING_WASM_VERSION} zxing-cpp ${zxing.ZXING_CPP_COMMIT}`);
        process.exit(0);
    } else files.push(args[i]);
}
const options = { formats, maxNumberOfSymbols: 255 };

async function one(file) {
    let record;
    try {
        const results = await zxing.readBarcodes(readFileSync(file), options);
        const valid = results.filter((r) => r.isValid);
        record = { file, texts: valid.map((r) => r.text), formats: valid.map((r) => r.format) };
    } catch (e) {
        record = { file, error: String(e && e.message ? e.message : e) };
    }
    process.stdout.write(JSON.stringify(record) + "\n");
}

if (files.length) {
    for (const f of files) await one(f);
} else {
    for await (const line of readline.createInterface({ input: process.stdin })) {
        if (line) await one(line);
    }
}
