// The page's figures in headless Chromium: from choosing the folder to the first
// picture, an animation's load (read and decoded into the frame store) in frames/s,
// and the page's download size compressed.
//   node page.bench.js PAGE_FOLDER GAME_FOLDER ANIMATION_NAME ROUNDS [NATIVE_JSON]
// NATIVE_JSON is varek_bench's JSON output of BM_LoadNamedFile on the same file,
// the native decode the page's is set against.
import { readFileSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { gzipSync } from 'node:zlib';
import { extname, join } from 'node:path';
import { createRequire } from 'node:module';

const [pageFolder, game, animation, roundsText, nativeJson] = process.argv.slice(2);
const rounds = Number(roundsText ?? 7);
// puppeteer-core as the page's test installs it.
const require = createRequire(new URL('../../web/tests/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');

const benchFolder = new URL('.', import.meta.url).pathname;
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm' };
const server = createServer((request, response) => {
  const path = new URL(request.url, 'http://x').pathname.replace(/^\/$/, '/index.html');
  const file = path.startsWith('/bench/') ? join(benchFolder, path.slice(7)) : join(pageFolder, path);
  if (!existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream' });
  response.end(readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', headless: true, args: ['--no-sandbox'],
});
try {
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  // Times, on the page's clock, from the input's change to the picture's facts shown.
  const timeUntilShown = (start, select) => page.evaluate((selectName) => new Promise((resolve) => {
    const facts = document.querySelector('#picture-facts');
    let began = 0;
    const observer = new MutationObserver(() => {
      if (began && facts.textContent && (!selectName || facts.textContent.startsWith(`${selectName} `))) {
        observer.disconnect();
        resolve(performance.now() - began);
      }
    });
    observer.observe(facts, { childList: true, characterData: true, subtree: true });
    const startEvent = selectName ? 'change' : 'change';
    const target = document.querySelector(selectName ? '#files' : '#folder');
    target.addEventListener(startEvent, () => { began = performance.now(); }, { once: true, capture: true });
    window.benchReady = true;
  }), select);

  const opens = [];
  for (let i = 0; i < rounds; ++i) {
    const shown = timeUntilShown(null, null);
    await page.waitForFunction(() => window.benchReady);
    await page.evaluate(() => { window.benchReady = false; document.querySelector('#picture-facts').textContent = ''; });
    await (await page.$('#folder')).uploadFile(game);
    opens.push(await shown);
  }
  const loads = [];
  await page.click('#categories [data-category="2"]');
  await page.waitForFunction(() => document.querySelector('#picture-facts').textContent);
  for (let i = 0; i < rounds; ++i) {
    await page.select('#files', '');
    const shown = timeUntilShown(null, animation);
    await page.waitForFunction(() => window.benchReady);
    await page.evaluate(() => { window.benchReady = false; });
    await page.select('#files', animation);
    loads.push(await shown);
  }
  const frames = Number(/picture 1\/(\d+)/.exec(await page.$eval('#frame-facts', (e) => e.textContent))[1]);
  const size = (name) => gzipSync(readFileSync(join(pageFolder, name)), { level: 9 }).length;
  const files = ['varek.wasm', 'varek.js', 'app.js', 'index.html', 'style.css'];
  console.log(`folder chosen to first picture: median ${median(opens).toFixed(1)} ms ` +
    `(min ${Math.min(...opens).toFixed(1)}, ${rounds} rounds)`);
  console.log(`${animation} (${frames} pictures) chosen to first picture: median ${median(loads).toFixed(1)} ms,` +
    ` ${(frames / median(loads) * 1000).toFixed(0)} frames/s`);
  // The decode alone, in the page's core in a worker.
  await page.goto(`http://127.0.0.1:${server.address().port}/bench/bench.html`);
  await page.evaluate((name, count) => { window.benchName = name; window.benchRounds = count; },
    animation, rounds + 1);
  await (await page.$('#folder')).uploadFile(game);
  await page.waitForFunction(() => window.benchResult, { timeout: 120000 });
  const result = await page.evaluate(() => window.benchResult);
  if (result.error) {
    throw new Error(result.error);
  }
  // The first load also grows the memory the store keeps for the next.
  const decode = result.pictures / median(result.times.slice(1)) * 1000;
  console.log(`${animation} decoded into the frame store by the page's core in a worker, its bytes in memory: median ` +
    `${median(result.times.slice(1)).toFixed(1)} ms, ${decode.toFixed(0)} frames/s ` +
    `(first load ${result.times[0].toFixed(1)} ms)`);
  if (nativeJson) {
    const runs = JSON.parse(readFileSync(nativeJson, 'utf8')).benchmarks
      .filter((run) => run.run_type === 'iteration').map((run) => run.items_per_second);
    const native = median(runs);
    console.log(`native load of the same file: median ${native.toFixed(0)} frames/s; ` +
      `the page takes ${(native / decode).toFixed(2)}x its time`);
  }
  console.log(`download, gzip -9: ${files.map((name) => `${name} ${size(name)}`).join(', ')}; ` +
    `total ${files.reduce((sum, name) => sum + size(name), 0)} bytes`);
} finally {
  await browser.close();
  server.close();
}
