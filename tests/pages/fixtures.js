// Pushes shaped like the program's: the state object, the live object, usage
// and billing answers. Built around "now" so day and time labels are real.
'use strict';

const DAY = 86400;

function live(overrides = {}) {
  return Object.assign(
    {
      mic: true,
      ax: true,
      axAvailable: true,
      tap: true,
      hasKey: true,
      ownKey: false,
      signedIn: true,
      ready: true,
      fnDead: false,
      status: 'Ready',
      mainKey: 63,
      mainKeyName: 'fn',
      boostKeyName: 'right alt',
      keySource: 'x11',
      desktopNotes: [],
    },
    overrides
  );
}

function localMidnight(daysAgo) {
  const date = new Date();
  date.setHours(0, 0, 0, 0);
  date.setDate(date.getDate() - daysAgo);
  return Math.floor(date.getTime() / 1000);
}

function summary(days, seed) {
  const perDay = Array.from({ length: days }, (_, i) => ((i * 37 + seed) % 11) * 45 + (i % 4 === 0 ? 0 : 60));
  const perHour = Array.from({ length: 24 }, (_, h) => (h >= 8 && h <= 19 ? ((h * 53 + seed) % 9) * 40 + 30 : h === 22 ? 25 : 0));
  return {
    empty: false,
    days,
    dictations: 41 * seed,
    words: 5230 * seed,
    seconds: 1900 * seed,
    wpm: 148,
    minutesSaved: 97 * seed,
    perDay,
    perHour,
    apps: [
      { name: 'Mail', words: 1900 * seed },
      { name: 'Slack', words: 1200 * seed },
      { name: 'Claude', words: 900 * seed },
      { name: 'Code', words: 400 * seed },
    ],
    modes: [
      { name: 'Dictate', words: 2500 * seed },
      { name: 'Email', words: 1500 * seed },
      { name: 'Prompt', words: 900 * seed },
      { name: 'Dictate', words: 100 * seed },
    ],
    startDay: localMidnight(days - 1),
  };
}

function recent(now) {
  return [
    { at: now - 300, app: 'Mail', bundle: 'org.gnome.Evolution', mode: 'email', words: 54, text: 'Hi Sam, thanks for the draft. I have two small changes to the pricing section; could we go over them tomorrow morning?' },
    { at: now - 3600, app: 'Claude', bundle: 'com.anthropic.claudefordesktop', mode: 'prompt', words: 31, text: 'Rewrite the onboarding copy so each step fits on one line and keeps the friendly tone.' },
    { at: now - DAY, app: 'Slack', bundle: 'com.slack.Slack', mode: 'plain', words: 12, text: 'On my way, five minutes.' },
    { at: now - DAY - 4000, app: 'Notes', bundle: '', mode: 'note', words: 20, text: 'Ideas for the retreat: hiking, a cooking class, no laptops after six.' },
  ];
}

function state(options = {}) {
  const now = Math.floor(Date.now() / 1000);
  return Object.assign(
    {
      version: '1.4.0',
      theme: 'system',
      build: '2024-12-06 17:40',
      loginItem: false,
      context: 'I am Alex, I run a small studio.\nClients: Acme, Globex.',
      cfg: {
        hotkeyKeyCode: 63,
        boostHotkeyKeyCode: 61,
        minHoldSeconds: 0.25,
        maxRecordSeconds: 120,
        cleanup: true,
        insertDirectly: true,
        alwaysCopyToClipboard: false,
        keepHistory: true,
        promptModeEnabled: true,
        useOwnKey: false,
        vocabulary: ['Velvox', 'Supabase', 'TypeScript'],
        promptModeApps: ['com.anthropic.claudefordesktop', 'com.openai.chat'],
        corrections: { 'super base': 'Supabase', 'type script': 'TypeScript' },
        inputDevice: '',
        autoPaste: true,
        cleanupProvider: 'groq',
        anthropicKeySaved: false,
        transcribeModel: 'whisper-large-v3-turbo',
        cleanupModel: 'openai/gpt-oss-120b',
        systemPrompt: 'Turn speech into clean text.',
        boostSystemPrompt: 'Brief the boost.',
        promptModePrompt: 'Shape it as a prompt.',
        emailPrompt: 'My own e-mail prompt.',
        messagePrompt: 'Write a chat message.',
        notePrompt: 'Write a note.',
      },
      defaults: {
        transcribeModel: 'whisper-large-v3-turbo',
        cleanupModel: 'openai/gpt-oss-120b',
        systemPrompt: 'Turn speech into clean text.',
        boostSystemPrompt: 'Brief the boost.',
        promptModePrompt: 'Shape it as a prompt.',
        emailPrompt: 'Write an e-mail.',
        messagePrompt: 'Write a chat message.',
        notePrompt: 'Write a note.',
      },
      inputDevices: [
        { name: 'alsa_input.pci-0000_00_1f.3.analog-stereo', label: 'Built-in Audio Analog Stereo' },
        { name: 'alsa_input.usb-Blue_Yeti-00.analog-stereo', label: 'Yeti Stereo Microphone' },
      ],
      appNames: [
        { bundle: 'com.anthropic.claudefordesktop', name: 'Claude' },
        { bundle: 'com.openai.chat', name: 'com.openai.chat' },
      ],
      stats: summary(30, 3),
      week: summary(7, 1),
      recent: recent(now),
      smartApps: [
        { bundle: 'org.gnome.Evolution', app: 'Mail', kind: 'Email', count: 14, last: now - 300 },
        { bundle: 'com.anthropic.claudefordesktop', app: 'Claude', kind: 'Prompt', count: 9, last: now - 3600 },
      ],
      icons: options.icons || {},
      live: live(),
    },
    options.overrides || {}
  );
}

const ICON_BUNDLES = ['org.gnome.Evolution', 'com.anthropic.claudefordesktop', 'com.slack.Slack'];

// A 1 × 1 PNG, where a test needs image data but draws nothing.
const DOT = 'data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=';
const HOSTILE = '<img src=x onerror="window.__pwned=1"><b>bold</b>';

const usage = {
  signedOut: { reachable: true, own: false, ok: true, signedIn: false, email: '', plan: 'free', used: 0, cap: 0 },
  signedIn: { reachable: true, own: false, ok: true, signedIn: true, email: 'alex@example.com', plan: 'free', used: 1800, cap: 2000 },
};

// Every kind of push the page tests send, as [function, argument]: an object
// is sent as JSON, a string as the literal argument text. The same list is
// replayed in the real WebKitGTK window, so both engines see the same pushes.
function pushes() {
  const now = Math.floor(Date.now() / 1000);
  const own = Object.assign(state().cfg, { useOwnKey: true });
  return [
    ['orvoSymbols', { mic: DOT, keyboard: DOT, waveform: 'https://example.invalid/x.png' }],
    ['orvoState', state({ icons: { 'org.gnome.Evolution': DOT } })],
    ['orvoState', state({ overrides: { theme: 'light', systemScheme: 'dark' } })],
    ['orvoState', state({ overrides: { theme: 'system', systemScheme: 'light' } })],
    ['orvoState', state({ overrides: { cfg: own, keyNote: 'Paste a key first.', keyBad: true } })],
    ['orvoState', state({ overrides: { cfg: Object.assign({}, own, { cleanupProvider: 'anthropic', anthropicKeySaved: true }), anthropicKeyNote: 'Anthropic rejected that key. Copy it again from the console.', anthropicKeyBad: true } })],
    ['orvoState', state({ overrides: { cfg: own, keyNote: 'Key works and is saved on this computer.', keyBad: false, keySaved: true } })],
    ['orvoState', state({ overrides: { week: { empty: true, days: 7 }, cfg: Object.assign(state().cfg, { boostHotkeyKeyCode: -1 }) } })],
    ['orvoState', state({
      overrides: {
        recent: [{ at: now, app: HOSTILE, bundle: 'x', mode: 'plain', words: 3, text: HOSTILE }],
        smartApps: [{ bundle: 'x', app: HOSTILE, kind: 'Prompt', count: 1, last: now }],
        appNames: [{ bundle: 'com.anthropic.claudefordesktop', name: HOSTILE }],
        context: HOSTILE,
      },
    })],
    ['orvoLive', live()],
    ['orvoLive', live({ ready: false, tap: false, mic: false, ax: false })],
    ['orvoLive', live({ fnDead: true, mainKeyName: 'right ctrl' })],
    ['orvoLive', live({ ax: false, axAvailable: false, keySource: 'shortcut', desktopNotes: ['This desktop runs Wayland.'] })],
    ['orvoUsage', '{own:true}'],
    ['orvoUsage', '{reachable:false}'],
    ['orvoUsage', usage.signedOut],
    ['orvoUsage', usage.signedIn],
    ['orvoUsage', Object.assign({}, usage.signedIn, { email: HOSTILE, plan: HOSTILE, cap: 0 })],
    ['orvoBilling', { plan: 'pro', status: 'active', renewsAt: now + 86400 * 20, upgradeUrl: 'https://example.invalid/up' }],
    ['orvoBillingNote', { note: 'Could not open billing just now. Try again in a moment.' }],
    ['orvoAuth', { note: 'Sending…', bad: false, busy: true }],
    ['orvoAuth', { note: 'That does not look like an email address.', bad: true, busy: false }],
    ['orvoCapture', { note: 'Those two cannot be the same key.', bad: true }],
    ['orvoCapture', { note: '', bad: false }],
    ['orvoLevel', '0.5'],
    ['orvoLevel', '3'],
    ['orvoDictated', { text: 'Hello there', words: 2, seconds: 1.5, wpm: 80, mode: 'email' }],
    ['orvoInsert', { text: 'Hello there', mode: 'plain' }],
    // Pushes of a strange shape are tolerated, not thrown on.
    ['orvoState', '{}'],
    ['orvoUsage', '[]'],
    ['orvoLevel', 'NaN'],
    ['orvoSymbols', 'null'],
    ['orvoLive', '"ready"'],
  ];
}

module.exports = { state, live, summary, pushes, usage, ICON_BUNDLES, HOSTILE };
