// The settings page: sections chosen from the sidebar, each fed from the state
// object the program pushes. Lists are saved as soon as they change.
(function () {
  'use strict';
  const { h, on, post, clear, show, isObject, count, appIcon, symbol, modeName, formatNumber } = window.Velvox;
  const $ = (id) => document.getElementById(id);

  Velvox.bindTitleBar($('titlebar'));
  Velvox.bindActionButtons(document);
  Velvox.bindSettings(document);
  Widgets.status($('status-card'));
  Widgets.hotkeys($('hotkeys-card'));
  Widgets.account($('account-card'));
  const micTest = Widgets.micTest($('mic-card'));

  // ---- Sections ---------------------------------------------------------------

  const navItems = Array.from(document.querySelectorAll('.nav-item[data-section]'));
  function showSection(name, moveFocus) {
    for (const item of navItems) {
      const selected = item.dataset.section === name;
      item.setAttribute('aria-current', selected ? 'true' : 'false');
      show($(item.dataset.section), selected);
    }
    if (name !== 'permissions') micTest.stop();
    if (moveFocus) $(name + '-title').focus();
  }
  navItems.forEach((item) => item.addEventListener('click', () => showSection(item.dataset.section, true)));
  $('open-stats').addEventListener('click', () => showSection('stats', true));
  showSection('home', false);
  Widgets.permissions($('permissions-card'), { chooseKey: () => showSection('hotkeys', true) });

  // Arrow keys move between sidebar entries, as in any list of tabs.
  $('main').previousElementSibling.addEventListener('keydown', (event) => {
    const index = navItems.indexOf(document.activeElement);
    if (index < 0 || (event.key !== 'ArrowDown' && event.key !== 'ArrowUp')) return;
    event.preventDefault();
    const next = (index + (event.key === 'ArrowDown' ? 1 : navItems.length - 1)) % navItems.length;
    navItems[next].focus();
  });

  // ---- State that several sections read ---------------------------------------------

  let state = {};
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  const strings = (value) => (Array.isArray(value) ? value.filter((v) => typeof v === 'string') : []);
  const cfg = () => (isObject(state.cfg) ? state.cfg : {});
  const icons = () => (isObject(state.icons) ? state.icons : {});

  on('state', (next) => {
    const previous = state;
    state = next;
    $('version').textContent = typeof next.version === 'string' ? next.version : '';
    $('build').textContent =
      'Velvox ' + (typeof next.version === 'string' ? next.version : '') +
      (typeof next.build === 'string' && next.build ? ' (' + next.build + ')' : '');
    $('theme').value = ['dark', 'light', 'system'].includes(next.theme) ? next.theme : 'system';
    $('login-item').checked = next.loginItem === true;
    // Lists are rebuilt only when they changed, so a push never disturbs typing.
    const before = isObject(previous.cfg) ? previous.cfg : null;
    if (!before || !same(before.vocabulary, cfg().vocabulary)) keepFocus([$('vocabulary-list')], renderVocabulary, $('vocabulary-input'));
    if (!before || !same(before.corrections, cfg().corrections)) keepFocus([$('corrections-rows')], renderCorrections, $('correction-from'));
    const appsNow = [cfg().promptModeApps, next.appNames, next.smartApps, next.icons];
    const appsBefore = [before && before.promptModeApps, previous.appNames, previous.smartApps, previous.icons];
    if (!before || !same(appsBefore, appsNow)) keepFocus([$('prompt-apps'), $('smart-apps')], renderPromptApps, $('add-app'));
    const inputsNow = [cfg().inputDevice, next.inputDevices];
    if (!before || !same([before.inputDevice, previous.inputDevices], inputsNow)) renderInputDevices();
    renderContext(typeof next.context === 'string' ? next.context : '');
    renderModels();
    renderPrompt(false);
    renderStats();
    renderRecent();
  });

  $('theme').addEventListener('change', () => {
    // Shown at once; the program stores the choice and sets the window's own look.
    Widgets.applyTheme($('theme').value);
    post('set', { key: 'theme', text: $('theme').value });
  });
  $('input-device').addEventListener('change', () => post('set', { key: 'inputDevice', text: $('input-device').value }));

  // The system's default first; a chosen microphone that is not connected
  // stays listed, so the choice is not lost by a push while it is away.
  function renderInputDevices() {
    const chosen = typeof cfg().inputDevice === 'string' ? cfg().inputDevice : '';
    const devices = (Array.isArray(state.inputDevices) ? state.inputDevices : []).filter(
      (d) => isObject(d) && typeof d.name === 'string' && d.name && typeof d.label === 'string'
    );
    const options = [h('option', { value: '' }, 'System default')];
    for (const device of devices) options.push(h('option', { value: device.name }, device.label || device.name));
    if (chosen && !devices.some((d) => d.name === chosen)) {
      options.push(h('option', { value: chosen }, chosen + ' (not connected)'));
    }
    const select = $('input-device');
    clear(select);
    select.append(...options);
    select.value = chosen;
  }
  $('login-item').addEventListener('change', () => post('set', { key: 'loginItem', bool: $('login-item').checked }));

  // ---- Models and prompts ---------------------------------------------------------

  const defaults = () => (isObject(state.defaults) ? state.defaults : {});
  document.querySelectorAll('[data-default]').forEach((button) => {
    button.addEventListener('click', () => {
      const text = defaults()[button.dataset.default];
      if (typeof text === 'string') post('set', { key: button.dataset.default, text });
    });
  });
  function renderModels() {
    for (const [list, key] of [['transcribe-models', 'transcribeModel'], ['cleanup-models', 'cleanupModel']]) {
      const value = defaults()[key];
      clear($(list)).append(...(typeof value === 'string' ? [h('option', { value })] : []));
    }
  }

  // One prompt at a time; text being edited is never replaced by a push.
  const promptText = $('prompt-text');
  let savedPrompt = null;
  function renderPrompt(switching) {
    const key = $('prompt-choice').value;
    const text = typeof cfg()[key] === 'string' ? cfg()[key] : '';
    const editing = !switching && savedPrompt !== null && promptText.value !== savedPrompt;
    savedPrompt = text;
    if (!editing) promptText.value = text;
    updatePromptState();
  }
  function updatePromptState() {
    const builtIn = defaults()[$('prompt-choice').value];
    $('prompt-state').textContent =
      promptText.value !== savedPrompt ? 'Unsaved changes' : savedPrompt === builtIn ? 'Built-in text' : 'Your own text';
  }
  promptText.addEventListener('input', updatePromptState);
  $('prompt-choice').addEventListener('change', () => renderPrompt(true));
  $('prompt-save').addEventListener('click', () => {
    post('set', { key: $('prompt-choice').value, text: promptText.value });
    savedPrompt = promptText.value;
    updatePromptState();
  });
  $('prompt-reset').addEventListener('click', () => {
    const builtIn = defaults()[$('prompt-choice').value];
    if (typeof builtIn !== 'string') return;
    promptText.value = builtIn;
    post('set', { key: $('prompt-choice').value, text: builtIn });
    savedPrompt = builtIn;
    updatePromptState();
  });

  // ---- Last dictation and text handed to the page ---------------------------------

  on('dictated', (info) => {
    const parts = [count(info.words, 'word')];
    if (Number.isFinite(info.wpm) && info.wpm > 0) parts.push(formatNumber(info.wpm) + ' wpm');
    if (Number.isFinite(info.seconds)) parts.push(info.seconds.toFixed(1) + ' s');
    parts.push(modeName(info.mode));
    $('last-dictation-meta').textContent = parts.join(' · ');
    $('last-dictation-text').textContent = typeof info.text === 'string' ? info.text : '';
  });

  // A failed dictation's take is kept: it can be tried again from here.
  on('live', (live) => { $('retry-actions').hidden = live.canRetry !== true; });

  on('insert', (payload) => {
    // Text dictated while this window has the focus goes into the field being
    // edited; with no field focused it is shown on the home section instead.
    if (!Velvox.insertText(payload.text, null)) {
      $('last-dictation-text').textContent = payload.text;
    }
  });

  // Rebuilding a list removes the control that had the focus; give the focus
  // to the control at the same place afterwards so keyboard users keep theirs.
  function keepFocus(containers, render, fallback) {
    const controls = () => containers.flatMap((c) => Array.from(c.querySelectorAll('input, button')));
    const index = controls().indexOf(document.activeElement);
    render();
    if (index < 0) return;
    const after = controls();
    if (after.length) after[Math.min(index, after.length - 1)].focus();
    else fallback.focus();
  }

  // ---- Vocabulary ---------------------------------------------------------------

  function saveVocabulary(list) {
    post('saveVocabulary', { list });
  }
  function renderVocabulary() {
    const list = clear($('vocabulary-list'));
    const words = strings(cfg().vocabulary);
    words.forEach((word, index) => {
      list.appendChild(
        h(
          'li',
          { class: 'chip' },
          h('span', {}, word),
          h(
            'button',
            {
              type: 'button',
              'aria-label': 'Remove ' + word,
              onclick: () => saveVocabulary(words.filter((_, i) => i !== index)),
            },
            '×'
          )
        )
      );
    });
    if (!words.length) list.appendChild(h('li', { class: 'empty' }, 'No words yet.'));
  }
  $('vocabulary-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = $('vocabulary-input');
    const word = input.value.trim();
    if (!word) return;
    const words = strings(cfg().vocabulary);
    if (!words.includes(word)) saveVocabulary(words.concat(word));
    input.value = '';
  });

  // ---- Corrections --------------------------------------------------------------

  function correctionPairs() {
    const map = isObject(cfg().corrections) ? cfg().corrections : {};
    return Object.entries(map).filter(([, to]) => typeof to === 'string');
  }
  function saveCorrections(pairs) {
    const map = {};
    for (const [from, to] of pairs) if (from.trim()) map[from] = to;
    post('saveCorrections', { map });
  }
  function renderCorrections() {
    const rows = clear($('corrections-rows'));
    const pairs = correctionPairs();
    pairs.forEach(([from, to], index) => {
      const heard = h('input', { type: 'text', value: from, 'aria-label': 'Heard' });
      const written = h('input', { type: 'text', value: to, 'aria-label': 'Written as' });
      const update = () => {
        const next = pairs.slice();
        next[index] = [heard.value, written.value];
        saveCorrections(next);
      };
      heard.addEventListener('change', update);
      written.addEventListener('change', update);
      rows.appendChild(
        h(
          'tr',
          {},
          h('td', {}, heard),
          h('td', {}, written),
          h(
            'td',
            {},
            h(
              'button',
              {
                type: 'button',
                class: 'button small',
                'aria-label': 'Remove ' + from,
                onclick: () => saveCorrections(pairs.filter((_, i) => i !== index)),
              },
              'Remove'
            )
          )
        )
      );
    });
    if (!pairs.length) rows.appendChild(h('tr', {}, h('td', { class: 'empty', colspan: '3' }, 'No corrections yet.')));
  }
  $('corrections-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const from = $('correction-from');
    const to = $('correction-to');
    if (!from.value.trim()) return;
    const pairs = correctionPairs().filter(([heard]) => heard !== from.value);
    saveCorrections(pairs.concat([[from.value, to.value]]));
    from.value = '';
    to.value = '';
    from.focus();
  });

  // ---- Prompt-mode apps -----------------------------------------------------------

  function promptApps() {
    return strings(cfg().promptModeApps);
  }
  function appNames() {
    const names = new Map();
    if (Array.isArray(state.appNames)) {
      for (const entry of state.appNames) {
        if (isObject(entry) && typeof entry.bundle === 'string') {
          names.set(entry.bundle, typeof entry.name === 'string' ? entry.name : entry.bundle);
        }
      }
    }
    return names;
  }
  function renderPromptApps() {
    const list = clear($('prompt-apps'));
    const bundles = promptApps();
    const names = appNames();
    for (const bundle of bundles) {
      const name = names.get(bundle) || bundle;
      list.appendChild(
        h(
          'li',
          { class: 'row' },
          appIcon(icons(), bundle, name),
          h('div', { class: 'row-text' }, h('strong', {}, name), h('p', { class: 'muted' }, bundle)),
          h(
            'button',
            {
              type: 'button',
              class: 'button small',
              'aria-label': 'Remove ' + name,
              onclick: () => post('savePromptApps', { list: bundles.filter((b) => b !== bundle) }),
            },
            'Remove'
          )
        )
      );
    }
    if (!bundles.length) list.appendChild(h('li', { class: 'empty' }, 'No apps yet.'));

    const smart = clear($('smart-apps'));
    const used = Array.isArray(state.smartApps) ? state.smartApps.filter(isObject) : [];
    for (const entry of used) {
      const bundle = typeof entry.bundle === 'string' ? entry.bundle : '';
      const name = typeof entry.app === 'string' ? entry.app : bundle;
      const already = bundles.includes(bundle);
      smart.appendChild(
        h(
          'li',
          { class: 'row' },
          appIcon(icons(), bundle, name),
          h(
            'div',
            { class: 'row-text' },
            h('strong', {}, name),
            h('p', { class: 'muted' }, (typeof entry.kind === 'string' ? entry.kind : '') + ' · ' + count(entry.count, 'dictation'))
          ),
          already
            ? h('span', { class: 'badge ok' }, 'Always prompts')
            : h(
                'button',
                {
                  type: 'button',
                  class: 'button small',
                  'aria-label': 'Always use prompts in ' + name,
                  onclick: () => post('savePromptApps', { list: bundles.concat(bundle) }),
                },
                'Always use prompts'
              )
        )
      );
    }
    if (!used.length) smart.appendChild(h('li', { class: 'empty' }, 'Apps you dictate into with the boost key show up here.'));
  }

  // ---- Context file ---------------------------------------------------------------

  let savedContext = null;
  const contextText = $('context-text');
  function renderContext(text) {
    // Text the user is still editing is never replaced by a push.
    const editing = savedContext !== null && contextText.value !== savedContext;
    savedContext = text;
    if (!editing) contextText.value = text;
    updateContextState();
  }
  function updateContextState() {
    $('context-state').textContent = contextText.value !== savedContext ? 'Unsaved changes' : '';
  }
  contextText.addEventListener('input', updateContextState);
  $('context-save').addEventListener('click', () => {
    post('saveContext', { text: contextText.value });
    savedContext = contextText.value;
    updateContextState();
  });

  // ---- Statistics -------------------------------------------------------------------

  let period = 'stats';
  document.querySelectorAll('[data-period]').forEach((button) => {
    button.addEventListener('click', () => {
      period = button.dataset.period;
      document.querySelectorAll('[data-period]').forEach((b) => b.setAttribute('aria-pressed', String(b === button)));
      renderStats();
    });
  });

  const dayFormat = new Intl.DateTimeFormat('en-GB', { day: 'numeric', month: 'short' });
  const weekdayFormat = new Intl.DateTimeFormat('en-GB', { weekday: 'short' });
  const longDayFormat = new Intl.DateTimeFormat('en-GB', { weekday: 'short', day: 'numeric', month: 'short' });
  const timeFormat = new Intl.DateTimeFormat('en-GB', { hour: '2-digit', minute: '2-digit' });

  function dayOf(startDay, index) {
    const date = new Date(startDay * 1000);
    date.setDate(date.getDate() + index);
    return date;
  }

  function renderStats() {
    const body = clear($('stats-body'));
    const summary = isObject(state[period]) ? state[period] : null;
    const label = period === 'week' ? 'this week' : 'the last 30 days';
    if (!summary || summary.empty !== false) {
      body.appendChild(h('div', { class: 'card empty' }, 'No dictations in ' + label + ' yet.'));
      return;
    }
    const figures = [
      [summary.words, 'Words'],
      [summary.dictations, 'Dictations'],
      [summary.wpm, 'Words per minute'],
      [summary.minutesSaved, 'Minutes saved'],
    ];
    body.appendChild(
      h(
        'div',
        { class: 'figures' },
        figures.map(([value, name]) => h('div', { class: 'figure' }, h('strong', {}, formatNumber(value)), h('span', {}, name)))
      )
    );

    const perDay = Array.isArray(summary.perDay) ? summary.perDay : [];
    const startDay = Number.isFinite(summary.startDay) ? summary.startDay : Date.now() / 1000 - 86400 * (perDay.length - 1);
    const short = perDay.length <= 7;
    body.appendChild(
      h(
        'div',
        { class: 'card' },
        h('h3', {}, symbol('chart.bar.xaxis'), 'Words per day'),
        Charts.columns(perDay, {
          title: 'Words per day',
          highlight: perDay.length - 1,
          label: (i) =>
            short ? weekdayFormat.format(dayOf(startDay, i)) : (perDay.length - 1 - i) % 5 === 0 ? dayFormat.format(dayOf(startDay, i)) : '',
          describe: (i, value) => longDayFormat.format(dayOf(startDay, i)) + ': ' + count(value, 'word'),
        })
      )
    );

    const perHour = Array.isArray(summary.perHour) ? summary.perHour : [];
    const hour = (i) => String(i).padStart(2, '0') + ':00';
    body.appendChild(
      h(
        'div',
        { class: 'card' },
        h('h3', {}, symbol('clock'), 'Words by hour of day'),
        Charts.columns(perHour, {
          title: 'Words by hour of day',
          height: 130,
          label: (i) => (i % 3 === 0 ? String(i).padStart(2, '0') : ''),
          describe: (i, value) => hour(i) + ': ' + count(value, 'word'),
        })
      )
    );

    body.appendChild(
      h(
        'div',
        { class: 'two-columns' },
        h('div', { class: 'card' }, h('h3', {}, symbol('square.grid.2x2'), 'Top apps'), Charts.ranking(summary.apps, 'word')),
        h('div', { class: 'card' }, h('h3', {}, symbol('sparkles'), 'Modes'), Charts.ranking(summary.modes, 'word'))
      )
    );
  }

  // ---- Recent dictations --------------------------------------------------------

  const PAGE = 50;
  let shown = PAGE;
  $('recent-more').addEventListener('click', () => {
    shown += PAGE;
    renderRecent();
  });

  function whenText(at) {
    const date = new Date(at * 1000);
    const today = new Date();
    today.setHours(0, 0, 0, 0);
    const day = new Date(date);
    day.setHours(0, 0, 0, 0);
    const days = Math.round((today - day) / 86400000);
    const prefix = days === 0 ? 'Today' : days === 1 ? 'Yesterday' : longDayFormat.format(date);
    return prefix + ' ' + timeFormat.format(date);
  }

  function dictationItem(entry) {
    const bundle = typeof entry.bundle === 'string' ? entry.bundle : '';
    const app = typeof entry.app === 'string' ? entry.app : 'Unknown';
    const mode = modeName(entry.mode);
    return h(
      'li',
      { class: 'dictation' },
      appIcon(icons(), bundle, app),
      h(
        'div',
        { class: 'dictation-body' },
        h(
          'div',
          { class: 'dictation-meta' },
          h('strong', {}, app),
          h('span', {}, Number.isFinite(entry.at) ? whenText(entry.at) : ''),
          h('span', { class: 'mode-tag' + (mode === 'Dictate' ? '' : ' boost') }, mode),
          h('span', {}, count(entry.words, 'word'))
        ),
        h('p', { class: 'dictation-text' }, typeof entry.text === 'string' ? entry.text : '')
      )
    );
  }

  function renderRecent() {
    const entries = Array.isArray(state.recent) ? state.recent.filter(isObject) : [];
    const full = clear($('recent-full'));
    const brief = clear($('recent-short'));
    entries.slice(0, shown).forEach((entry) => full.appendChild(dictationItem(entry)));
    entries.slice(0, 5).forEach((entry) => brief.appendChild(dictationItem(entry)));
    show($('recent-more'), entries.length > shown);
    if (!entries.length) {
      const none = 'No dictations in the last three days.';
      full.appendChild(h('li', { class: 'empty' }, none));
      brief.appendChild(h('li', { class: 'empty' }, none));
    }
  }
})();
