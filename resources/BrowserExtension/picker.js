// Zorvane's element picker, injected into the page by the service worker. The element under the
// pointer is outlined; a click picks it, Escape gives up. Injected again while running, it only
// keeps running.
(() => {
  'use strict';

  if (globalThis.__zorvanePicker) {
    globalThis.__zorvanePicker.start();
    return;
  }

  const HINT = 'Haz clic en un elemento para preguntarle a Zorvane · Esc para cancelar';
  const TITLE_LENGTH = 120;
  const NOTICE_MS = 3500;
  const BLOCKED = ['mousedown', 'mouseup', 'pointerdown', 'pointerup', 'dblclick', 'auxclick', 'contextmenu'];

  let host = null; // the element that holds our shadow tree; the page never styles inside it
  let outline = null;
  let hint = null;
  let candidate = null;
  let running = false;
  let noticeTimer = null;

  function build() {
    if (host && host.isConnected) return;
    host = document.createElement('zorvane-picker');
    host.setAttribute('data-zorvane-picker', '');
    host.style.cssText = 'all: initial; position: fixed; inset: 0; z-index: 2147483647; pointer-events: none;';
    const shadow = host.attachShadow({ mode: 'closed' });
    shadow.innerHTML = `
      <style>
        .outline { position: fixed; display: none; box-sizing: border-box; border: 2px solid #0a84ff;
                   border-radius: 3px; background: rgba(10, 132, 255, 0.12); pointer-events: none; }
        .hint { position: fixed; top: 12px; left: 50%; transform: translateX(-50%); max-width: 90vw;
                padding: 6px 14px; border-radius: 999px; background: rgba(28, 28, 30, 0.88); color: #fff;
                font: 500 13px/1.4 system-ui, sans-serif; white-space: nowrap; overflow: hidden;
                text-overflow: ellipsis; pointer-events: none; }
      </style>
      <div class="outline"></div>
      <div class="hint"></div>`;
    outline = shadow.querySelector('.outline');
    hint = shadow.querySelector('.hint');
    (document.documentElement || document.body).appendChild(host);
  }

  function remove() {
    clearTimeout(noticeTimer);
    noticeTimer = null;
    if (host) host.remove();
    host = outline = hint = null;
  }

  function show(element) {
    candidate = element;
    if (!outline) return;
    const box = element.getBoundingClientRect();
    if (box.width <= 0 || box.height <= 0) {
      outline.style.display = 'none';
      return;
    }
    Object.assign(outline.style, {
      display: 'block', left: `${box.left}px`, top: `${box.top}px`, width: `${box.width}px`, height: `${box.height}px`,
    });
  }

  function pageElement(event) {
    const element = event.target;
    return element instanceof Element && element !== host ? element : null;
  }

  function clean(text) {
    return (text || '').replace(/\s+/g, ' ').trim();
  }

  // The accessible name, the alternative text, the visible text; else the page's title.
  function titleOf(element) {
    let title = clean(element.getAttribute('aria-label'));
    if (!title) {
      const ids = clean(element.getAttribute('aria-labelledby'));
      if (ids) title = clean(ids.split(' ').map(id => (document.getElementById(id) || {}).textContent || '').join(' '));
    }
    if (!title && element.hasAttribute('alt')) title = clean(element.getAttribute('alt'));
    if (!title) title = clean(element.getAttribute('title'));
    if (!title) title = clean(element instanceof HTMLElement ? element.innerText : element.textContent);
    if (!title) title = clean(document.title);
    const characters = Array.from(title);
    return characters.length > TITLE_LENGTH ? characters.slice(0, TITLE_LENGTH - 1).join('').trimEnd() + '…' : title;
  }

  function onMove(event) {
    const element = pageElement(event);
    if (element && element !== candidate) show(element);
  }

  function swallow(event) {
    event.preventDefault();
    event.stopImmediatePropagation();
  }

  function onClick(event) {
    swallow(event);
    // A page cannot pick on the user's behalf with a synthetic click.
    if (!event.isTrusted || event.button !== 0) return;
    const element = pageElement(event) || candidate;
    if (!element) return;
    const box = element.getBoundingClientRect();
    if (box.width <= 0 || box.height <= 0) return;
    const picked = {
      type: 'zorvane-picked',
      rect: { x: box.left, y: box.top, width: box.width, height: box.height },
      viewport: { width: window.innerWidth, height: window.innerHeight },
      title: titleOf(element),
    };
    stop();
    // Let the page paint once without the outline before the tab is captured.
    afterRepaint(() => chrome.runtime.sendMessage(picked).catch(() => {}));
  }

  function onKey(event) {
    if (event.key !== 'Escape' || !event.isTrusted) return;
    swallow(event);
    stop();
    chrome.runtime.sendMessage({ type: 'zorvane-cancelled' }).catch(() => {});
  }

  function onViewportChange() {
    if (candidate && candidate.isConnected) show(candidate);
  }

  function afterRepaint(then) {
    let done = false;
    const once = () => {
      if (!done) {
        done = true;
        then();
      }
    };
    requestAnimationFrame(() => requestAnimationFrame(once));
    setTimeout(once, 250); // a page hidden meanwhile gets no animation frames
  }

  const listeners = [
    ['mousemove', onMove], ['mouseover', onMove], ['click', onClick], ['keydown', onKey],
    ['scroll', onViewportChange], ['resize', onViewportChange], ['pagehide', () => stop()],
    ...BLOCKED.map(type => [type, swallow]),
  ];

  function start() {
    clearTimeout(noticeTimer);
    noticeTimer = null;
    build();
    hint.textContent = HINT;
    if (running) return;
    running = true;
    candidate = null;
    for (const [type, listener] of listeners) window.addEventListener(type, listener, { capture: true });
  }

  function stop() {
    if (running) {
      running = false;
      for (const [type, listener] of listeners) window.removeEventListener(type, listener, { capture: true });
    }
    candidate = null;
    remove();
  }

  // A short message in place of the hint, for when picking is not possible.
  function notice(text) {
    stop();
    build();
    hint.textContent = text;
    noticeTimer = setTimeout(remove, NOTICE_MS);
  }

  globalThis.__zorvanePicker = { start, stop, notice, isRunning: () => running };
  start();
})();
