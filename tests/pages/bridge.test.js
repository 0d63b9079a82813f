// What both Home pages share: tolerance of every push and the
// Content-Security-Policy.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { launch, openPage } = require('./harness');
const fixtures = require('./fixtures');

let browser;
before(async () => { browser = await launch(); });
after(() => browser.close());

// Each attempt is refused by the page's Content-Security-Policy, under this directive.
const refused = [
  ['script-src-elem', () => { const s = document.createElement('script'); s.textContent = 'window.__ran = 1'; document.body.append(s); }],
  ['style-src-attr', () => document.body.setAttribute('style', 'color: red')],
  ['style-src-elem', () => { const l = document.createElement('link'); l.rel = 'stylesheet'; l.href = 'https://example.invalid/x.css'; document.head.append(l); }],
  ['img-src', () => { const i = new Image(); i.src = 'https://example.invalid/x.png'; document.body.append(i); }],
  ['connect-src', () => fetch('https://example.invalid/x').catch(() => {})],
  ['frame-src', () => { const f = document.createElement('iframe'); f.src = 'https://example.invalid/'; document.body.append(f); }],
];

for (const pageName of ['onboarding', 'settings']) {
  describe(pageName + ' page bridge', () => {
    // It asks for the state once loaded; hostile text stays text in every section, and
    // nothing reaches outside the bundled files.
    it('takes every push the program sends without errors, injection or outside requests', async () => {
      const under = await openPage(browser, pageName);
      assert.deepEqual(await under.takePosted(), [{ action: 'ready' }]);
      for (const [name, argument] of fixtures.pushes()) await under.push(name, argument);
      for (const item of await under.page.locator('.nav-item').all()) await item.click();
      const found = await under.page.evaluate(() => ({
        pwned: window.__pwned,
        injected: document.querySelectorAll('img[src="x"], b').length,
      }));
      assert.deepEqual(found, { pwned: undefined, injected: 0 });
      assert.deepEqual([under.errors, under.outsideRequests], [[], []]);
      await under.takePosted();
      await under.close();
    });

    it('refuses inline scripts and styles and everything from outside', async () => {
      const under = await openPage(browser, pageName);
      for (const [directive, attempt] of refused) {
        const violated = await under.page.evaluate(
          (source) =>
            new Promise((resolve) => {
              document.addEventListener('securitypolicyviolation', (event) => resolve(event.effectiveDirective), { once: true });
              (0, eval)('(' + source + ')')();
              setTimeout(() => resolve('none'), 2000);
            }),
          attempt.toString()
        );
        assert.equal(violated, directive);
      }
      assert.equal(await under.page.evaluate(() => window.__ran), undefined);
      await under.close();
    });
  });
}
