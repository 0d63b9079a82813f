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

module.exports = { state, live, summary, ICON_BUNDLES };
