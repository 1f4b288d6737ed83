// The settings page: shows the blocking phase live (the application's event stream) and edits
// the block through the application's JSON API, which answers as zeltoctl's --json does.
// Everything the page shows from the API goes in as text, never as markup.
'use strict';

const $ = (id) => document.getElementById(id);

const state = {
  status: null,         // the last /api/status answer
  statusAt: 0,          // when it arrived (ms since the epoch)
  allowanceLeft: null,  // seconds of break allowance left, from the last break answer
  installed: [],        // /api/installed-apps
  lockedOut: false,     // the API answered 403: no session
};

// ---------------------------------------------------------------------------------------------
// Talking to the API

// GET when `body` is undefined, else POST of `body` as JSON. Answers {ok, status, data}; a
// failure to connect is status 0 with an error of its own.
async function api(path, body) {
  const init = {credentials: 'same-origin', cache: 'no-store', headers: {}};
  if (body !== undefined) {
    init.method = 'POST';
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (error) {
    return {ok: false, status: 0, data: {error: 'The application does not answer. Is it running?'}};
  }
  let data;
  try {
    data = await response.json();
  } catch (error) {
    data = {error: `The application gave an answer that is not JSON (HTTP ${response.status}).`};
  }
  if (response.status === 403) lockOut();
  if (!response.ok && (data === null || typeof data.error !== 'string')) {
    data = {error: `The application refused (HTTP ${response.status}).`};
  }
  return {ok: response.ok, status: response.status, data};
}

// Shows `text` in the message region `id` as done or as an error; empty clears it.
function say(id, text, isError = false) {
  const element = $(id);
  element.textContent = text;
  element.classList.toggle('error', Boolean(text) && isError);
  element.classList.toggle('done', Boolean(text) && !isError);
}

// Runs a POST and reports its outcome in `messageId`: the refusal's reason, or `doneText`.
// Answers the data on success, null on refusal.
async function command(path, body, messageId, doneText) {
  const answer = await api(path, body);
  if (!answer.ok) {
    say(messageId, answer.data.error, true);
    return null;
  }
  say(messageId, typeof doneText === 'function' ? doneText(answer.data) : doneText || '');
  return answer.data;
}

function lockOut() {
  if (state.lockedOut) return;
  state.lockedOut = true;
  $('no-session').hidden = false;
  $('main').hidden = true;
  $('connection').textContent = '';
}

// ---------------------------------------------------------------------------------------------
// Times

function plural(n, one) {
  return `${n} ${one}${n === 1 ? '' : 's'}`;
}

// "1 h 05 min 10 s" style: what is left, to the second.
function durationText(seconds) {
  seconds = Math.max(0, Math.round(seconds));
  const d = Math.floor(seconds / 86400);
  const h = Math.floor((seconds % 86400) / 3600);
  const m = Math.floor((seconds % 3600) / 60);
  const s = seconds % 60;
  const two = (n) => String(n).padStart(2, '0');
  if (d > 0) return `${plural(d, 'day')} ${h} h ${two(m)} min`;
  if (h > 0) return `${h} h ${two(m)} min ${two(s)} s`;
  if (m > 0) return `${m} min ${two(s)} s`;
  return `${s} s`;
}

// Minutes, rounded up: "in 3 minutes".
function minutesText(seconds) {
  return plural(Math.max(1, Math.ceil(seconds / 60)), 'minute');
}

function clockText(date) {
  const now = new Date();
  const time = date.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit'});
  if (date.toDateString() === now.toDateString()) return time;
  const day = date.toLocaleDateString([], {weekday: 'short', day: 'numeric', month: 'short'});
  return `${day} ${time}`;
}

function dateOf(text) {
  if (typeof text !== 'string' || text === '') return null;
  const date = new Date(text);
  return Number.isNaN(date.getTime()) ? null : date;
}

// A moment `seconds` after the status arrived, for the interval keys of the status.
function afterStatus(seconds) {
  return typeof seconds === 'number' && seconds > 0 ? new Date(state.statusAt + seconds * 1000) :
                                                      null;
}

// ---------------------------------------------------------------------------------------------
// The phase

// When the running period ends: its own end, a timer's, or the schedule's; null when it runs
// until stopped.
function blockEnd(status) {
  return dateOf(status.endsAt) || afterStatus(status.timeUntilUnblock) ||
      (status.isScheduleBlocked ? dateOf(status.scheduleEnd) : null);
}

function breakEnd(status) {
  return dateOf(status.breakEndsAt);
}

function blockStart(status) {
  return afterStatus(status.countDown) || afterStatus(status.timeUntilBlock);
}

function allowanceOf(status) {
  return typeof status.allowedBreakTime === 'number' ? status.allowedBreakTime
                                                     : state.allowanceLeft;
}

function showStatus(status) {
  if (!status || typeof status.phase !== 'string') return;
  state.status = status;
  state.statusAt = Date.now();
  const allowance = allowanceOf(status);
  if (typeof allowance === 'number') state.allowanceLeft = allowance;
  $('phase').dataset.phase = status.phase;
  renderPhase();
  const reason = $('lock-reason');
  reason.hidden = !status.locked;
  reason.textContent = status.locked ? `Locked: ${status.lockReason || 'no reason given'}.` : '';
}

// Writes the phase and the times left; called on each status and each second.
function renderPhase() {
  const status = state.status;
  if (!status) return;
  const now = Date.now();
  let phase = 'Blocking is off.';
  let left = '';
  if (status.phase === 'imminent') {
    const start = blockStart(status);
    phase = start ?
        `Blocking starts in ${minutesText((start - now) / 1000)}, at ${clockText(start)}.` :
        'Blocking starts soon.';
    if (start) left = `Starts in ${durationText((start - now) / 1000)}`;
  } else if (status.phase === 'blocking') {
    const end = blockEnd(status);
    phase = end ? `Blocking is on until ${clockText(end)}.` : 'Blocking is on until you stop it.';
    if (end) left = `${durationText((end - now) / 1000)} left`;
  } else if (status.phase === 'break') {
    const end = breakEnd(status);
    phase = end ? `On a break until ${clockText(end)}.` : 'On a break.';
    if (end) left = `${durationText((end - now) / 1000)} of the break left`;
  }
  setText('phase', phase);
  setText('time-left', left);

  const next = $('next-block');
  const start = status.phase === 'off' ? blockStart(status) : null;
  next.hidden = !start;
  if (start) {
    setText(
        'next-block',
        `The next scheduled block starts ${clockText(start)} (in ${
            durationText((start - now) / 1000)}).`);
  }
  const allowance = $('break-allowance');
  allowance.hidden = typeof state.allowanceLeft !== 'number';
  if (!allowance.hidden) {
    setText('break-allowance', `Break allowance left: ${durationText(state.allowanceLeft)}.`);
  }
  // A period that has just ended: ask once rather than show a countdown below zero.
  const end = status.phase === 'blocking' ? blockEnd(status) :
      status.phase === 'break'            ? breakEnd(status) :
                                            blockStart(status);
  if (end && end - now < -1500 && !state.refreshing) {
    state.refreshing = true;
    refreshStatus().finally(() => {
      state.refreshing = false;
    });
  }
}

// Changes an element's text only when it differs: a live region then speaks real changes only.
function setText(id, text) {
  const element = $(id);
  if (element.textContent !== text) element.textContent = text;
}

function setConnection(text) {
  setText('connection', text);
}

async function refreshStatus() {
  const answer = await api('/api/status');
  if (answer.ok) showStatus(answer.data);
}

async function refreshGuard() {
  const answer = await api('/api/guard');
  let text;
  if (!answer.ok) {
    text = `System guard: ${answer.data.error}`;
  } else if (answer.data.guard === 'absent') {
    text = 'System guard: not installed; a locked block holds for this session only.';
  } else if (answer.data.locked) {
    const end = answer.data.lock && dateOf(answer.data.lock.end);
    text = `System guard: holds your block locked${end ? ` until ${clockText(end)}` : ''}.`;
  } else {
    text = 'System guard: installed, holds no lock for you.';
  }
  setText('guard', text);
}

// ---------------------------------------------------------------------------------------------
// Starting and ending

async function start(event) {
  event.preventDefault();
  const length = document.querySelector('input[name="length"]:checked').value;
  const body = {
    hardcore: $('start-hardcore').checked,
    mustComplete: $('start-must-complete').checked
  };
  if (length === 'for') body.for = $('start-for').value.trim();
  if (length === 'until') body.until = $('start-until').value;
  const data = await command('/api/start', body, 'block-message', 'Blocking started.');
  if (data) await refreshStatus();
}

async function stop() {
  const data = await command(
      '/api/stop', {}, 'block-message',
      (d) => d.stopped === false ? 'Blocking is not on.' : 'Blocking stopped.');
  if (data) await refreshStatus();
}

async function takeBreak(event) {
  event.preventDefault();
  const length = $('break-for').value.trim();
  const data = await command('/api/break', length ? {for: length
  } : {}, 'block-message', 'The break has started.');
  if (data) {
    if (typeof data.allowedLeft === 'number') state.allowanceLeft = data.allowedLeft;
    await refreshStatus();
  }
}

async function endBreak() {
  const data = await command(
      '/api/unbreak', {}, 'block-message',
      (d) => d.unbroken === false ? 'No break is running.' : 'The break is over.');
  if (data) {
    if (typeof data.allowedLeft === 'number') state.allowanceLeft = data.allowedLeft;
    await refreshStatus();
  }
}

// ---------------------------------------------------------------------------------------------
// Sites

function emptyItem(text) {
  const li = document.createElement('li');
  li.className = 'empty';
  li.textContent = text;
  return li;
}

function button(text, label, onClick, quiet = true) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = text;
  if (label) b.setAttribute('aria-label', label);
  if (quiet) b.className = 'quiet';
  b.addEventListener('click', onClick);
  return b;
}

function renderSites(report) {
  const allow = report.list === 'allowed';
  const list = $(allow ? 'allowed-list' : 'blocked-list');
  const title = allow ? 'the allow list' : 'the blocked sites';
  const items = (report.patterns || []).map((pattern) => {
    const li = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = pattern;
    li.append(
        name,
        button(
            'Remove', `Remove ${pattern} from ${title}`,
            () => editSites('remove', allow, [pattern])));
    return li;
  });
  list.replaceChildren(...(items.length ? items : [emptyItem('No sites yet.')]));
  $('allow-list-mode').checked = Boolean(report.allowListOn);
  const inForce = allow === Boolean(report.allowListOn);
  setText(allow ? 'allowed-state' : 'blocked-state', inForce ? '(in force)' : '(not in force)');
}

async function refreshSites() {
  for (const allow of [false, true]) {
    const answer = await api('/api/sites', {action: 'list', allow});
    if (answer.ok) renderSites(answer.data);
  }
}

async function editSites(action, allow, patterns) {
  const verb = action === 'add' ? 'Added' : 'Removed';
  const data = await command(
      '/api/sites', {action, allow, patterns}, 'sites-message', `${verb} ${patterns.join(', ')}.`);
  if (data) renderSites(data);
  return data;
}

function addSites(allow) {
  return async (event) => {
    event.preventDefault();
    const input = $(allow ? 'allowed-pattern' : 'blocked-pattern');
    const patterns = input.value.split(/\s+/).filter(Boolean);
    if (!patterns.length) return;
    if (await editSites('add', allow, patterns)) input.value = '';
  };
}

async function switchAllowList() {
  const box = $('allow-list-mode');
  const on = box.checked;
  const data = await command(
      '/api/sites', {action: 'allowlist', on}, 'sites-message',
      on ? 'Allow-list mode is on.' : 'Allow-list mode is off.');
  if (!data) box.checked = !on;
  await refreshSites();
}

const kRankText = {
  1: 'an always-allowed (“+”) pattern',
  2: 'an always-blocked (“-”) pattern',
  3: 'an allowing pattern',
  4: 'a blocking pattern',
  5: 'no pattern',
};

async function explain(event) {
  event.preventDefault();
  const url = $('why-url').value.trim();
  const answer = await api(`/api/check-url?url=${encodeURIComponent(url)}`);
  if (!answer.ok) {
    say('why-result', answer.data.error, true);
    return;
  }
  const d = answer.data;
  const verdict = d.blocked ? 'is blocked' : 'is allowed';
  const by = d.rank === 5 ?
      (d.blocked ? 'no pattern of the allow list matches it' : 'no pattern matches it') :
      `${kRankText[d.rank] || 'a rule'} decides: ${d.pattern}`;
  say('why-result', `${d.url} ${verdict}: ${by}.`);
}

// ---------------------------------------------------------------------------------------------
// Programs

const kHow = [
  ['quit', 'Quit'],
  ['hide', 'Hide'],
  ['forceQuit', 'Force quit'],
  ['softQuit', 'Ask to quit, then leave it'],
];

function howOf(entry) {
  if (entry.shouldHideInsteadOfQuit) return 'hide';
  if (entry.performOnlySoftKillThenLeaveOpen) return 'softQuit';
  if (entry.shouldAlwaysForceQuit) return 'forceQuit';
  return 'quit';
}

function appName(path) {
  const known = state.installed.find((app) => app.path === path);
  return known ? known.name : path.split('/').pop() || path;
}

function renderApps(report) {
  const items = (report.applications || []).map((entry) => {
    const name = appName(entry.path);
    const li = document.createElement('li');
    const label = document.createElement('span');
    label.className = 'name';
    const strong = document.createElement('strong');
    strong.textContent = name;
    const path = document.createElement('code');
    path.textContent = entry.path;
    label.append(strong, ' ', path);

    const how = document.createElement('select');
    how.setAttribute('aria-label', `How ${name} is ended`);
    for (const [value, text] of kHow)
      how.add(new Option(text, value, false, value === howOf(entry)));
    how.addEventListener('change', () => editApps('add', [entry.path], {[how.value]: true}));

    const reopenId = `reopen-${Math.random().toString(36).slice(2)}`;
    const reopen = document.createElement('input');
    reopen.type = 'checkbox';
    reopen.id = reopenId;
    reopen.checked = Boolean(entry.shouldReopenWhenUnzeltoing);
    reopen.addEventListener(
        'change', () => editApps('add', [entry.path], {reopen: reopen.checked}));
    const reopenLabel = document.createElement('label');
    reopenLabel.htmlFor = reopenId;
    reopenLabel.textContent = 'Reopen after';
    reopen.setAttribute('aria-label', `Reopen ${name} when blocking ends`);

    li.append(
        label, how, reopen, reopenLabel,
        button('Remove', `Stop blocking ${name}`, () => editApps('remove', [entry.path])));
    return li;
  });
  $('apps-list').replaceChildren(...(items.length ? items : [emptyItem('No programs yet.')]));
}

async function refreshApps() {
  const answer = await api('/api/apps', {action: 'list'});
  if (answer.ok) renderApps(answer.data);
}

async function editApps(action, paths, flags = {}) {
  const names = paths.map(appName).join(', ');
  const done = action === 'add' ? `${names}: saved.` : `${names} is no longer blocked.`;
  const data = await command('/api/apps', {action, paths, ...flags}, 'apps-message', done);
  if (data)
    renderApps(data);
  else
    await refreshApps();  // a refused change puts the controls back as they are
  return data;
}

async function addApp(event) {
  event.preventDefault();
  const input = $('app-path');
  const path = input.value.trim();
  if (path && await editApps('add', [path])) input.value = '';
}

function renderInstalled() {
  const filter = $('installed-filter').value.trim().toLowerCase();
  const shown = state.installed.filter((app) => app.name.toLowerCase().includes(filter));
  const items = shown.map((app) => {
    const li = document.createElement('li');
    let picture;
    if (typeof app.icon === 'string' && app.icon.startsWith('/api/icons/')) {
      picture = document.createElement('img');
      picture.src = app.icon;
      picture.alt = '';
      picture.width = 24;
      picture.height = 24;
    } else {
      picture = document.createElement('span');
      picture.className = 'no-icon';
    }
    const text = document.createElement('span');
    text.textContent = app.name;
    const pick = button('', `Block ${app.name}`, () => editApps('add', [app.path]), false);
    pick.title = app.path;
    pick.append(picture, text);
    li.append(pick);
    return li;
  });
  $('installed-list').replaceChildren(...(items.length ? items : [
    emptyItem(state.installed.length ? 'None matches.' : 'None found.')
  ]));
}

async function refreshInstalled() {
  const answer = await api('/api/installed-apps');
  if (!answer.ok) {
    say('apps-message', answer.data.error, true);
    return;
  }
  state.installed = Array.isArray(answer.data.applications) ? answer.data.applications : [];
  renderInstalled();
}

// ---------------------------------------------------------------------------------------------
// Schedules

const kDays = {
  weekdays: 'Weekdays',
  weekends: 'Weekends',
  daily: 'Every day',
  mon: 'Mondays',
  tue: 'Tuesdays',
  wed: 'Wednesdays',
  thu: 'Thursdays',
  fri: 'Fridays',
  sat: 'Saturdays',
  sun: 'Sundays',
};

function renderSchedules(list) {
  const items = (Array.isArray(list) ? list : []).map((schedule) => {
    const li = document.createElement('li');
    const text = `${kDays[schedule.days] || schedule.days} ${schedule.from}–${schedule.to}`;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = text;
    if (schedule.inForce) {
      const badge = document.createElement('span');
      badge.className = 'in-force';
      badge.textContent = ' in force now';
      name.append(badge);
    }
    const id = `schedule-on-${schedule.id}`;
    const on = document.createElement('input');
    on.type = 'checkbox';
    on.id = id;
    on.checked = Boolean(schedule.enabled);
    on.setAttribute('aria-label', `${text}: on`);
    on.addEventListener('change', async () => {
      const action = on.checked ? 'enable' : 'disable';
      const data = await command(
          '/api/schedules', {action, id: schedule.id}, 'schedules-message',
          `${text} is ${on.checked ? 'on' : 'off'}.`);
      if (!data) on.checked = !on.checked;
      await refreshScheduleViews();
    });
    const onLabel = document.createElement('label');
    onLabel.htmlFor = id;
    onLabel.textContent = 'On';
    li.append(name, on, onLabel, button('Remove', `Remove the schedule ${text}`, async () => {
                const data = await command(
                    '/api/schedules', {action: 'remove', id: schedule.id}, 'schedules-message',
                    `Removed ${text}.`);
                if (data) await refreshScheduleViews();
              }));
    return li;
  });
  $('schedules-list').replaceChildren(...(items.length ? items : [emptyItem('No schedules yet.')]));
}

async function addSchedule(event) {
  event.preventDefault();
  const body = {
    action: 'add',
    days: $('schedule-days').value,
    from: $('schedule-from').value,
    to: $('schedule-to').value
  };
  const data = await command(
      '/api/schedules', body, 'schedules-message',
      `Added ${kDays[body.days]} ${body.from}–${body.to}.`);
  if (data) await refreshScheduleViews();
}

// The week ahead: one row a day from today, one cell an hour, filled when blocking is
// scheduled for any part of it.
function renderWeek(report) {
  const from = dateOf(report.from) || new Date();
  const days = Math.min(Math.max(Number(report.days) || 7, 1), 31);
  const periods = (report.periods || [])
                      .map((p) => [dateOf(p.start), dateOf(p.end)])
                      .filter(([s, e]) => s && e && e > s);
  const cells = [document.createElement('span')];
  for (let hour = 0; hour < 24; ++hour) {
    const label = document.createElement('span');
    label.className = 'hour';
    label.textContent = hour % 6 === 0 ? String(hour).padStart(2, '0') : '';
    cells.push(label);
  }
  const now = new Date();
  for (let day = 0; day < days; ++day) {
    const dayStart = new Date(from.getFullYear(), from.getMonth(), from.getDate() + day);
    const label = document.createElement('span');
    label.className = 'day';
    label.textContent = dayStart.toLocaleDateString([], {weekday: 'short', day: 'numeric'});
    cells.push(label);
    for (let hour = 0; hour < 24; ++hour) {
      const start = new Date(dayStart.getFullYear(), dayStart.getMonth(), dayStart.getDate(), hour);
      const end =
          new Date(dayStart.getFullYear(), dayStart.getMonth(), dayStart.getDate(), hour + 1);
      const cell = document.createElement('span');
      cell.className = 'cell';
      if (periods.some(([s, e]) => s < end && e > start)) cell.classList.add('on');
      if (now >= start && now < end) cell.classList.add('now');
      cells.push(cell);
    }
  }
  $('week').replaceChildren(...cells);
  const lines = periods.map(([s, e]) => {
    const li = document.createElement('li');
    li.textContent = `${clockText(s)} → ${clockText(e)}`;
    return li;
  });
  $('periods').replaceChildren(
      ...(lines.length ? lines : [emptyItem('No blocking is scheduled this week.')]));
}

async function refreshScheduleViews() {
  const [list, week] =
      await Promise.all([api('/api/schedules', {action: 'list'}), api('/api/schedule?days=7')]);
  if (list.ok) renderSchedules(list.data);
  if (week.ok) renderWeek(week.data);
}

// ---------------------------------------------------------------------------------------------
// Keeping up

// Everything the configuration holds, asked again (on load and after a change elsewhere).
async function refreshAll() {
  await Promise.all(
      [refreshStatus(), refreshGuard(), refreshSites(), refreshApps(), refreshScheduleViews()]);
}

function listen() {
  const source = new EventSource('/api/events');
  source.addEventListener('status', (event) => {
    try {
      showStatus(JSON.parse(event.data));
    } catch (error) {
      console.warn('A status event that is not JSON:', error);
    }
  });
  source.addEventListener('changed', () => {
    refreshAll();
  });
  // "Live" only once the stream is open: from then on no change is missed.
  source.addEventListener('open', () => setConnection('Live'));
  source.addEventListener('error', () => {
    if (source.readyState !== EventSource.CLOSED) {
      setConnection('Reconnecting…');
      return;
    }
    // Refused outright (no session, or too many pages open): find out which, then try again.
    source.close();
    setConnection('Not connected');
    api('/api/status').then((answer) => {
      if (answer.status !== 403) setTimeout(listen, 5000);
    });
  });
}

async function main() {
  // No broken picture where the logo can't be had.
  const logo = document.querySelector('.logo');
  const hideLogo = () => {
    logo.hidden = true;
  };
  if (logo.complete && logo.naturalWidth === 0) hideLogo();
  logo.addEventListener('error', hideLogo);
  $('start-form').addEventListener('submit', start);
  $('stop').addEventListener('click', stop);
  $('break-form').addEventListener('submit', takeBreak);
  $('end-break').addEventListener('click', endBreak);
  $('blocked-add').addEventListener('submit', addSites(false));
  $('allowed-add').addEventListener('submit', addSites(true));
  $('allow-list-mode').addEventListener('change', switchAllowList);
  $('why-form').addEventListener('submit', explain);
  $('app-add').addEventListener('submit', addApp);
  $('installed-filter').addEventListener('input', renderInstalled);
  $('schedule-add').addEventListener('submit', addSchedule);
  // A time field left empty starts a timer in an hour's time.
  const later = new Date(Date.now() + 3600 * 1000);
  $('start-until').value = `${String(later.getHours()).padStart(2, '0')}:00`;
  $('start-until').addEventListener('input', () => {
    $('length-until').checked = true;
  });
  $('start-for').addEventListener('input', () => {
    $('length-for').checked = true;
  });

  const first = await api('/api/status');
  if (first.status === 403) return;
  if (first.ok)
    showStatus(first.data);
  else
    setConnection(first.data.error);
  await refreshInstalled();  // names for the blocked programs' list
  await refreshAll();
  listen();
  setInterval(renderPhase, 1000);
  document.body.dataset.ready = 'true';
}

main();
