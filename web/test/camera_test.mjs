// The live camera, with Chromium's fake camera playing clips made by make_clip.py (see
// scripts/web-test.sh): one browser per clip, since the clip is a command-line switch.
import { join } from 'node:path';
import { launch, sleep } from './chromium.mjs';

const LIVE_WAIT_MS = 30000;

const liveState = `(() => {
  const video = document.getElementById('video');
  return { state: document.body.dataset.state, kind: document.getElementById('status').dataset.kind || '',
    status: document.getElementById('status').textContent,
    texts: [...document.querySelectorAll('#symbols .text')].map((e) => e.textContent),
    times: [...document.querySelectorAll('#symbols time')].map((e) => e.textContent),
    outlines: document.querySelectorAll('#live-overlay polygon').length,
    frames: Number(document.getElementById('live').dataset.frames || 0),
    busyMs: Number(document.getElementById('live').dataset.busyMs || 0),
    readMs: Number(document.getElementById('live').dataset.readMs || 0),
    size: [video.videoWidth, video.videoHeight],
    controls: ['torch', 'camera-choice'].filter((id) => !document.getElementById(id).hidden),
    boxOffered: !document.getElementById('box-section').hidden || !document.getElementById('stage').hidden,
    playing: !!video.srcObject };
})()`;

// With `ask`, the browser asks about the camera as it would a person (the test answers through
// the site's permission); otherwise its fake prompt allows every time.
async function withClip(root, clip, body, ask = false) {
  const browser = await launch([...(ask ? [] : ['--use-fake-ui-for-media-stream']), '--use-fake-device-for-media-stream',
    `--use-file-for-fake-video-capture=${join(root, 'test/clips', clip)}`]);
  try {
    return await body(browser);
  } finally {
    await browser.close();
  }
}

async function openLive(browser, base, language) {
  await browser.page('Emulation.setUserAgentOverride', { userAgent: 'scan39-test', acceptLanguage: language });
  await browser.page('Page.navigate', { url: `${base}?camera=1` });
  await browser.until(`document.readyState === 'complete' && ['live', 'error'].includes(document.body.dataset.state)`, 'the camera');
}

// Waits until every text is listed (or the time is up) and returns the page's live state.
async function listed(browser, texts) {
  const start = Date.now();
  for (;;) {
    const s = await browser.evaluate(liveState);
    if (texts.every((t) => s.texts.includes(t)) || Date.now() - start > LIVE_WAIT_MS) return s;
    await sleep(100);
  }
}

export async function cameraChecks({ root, base, check }) {
  const cases = [
    { clip: 'tilted.y4m', texts: ['SCAN39-LIVE'], language: 'en-US', rate: /^\d+ frames\/s$/ },
    { clip: 'two.y4m', texts: ['SCAN39-LIVE', 'PART-0042'], language: 'zh-CN', rate: /^\d+ 帧\/秒$/ },
  ];
  for (const { clip, texts, language, rate } of cases) {
    await withClip(root, clip, async (browser) => {
      await check(`the camera reads ${clip} live, each text listed once (${language})`, async () => {
        await openLive(browser, base, language);
        await listed(browser, texts);
        await sleep(1500);  // more frames of the same labels list nothing more
        const s = await browser.evaluate(liveState);
        // One fake camera, without a torch: neither control is offered.
        if (s.state !== 'live' || !rate.test(s.status) || s.boxOffered || s.controls.length || s.size.join('x') !== '1280x720'
          || s.texts.length !== texts.length || texts.some((t) => !s.texts.includes(t))
          || s.times.some((t) => !/\d:\d\d:\d\d/.test(t)) || !s.outlines) return JSON.stringify(s);
      });
      if (clip !== 'tilted.y4m') return;
      await check('frames read per second at 1280 × 720 (the clip plays 30)', async () => {
        const before = await browser.evaluate(liveState);
        const start = Date.now();
        await sleep(4000);
        const after = await browser.evaluate(liveState);
        const frames = after.frames - before.frames;
        const fps = frames * 1000 / (Date.now() - start);
        const per = (key) => ((after[key] - before[key]) / Math.max(1, frames)).toFixed(1);
        console.log(`     camera: ${fps.toFixed(1)} frames/s read at ${after.size.join(' × ')}, status "${after.status}"; `
          + `the worker ${per('busyMs')} ms a frame, of which the reader ${per('readMs')} ms`);
        if (!(fps > 0)) return 'no frame read';
      });
      await check('stopping the camera lets it go and returns to pictures', async () => {
        const tracks = await browser.evaluate(`(window.liveTracks = document.getElementById('video').srcObject.getTracks()).length`);
        await browser.evaluate(`document.getElementById('live-stop').click()`);
        const s = await browser.evaluate(liveState);
        const ended = await browser.evaluate(`liveTracks.every((t) => t.readyState === 'ended')`);
        if (s.state !== 'idle' || s.playing || !tracks || !ended || !s.boxOffered) return JSON.stringify({ ...s, ended });
      });
    });
  }

  const allow = (browser, setting) => browser.send('Browser.setPermission',
    { permission: { name: 'camera' }, setting, origin: base.replace(/\/$/, '') });
  await withClip(root, 'blank.y4m', async (browser) => {
    await check('a clip with no symbol lists nothing', async () => {
      await allow(browser, 'granted');
      await openLive(browser, base, 'en-US');
      await browser.until(`Number(document.getElementById('live').dataset.frames || 0) >= 20`, '20 frames read', LIVE_WAIT_MS);
      const s = await browser.evaluate(liveState);
      if (s.state !== 'live' || s.texts.length || s.outlines) return JSON.stringify(s);
    });
    await check('reading pauses while the tab is hidden and goes on when it is shown', async () => {
      // Headless tabs are never hidden: the page is told so the way a browser tells it.
      const hide = (hidden) => browser.evaluate(`Object.defineProperty(document, 'hidden', { configurable: true, get: () => ${hidden} }),
        document.dispatchEvent(new Event('visibilitychange'))`);
      await hide(true);
      await sleep(300);  // a frame with the worker when the tab was hidden still comes back
      const before = await browser.evaluate(liveState);
      await sleep(1000);
      const hidden = await browser.evaluate(liveState);
      await hide(false);
      await browser.until(`Number(document.getElementById('live').dataset.frames) > ${hidden.frames + 5}`, 'frames after showing');
      const shown = await browser.evaluate(liveState);
      if (hidden.frames !== before.frames || hidden.kind !== 'paused' || !/frames\/s$/.test(shown.status)) return JSON.stringify({ before, hidden, shown });
    });
    await check('a text counts once seen in two frames within a second, and is listed once', async () => {
      // Sightings at these times (ms) and whether the text counts as read after each.
      const sightings = [[0, false], [1001, false], [1900, true], [2100, true], [9000, true]];
      const got = await browser.evaluate(`${JSON.stringify(sightings)}.map(([t]) => sighted('ONCE-39', 1e6 + t))`);
      const texts = await browser.evaluate(`[...document.querySelectorAll('#symbols .text')].map((e) => e.textContent)`);
      if (got.join() !== sightings.map(([, l]) => l).join() || texts.join() !== 'ONCE-39') return JSON.stringify({ got, texts });
    });
    await check('a refused camera gets its message', async () => {
      await allow(browser, 'denied');
      await openLive(browser, base, 'en-US');
      const s = await browser.evaluate(liveState);
      if (s.state !== 'error' || s.kind !== 'refused' || !s.status.includes('permission was refused')) return JSON.stringify(s);
    });
  }, true);
}
