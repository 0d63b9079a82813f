// Opens a Home page in headless Chromium with a stand-in for the program's
// side of the bridge: posted messages are recorded (and each must be an action
// of the page protocol, which the program is held to by a unit test), and
// pushes are sent as the same script text the program evaluates.
'use strict';

const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const { recorded, argument } = require('./fixtures');

const RESOURCES = path.resolve(__dirname, '../../resources');
const ACTIONS = new Set(require(path.join(RESOURCES, 'page-protocol.json')).actions);

function launch() {
  const args = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'];
  return chromium.launch({ executablePath: process.env.VELVOX_CHROMIUM || '/usr/bin/chromium', args });
}

// Records each posted body as a copy, as WebKit hands the program a serialised body.
function recordBridge() {
  window.__posted = [];
  window.webkit = { messageHandlers: { orvo: { postMessage: (body) => window.__posted.push(JSON.parse(JSON.stringify(body))) } } };
}

class PageUnderTest {
  constructor(context, page) {
    Object.assign(this, { context, page, errors: [], outsideRequests: [] });
    page.on('pageerror', (error) => this.errors.push(String(error)));
    page.on('console', (message) => message.type() === 'error' && this.errors.push(message.text()));
    page.on('request', (request) => /^(file|data):/.test(request.url()) || this.outsideRequests.push(request.url()));
  }

  push(name, argument) {
    return this.page.evaluate(`window.${name} && window.${name}(${typeof argument === 'string' ? argument : JSON.stringify(argument)})`);
  }

  // Messages posted since the last call, oldest first.
  async takePosted() {
    const posted = await this.page.evaluate(() => window.__posted.splice(0));
    const unknown = posted.find((message) => !ACTIONS.has(message.action));
    if (unknown) throw new Error('the program handles no action ' + JSON.stringify(unknown));
    return posted;
  }

  // Opens a step or section from the navigation, which must then be showing.
  async open(name) {
    await this.click(`.nav-item[data-step="${name}"], .nav-item[data-section="${name}"]`);
    if (!(await this.visible('#' + name))) throw new Error(name + ' is not showing');
  }

  click(selector) { return this.page.locator(selector).click(); }
  button(name) { return this.page.getByRole('button', { name, exact: true }).click(); }
  async text(selector) { return (await this.page.locator(selector).textContent()).trim(); }
  visible(selector) { return this.page.locator(selector).isVisible(); }

  close() { return this.context.close(); }
}

// The page at the moment and in the time zone the pushes were recorded in.
async function openPage(browser, name) {
  const context = await browser.newContext({
    viewport: { width: 1120, height: 760 },
    colorScheme: 'dark',
    timezoneId: recorded.timeZone,
  });
  context.setDefaultTimeout(5000);
  await context.clock.setFixedTime(recorded.now * 1000);
  await context.addInitScript(recordBridge);
  const under = new PageUnderTest(context, await context.newPage());
  await under.page.goto(pathToFileURL(path.join(RESOURCES, name + '.html')).href); // waits for 'load'
  return under;
}

// Runs each test of the calling file or suite on a fresh page `name`, which must
// first ask for the state, with the recorded symbols and `state` pushed, handed
// to `opened`; afterwards the page must have had no errors and made no outside
// requests.
const { before, after, beforeEach, afterEach, it } = require('node:test');
const assert = require('node:assert/strict');
let under;
function eachTestOn(name, state, opened) {
  let browser;
  before(async () => { browser = await launch(); });
  after(() => browser.close());
  beforeEach(async () => {
    under = await openPage(browser, name);
    assert.deepEqual(await under.takePosted(), [{ action: 'ready' }]);
    await under.push('orvoSymbols', argument('symbols'));
    await under.push('orvoState', state);
    opened(under);
  });
  afterEach(async () => { assert.deepEqual([under.errors, under.outsideRequests], [[], []]); await under.close(); });
}

// One test for each row [step or section, act, messages]: acting there posts exactly those messages.
function testControls(rows) {
  for (const [name, act, posted] of rows) {
    it('posts what the controls of ' + name + ' do', async () => {
      await under.open(name);
      await act();
      assert.deepEqual(await under.takePosted(), posted);
    });
  }
}

module.exports = { eachTestOn, testControls };
