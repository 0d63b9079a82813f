// The onboarding page: what each step posts and shows.
'use strict';

const { describe } = require('node:test');
const assert = require('node:assert/strict');
const { eachTestOn, testControls } = require('./harness');
const fixtures = require('./fixtures');

// A first launch: nothing granted yet, no account.
let under;
eachTestOn('onboarding', fixtures.argument('state', { live: fixtures.argument('live.fresh'), recent: [], smartApps: [] }), (page) => { under = page; });

// Each step's controls, used in turn, and the messages they post; leaving a
// step stops its microphone test or clears its demo kind.
const steps = [
  ['permissions', async () => {
    await under.button('Allow microphone');
    await under.button('Turn on accessibility');
  }, [{ action: 'askMic' }, { action: 'openAccessibility' }]],
  ['microphone', async () => {
    await under.button('Test microphone');
    await under.push('orvoLevel', '0.63');
    assert.equal(await under.page.locator('[role="meter"]').first().getAttribute('aria-valuenow'), '63');
    await under.button('Choose another input device…');
    await under.click('#next');
  }, [{ action: 'micTest' }, { action: 'openSound' }, { action: 'micTestStop' }]],
  // The account step is the widget the settings page shows too; its sign-in is checked there.
  ['account', () => under.page.getByLabel(/My own API keys/).check(), [{ action: 'set', key: 'useOwnKey', bool: true }]],
  ['try', async () => {
    await under.page.locator('#demo-kinds label', { hasText: 'An e-mail' }).click();
    await under.page.locator('#demo-kinds label', { hasText: 'An AI chat' }).click();
    // Dictated text goes into the try-it box, after what is there.
    await under.push('orvoInsert', { text: 'Hello team,', mode: 'plain' });
    await under.push('orvoInsert', { text: 'the launch moves to Friday.', mode: 'email' });
    assert.equal(await under.page.locator('#try-text').inputValue(), 'Hello team, the launch moves to Friday.');
    await under.click('#next');
  }, [{ action: 'demoKind', text: 'email' }, { action: 'demoKind', text: 'prompt' }, { action: 'demoKind', text: '' }]],
  ['finish', async () => {
    await under.page.getByLabel('Your name').fill('Alex');
    await under.page.getByLabel('What you work on and words you use').fill('  I design board games.  ');
    await under.click('#next');
  }, [{ action: 'appendContext', text: 'I design board games.' }, { action: 'finishOnboarding', text: 'Alex' }]],
];
describe('steps', () => testControls(steps));
