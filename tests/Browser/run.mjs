// The settings page in a real browser against the real application: node run.mjs BUNDLE
// [ARTIFACTS]. BUNDLE is the built Zelto.app; each test leaves a screenshot in ARTIFACTS
// (default: build/artifacts/browser beside the bundle). Exits 77 (skipped) where Chromium or
// the test's node packages are missing.
import fs from 'node:fs';
import http from 'node:http';
import {createRequire} from 'node:module';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const kSkip = 77;
// Sanitized builds run slower: the bounds on how soon something happens grow with them.
const kScale = Number(process.env.ZELTO_TIMEOUT_SCALE) || 1;

const bundle = path.resolve(process.argv[2] || path.join(here, '../../build/Zelto.app'));
const artifacts =
    path.resolve(process.argv[3] || path.join(path.dirname(bundle), 'artifacts/browser'));

function skip(why) {
  console.log(`SKIPPED: ${why}`);
  process.exit(kSkip);
}

const {kChromium} = await import('./harness.mjs');
if (!fs.existsSync(kChromium)) skip(`no Chromium at ${kChromium} (scripts/setup installs it)`);
try {
  createRequire(import.meta.url).resolve('puppeteer-core');
} catch (error) {
  skip(`puppeteer-core is not installed: run "npm ci" in ${here} (scripts/setup does)`);
}
if (!fs.existsSync(path.join(bundle, 'Contents/MacOS/Zelto'))) {
  console.error(`No application in ${bundle}: build it first (ninja -C build Zelto zeltoctl)`);
  process.exit(1);
}
fs.mkdirSync(artifacts, {recursive: true});

const {default: puppeteer} = await import('puppeteer-core');
const {test, before, after} = await import('node:test');
const assert = (await import('node:assert/strict')).default;
const {AppUnderTest, chromiumArgs, eventually, freePort, request} = await import('./harness.mjs');

let browser;
let profileDir;

before(async () => {
  profileDir = fs.mkdtempSync(path.join(fs.realpathSync('/tmp'), 'zelto-browser-chromium-'));
  browser = await puppeteer.launch(
      {executablePath: kChromium, headless: true, args: chromiumArgs(profileDir), timeout: 30000});
});

after(async () => {
  if (browser) await browser.close();
  if (profileDir) fs.rmSync(profileDir, {recursive: true, force: true});
});

// Runs `body(app, page, context)` with a started application, a fresh browser context (its
// own cookies) and a page already in through `zeltoctl open --print-url`, then saves the
// screenshot NAME.png and stops everything, whatever happened.
function pageTest(name, body, {setUp, width = 1024} = {}) {
  test(name, async () => {
    const app = new AppUnderTest(bundle, name);
    const context = await browser.createBrowserContext();
    let page;
    try {
      if (setUp) await setUp(app);
      await app.start();
      page = await context.newPage();
      await page.setViewport({width, height: 900});
      const errors = [];
      page.on('pageerror', (error) => errors.push(error.message));
      await page.goto(await app.sessionUrl(), {waitUntil: 'domcontentloaded'});
      await page.waitForFunction(() => document.body.dataset.ready === 'true', {timeout: 10000});
      await body(app, page, context);
      assert.deepEqual(errors, [], 'the page threw');
    } catch (error) {
      console.log(`--- the application's log (${name}):\n${app.log().slice(-6000)}`);
      throw error;
    } finally {
      if (page) {
        await page.screenshot({path: path.join(artifacts, `${name}.png`), fullPage: true})
            .catch((error) => console.log(`No screenshot of ${name}: ${error.message}`));
      }
      await context.close().catch(() => {});
      await app.close();
    }
  });
}

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);

// Waits until the page's element `selector` holds `wanted` (a string or a RegExp).
function pageShows(page, selector, wanted, timeout = 5000) {
  const source = wanted instanceof RegExp ? wanted.source : null;
  return page.waitForFunction((sel, plain, regex) => {
    const element = document.querySelector(sel);
    if (!element) return false;
    return regex ? new RegExp(regex).test(element.textContent) :
                   element.textContent.includes(plain);
  }, {timeout}, selector, source ? null : wanted, source);
}

// Clicks the button whose accessible name is `name`.
async function clickNamed(page, name) {
  const found = await page.waitForSelector(`::-p-aria(${name})`, {timeout: 5000});
  await found.click();
}

pageTest('phase-off', async (app, page) => {
  assert.equal(await page.$eval('#phase', (e) => e.dataset.phase), 'off');
  assert.match(await text(page, '#phase'), /Blocking is off/);
  assert.equal(await page.$eval('#no-session', (e) => e.hidden), true);
});

pageTest('start-timer', async (app, page) => {
  await page.click('#length-for');
  await page.$eval('#start-for', (e) => {
    e.value = '';
  });
  await page.type('#start-for', '25m');
  await page.click('#start');
  const status = await eventually(async () => {
    const s = await app.ctlJson('status');
    return s.phase === 'blocking' && s;
  }, 'zeltoctl status to report the timer');
  assert.ok(
      status.timeUntilUnblock > 24 * 60 && status.timeUntilUnblock <= 25 * 60,
      `${status.timeUntilUnblock} s left of a 25-minute timer`);
  assert.equal(status.locked, false);
  await pageShows(page, '#phase', 'Blocking is on until');
  await pageShows(page, '#time-left', /^2[45] min \d\d s left$/);
});

pageTest('locked-stop-refused', async (app, page) => {
  const started = await app.ctl('start', '--for', '30m', '--hardcore', '--must-complete');
  assert.equal(started.code, 0, started.stderr);
  await pageShows(page, '#lock-reason', 'Locked');
  const before = await app.ctlJson('status');
  await page.click('#stop');
  await page.waitForFunction(() => {
    const message = document.getElementById('block-message');
    return message.classList.contains('error') && message.textContent.length > 0;
  }, {timeout: 5000});
  assert.match(await text(page, '#block-message'), /lock|hardcore|complete/i);
  assert.equal(await page.$eval('#block-message', (e) => e.getAttribute('aria-live')), 'polite');
  const after = await app.ctlJson('status');
  assert.equal(after.phase, 'blocking');
  assert.equal(after.locked, true);
  assert.equal(after.lockReason, before.lockReason);
  assert.ok(
      Math.abs(after.timeUntilUnblock - before.timeUntilUnblock) < 30,
      `the end moved: ${before.timeUntilUnblock} -> ${after.timeUntilUnblock}`);
});

pageTest('site-added', async (app, page) => {
  await page.type('#blocked-pattern', 'added-on-the-page.example');
  await page.keyboard.press('Enter');
  await pageShows(page, '#blocked-list', 'added-on-the-page.example');
  const check = await app.ctl('check-url', 'https://added-on-the-page.example/some/page');
  assert.equal(check.code, 0, check.stderr);
  assert.match(check.stdout, /^blocked\t/);
  await page.type('#why-url', 'https://added-on-the-page.example/x');
  await page.click('#why-form button');
  await pageShows(page, '#why-result', 'is blocked');
});

pageTest('schedule-added', async (app, page) => {
  await page.select('#schedule-days', 'daily');
  for (const [id, value] of [['#schedule-from', '10:15'], ['#schedule-to', '11:45']]) {
    await page.$eval(id, (e, v) => {
      e.value = v;
    }, value);
  }
  await page.click('#schedule-add button');
  const listed = await eventually(async () => {
    const schedules = await app.ctlJson('schedules', 'list');
    return schedules.find((s) => s.days === 'daily' && s.from === '10:15' && s.to === '11:45');
  }, 'the schedule in zeltoctl schedules list');
  assert.equal(listed.enabled, true);
  await pageShows(page, '#schedules-list', '10:15–11:45');
  // Every day of the week ahead has its 10 and 11 o'clock hours filled.
  await page.waitForFunction(
      () => document.querySelectorAll('#week .cell.on').length >= 12, {timeout: 5000});
});

pageTest('cli-change-live', async (app, page) => {
  await pageShows(page, '#connection', 'Live');
  const changed = await app.ctl('sites', 'add', 'from-the-command-line.example');
  assert.equal(changed.code, 0, changed.stderr);
  const saved = Date.now();
  await pageShows(page, '#blocked-list', 'from-the-command-line.example', 1000 * kScale);
  console.log(`# the page showed the change ${Date.now() - saved} ms after zeltoctl saved it`);
});

pageTest('installed-app-blocked', async (app, page) => {
  await page.waitForSelector('::-p-aria(Block Test Editor)', {timeout: 5000});
  const icon = await page.$eval('#installed-list img', (img) => img.getAttribute('src'));
  assert.match(icon, /^\/api\/icons\/\d+$/);
  assert.ok(
      await page.$eval('#installed-list img', (img) => img.complete && img.naturalWidth > 0),
      'the icon loads');
  const installed = await page.evaluate(
      () => fetch('/api/installed-apps').then((r) => r.json()).then((d) => d.applications));
  assert.deepEqual(installed.map((a) => a.name), ['Test Editor'], 'NoDisplay entries are left out');
  await clickNamed(page, 'Block Test Editor');
  await pageShows(page, '#apps-list', 'Test Editor');
  const listed = await app.ctlJson('apps', 'list');
  assert.deepEqual(listed.applications.map((a) => a.path), [installed[0].path]);

  // While blocking, a started copy is ended.
  const started = await app.ctl('start', '--for', '10m');
  assert.equal(started.code, 0, started.stderr);
  const editor = app.spawnChild(app.editor);
  const ended = await Promise.race([
    editor.exited,
    new Promise((resolve) => setTimeout(() => resolve(null), 15000)),
  ]);
  assert.ok(ended, 'the blocked program still runs 15 s after it started');
}, {
  setUp: (app) => {
    app.editor = path.join(app.dir, 'bin/test-editor');
    fs.mkdirSync(path.dirname(app.editor));
    fs.writeFileSync(app.editor, '#!/bin/sh\nread -r line\n', {mode: 0o755});
    const icon = path.join(app.dir, 'test-editor.svg');
    fs.writeFileSync(
        icon,
        '<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24">' +
            '<circle cx="12" cy="12" r="10" fill="#1d6b62"/></svg>');
    fs.writeFileSync(
        path.join(app.dataHome, 'applications/test-editor.desktop'),
        `[Desktop Entry]\nType=Application\nName=Test Editor\nExec=${app.editor} %F\n` +
            `Icon=${icon}\n`);
    fs.writeFileSync(
        path.join(app.dataHome, 'applications/hidden.desktop'),
        '[Desktop Entry]\nType=Application\nName=Hidden One\nExec=/bin/true\n' +
            'NoDisplay=true\n');
  },
});

// A page of another origin on the same machine (the same site as far as cookies go: another
// port of localhost) tries to change and read the settings with the user's session cookie.
pageTest('foreign-page-refused', async (app, page, context) => {
  const target = app.base;
  const evilPort = await freePort();
  const evil = http.createServer((req, res) => {
    res.writeHead(200, {'Content-Type': 'text/html'});
    res.end(`<!DOCTYPE html><title>elsewhere</title>
<iframe name="sink"></iframe>
<form id="f" method="POST" target="sink" enctype="text/plain" action="${target}/api/sites">
<input name='{"action":"add","patterns":["evil.example"],"x":"' value='"}'></form>
<script>
const results = {};
const settle = (key, promise) => promise.then((v) => { results[key] = v; },
                                              (e) => { results[key] = 'refused: ' + e.message; });
document.getElementById('f').submit();
settle('stop', fetch('${target}/api/stop', {method: 'POST', mode: 'no-cors',
    credentials: 'include', headers: {'Content-Type': 'text/plain'}, body: '{}'})
    .then((r) => 'opaque ' + r.type));
settle('json', fetch('${target}/api/sites', {method: 'POST', credentials: 'include',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({action: 'add', patterns: ['evil2.example']})}).then((r) => r.text()));
settle('read', fetch('${target}/api/status', {credentials: 'include'}).then((r) => r.text()));
settle('image', new Promise((resolve, reject) => {
  const img = new Image();
  img.onload = () => resolve('loaded ' + img.naturalWidth);
  img.onerror = () => reject(new Error('no image'));
  img.src = '${target}/api/icons/0';
}));
window.results = results;
</script>`);
  });
  await new Promise((resolve) => evil.listen(evilPort, '127.0.0.1', resolve));
  try {
    assert.equal((await app.ctl('start', '--for', '30m')).code, 0);
    const statusBefore = await app.ctlJson('status');
    const sitesBefore = await app.ctlJson('sites', 'list');

    const answers = [];
    const other = await context.newPage();
    other.on('response', (r) => {
      if (r.url().startsWith(`${target}/api/`)) {
        answers.push(
            {url: r.url(), method: r.request().method(), status: r.status(), headers: r.headers()});
      }
    });
    await other.goto(`http://localhost:${evilPort}/`);
    const results = await other.waitForFunction(
        () => window.results && Object.keys(window.results).length === 4 && window.results,
        {timeout: 10000});
    const outcome = await results.jsonValue();
    // The form's POST was answered, and refused.
    await eventually(
        () => answers.some((a) => a.method === 'POST' && a.url.endsWith('/api/sites')),
        'the form POST to be answered', 5000);
    await other.close();

    assert.match(outcome.read, /^refused/, 'the foreign page read the status');
    assert.match(outcome.json, /^refused/, 'the foreign page sent JSON');
    assert.match(outcome.image, /^refused/, 'the foreign page loaded an icon');
    for (const answer of answers) {
      assert.ok(answer.status >= 400, `${answer.method} ${answer.url} answered ${answer.status}`);
      for (const header of Object.keys(answer.headers)) {
        assert.ok(!header.startsWith('access-control-'), `${answer.url} sent ${header}`);
      }
    }
    assert.deepEqual((await app.ctlJson('sites', 'list')).patterns, sitesBefore.patterns);
    const statusAfter = await app.ctlJson('status');
    assert.equal(statusAfter.phase, statusBefore.phase);
    assert.equal(statusAfter.phase, 'blocking');
  } finally {
    evil.close();
  }

  // The session link works once: a second browser with the same link is turned away.
  const url = await app.sessionUrl();
  const first = await browser.createBrowserContext();
  const second = await browser.createBrowserContext();
  try {
    const once = await first.newPage();
    const firstAnswer = await once.goto(url);
    assert.equal(firstAnswer.status(), 200);
    assert.equal(new URL(once.url()).pathname, '/');
    const again = await second.newPage();
    const secondAnswer = await again.goto(url);
    assert.equal(secondAnswer.status(), 403);
    assert.match(await again.evaluate(() => document.body.textContent), /zeltoctl open/);
    await again.goto(`${target}/`);
    await again.waitForSelector('#no-session:not([hidden])', {timeout: 5000});
    await again.screenshot({path: path.join(artifacts, 'no-session.png')});
  } finally {
    await first.close();
    await second.close();
  }
  const direct = await request(`${target}/api/status`);
  assert.equal(direct.status, 403);
  assert.equal(direct.headers['x-frame-options'], 'DENY');
});

pageTest('keyboard-narrow', async (app, page) => {
  await page.waitForFunction(
      () => document.querySelectorAll('#apps-list select').length === 1 &&
          document.querySelectorAll('#schedules-list input').length === 1,
      {timeout: 5000});
  // Every control of the page, and whether Tab reaches it.
  const controls = await page.$$eval(
      'main button, main input, main select, main a[href]',
      (all) => all.filter((e) => e.offsetParent !== null).map((e, i) => {
        e.dataset.kbd = i;
        return i;
      }));
  assert.ok(controls.length >= 25, `${controls.length} controls`);
  const reached = new Set();
  let outlineMissing = null;
  for (let press = 0; press < controls.length + 40 && reached.size < controls.length; ++press) {
    await page.keyboard.press('Tab');
    const focused = await page.evaluate(() => {
      const e = document.activeElement;
      if (!e || e.dataset.kbd === undefined) return null;
      const style = getComputedStyle(e);
      return {
        index: Number(e.dataset.kbd),
        // (A time field's own picker button, inside the field, draws the browser's ring.)
        outline: !e.matches(':focus') ||
            (style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2),
        what: e.outerHTML.slice(0, 80)
      };
    });
    if (!focused) continue;
    reached.add(focused.index);
    if (!focused.outline && !outlineMissing) outlineMissing = focused.what;
  }
  // A group of radio buttons is one stop of Tab (the arrow keys choose within it).
  const missed = await page.$$eval('[data-kbd]', (all, got) => {
    const reachedOne = (e) => got.includes(Number(e.dataset.kbd));
    const groupReached = (e) =>
        e.type === 'radio' && all.some((r) => r.name === e.name && reachedOne(r));
    return all.filter((e) => !reachedOne(e) && !groupReached(e))
        .map((e) => e.outerHTML.slice(0, 80));
  }, [...reached]);
  assert.deepEqual(missed, [], 'controls Tab never reaches');
  assert.equal(outlineMissing, null, 'a control without a visible focus ring');

  // Each control has a name for a screen reader.
  const snapshot = await page.accessibility.snapshot({interestingOnly: true});
  const unnamed = [];
  const roles = new Set([
    'button', 'textbox', 'checkbox', 'radio', 'combobox', 'searchbox', 'link', 'spinbutton',
    'listbox'
  ]);
  (function walk(node) {
    if (roles.has(node.role) && !(node.name || '').trim()) unnamed.push(node.role);
    for (const child of node.children || []) walk(child);
  })(snapshot);
  assert.deepEqual(unnamed, [], 'controls without an accessible name');
  // Time fields are groups of spin buttons inside; their own label is checked here.
  const unlabelled = await page.$$eval(
      'input, select',
      (all) =>
          all.filter((e) => !e.labels.length && !e.getAttribute('aria-label')).map((e) => e.id));
  assert.deepEqual(unlabelled, []);

  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  assert.ok(width <= 360, `the page is ${width} px wide at a 360 px viewport`);
}, {
  width: 360,
  setUp: async (app) => {
    const editor = path.join(app.dir, 'editor');
    fs.writeFileSync(editor, '#!/bin/sh\nread -r line\n', {mode: 0o755});
    fs.writeFileSync(
        path.join(app.dataHome, 'applications/editor.desktop'),
        `[Desktop Entry]\nType=Application\nName=Editor\nExec=${editor}\n`);
    for (const args
             of [[
               'sites', 'add', 'news.example',
               'a-very-long-address-that-might-overflow' +
                   '-a-narrow-screen.example.com/with/path'
             ],
                 ['sites', 'add', '--allow', 'docs.example'], ['apps', 'add', editor],
                 ['schedules', 'add', '--days', 'weekdays', '--from', '09:00', '--to', '17:00']]) {
      const done = await app.ctl(...args);
      if (done.code !== 0) throw new Error(`zeltoctl ${args.join(' ')}: ${done.stderr}`);
    }
  },
});
