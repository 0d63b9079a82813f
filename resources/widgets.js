// Controls that both the onboarding and the settings page show: permissions,
// the microphone test, the two hotkeys and the account (own key or sign-in).
// Each widget builds its markup once and then only updates it from the
// bridge's channels, so focus and typed text survive every push.
(function () {
  'use strict';
  const { h, on, post, symbol, setNote, show, isObject, count } = window.Velvox;

  function button(label, onclick, extra) {
    return h('button', Object.assign({ type: 'button', class: 'button', onclick }, extra || {}), label);
  }

  function badge(ok, okText, badText) {
    const node = h('span', { class: 'badge' });
    node.update = (state) => {
      node.textContent = state ? okText : badText;
      node.classList.toggle('ok', !!state);
    };
    return node;
  }

  // ---- Theme ------------------------------------------------------------------

  // "system" takes the desktop's scheme as the program reads it; until the
  // program has said, the browser's own preference decides (see home.css).
  let systemScheme = null;
  function applyTheme(choice) {
    const theme = ['dark', 'light', 'system'].includes(choice) ? choice : 'system';
    document.documentElement.dataset.theme = theme === 'system' && systemScheme ? systemScheme : theme;
  }
  on('state', (state) => {
    systemScheme = ['dark', 'light'].includes(state.systemScheme) ? state.systemScheme : null;
    applyTheme(state.theme);
  });

  // ---- Permissions ------------------------------------------------------------

  function permissions(container, options) {
    options = options || {};
    const rows = [
      {
        field: 'mic',
        icon: 'mic',
        title: 'Microphone',
        text: 'Velvox records only while you hold the hotkey.',
        ok: 'Allowed',
        bad: 'Not allowed',
        actions: [
          ['Allow microphone', 'askMic', true],
          ['Sound settings', 'openSound', false],
        ],
      },
      {
        field: 'ax',
        // Without any accessibility on the desktop there is nothing to allow.
        availableField: 'axAvailable',
        icon: 'text.cursor',
        title: 'Accessibility',
        text:
          'Optional. Lets Velvox type the text straight into the field you are working in, without ' +
          'touching your clipboard. Without it Velvox pastes the text and puts your clipboard back. ' +
          'Turning it on switches on accessibility for the whole desktop, for every app (as a screen ' +
          'reader does), and it stays on until you switch it off in the desktop’s settings.',
        ok: 'Allowed',
        bad: 'Off: Velvox pastes',
        actions: [['Turn on accessibility', 'openAccessibility', true]],
      },
      {
        field: 'tap',
        icon: 'keyboard',
        title: 'Hotkeys',
        // No permission to grant here: under X11 the keys are watched through
        // the X server, and only another program holding the same key stops
        // that; under Wayland no app may watch the keyboard, so the desktop's
        // own shortcut starts dictation instead.
        text: 'Velvox watches for your hotkeys in every application through the X server. If they do not start, another program may be using the same key: choose another one.',
        shortcutText:
          'On Wayland no app may watch the keyboard. Bind “velvox dictate toggle” to a key in the desktop’s keyboard shortcuts.',
        ok: 'Watching',
        bad: 'Not running yet',
        actions: [['Choose another key', null, true, 'x11']],
        shortcutActions: [['Keyboard shortcuts', 'openShortcuts', false, 'shortcut']],
        shortcutBadge: 'Desktop shortcut',
      },
    ];
    const list = h('ul', { class: 'rows permission-list' });
    for (const row of rows) {
      row.badge = badge(false, row.ok, row.bad);
      row.buttons = row.actions.concat(row.shortcutActions || []).map(([label, action, onlyWhenMissing, session]) => {
        // An action of null is the page's own: the hotkeys are chosen in this window.
        const b = button(label, () => (action ? post(action) : options.chooseKey && options.chooseKey()));
        b.onlyWhenMissing = onlyWhenMissing;
        b.session = session;
        return b;
      });
      row.textNode = h('p', { class: 'muted' }, row.text);
      list.appendChild(
        h(
          'li',
          { class: 'row', 'data-permission': row.field },
          symbol(row.icon, 'row-icon'),
          h('div', { class: 'row-text' }, h('strong', {}, row.title), row.textNode),
          row.badge,
          h('div', { class: 'row-actions' }, row.buttons)
        )
      );
    }
    // What this desktop cannot do, in the program's own words.
    const notes = h('ul', { class: 'desktop-notes' });
    container.append(list, notes);
    on('live', (live) => {
      const session = live.keySource === 'shortcut' ? 'shortcut' : 'x11';
      for (const row of rows) {
        const granted = live[row.field] === true;
        const absent = row.availableField !== undefined && live[row.availableField] === false;
        row.badge.update(granted);
        if (absent) row.badge.textContent = 'Not on this desktop';
        if (session === 'shortcut' && row.shortcutBadge) row.badge.textContent = row.shortcutBadge;
        row.textNode.textContent = session === 'shortcut' && row.shortcutText ? row.shortcutText : row.text;
        row.buttons.forEach((b) =>
          show(b, !absent && !(b.onlyWhenMissing && granted) && (!b.session || b.session === session))
        );
      }
      const lines = Array.isArray(live.desktopNotes) ? live.desktopNotes.filter((note) => typeof note === 'string') : [];
      notes.replaceChildren(...lines.map((note) => h('li', { class: 'muted' }, note)));
      show(notes, lines.length > 0);
    });
  }

  // ---- Readiness line -----------------------------------------------------------

  function status(container) {
    const line = h('p', { class: 'status-line', role: 'status' });
    const dot = h('span', { class: 'status-dot', 'aria-hidden': 'true' });
    const text = h('span', {}, 'Starting up');
    line.append(dot, text);
    const hint = h('p', { class: 'muted status-hint' });
    container.append(line, hint);
    // With its own server, transcription needs that server's address, not a Groq key.
    let ownServer = false;
    on('state', (state) => {
      ownServer = isObject(state.cfg) && state.cfg.transcribeProvider === 'custom';
    });
    on('live', (live) => {
      text.textContent = typeof live.status === 'string' && live.status ? live.status : 'Starting up';
      line.classList.toggle('ready', live.ready === true);
      let missing = '';
      if (live.ready !== true) {
        if (live.mic !== true) missing = 'Velvox needs the microphone.';
        else if (live.hasKey !== true)
          missing = !live.ownKey
            ? 'Sign in to start dictating.'
            : ownServer
              ? 'Add your server’s address to start dictating.'
              : 'Add your Groq key to start dictating.';
        else if (live.tap !== true) missing = 'Waiting for the hotkeys to start…';
      } else if (typeof live.mainKeyName === 'string') {
        missing = 'Hold ' + live.mainKeyName + ' and speak.';
      }
      setNote(hint, missing, false);
    });
  }

  // ---- Microphone test --------------------------------------------------------

  function micTest(container) {
    let running = false;
    const fill = h('div', { class: 'meter-fill' });
    const meter = h(
      'div',
      {
        class: 'meter',
        role: 'meter',
        'aria-label': 'Microphone level',
        'aria-valuemin': '0',
        'aria-valuemax': '100',
        'aria-valuenow': '0',
      },
      fill
    );
    const toggle = button('Test microphone', () => (running ? stop() : start()), { 'aria-pressed': 'false' });
    const hint = h('p', { class: 'muted' }, 'Speak normally: the bar should move well past the middle.');
    container.append(h('div', { class: 'mic-test' }, toggle, meter), hint);

    function setLevel(level) {
      fill.style.width = Math.round(level * 100) + '%';
      meter.setAttribute('aria-valuenow', String(Math.round(level * 100)));
    }
    function start() {
      running = true;
      toggle.textContent = 'Stop test';
      toggle.setAttribute('aria-pressed', 'true');
      post('micTest');
    }
    function stop() {
      if (!running) return;
      running = false;
      toggle.textContent = 'Test microphone';
      toggle.setAttribute('aria-pressed', 'false');
      setLevel(0);
      post('micTestStop');
    }
    on('level', (level) => {
      if (running) setLevel(level);
    });
    return { stop, isRunning: () => running };
  }

  // ---- Hotkeys ----------------------------------------------------------------

  function hotkeys(container) {
    let capturing = null;
    let cfg = {};
    let live = {};
    const keys = [
      {
        key: 'hotkeyKeyCode',
        nameField: 'mainKeyName',
        icon: 'keyboard',
        title: 'Dictation key',
        text: 'Hold to dictate; release to insert the text.',
      },
      {
        key: 'boostHotkeyKeyCode',
        nameField: 'boostKeyName',
        icon: 'bolt',
        title: 'Boost key',
        text: 'Hold to dictate text shaped for the app: a prompt, an e-mail, a message.',
        canTurnOff: true,
      },
    ];
    const note = h('p', { class: 'note', role: 'status', hidden: true });
    const fnDead = h(
      'p',
      { class: 'note bad', hidden: true },
      'Velvox has not seen your dictation key yet. If holding it does nothing, choose another key.'
    );
    const list = h('ul', { class: 'rows hotkey-list' });
    for (const item of keys) {
      item.name = h('kbd', { class: 'key-name' });
      item.change = button('Change', () => begin(item));
      item.cancel = button('Cancel', () => post('cancelCapture'), { hidden: true });
      item.off = item.canTurnOff
        ? button('Turn off', () => post('set', { key: item.key, number: -1 }))
        : null;
      list.appendChild(
        h(
          'li',
          { class: 'row', 'data-hotkey': item.key },
          symbol(item.icon, 'row-icon'),
          h('div', { class: 'row-text' }, h('strong', {}, item.title), h('p', { class: 'muted' }, item.text)),
          item.name,
          h('div', { class: 'row-actions' }, item.change, item.cancel, item.off)
        )
      );
    }
    container.append(list, note, fnDead);

    function begin(item) {
      capturing = item.key;
      setNote(note, '', false);
      render();
      post('captureKey', { key: item.key });
      item.cancel.focus();
    }
    function render() {
      for (const item of keys) {
        const code = cfg[item.key];
        const off = typeof code === 'number' && code < 0;
        const name = typeof live[item.nameField] === 'string' ? live[item.nameField] : '';
        item.name.textContent = capturing === item.key ? 'Press a key…' : off ? 'Off' : name || '—';
        item.name.classList.toggle('capturing', capturing === item.key);
        show(item.change, capturing !== item.key);
        show(item.cancel, capturing === item.key);
        item.change.disabled = capturing !== null;
        if (item.off) show(item.off, !off && capturing === null);
      }
    }
    on('state', (state) => {
      cfg = isObject(state.cfg) ? state.cfg : {};
      render();
    });
    on('live', (value) => {
      live = value;
      show(fnDead, live.fnDead === true);
      render();
    });
    on('capture', (value) => {
      const wasCapturing = capturing;
      capturing = null;
      setNote(note, typeof value.note === 'string' ? value.note : '', value.bad === true);
      render();
      const item = keys.find((k) => k.key === wasCapturing);
      if (item && container.contains(document.activeElement)) item.change.focus();
    });
  }

  // ---- Account: own key or Velvox sign-in ----------------------------------------

  function account(container) {
    let ownKey = null;
    const group = 'service-' + Math.random().toString(36).slice(2);
    const choice = (value, label, text) =>
      h(
        'label',
        { class: 'choice' },
        h('input', {
          type: 'radio',
          name: group,
          value,
          onchange: () => post('set', { key: 'useOwnKey', bool: value === 'own' }),
        }),
        h('span', {}, h('strong', {}, label), h('span', { class: 'muted' }, text))
      );
    const choices = h(
      'fieldset',
      { class: 'choices' },
      h('legend', {}, 'How Velvox reaches speech services'),
      choice('service', 'Velvox account', 'Sign in with your e-mail. Includes a free weekly allowance.'),
      choice('own', 'My own API keys', 'Use your Groq key, an Anthropic key for polishing or a server of your own; requests go straight to them.')
    );

    // Own keys and servers. Each step (transcription, polishing) goes to Groq,
    // to Anthropic (polishing only) or to a server of the user's own.
    const keyInput = h('input', {
      type: 'password',
      id: group + '-key',
      autocomplete: 'off',
      spellcheck: 'false',
      placeholder: 'gsk_…',
    });
    const keyNote = h('p', { class: 'note', role: 'status', hidden: true });
    const keySaved = h('p', { class: 'muted', hidden: true }, 'A Groq key is saved.');
    const groqForm = h(
      'form',
      {
        class: 'own-key',
        onsubmit: (event) => {
          event.preventDefault();
          post('setKey', { text: keyInput.value });
        },
      },
      h('label', { for: keyInput.id }, 'Groq API key'),
      h('div', { class: 'inline' }, keyInput, h('button', { type: 'submit', class: 'button primary' }, 'Check and save')),
      keySaved,
      keyNote,
      button('Get a key from Groq', () => post('openGroq'), { class: 'button link' })
    );
    keyInput.addEventListener('input', () => setNote(keyNote, '', false));

    // A choice posted as a text setting. A value the page does not know shows as
    // the first option, which is what the program falls back to as well.
    function settingSelect(key, options) {
      const select = h(
        'select',
        { id: group + '-' + key, onchange: () => post('set', { key, text: select.value }) },
        options.map(([value, label]) => h('option', { value }, label))
      );
      select.update = (value) => {
        select.value = options.some(([known]) => known === value) ? value : options[0][0];
      };
      return select;
    }
    const labelledRow = (label, control) =>
      h('div', { class: 'row' }, h('div', { class: 'row-text' }, h('label', { for: control.id }, label)), control);

    // Where a server of the user's own is, its key if it wants one, and a test
    // that sends it a real request with the settings as saved. The address is
    // bound like the page's other text settings (below). A typed key is posted
    // and its field emptied: the page only ever says that a key is saved.
    function serverForm(step, prefix, extra) {
      const id = group + '-' + prefix;
      const address = h('input', {
        type: 'text',
        id: id + '-address',
        'data-text': prefix + 'BaseUrl',
        inputmode: 'url',
        autocomplete: 'off',
        spellcheck: 'false',
        placeholder: 'http://127.0.0.1:8080',
        'aria-describedby': id + '-address-hint',
      });
      const key = h('input', { type: 'password', id: id + '-key', autocomplete: 'off', spellcheck: 'false' });
      const removeKey = button('Remove the key', () => post('set', { key: prefix + 'ApiKey', text: '' }), { class: 'button link' });
      const saved = h('div', { class: 'inline', hidden: true }, h('span', { class: 'muted' }, 'A key is saved.'), removeKey);
      const note = h('p', { class: 'note', role: 'status', hidden: true });
      const test = button('Test', () => {
        setNote(note, 'Testing…', false);
        post('testServer', { text: step });
      });
      // Emptying the field removes nothing: that takes the button, so a key is not lost by accident.
      key.addEventListener('change', () => {
        if (!key.value.trim()) return;
        post('set', { key: prefix + 'ApiKey', text: key.value.trim() });
        key.value = '';
      });
      const form = h(
        'div',
        { class: 'server', role: 'group', 'aria-label': 'Your ' + step + ' server', hidden: true },
        h('label', { for: address.id }, 'Server address'),
        h('div', { class: 'inline' }, address),
        h('p', { class: 'muted', id: address.getAttribute('aria-describedby') }, 'The part before /v1. Plain http:// only for this computer or your own network.'),
        h('label', { for: key.id }, 'Key (optional)'),
        h('div', { class: 'inline' }, key),
        saved,
        extra,
        h('div', { class: 'inline' }, test, note)
      );
      // A result no longer says anything about settings changed since.
      form.addEventListener('input', () => setNote(note, '', false));
      form.update = (cfg, tested) => {
        show(saved, cfg[prefix + 'KeySaved'] === true);
        if (isObject(tested) && tested.step === step) {
          setNote(note, typeof tested.note === 'string' ? tested.note : '', tested.bad === true);
        }
      };
      return form;
    }

    const transcribeWith = settingSelect('transcribeProvider', [['groq', 'Groq'], ['custom', 'Your own server']]);
    const uploadFormat = settingSelect('transcribeUploadFormat', [
      ['auto', 'Automatic'],
      ['m4a', 'The recording as it is (m4a)'],
      ['wav', 'WAV, 16 kHz mono'],
    ]);
    const transcribeServer = serverForm(
      'transcription',
      'transcribe',
      h('div', {}, h('label', { for: uploadFormat.id }, 'Upload format'), uploadFormat)
    );

    const polishWith = settingSelect('cleanupProvider', [['groq', 'Groq'], ['anthropic', 'Anthropic'], ['custom', 'Your own server']]);
    const cleanupServer = serverForm('polishing', 'cleanup', null);
    // Polishing with Anthropic, with its own key, checked like the Groq key.
    const anthropicInput = h('input', { type: 'password', id: group + '-anthropic', autocomplete: 'off', spellcheck: 'false', placeholder: 'sk-ant-…' });
    const anthropicNote = h('p', { class: 'note', role: 'status', hidden: true });
    const anthropicSaved = h('p', { class: 'muted', hidden: true }, 'An Anthropic key is saved.');
    const anthropicForm = h(
      'form',
      {
        class: 'anthropic-key',
        onsubmit: (event) => {
          event.preventDefault();
          post('setAnthropicKey', { text: anthropicInput.value });
        },
      },
      h('label', { for: anthropicInput.id }, 'Anthropic API key'),
      h('div', { class: 'inline' }, anthropicInput, h('button', { type: 'submit', class: 'button primary' }, 'Check and save')),
      anthropicSaved,
      anthropicNote
    );
    anthropicInput.addEventListener('input', () => setNote(anthropicNote, '', false));

    // A slow computer running a large model may need minutes for a long dictation.
    const patience = h('input', {
      type: 'number',
      id: group + '-patience',
      'data-number': 'customTimeoutPerSecond',
      min: '0.5',
      max: '30',
      step: '0.5',
      'aria-describedby': group + '-patience-hint',
    });
    const patienceBox = h(
      'div',
      { class: 'patience', hidden: true },
      h('label', { for: patience.id }, 'Patience with your own server (seconds per second of speech)'),
      patience,
      h('p', { class: 'muted', id: patience.getAttribute('aria-describedby') }, 'How long Velvox waits for an answer beyond 30 seconds, for each second you spoke.')
    );

    const ownPanel = h(
      'div',
      { class: 'panel own-keys' },
      groqForm,
      labelledRow('Transcribe with', transcribeWith),
      transcribeServer,
      labelledRow('Polish the text with', polishWith),
      anthropicForm,
      cleanupServer,
      patienceBox
    );
    // The page binds its own markup before it builds the widgets, so these
    // fields are bound here, once, on every page that shows the widget.
    Velvox.bindSettings(ownPanel);

    // Velvox account
    const usageView = h('div', { class: 'usage', role: 'status' }, 'Checking your account…');
    const billingView = h('div', { class: 'billing', hidden: true });
    const billingNote = h('p', { class: 'note bad', role: 'status', hidden: true });
    const emailInput = h('input', { type: 'email', id: group + '-email', autocomplete: 'email', placeholder: 'you@example.com' });
    const sendButton = h('button', { type: 'submit', class: 'button primary' }, 'Email me a sign-in link');
    const authNote = h('p', { class: 'note', role: 'status', hidden: true });
    const tokenInput = h('input', { type: 'password', id: group + '-token', autocomplete: 'off', spellcheck: 'false' });
    // Ways in that need the service; a pasted token does not.
    const online = h(
      'div',
      { class: 'sign-in-online' },
      h(
        'form',
        {
          onsubmit: (event) => {
            event.preventDefault();
            post('signIn', { text: emailInput.value });
          },
        },
        h('label', { for: emailInput.id }, 'E-mail'),
        h('div', { class: 'inline' }, emailInput, sendButton)
      ),
      button('Continue with Google', () => post('signInGoogle'))
    );
    const tokenDetails = h(
      'details',
      { class: 'token' },
      h('summary', {}, 'Have a sign-in token?'),
      h(
        'form',
        {
          onsubmit: (event) => {
            event.preventDefault();
            post('pasteToken', { text: tokenInput.value });
          },
        },
        h('label', { for: tokenInput.id }, 'Sign-in token'),
        h('div', { class: 'inline' }, tokenInput, h('button', { type: 'submit', class: 'button' }, 'Use token'))
      )
    );
    const signInForm = h('div', { class: 'sign-in', hidden: true }, online, authNote, tokenDetails);
    const accountActions = h('div', { class: 'actions', hidden: true });
    const upgradeButton = button('Upgrade', () => post('upgrade'), { class: 'button primary' });
    const billingButton = button('Manage billing', () => post('manageBilling'));
    const signOutButton = button('Sign out', () => post('signOut'));
    accountActions.append(upgradeButton, billingButton, signOutButton);
    const servicePanel = h(
      'div',
      { class: 'panel service' },
      usageView,
      billingView,
      billingNote,
      accountActions,
      signInForm
    );

    container.append(choices, ownPanel, servicePanel);

    function setOwn(value) {
      ownKey = value === true;
      choices.querySelectorAll('input').forEach((input) => {
        input.checked = (input.value === 'own') === ownKey;
      });
      show(ownPanel, ownKey);
      show(servicePanel, !ownKey);
    }
    setOwn(false);

    on('state', (state) => {
      const cfg = isObject(state.cfg) ? state.cfg : {};
      if (typeof cfg.useOwnKey === 'boolean') setOwn(cfg.useOwnKey);
      if (typeof state.keyNote === 'string') setNote(keyNote, state.keyNote, state.keyBad === true);
      if (state.keySaved === true) keyInput.value = '';
      transcribeWith.update(cfg.transcribeProvider);
      polishWith.update(cfg.cleanupProvider);
      const ownTranscription = transcribeWith.value === 'custom';
      const ownPolishing = polishWith.value === 'custom';
      show(groqForm, !ownTranscription || polishWith.value === 'groq');
      show(transcribeServer, ownTranscription);
      show(cleanupServer, ownPolishing);
      show(patienceBox, ownTranscription || ownPolishing);
      uploadFormat.update(cfg.transcribeUploadFormat);
      transcribeServer.update(cfg, state.serverTest);
      cleanupServer.update(cfg, state.serverTest);
      show(anthropicForm, polishWith.value === 'anthropic');
      show(anthropicSaved, cfg.anthropicKeySaved === true);
      if (typeof state.anthropicKeyNote === 'string') setNote(anthropicNote, state.anthropicKeyNote, state.anthropicKeyBad === true);
      if (state.anthropicKeySaved === true) anthropicInput.value = '';
    });
    // The choice follows the state only: the live object arrives every second
    // and must not flip the view while a state push is on its way.
    on('live', (live) => show(keySaved, live.ownKey === true && live.hasKey === true));

    let plan = 'free';
    const planBadge = h('span', { class: 'plan-badge' });
    on('usage', (usage) => {
      Velvox.clear(usageView);
      show(billingView, false);
      if (usage.own === true) {
        usageView.append('You use your own Groq key; no Velvox account is needed.');
        show(signInForm, false);
        show(accountActions, false);
        return;
      }
      show(online, usage.reachable !== false);
      if (usage.reachable === false) {
        // A device token from another computer needs no network.
        usageView.append(
          h('p', { class: 'note bad' }, 'Could not reach the Velvox service. Check your connection and try again later.'),
          h('p', { class: 'muted' }, 'You can still paste a sign-in token.')
        );
        show(signInForm, true);
        tokenDetails.open = true;
        show(accountActions, false);
        return;
      }
      const signedIn = usage.signedIn === true;
      show(signInForm, !signedIn);
      show(accountActions, signedIn);
      if (!signedIn) {
        usageView.append(h('p', {}, 'Sign in to use Velvox with its free weekly allowance.'));
        return;
      }
      plan = typeof usage.plan === 'string' && usage.plan ? usage.plan : 'free';
      const used = Number.isFinite(usage.used) ? usage.used : 0;
      const cap = Number.isFinite(usage.cap) ? usage.cap : 0;
      usageView.append(
        h(
          'p',
          { class: 'account-line' },
          symbol('person.crop.circle', 'inline-icon'),
          h('span', {}, 'Signed in as '),
          h('strong', { class: 'email' }, typeof usage.email === 'string' ? usage.email : ''),
          planBadge
        )
      );
      if (cap > 0) {
        const share = Math.min(1, used / cap);
        usageView.append(
          h('p', { class: 'muted' }, count(used, 'word') + ' of ' + count(cap, 'word') + ' used this week'),
          h(
            'div',
            {
              class: 'meter usage-meter' + (share >= 0.9 ? ' full' : ''),
              role: 'meter',
              'aria-label': 'Weekly words used',
              'aria-valuemin': '0',
              'aria-valuemax': String(cap),
              'aria-valuenow': String(used),
            },
            meterFill(share)
          )
        );
      } else {
        usageView.append(h('p', { class: 'muted' }, count(used, 'word') + ' this week, no weekly limit'));
      }
      showPlanButtons();
    });

    // Set through the style object: the pages allow no inline style attributes.
    function meterFill(share) {
      const fill = h('div', { class: 'meter-fill' });
      fill.style.width = Math.round(share * 100) + '%';
      return fill;
    }

    function showPlanButtons() {
      planBadge.textContent = plan;
      const free = plan.toLowerCase() === 'free';
      show(upgradeButton, free);
      show(billingButton, !free);
    }

    on('billing', (billing) => {
      if (typeof billing.plan !== 'string') return;
      plan = billing.plan || plan;
      Velvox.clear(billingView);
      const facts = [['Plan', billing.plan]];
      if (typeof billing.status === 'string' && billing.status) facts.push(['Status', billing.status]);
      const renews = billing.renewsAt ?? billing.periodEnd;
      if (renews !== undefined) {
        const date = new Date(typeof renews === 'number' ? renews * 1000 : renews);
        if (!Number.isNaN(date.getTime())) {
          facts.push(['Renews', date.toLocaleDateString('en', { day: 'numeric', month: 'long', year: 'numeric' })]);
        }
      }
      billingView.append(
        symbol('creditcard', 'row-icon'),
        h('dl', {}, facts.map(([term, value]) => [h('dt', {}, term), h('dd', {}, value)]))
      );
      show(billingView, true);
      showPlanButtons();
    });

    on('billingNote', (note) => setNote(billingNote, typeof note.note === 'string' ? note.note : '', true));

    on('auth', (note) => {
      setNote(authNote, typeof note.note === 'string' ? note.note : '', note.bad === true);
      const busy = note.busy === true;
      sendButton.disabled = busy;
      signInForm.classList.toggle('busy', busy);
    });
  }

  window.Widgets = { permissions, status, micTest, hotkeys, account, button, applyTheme };
})();
