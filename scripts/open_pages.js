// Opens HTML pages in one headless Chromium and writes, for each, its document and its console
// messages, and takes its screenshots: one browser for many pages, where a browser started for
// each page spends most of its time starting.
// Usage: node open_pages.js JOBS.json
// JOBS.json: {"parallel": N, "pages": [{"url": "file:///...", "dom": PATH, "console": PATH,
//   "width": W, "height": H, "shots": [{"width": W, "height": H, "path": PNG,
//   "hide": "CSS selector"}]}]}
// A page with a width and height is laid out in a viewport of that size, else in the
// browser's own window (780 x 493).
// Each page is loaded under virtual time and read once 5 s of it have passed without work
// left (scripts, timers and the graphs they draw all ran), however slow the machine is. Its
// document is written as the root element's markup; every console message, uncaught
// exception and browser log entry is one line "CONSOLE <level> <text>". A shot sets the
// viewport to W x H, hides what matches `hide` (if given) and saves the viewport as PNG.
// Exits 1 when the browser cannot be started or a page cannot be read.
'use strict';
const {spawn} = require('child_process');
const fs = require('fs');

const kBudgetMs = 5000;

// The browser over its DevTools pipe: commands go to its fd 3, answers and events come from
// its fd 4, each a JSON text ended by a NUL byte.
class Browser {
  constructor() {
    this.child = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu',
                                    '--hide-scrollbars', '--remote-debugging-pipe',
                                    'about:blank'],
                       {stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']});
    this.nextId = 1;
    this.waiting = new Map();  // command id -> {resolve, reject}
    this.listeners = new Set();
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

async function openPage(browser, page) {
  const {targetId} = await browser.send('Target.createTarget', {url: 'about:blank'});
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
  await send('Emulation.setVirtualTimePolicy', {policy: 'advance'});
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
  await browser.send('Target.closeTarget', {targetId});
}

async function main() {
  const jobs = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
  const browser = new Browser();
  let failed = false;
  const queue = jobs.pages.slice();
  const worker = async () => {
    for (let page = queue.shift(); page; page = queue.shift()) {
      try {
        await openPage(browser, page);
      } catch (e) {
        console.error('open_pages: ' + page.url + ': ' + e.message);
        failed = true;
      }
    }
  };
  const parallel = Math.max(1, Math.min(jobs.parallel || 1, jobs.pages.length));
  await Promise.all(Array.from({length: parallel}, worker));
  await browser.close();
  process.exit(failed ? 1 : 0);
}

main().catch((e) => {
  console.error('open_pages: ' + e.message);
  process.exit(1);
});
