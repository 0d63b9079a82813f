// The pushes the program sends, as the unit test PageContractTest recorded
// them from the real code (pushes.json), for the page tests to send again.
'use strict';

const recorded = require('./pushes.json');

const copy = (value) => JSON.parse(JSON.stringify(value));

// The argument of a recorded push, e.g. argument('usage.signedIn'), with fields replaced.
function argument(name, overrides) {
  if (!recorded.pushes[name]) throw new Error('no recorded push ' + name);
  const value = copy(recorded.pushes[name][1]);
  return overrides ? Object.assign(value, overrides) : value;
}
// The recorded state with its configuration's fields replaced.
const withCfg = (name, cfg) => { const state = argument(name); Object.assign(state.cfg, cfg); return state; };

const HOSTILE = '<img src=x onerror="window.__pwned=1"><b>bold</b>';

// Every recorded push as [function, argument] (an object is sent as JSON, a
// string as the literal argument text), then hostile text, outside addresses
// and strange shapes, which the pages must tolerate.
function pushes() {
  const now = recorded.now;
  return Object.values(recorded.pushes).map(copy).concat([
    ['orvoState', argument('state', {
      recent: [{ at: now, app: HOSTILE, bundle: 'x', mode: 'plain', words: 3, text: HOSTILE }],
      smartApps: [{ bundle: 'x', app: HOSTILE, kind: 'Prompt', count: 1, last: now }],
      appNames: [{ bundle: 'com.anthropic.claudefordesktop', name: HOSTILE }],
      context: HOSTILE,
      cfg: Object.assign(argument('state').cfg, { vocabulary: [HOSTILE], corrections: { [HOSTILE]: HOSTILE } }),
      inputDevices: [{ name: 'x', label: HOSTILE }, { label: 'no name' }, 7],
    })],
    ['orvoUsage', argument('usage.signedIn', { email: HOSTILE, plan: HOSTILE })],
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

module.exports = { recorded, argument, withCfg, pushes };
