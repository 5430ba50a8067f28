// Frames read per second from Chromium's fake camera, the page's way (VideoFrame, luma plane)
// against ImageBitmap frames drawn and read back as RGBA, in turns on the same clip.
//   node camera_rate.mjs ROOT [CLIP] [ROUNDS]     after scripts/web-test.sh made the clips
import { resolve, join } from 'node:path';
import { serve, launch, sleep } from './chromium.mjs';

const [root, clip = 'tilted.y4m', rounds = '2'] = process.argv.slice(2);
const { base, close } = await serve(resolve(root));
const browser = await launch(['--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
  `--use-file-for-fake-video-capture=${join(resolve(root), 'test/clips', clip)}`]);
await browser.page('Page.navigate', { url: `${base}?camera=1` });
await browser.until(`document.body.dataset.state === 'live' && live.frames > 5`, 'the camera');
const sample = () => browser.evaluate(`[live.frames, live.busyMs, live.readMs, performance.now()]`);
for (let round = 0; round < Number(rounds); round++) {
  for (const way of ['VideoFrame', 'ImageBitmap']) {
    await browser.evaluate(`live.noVideoFrame = ${way === 'ImageBitmap'}`);
    await sleep(500);
    const a = await sample();
    await sleep(4000);
    const b = await sample();
    const n = b[0] - a[0];
    console.log(`${way.padEnd(12)} ${(n * 1000 / (b[3] - a[3])).toFixed(1)} frames/s, the worker ${((b[1] - a[1]) / n).toFixed(1)} ms a frame, the reader ${((b[2] - a[2]) / n).toFixed(1)} ms`);
  }
}
await browser.close();
close();
