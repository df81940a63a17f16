// Opens HTML pages in one headless Chromium and writes, for each, its document and its console
// messages, and takes its screenshots: one browser for many pages, where a browser started for
// each page spends most of its time starting.
// Usage: node open_pages.js JOBS.json        opens the pages, in the shared browser that
//                                            QRX_PAGE_BROWSER names when it answers, else in
//                                            a browser of its own
//        node open_pages.js --start ADDRESS  starts a shared browser that serves JOBS from any
//                                            process, and returns once it answers (or 240 s)
//        node open_pages.js --stop ADDRESS   ends that browser
// ADDRESS is a file that names the browser's Unix socket while it serves; a shared browser
// left without work for 30 minutes ends itself, so that an interrupted run leaves none.
// JOBS.json: {"parallel": N, "cpuLimit": S, "pages": [{"url": "file:///...", "dom": PATH, "console": PATH,
//   "width": W, "height": H, "shots": [{"width": W, "height": H, "path": PNG,
//   "hide": "CSS selector"}]}]}
// A page with a width and height is laid out in a viewport of that size, else in the
// browser's own window (780 x 493).
// Each page is loaded under virtual time and read once 5 s of it have passed without work
// left (scripts, timers and the graphs they draw all ran), however slow the machine is. Its
// document is written as the root element's markup; every console message, uncaught
// exception and browser log entry is one line "CONSOLE <level> <text>". A shot sets the
// viewport to W x H, hides what matches `hide` (if given) and saves the viewport as PNG.
// A page not read after the browser has spent S s (600 when not given) of CPU time since it
// was opened (all of the test suite's pages take a fraction of that) is given up as hung: a
// slow machine gives the browser less CPU, not more work, so only a hang reaches that limit.
// Exits 1 when the browser cannot be started or a page cannot be read.
'use strict';
const {spawn} = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const net = require('net');
const os = require('os');

const kBudgetMs = 5000;
const kPageCpuLimitS = 600;  // the default of cpuLimit
const kIdleMs = 30 * 60 * 1000;
const kStartWaitMs = 240 * 1000;

// Chromium without what a page read never uses: extensions, background network and
// component updates, the first-run and sync machinery, audio, GPU emulation.
const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-software-rasterizer',
                '--hide-scrollbars', '--mute-audio', '--no-first-run', '--disable-extensions',
                '--disable-component-extensions-with-background-pages',
                '--disable-background-networking', '--disable-component-update',
                '--disable-default-apps', '--disable-sync', '--disable-breakpad',
                '--disable-features=Translate,OptimizationHints,MediaRouter,' +
                    'DialMediaRouteProvider,AutofillServerCommunication,BackForwardCache',
                '--remote-debugging-pipe', 'about:blank'];

// The CPU seconds that process `root` and its descendants have used (those ended included).
function treeCpuSeconds(root) {
  const children = new Map();
  const own = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try {
      stat = fs.readFileSync('/proc/' + name + '/stat', 'utf8');
    } catch (e) {
      continue;  // ended meanwhile
    }
    const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    const pid = Number(name), ppid = Number(f[1]);
    own.set(pid, Number(f[11]) + Number(f[12]) + Number(f[13]) + Number(f[14]));
    if (!children.has(ppid)) children.set(ppid, []);
    children.get(ppid).push(pid);
  }
  let ticks = 0;
  for (const todo = [root]; todo.length;) {
    const pid = todo.pop();
    ticks += own.get(pid) || 0;
    todo.push(...(children.get(pid) || []));
  }
  return ticks / 100;  // USER_HZ
}

// The browser over its DevTools pipe: commands go to its fd 3, answers and events come from
// its fd 4, each a JSON text ended by a NUL byte.
class Browser {
  constructor() {
    this.child = spawn('chromium', kFlags, {stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']});
    this.nextId = 1;
    this.waiting = new Map();  // command id -> {resolve, reject}
    this.listeners = new Set();
    this.watched = new Set();  // pages being read: {since: CPU seconds, fail}
    let pending = Buffer.alloc(0);
    this.child.stdio[4].on('data', (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      for (let end = pending.indexOf(0); end >= 0; end = pending.indexOf(0)) {
        this.receive(JSON.parse(pending.subarray(0, end).toString('utf8')));
        pending = pending.subarray(end + 1);
      }
    });
    this.closed = new Promise((resolve) => this.child.on('exit', resolve));
    this.child.on('error', (e) => this.failAll(e));
    this.closed.then(() => this.failAll(new Error('the browser ended')));
    this.guard = setInterval(() => this.checkHung(), 2000);
    this.guard.unref();
  }
  cpuSeconds() {
    return this.child.pid ? treeCpuSeconds(this.child.pid) : 0;
  }
  checkHung() {
    if (!this.watched.size) return;
    const now = this.cpuSeconds();
    for (const w of this.watched) {
      if (now - w.since > w.limit) {
        this.watched.delete(w);
        w.fail(new Error('not read after ' + w.limit +
                         ' s of the browser\'s CPU time: the page hangs'));
      }
    }
  }
  // Runs `work` and rejects when the browser spends `limit` s of CPU before it ends.
  guarded(work, limit) {
    return new Promise((resolve, reject) => {
      const w = {since: this.cpuSeconds(), limit, fail: reject};
      this.watched.add(w);
      work.then(resolve, reject).finally(() => this.watched.delete(w));
    });
  }
  failAll(error) {
    for (const {reject} of this.waiting.values()) reject(error);
    this.waiting.clear();
  }
  receive(message) {
    if (message.id !== undefined) {
      const w = this.waiting.get(message.id);
      this.waiting.delete(message.id);
      if (!w) return;
      if (message.error) w.reject(new Error(JSON.stringify(message.error)));
      else w.resolve(message.result);
      return;
    }
    for (const listen of this.listeners) listen(message);
  }
  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = {id, method, params};
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, {resolve, reject});
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }
  // The first event of `method` in the session for which `accept` holds.
  event(sessionId, method, accept = () => true) {
    return new Promise((resolve) => {
      const listen = (m) => {
        if (m.sessionId === sessionId && m.method === method && accept(m.params)) {
          this.listeners.delete(listen);
          resolve(m.params);
        }
      };
      this.listeners.add(listen);
    });
  }
  async close() {
    try {
      await this.send('Browser.close');
    } catch (e) {
      // the browser may end before it answers
    }
    await this.closed;
  }
}

function consoleLine(level, text) {
  return 'CONSOLE ' + level + ' ' + String(text).replace(/\n/g, ' ') + '\n';
}

// Collects the session's console messages, uncaught exceptions and log entries.
function collectConsole(browser, sessionId) {
  const out = [];
  const listen = (m) => {
    if (m.sessionId !== sessionId) return;
    const p = m.params;
    if (m.method === 'Runtime.consoleAPICalled') {
      const words = p.args.map((a) => (a.value !== undefined ? a.value : a.description));
      out.push(consoleLine(p.type, words.join(' ')));
    } else if (m.method === 'Runtime.exceptionThrown') {
      const d = p.exceptionDetails;
      out.push(consoleLine('exception', (d.exception && d.exception.description) || d.text));
    } else if (m.method === 'Log.entryAdded') {
      out.push(consoleLine(p.entry.level, p.entry.text + (p.entry.url ? ' ' + p.entry.url : '')));
    }
  };
  browser.listeners.add(listen);
  return {lines: out, stop: () => browser.listeners.delete(listen)};
}

// Reads the page in a new tab of the browser and closes the tab, also when the read fails.
async function openPage(browser, page, cpuLimit) {
  const {targetId} = await browser.send('Target.createTarget', {url: 'about:blank'});
  try {
    await browser.guarded(readPage(browser, targetId, page), cpuLimit);
  } finally {
    await browser.send('Target.closeTarget', {targetId}).catch(() => {});
  }
}

async function readPage(browser, targetId, page) {
  const {sessionId} =
      await browser.send('Target.attachToTarget', {targetId, flatten: true});
  const send = (method, params) => browser.send(method, params, sessionId);
  const messages = collectConsole(browser, sessionId);
  await Promise.all([send('Page.enable'), send('Runtime.enable'), send('Log.enable')]);
  if (page.width) {
    await send('Emulation.setDeviceMetricsOverride',
               {width: page.width, height: page.height, deviceScaleFactor: 1, mobile: false});
  }
  // Virtual time stands still while the page is fetched, then runs for the budget only as
  // fast as the page leaves its work done: the load, its scripts and their timers.
  await send('Emulation.setVirtualTimePolicy', {policy: 'pause'});
  const loaded = browser.event(sessionId, 'Page.loadEventFired');
  const nav = await send('Page.navigate', {url: page.url});
  if (nav.errorText) throw new Error(page.url + ': ' + nav.errorText);
  const expired = browser.event(sessionId, 'Emulation.virtualTimeBudgetExpired');
  await send('Emulation.setVirtualTimePolicy',
             {policy: 'pauseIfNetworkFetchesPending', budget: kBudgetMs});
  await Promise.all([loaded, expired]);
  const dom = await send('Runtime.evaluate', {
    expression: '(document.doctype ? "<!DOCTYPE " + document.doctype.name + ">\\n" : "") + ' +
                    'document.documentElement.outerHTML + "\\n"',
    returnByValue: true,
  });
  if (page.dom) fs.writeFileSync(page.dom, dom.result.value);
  // The screenshots with time running again, so that frames are drawn.
  if (page.shots && page.shots.length) await send('Emulation.setVirtualTimePolicy', {policy: 'advance'});
  for (const shot of page.shots || []) {
    await send('Emulation.setDeviceMetricsOverride',
               {width: shot.width, height: shot.height, deviceScaleFactor: 1, mobile: false});
    if (shot.hide) {
      await send('Runtime.evaluate', {
        expression: 'document.head.insertAdjacentHTML("beforeend", ' +
                        JSON.stringify('<style>' + shot.hide + ' { display: none !important; }</style>') +
                        ')',
      });
    }
    const png = await send('Page.captureScreenshot', {format: 'png'});
    fs.writeFileSync(shot.path, Buffer.from(png.data, 'base64'));
  }
  messages.stop();
  if (page.console) fs.writeFileSync(page.console, messages.lines.join(''));
}

// Opens the jobs' pages, `parallel` at a time; says why each page that failed did; whether
// every page was read.
async function runJobs(browser, jobs, say) {
  let failed = false;
  const queue = jobs.pages.slice();
  const worker = async () => {
    for (let page = queue.shift(); page; page = queue.shift()) {
      try {
        await openPage(browser, page, jobs.cpuLimit || kPageCpuLimitS);
      } catch (e) {
        say('open_pages: ' + page.url + ': ' + e.message);
        failed = true;
      }
    }
  };
  const parallel = Math.max(1, Math.min(jobs.parallel || 1, jobs.pages.length));
  await Promise.all(Array.from({length: parallel}, worker));
  return !failed;
}

// The Unix socket a shared browser named by `address` listens on: beside the address file,
// or in the temporary directory when that path is too long for a socket.
function socketPath(address) {
  const beside = address + '.sock';
  if (Buffer.byteLength(beside) < 100) return beside;
  const hash = crypto.createHash('sha256').update(address).digest('hex').slice(0, 16);
  return os.tmpdir() + '/qrx_pages_' + hash + '.sock';
}

// Sends one request to the shared browser and resolves to its lines, the last "EXIT <code>";
// rejects when it cannot be reached or ends before it answers.
function ask(address, request) {
  return new Promise((resolve, reject) => {
    if (!fs.existsSync(address)) return reject(new Error('no shared browser at ' + address));
    const conn = net.createConnection(fs.readFileSync(address, 'utf8'));
    let text = '';
    conn.on('data', (d) => { text += d; });
    conn.on('error', reject);
    conn.on('close', () => {
      const lines = text.split('\n').filter((l) => l);
      if (lines.length && lines[lines.length - 1].startsWith('EXIT ')) resolve(lines);
      else reject(new Error('the shared browser ended before it answered'));
    });
    conn.write(JSON.stringify(request) + '\n');
  });
}

// Serves requests on the socket: {"jobs": JOBS} opens the pages, {"stop": true} ends it.
async function serve(address) {
  const browser = new Browser();
  await browser.send('Browser.getVersion');
  const sock = socketPath(address);
  fs.rmSync(sock, {force: true});
  let idle;
  let active = 0;
  let ending = false;
  const end = async (code) => {
    if (ending) return;
    ending = true;
    console.log('open_pages: the shared browser spent ' + browser.cpuSeconds().toFixed(1) +
                ' s of CPU time');
    fs.rmSync(address, {force: true});
    fs.rmSync(sock, {force: true});
    await browser.close();
    process.exit(code);
  };
  const rearm = () => {
    clearTimeout(idle);
    if (!active) idle = setTimeout(() => end(0), kIdleMs);
  };
  browser.closed.then(() => end(1));
  const server = net.createServer((conn) => {
    let text = '';
    conn.on('error', () => {});
    conn.on('data', async (d) => {
      text += d;
      if (!text.endsWith('\n')) return;
      const request = JSON.parse(text);
      if (request.stop) {
        conn.end('EXIT 0\n');
        return end(0);
      }
      ++active;
      rearm();
      const ok = await runJobs(browser, request.jobs, (line) => conn.write(line + '\n'));
      conn.end('EXIT ' + (ok ? 0 : 1) + '\n');
      --active;
      rearm();
    });
  });
  server.listen(sock, () => {
    fs.writeFileSync(address, sock);
    rearm();
  });
}

// Starts `serve` in a process of its own that outlives this one (its output in
// ADDRESS.log), and waits until it answers.
async function start(address) {
  fs.rmSync(address, {force: true});
  const log = fs.openSync(address + '.log', 'w');
  const child = spawn(process.execPath, [__filename, '--serve', address],
                      {detached: true, stdio: ['ignore', log, log]});
  child.unref();
  let ended = false;
  child.on('exit', () => { ended = true; });
  const t0 = Date.now();
  while (!ended && Date.now() - t0 < kStartWaitMs) {
    try {
      await ask(address, {jobs: {pages: []}});
      console.log('open_pages: the shared browser answers at ' + address);
      return 0;
    } catch (e) {
      await new Promise((r) => setTimeout(r, 200));
    }
  }
  // The page tests open browsers of their own when the shared one is not there.
  console.log('open_pages: no shared browser (' + (ended ? 'it ended: ' +
              fs.readFileSync(address + '.log', 'utf8') : 'not answering yet') + ')');
  return 0;
}

async function stop(address) {
  try {
    await ask(address, {stop: true});
    console.log('open_pages: the shared browser ended');
  } catch (e) {
    console.log('open_pages: ' + e.message);
  }
  return 0;
}

// Opens the pages in the shared browser when there is one that answers, else in one of its
// own.
async function open(jobsFile) {
  const jobs = JSON.parse(fs.readFileSync(jobsFile, 'utf8'));
  const address = process.env.QRX_PAGE_BROWSER;
  if (address) {
    try {
      const lines = await ask(address, {jobs});
      for (const line of lines.slice(0, -1)) console.error(line);
      return Number(lines[lines.length - 1].slice(5));
    } catch (e) {
      console.error('open_pages: ' + e.message + '; opening the pages in a browser of their own');
    }
  }
  const browser = new Browser();
  const ok = await runJobs(browser, jobs, (line) => console.error(line));
  await browser.close();
  return ok ? 0 : 1;
}

async function main() {
  const [what, address] = process.argv.slice(2);
  if (what === '--serve') return serve(address);
  const code = what === '--start' ? await start(address)
               : what === '--stop'  ? await stop(address)
                                    : await open(what);
  process.exit(code);
}

main().catch((e) => {
  console.error('open_pages: ' + e.message);
  process.exit(1);
});
