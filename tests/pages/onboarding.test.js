// The onboarding page: its steps, what each posts, the try-it area that
// receives dictated text, and finishing with the user's name.
'use strict';

const { describe, it, before, after, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const { launch, openPage } = require('./harness');
const fixtures = require('./fixtures');

let browser;
let under;

before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

// A first launch: nothing granted yet, no account.
beforeEach(async () => {
  under = await openPage(browser, 'onboarding');
  await under.push('orvoSymbols', fixtures.argument('symbols'));
  const fresh = fixtures.argument('live.fresh');
  await under.push('orvoState', fixtures.state({ overrides: { live: fresh, recent: [], smartApps: [] } }));
  await under.takePosted();
});
afterEach(async () => {
  assert.deepEqual(under.errors, []);
  assert.deepEqual(under.outsideRequests, []);
  await under.close();
});

async function goTo(step) {
  await under.click(`.nav-item[data-step="${step}"]`);
  assert.equal(await under.visible('#' + step), true);
}

describe('steps', () => {
  it('walks forward and back with one step showing at a time', async () => {
    assert.equal(await under.visible('#welcome'), true);
    assert.equal(await under.page.locator('#back').isDisabled(), true);
    assert.equal(await under.text('#next'), 'Get started');

    await under.click('#next');
    assert.equal(await under.visible('#permissions'), true);
    assert.equal(await under.visible('#welcome'), false);
    assert.equal(await under.page.locator('.nav-item[data-step="permissions"]').getAttribute('aria-current'), 'step');
    await under.click('#back');
    assert.equal(await under.visible('#welcome'), true);

    for (let i = 0; i < 6; i += 1) await under.click('#next');
    assert.equal(await under.visible('#finish'), true);
    assert.equal(await under.text('#next'), 'Finish set-up');
    assert.deepEqual(await under.takePosted(), [], 'walking the steps posts nothing');
  });

  it('finishes with the name and adds the note about the user to the context', async () => {
    await goTo('finish');
    await under.page.getByLabel('Your name').fill('Alex');
    await under.page.getByLabel('What you work on and words you use').fill('  I design board games.  ');
    await under.click('#next');
    assert.deepEqual(await under.takePosted(), [
      { action: 'appendContext', text: 'I design board games.' },
      { action: 'finishOnboarding', text: 'Alex' },
    ]);
  });
});

describe('permissions and microphone', () => {
  it('shows each permission live and posts its buttons', async () => {
    await goTo('permissions');
    assert.deepEqual(await under.page.locator('.permission-list .badge').allTextContents(), ['Not allowed', 'Not allowed', 'Not running yet']);
    assert.equal(await under.text('.status-line'), 'Starting up');
    assert.equal(await under.text('.status-hint'), 'Velvox needs the microphone.');

    await under.page.getByRole('button', { name: 'Allow microphone' }).click();
    await under.page.getByRole('button', { name: 'Turn on accessibility' }).click();
    await under.page.getByRole('button', { name: 'Choose another key' }).click();
    assert.deepEqual(await under.takePosted(), [{ action: 'askMic' }, { action: 'openAccessibility' }]);
    assert.equal(await under.visible('#hotkeys'), true);
    await goTo('permissions');

    await under.push('orvoLive', fixtures.live({ hasKey: false, ready: false, status: 'Sign in to start' }));
    assert.deepEqual(await under.page.locator('.permission-list .badge').allTextContents(), ['Allowed', 'Allowed', 'Watching']);
    assert.equal(await under.text('.status-hint'), 'Sign in to start dictating.');
    assert.equal(await under.visible('.nav-item[data-step="permissions"] .done'), true);
    assert.equal(await under.visible('.nav-item[data-step="account"] .done'), false);
    assert.equal(await under.visible('.desktop-notes'), false);

    // A Wayland desktop without accessibility: nothing to turn on, and the
    // program's notes say what works.
    const notes = ['This desktop runs Wayland.', 'This desktop has no accessibility support.'];
    await under.push('orvoLive', fixtures.live({ ax: false, axAvailable: false, desktopNotes: notes }));
    assert.deepEqual(await under.page.locator('.permission-list .badge').allTextContents(), ['Allowed', 'Not on this desktop', 'Watching']);
    assert.equal(await under.page.getByRole('button', { name: 'Turn on accessibility' }).isVisible(), false);
    assert.deepEqual(await under.page.locator('.desktop-notes li').allTextContents(), notes);
    assert.equal(await under.text('.status-hint'), 'Hold fn and speak.');
  });

  it('runs the microphone test and stops it when the step is left', async () => {
    await goTo('microphone');
    await under.page.getByRole('button', { name: 'Test microphone' }).click();
    await under.push('orvoLevel', '0.63');
    assert.equal(await under.page.locator('[role="meter"]').first().getAttribute('aria-valuenow'), '63');
    await under.page.getByRole('button', { name: 'Choose another input device…' }).click();
    await under.click('#next');
    assert.deepEqual(await under.takePosted(), [{ action: 'micTest' }, { action: 'openSound' }, { action: 'micTestStop' }]);
  });
});

describe('hotkeys and account', () => {

  it('offers sign-in or an own key and marks the step done once a key is there', async () => {
    await goTo('account');
    await under.push('orvoUsage', fixtures.argument('usage.signedOut'));
    assert.equal(await under.visible('.sign-in'), true);
    await under.page.getByLabel('E-mail', { exact: true }).fill('alex@example.com');
    await under.page.getByRole('button', { name: 'Email me a sign-in link' }).click();
    await under.push('orvoAuth', fixtures.argument('auth.linkSent'));
    assert.equal(await under.text('.sign-in > .note'), 'Check alex@example.com. The link opens Velvox and works once.');
    await under.page.getByLabel(/My own API keys/).check();
    assert.deepEqual(await under.takePosted(), [
      { action: 'signIn', text: 'alex@example.com' },
      { action: 'set', key: 'useOwnKey', bool: true },
    ]);
    await under.push('orvoLive', fixtures.live({ hasKey: true }));
    assert.equal(await under.visible('.nav-item[data-step="account"] .done'), true);
  });
});

describe('try it', () => {
  it('sets the demo kind and clears it when the step is left', async () => {
    await goTo('try');
    await under.page.locator('#demo-kinds label', { hasText: 'An e-mail' }).click();
    await under.page.locator('#demo-kinds label', { hasText: 'An AI chat' }).click();
    assert.equal(await under.page.getByLabel('An AI chat').isChecked(), true);
    await under.click('#next');
    assert.deepEqual(await under.takePosted(), [
      { action: 'demoKind', text: 'email' },
      { action: 'demoKind', text: 'prompt' },
      { action: 'demoKind', text: '' },
    ]);
  });

  it('puts dictated text into the box, after what is there, and shows the figures', async () => {
    await goTo('try');
    assert.equal(await under.text('#try-hint'), 'Click into the box, hold fn and speak. Hold right alt to try the boost.');
    await under.push('orvoInsert', { text: 'Hello team,', mode: 'plain' });
    await under.push('orvoInsert', { text: 'the launch moves to Friday.', mode: 'email' });
    assert.equal(await under.page.locator('#try-text').inputValue(), 'Hello team, the launch moves to Friday.');
    await under.push('orvoDictated', { text: 'the launch moves to Friday.', words: 5, seconds: 2.5, wpm: 120, mode: 'email' });
    assert.equal(await under.text('#try-figures'), '5 words · 120 words per minute · Email');
  });

  it('keeps markup in dictated text as text', async () => {
    await goTo('try');
    const hostile = '<img src=x onerror="window.__pwned=1">';
    await under.push('orvoInsert', { text: hostile, mode: 'plain' });
    await under.push('orvoDictated', { text: hostile, words: 2, seconds: 1, wpm: 0, mode: hostile });
    assert.equal(await under.page.locator('#try-text').inputValue(), hostile);
    assert.equal(await under.page.evaluate(() => [window.__pwned, document.querySelectorAll('img[src="x"]').length].join()), ',0');
  });
});

describe('keyboard', () => {
  it('goes through set-up with the keyboard alone', async () => {
    // The steps in the sidebar, then the footer buttons.
    await under.page.keyboard.press('Tab');
    assert.equal(await under.focused(), 'button:Welcome');
    await under.page.locator('#next').focus();
    await under.page.keyboard.press('Enter');
    assert.equal(await under.focused(), 'h2:Permissions');
    await under.page.keyboard.press('Tab');
    assert.equal(await under.focused(), 'button:Allow microphone');
    await under.page.keyboard.press('Enter');
    assert.deepEqual(await under.takePosted(), [{ action: 'askMic' }]);

    // Demo kinds are one radio group: arrows move the choice.
    await goTo('try');
    await under.page.keyboard.press('Tab');
    assert.equal(await under.page.evaluate(() => document.activeElement.value), '');
    await under.page.keyboard.press('ArrowRight');
    assert.deepEqual(await under.takePosted(), [{ action: 'demoKind', text: 'prompt' }]);
  });
});
