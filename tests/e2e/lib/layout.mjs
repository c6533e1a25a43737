// The layout faults a picture shows but no role or name does: an element wider than the window,
// text running out of its box, a device card cut off or scrolled out of sight. Each screen of the
// scenarios that take pictures is checked, at the window sizes a user has.
import assert from 'node:assert/strict';
import { withTimeout } from './util.mjs';

// 1280x800 is the smallest desktop the window is made for; 1920x1080 the most common one.
export const SIZES = [
  [1280, 800],
  [1920, 1080],
];

// Runs in the page; answers one text per fault.
const CHECK_SOURCE = `(() => {
  const out = [];
  const W = window.innerWidth;
  const H = window.innerHeight;
  const slack = 1;
  const describe = (el) => {
    const cls = typeof el.className === 'string' && el.className ? '.' + el.className.trim().split(/\\s+/).join('.') : '';
    const text = (el.getAttribute('aria-label') || el.textContent || '').trim().replace(/\\s+/g, ' ').slice(0, 40);
    return el.tagName.toLowerCase() + (el.id ? '#' + el.id : '') + cls + (text ? ' "' + text + '"' : '');
  };
  const shown = (el) => {
    if (el.closest('.visually-hidden, option, select, svg, [hidden]')) return false;
    const r = el.getBoundingClientRect();
    if (r.width === 0 || r.height === 0) return false;
    const s = getComputedStyle(el);
    return s.visibility !== 'hidden' && s.display !== 'none' && s.opacity !== '0';
  };
  const generated = (el, which) => {
    const c = getComputedStyle(el, which).content;
    return c && c !== 'none' && c !== 'normal' && c !== '""' && c !== "''";
  };
  const hasText = (el) =>
    Array.from(el.childNodes).some((n) => n.nodeType === 3 && n.textContent.trim() !== '') ||
    generated(el, '::before') || generated(el, '::after');
  const scroller = document.scrollingElement;
  if (scroller.scrollWidth > W + slack) out.push('the page scrolls sideways: ' + scroller.scrollWidth + ' > ' + W);
  for (const el of document.querySelectorAll('body *')) {
    if (!shown(el)) continue;
    const r = el.getBoundingClientRect();
    if (r.width > W + slack) out.push('wider than the window (' + Math.round(r.width) + ' > ' + W + '): ' + describe(el));
    if (!hasText(el)) continue;
    const s = getComputedStyle(el);
    if (s.display === 'inline' || s.display === 'contents') continue;
    const scrollsX = s.overflowX === 'auto' || s.overflowX === 'scroll';
    const scrollsY = s.overflowY === 'auto' || s.overflowY === 'scroll';
    if (!scrollsX && s.textOverflow !== 'ellipsis' && el.scrollWidth > el.clientWidth + slack)
      out.push('text wider than its box (' + el.scrollWidth + ' > ' + el.clientWidth + '): ' + describe(el));
    if (!scrollsY && el.scrollHeight > el.clientHeight + slack && s.overflowY === 'hidden')
      out.push('text taller than its box (' + el.scrollHeight + ' > ' + el.clientHeight + '): ' + describe(el));
  }
  const bar = document.querySelector('.device-bar');
  if (bar) {
    const b = bar.getBoundingClientRect();
    const top = Math.max(0, b.top);
    const bottom = Math.min(H, b.top + bar.clientHeight);
    const left = Math.max(0, b.left);
    const right = Math.min(W, b.left + bar.clientWidth);
    for (const card of bar.querySelectorAll('.device-card')) {
      const r = card.getBoundingClientRect();
      if (r.top < top - slack || r.bottom > bottom + slack || r.left < left - slack || r.right > right + slack)
        out.push('device card not fully in sight: ' + describe(card));
    }
  }
  return out;
})()`;

/** The layout faults on the current screen, as texts. */
export function layoutProblems(page) {
  return page.eval(CHECK_SOURCE, { awaitPromise: false, timeout: 30000 });
}

// Lays the page out as in a window of the given size; [0, 0] goes back to the window's own.
export async function resize(page, [width, height]) {
  const emulation = page.client.Emulation;
  if (width === 0) await withTimeout(emulation.clearDeviceMetricsOverride(), 10000, 'window size');
  else await withTimeout(emulation.setDeviceMetricsOverride({ width, height, deviceScaleFactor: 1, mobile: false }), 10000, 'window size');
  // Two frames: the new size is laid out and painted before anything is measured.
  await page.eval('new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(() => done(true))))');
}

/** A picture of the current screen at every size in `sizes` (named `name-WxH`) with the faults
 *  found at each; the window goes back to its own size afterwards. A pop-up has one size only:
 *  pass no sizes and it is checked as it is. */
export async function checkScreen(page, name, sizes = SIZES) {
  if (sizes.length === 0) return (await layoutProblems(page)).map((p) => `${name}: ${p}`);
  const problems = [];
  try {
    for (const size of sizes) {
      await resize(page, size);
      const label = `${name}-${size[0]}x${size[1]}`;
      await page.screenshot(label);
      problems.push(...(await layoutProblems(page)).map((p) => `${label}: ${p}`));
    }
  } finally {
    await resize(page, [0, 0]);
  }
  return problems;
}

/** Fails on any layout fault of the current screen. */
export async function assertLaidOut(page, name, sizes = SIZES) {
  assert.deepEqual(await checkScreen(page, name, sizes), [], `layout faults on ${name}`);
}
