// The live page in a real browser: headless Chromium loads it while a paced
// graph runs, finds one plot per histogram named after its property, sees the
// event count grow, switches a plot to a log scale and back, logs no console
// error, and leaves a screenshot.
// usage: node live_page.cjs TARN WEB_DIR SCREENSHOT
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const [tarn, webDir, screenshot] = process.argv.slice(2);
const { chromium } = require(path.join(webDir, 'node_modules', 'playwright-core'));

function fail(message) {
  console.error('FAIL: ' + message);
  process.exitCode = 1;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(what, test, ms) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(100);
  }
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarn-browser-'));
  const graph = path.join(work, 'live.tarn');
  fs.writeFileSync(graph, [
    'node gen StrandEventGenerator',
    'node hist Histogrammer',
    'node show ValuePrinter',
    'set gen.steps 100000',
    'set gen.interval 0.004',
    `set hist.prefix ${work}/out`,
    'set hist.units Weight:kg',
    'connect gen.fevent hist.fevent',
    'connect gen.serial show.value',
    'start gen', ''].join('\n'));
  const run = spawn(tarn, ['run', graph, '--serve', '0', '--no-progress'], { stdio: ['ignore', 'pipe', 'pipe'] });
  run.stdout.resume();
  let err = '';
  run.stderr.on('data', (d) => { err += d; });
  const ended = new Promise((r) => run.on('exit', (code) => r(code)));
  let context;
  try {
    const url = await until('tarn to serve', () => (err.match(/serving (http:\/\/127\.0\.0\.1:\d+\/)/) || [])[1], 10000);
    try {
      context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        viewport: { width: 1280, height: 900 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
          '--disable-background-networking', '--disable-component-update', '--disable-sync'],
      });
    } catch (e) {
      // A machine where the browser itself cannot start says so and skips;
      // nothing of ours has been tried yet.
      console.error(`test-browser: SKIPPED: chromium could not start here: ${e.message.split('\n')[0]}`);
      return;
    }
    const page = context.pages()[0] || await context.newPage();
    const errors = [];
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.goto(url);

    const list = await until('histograms', async () => {
      const r = await (await fetch(url + 'api/histograms')).json();
      return r.length === 3 && r;
    }, 10000);
    for (const h of list) {
      const plot = page.locator(`.plot[data-property="${h.property}"]`);
      await plot.locator('canvas').first().waitFor({ timeout: 10000 });
      const title = (await plot.locator('h3 .name').textContent()).trim();
      if (title !== h.property) fail(`plot of ${h.property} is titled '${title}'`);
    }
    const plots = await page.locator('.plot').count();
    if (plots !== list.length) fail(`${plots} plots for ${list.length} histograms`);
    const nodes = await page.locator('#graph .node').count();
    if (nodes !== 3) fail(`the graph shows ${nodes} nodes, not 3`);

    const events = async () => Number(await page.locator('#events').textContent());
    const before = await until('events', events, 5000);
    await sleep(1500);
    const after = await events();
    if (!(after > before)) fail(`the event count did not grow (${before}, then ${after})`);
    const state = (await page.locator('#state').textContent()).trim();
    if (state !== 'running') fail(`state shows '${state}'`);
    await until('the output pane', async () => (await page.locator('#output').textContent()).length > 0, 5000);

    // The log switch rebuilds the plot with a log count axis, and back.
    const weight = page.locator('.plot[data-property="Weight"]');
    if ((await weight.getAttribute('data-scale')) !== 'linear') fail('the Weight plot does not start linear');
    await weight.locator('input.log').check();
    await until('a log scale', async () => (await weight.getAttribute('data-scale')) === 'log', 3000);
    await weight.locator('canvas').first().waitFor({ timeout: 3000 });
    await page.locator('.plot[data-property="Serial"] canvas').first().waitFor({ timeout: 3000 });
    if ((await page.locator('.plot[data-property="Serial"]').getAttribute('data-scale')) !== 'linear')
      fail('switching one plot to a log scale changed another');
    await weight.locator('input.log').uncheck();
    await until('a linear scale again', async () => (await weight.getAttribute('data-scale')) === 'linear', 3000);
    await weight.locator('input.log').check();  // the screenshot shows one log plot
    const edges = await page.locator('#graph path.edge').count();
    const connections = (await (await fetch(url + 'api/graph')).json()).connections.length;
    if (edges !== connections) fail(`the graph draws ${edges} of its ${connections} connections`);

    fs.mkdirSync(path.dirname(screenshot), { recursive: true });
    await page.screenshot({ path: screenshot, fullPage: true });
    if (errors.length) fail('console errors:\n  ' + errors.join('\n  '));
    if (!process.exitCode) console.log(`PASS: ${plots} plots, events ${before} -> ${after}, screenshot ${screenshot}`);
  } catch (e) {
    fail(e.message + '\n' + err);
  } finally {
    if (context) await context.close();
    run.kill('SIGINT');
    const code = await ended;
    if (code !== 0 && code !== 130) fail(`tarn ended with ${code}:\n${err}`);
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main();
