// What the browser tests share: the real application run from the built bundle in a private
// home (its own XDG folders, runtime folder and free ports), zeltoctl beside it with the same
// environment, and Debian's Chromium driven by puppeteer-core.
//
// Each AppUnderTest starts its own application and stops everything it started when closed;
// nothing reaches a system guard or a session bus, and no other copy of the bundle on the
// machine shares its ports, files or instance lock.
import {execFile, spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const kChromium = process.env.ZELTO_TEST_CHROMIUM || '/usr/bin/chromium';

// Waits until `condition` (may be async) answers something truthy, asking every 25 ms, and
// answers that; fails naming `what` after `timeoutMs`.
export async function eventually(condition, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await condition();
      if (value) return value;
    } catch (error) {
      last = error;
    }
    if (Date.now() > deadline) {
      throw new Error(
          `Timed out after ${timeoutMs} ms waiting for ${what}` +
          (last ? ` (last error: ${last.message})` : ''));
    }
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

// A port nothing listens on now, picked by the kernel.
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

// One HTTP request from node (no browser): {status, headers, body}.
export function request(url, {method = 'GET', headers = {}, body} = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, {method, headers, timeout: 5000}, (res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () => resolve({
                      status: res.statusCode,
                      headers: res.headers,
                      body: Buffer.concat(chunks).toString()
                    }));
    });
    req.on('timeout', () => req.destroy(new Error(`${url}: no answer within 5 s`)));
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

export class AppUnderTest {
  // `bundle`: the built Zelto.app. Call start() next.
  constructor(bundle, name) {
    this.bundle = bundle;
    this.name = name;
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), `zelto-browser-${name}-`));
    this.home = path.join(this.dir, 'home');
    this.run = path.join(this.dir, 'run');
    this.dataHome = path.join(this.home, '.local/share');
    for (const dir
             of [this.dataHome, path.join(this.home, '.config'),
                 path.join(this.home, '.local/state'), path.join(this.home, '.cache'),
                 path.join(this.dir, 'share'), path.join(this.dataHome, 'applications')]) {
      fs.mkdirSync(dir, {recursive: true});
    }
    fs.mkdirSync(this.run, {mode: 0o700});
    this.env = {
      PATH: process.env.PATH || '/usr/bin:/bin',
      LANG: 'C.UTF-8',
      TZ: process.env.TZ || 'UTC',
      HOME: this.home,
      XDG_DATA_HOME: this.dataHome,
      XDG_CONFIG_HOME: path.join(this.home, '.config'),
      XDG_STATE_HOME: path.join(this.home, '.local/state'),
      XDG_CACHE_HOME: path.join(this.home, '.cache'),
      // Only the applications a test writes are installed.
      XDG_DATA_DIRS: path.join(this.dir, 'share'),
      XDG_RUNTIME_DIR: this.run,
      ZELTO_GUARD_SOCKET: path.join(this.dir, 'no-guard.sock'),
    };
    this.children = [];
  }

  get zeltoctlPath() {
    return path.join(this.bundle, 'Contents/MacOS/zeltoctl');
  }
  get base() {
    return `http://localhost:${this.httpPort}`;
  }
  get logPath() {
    return path.join(this.dir, 'zelto.err');
  }

  // zeltoctl with this home: {code, stdout, stderr}; never throws for a non-zero exit.
  ctl(...args) {
    return new Promise((resolve) => {
      execFile(
          this.zeltoctlPath, args, {env: this.env, timeout: 20000}, (error, stdout, stderr) => {
            const code = error ? (typeof error.code === 'number' ? error.code : -1) : 0;
            resolve({code, stdout, stderr});
          });
    });
  }
  // zeltoctl ... --json, parsed; fails when it doesn't exit 0.
  async ctlJson(...args) {
    const result = await this.ctl(...args, '--json');
    if (result.code !== 0) {
      throw new Error(
          `zeltoctl ${args.join(' ')} exited ${result.code}: ${result.stderr}` + result.stdout);
    }
    return JSON.parse(result.stdout);
  }

  // Picks the ports, starts the application and waits until its page answers.
  async start() {
    this.httpPort = await freePort();
    this.proxyPort = await freePort();
    while (this.proxyPort === this.httpPort) this.proxyPort = await freePort();
    const ports =
        await this.ctl('ports', '--http', String(this.httpPort), '--proxy', String(this.proxyPort));
    if (ports.code !== 0) throw new Error(`zeltoctl ports failed: ${ports.stderr}`);
    const log = fs.openSync(this.logPath, 'a');
    this.app = spawn(
        path.join(this.bundle, 'Contents/MacOS/Zelto'), [],
        {env: this.env, stdio: ['ignore', log, log], detached: true});
    fs.closeSync(log);
    this.children.push(this.app);
    const exited = new Promise((resolve) => this.app.once('exit', resolve));
    this.app.exited = exited;
    await eventually(async () => {
      if (this.app.exitCode !== null || this.app.signalCode !== null) {
        throw new Error(`the application exited early:\n${this.log()}`);
      }
      const answer = await request(`${this.base}/proxy.pac`).catch(() => null);
      return answer && answer.status === 200;
    }, 'the application to serve its page', 15000);
  }

  // A session URL minted by `zeltoctl open --print-url`.
  async sessionUrl() {
    const result = await this.ctl('open', '--print-url');
    const url = result.stdout.trim().split('\n').pop();
    if (result.code !== 0 || !/^http:\/\/localhost:\d+\/session\?token=[0-9a-f]{32}$/.test(url)) {
      throw new Error(
          `zeltoctl open --print-url gave ${result.code}: ${result.stdout}` + result.stderr);
    }
    return url;
  }

  // Starts `program` with this environment; stopped on close().
  spawnChild(program, args = []) {
    const child =
        spawn(program, args, {env: this.env, stdio: ['pipe', 'ignore', 'ignore'], detached: true});
    child.exited =
        new Promise((resolve) => child.once('exit', (code, signal) => resolve({code, signal})));
    this.children.push(child);
    return child;
  }

  // Ends any process still running with this home's runtime folder (an application that
  // `zeltoctl open` started, a program the application reopened): only this test's own.
  killStrays() {
    const mark = `XDG_RUNTIME_DIR=${this.run}\0`;
    for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
      let environ;
      try {
        environ = fs.readFileSync(`/proc/${pid}/environ`, 'latin1');
      } catch (error) {
        continue;  // gone, or not ours to read
      }
      if (!environ.includes(mark)) continue;
      try {
        process.kill(Number(pid), 'SIGKILL');
      } catch (error) {
        // gone meanwhile
      }
    }
  }

  log() {
    try {
      return fs.readFileSync(this.logPath, 'utf8');
    } catch (error) {
      return `(no log: ${error.message})`;
    }
  }

  // Stops what was started (SIGTERM, then SIGKILL after 5 s) and removes the home.
  async close() {
    for (const child of this.children.reverse()) {
      if (child.exitCode !== null || child.signalCode !== null) continue;
      const gone = new Promise((resolve) => child.once('exit', resolve));
      try {
        process.kill(-child.pid, 'SIGTERM');
      } catch (error) {
        continue;  // already gone
      }
      const timer = setTimeout(() => {
        try {
          process.kill(-child.pid, 'SIGKILL');
        } catch (error) {
          // gone meanwhile
        }
      }, 5000);
      await gone;
      clearTimeout(timer);
    }
    this.killStrays();
    fs.rmSync(this.dir, {recursive: true, force: true});
  }
}

// Chromium's flags for the tests: headless, nothing fetched from outside, a profile of its own.
export function chromiumArgs(profileDir) {
  return [
    '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--no-proxy-server', `--user-data-dir=${profileDir}`
  ];
}
