// The page in the system's headless Chromium, against the desktop exporter: a game
// folder opened through the folder input shows every kind of picture with the
// exporter's pixels, plays at the file's speed, and saves the exporter's bytes.
//   node page.test.js PAGE_FOLDER VAREK_EXPORT GAME_FOLDER
import { execFileSync } from 'node:child_process';
import { cpSync, mkdtempSync, readFileSync, readdirSync, rmSync, truncateSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join } from 'node:path';
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';

const [pageFolder, exporter, game] = process.argv.slice(2);
const scratch = mkdtempSync(join(tmpdir(), 'varek-page-'));
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
  '.wasm': 'application/wasm' };
const server = createServer((request, response) => {
  const file = join(pageFolder, new URL(request.url, 'http://x').pathname.replace(/^\/$/, '/index.html'));
  if (!existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[extname(file)] ?? 'application/octet-stream' });
  response.end(readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

// The exporter's files, BMP and GIF, to compare with.
const exported = join(scratch, 'bmp');
execFileSync(exporter, [game, exported], { stdio: 'ignore' });
execFileSync(exporter, ['--format', 'gif', '--category', 'animations', game, join(scratch, 'gif')],
  { stdio: 'ignore' });

// An 8-bit BMP's pixels as RGBA, top row first.
function BmpPixels(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset);
  const [offset, width, height] = [view.getUint32(10, true), view.getInt32(18, true), view.getInt32(22, true)];
  const stride = (width + 3) & ~3;
  const rgba = new Uint8Array(width * height * 4);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const index = bytes[offset + (height - 1 - y) * stride + x];
      const colour = 54 + index * 4;  // blue, green, red, 0
      rgba.set([bytes[colour + 2], bytes[colour + 1], bytes[colour], 255], (y * width + x) * 4);
    }
  }
  return { width, height, rgba };
}

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox'],
});
let failed = false;
try {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  const downloads = join(scratch, 'downloads');
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.setViewport({ width: 1100, height: 700 });
  await page.goto(`http://127.0.0.1:${server.address().port}/`);

  const facts = () => page.$eval('#picture-facts', (element) => element.textContent);
  const open = async (folder) => {
    await page.$eval('#message', (element) => { element.textContent = ''; });
    await (await page.$('#folder')).uploadFile(folder);
    await page.waitForFunction(() => document.querySelector('#picture-facts').textContent ||
      document.querySelector('#message').textContent || document.querySelector('#note').textContent);
  };
  const choose = async (category, name) => {
    await page.click(`#categories [data-category="${category}"]`);
    await page.select('#files', name);
    await page.waitForFunction((want) => document.querySelector('#picture-facts').textContent
      .startsWith(`${want} `) || document.querySelector('#note').textContent, {}, name);
  };
  const canvasPixels = () => page.$eval('#picture', (canvas) => ({
    width: canvas.width, height: canvas.height,
    rgba: [...canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data],
  }));
  const expectPicture = async (file, what) => {
    const want = BmpPixels(readFileSync(join(exported, file)));
    const shown = await canvasPixels();
    assert.deepEqual([shown.width, shown.height], [want.width, want.height], what);
    assert.ok(Buffer.from(shown.rgba).equals(Buffer.from(want.rgba)), `${what}: pixels differ`);
  };
  const save = async (button, name) => {
    await page.click(button);
    const file = join(downloads, name);
    for (let tries = 0; !existsSync(file) && tries < 100; ++tries) {
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    return readFileSync(file);
  };

  // A folder that is no game folder: the desktop's start-up message.
  const noPalette = join(scratch, 'no-palette');
  cpSync(game, noPalette, { recursive: true });
  rmSync(join(noPalette, 'PALETTE.PAL'));
  await open(noPalette);
  assert.equal(await page.$eval('#message', (element) => element.textContent),
    'Could not find file: PALETTE.PAL\r\n\r\nBe sure this program is in the same folder as Vorlund.');

  // A wall turned, and not; a still picture; an animation's pictures.
  await open(game);
  const wall = readdirSync(join(game, 'CELS3'))[0];
  await choose(0, wall);
  await expectPicture(`CELS3/${wall.replace(/\.CEL$/, '.bmp')}`, 'wall');
  assert.deepEqual(await save('#save-bmp', wall.replace(/\.CEL$/, '.bmp')),
    readFileSync(join(exported, 'CELS3', wall.replace(/\.CEL$/, '.bmp'))), 'saved wall');
  // The pixel under the mouse, at 2x, named where the file has it: the shown
  // column 10, row 3 of a turned wall is the file's column 3, row 53.
  await page.select('#zoom', '2');
  const area = await (await page.$('#picture')).boundingBox();
  await page.mouse.move(area.x + 21, area.y + 7);
  const bmp = readFileSync(join(exported, 'CELS3', wall.replace(/\.CEL$/, '.bmp')));
  const index = bmp[bmp.readUInt32LE(10) + (63 - 3) * 64 + 10];
  const [blue, green, red] = bmp.subarray(54 + index * 4);
  const level = (value) => (value === 255 ? '64+' : value >> 2);
  assert.equal(await facts(), `3, 53 \u00b7 index ${index} \u00b7 RGB ${red} ${green} ${blue} \u00b7 ` +
    `6-bit ${level(red)} ${level(green)} ${level(blue)}`);

  // A click on that colour in the palette greys every pixel of another index; a
  // second click ends it.
  const grid = await (await page.$('#palette')).boundingBox();
  const clickColour = () => page.mouse.click(grid.x + ((index % 16) + 0.5) * (grid.width / 16),
    grid.y + (Math.floor(index / 16) + 0.5) * (grid.height / 16));
  const shownIndex = (x, y) => bmp[bmp.readUInt32LE(10) + (63 - y) * 64 + x];
  const other = [...Array(64 * 64).keys()].map((i) => [i % 64, Math.floor(i / 64)])
    .find(([x, y]) => shownIndex(x, y) !== index);
  const colourAt = ([x, y]) => page.$eval('#picture', (canvas, at) =>
    [...canvas.getContext('2d').getImageData(at[0], at[1], 1, 1).data.slice(0, 3)], [x * 2, y * 2]);
  const colourOf = (i) => [bmp[54 + i * 4 + 2], bmp[54 + i * 4 + 1], bmp[54 + i * 4]];
  await clickColour();
  assert.deepEqual(await colourAt([10, 3]), [red, green, blue], 'the chosen index keeps its colour');
  assert.notDeepEqual(await colourAt(other), colourOf(shownIndex(...other)), 'another index is greyed');
  await clickColour();
  assert.deepEqual(await colourAt(other), colourOf(shownIndex(...other)), 'a second click ends it');
  await page.mouse.move(0, 0);
  await page.select('#zoom', '1');

  const still = readdirSync(join(game, 'STILLCEL'))[0];
  await choose(1, still);
  await expectPicture(`STILLCEL/${still.replace(/\.CEL$/, '.bmp')}`, 'still');

  const animation = readdirSync(join(game, 'FLI'))[0];
  const base = animation.replace(/\.FLI$/, '');
  await choose(2, animation);
  const count = readdirSync(join(exported, 'FLI')).filter((name) => name.startsWith(`${base}-`)).length;
  const digits = Math.max(2, String(count).length);
  const frameFile = (picture) => `${base}-${String(picture).padStart(digits, '0')}.bmp`;
  await expectPicture(`FLI/${frameFile(1)}`, 'first picture');
  // 6:5 shows a 320x200 picture 240 rows high, whole pixels across.
  await page.click('#aspect');
  assert.deepEqual(await page.$eval('#picture', (canvas) => [canvas.width, canvas.height]), [320, 240]);
  assert.equal(await page.$eval('#zoom-facts', (element) => element.textContent), '1\u00d7 \u00b7 6:5');
  await page.click('#aspect');
  await page.click('#next');
  await page.waitForFunction(() => document.querySelector('#frame-facts').textContent.startsWith('picture 2/'));
  await expectPicture(`FLI/${frameFile(2)}`, 'second picture');
  assert.deepEqual(await save('#save-bmp', frameFile(2)), readFileSync(join(exported, 'FLI', frameFile(2))),
    'saved picture');
  assert.deepEqual(await save('#save-gif', `${base}.gif`), readFileSync(join(scratch, 'gif', 'FLI', `${base}.gif`)),
    'saved animation');

  // The PNG, read back by the browser's own decoder, holds the picture on show.
  const png = await save('#save-png', frameFile(2).replace(/\.bmp$/, '.png'));
  const decoded = await page.evaluate(async (bytes) => {
    const bitmap = await createImageBitmap(new Blob([new Uint8Array(bytes)], { type: 'image/png' }));
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    canvas.getContext('2d').drawImage(bitmap, 0, 0);
    return [...canvas.getContext('2d').getImageData(0, 0, bitmap.width, bitmap.height).data];
  }, [...png]);
  assert.ok(Buffer.from(decoded).equals(Buffer.from(BmpPixels(readFileSync(join(exported, 'FLI', frameFile(2)))).rgba)),
    'PNG pixels');

  // Playing: over two seconds of the page's clock the pictures change at the pace
  // the file's durations give, each shown picture the one due at its time.
  const played = await page.evaluate(async () => {
    const shown = [];
    const facts = document.querySelector('#frame-facts');
    const observer = new MutationObserver(() => shown.push([performance.now(), facts.textContent]));
    observer.observe(facts, { childList: true, characterData: true, subtree: true });
    document.querySelector('#play').click();
    await new Promise((resolve) => setTimeout(resolve, 2000));
    document.querySelector('#play').click();
    observer.disconnect();
    return shown;
  });
  const changes = played.map(([time, text]) => [time, Number(/picture (\d+)/.exec(text)?.[1]),
    Number(/(\d+) ms/.exec(text)?.[1])])
    .filter(([, picture], i, all) => picture && picture !== all[i - 1]?.[1]);
  assert.ok(changes.length > 5, `only ${changes.length} pictures were shown while playing`);
  // A picture the page was too late for is skipped, as the desktop player skips it,
  // and counts with the mean duration.
  const mean = changes.reduce((sum, [, , ms]) => sum + ms, 0) / changes.length;
  const expected = changes.slice(0, -1).reduce((sum, [, picture, ms], i) =>
    sum + ms + ((changes[i + 1][1] - picture - 1 + count) % count) * mean, 0);
  const took = changes.at(-1)[0] - changes[0][0];
  assert.ok(Math.abs(took - expected) < Math.max(100, expected * 0.15),
    `${changes.length} pictures took ${took.toFixed(0)} ms, the file says ${expected.toFixed(0)} ms`);

  if (process.env.VAREK_PAGE_SCREENSHOT) {
    await page.select('#zoom', '2');
    await page.screenshot({ path: process.env.VAREK_PAGE_SCREENSHOT });
  }

  // A damaged file says why on the page.
  const damaged = join(scratch, 'damaged');
  cpSync(game, damaged, { recursive: true });
  truncateSync(join(damaged, 'CELS3', wall), 100);
  await open(damaged);
  await choose(0, wall);
  assert.equal(await page.$eval('#note', (element) => element.textContent),
    `${wall}: Truncated: the file holds 100 bytes, a wall or sprite needs 4096`);

  assert.deepEqual(errors, [], 'errors on the page');
  console.log(`page test passed: ${changes.length} pictures played in ${took.toFixed(0)} ms, the file says ${expected.toFixed(0)} ms`);
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await browser.close();
  server.close();
  rmSync(scratch, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
