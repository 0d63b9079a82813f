// The onboarding page: a few steps from permissions to a first dictation,
// ending with the user's name. Every step can be revisited from the sidebar.
(function () {
  'use strict';
  const { on, post, show, count, formatNumber, modeName } = window.Velvox;
  const $ = (id) => document.getElementById(id);

  Velvox.bindTitleBar($('titlebar'));
  Velvox.bindActionButtons(document);
  Widgets.status($('status-card'));
  const micTest = Widgets.micTest($('mic-card'));
  Widgets.hotkeys($('hotkeys-card'));
  Widgets.account($('account-card'));

  // ---- Steps ------------------------------------------------------------------

  const navItems = Array.from(document.querySelectorAll('.nav-item[data-step]'));
  const steps = navItems.map((item) => item.dataset.step);
  let current = 0;
  let demoKind = '';

  function showStep(index, moveFocus) {
    const leaving = steps[current];
    current = Math.max(0, Math.min(steps.length - 1, index));
    if (leaving === 'microphone' && steps[current] !== 'microphone') micTest.stop();
    if (leaving === 'try' && steps[current] !== 'try') setDemoKind('');
    navItems.forEach((item, i) => {
      if (i === current) item.setAttribute('aria-current', 'step');
      else item.removeAttribute('aria-current');
      show($(steps[i]), i === current);
    });
    $('back').disabled = current === 0;
    $('next').textContent = current === steps.length - 1 ? 'Finish set-up' : current === 0 ? 'Get started' : 'Continue';
    if (moveFocus) $(steps[current] + '-title').focus();
  }

  navItems.forEach((item, i) => item.addEventListener('click', () => showStep(i, true)));
  $('back').addEventListener('click', () => showStep(current - 1, true));
  $('next').addEventListener('click', () => {
    if (current < steps.length - 1) showStep(current + 1, true);
    else finish();
  });
  showStep(0, false);
  Widgets.permissions($('permissions-card'), { chooseKey: () => showStep(steps.indexOf('hotkeys'), true) });

  function finish() {
    micTest.stop();
    const about = $('about').value.trim();
    if (about) post('appendContext', { text: about });
    post('finishOnboarding', { text: $('user-name').value });
  }

  // Steps that are complete get a check mark in the sidebar.
  function markDone(step, done) {
    const mark = navItems[steps.indexOf(step)].querySelector('.done');
    if (mark) show(mark, done);
  }

  on('live', (live) => {
    // Accessibility is optional: without it the text is pasted.
    markDone('permissions', live.mic === true && live.tap === true);
    markDone('account', live.hasKey === true);
    const main = typeof live.mainKeyName === 'string' && live.mainKeyName ? live.mainKeyName : 'your dictation key';
    const boost = typeof live.boostKeyName === 'string' && live.boostKeyName ? live.boostKeyName : '';
    $('try-hint').textContent =
      'Click into the box, hold ' + main + ' and speak.' + (boost ? ' Hold ' + boost + ' to try the boost.' : '');
  });

  // ---- Try it -------------------------------------------------------------------

  function setDemoKind(kind) {
    if (kind === demoKind) return;
    demoKind = kind;
    document.querySelectorAll('input[name="demo-kind"]').forEach((input) => {
      input.checked = input.value === kind;
    });
    post('demoKind', { text: kind });
  }
  document.querySelectorAll('input[name="demo-kind"]').forEach((input) => {
    input.addEventListener('change', () => {
      if (input.checked) setDemoKind(input.value);
    });
  });

  on('insert', (payload) => {
    Velvox.insertText(payload.text, $('try-text'));
  });

  on('dictated', (info) => {
    const parts = [count(info.words, 'word')];
    if (Number.isFinite(info.wpm) && info.wpm > 0) parts.push(formatNumber(info.wpm) + ' words per minute');
    parts.push(modeName(info.mode));
    $('try-figures').textContent = parts.join(' · ');
  });
})();
