// The page: a login with the API's token, then the site's controllers live
// from the engine's event stream. Taps and buttons send the API's own
// requests, so the engine applies the same rules as to a click in the
// window; what it refuses is shown with its reason.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const STATE_TEXT = { on: '接通', off: '断开', unknown: '状态未知' };
  const PLAN_TITLES = ['序号', '继电器', '动作时间', '动作类型', '常开开关用途', '常闭开关用途'];
  const NO_CONTACT = '不存在';
  const RETRY_MS = 2000;
  const MAX_EVENT_ROWS = 1000;

  const page = {
    status: null, // the last /api/v1/status, kept up to date by the events
    planRows: new Map(), // controller -> the rows of its plan table
    connected: false,
    stream: null,
    retryTimer: 0,
    refresh: { timer: 0, busy: false, again: false, details: false },
    offset: 0, // the engine's clock less ours, in ms
    nextTimer: 0,
    lamps: new Map(), // controller -> blocks received
    lastKnown: new Map(), // "controller/relay" -> the last known state
    switching: new Set(), // "controller/relay" with a request under way
    firstRelayDrawn: false,
    view: 'monitor',
    history: { day: null, timer: 0, from: 0, seconds: 24 * 3600 },
  };

  // --- requests ------------------------------------------------------------

  async function request(method, path, body) {
    const options = { method, credentials: 'same-origin', headers: {} };
    if (body !== undefined) {
      options.headers['Content-Type'] = 'application/json';
      options.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(path, options);
    } catch (e) {
      return { status: 0, data: null, error: '无法连接到程序' };
    }
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    const error = data && typeof data.error === 'string' ? data.error
      : response.ok ? '' : `请求失败 (HTTP ${response.status})`;
    // The session ended (logged out elsewhere, idle too long, a new token).
    if (response.status === 401 && path !== '/api/v1/login') showLogin(error);
    return { status: response.status, data, error };
  }

  // "YYYY-MM-DD HH:MM:SS" of the engine, read the same way each time: only
  // differences between such times count.
  function parseLocal(text) {
    const m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})/.exec(text || '');
    return m ? new Date(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]).getTime() : NaN;
  }

  function engineNow() {
    return Date.now() + page.offset;
  }

  function engineToday() {
    const d = new Date(engineNow());
    const two = (n) => String(n).padStart(2, '0');
    return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}`;
  }

  // --- login ---------------------------------------------------------------

  function showLogin(message) {
    closeStream();
    clearTimeout(page.retryTimer);
    page.status = null;
    $('login').hidden = false;
    $('monitor').hidden = true;
    $('history').hidden = true;
    $('tabs').hidden = true;
    setLink('请输入令牌登录', false);
    $('loginError').textContent = message && message !== '需要有效的令牌 (Authorization: Bearer <令牌>)'
      ? message : '';
    $('token').focus();
  }

  async function login(event) {
    event.preventDefault();
    $('loginError').textContent = '';
    $('btnLogin').disabled = true;
    const r = await request('POST', '/api/v1/login', { token: $('token').value });
    $('btnLogin').disabled = false;
    if (r.status !== 200) {
      $('loginError').textContent = r.error || '登录失败';
      return;
    }
    $('token').value = '';
    start();
  }

  async function logout() {
    closeStream();
    await request('POST', '/api/v1/logout', {});
    showLogin();
  }

  // --- the connection ------------------------------------------------------

  async function start() {
    clearTimeout(page.retryTimer);
    const r = await request('GET', '/api/v1/status');
    if (r.status === 401) return;
    if (r.status !== 200) {
      setConnected(false);
      page.retryTimer = setTimeout(start, RETRY_MS);
      return;
    }
    $('login').hidden = true;
    $('tabs').hidden = false;
    showView(page.view);
    takeStatus(r.data);
    openStream();
  }

  function closeStream() {
    if (page.stream) page.stream.close();
    page.stream = null;
  }

  function openStream() {
    closeStream();
    const stream = new EventSource('/api/v1/events?lamp=1');
    page.stream = stream;
    stream.onopen = () => {
      setConnected(true);
      // What happened while the page was away: the status once more.
      scheduleRefresh(true, 0);
    };
    stream.onmessage = (m) => {
      const event = parse(m.data);
      if (event) onEvent(event);
    };
    stream.addEventListener('lamp', (m) => {
      const lamp = parse(m.data);
      if (lamp) onLamp(lamp);
    });
    stream.onerror = () => {
      if (page.stream !== stream) return;
      setConnected(false);
      // The browser tries again by itself after a lost connection; a
      // refused one (the session ended, too many streams) it gives up.
      if (stream.readyState === EventSource.CLOSED) {
        closeStream();
        page.retryTimer = setTimeout(start, RETRY_MS);
      }
    };
  }

  function parse(text) {
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  }

  function setLink(text, bad) {
    $('link').textContent = text;
    $('link').classList.toggle('bad', bad);
  }

  function setConnected(connected) {
    if (connected === page.connected && page.status) return;
    page.connected = connected;
    document.body.classList.toggle('offline', !connected);
    setLink(connected ? '已连接' : '与程序的连接已断开,正在重新连接…', !connected);
    render();
  }

  // --- events --------------------------------------------------------------

  function onEvent(e) {
    const c = page.status && page.status.controllers.find((x) => x.name === e.controller);
    if (c && e.kind === 'state' && e.source === 'board') {
      const r = c.relays.find((x) => x.relay === e.relay);
      if (r) {
        r.state = e.result === '1' ? 'on' : e.result === '0' ? 'off' : 'unknown';
        drawRelay(c, r);
      }
      // The first answer, or one that may end a mismatch, changes more.
      if (!r || r.mismatch || !c.states_reported || c.line !== 'ok') scheduleRefresh(false);
    } else {
      // A command, a line or a run event: more than one state changes.
      scheduleRefresh(e.kind === 'run');
    }
    historyEvent(e);
  }

  function onLamp(lamp) {
    page.lamps.set(lamp.controller, lamp.blocks);
    const a = articleOf(lamp.controller);
    const c = page.status && page.status.controllers.find((x) => x.name === lamp.controller);
    if (a && c) drawLamp(a, c);
  }

  function scheduleRefresh(details, delay = 150) {
    page.refresh.details = page.refresh.details || details;
    if (page.refresh.timer) return;
    page.refresh.timer = setTimeout(runRefresh, delay);
  }

  async function runRefresh() {
    page.refresh.timer = 0;
    if (page.refresh.busy) {
      page.refresh.again = true;
      return;
    }
    page.refresh.busy = true;
    const details = page.refresh.details;
    page.refresh.details = false;
    const r = await request('GET', '/api/v1/status');
    if (r.status === 200) {
      takeStatus(r.data);
      if (details) await fetchPlans();
    }
    page.refresh.busy = false;
    if (page.refresh.again) {
      page.refresh.again = false;
      scheduleRefresh(false, 0);
    }
  }

  async function fetchPlans() {
    if (!page.status) return;
    for (const c of page.status.controllers) {
      const r = await request('GET', `/api/v1/controllers/${encodeURIComponent(c.name)}`);
      if (r.status !== 200) continue;
      page.planRows.set(c.name, r.data.plan_rows || []);
      const a = articleOf(c.name);
      if (a) drawPlan(a, c);
    }
  }

  function takeStatus(status) {
    page.status = status;
    const now = parseLocal(status.now);
    if (!Number.isNaN(now)) page.offset = now - Date.now();
    render();
    scheduleNextAction();
  }

  // The next actions go by without an event when nothing runs: the list
  // is asked for again once the first of them is due.
  function scheduleNextAction() {
    clearTimeout(page.nextTimer);
    if (!page.status) return;
    const today = page.status.now.slice(0, 10);
    let due = Infinity;
    for (const c of page.status.controllers)
      for (const a of c.next_actions || []) due = Math.min(due, parseLocal(`${today} ${a.time}`));
    if (!Number.isFinite(due)) return;
    page.nextTimer = setTimeout(() => scheduleRefresh(false), Math.max(1000, due - engineNow() + 1500));
  }

  // --- the monitor -----------------------------------------------------------

  function render() {
    const s = page.status;
    const box = $('controllers');
    if (!s) return;
    const names = s.controllers.map((c) => c.name);
    for (const a of [...box.children]) if (!names.includes(a.dataset.controller)) a.remove();
    s.controllers.forEach((c, i) => {
      const a = articleOf(c.name) || newArticle(c);
      if (box.children[i] !== a) box.insertBefore(a, box.children[i] || null);
      fill(a, c);
    });
    const canRun = s.several ? s.controllers.some((c) => !c.running) : !s.running;
    $('btnRun').disabled = !page.connected || !canRun;
    $('btnStop').disabled = !page.connected || !s.running;
    if (!$('history').hidden) fillHistoryControllers();
  }

  function articleOf(name) {
    return [...$('controllers').children].find((a) => a.dataset.controller === name) || null;
  }

  function make(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function newArticle(c) {
    const a = make('article', 'controller');
    a.dataset.controller = c.name;
    const h = make('h2');
    const lamp = make('span', 'lamp');
    lamp.setAttribute('role', 'img');
    h.append(lamp, make('span', 'name', `控制器 ${c.name}`), make('span', 'running'));
    const table = make('table', 'relays');
    const head = make('tr');
    for (const t of ['继电器', '继电器状态', '常开触点状态', '常闭触点状态']) head.appendChild(make('th', '', t));
    table.append(make('thead'), make('tbody'));
    table.tHead.appendChild(head);
    const nextBox = make('div', 'nextBox');
    nextBox.append(make('h3', '', '下三个动作'), make('ol', 'next'));
    const plan = make('details', 'planBox');
    const planTable = make('table', 'plan');
    const planHead = make('tr');
    for (const t of PLAN_TITLES) planHead.appendChild(make('th', '', t));
    planTable.append(make('thead'), make('tbody'));
    planTable.tHead.appendChild(planHead);
    const scroll = make('div', 'tableBox');
    scroll.appendChild(planTable);
    plan.append(make('summary', '', '计划表内容'), scroll);
    a.append(h, make('p', 'com'), make('p', 'planName'), table, nextBox, plan);
    return a;
  }

  function fill(a, c) {
    a.querySelector('.running').textContent =
      !page.connected ? '运行状态未知' : c.running ? '运行中' : '已停止运行';
    const com = a.querySelector('.com');
    com.textContent = c.com_text || '通信状态：';
    com.classList.toggle('alarm', c.running && c.line !== 'ok');
    a.querySelector('.planName').textContent =
      `【运行计划表】${c.plan || '无'}${c.plan_date ? ` (${c.plan_date})` : ''}`;
    drawLamp(a, c);
    const body = a.querySelector('table.relays tbody');
    const rows = [...body.rows];
    for (const row of rows) if (!c.relays.some((r) => String(r.relay) === row.dataset.relay)) row.remove();
    for (const r of c.relays) drawRelay(c, r);
    const next = a.querySelector('.next');
    next.replaceChildren();
    for (const n of c.next_actions || []) {
      const use = n.no_use ? ` ${n.no_use}` : '';
      next.appendChild(make('li', '', `${n.time} 继电器${n.relay} ${STATE_TEXT[n.action]}${use}`));
    }
    if (!next.children.length) next.appendChild(make('li', 'none', '今天没有更多动作'));
    a.querySelector('.nextBox').classList.toggle('idle', !c.running);
    drawPlan(a, c);
  }

  function drawLamp(a, c) {
    const lamp = a.querySelector('.lamp');
    const blocks = page.lamps.has(c.name) ? page.lamps.get(c.name) : c.blocks_received;
    // As the window's: it changes colour with each block the board sends.
    const lit = page.connected && c.running;
    lamp.className = `lamp ${!lit ? 'dark' : blocks % 2 === 1 ? 'red' : 'yellow'}`;
    lamp.setAttribute('aria-label', lit ? `指示灯:已收到${blocks}个数据块` : '指示灯:熄灭');
  }

  function drawPlan(a, c) {
    const rows = page.planRows.get(c.name) || [];
    const body = a.querySelector('table.plan tbody');
    // A table of a day's actions is drawn again only when it was read again.
    if (body.ristovaRows === rows) return;
    body.ristovaRows = rows;
    body.replaceChildren();
    for (const cells of rows) {
      const tr = make('tr');
      for (const cell of cells) tr.appendChild(make('td', '', cell.trim()));
      body.appendChild(tr);
    }
  }

  function relayRow(c, r) {
    const a = articleOf(c.name);
    if (!a) return null;
    const body = a.querySelector('table.relays tbody');
    let row = [...body.rows].find((x) => x.dataset.relay === String(r.relay));
    if (row) return row;
    row = make('tr', 'relay');
    row.dataset.relay = String(r.relay);
    const number = make('th', '', String(r.relay));
    number.scope = 'row';
    const coil = make('td', 'coil');
    const button = make('button', 'switch');
    button.type = 'button';
    button.append(make('span', 'pic'), make('span', 'stateText'));
    button.addEventListener('click', () => tap(c.name, r.relay));
    coil.appendChild(button);
    const no = make('td', 'no');
    no.append(make('span', 'pic'), make('span', 'use'));
    const nc = make('td', 'nc');
    nc.append(make('span', 'pic'), make('span', 'use'));
    row.append(number, coil, no, nc);
    const after = [...body.rows].find((x) => Number(x.dataset.relay) > r.relay);
    body.insertBefore(row, after || null);
    return row;
  }

  function drawRelay(c, r) {
    const row = relayRow(c, r);
    if (!row) return;
    const key = `${c.name}/${r.relay}`;
    const unknown = !page.connected || r.state === 'unknown';
    if (!unknown) page.lastKnown.set(key, r.state);
    // Grey keeps the shape of the last known state.
    const on = (unknown ? page.lastKnown.get(key) : r.state) === 'on';
    const stateText = unknown ? STATE_TEXT.unknown : STATE_TEXT[r.state];
    // Most refreshes change no relay: its pictures stay as they are.
    const drawn = JSON.stringify([on, unknown, r.mismatch, r.state, r.no_use, r.nc_use]);
    if (row.dataset.drawn === drawn) return;
    row.dataset.drawn = drawn;
    row.classList.toggle('unknown', unknown);
    const button = row.querySelector('button.switch');
    button.classList.toggle('mismatch', r.mismatch && !unknown);
    button.setAttribute('aria-label',
      `继电器${r.relay} ${stateText}${r.mismatch && !unknown ? ',未按指令动作' : ''},点按切换`);
    button.querySelector('.pic').replaceChildren(Pictures.relay(on, `继电器${r.relay} ${stateText}`));
    button.querySelector('.stateText').textContent = stateText;
    for (const [cell, use, closedWhenOn, name] of [
      [row.querySelector('td.no'), r.no_use, true, '常开触点'],
      [row.querySelector('td.nc'), r.nc_use, false, '常闭触点'],
    ]) {
      const absent = use === NO_CONTACT;
      const closed = on === closedWhenOn;
      const what = absent ? '不存在' : unknown ? '状态未知' : closed ? '闭合' : '断开';
      cell.querySelector('.pic').replaceChildren(absent
        ? Pictures.absent(`${name} ${what}`) : Pictures.contact(closed, `${name} ${what}`));
      cell.querySelector('.use').textContent = use;
      cell.setAttribute('aria-label', `${name} ${what} ${use}`);
    }
    if (!page.firstRelayDrawn) {
      page.firstRelayDrawn = true;
      performance.mark('ristova-first-relay');
    }
  }

  function notice(text, bad) {
    $('notice').textContent = text;
    $('notice').classList.toggle('bad', bad);
  }

  async function tap(controller, relay) {
    const key = `${controller}/${relay}`;
    if (page.switching.has(key)) return;
    const c = page.status && page.status.controllers.find((x) => x.name === controller);
    const r = c && c.relays.find((x) => x.relay === relay);
    if (!r) return;
    if (!page.connected) return notice('与程序的连接已断开,未执行', true);
    // The engine refuses it too; without a known state there is no "over".
    if (r.state === 'unknown') return notice('继电器状态未知,不能手动切换', true);
    const want = r.state === 'on' ? 'off' : 'on';
    page.switching.add(key);
    notice(`继电器${relay}: 正在${STATE_TEXT[want]}…`, false);
    const path = `/api/v1/controllers/${encodeURIComponent(controller)}/relays/${relay}`;
    const answer = await request('POST', path, { state: want });
    page.switching.delete(key);
    if (answer.status === 200) notice(`继电器${relay}: ${STATE_TEXT[want]}指令已发送`, false);
    else if (answer.status !== 401) notice(`继电器${relay}: ${answer.error}`, true);
  }

  async function runOrStop(start) {
    notice(start ? '正在开始运行…' : '正在停止运行…', false);
    const answer = await request('POST', start ? '/api/v1/run' : '/api/v1/stop', {});
    if (answer.status === 200) notice(start ? '已开始运行' : '已停止运行', false);
    else if (answer.status !== 401) notice(answer.error, true);
    scheduleRefresh(true, 0);
  }

  // --- history ---------------------------------------------------------------

  function showView(view) {
    page.view = view;
    $('monitor').hidden = view !== 'monitor';
    $('history').hidden = view !== 'history';
    $('tabMonitor').setAttribute('aria-pressed', String(view === 'monitor'));
    $('tabHistory').setAttribute('aria-pressed', String(view === 'history'));
    if (view === 'history') {
      if (!$('day').value) $('day').value = engineToday();
      fillHistoryControllers();
      loadHistory();
    }
  }

  function fillHistoryControllers() {
    const select = $('historyController');
    const names = page.status ? page.status.controllers.map((c) => c.name) : [];
    const current = [...select.options].map((o) => o.value);
    if (names.join('\n') === current.join('\n')) return;
    const chosen = select.value;
    select.replaceChildren(...names.map((n) => new Option(n, n)));
    if (names.includes(chosen)) select.value = chosen;
  }

  async function loadHistory() {
    const controller = $('historyController').value;
    const day = $('day').value;
    if (!controller || !day) return;
    const path = `/api/v1/timeline?date=${encodeURIComponent(day)}&controller=${encodeURIComponent(controller)}`;
    const r = await request('GET', path);
    if (r.status !== 200) {
      $('historyNote').textContent = r.error;
      return;
    }
    $('historyNote').textContent = `${r.data.controller} ${r.data.date}: ${r.data.events.length}条记录`;
    page.history.day = r.data;
    drawHistory();
    fillEvents();
  }

  function drawHistory() {
    const day = page.history.day;
    if (!day || $('history').hidden) return;
    const box = $('timeline');
    box.replaceChildren(Timeline.draw(day, page.history, Math.max(300, box.clientWidth)));
  }

  function fillEvents() {
    const day = page.history.day;
    const body = $('events').tBodies[0];
    body.replaceChildren();
    if (!day) return;
    const shown = day.events.slice(-MAX_EVENT_ROWS).reverse();
    for (const e of shown) {
      const tr = make('tr');
      const cells = [e.at.slice(11, 19), e.relay >= 1 ? String(e.relay) : '', e.shown.kind,
        e.shown.source, e.shown.result, e.shown.detail];
      cells.forEach((text, i) => {
        const td = make('td', '', text);
        if (i === 3) td.style.color = Timeline.sourceColour(e.source);
        tr.appendChild(td);
      });
      body.appendChild(tr);
    }
  }

  function setZoom(hours) {
    const seconds = hours * 3600;
    const centre = page.history.from + page.history.seconds / 2;
    page.history.seconds = seconds;
    page.history.from = Math.min(Math.max(0, Math.round((centre - seconds / 2) / 600) * 600),
      Timeline.DAY - seconds);
    const pan = $('pan');
    pan.max = String(Timeline.DAY - seconds);
    pan.step = '600';
    pan.value = String(page.history.from);
    pan.disabled = seconds === Timeline.DAY;
    drawHistory();
  }

  // Today's page follows the day as it goes; a burst is drawn once.
  function historyEvent(e) {
    if ($('history').hidden || e.controller !== $('historyController').value) return;
    if (!e.at || e.at.slice(0, 10) !== $('day').value) return;
    clearTimeout(page.history.timer);
    page.history.timer = setTimeout(loadHistory, 1000);
  }

  // --- wiring ----------------------------------------------------------------

  function init() {
    $('loginForm').addEventListener('submit', login);
    $('btnLogout').addEventListener('click', logout);
    $('btnRun').addEventListener('click', () => runOrStop(true));
    $('btnStop').addEventListener('click', () => runOrStop(false));
    $('tabMonitor').addEventListener('click', () => showView('monitor'));
    $('tabHistory').addEventListener('click', () => showView('history'));
    $('day').addEventListener('change', loadHistory);
    $('historyController').addEventListener('change', loadHistory);
    $('zoom').addEventListener('input', () => setZoom(Number($('zoom').value)));
    $('pan').addEventListener('input', () => {
      page.history.from = Number($('pan').value);
      drawHistory();
    });
    // The drawing fits its box, which a scroll bar or a turned phone resizes.
    let width = 0;
    new ResizeObserver(() => {
      if ($('timeline').clientWidth === width) return;
      width = $('timeline').clientWidth;
      drawHistory();
    }).observe($('timeline'));
    setZoom(24);
    start();
  }

  init();
})();
