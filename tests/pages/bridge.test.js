// What both Home pages share: the page functions, symbols, the level meter,
// the title strip, and that nothing reaches outside the bundled files.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { launch, openPage } = require('./harness');
const fixtures = require('./fixtures');

const PAGE_FUNCTIONS = require('../../resources/page-protocol.json').functions;

let browser;
before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

for (const pageName of ['onboarding', 'settings']) {
  describe(pageName + ' page bridge', () => {
    it('asks for the state once loaded and defines every page function the program calls', async () => {
      const under = await openPage(browser, pageName);
      assert.deepEqual(await under.takePosted(), [{ action: 'ready' }]);
      const types = await under.page.evaluate((names) => names.map((n) => typeof window[n]), PAGE_FUNCTIONS);
      assert.deepEqual(types, PAGE_FUNCTIONS.map(() => 'function'));
      await under.close();
    });

    it('takes every push the program sends without errors or outside requests', async () => {
      const under = await openPage(browser, pageName);
      for (const [name, argument] of fixtures.pushes()) await under.push(name, argument);
      const found = await under.page.evaluate(() => ({
        pwned: window.__pwned,
        injected: document.querySelectorAll('img[src="x"], b').length,
      }));
      assert.deepEqual(found, { pwned: undefined, injected: 0 });
      assert.deepEqual(under.errors, []);
      assert.deepEqual(under.outsideRequests, []);
      await under.close();
    });

    // Only the bundled scripts and styles and image data may load: each of
    // these is refused by the page's Content-Security-Policy.
    const refused = [
      ['an inline script', 'script-src-elem', () => { const s = document.createElement('script'); s.textContent = 'window.__ran = 1'; document.body.append(s); }],
      ['an inline style', 'style-src-attr', () => document.body.setAttribute('style', 'color: red')],
      ['a style sheet from outside', 'style-src-elem', () => { const l = document.createElement('link'); l.rel = 'stylesheet'; l.href = 'https://example.invalid/x.css'; document.head.append(l); }],
      ['an image from outside', 'img-src', () => { const i = new Image(); i.src = 'https://example.invalid/x.png'; document.body.append(i); }],
      ['a request', 'connect-src', () => fetch('https://example.invalid/x').catch(() => {})],
      ['a frame', 'frame-src', () => { const f = document.createElement('iframe'); f.src = 'https://example.invalid/'; document.body.append(f); }],
    ];
    for (const [what, directive, attempt] of refused) {
      it('refuses ' + what, async () => {
        const under = await openPage(browser, pageName);
        const violated = await under.page.evaluate(
          (source) =>
            new Promise((resolve) => {
              document.addEventListener('securitypolicyviolation', (event) => resolve(event.effectiveDirective));
              (0, eval)('(' + source + ')')();
              setTimeout(() => resolve('none'), 2000);
            }),
          attempt.toString()
        );
        assert.equal(violated, directive);
        assert.equal(await under.page.evaluate(() => window.__ran), undefined);
        await under.close();
      });
    }

    it('shows symbols once they arrive and ignores anything but image data', async () => {
      const under = await openPage(browser, pageName);
      const first = under.page.locator('.sidebar [data-symbol]').first();
      const name = await first.getAttribute('data-symbol');
      assert.equal(await first.evaluate((n) => n.classList.contains('has-image')), false);
      assert.ok((await first.boundingBox()).width > 0, 'the placeholder keeps its space');

      const symbols = { [name]: fixtures.argument('symbols')[name] };
      symbols.keyboard = 'https://example.invalid/keyboard.png';
      symbols.waveform = 'data:image/png;base64,AAAA") ; background: url("https://example.invalid/x';
      await under.push('orvoSymbols', symbols);

      const painted = await under.page.evaluate((name) => ({
        first: document.querySelector('.sidebar [data-symbol="' + name + '"]').style.getPropertyValue('--symbol'),
        keyboard: document.querySelector('[data-symbol="keyboard"]').style.getPropertyValue('--symbol'),
        waveform: document.querySelector('[data-symbol="waveform"]').style.getPropertyValue('--symbol'),
      }), name);
      assert.equal(painted.first, 'url("' + symbols[name] + '")');
      assert.equal(await first.evaluate((n) => n.classList.contains('has-image')), true);
      assert.equal(painted.keyboard, '');
      assert.equal(painted.waveform, '');
      assert.deepEqual(under.outsideRequests, []);
      await under.close();
    });

    it('moves the window from the title strip, but not from its controls', async () => {
      const under = await openPage(browser, pageName);
      await under.takePosted();
      const strip = under.page.locator('#titlebar');
      await strip.click();
      assert.deepEqual(await under.takePosted(), [{ action: 'dragWindow' }]);
      await strip.dblclick();
      const posted = await under.takePosted();
      assert.deepEqual(posted, [{ action: 'dragWindow' }, { action: 'titleBarDoubleClick' }]);
      await under.close();
    });

    it('shows the microphone level only while its test runs', async () => {
      const under = await openPage(browser, pageName);
      const section = pageName === 'settings' ? '[data-section="permissions"]' : '[data-step="microphone"]';
      await under.click('.nav-item' + section);
      await under.takePosted();
      const meter = under.page.locator('.mic-test [role="meter"]');
      await under.push('orvoLevel', '0.7');
      assert.equal(await meter.getAttribute('aria-valuenow'), '0');

      await under.page.locator('.mic-test button').click();
      assert.deepEqual(await under.takePosted(), [{ action: 'micTest' }]);
      await under.push('orvoLevel', '0.42');
      assert.equal(await meter.getAttribute('aria-valuenow'), '42');
      await under.push('orvoLevel', '3');
      assert.equal(await meter.getAttribute('aria-valuenow'), '100');

      await under.page.locator('.mic-test button').click();
      assert.deepEqual(await under.takePosted(), [{ action: 'micTestStop' }]);
      assert.equal(await meter.getAttribute('aria-valuenow'), '0');
      await under.close();
    });

    it('speaks of this desktop, not of another system', async () => {
      const under = await openPage(browser, pageName);
      await under.push('orvoState', fixtures.state());
      const words = await under.page.evaluate(() => document.body.textContent);
      for (const foreign of [/menu bar/i, /input monitoring/i, /\bMac\b/, /System Settings/, /System Preferences/, /Finder/, /\/Applications/]) {
        assert.doesNotMatch(words, foreign);
      }
      await under.close();
    });

    // theme chosen × the desktop's scheme as the program reads it × the
    // browser's own preference (used only until the program has said).
    const themes = [
      { theme: 'dark', systemScheme: 'light', browser: 'light', looks: 'dark' },
      { theme: 'light', systemScheme: 'dark', browser: 'dark', looks: 'light' },
      { theme: 'system', systemScheme: 'light', browser: 'dark', looks: 'light' },
      { theme: 'system', systemScheme: 'dark', browser: 'light', looks: 'dark' },
      { theme: 'system', systemScheme: undefined, browser: 'light', looks: 'light' },
      { theme: 'system', systemScheme: undefined, browser: 'dark', looks: 'dark' },
    ];
    it('follows the theme the state names, and the desktop for "system"', async () => {
      const backgrounds = {};
      for (const browserScheme of ['light', 'dark']) {
        const under = await openPage(browser, pageName, { colorScheme: browserScheme });
        for (const looks of ['dark', 'light']) {
          await under.push('orvoState', fixtures.state({ overrides: { theme: looks } }));
          backgrounds[looks] = await under.page.evaluate(() => getComputedStyle(document.body).backgroundColor);
        }
        assert.notEqual(backgrounds.dark, backgrounds.light);
        for (const row of themes.filter((r) => r.browser === browserScheme)) {
          await under.push('orvoState', fixtures.state({ overrides: { theme: row.theme, systemScheme: row.systemScheme } }));
          const shown = await under.page.evaluate(() => getComputedStyle(document.body).backgroundColor);
          assert.equal(shown, backgrounds[row.looks], JSON.stringify(row));
        }
        await under.close();
      }
    });
  });
}
