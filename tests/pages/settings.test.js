// The settings page: what it shows from the pushes, what each control posts,
// untrusted text, and the keyboard.
'use strict';

const { describe, it, before, after, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const { launch, openPage } = require('./harness');
const fixtures = require('./fixtures');

const icons = fixtures.state().icons;
let browser;
let under;

before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

// A page with the recorded symbols and state already pushed.
beforeEach(async () => {
  under = await openPage(browser, 'settings');
  await under.push('orvoSymbols', fixtures.argument('symbols'));
  await under.push('orvoState', fixtures.state());
  await under.takePosted();
});
afterEach(async () => {
  assert.deepEqual(under.errors, []);
  assert.deepEqual(under.outsideRequests, []);
  await under.close();
});

async function openSection(name) {
  await under.click(`.nav-item[data-section="${name}"]`);
  assert.equal(await under.visible('#' + name), true);
}

async function texts(selector) {
  return under.page.locator(selector).evaluateAll((nodes) => nodes.map((n) => n.textContent.trim()));
}

describe('home and statistics', () => {
  it('shows the live status and the figures of the last 30 days', async () => {
    assert.equal(await under.text('.status-line'), 'Ready');
    assert.equal(await under.text('.status-hint'), 'Hold fn and speak.');
    await openSection('stats');
    assert.deepEqual(await texts('#stats-body .figure strong'), ['1,779', '28', '150', '30']);
    const bars = under.page.locator('#stats-body .chart').first().locator('rect.bar');
    assert.equal(await bars.count(), 30);
    assert.equal(await under.page.locator('#stats-body .chart').nth(1).locator('rect.bar').count(), 24);
    assert.deepEqual(await texts('#stats-body .ranking-name'), ['Mail', 'Slack', 'Claude', 'Code', 'Notes', 'Dictate', 'Email', 'Prompt', 'Message', 'Notes']);
    assert.deepEqual(await texts('#stats-body .ranking-value'), ['474 words', '444 words', '427 words', '414 words', '20 words', '858 words', '358 words', '275 words', '268 words', '20 words']);
    // The bar of today (the recording's) is the last one and carries its own date.
    assert.equal(await bars.nth(29).locator('title').textContent(), 'Mon 2 Mar: 85 words');
  });

  it('offers a failed dictation for a retry while its take is kept', async () => {
    const retry = under.page.getByRole('button', { name: 'Retry last dictation' });
    assert.equal(await retry.isVisible(), false);
    await under.push('orvoLive', fixtures.live({ canRetry: true }));
    await retry.click();
    await under.page.getByRole('button', { name: 'Dismiss' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'retryLast' }, { action: 'dismissRetry' }]);
    await under.push('orvoLive', fixtures.live());
    assert.equal(await retry.isVisible(), false);
  });

  it('lists recent dictations with app icons, falling back to an initial', async () => {
    await openSection('stats');
    const items = under.page.locator('#recent-full .dictation');
    assert.equal(await items.count(), 4);
    assert.equal(await items.nth(0).locator('img.app-icon').getAttribute('src'), icons['org.gnome.Evolution']);
    assert.equal(await items.nth(3).locator('.app-icon-fallback').textContent(), 'N');
    assert.equal(await items.nth(0).locator('.dictation-meta').textContent(), 'MailToday 08:55Email12 words');
    assert.match(await items.nth(2).locator('.dictation-meta').textContent(), /^SlackYesterday 09:00/);
    assert.equal(await under.page.locator('#recent-short .dictation').count(), 4);
  });

  it('shows the last dictation and puts text dictated into the window where the user types', async () => {
    await under.push('orvoDictated', { text: 'Ship it on Friday.', words: 4, seconds: 2, wpm: 120, mode: 'email' });
    assert.equal(await under.text('#last-dictation-meta'), '4 words · 120 wpm · 2.0 s · Email');
    assert.equal(await under.text('#last-dictation-text'), 'Ship it on Friday.');

    await openSection('vocabulary');
    await under.page.locator('#vocabulary-input').fill('Acme');
    await under.page.locator('#vocabulary-input').focus();
    await under.push('orvoInsert', { text: 'Globex', mode: 'plain' });
    assert.equal(await under.page.locator('#vocabulary-input').inputValue(), 'Acme Globex');

    await under.page.locator('#vocabulary-input').blur();
    await under.push('orvoInsert', { text: 'Nowhere to type', mode: 'plain' });
    assert.equal(await under.text('#last-dictation-text'), 'Nowhere to type');
  });
});

describe('untrusted text', () => {
  const hostile = '<img src=x onerror="window.__pwned=1"><b>bold</b>';

  it('shows transcripts, app names and e-mail as plain text', async () => {
    const now = Math.floor(Date.now() / 1000);
    await under.push('orvoState', fixtures.state({
      overrides: {
        recent: [{ at: now, app: hostile, bundle: 'x', mode: 'plain', words: 3, text: hostile }],
        smartApps: [{ bundle: 'x', app: hostile, kind: 'Prompt', count: 1, last: now }],
        appNames: [{ bundle: 'com.anthropic.claudefordesktop', name: hostile }],
        context: hostile,
        cfg: Object.assign(fixtures.state().cfg, { vocabulary: [hostile], corrections: { [hostile]: hostile } }),
        stats: Object.assign(fixtures.state().stats, { apps: [{ name: hostile, words: 3 }] }),
      },
    }));
    await under.push('orvoUsage', { reachable: true, own: false, ok: true, signedIn: true, email: hostile, plan: hostile, used: 1, cap: 10 });
    await under.push('orvoBilling', { plan: hostile, status: hostile });
    await under.push('orvoDictated', { text: hostile, words: 1, seconds: 1, wpm: 60, mode: hostile });
    await under.push('orvoAuth', { note: hostile, bad: true, busy: false });
    await under.push('orvoCapture', { note: hostile, bad: true });
    await under.push('orvoBillingNote', { note: hostile });
    for (const section of ['home', 'stats', 'prompt', 'vocabulary', 'account', 'hotkeys']) await openSection(section);

    const found = await under.page.evaluate(() => ({
      pwned: window.__pwned,
      injected: document.querySelectorAll('img[src="x"], b').length,
    }));
    assert.deepEqual(found, { pwned: undefined, injected: 0 });
    assert.equal(await under.text('.usage .email'), hostile);
    assert.equal(await under.text('#recent-full .dictation-text'), hostile);
    assert.equal(await under.text('#last-dictation-text'), hostile);
    assert.equal(await under.page.locator('#context-text').inputValue(), hostile);
  });
});

describe('dictation settings', () => {
  it('reflects the configuration and posts each switch and number', async () => {
    await openSection('dictation');
    const switches = ['cleanup', 'insertDirectly', 'alwaysCopyToClipboard', 'keepHistory'];
    const checked = [];
    for (const key of switches) checked.push(await under.page.locator(`input[data-bool="${key}"]`).isChecked());
    assert.deepEqual(checked, [true, true, false, true]);

    for (const key of switches) await under.page.locator(`input[data-bool="${key}"]`).click();
    assert.deepEqual(await under.takePosted(), [
      { action: 'set', key: 'cleanup', bool: false },
      { action: 'set', key: 'insertDirectly', bool: false },
      { action: 'set', key: 'alwaysCopyToClipboard', bool: true },
      { action: 'set', key: 'keepHistory', bool: false },
    ]);

    assert.equal(await under.page.locator('#max-record').inputValue(), '120');
    await under.page.locator('#max-record').fill('90');
    await under.page.locator('#max-record').press('Tab');
    await under.page.locator('#min-hold').fill('');
    await under.page.locator('#min-hold').press('Tab');
    assert.deepEqual(await under.takePosted(), [{ action: 'set', key: 'maxRecordSeconds', number: 90 }]);
  });

  it('posts theme, start at login and the file buttons', async () => {
    await openSection('app');
    assert.equal(await under.page.locator('#theme').inputValue(), 'system');
    assert.equal(await under.page.locator('#login-item').isChecked(), false);
    // The choice shows at once, before the program answers with a push;
    // "system" takes the desktop's scheme from the last state.
    const background = () => under.page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    const dark = await background();
    await under.page.locator('#theme').selectOption('light');
    const light = await background();
    assert.notEqual(light, dark);
    await under.push('orvoState', fixtures.state({ overrides: { theme: 'light', systemScheme: 'dark' } }));
    await under.page.locator('#theme').selectOption('system');
    assert.equal(await background(), dark);
    await under.page.locator('#login-item').check();
    for (const name of ['History', 'Log', 'Settings folder', 'Privacy']) {
      await under.page.getByRole('button', { name, exact: true }).click();
    }
    assert.deepEqual(await under.takePosted(), [
      { action: 'set', key: 'theme', text: 'light' },
      { action: 'set', key: 'theme', text: 'system' },
      { action: 'set', key: 'loginItem', bool: true },
      { action: 'openHistory' },
      { action: 'openLog' },
      { action: 'openFolder' },
      { action: 'openPrivacy' },
    ]);
    assert.equal(await under.text('#build'), 'Velvox 1.0 (01 Mar 12:00:00)');
  });
});

describe('settings otherwise edited by hand', () => {
  const ownCfg = (extra) => Object.assign(fixtures.state().cfg, { useOwnKey: true }, extra || {});

  // Each control, what it posts, and what the page shows once the program answers.
  const controls = [
    {
      name: 'the transcription model', section: 'dictation',
      act: async () => { await under.page.locator('#transcribe-model').fill(' whisper-large-v3 '); await under.page.locator('#transcribe-model').press('Tab'); },
      posted: [{ action: 'set', key: 'transcribeModel', text: 'whisper-large-v3' }],
    },
    {
      // The field keeps the focus (Enter), yet shows the clamped value the program answers with.
      name: 'a number the configuration clamps', section: 'dictation',
      act: async () => { await under.page.locator('#max-record').fill('900'); await under.page.locator('#max-record').press('Enter'); },
      posted: [{ action: 'set', key: 'maxRecordSeconds', number: 900 }],
      answer: { cfg: ownCfg({ maxRecordSeconds: 600 }) },
      shows: async () => assert.equal(await under.page.locator('#max-record').inputValue(), '600'),
    },
    {
      name: 'the polishing provider', section: 'account',
      before: { cfg: ownCfg() },
      act: async () => {
        assert.equal(await under.visible('.anthropic-key'), false);
        await under.page.getByLabel('Polish the text with').selectOption('anthropic');
      },
      posted: [{ action: 'set', key: 'cleanupProvider', text: 'anthropic' }],
      answer: { cfg: ownCfg({ cleanupProvider: 'anthropic' }) },
      shows: async () => assert.equal(await under.visible('.anthropic-key'), true),
    },
    {
      name: 'the Anthropic key', section: 'account',
      before: { cfg: ownCfg({ cleanupProvider: 'anthropic' }) },
      act: async () => {
        await under.page.getByLabel('Anthropic API key').fill(' sk-ant-1 ');
        await under.page.locator('.anthropic-key').getByRole('button', { name: 'Check and save' }).click();
      },
      posted: [{ action: 'setAnthropicKey', text: ' sk-ant-1 ' }],
      answer: { cfg: ownCfg({ cleanupProvider: 'anthropic', anthropicKeySaved: true }), anthropicKeyNote: 'Key works and is saved on this computer.', anthropicKeyBad: false, anthropicKeySaved: true },
      shows: async () => {
        assert.equal(await under.page.getByLabel('Anthropic API key').inputValue(), '');
        assert.equal(await under.page.getByLabel('Anthropic API key').getAttribute('type'), 'password');
        assert.equal(await under.text('.anthropic-key .note'), 'Key works and is saved on this computer.');
        assert.equal(await under.visible('.anthropic-key p:has-text("An Anthropic key is saved.")'), true);
      },
    },
    {
      name: 'a prompt, edited and saved', section: 'prompts',
      act: async () => {
        await under.page.locator('#prompt-choice').selectOption('messagePrompt');
        assert.equal(await under.page.locator('#prompt-text').inputValue(), fixtures.state().cfg.messagePrompt);
        await under.page.locator('#prompt-text').fill('Short and friendly.');
        await under.push('orvoState', fixtures.state());
        assert.equal(await under.page.locator('#prompt-text').inputValue(), 'Short and friendly.');
        assert.equal(await under.text('#prompt-state'), 'Unsaved changes');
        await under.click('#prompt-save');
      },
      posted: [{ action: 'set', key: 'messagePrompt', text: 'Short and friendly.' }],
    },
  ];
  for (const control of controls) {
    it('sets ' + control.name, async () => {
      if (control.before) await under.push('orvoState', fixtures.state({ overrides: control.before }));
      await openSection(control.section);
      await control.act();
      assert.deepEqual(await under.takePosted(), control.posted);
      if (control.answer) await under.push('orvoState', fixtures.state({ overrides: control.answer }));
      if (control.shows) await control.shows();
    });
  }

});

describe('hotkeys', () => {
  it('captures a key, cancels, and shows the clash note', async () => {
    await openSection('hotkeys');
    assert.deepEqual(await texts('.hotkey-list .key-name'), ['fn', 'right alt']);
    await under.page.locator('[data-hotkey="boostHotkeyKeyCode"]').getByRole('button', { name: 'Change' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'captureKey', key: 'boostHotkeyKeyCode' }]);
    assert.equal(await under.text('[data-hotkey="boostHotkeyKeyCode"] .key-name'), 'Press a key…');
    assert.equal(await under.page.locator('[data-hotkey="hotkeyKeyCode"] button', { hasText: 'Change' }).isDisabled(), true);

    await under.page.keyboard.press('Enter'); // the focus sits on Cancel
    assert.deepEqual(await under.takePosted(), [{ action: 'cancelCapture' }]);

    await under.push('orvoCapture', fixtures.argument('capture.clash'));
    assert.equal(await under.text('#hotkeys-card .note:not([hidden])'), 'Those two cannot be the same key.');
    assert.equal(await under.page.locator('#hotkeys-card .note.bad').first().isVisible(), true);
    assert.deepEqual(await texts('.hotkey-list .key-name'), ['fn', 'right alt']);

    await under.push('orvoCapture', fixtures.argument('capture.clear'));
    assert.equal(await under.page.locator('#hotkeys-card > .note').first().isVisible(), false);
  });
});

describe('account', () => {
  const signedOut = fixtures.argument('usage.signedOut');
  const signedIn = fixtures.argument('usage.signedIn');

  it('signs in by e-mail, with Google or with a pasted token, and shows the notes', async () => {
    await openSection('account');
    assert.equal(await under.text('.usage'), 'Checking your account…');
    await under.push('orvoUsage', signedOut);
    await under.page.getByLabel('E-mail', { exact: true }).fill('alex@example.com');
    await under.page.getByLabel('E-mail', { exact: true }).press('Enter');
    await under.page.getByRole('button', { name: 'Continue with Google' }).click();
    await under.page.locator('.token summary').click();
    await under.page.getByLabel('Sign-in token').fill('tok_123');
    await under.page.getByRole('button', { name: 'Use token' }).click();
    assert.deepEqual(await under.takePosted(), [
      { action: 'signIn', text: 'alex@example.com' },
      { action: 'signInGoogle' },
      { action: 'pasteToken', text: 'tok_123' },
    ]);

    await under.push('orvoAuth', fixtures.argument('auth.sending'));
    const send = under.page.getByRole('button', { name: 'Email me a sign-in link' });
    assert.equal(await send.isDisabled(), true);
    assert.equal(await under.text('.sign-in > .note'), 'Sending…');
    await under.push('orvoAuth', fixtures.argument('auth.badAddress'));
    assert.equal(await send.isDisabled(), false);
    assert.equal(await under.page.locator('.sign-in > .note.bad').isVisible(), true);
  });

  it('shows usage, plan and billing when signed in, with their buttons', async () => {
    await openSection('account');
    await under.push('orvoUsage', signedIn);
    assert.equal(await under.text('.usage .email'), 'alex@example.com');
    assert.match(await under.text('.usage'), /1,800 words of 2,000 words used this week/);
    assert.equal(await under.page.locator('.usage-meter').getAttribute('aria-valuenow'), '1800');
    assert.equal(await under.visible('.sign-in'), false);
    await under.page.getByRole('button', { name: 'Upgrade' }).click();
    await under.page.getByRole('button', { name: 'Sign out' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'upgrade' }, { action: 'signOut' }]);
    assert.equal(await under.visible('button:has-text("Manage billing")'), false);

    await under.push('orvoBilling', fixtures.argument('billing'));
    assert.match(await under.text('.billing'), /PlanproStatusactive/);
    await under.page.getByRole('button', { name: 'Manage billing' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'manageBilling' }]);
    await under.push('orvoBillingNote', fixtures.argument('billingNote'));
    assert.equal(await under.text('.service > .note'), 'Could not open billing just now. Try again in a moment.');
  });

  // What the account page offers for each answer about the account: sign-in
  // by e-mail needs the service, a pasted token does not.
  const accountViews = [
    { name: 'unreachable', usage: fixtures.argument('usage.unreachable'), says: /Could not reach the Velvox service.*paste a sign-in token/, email: false, token: true, signOut: false },
    // The token form waits behind "Have a sign-in token?".
    { name: 'signed out', usage: signedOut, says: /Sign in to use Velvox/, email: true, token: false, signOut: false },
    { name: 'signed in', usage: signedIn, says: /Signed in as/, email: false, token: false, signOut: true },
    { name: 'own key', usage: fixtures.argument('usage.own'), says: /own Groq key/, email: false, token: false, signOut: false },
  ];
  for (const view of accountViews) {
    it('shows the account when ' + view.name, async () => {
      await openSection('account');
      await under.push('orvoUsage', view.usage);
      assert.match(await under.text('.usage'), view.says);
      assert.equal(await under.visible('.sign-in input[type="email"]'), view.email);
      assert.equal(await under.page.getByLabel('Sign-in token').isVisible(), view.token);
      assert.equal(await under.visible('button:has-text("Sign out")'), view.signOut);
      if (view.token) {
        await under.page.getByLabel('Sign-in token').fill('tok_offline');
        await under.page.getByRole('button', { name: 'Use token' }).click();
        assert.deepEqual(await under.takePosted(), [{ action: 'pasteToken', text: 'tok_offline' }]);
      }
    });
  }

  it('switches to an own key, checks it and shows the key note', async () => {
    await openSection('account');
    assert.equal(await under.visible('.own-key'), false);
    await under.page.getByLabel(/My own API keys/).check();
    assert.deepEqual(await under.takePosted(), [{ action: 'set', key: 'useOwnKey', bool: true }]);
    await under.push('orvoState', fixtures.state({ from: 'state.keyMissing' }));
    assert.equal(await under.visible('.own-key'), true);
    assert.equal(await under.text('.own-key > .note.bad'), 'Paste a key first.');

    await under.page.getByLabel('Groq API key', { exact: true }).fill('  gsk_abc \n');
    await under.page.getByRole('button', { name: 'Check and save' }).click();
    await under.page.getByRole('button', { name: 'Get a key from Groq' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'setKey', text: '  gsk_abc ' }, { action: 'openGroq' }]);

    await under.push('orvoState', fixtures.state({ from: 'state.keySaved' }));
    assert.equal(await under.page.getByLabel('Groq API key', { exact: true }).inputValue(), '');
    assert.equal(await under.page.locator('.own-key > .note.bad').count(), 0);
    assert.equal(await under.text('.own-key > .note'), 'Key works and is saved on this computer.');
    assert.equal(await under.visible('.own-key p:has-text("A Groq key is saved.")'), true);
  });
});

describe('lists and context', () => {
  it('adds and removes vocabulary words', async () => {
    await openSection('vocabulary');
    assert.deepEqual(await texts('#vocabulary-list .chip span'), ['Velvox', 'Supabase', 'TypeScript']);
    await under.page.locator('#vocabulary-input').fill('  Globex ');
    await under.page.locator('#vocabulary-input').press('Enter');
    await under.page.getByRole('button', { name: 'Remove Supabase' }).click();
    assert.deepEqual(await under.takePosted(), [
      { action: 'saveVocabulary', list: ['Velvox', 'Supabase', 'TypeScript', 'Globex'] },
      { action: 'saveVocabulary', list: ['Velvox', 'TypeScript'] },
    ]);
  });

  it('adds, edits and removes corrections', async () => {
    await openSection('corrections');
    await under.page.locator('#correction-from').fill('acme corp');
    await under.page.locator('#correction-to').fill('Acme Corp.');
    await under.page.locator('#correction-to').press('Enter');
    await under.page.getByLabel('Written as').first().fill('SupaBase');
    await under.page.getByLabel('Written as').first().press('Tab');
    await under.page.getByRole('button', { name: 'Remove type script' }).click();
    assert.deepEqual(await under.takePosted(), [
      { action: 'saveCorrections', map: { 'super base': 'Supabase', 'type script': 'TypeScript', 'acme corp': 'Acme Corp.' } },
      { action: 'saveCorrections', map: { 'super base': 'SupaBase', 'type script': 'TypeScript' } },
      { action: 'saveCorrections', map: { 'super base': 'Supabase' } },
    ]);
  });

  it('lists prompt-mode apps with icons, adds and removes them', async () => {
    await openSection('prompt');
    assert.deepEqual(await texts('#prompt-apps .row-text strong'), ['Claude', 'com.openai.chat']);
    assert.equal(await under.page.locator('#prompt-apps img.app-icon').first().getAttribute('src'), icons['com.anthropic.claudefordesktop']);
    await under.page.getByRole('button', { name: 'Remove Claude' }).click();
    await under.page.getByRole('button', { name: 'Add app…' }).click();
    await under.page.getByRole('button', { name: 'Always use prompts in Mail' }).click();
    await under.page.locator('input[data-bool="promptModeEnabled"]').uncheck();
    assert.deepEqual(await under.takePosted(), [
      { action: 'savePromptApps', list: ['com.openai.chat'] },
      { action: 'addApp' },
      { action: 'savePromptApps', list: ['com.anthropic.claudefordesktop', 'com.openai.chat', 'org.gnome.Evolution'] },
      { action: 'set', key: 'promptModeEnabled', bool: false },
    ]);
    assert.equal(await under.text('#smart-apps li:nth-child(2) .badge'), 'Always prompts');
  });

  it('saves the context and keeps unsaved edits through pushes', async () => {
    await openSection('context');
    const area = under.page.locator('#context-text');
    assert.equal(await area.inputValue(), 'I am Alex, I run a small studio.\nClients: Acme, Globex.');
    await area.fill('I am Alex.');
    await under.push('orvoState', fixtures.state());
    assert.equal(await area.inputValue(), 'I am Alex.');
    assert.equal(await under.text('#context-state'), 'Unsaved changes');
    await under.click('#context-save');
    assert.deepEqual(await under.takePosted(), [{ action: 'saveContext', text: 'I am Alex.' }]);
    await under.push('orvoState', fixtures.state({ overrides: { context: 'I am Alex.' } }));
    assert.equal(await under.text('#context-state'), '');
  });

  // The hotkeys row offers what can help on this desktop: another key where
  // the X server watches them, the desktop's shortcuts where nothing may.
  const hotkeyRows = [
    { keySource: 'x11', badge: 'Not running yet', text: /through the X server.*another program/, button: 'Choose another key', posted: [], opens: 'hotkeys' },
    { keySource: 'shortcut', badge: 'Desktop shortcut', text: /Bind “velvox dictate toggle”/, button: 'Keyboard shortcuts', posted: [{ action: 'openShortcuts' }], opens: 'permissions' },
  ];
  for (const row of hotkeyRows) {
    it('explains the hotkeys row for key source ' + row.keySource, async () => {
      await under.push('orvoLive', fixtures.live({ tap: false, ready: false, keySource: row.keySource }));
      await openSection('permissions');
      const tap = under.page.locator('[data-permission="tap"]');
      assert.equal(await tap.locator('.badge').textContent(), row.badge);
      assert.match(await tap.locator('.row-text p').textContent(), row.text);
      assert.deepEqual(await tap.locator('button:visible').allTextContents(), [row.button]);
      await tap.getByRole('button', { name: row.button }).click();
      assert.deepEqual(await under.takePosted(), row.posted);
      assert.equal(await under.visible('#' + row.opens), true);
    });
  }
});

describe('microphone test', () => {
  it('lists the microphones with the default first, posts the choice and keeps one not connected', async () => {
    await openSection('permissions');
    const select = under.page.locator('#input-device');
    assert.deepEqual(await texts('#input-device option'), ['System default', 'Built-in Audio Analog Stereo', 'Yeti Stereo Microphone']);
    assert.equal(await select.inputValue(), '');
    await select.selectOption({ label: 'Yeti Stereo Microphone' });
    assert.deepEqual(await under.takePosted(), [{ action: 'set', key: 'inputDevice', text: 'alsa_input.usb-Blue_Yeti-00.analog-stereo' }]);

    const unplugged = fixtures.state({ overrides: { inputDevices: [{ name: 'x', label: '<b>Odd</b>' }, { label: 'no name' }, 7] } });
    unplugged.cfg.inputDevice = 'alsa_input.usb-Blue_Yeti-00.analog-stereo';
    await under.push('orvoState', unplugged);
    assert.deepEqual(await texts('#input-device option'), ['System default', '<b>Odd</b>', 'alsa_input.usb-Blue_Yeti-00.analog-stereo (not connected)']);
    assert.equal(await select.inputValue(), 'alsa_input.usb-Blue_Yeti-00.analog-stereo');
    await select.selectOption({ label: 'System default' });
    assert.deepEqual(await under.takePosted(), [{ action: 'set', key: 'inputDevice', text: '' }]);
  });
});

describe('keyboard', () => {
  it('reaches the sections and their controls without a mouse', async () => {
    await under.page.keyboard.press('Tab');
    assert.equal(await under.focused(), 'button:Home');
    await under.page.keyboard.press('ArrowDown');
    await under.page.keyboard.press('ArrowDown');
    await under.page.keyboard.press('ArrowDown');
    assert.equal(await under.focused(), 'button:Hotkeys');
    await under.page.keyboard.press('Enter');
    assert.equal(await under.focused(), 'h2:Hotkeys');
    await under.page.keyboard.press('Tab');
    assert.equal(await under.focused(), 'button:Change');
    await under.page.keyboard.press('Enter');
    assert.deepEqual(await under.takePosted(), [{ action: 'captureKey', key: 'hotkeyKeyCode' }]);

    // A switch toggles with the space bar.
    await under.click('.nav-item[data-section="dictation"]');
    await under.page.keyboard.press('Tab');
    await under.page.keyboard.press('Space');
    assert.deepEqual(await under.takePosted(), [{ action: 'set', key: 'cleanup', bool: false }]);
  });
});
