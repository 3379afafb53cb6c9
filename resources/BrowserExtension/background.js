// Zorvane's service worker. It keeps a native port to ZorvaneBrowserHost open (the host relays
// to the Zorvane application), runs the element picker in the active tab when the application,
// the toolbar button or the keyboard command asks, and sends back the picked element's crop.
'use strict';

const HOST_NAME = 'com.quenvar.zorvane';
const FIRST_RETRY_MS = 500;
const LONGEST_RETRY_MS = 10000;
// A port that stayed open this long reached the application; the next retry starts short again.
const SETTLED_MS = 5000;
const RECONNECT_ALARM = 'zorvane-reconnect';
const CAPTURE_ATTEMPTS = 3;
const CAPTURE_RETRY_MS = 600; // the browser allows about two captures a second

let port = null;
let portOpenedAt = 0;
let retryDelay = FIRST_RETRY_MS;
let retryTimer = null;
// The tab whose picker is running: { tabId, windowId, forApplication, shown }.
let picking = null;

// --- the native port -------------------------------------------------------------------------

function connect() {
  if (port) return;
  clearTimeout(retryTimer);
  retryTimer = null;
  let opened;
  try {
    opened = chrome.runtime.connectNative(HOST_NAME);
  } catch (error) {
    scheduleReconnect();
    return;
  }
  port = opened;
  portOpenedAt = Date.now();
  opened.onMessage.addListener(onApplicationMessage);
  opened.onDisconnect.addListener(() => {
    void chrome.runtime.lastError; // read, so the browser does not report it as unchecked
    if (port !== opened) return;
    port = null;
    if (Date.now() - portOpenedAt >= SETTLED_MS) retryDelay = FIRST_RETRY_MS;
    scheduleReconnect();
  });
}

function scheduleReconnect() {
  if (retryTimer !== null) return;
  retryTimer = setTimeout(() => {
    retryTimer = null;
    connect();
  }, retryDelay);
  retryDelay = Math.min(retryDelay * 2, LONGEST_RETRY_MS);
}

function post(message) {
  if (!port) return false;
  try {
    port.postMessage(message);
    return true;
  } catch (error) {
    return false;
  }
}

function onApplicationMessage(message) {
  if (!message || typeof message.type !== 'string') return;
  if (message.type === 'activate') {
    activeTab().then(tab => startPicker(tab, true));
  } else if (message.type === 'cancel') {
    stopPicker();
  }
}

// --- the picker --------------------------------------------------------------------------------

async function activeTab() {
  const [focused] = await chrome.tabs.query({ active: true, lastFocusedWindow: true });
  if (focused) return focused;
  const [any] = await chrome.tabs.query({ active: true });
  return any || null;
}

async function startPicker(tab, forApplication) {
  if (picking && (!tab || picking.tabId !== tab.id)) await stopPicker();
  if (!tab || tab.id === undefined) {
    if (forApplication) post({ type: 'cancel' });
    return;
  }
  if (!forApplication && !port) {
    // Picking would lead nowhere: say so in the page instead.
    await runInTab(tab.id, { files: ['picker.js'] });
    await runInTab(tab.id, { func: () => globalThis.__zorvanePicker && globalThis.__zorvanePicker.notice(
      'Zorvane no está abierto. Ábrelo y vuelve a intentarlo.') });
    return;
  }
  const attempt = { tabId: tab.id, windowId: tab.windowId, forApplication, shown: false };
  picking = attempt;
  const injected = await runInTab(tab.id, { files: ['picker.js'] });
  // Abandoned or replaced meanwhile: whoever did that has said so already.
  if (picking !== attempt) return;
  if (!injected) {
    // Pages the browser keeps for itself (settings, the web store) take no scripts.
    picking = null;
    if (forApplication) post({ type: 'cancel' });
    return;
  }
  attempt.shown = true;
  // The application gives a page a moment to show its picker before it opens its own overlay.
  if (forApplication) post({ type: 'pickerShown' });
}

async function stopPicker() {
  const current = picking;
  picking = null;
  if (current) await runInTab(current.tabId, { func: () => globalThis.__zorvanePicker && globalThis.__zorvanePicker.stop() });
}

async function runInTab(tabId, what) {
  try {
    await chrome.scripting.executeScript({ target: { tabId }, ...what });
    return true;
  } catch (error) {
    return false;
  }
}

// The picker is gone with its page; only the application, if it asked, needs to hear of it.
function abandonPicking(tabId) {
  if (!picking || picking.tabId !== tabId) return;
  const { forApplication } = picking;
  picking = null;
  if (forApplication) post({ type: 'cancel' });
}

chrome.runtime.onMessage.addListener((message, sender) => {
  if (sender.id !== chrome.runtime.id || !sender.tab || !message) return;
  // After a restart of this worker nothing is remembered; a picker that answers is still ours.
  if (picking && picking.tabId !== sender.tab.id) return;
  const windowId = picking ? picking.windowId : sender.tab.windowId;
  const forApplication = picking ? picking.forApplication : true;
  picking = null;
  if (message.type === 'zorvane-picked') deliverSelection(windowId, message);
  else if (message.type === 'zorvane-cancelled' && forApplication) post({ type: 'cancel' });
});

// The browser reports a tab's loading late, at times after the picker came into the loaded page:
// only a page that has finished loading without a running picker has lost it.
async function checkPickerAfterLoad(tabId) {
  const current = picking;
  if (!current || current.tabId !== tabId || !current.shown) return;
  let running = false;
  try {
    const [result] = await chrome.scripting.executeScript({
      target: { tabId },
      func: () => !!(globalThis.__zorvanePicker && globalThis.__zorvanePicker.isRunning()),
    });
    running = !!(result && result.result);
  } catch (error) {
    running = false;
  }
  if (!running && picking === current) abandonPicking(tabId);
}

chrome.tabs.onRemoved.addListener(tabId => abandonPicking(tabId));
chrome.tabs.onUpdated.addListener((tabId, change) => {
  if (change.status === 'complete') checkPickerAfterLoad(tabId);
});
chrome.tabs.onActivated.addListener(({ tabId }) => {
  if (!picking || picking.tabId === tabId) return;
  const { forApplication } = picking;
  stopPicker();
  if (forApplication) post({ type: 'cancel' });
});

chrome.action.onClicked.addListener(tab => startPicker(tab, false));
chrome.commands.onCommand.addListener((command, tab) => {
  if (command !== 'select-element') return;
  if (tab) startPicker(tab, false);
  else activeTab().then(found => startPicker(found, false));
});

// --- the crop ----------------------------------------------------------------------------------

async function deliverSelection(windowId, picked) {
  const selectionID = crypto.randomUUID();
  const title = typeof picked.title === 'string' && picked.title ? picked.title : undefined;
  post(title ? { type: 'selectionStarted', selectionID, title } : { type: 'selectionStarted', selectionID });
  try {
    const imageBase64 = await cropToElement(await captureVisibleTab(windowId), picked.rect, picked.viewport);
    post(title ? { type: 'selection', selectionID, imageBase64, title } : { type: 'selection', selectionID, imageBase64 });
  } catch (error) {
    // The application is waiting for this crop; release it.
    post({ type: 'cancel' });
  }
}

async function captureVisibleTab(windowId) {
  for (let attempt = 1; ; attempt++) {
    try {
      return await chrome.tabs.captureVisibleTab(windowId, { format: 'png' });
    } catch (error) {
      if (attempt >= CAPTURE_ATTEMPTS) throw error;
      await new Promise(resolve => setTimeout(resolve, CAPTURE_RETRY_MS));
    }
  }
}

// The capture is of the whole viewport in device pixels; the rectangle is in CSS pixels.
async function cropToElement(dataUrl, rect, viewport) {
  const bitmap = await createImageBitmap(await (await fetch(dataUrl)).blob());
  try {
    const scale = bitmap.width / viewport.width;
    const left = Math.max(0, Math.round(rect.x * scale));
    const top = Math.max(0, Math.round(rect.y * scale));
    const right = Math.min(bitmap.width, Math.round((rect.x + rect.width) * scale));
    const bottom = Math.min(bitmap.height, Math.round((rect.y + rect.height) * scale));
    if (!(right > left && bottom > top)) throw new Error('the element is outside the visible page');
    const width = right - left;
    const height = bottom - top;
    const canvas = new OffscreenCanvas(width, height);
    canvas.getContext('2d').drawImage(bitmap, left, top, width, height, 0, 0, width, height);
    const png = await canvas.convertToBlob({ type: 'image/png' });
    return base64(new Uint8Array(await png.arrayBuffer()));
  } finally {
    bitmap.close();
  }
}

function base64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// --- start -------------------------------------------------------------------------------------

// The alarm wakes this worker now and then, so an application started later is found.
chrome.alarms.create(RECONNECT_ALARM, { periodInMinutes: 0.5 });
chrome.alarms.onAlarm.addListener(alarm => {
  if (alarm.name === RECONNECT_ALARM) connect();
});

connect();
