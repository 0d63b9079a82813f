// The onboarding page: what each step posts and shows.
'use strict';

const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { eachTestOn, testControls } = require('./harness');
const fixtures = require('./fixtures');

// A first launch: nothing granted yet, no account.
let under;
eachTestOn('onboarding', fixtures.argument('state', { live: fixtures.argument('live.fresh'), recent: [], smartApps: [] }), (page) => { under = page; });

const button = (name) => under.page.getByRole('button', { name }).click();

// Each step's controls, used in turn, and the messages they post; leaving a
// step stops its microphone test or clears its demo kind.
const steps = [
  ['welcome', async () => {
    for (let i = 0; i < 6; i += 1) await under.click('#next');
    assert.equal(await under.visible('#finish'), true);
  }, []],
  ['permissions', async () => {
    await button('Allow microphone');
    await button('Turn on accessibility');
  }, [{ action: 'askMic' }, { action: 'openAccessibility' }]],
  ['microphone', async () => {
    await button('Test microphone');
    await under.push('orvoLevel', '0.63');
    assert.equal(await under.page.locator('[role="meter"]').first().getAttribute('aria-valuenow'), '63');
    await button('Choose another input device…');
    await under.click('#next');
  }, [{ action: 'micTest' }, { action: 'openSound' }, { action: 'micTestStop' }]],
  ['account', async () => {
    await under.push('orvoUsage', fixtures.argument('usage.signedOut'));
    await under.page.getByLabel('E-mail', { exact: true }).fill('alex@example.com');
    await button('Email me a sign-in link');
    await under.page.getByLabel(/My own API keys/).check();
  }, [{ action: 'signIn', text: 'alex@example.com' }, { action: 'set', key: 'useOwnKey', bool: true }]],
  ['try', async () => {
    await under.page.locator('#demo-kinds label', { hasText: 'An e-mail' }).click();
    await under.page.locator('#demo-kinds label', { hasText: 'An AI chat' }).click();
    await under.click('#next');
  }, [{ action: 'demoKind', text: 'email' }, { action: 'demoKind', text: 'prompt' }, { action: 'demoKind', text: '' }]],
  ['finish', async () => {
    await under.page.getByLabel('Your name').fill('Alex');
    await under.page.getByLabel('What you work on and words you use').fill('  I design board games.  ');
    await under.click('#next');
  }, [{ action: 'appendContext', text: 'I design board games.' }, { action: 'finishOnboarding', text: 'Alex' }]],
];
describe('steps', () => testControls(steps));

describe('what the pushes show', () => {
  it('puts dictated text into the try-it box, after what is there', async () => {
    await under.open('try');
    await under.push('orvoInsert', { text: 'Hello team,', mode: 'plain' });
    await under.push('orvoInsert', { text: 'the launch moves to Friday.', mode: 'email' });
    assert.equal(await under.page.locator('#try-text').inputValue(), 'Hello team, the launch moves to Friday.');
  });
});
