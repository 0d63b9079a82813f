// The settings page: what each control posts and what it shows from the pushes.
'use strict';

const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { eachTestOn, testControls } = require('./harness');
const fixtures = require('./fixtures');

// A page with the recorded symbols and state already pushed.
let under;
eachTestOn('settings', fixtures.argument('state'), (page) => { under = page; });

const fill = async (selector, value, key) => {
  await under.page.locator(selector).fill(value);
  if (key) await under.page.locator(selector).press(key);
};
const set = (key, value) => ({ action: 'set', key, [typeof value === 'boolean' ? 'bool' : typeof value === 'number' ? 'number' : 'text']: value });

// Each section's controls, used in turn, and the messages they post (the
// lists always post the whole list; an emptied number posts nothing).
const controls = [
  ['home', async () => {
    await under.push('orvoLive', fixtures.argument('live', { canRetry: true }));
    await under.button('Retry last dictation');
    await under.button('Dismiss');
  }, [{ action: 'retryLast' }, { action: 'dismissRetry' }]],
  ['dictation', async () => {
    for (const key of ['cleanup', 'insertDirectly', 'alwaysCopyToClipboard']) await under.page.locator(`input[data-bool="${key}"]`).click();
    await fill('#max-record', '90', 'Tab');
    await fill('#min-hold', '', 'Tab');
    await fill('#transcribe-model', ' whisper-large-v3 ', 'Tab');
  }, [set('cleanup', false), set('insertDirectly', false), set('alwaysCopyToClipboard', true), set('maxRecordSeconds', 90), set('transcribeModel', 'whisper-large-v3')]],
  ['app', async () => {
    await under.page.locator('#theme').selectOption('light');
    await under.page.locator('#login-item').check();
    for (const name of ['History', 'Log', 'Settings folder', 'Privacy']) await under.button(name);
  }, [set('theme', 'light'), set('loginItem', true), { action: 'openHistory' }, { action: 'openLog' }, { action: 'openFolder' }, { action: 'openPrivacy' }]],
  // Dictated text goes into the field where the user types, else it shows as the last dictation.
  ['vocabulary', async () => {
    await fill('#vocabulary-input', '  Acme');
    await under.push('orvoInsert', { text: 'Globex ', mode: 'plain' });
    await under.page.locator('#vocabulary-input').press('Enter');
    await under.button('Remove Supabase');
    await under.push('orvoInsert', { text: 'Nowhere to type', mode: 'plain' });
    assert.equal(await under.text('#last-dictation-text'), 'Nowhere to type');
  }, [{ action: 'saveVocabulary', list: ['Velvox', 'Supabase', 'TypeScript', 'Acme Globex'] }, { action: 'saveVocabulary', list: ['Velvox', 'TypeScript'] }]],
  ['corrections', async () => {
    await fill('#correction-from', 'acme corp');
    await fill('#correction-to', 'Acme Corp.', 'Enter');
    await under.page.getByLabel('Written as').first().fill('SupaBase');
    await under.page.getByLabel('Written as').first().press('Tab');
    await under.button('Remove type script');
  }, [
    { action: 'saveCorrections', map: { 'super base': 'Supabase', 'type script': 'TypeScript', 'acme corp': 'Acme Corp.' } },
    { action: 'saveCorrections', map: { 'super base': 'SupaBase', 'type script': 'TypeScript' } },
    { action: 'saveCorrections', map: { 'super base': 'Supabase' } },
  ]],
  ['prompt', async () => {
    await under.button('Remove Claude');
    await under.button('Add app…');
    await under.button('Always use prompts in Mail');
  }, [{ action: 'savePromptApps', list: ['com.openai.chat'] }, { action: 'addApp' }, { action: 'savePromptApps', list: ['com.anthropic.claudefordesktop', 'com.openai.chat', 'org.gnome.Evolution'] }]],
  ['hotkeys', async () => {
    await under.page.locator('[data-hotkey="boostHotkeyKeyCode"]').getByRole('button', { name: 'Change' }).click();
    assert.equal(await under.text('[data-hotkey="boostHotkeyKeyCode"] .key-name'), 'Press a key…');
    await under.page.keyboard.press('Enter'); // the focus sits on Cancel
  }, [{ action: 'captureKey', key: 'boostHotkeyKeyCode' }, { action: 'cancelCapture' }]],
  ['permissions', async () => {
    await under.page.locator('#input-device').selectOption({ label: 'Yeti Stereo Microphone' });
  }, [set('inputDevice', 'alsa_input.usb-Blue_Yeti-00.analog-stereo')]],
  // Sign-in by e-mail needs the service, a pasted token does not; signed in,
  // billing can be managed once the program has sent it.
  ['account', async () => {
    await under.push('orvoUsage', fixtures.argument('usage.unreachable'));
    assert.equal(await under.page.getByLabel('Sign-in token').isVisible(), true);
    assert.equal(await under.visible('.sign-in input[type="email"]'), false);
    await under.push('orvoUsage', fixtures.argument('usage.signedOut'));
    await under.page.getByLabel('E-mail', { exact: true }).fill('alex@example.com');
    await under.button('Email me a sign-in link');
    await under.push('orvoAuth', fixtures.argument('auth.sending'));
    const send = under.page.getByRole('button', { name: 'Email me a sign-in link' });
    assert.equal(await send.isDisabled(), true);
    await under.push('orvoAuth', fixtures.argument('auth.badAddress'));
    assert.equal(await send.isDisabled(), false);
    assert.equal(await under.page.locator('.sign-in > .note.bad').isVisible(), true);
    await under.button('Continue with Google');
    await under.page.getByLabel('Sign-in token').fill('tok_123');
    await under.button('Use token');
    await under.push('orvoUsage', fixtures.argument('usage.signedIn'));
    assert.equal(await under.visible('button:has-text("Manage billing")'), false);
    await under.button('Upgrade');
    await under.button('Sign out');
    await under.push('orvoBilling', fixtures.argument('billing'));
    await under.button('Manage billing');
    await under.push('orvoBillingNote', fixtures.argument('billingNote'));
    assert.equal(await under.text('.service > .note'), 'Could not open billing just now. Try again in a moment.');
  }, [{ action: 'signIn', text: 'alex@example.com' }, { action: 'signInGoogle' }, { action: 'pasteToken', text: 'tok_123' }, { action: 'upgrade' }, { action: 'signOut' }, { action: 'manageBilling' }]],
];
describe('controls', () => testControls(controls));

// Edits survive pushes until saved; the field that keeps the focus still
// shows the clamped value the program answers with.
it('keeps unsaved edits of the context and a prompt through pushes', async () => {
  await under.open('context');
  await under.page.locator('#context-text').fill('I am Alex.');
  await under.push('orvoState', fixtures.argument('state'));
  assert.equal(await under.text('#context-state'), 'Unsaved changes');
  await under.click('#context-save');
  await under.open('prompts');
  await under.page.locator('#prompt-choice').selectOption('messagePrompt');
  await under.page.locator('#prompt-text').fill('Short and friendly.');
  await under.push('orvoState', fixtures.argument('state'));
  assert.equal(await under.page.locator('#prompt-text').inputValue(), 'Short and friendly.');
  await under.click('#prompt-save');
  assert.deepEqual(await under.takePosted(), [{ action: 'saveContext', text: 'I am Alex.' }, set('messagePrompt', 'Short and friendly.')]);
  await under.open('dictation');
  await fill('#max-record', '900', 'Enter');
  await under.push('orvoState', fixtures.withCfg('state', { maxRecordSeconds: 600 }));
  assert.equal(await under.page.locator('#max-record').inputValue(), '600');
});

describe('account', () => {
  // Each key is checked from its own field, which is emptied once the key is saved.
  const anthropic = { anthropicKeyNote: 'Key works and is saved on this computer.', anthropicKeyBad: false, anthropicKeySaved: true };
  const keys = [
    ['Groq API key', '.own-key', '.own-key > .note', 'setKey', {}, {}],
    ['Anthropic API key', '.anthropic-key', '.anthropic-key .note', 'setAnthropicKey', { cleanupProvider: 'anthropic' }, anthropic],
  ];
  for (const [label, box, note, action, cfg, answer] of keys) {
    it('checks the ' + label + ' and shows its note', async () => {
      await under.push('orvoState', fixtures.withCfg('state.keyMissing', cfg));
      await under.open('account');
      await under.page.getByLabel(label, { exact: true }).fill('  k_abc \n');
      await under.page.locator(box).getByRole('button', { name: 'Check and save' }).click();
      assert.deepEqual(await under.takePosted(), [{ action, text: '  k_abc ' }]);
      await under.push('orvoState', Object.assign(fixtures.withCfg('state.keySaved', cfg), answer));
      assert.equal(await under.page.getByLabel(label, { exact: true }).inputValue(), '');
      assert.equal(await under.text(note), 'Key works and is saved on this computer.');
    });
  }
});

// A server of the user's own for a step: its form posts the settings, tests the
// server and shows what the test found.
describe('own servers', () => {
  const own = (cfg, more) => Object.assign(fixtures.withCfg('state.keyMissing', cfg), more);
  const form = (step) => under.page.getByRole('group', { name: 'Your ' + step + ' server' });
  const patience = () => under.page.getByLabel(/^Patience with your own server/);
  const steps = [
    ['transcription', 'transcribe', 'Transcribe with', (f) => f.getByLabel('Upload format').selectOption('wav'), [set('transcribeUploadFormat', 'wav')]],
    ['polishing', 'cleanup', 'Polish the text with', async () => {}, []],
  ];
  for (const [step, prefix, choice, extra, extraPosted] of steps) {
    it('sets up and tests the ' + step + ' server', async () => {
      const custom = { [prefix + 'Provider']: 'custom' };
      const [saved, note] = [form(step).getByText('A key is saved.'), form(step).getByRole('status')];
      await under.push('orvoState', own({}));
      await under.open('account');
      await under.page.getByLabel(choice).selectOption({ label: 'Your own server' });
      await under.push('orvoState', own(custom));
      assert.equal(await saved.isVisible(), false);
      for (const [field, value] of [[form(step).getByLabel('Server address'), ' http://127.0.0.1:8080 '], [form(step).getByLabel('Key (optional)'), 'sk-local'], [patience(), '5']]) {
        await field.fill(value);
        await field.press('Tab');
      }
      await extra(form(step));
      await form(step).getByRole('button', { name: 'Test' }).click();
      assert.equal(await note.textContent(), 'Testing…');
      assert.deepEqual(await under.takePosted(), [set(prefix + 'Provider', 'custom'), set(prefix + 'BaseUrl', 'http://127.0.0.1:8080'),
        set(prefix + 'ApiKey', 'sk-local'), set('customTimeoutPerSecond', 5), ...extraPosted, { action: 'testServer', text: step }]);
      // Each answer replaces the note of its own step only.
      const other = steps.find((row) => row[0] !== step)[0];
      for (const [tested, text, bad, style] of [[step, 'No answer.', true, 'note bad'], [step, 'It works.', false, 'note'], [other, 'Elsewhere.', true, 'note']]) {
        await under.push('orvoState', own({ ...custom, [prefix + 'KeySaved']: true }, { serverTest: { step: tested, note: text, bad } }));
        assert.deepEqual([await note.textContent(), await note.getAttribute('class')], [tested === step ? text : 'It works.', style]);
      }
      assert.deepEqual([await saved.isVisible(), await form(step).getByLabel('Key (optional)').inputValue()], [true, '']);
      await form(step).getByRole('button', { name: 'Remove the key' }).click();
      assert.deepEqual(await under.takePosted(), [set(prefix + 'ApiKey', '')]);
    });
  }

  // What each choice of providers shows: the Groq key while Groq does a step, each server's form, the patience.
  it('shows the forms the chosen providers need', async () => {
    const shown = [under.page.getByLabel('Groq API key'), form('transcription'), form('polishing'), patience()];
    const rows = [[{ transcribeProvider: 'x', cleanupProvider: 'y' }, [true, false, false, false]], [{ transcribeProvider: 'custom' }, [true, true, false, true]],
      [{ cleanupProvider: 'custom' }, [true, false, true, true]], [{ transcribeProvider: 'custom', cleanupProvider: 'anthropic' }, [false, true, false, true]],
      [{ transcribeProvider: 'custom', cleanupProvider: 'custom' }, [false, true, true, true]]];
    await under.open('account');
    for (const [cfg, visible] of rows) {
      await under.push('orvoState', own(cfg));
      assert.deepEqual(await Promise.all(shown.map((control) => control.isVisible())), visible, JSON.stringify(cfg));
    }
  });
});
