'use strict';
// The loading overlay, the watermark, the ready wrapper and the framing page,
// exactly as the player builds them, run by a real engine.
const assert = require('node:assert/strict');
const { describe, it, before, after } = require('node:test');
const { origin, input, text, script, PageServer, launch, openPage, posted } = require('./harness');

const HANG_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
  <div id="top" style="position:fixed;inset:0;z-index:2147483647;background:#00f"></div>
  <p>lesson</p><img src="/hang"><div id="last"></div></body></html>`;
const PLAIN_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
  <div id="top" style="position:fixed;inset:0;z-index:2147483647;background:#00f"></div>
  <p>lesson</p><div id="last"></div></body></html>`;
const BUTTON_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body style="margin:0">
  <button id="under" style="position:fixed;left:300px;top:250px;width:200px;height:100px"
    onclick="window.__clicked = (window.__clicked || 0) + 1">under</button></body></html>`;

const LOADER_ID = 'quella-full-loader';
const WATERMARK_ID = 'quella-watermark';

// HTML parsing turns CR LF and lone CR into LF before any script sees the text.
const asParsedHtml = (s) => s.replace(/\r\n?/g, '\n');

let server;
let browser;
before(async () => {
  server = new PageServer();
  await server.listen();
  browser = await launch();
  server.page('/hang.html', HANG_PAGE);
  server.page('/plain.html', PLAIN_PAGE);
  server.page('/button.html', BUTTON_PAGE);
  server.page('/lesson.html', '<!DOCTYPE html><html><body><p id="lesson">lesson body</p></body></html>');
});
after(async () => {
  await browser?.close();
  await server?.close();
});

// Where the overlay is and what is hit at its centre and corners.
function overlayState(page) {
  return page.evaluate((id) => {
    const l = document.getElementById(id);
    if (!l) return null;
    const r = l.getBoundingClientRect();
    const w = innerWidth, h = innerHeight;
    const points = [[w / 2, h / 2], [1, 1], [w - 2, 1], [1, h - 2], [w - 2, h - 2]];
    return {
      count: document.querySelectorAll('#' + id).length,
      rect: [r.left, r.top, r.width, r.height],
      viewport: [0, 0, w, h],
      zIndex: getComputedStyle(l).zIndex,
      background: getComputedStyle(l).backgroundColor,
      opacity: l.style.opacity,
      onTop: points.every(([x, y]) => l.contains(document.elementFromPoint(x, y))),
      text: l.textContent,
    };
  }, LOADER_ID);
}

describe('loading overlay', () => {
  it('covers the viewport above the page\'s own topmost layer and fades at 5 s when load never comes', async () => {
    const { context, page, errors } = await openPage(browser, [script('loader.js')], { clock: true });
    await page.goto(origin + '/hang.html', { waitUntil: 'domcontentloaded' });
    const shown = await overlayState(page);
    assert.equal(await page.evaluate(() => document.readyState), 'interactive');
    assert.deepEqual(shown.rect, shown.viewport);
    assert.equal(shown.zIndex, '2147483647');
    assert.equal(shown.background, 'rgb(32, 32, 32)');
    assert.ok(shown.onTop, 'the overlay is hit everywhere, above a page layer at the same z-index');
    assert.ok(shown.text.includes('\u062c\u0627\u0631\u064a \u0627\u0644\u062a\u062d\u0645\u064a\u0644... Loading...'), shown.text);
    assert.equal(shown.count, 1);

    await page.clock.runFor(4999);
    assert.equal((await overlayState(page)).opacity, '', 'no fade before 5 s');
    await page.clock.runFor(1);
    assert.equal((await overlayState(page)).opacity, '0', 'fading at 5 s');
    await page.clock.runFor(499);
    assert.notEqual(await overlayState(page), null, 'still there while it fades');
    await page.clock.runFor(1);
    assert.equal(await overlayState(page), null, 'removed 500 ms after the fade began');
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('fades on load, is removed 500 ms later, and is added once even when injected twice', async () => {
    const loader = script('loader.js');
    const { context, page, errors } = await openPage(browser, [loader, loader], { clock: true });
    await page.goto(origin + '/plain.html', { waitUntil: 'load' });
    const faded = await overlayState(page);
    assert.equal(faded.count, 1);
    assert.equal(faded.opacity, '0');
    await page.clock.runFor(499);
    assert.notEqual(await overlayState(page), null);
    await page.clock.runFor(1);
    assert.equal(await overlayState(page), null);
    // The 5 s timer finding nothing left must not fail either.
    await page.clock.runFor(6000);
    assert.deepEqual(errors, []);
    await context.close();
  });
});

describe('watermark', () => {
  const hostile = input('watermark-hostile.js').text;

  it('shows a hostile text literally, covers the window turned by 30 degrees and lets clicks through', async () => {
    const { context, page, errors } = await openPage(browser, [text('watermark-hostile.js')]);
    await page.goto(origin + '/button.html', { waitUntil: 'load' });
    const wm = await page.evaluate((id) => {
      const w = document.getElementById(id);
      const s = getComputedStyle(w);
      const r = w.getBoundingClientRect();
      return {
        text: w.textContent,
        children: w.childElementCount,
        bold: document.querySelectorAll('b').length,
        scripts: document.querySelectorAll('script').length,
        zIndex: s.zIndex,
        pointerEvents: s.pointerEvents,
        transform: s.transform,
        color: s.color,
        size: [r.width > innerWidth * 0.9, r.height > innerHeight * 0.9],
      };
    }, WATERMARK_ID);
    assert.equal(wm.text, hostile);
    assert.deepEqual([wm.children, wm.bold, wm.scripts], [0, 0, 0]);
    assert.equal(wm.zIndex, '2147483646');
    assert.equal(wm.pointerEvents, 'none');
    const [a, b] = wm.transform.match(/matrix\(([^,]+), ([^,]+)/).slice(1).map(Number);
    assert.ok(Math.abs(a - Math.cos(Math.PI / 6)) < 1e-3 && Math.abs(b + 0.5) < 1e-3, wm.transform);
    assert.equal(wm.color, 'rgb(255, 0, 0)');
    assert.deepEqual(wm.size, [true, true]);

    await page.mouse.click(400, 300);
    assert.equal(await page.evaluate(() => window.__clicked), 1, 'the click reached the page under the watermark');
    assert.deepEqual(await posted(page), []);
    await context.close();
  });

  it('comes back at once when removed or when the page replaces its body', async () => {
    const { context, page, errors } = await openPage(browser, [text('watermark-hostile.js')]);
    await page.goto(origin + '/plain.html', { waitUntil: 'load' });
    // Each removal is checked after one microtask turn: no timer, no frame.
    const after = await page.evaluate(async (id) => {
      const seen = [];
      const look = () => seen.push([document.querySelectorAll('#' + id).length,
                                    document.getElementById(id)?.textContent]);
      document.getElementById(id).remove();
      await Promise.resolve();
      look();
      document.body.innerHTML = '<p>re-rendered</p>';
      await Promise.resolve();
      look();
      document.body.replaceWith(document.createElement('body'));
      await Promise.resolve();
      look();
      return seen;
    }, WATERMARK_ID);
    assert.deepEqual(after, [[1, hostile], [1, hostile], [1, hostile]], `page errors: ${errors.join('; ')}`);
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('an empty text still gives the block', async () => {
    const { context, page } = await openPage(browser, [text('watermark-empty.js')]);
    await page.goto(origin + '/plain.html', { waitUntil: 'load' });
    assert.deepEqual(await page.evaluate((id) => [document.querySelectorAll('#' + id).length,
                                                  document.getElementById(id).textContent], WATERMARK_ID), [1, '']);
    await context.close();
  });
});

describe('ready wrapper', () => {
  it('runs its script once, at DOMContentLoaded, when added on document creation', async () => {
    const { context, page, errors } = await openPage(browser, [text('ready.js')]);
    await page.goto(origin + '/plain.html', { waitUntil: 'load' });
    await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 50)));
    // The script sees the whole parsed document, and runs as a function body
    // (its early return returns from it, not from the page).
    const state = await page.evaluate(() => [window.__runs, window.__seen, window.__after_return]);
    assert.deepEqual(state, [1, { state: 'interactive', body: true, last: true }, undefined]);
    assert.deepEqual(errors, []);
    await context.close();
  });

  it('runs its script once and at once in a document past loading, finished or not', async () => {
    const wrapped = text('ready.js');
    for (const [path, state] of [['/hang.html', 'interactive'], ['/plain.html', 'complete']]) {
      const { context, page, errors } = await openPage(browser, []);
      await page.goto(origin + path, { waitUntil: state === 'complete' ? 'load' : 'domcontentloaded' });
      const run = await page.evaluate((script) => {
        (0, eval)(script);
        return [window.__runs, window.__seen.state];
      }, wrapped);
      assert.deepEqual(run, [1, state], path);
      await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 50)));
      assert.equal(await page.evaluate(() => window.__runs), 1, path);
      assert.deepEqual(errors, []);
      await context.close();
    }
  });
});

describe('framing page', () => {
  before(() => {
    for (const file of ['embed.html', 'embed-quote-attribute.html', 'embed-quote-markup.html',
                        'embed-script-address.html']) {
      server.page('/' + file, text(file));
    }
  });

  // The frame, the page's scripts and what it posted.
  function framing(page) {
    return page.evaluate(() => {
      const frames = [...document.querySelectorAll('iframe')];
      const div = document.querySelector('body > div');
      return {
        title: document.title,
        frames: frames.map((f) => ({ src: f.getAttribute('src'),
                                     attributes: f.getAttributeNames().sort() })),
        scripts: document.querySelectorAll('script').length,
        watermark: div && div.textContent,
        watermarkZ: div && getComputedStyle(div).zIndex,
        bold: document.querySelectorAll('b').length,
        posted: window.__posted,
      };
    });
  }

  it('posts pageLoaded once, frames the content address and shows the watermark literally', async () => {
    const entry = input('embed.html');
    // As the player loads it: the overlay script first, then the page.
    const { context, page, errors } = await openPage(browser, [script('loader.js')]);
    await page.goto(origin + '/embed.html', { waitUntil: 'load' });
    const got = await framing(page);
    assert.equal(got.title, entry.productName);
    assert.deepEqual(got.frames, [{ src: entry.contentUrl, attributes: ['allow', 'allowfullscreen', 'src'] }]);
    assert.equal(got.scripts, 1);
    assert.equal(got.watermark, asParsedHtml(entry.watermarkText));
    assert.equal(got.watermarkZ, '9999');
    assert.equal(got.bold, 0);
    assert.deepEqual(got.posted, ['pageLoaded']);
    const lesson = page.frames().find((f) => f.url() === entry.contentUrl);
    assert.ok(lesson, 'the frame loaded the content address');
    assert.equal(await lesson.locator('#lesson').textContent(), 'lesson body');
    assert.deepEqual(errors, []);
    await context.close();
  });

  for (const file of ['embed-quote-attribute.html', 'embed-quote-markup.html']) {
    it(`keeps a content address with quotes inside the frame's address (${file})`, async () => {
      const entry = input(file);
      const { context, page, errors } = await openPage(browser, []);
      await page.goto(origin + '/' + file, { waitUntil: 'load' });
      const got = await framing(page);
      assert.deepEqual(got.frames, [{ src: entry.contentUrl, attributes: ['allow', 'allowfullscreen', 'src'] }]);
      assert.equal(got.scripts, 1);
      assert.deepEqual(got.posted, ['pageLoaded']);
      assert.deepEqual(errors, []);
      await context.close();
    });
  }

  it('frames a blank page, not a script, for an address that is no web page', async () => {
    const { context, page, errors } = await openPage(browser, []);
    await page.goto(origin + '/embed-script-address.html', { waitUntil: 'load' });
    // A javascript: frame would run after the page's own script; give it the time.
    await page.waitForTimeout(300);
    const got = await framing(page);
    assert.deepEqual(got.posted, ['pageLoaded']);
    assert.deepEqual(got.frames, [{ src: 'about:blank', attributes: ['allow', 'allowfullscreen', 'src'] }]);
    assert.deepEqual(errors, []);
    await context.close();
  });
});
