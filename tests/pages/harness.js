// Opens a Home page in headless Chromium with a stand-in for the program's
// side of the bridge: posted messages are recorded, and pushes are sent as the
// same script text the program evaluates ("window.f && window.f(argument)").
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');

const RESOURCES = path.resolve(__dirname, '../../resources');
const ARTIFACTS = path.resolve(__dirname, '../../test-artifacts/pages');

const CHROMIUM_ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

function launch() {
  return chromium.launch({
    executablePath: process.env.VELVOX_CHROMIUM || '/usr/bin/chromium',
    args: CHROMIUM_ARGS,
  });
}

function recordBridge() {
  window.__posted = [];
  window.webkit = {
    messageHandlers: {
      orvo: {
        // A copy, as WebKit hands the program a serialised body.
        postMessage: (body) => window.__posted.push(JSON.parse(JSON.stringify(body))),
      },
    },
  };
}

class PageUnderTest {
  constructor(context, page) {
    this.context = context;
    this.page = page;
    this.errors = [];
    this.outsideRequests = [];
    page.on('pageerror', (error) => this.errors.push(String(error)));
    page.on('console', (message) => {
      if (message.type() === 'error') this.errors.push(message.text());
    });
    page.on('request', (request) => {
      if (!/^(file|data):/.test(request.url())) this.outsideRequests.push(request.url());
    });
  }

  // Sends a push exactly as the program builds it. `argument` is either an
  // object (serialised as JSON) or the literal argument text.
  async push(name, argument) {
    const text = typeof argument === 'string' ? argument : JSON.stringify(argument);
    await this.page.evaluate(`window.${name} && window.${name}(${text})`);
  }

  // Messages posted since the last call, oldest first.
  async takePosted() {
    return this.page.evaluate(() => window.__posted.splice(0));
  }

  async click(selector) {
    await this.page.locator(selector).click();
  }

  async text(selector) {
    return (await this.page.locator(selector).textContent()).trim();
  }

  async visible(selector) {
    return this.page.locator(selector).isVisible();
  }

  async screenshot(name) {
    fs.mkdirSync(ARTIFACTS, { recursive: true });
    await this.page.screenshot({ path: path.join(ARTIFACTS, name + '.png') });
  }

  // Describes the focused element, for keyboard tests.
  async focused() {
    return this.page.evaluate(() => {
      const node = document.activeElement;
      if (!node || node === document.body) return '';
      const label = node.getAttribute('aria-label') || node.textContent.trim() || node.id;
      return node.tagName.toLowerCase() + ':' + label;
    });
  }

  close() {
    return this.context.close();
  }
}

async function openPage(browser, name, options = {}) {
  const context = await browser.newContext({
    viewport: { width: 1120, height: 760 },
    colorScheme: options.colorScheme || 'dark',
  });
  // Fail fast: every control under test is on the page already.
  context.setDefaultTimeout(5000);
  await context.addInitScript(recordBridge);
  const page = await context.newPage();
  const under = new PageUnderTest(context, page);
  await page.goto(pathToFileURL(path.join(RESOURCES, name + '.html')).href);
  await page.waitForLoadState('load');
  return under;
}

// Images standing in for the program's symbol and application icons: a glyph
// or a tile drawn on a canvas in the page, returned as PNG data URLs.
async function drawImages(under, names, kind) {
  return under.page.evaluate(
    ({ names, kind }) => {
      const images = {};
      names.forEach((name, i) => {
        const canvas = document.createElement('canvas');
        canvas.width = canvas.height = 64;
        const g = canvas.getContext('2d');
        if (kind === 'symbol') {
          g.strokeStyle = '#000';
          g.lineWidth = 6;
          g.beginPath();
          g.arc(32, 32, 24, 0, Math.PI * 2);
          g.stroke();
          g.fillStyle = '#000';
          g.fillRect(28, 18 + (i % 3) * 4, 8, 24);
        } else {
          g.fillStyle = 'hsl(' + ((i * 67) % 360) + ', 60%, 55%)';
          g.beginPath();
          g.roundRect(4, 4, 56, 56, 14);
          g.fill();
          g.fillStyle = '#fff';
          g.font = 'bold 34px sans-serif';
          g.textAlign = 'center';
          g.fillText(name.split('.').pop()[0].toUpperCase(), 32, 44);
        }
        images[name] = canvas.toDataURL('image/png');
      });
      return images;
    },
    { names, kind }
  );
}

const SYMBOL_NAMES = [
  'square.grid.2x2', 'waveform', 'text.alignleft', 'character.book.closed', 'chart.bar.xaxis',
  'person.crop.circle', 'mic', 'hand.raised', 'keyboard', 'circle.lefthalf.filled', 'power',
  'text.cursor', 'doc.on.clipboard', 'timer', 'stop.circle', 'sparkles', 'clock', 'folder',
  'doc.text', 'lock', 'key', 'checkmark.circle', 'envelope', 'person', 'creditcard',
  'arrow.up.forward.app', 'doc.plaintext', 'rectangle.and.pencil.and.ellipsis', 'bolt', 'message',
  'chevron.left.forwardslash.chevron.right', 'ellipsis.circle',
];

module.exports = { launch, openPage, drawImages, SYMBOL_NAMES, ARTIFACTS };
