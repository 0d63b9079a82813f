// The page side of the Home window's bridge, shared by every page.
//
// The program calls global functions (window.orvoState and friends) with one
// argument; each is turned into an event on a named channel so that any part of
// a page can listen. The page asks for things by posting {action, ...fields}
// to the "orvo" message handler. Everything else here is small DOM help that
// keeps untrusted text (transcripts, app names, e-mail) out of HTML parsing.
(function () {
  'use strict';

  const listeners = new Map();
  const latest = new Map();

  function on(channel, listener) {
    if (!listeners.has(channel)) listeners.set(channel, []);
    listeners.get(channel).push(listener);
    if (latest.has(channel)) listener(latest.get(channel));
  }

  function emit(channel, value) {
    latest.set(channel, value);
    for (const listener of listeners.get(channel) || []) {
      try {
        listener(value);
      } catch (error) {
        // One broken view must not stop the others from updating.
        console.error(error);
      }
    }
  }

  function last(channel) {
    return latest.get(channel);
  }

  function post(action, fields) {
    const body = Object.assign({}, fields || {}, { action: action });
    const handlers = window.webkit && window.webkit.messageHandlers;
    if (handlers && handlers.orvo) handlers.orvo.postMessage(body);
  }

  function isObject(value) {
    return value !== null && typeof value === 'object' && !Array.isArray(value);
  }

  // Page functions. Each takes the program's argument as it arrives; anything
  // that is not the expected shape becomes an empty object so views stay calm.
  window.orvoState = function (state) {
    state = isObject(state) ? state : {};
    emit('state', state);
    if (isObject(state.live)) emit('live', state.live);
  };
  window.orvoLive = function (live) {
    emit('live', isObject(live) ? live : {});
  };
  window.orvoUsage = function (usage) {
    emit('usage', isObject(usage) ? usage : {});
  };
  window.orvoBilling = function (billing) {
    emit('billing', isObject(billing) ? billing : {});
  };
  window.orvoBillingNote = function (note) {
    emit('billingNote', isObject(note) ? note : {});
  };
  window.orvoAuth = function (note) {
    emit('auth', isObject(note) ? note : {});
  };
  window.orvoCapture = function (note) {
    emit('capture', isObject(note) ? note : {});
  };
  window.orvoLevel = function (level) {
    const value = Number(level);
    emit('level', Number.isFinite(value) ? Math.min(1, Math.max(0, value)) : 0);
  };
  window.orvoSymbols = function (symbols) {
    symbolURLs = isObject(symbols) ? symbols : {};
    applySymbols(document);
    emit('symbols', symbolURLs);
  };
  window.orvoDictated = function (info) {
    emit('dictated', isObject(info) ? info : {});
  };
  window.orvoInsert = function (payload) {
    payload = isObject(payload) ? payload : {};
    emit('insert', {
      text: typeof payload.text === 'string' ? payload.text : '',
      mode: typeof payload.mode === 'string' ? payload.mode : 'plain',
    });
  };

  // ---- DOM help -----------------------------------------------------------

  // h('button', {class: 'x', onclick: fn, type: 'button'}, 'Label', child)
  // Strings are always added as text nodes, never parsed.
  function h(tag, props, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(props || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (name === 'class') node.className = value;
      else if (name === 'text') node.textContent = value;
      else if (name.startsWith('on') && typeof value === 'function') {
        node.addEventListener(name.slice(2), value);
      } else if (name === 'checked' || name === 'value' || name === 'disabled') {
        node[name] = value;
      } else node.setAttribute(name, value === true ? '' : String(value));
    }
    append(node, children);
    return node;
  }

  function append(node, children) {
    for (const child of children.flat(Infinity)) {
      if (child === null || child === undefined || child === false) continue;
      node.appendChild(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
    return node;
  }

  // ---- Symbols ------------------------------------------------------------

  let symbolURLs = {};

  // Only image data URLs are used, and only inside url("..."), so a strange
  // value cannot break out of the style declaration.
  function safeImageURL(url) {
    return typeof url === 'string' && /^data:image\/[a-z+.-]+;base64,[A-Za-z0-9+/=]+$/i.test(url)
      ? url
      : null;
  }

  function paintSymbol(node) {
    const url = safeImageURL(symbolURLs[node.dataset.symbol]);
    if (url) {
      node.style.setProperty('--symbol', 'url("' + url + '")');
      node.classList.add('has-image');
    } else {
      node.style.removeProperty('--symbol');
      node.classList.remove('has-image');
    }
  }

  function applySymbols(root) {
    root.querySelectorAll('[data-symbol]').forEach(paintSymbol);
  }

  // A glyph tinted with the text colour; until the images arrive it keeps its
  // space as a soft dot so the layout does not jump.
  function symbol(name, extraClass) {
    const node = h('span', {
      class: 'symbol' + (extraClass ? ' ' + extraClass : ''),
      'data-symbol': name,
      'aria-hidden': 'true',
    });
    paintSymbol(node);
    return node;
  }

  // An application's icon, or its initial on a tile when there is none.
  function appIcon(icons, bundle, name) {
    const url = isObject(icons) ? safeImageURL(icons[bundle]) : null;
    if (url) return h('img', { class: 'app-icon', src: url, alt: '' });
    const initial = (String(name || bundle || '?').trim()[0] || '?').toUpperCase();
    return h('span', { class: 'app-icon app-icon-fallback', 'aria-hidden': 'true' }, initial);
  }

  // ---- Wiring by markup -----------------------------------------------------

  // Buttons that post an action without fields: <button data-action="openLog">.
  function bindActionButtons(root) {
    root.querySelectorAll('[data-action]').forEach((button) => {
      button.addEventListener('click', () => post(button.dataset.action));
    });
  }

  // Configuration switches: <input type="checkbox" data-bool="cleanup">.
  // Number fields: <input type="number" data-number="maxRecordSeconds">.
  // Text settings: <input data-text="cleanupModel">, <select data-text="cleanupProvider">.
  function bindSettings(root) {
    const switches = root.querySelectorAll('input[data-bool]');
    const numbers = root.querySelectorAll('input[data-number]');
    const texts = root.querySelectorAll('[data-text]');
    texts.forEach((input) => {
      input.addEventListener('change', () => {
        input.dataset.sent = 'true';
        post('set', { key: input.dataset.text, text: input.value.trim() });
      });
    });
    switches.forEach((input) => {
      input.addEventListener('change', () => {
        post('set', { key: input.dataset.bool, bool: input.checked });
      });
    });
    numbers.forEach((input) => {
      input.addEventListener('change', () => {
        const value = Number(input.value);
        if (input.value.trim() !== '' && Number.isFinite(value)) {
          // The answer shows the value as the configuration takes it (clamped).
          input.dataset.sent = 'true';
          post('set', { key: input.dataset.number, number: value });
        }
      });
    });
    on('state', (state) => {
      const cfg = isObject(state.cfg) ? state.cfg : {};
      switches.forEach((input) => {
        if (typeof cfg[input.dataset.bool] === 'boolean') input.checked = cfg[input.dataset.bool];
      });
      // A field being edited keeps its text, unless the push answers what it sent.
      const settle = (input, value) => {
        if (document.activeElement !== input || input.dataset.sent) input.value = value;
        delete input.dataset.sent;
      };
      numbers.forEach((input) => {
        const value = cfg[input.dataset.number];
        if (typeof value === 'number') settle(input, value);
      });
      texts.forEach((input) => {
        const value = cfg[input.dataset.text];
        if (typeof value === 'string') settle(input, value);
      });
    });
  }

  // The window has no title bar of its own: the page's top strip moves it.
  function bindTitleBar(strip) {
    strip.addEventListener('mousedown', (event) => {
      if (event.button !== 0 || event.detail > 1) return;
      if (event.target.closest('button, input, select, textarea, a')) return;
      post('dragWindow');
    });
    strip.addEventListener('dblclick', (event) => {
      if (event.target.closest('button, input, select, textarea, a')) return;
      post('titleBarDoubleClick');
    });
  }

  // Dictated text handed to the page goes where the user is typing, or to a
  // fallback field. A space separates it from a word right before the caret.
  function insertText(text, fallback) {
    const active = document.activeElement;
    const editable = (node) =>
      node &&
      !node.disabled &&
      !node.readOnly &&
      (node.tagName === 'TEXTAREA' ||
        (node.tagName === 'INPUT' && /^(text|email|search|url|)$/.test(node.type)));
    const target = editable(active) ? active : fallback;
    if (!editable(target) || !text) return null;
    const start = target.selectionStart ?? target.value.length;
    const end = target.selectionEnd ?? start;
    const before = target.value.slice(0, start);
    const joined = before && !/\s$/.test(before) && !/^\s/.test(text) ? ' ' + text : text;
    target.setRangeText(joined, start, end, 'end');
    target.dispatchEvent(new Event('input', { bubbles: true }));
    return target;
  }

  function show(node, visible) {
    node.hidden = !visible;
  }

  function setNote(node, note, bad) {
    node.textContent = note || '';
    node.classList.toggle('bad', !!bad && !!note);
    node.hidden = !note;
  }

  const numberFormat = new Intl.NumberFormat('en');
  function count(n, singular, plural) {
    const value = Number(n) || 0;
    return numberFormat.format(value) + ' ' + (value === 1 ? singular : plural || singular + 's');
  }

  const modeNames = { prompt: 'Prompt', email: 'Email', message: 'Message', note: 'Notes' };
  function modeName(mode) {
    return modeNames[mode] || 'Dictate';
  }

  window.Velvox = {
    on,
    emit,
    last,
    post,
    isObject,
    h,
    append,
    clear,
    symbol,
    appIcon,
    applySymbols,
    safeImageURL,
    bindActionButtons,
    bindSettings,
    bindTitleBar,
    insertText,
    show,
    setNote,
    count,
    formatNumber: (n) => numberFormat.format(Number(n) || 0),
    modeName,
  };

  document.addEventListener('DOMContentLoaded', () => {
    applySymbols(document);
    post('ready');
  });
})();
