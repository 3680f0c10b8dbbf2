'use strict';
// The start screen's navigation bar as the player adds it to every document,
// run by a real engine and driven with a real mouse.
const assert = require('node:assert/strict');
const { describe, it } = require('node:test');
const { origin, script, serve, posted, waitFor } = require('./harness');

const PAGE = `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
  <h1>start page</h1><p>some text</p><a id="away" href="/nothing">a link that leads nowhere</a></body></html>`;

const BAR_ID = 'quella-nav-container';
const LOADER_ID = 'quella-full-loader';

const navbar = script('navbar.js');
const { open } = serve({ '/start.html': PAGE, '/other.html': PAGE.replace('start page', 'other page') });

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Waits until the bar's 0.3 s transitions are over: its place, its buttons
// and its opacity read the same twice in a row.
async function settled(page) {
  let last = '';
  return waitFor(async () => {
    const now = await bar(page);
    const shape = JSON.stringify([now.offset, now.buttons, now.computedOpacity]);
    const same = shape === last;
    last = shape;
    if (!same) await pause(60);
    return same && now;
  });
}

// The bar's place, the number of bars, and the centres of its handle and
// buttons by label.
function bar(page) {
  return page.evaluate((id) => {
    const c = document.getElementById(id);
    if (!c) return { count: 0 };
    const centre = (e) => { const r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; };
    const buttons = {};
    for (const b of c.querySelectorAll('button')) buttons[b.textContent.replace(/^.*?([A-Za-z]+)$/u, '$1')] = centre(b);
    return {
      count: document.querySelectorAll('#' + id).length,
      left: c.style.left,
      top: c.style.top,
      offset: [c.offsetLeft, c.offsetTop],
      opacity: c.style.opacity,
      computedOpacity: getComputedStyle(c).opacity,
      labels: [...c.querySelectorAll('.nav-text')].map((t) => t.style.maxWidth),
      handle: centre(c.firstElementChild),
      buttons,
    };
  }, BAR_ID);
}

function loader(page) {
  return page.evaluate((id) => {
    const l = document.getElementById(id);
    return l && { display: l.style.display, background: getComputedStyle(l).backgroundColor,
                  zIndex: getComputedStyle(l).zIndex };
  }, LOADER_ID);
}

// Hovers the bar and waits out its 0.3 s opening, so the buttons stand still.
// The pointer first leaves it: an overlay shown and hidden over the bar may
// have closed it without the pointer moving.
async function hover(page) {
  await page.mouse.move(700, 550);
  const { handle } = await bar(page);
  await page.mouse.move(handle[0], handle[1]);
  await pause(50);
  return settled(page);
}

// Presses at from, moves by (dx, dy) in steps and releases at once, as a
// quick hand does; then waits until the bar has come to rest.
async function drag(page, from, dx, dy) {
  await page.mouse.move(from[0], from[1]);
  await page.mouse.down();
  await page.mouse.move(from[0] + dx, from[1] + dy, { steps: 5 });
  await page.mouse.up();
  await pause(50);
  await settled(page);
}

function stored(page) {
  return page.evaluate(() => [localStorage.getItem('qu_nx'), localStorage.getItem('qu_ny')]);
}

describe('navigation bar', () => {
  it('posts each button\'s message; Home and Back show the light loader for 5 s, Fullscreen does not', () =>
    open([navbar], '/start.html', async (page) => {
      const fresh = await bar(page);
      assert.deepEqual([fresh.count, fresh.left, fresh.top, fresh.opacity], [1, '20px', '20px', '0.4']);
      assert.deepEqual(fresh.labels, ['0px', '0px', '0px']);
      assert.deepEqual(Object.keys(fresh.buttons), ['Home', 'Back', 'Fullscreen']);

      const opened = await hover(page);
      assert.deepEqual([opened.opacity, opened.labels], ['1', ['50px', '50px', '50px']]);
      await page.mouse.click(...opened.buttons.Home);
      assert.deepEqual(await posted(page), ['btn_home']);
      assert.deepEqual(await loader(page), { display: 'flex', background: 'rgba(255, 255, 255, 0.7)', zIndex: '2147483647' });
      await page.clock.runFor(5000);
      assert.equal((await loader(page)).display, 'none');

      // A second press restarts the 5 s: the loader outlives the first timer.
      await page.mouse.click(...(await hover(page)).buttons.Back);
      assert.equal((await loader(page)).display, 'flex');
      await page.clock.runFor(3000);
      await page.locator(`#${BAR_ID} button`).first().dispatchEvent('click');
      await page.clock.runFor(2500);
      assert.equal((await loader(page)).display, 'flex', 'the first press\'s timer was cleared');
      await page.clock.runFor(2500);
      assert.equal((await loader(page)).display, 'none');
      assert.deepEqual(await posted(page), ['btn_home', 'btn_back', 'btn_home']);

      await page.mouse.click(...(await hover(page)).buttons.Fullscreen);
      assert.deepEqual(await posted(page), ['btn_home', 'btn_back', 'btn_home', 'btn_fullscreen']);
      assert.equal((await loader(page)).display, 'none', 'Fullscreen shows no loader');

      await page.mouse.move(700, 550);
      await pause(50);
      const closed = await settled(page);
      assert.deepEqual([closed.opacity, closed.labels], ['0.4', ['0px', '0px', '0px']]);
    }, { clock: true }));

  it('shows the light loader as soon as a page change starts', () =>
    open([navbar], '/start.html', async (page) => {
      assert.equal(await loader(page), null);
      // The answer (204) keeps the page, so what its unload started stays visible.
      await page.evaluate(() => document.getElementById('away').click());
      await waitFor(async () => (await loader(page))?.display === 'flex');
      assert.equal(page.url(), origin + '/start.html');
      assert.deepEqual(await posted(page), []);
    }));

  it('swallows the click that ends a drag of more than 3 px and keeps the drop for a reload and the next page', () =>
    open([navbar], '/start.html', async (page) => {
      await drag(page, (await hover(page)).buttons.Home, 60, 40);
      assert.deepEqual(await posted(page), [], 'a drag that starts and ends on Home is no press of Home');
      assert.equal(await loader(page), null);
      const moved = await bar(page);
      assert.deepEqual(moved.offset, [80, 60], 'the bar followed the pointer');
      assert.deepEqual(await stored(page), ['80', '60'], 'the place kept is where the bar was dropped');

      // Hands shake: a press that travels 2 px is still a press, and no drop.
      await drag(page, moved.buttons.Back, 2, -2);
      assert.deepEqual(await posted(page), ['btn_back']);
      assert.deepEqual(await stored(page), ['80', '60']);

      await page.reload({ waitUntil: 'load' });
      assert.deepEqual((await bar(page)).offset, [80, 60]);
      await page.goto(origin + '/other.html', { waitUntil: 'load' });
      const other = await bar(page);
      assert.deepEqual([other.count, other.offset], [1, [80, 60]]);
    }));

  it('comes back at once when removed or when the page re-renders, and is added once when injected twice', () =>
    open([navbar, navbar], '/start.html', async (page) => {
      const counts = await page.evaluate(async ([id, script]) => {
        const count = () => document.querySelectorAll('#' + id).length;
        const seen = [count()];
        for (const change of [() => document.getElementById(id).remove(),
                              () => { document.body.innerHTML = '<h1>re-rendered</h1>'; }]) {
          change();
          await Promise.resolve();
          seen.push(count());
        }
        (0, eval)(script);
        return [...seen, count()];
      }, [BAR_ID, navbar]);
      assert.deepEqual(counts, [1, 1, 1, 1]);

      // The bar put back is a working one, and one press is one message.
      const opened = await hover(page);
      await page.mouse.click(...opened.buttons.Fullscreen);
      assert.deepEqual(await posted(page), ['btn_fullscreen']);
      await drag(page, opened.handle, 40, 0);
      assert.deepEqual((await bar(page)).offset, [60, 20]);
    }));

  it('works in a document without storage: default place, drag without errors', () =>
    open([navbar], 'data:text/html,<!DOCTYPE html><body><p>no storage here</p></body>', async (page) => {
      assert.equal(await page.evaluate(() => { try { localStorage.getItem('x'); return 'usable'; } catch { return 'throws'; } }),
                   'throws');
      const start = await bar(page);
      assert.deepEqual([start.count, start.left, start.top], [1, '20px', '20px']);
      await drag(page, start.handle, 30, 30);
      assert.deepEqual((await bar(page)).offset, [50, 50]);
    }));
});
