'use strict';
// What every browser test shares: the player's fixed scripts from their files,
// the texts it fills in as page_texts wrote them, a local web server for the
// pages, one headless Chromium, and a stand-in for the host's message channel
// that records what the scripts post.
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const assert = require('node:assert/strict');
const { before, after } = require('node:test');
const { chromium } = require('playwright-core');

const textsDir = process.env.MIRAVELL_PAGE_TEXTS;
const scriptsDir = process.env.MIRAVELL_PAGE_SCRIPTS;
const port = Number(process.env.MIRAVELL_PAGE_PORT);
if (!textsDir || !scriptsDir || !port) {
  throw new Error('run through run_browser_tests.py (MIRAVELL_PAGE_TEXTS, MIRAVELL_PAGE_SCRIPTS, MIRAVELL_PAGE_PORT)');
}

const origin = `http://127.0.0.1:${port}`;

// The request page_texts answered, so a test can compare with what went in.
const request = JSON.parse(fs.readFileSync(path.join(textsDir, 'request.json'), 'utf8'));
function input(file) {
  const entry = request.find((e) => e.file === file);
  if (!entry) throw new Error(`no request entry for ${file}`);
  return entry;
}
function text(file) {
  return fs.readFileSync(path.join(textsDir, file), 'utf8');
}
// A script file as the build compiles it in: without the file's last line feed.
function script(file) {
  return fs.readFileSync(path.join(scriptsDir, file), 'utf8').replace(/\n$/, '');
}

// Runs before the player's scripts in every document, as the host's channel
// exists before any script added on document creation.
const HOST_STAND_IN = `
  window.__posted = [];
  window.chrome = window.chrome || {};
  window.chrome.webview = { postMessage: (m) => { window.__posted.push(m); } };
`;

// One local server and one headless Chromium for the calling test file.
// pages maps paths to their HTML; "/hang" never answers, so a page that uses
// it never loads; "/nothing" answers 204, so a navigation to it starts and
// then stays put. open(scripts, url, check, options) loads url (a path is on
// this server) in a fresh context whose documents get the host stand-in and
// then the scripts, in that order; hands the page to check; and requires that
// nothing on the page threw. With clock, the page's timers stand still until
// the test advances them.
function serve(pages) {
  const hanging = new Set();
  const server = http.createServer((req, res) => {
    const { pathname } = new URL(req.url, origin);
    if (pathname === '/hang') return hanging.add(res);
    if (pathname === '/nothing') return res.writeHead(204).end();
    if (!(pathname in pages)) return res.writeHead(404, { 'content-type': 'text/plain' }).end('not found');
    res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' }).end(pages[pathname]);
  });
  let browser;
  before(async () => {
    await new Promise((resolve, reject) => server.once('error', reject).listen(port, '127.0.0.1', resolve));
    browser = await chromium.launch({
      executablePath: process.env.MIRAVELL_CHROMIUM || '/usr/bin/chromium',
      // Root in a container has no user namespaces for Chromium's sandbox.
      chromiumSandbox: false,
      args: ['--disable-gpu'],
    });
  });
  after(async () => {
    await browser?.close();
    for (const res of hanging) res.destroy();
    server.closeAllConnections();
    await new Promise((resolve) => server.close(resolve));
  });

  async function open(scripts, url, check, { clock = false, waitUntil = 'load' } = {}) {
    const context = await browser.newContext({ viewport: { width: 800, height: 600 } });
    try {
      const page = await context.newPage();
      const errors = [];
      page.on('pageerror', (error) => errors.push(String(error)));
      if (clock) {
        await page.clock.install({ time: 0 });
        await page.clock.pauseAt(1000);
      }
      for (const s of [HOST_STAND_IN, ...scripts]) await page.addInitScript(s);
      await page.goto(url.startsWith('/') ? origin + url : url, { waitUntil });
      try {
        await check(page);
      } catch (failure) {
        if (errors.length) failure.message += `\npage errors: ${errors.join('; ')}`;
        throw failure;
      }
      assert.deepEqual(errors, [], 'nothing on the page threw');
    } finally {
      await context.close();
    }
  }
  return { open };
}

function posted(page) {
  return page.evaluate(() => window.__posted);
}

// Polls fn (a function of nothing returning a promise) until it returns a
// truthy value; for what the page does on a later task.
async function waitFor(fn, timeoutMs = 3000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`condition not met within ${timeoutMs} ms`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

module.exports = { origin, input, text, script, serve, posted, waitFor };
