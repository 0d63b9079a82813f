// The pushes the program sends, as the unit test PageContractTest recorded
// them from the real code (pushes.json), for the page tests to send again.
'use strict';

const recorded = require('./pushes.json');

const copy = (value) => JSON.parse(JSON.stringify(value));

// The argument of a recorded push, e.g. argument('usage.signedIn').
function argument(name) {
  if (!recorded.pushes[name]) throw new Error('no recorded push ' + name);
  return copy(recorded.pushes[name][1]);
}

// The recorded state (or the one named `from`), with icons and fields replaced.
function state(options = {}) {
  const base = argument(options.from || 'state');
  if (options.icons) base.icons = options.icons;
  return Object.assign(base, options.overrides || {});
}

function live(overrides = {}) {
  return Object.assign(argument('live'), overrides);
}

const HOSTILE = '<img src=x onerror="window.__pwned=1"><b>bold</b>';

// Every recorded push as [function, argument] (an object is sent as JSON, a
// string as the literal argument text), then hostile text, outside addresses
// and strange shapes, which the pages must tolerate.
function pushes() {
  const now = recorded.now;
  const cfg = argument('state').cfg;
  return Object.values(recorded.pushes).map(copy).concat([
    ['orvoState', state({
      overrides: {
        recent: [{ at: now, app: HOSTILE, bundle: 'x', mode: 'plain', words: 3, text: HOSTILE }],
        smartApps: [{ bundle: 'x', app: HOSTILE, kind: 'Prompt', count: 1, last: now }],
        appNames: [{ bundle: 'com.anthropic.claudefordesktop', name: HOSTILE }],
        context: HOSTILE,
        cfg: Object.assign(cfg, { vocabulary: [HOSTILE], corrections: { [HOSTILE]: HOSTILE } }),
        inputDevices: [{ name: 'x', label: HOSTILE }, { label: 'no name' }, 7],
      },
    })],
    ['orvoUsage', Object.assign(argument('usage.signedIn'), { email: HOSTILE, plan: HOSTILE })],
    ['orvoBilling', { plan: HOSTILE, status: HOSTILE }],
    ['orvoDictated', { text: HOSTILE, words: 1, seconds: 1, wpm: 60, mode: HOSTILE }],
    ['orvoInsert', { text: HOSTILE, mode: HOSTILE }],
    ['orvoAuth', { note: HOSTILE, bad: true, busy: false }],
    ['orvoCapture', { note: HOSTILE, bad: true }],
    ['orvoBillingNote', { note: HOSTILE }],
    ['orvoLevel', '0.5'],
    // Only image data may become a symbol: not an outside address, nor a way out of url("…").
    ['orvoSymbols', { keyboard: 'https://example.invalid/x.png', waveform: 'data:image/png;base64,AAAA") ; background: url("https://example.invalid/x' }],
    ['orvoState', '{}'],
    ['orvoUsage', '[]'],
    ['orvoLevel', 'NaN'],
    ['orvoSymbols', 'null'],
    ['orvoLive', '"ready"'],
  ]);
}

module.exports = { recorded, argument, state, live, pushes, HOSTILE };
