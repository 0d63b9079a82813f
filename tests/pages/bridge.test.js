// What both Home pages share: tolerance of every push and the
// Content-Security-Policy.
'use strict';

const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { eachTestOn } = require('./harness');
const fixtures = require('./fixtures');

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
    let under;
    eachTestOn(pageName, fixtures.argument('state'), (page) => { under = page; });

    // Hostile text stays text in every section.
    it('takes every push the program sends without errors, injection or outside requests', async () => {
      for (const [name, argument] of fixtures.pushes()) await under.push(name, argument);
      for (const item of await under.page.locator('.nav-item').all()) await item.click();
      const found = await under.page.evaluate(() => ({
        pwned: window.__pwned,
        injected: document.querySelectorAll('img[src="x"], b').length,
      }));
      assert.deepEqual(found, { pwned: undefined, injected: 0 });
      await under.takePosted();
    });

    it('refuses inline scripts and styles and everything from outside', async () => {
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
      // Each refusal is reported on the console, and a blocked load still shows as a request.
      under.errors.length = 0;
      under.outsideRequests.length = 0;
    });
  });
}
