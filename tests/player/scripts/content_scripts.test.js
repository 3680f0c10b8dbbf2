'use strict';
// The loading overlay, the watermark, the ready wrapper and the framing page,
// exactly as the player builds them, run by a real engine.
const assert = require('node:assert/strict');
const { describe, it } = require('node:test');
const { input, text, script, serve, posted } = require('./harness');

const HANG_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
  <div id="top" style="position:fixed;inset:0;z-index:2147483647;background:#00f"></div>
  <p>lesson</p><img src="/hang"><div id="last"></div></body></html>`;
const BUTTON_PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body style="margin:0">
  <button id="under" style="position:fixed;left:300px;top:250px;width:200px;height:100px"
    onclick="window.__clicked = (window.__clicked || 0) + 1">under</button></body></html>`;
const EMBEDS = ['embed.html', 'embed-quote-attribute.html', 'embed-quote-markup.html', 'embed-script-address.html'];

const LOADER_ID = 'quella-full-loader';
const WATERMARK_ID = 'quella-watermark';

// HTML parsing turns CR LF and lone CR into LF before any script sees the text.
const asParsedHtml = (s) => s.replace(/\r\n?/g, '\n');

const { open } = serve({
  '/hang.html': HANG_PAGE,
  '/plain.html': HANG_PAGE.replace('<img src="/hang">', ''),
  '/button.html': BUTTON_PAGE,
  '/lesson.html': '<!DOCTYPE html><html><body><p id="lesson">lesson body</p></body></html>',
  ...Object.fromEntries(EMBEDS.map((file) => ['/' + file, text(file)])),
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
  // Injected twice each time: the second copy must add no second overlay.
  const loader = script('loader.js');
  for (const [when, path, waitUntil, fadesAt] of [['when load never comes', '/hang.html', 'domcontentloaded', 5000],
                                                  ['on load', '/plain.html', 'load', 0]]) {
    it(`covers the viewport above the page's own topmost layer, fades ${when} and is gone 500 ms later`, () =>
      open([loader, loader], path, async (page) => {
        const shown = await overlayState(page);
        assert.equal(await page.evaluate(() => document.readyState), fadesAt ? 'interactive' : 'complete');
        assert.deepEqual(shown.rect, shown.viewport);
        assert.equal(shown.zIndex, '2147483647');
        assert.equal(shown.background, 'rgb(32, 32, 32)');
        assert.ok(shown.onTop, 'the overlay is hit everywhere, above a page layer at the same z-index');
        assert.ok(shown.text.includes('\u062c\u0627\u0631\u064a \u0627\u0644\u062a\u062d\u0645\u064a\u0644... Loading...'), shown.text);
        assert.equal(shown.count, 1);
        if (fadesAt) {
          await page.clock.runFor(fadesAt - 1);
          assert.equal((await overlayState(page)).opacity, '', 'no fade before 5 s');
          await page.clock.runFor(1);
        }
        assert.equal((await overlayState(page)).opacity, '0', 'fading');
        await page.clock.runFor(499);
        assert.notEqual(await overlayState(page), null, 'still there while it fades');
        await page.clock.runFor(1);
        assert.equal(await overlayState(page), null, 'removed 500 ms after the fade began');
        // The 5 s timer finding nothing left must not throw either.
        await page.clock.runFor(6000);
      }, { clock: true, waitUntil }));
  }
});

describe('watermark', () => {
  for (const file of ['watermark-hostile.js', 'watermark-empty.js']) {
    it(`shows its text literally over the whole window, turned by 30 degrees, and lets clicks through (${file})`, () =>
      open([text(file)], '/button.html', async (page) => {
        const wm = await page.evaluate((id) => {
          const w = document.getElementById(id);
          const s = getComputedStyle(w);
          const r = w.getBoundingClientRect();
          return {
            count: document.querySelectorAll('#' + id).length,
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
        assert.equal(wm.text, input(file).text);
        assert.deepEqual([wm.count, wm.children, wm.bold, wm.scripts], [1, 0, 0, 0]);
        assert.equal(wm.zIndex, '2147483646');
        assert.equal(wm.pointerEvents, 'none');
        const [a, b] = wm.transform.match(/matrix\(([^,]+), ([^,]+)/).slice(1).map(Number);
        assert.ok(Math.abs(a - Math.cos(Math.PI / 6)) < 1e-3 && Math.abs(b + 0.5) < 1e-3, wm.transform);
        assert.equal(wm.color, 'rgb(255, 0, 0)');
        assert.deepEqual(wm.size, [true, true]);

        await page.mouse.click(400, 300);
        assert.equal(await page.evaluate(() => window.__clicked), 1, 'the click reached the page under the watermark');
        assert.deepEqual(await posted(page), []);
      }));
  }

  it('comes back at once when removed or when the page replaces its body', () =>
    open([text('watermark-hostile.js')], '/plain.html', async (page) => {
      // Each removal is checked after one microtask turn: no timer, no frame.
      const after = await page.evaluate(async (id) => {
        const seen = [];
        for (const change of [() => document.getElementById(id).remove(),
                              () => { document.body.innerHTML = '<p>re-rendered</p>'; },
                              () => document.body.replaceWith(document.createElement('body'))]) {
          change();
          await Promise.resolve();
          seen.push([document.querySelectorAll('#' + id).length, document.getElementById(id)?.textContent]);
        }
        return seen;
      }, WATERMARK_ID);
      const hostile = input('watermark-hostile.js').text;
      assert.deepEqual(after, [[1, hostile], [1, hostile], [1, hostile]]);
    }));
});

// The script sees the whole parsed document, runs once, and runs as a
// function body (its early return returns from it, not from the page).
describe('ready wrapper', () => {
  for (const [how, injected, path, state] of [['added on document creation', true, '/plain.html', 'interactive'],
                                              ['run while the page still loads', false, '/hang.html', 'interactive'],
                                              ['run in a finished page', false, '/plain.html', 'complete']]) {
    it(`runs its script once, at DOMContentLoaded or at once, when ${how}`, () =>
      open(injected ? [text('ready.js')] : [], path, async (page) => {
        if (!injected) {
          const runs = await page.evaluate((wrapped) => { (0, eval)(wrapped); return window.__runs; }, text('ready.js'));
          assert.equal(runs, 1, 'ran at once');
        }
        await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 50)));
        const seen = await page.evaluate(() => [window.__runs, window.__seen, window.__after_return]);
        assert.deepEqual(seen, [1, { state, body: true, last: true }, undefined]);
      }, { waitUntil: state === 'complete' || injected ? 'load' : 'domcontentloaded' }));
  }
});

describe('framing page', () => {
  // The frame, the page's scripts and what it posted.
  function framing(page) {
    return page.evaluate(() => {
      const div = document.querySelector('body > div');
      return {
        title: document.title,
        frames: [...document.querySelectorAll('iframe')].map((f) => ({ src: f.getAttribute('src'),
                                                                        attributes: f.getAttributeNames().sort() })),
        scripts: document.querySelectorAll('script').length,
        watermark: div && div.textContent,
        watermarkZ: div && getComputedStyle(div).zIndex,
        bold: document.querySelectorAll('b').length,
        posted: window.__posted,
      };
    });
  }

  // Hostile watermark text, content addresses that try to leave the frame's
  // address, and one that is no web page and must become a blank frame.
  for (const file of EMBEDS) {
    const entry = input(file);
    const src = entry.contentUrl.startsWith('javascript:') ? 'about:blank' : entry.contentUrl;
    it(`posts pageLoaded once, frames ${src === 'about:blank' ? 'a blank page' : 'the content address'} and shows the watermark literally (${file})`, () =>
      // As the player loads it: the overlay script first, then the page.
      open([script('loader.js')], '/' + file, async (page) => {
        // A javascript: frame would run after the page's own script; give it the time.
        await page.waitForTimeout(300);
        const got = await framing(page);
        assert.equal(got.title, entry.productName);
        assert.deepEqual(got.frames, [{ src, attributes: ['allow', 'allowfullscreen', 'src'] }]);
        assert.deepEqual([got.scripts, got.bold, got.posted], [1, 0, ['pageLoaded']]);
        assert.equal(got.watermark, asParsedHtml(entry.watermarkText));
        assert.equal(got.watermarkZ, '9999');
        if (src !== 'about:blank') {
          assert.equal(await page.frames()[1].locator('#lesson').textContent(), 'lesson body', 'the frame loaded the address');
        }
      }));
  }
});
