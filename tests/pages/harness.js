// Opens a Home page in headless Chromium with a stand-in for the program's
// side of the bridge: posted messages are recorded (and each must be an action
// of the page protocol, which the program is held to by a unit test), and
// pushes are sent as the same script text the program evaluates.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');
const { recorded } = require('./fixtures');

const RESOURCES = path.resolve(__dirname, '../../resources');
const ARTIFACTS = path.resolve(__dirname, '../../test-artifacts/pages');
const ACTIONS = new Set(require(path.join(RESOURCES, 'page-protocol.json')).actions);

function launch() {
  return chromium.launch({
    executablePath: process.env.VELVOX_CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

function recordBridge() {
  window.__posted = [];
  // A copy, as WebKit hands the program a serialised body.
  const postMessage = (body) => window.__posted.push(JSON.parse(JSON.stringify(body)));
  window.webkit = { messageHandlers: { orvo: { postMessage } } };
}

class PageUnderTest {
  constructor(context, page) {
    this.context = context;
    this.page = page;
    this.errors = [];
    this.outsideRequests = [];
    page.on('pageerror', (error) => this.errors.push(String(error)));
    page.on('console', (message) => message.type() === 'error' && this.errors.push(message.text()));
    page.on('request', (request) => {
      if (!/^(file|data):/.test(request.url())) this.outsideRequests.push(request.url());
    });
  }

  // Sends a push: an object as JSON, a string as the literal argument text.
  async push(name, argument) {
    const text = typeof argument === 'string' ? argument : JSON.stringify(argument);
    await this.page.evaluate(`window.${name} && window.${name}(${text})`);
  }

  // Messages posted since the last call, oldest first.
  async takePosted() {
    const posted = await this.page.evaluate(() => window.__posted.splice(0));
    for (const message of posted) {
      if (!ACTIONS.has(message.action)) throw new Error('the program handles no action ' + JSON.stringify(message));
    }
    return posted;
  }

  click(selector) {
    return this.page.locator(selector).click();
  }

  async text(selector) {
    return (await this.page.locator(selector).textContent()).trim();
  }

  visible(selector) {
    return this.page.locator(selector).isVisible();
  }

  screenshot(name) {
    fs.mkdirSync(ARTIFACTS, { recursive: true });
    return this.page.screenshot({ path: path.join(ARTIFACTS, name + '.png') });
  }

  // The focused element as "tag:label", for keyboard tests.
  focused() {
    return this.page.evaluate(() => {
      const node = document.activeElement;
      if (!node || node === document.body) return '';
      return node.tagName.toLowerCase() + ':' + (node.getAttribute('aria-label') || node.textContent.trim() || node.id);
    });
  }

  close() {
    return this.context.close();
  }
}

// The page at the moment and in the time zone the pushes were recorded in.
async function openPage(browser, name, options = {}) {
  const context = await browser.newContext({
    viewport: { width: 1120, height: 760 },
    colorScheme: options.colorScheme || 'dark',
    timezoneId: recorded.timeZone,
  });
  context.setDefaultTimeout(5000);
  await context.clock.setFixedTime(recorded.now * 1000);
  await context.addInitScript(recordBridge);
  const page = await context.newPage();
  const under = new PageUnderTest(context, page);
  await page.goto(pathToFileURL(path.join(RESOURCES, name + '.html')).href);
  await page.waitForLoadState('load');
  return under;
}

// Symbols and application icons drawn in the page as PNG data URLs, so
// screenshots show real images: a ring for a symbol, a coloured tile for an icon.
function drawImages(under, names, kind) {
  return under.page.evaluate(({ names, kind }) => {
    const images = {};
    names.forEach((name, i) => {
      const canvas = Object.assign(document.createElement('canvas'), { width: 64, height: 64 });
      const g = canvas.getContext('2d');
      g.fillStyle = kind === 'symbol' ? '#000' : 'hsl(' + ((i * 67) % 360) + ', 60%, 55%)';
      g.strokeStyle = '#000';
      g.lineWidth = 6;
      g.beginPath();
      if (kind === 'symbol') g.arc(32, 32, 24, 0, Math.PI * 2);
      else g.roundRect(4, 4, 56, 56, 14);
      kind === 'symbol' ? g.stroke() : g.fill();
      images[name] = canvas.toDataURL('image/png');
    });
    return images;
  }, { names, kind });
}

const SYMBOL_NAMES = Object.keys(recorded.pushes.symbols[1]);

module.exports = { launch, openPage, drawImages, SYMBOL_NAMES, ARTIFACTS };
