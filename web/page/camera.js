// Live reading from the camera. Loaded before app.js (whose texts take these in) and started
// once app.js has run: it shares app.js's worker, status line and symbol list.
'use strict';

const CAMERA_TEXTS = {
  zh: {
    liveStart: '摄像头',
    liveStop: '关闭摄像头',
    torch: '补光灯',
    cameraChoice: '选择摄像头',
    sound: '提示音',
    liveStarting: '正在打开摄像头…',
    rate: (n) => `${n} 帧/秒`,
    livePaused: '页面不可见，已暂停读取。',
    firstSeen: (time) => `首次读到：${time}`,
    refused: '无法使用摄像头：访问被拒绝。请在浏览器的网站设置中允许本页使用摄像头，然后再试。',
    noCamera: '没有找到摄像头。',
    cameraBusy: '摄像头无法打开，可能正被其他程序使用。',
    noLive: '此浏览器不能在本页使用摄像头（需要 HTTPS 或本机地址）。可以改用“打开图片”。',
    cameraFailed: (name) => `摄像头无法打开（${name}）。`,
  },
  en: {
    liveStart: 'Camera',
    liveStop: 'Stop camera',
    torch: 'Torch',
    cameraChoice: 'Choose a camera',
    sound: 'Beep',
    liveStarting: 'Opening the camera…',
    rate: (n) => `${n} frames/s`,
    livePaused: 'The page is hidden: reading paused.',
    firstSeen: (time) => `first seen ${time}`,
    refused: 'The camera cannot be used: permission was refused. Allow this page to use the camera in the browser\'s site settings, then try again.',
    noCamera: 'No camera was found.',
    cameraBusy: 'The camera cannot be opened; another program may be using it.',
    noLive: 'This browser offers no camera to this page (it needs HTTPS or a local address). Open a picture instead.',
    cameraFailed: (name) => `The camera cannot be opened (${name}).`,
  },
};

// A text is listed once it is read in two frames within this time, so that a single misread
// frame never lists.
const CONFIRM_MS = 1000;

const live = {
  stream: null,
  track: null,
  generation: 0,   // answers for an earlier start are dropped
  busy: false,     // a frame is with the worker
  waiting: null,   // the newest frame captured meanwhile; older ones are closed
  capturing: false,
  noVideoFrame: false,
  lastTimestamp: null,
  seen: new Map(), // text -> { first, last, listed }
  reads: [],       // when the last second's frames were read
  frames: 0,       // frames read since the start, and the worker's time on them in ms (all,
  busyMs: 0,       // and the reader's part): for the tests' figures
  readMs: 0,
  audio: null,
};

function cameraError(e) {
  const name = e && e.name;
  if (name === 'NotAllowedError' || name === 'SecurityError' || name === 'PermissionDeniedError')
    return ['refused', T.refused];
  if (name === 'NotFoundError' || name === 'OverconstrainedError' || name === 'DevicesNotFoundError')
    return ['noCamera', T.noCamera];
  if (name === 'NotReadableError' || name === 'TrackStartError' || name === 'AbortError')
    return ['cameraBusy', T.cameraBusy];
  return ['cameraFailed', T.cameraFailed(name || String(e))];
}

async function startCamera(deviceId) {
  stopCamera();
  closePicture();
  const generation = live.generation;
  if (!deviceId) {  // a fresh start; another camera keeps the list
    live.seen.clear();
    $('symbols').replaceChildren();
  }
  $('hint').hidden = true;
  $('box-section').hidden = true;
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    showPictures();
    setState('error', T.noLive, 'noLive');
    return;
  }
  setState('busy', T.liveStarting);
  const size = { width: { ideal: 1280 }, height: { ideal: 720 } };
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({ audio: false,
      video: deviceId ? { deviceId: { exact: deviceId }, ...size } : { facingMode: { ideal: 'environment' }, ...size } });
  } catch (e) {
    if (generation !== live.generation) return;
    showPictures();
    const [kind, text] = cameraError(e);
    setState('error', text, kind);
    return;
  }
  if (generation !== live.generation) {  // stopped or restarted while the browser asked
    for (const track of stream.getTracks()) track.stop();
    return;
  }
  live.stream = stream;
  live.track = stream.getVideoTracks()[0];
  live.track.addEventListener('ended', () => live.stream === stream && stopCamera(true));
  const video = $('video');
  video.srcObject = stream;
  $('live').hidden = false;
  $('live-controls').hidden = false;
  $('live-start').hidden = true;
  document.querySelector('.zoom').hidden = true;  // the video fits the viewer by itself
  try {
    await video.play();
  } catch (e) { /* the frame loop waits for frames either way */ }
  if (generation !== live.generation) return;
  $('live-overlay').setAttribute('viewBox', `0 0 ${video.videoWidth} ${video.videoHeight}`);
  setState('live', T.rate(0));
  offerTorch();
  offerCameras().catch(() => {});
  watchFrames(generation);
}

// Stops reading and lets the camera go (its light goes off). With `back`, the page returns to
// pictures.
function stopCamera(back = true) {
  live.generation++;
  if (live.stream) for (const track of live.stream.getTracks()) track.stop();
  const wasLive = !!live.stream;
  live.stream = live.track = null;
  if (live.waiting) live.waiting.close();
  live.waiting = null;
  live.busy = false;
  live.reads = [];
  const video = $('video');
  video.pause();
  video.srcObject = null;
  $('live-overlay').replaceChildren();
  $('live').hidden = true;
  $('live-controls').hidden = true;
  $('live-start').hidden = false;
  document.querySelector('.zoom').hidden = false;
  $('torch').hidden = true;
  $('torch').setAttribute('aria-pressed', 'false');
  $('box-section').hidden = false;
  if (wasLive && back) {
    showPictures();
    setState('idle', T.ready);
  }
}

function showPictures() {
  $('live').hidden = true;
  $('hint').hidden = false;
}

function offerTorch() {
  const torch = $('torch');
  const capabilities = live.track.getCapabilities ? live.track.getCapabilities() : {};
  torch.hidden = !capabilities.torch;
  torch.setAttribute('aria-pressed', 'false');
}

async function offerCameras() {
  const choice = $('camera-choice');
  const cameras = (await navigator.mediaDevices.enumerateDevices()).filter((d) => d.kind === 'videoinput');
  const current = live.track && live.track.getSettings().deviceId;
  choice.replaceChildren(...cameras.map((d, i) => {
    const option = new Option(d.label || `${T.liveStart} ${i + 1}`, d.deviceId);
    option.selected = d.deviceId === current;
    return option;
  }));
  choice.hidden = cameras.length < 2;
}

// Every new video frame is taken as a VideoFrame (or, where there is none, an ImageBitmap): no
// pixels are read on this thread. The worker gets one frame at a time; one that comes while it
// is busy waits, replacing any older one still waiting.
function watchFrames(generation) {
  const video = $('video');
  const next = () => {
    if (generation !== live.generation) return;
    if (video.requestVideoFrameCallback) video.requestVideoFrameCallback(onFrame);
    else requestAnimationFrame(onFrame);
  };
  const onFrame = () => {
    next();
    if (!document.hidden && video.readyState >= 2) capture(generation);
  };
  next();
}

async function capture(generation) {
  let frame = null;
  if (typeof VideoFrame === 'function' && !live.noVideoFrame) {
    try {
      frame = new VideoFrame($('video'));
    } catch (e) {
      live.noVideoFrame = true;
    }
  }
  if (!frame) {
    if (live.capturing) return;
    live.capturing = true;
    try {
      frame = await createImageBitmap($('video'));
    } catch (e) {
      return;  // no frame yet
    } finally {
      live.capturing = false;
    }
  }
  // Where frames are taken at the screen's pace (no requestVideoFrameCallback), one camera frame
  // may come twice: read twice, a misread would count as two sightings.
  const repeated = frame.timestamp !== undefined && frame.timestamp === live.lastTimestamp;
  if (generation !== live.generation || document.hidden || repeated) { frame.close(); return; }
  if (frame.timestamp !== undefined) live.lastTimestamp = frame.timestamp;
  if (live.busy) {
    if (live.waiting) live.waiting.close();
    live.waiting = frame;
  } else {
    send(frame);
  }
}

function send(frame) {
  live.busy = true;
  worker.postMessage({ type: 'frame', live: live.generation, frame, options: options() }, [frame]);
}

function onFrameRead(event) {
  const m = event.data;
  if (m.type !== 'frame' || m.live !== live.generation) return;
  live.busy = false;
  if (live.waiting) {
    const frame = live.waiting;
    live.waiting = null;
    send(frame);
  }
  if (m.error) return;  // the worker starts a fresh module; the next frame goes on
  const now = performance.now();
  live.frames++;
  live.busyMs += m.ms;
  live.readMs += m.readMs;
  Object.assign($('live').dataset, { frames: live.frames, busyMs: Math.round(live.busyMs), readMs: Math.round(live.readMs) });
  live.reads.push(now);
  while (live.reads[0] < now - 1000) live.reads.shift();
  if (document.body.dataset.state === 'live' && !document.hidden) $('status').textContent = T.rate(live.reads.length);
  const listed = m.symbols.map((s) => sighted(s.text, now));
  drawOutlines(m.symbols, listed, m.width, m.height);
}

function sighted(text, now) {
  const seen = live.seen.get(text);
  if (!seen) {
    live.seen.set(text, { first: Date.now(), last: now, listed: false });
    return false;
  }
  if (!seen.listed && now - seen.last <= CONFIRM_MS) {
    seen.listed = true;
    list(text, seen.first);
    signal();
  }
  seen.last = now;
  return seen.listed;
}

function list(text, first) {
  const li = document.createElement('li');
  li.className = 'symbol';
  const span = document.createElement('span');
  span.className = 'text';
  span.textContent = text;
  const copy = document.createElement('button');
  copy.type = 'button';
  copy.textContent = T.copy;
  copy.onclick = async () => {
    try { await navigator.clipboard.writeText(text); copy.textContent = T.copied; } catch (e) { /* no clipboard access */ }
  };
  const meta = document.createElement('div');
  meta.className = 'meta';
  const time = document.createElement('time');
  time.dateTime = new Date(first).toISOString();
  time.textContent = new Date(first).toLocaleTimeString(document.documentElement.lang);
  meta.append(T.firstSeen(''), time);
  li.append(span, copy, meta);
  $('symbols').append(li);
}

// A short beep and a buzz for each new text, unless muted.
function signal() {
  if (!$('sound').checked) return;
  if (navigator.vibrate) navigator.vibrate(60);
  const audio = live.audio;
  if (!audio || audio.state !== 'running') return;
  const tone = audio.createOscillator(), gain = audio.createGain();
  tone.frequency.value = 1760;
  gain.gain.setValueAtTime(0.15, audio.currentTime);
  gain.gain.exponentialRampToValueAtTime(0.001, audio.currentTime + 0.12);
  tone.connect(gain).connect(audio.destination);
  tone.start();
  tone.stop(audio.currentTime + 0.12);
}

function drawOutlines(found, listed, width, height) {
  const overlay = $('live-overlay');
  overlay.setAttribute('viewBox', `0 0 ${width} ${height}`);
  overlay.replaceChildren(...found.map((s, i) => {
    const g = symbolOutline(s.position, s.text, 8);
    if (!listed[i]) g.setAttribute('class', 'pending');
    g.querySelector('text').setAttribute('font-size', Math.max(16, width / 45));
    return g;
  }));
}

document.addEventListener('DOMContentLoaded', () => {
  worker.addEventListener('message', onFrameRead);
  $('live-start').addEventListener('click', () => {
    // Sound may only start from a click; a camera opened by the link stays silent.
    if (!live.audio && window.AudioContext) live.audio = new AudioContext();
    if (live.audio) live.audio.resume().catch(() => {});
    startCamera();
  });
  $('live-stop').addEventListener('click', () => stopCamera());
  $('camera-choice').addEventListener('change', (e) => startCamera(e.target.value));
  $('torch').addEventListener('click', async () => {
    const torch = $('torch');
    const on = torch.getAttribute('aria-pressed') !== 'true';
    try {
      await live.track.applyConstraints({ advanced: [{ torch: on }] });
      torch.setAttribute('aria-pressed', String(on));
    } catch (e) { /* the torch went away with the camera */ }
  });
  // The sound choice is remembered where the browser lets the page store it.
  try { $('sound').checked = localStorage.getItem('scan39-sound') !== 'off'; } catch (e) { /* not stored */ }
  $('sound').addEventListener('change', () => {
    try { localStorage.setItem('scan39-sound', $('sound').checked ? 'on' : 'off'); } catch (e) { /* not stored */ }
  });
  document.addEventListener('visibilitychange', () => {
    if (!live.stream) return;
    if (document.hidden) {
      if (live.waiting) live.waiting.close();
      live.waiting = null;
      live.reads = [];
      setState('live', T.livePaused, 'paused');
    } else {
      $('video').play().catch(() => {});
      setState('live', T.rate(0));
    }
  });
  // The camera is let go when the page is left, and kept off while it sits in the back-forward cache.
  window.addEventListener('pagehide', () => stopCamera(false));
  if (new URLSearchParams(location.search).get('camera') === '1') startCamera();
});
