// mines in a real browser: the folder orvo-pack --web made is served on localhost, the
// installed chromium (driven by playwright-core, never downloaded) loads it, the test
// clicks the field until the game is won, and the canvas is compared with orvo-headless's
// screenshots of the same moves: the field pixel for pixel, the whole screen within a
// tolerance for the text (two rasterisers): the cells without a number (hidden, flagged
// or empty, all pictures) must match pixel for pixel. Then the page is reloaded and the best time
// must still be in the browser's storage; a missing and a damaged archive must each end
// with a message on the page. Screenshots of the page go to --shots.
//
//   node mines_page_test.mjs --site DIR --headless ORVO-HEADLESS --map MAIN.MAP [--shots DIR]
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { checks, click as clickAt, firstFrame as frameShown, launch, parseArgs, serve } from "./page_harness.mjs";
import { decodePng } from "./png.mjs";

const CELL_MINE = 16, CELL_OPEN = 32, CELL_COUNT = 15;
// Text is drawn by FreeType natively and stb_truetype in the page: at most this share of
// the screen's pixels may differ (the won screen is the one with the most text).
const TEXT_TOLERANCE = 0.04;
const SETTLE_MS = 400;
// The settings both runs start from: the same game number deals the same field, and the
// music is off (the page would start it only after a click).
const SETTINGS = "[0x00000000=Options]\r\nlevel= 0\r\nmusic= 0\r\nnext= 4242\r\n";

const args = parseArgs(["site", "headless", "map"]);
const { check, finish } = checks();

// --- the native reference
const symbols = {};
for (const line of fs.readFileSync(args.map, "utf8").split("\n")) {
  const [value, name] = line.trim().split(/\s+/);
  if (name) symbols[name] = parseInt(value, 16);
}
const work = fs.mkdtempSync(path.join(os.tmpdir(), "orvo-web-test-"));
const archive = path.join(args.site, "game.orvo");

function headless(name, script) {
  const folder = path.join(work, name);
  fs.mkdirSync(path.join(folder, "data"), { recursive: true });
  fs.writeFileSync(path.join(folder, "data", "mines.ini"), SETTINGS);
  fs.writeFileSync(path.join(folder, "events.txt"), script);
  const run = spawnSync(args.headless, ["--data", path.join(folder, "data"), "--events",
                        path.join(folder, "events.txt"), "--dump-memory", path.join(folder, "memory.bin"),
                        archive], { cwd: folder, encoding: "utf8", timeout: 60000 });
  if (run.status !== 0) throw new Error("orvo-headless: " + run.status + " " + run.stdout + run.stderr);
  const memory = fs.readFileSync(path.join(folder, "memory.bin"));
  return {
    folder,
    int: (symbol) => memory.readInt32LE(symbols[symbol]),
    byte: (symbol, i) => memory[symbols[symbol] + i],
    shot: (file) => decodePng(fs.readFileSync(path.join(folder, file))),
  };
}

const press = (x, y) => `12 1 1 ${x | (y << 16)}\n13 1 0 ${x | (y << 16)}\n`;
const first = headless("layout", "wait 100\n");
const layout = { tile: first.int("_Tile"), x: first.int("_BoardX"), y: first.int("_BoardY"),
                 cols: first.int("_Cols"), rows: first.int("_Rows") };
const centre = (r, c) => [layout.x + c * layout.tile + (layout.tile >> 1),
                          layout.y + r * layout.tile + (layout.tile >> 1)];
const middle = centre(layout.rows >> 1, layout.cols >> 1);
const dealt = headless("deal", "wait 100\n" + press(...middle) + "wait 100\n");
const safe = [];
for (let i = 0; i < layout.cols * layout.rows; ++i)
  if (!(dealt.byte("_Board", i) & (CELL_MINE | CELL_OPEN))) safe.push(centre(Math.floor(i / layout.cols), i % layout.cols));
const wait = `wait ${SETTLE_MS}\n`;
const reference = headless("reference", wait + "shot start.png\n" + press(...middle) + wait +
                           "shot opened.png\n" + safe.map((p) => press(...p)).join("") + wait +
                           "shot won.png\n3 0 0 0\n");
check(reference.int("_State") === 2, "orvo-headless wins the game the test plays");

// --- the site, a copy without the archive and one with a damaged archive
const server = await serve(() => args.site, (variant, name, response) => {
  if (name !== "game.orvo" || (variant !== "missing" && variant !== "damaged")) return false;
  if (variant === "missing") response.writeHead(404);
  else response.writeHead(200, { "Content-Type": "application/octet-stream" });
  response.end(variant === "damaged" ? Buffer.from("this is no zip archive, only some words") : undefined);
  return true;
});
const site = server.url;

const browser = await launch("user-gesture-required");
const page = await browser.newPage({ viewport: { width: 800, height: 640 } });
const shots = args.shots || work;
fs.mkdirSync(shots, { recursive: true });

async function firstFrame() {
  await frameShown(page);
  return page.evaluate(() => Module.orvoFirstFrameMs);
}

async function canvas(name) {
  await page.locator("#screen").screenshot({ path: path.join(shots, "mines-page-" + name + ".png") });
  const base64 = await page.evaluate(() => {
    const c = document.getElementById("screen");
    const data = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    let text = "";
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return [c.width, c.height, btoa(text)];
  });
  return { width: base64[0], height: base64[1], rgba: Buffer.from(base64[2], "base64") };
}

// The cells of the field whose pictures hold no text: all of them before the first move,
// after it those not opened or opened without a number.
const allCells = [...Array(layout.cols * layout.rows).keys()];
const pictureCells = allCells.filter((i) => {
  const cell = dealt.byte("_Board", i);
  return !(cell & CELL_OPEN) || !(cell & CELL_COUNT);
});

function compare(name, got, want, exactCells) {
  check(got.width === want.width && got.height === want.height,
        `${name}: the canvas is ${got.width}x${got.height}, orvo-headless's screen ${want.width}x${want.height}`);
  const exact = new Set(exactCells);
  let differing = 0, inField = 0, total = 0;
  for (let y = 0; y < Math.min(got.height, want.height); ++y)
    for (let x = 0; x < Math.min(got.width, want.width); ++x) {
      const a = (y * got.width + x) * 4, b = (y * want.width + x) * 4;
      const d = Math.max(Math.abs(got.rgba[a] - want.rgba[b]), Math.abs(got.rgba[a + 1] - want.rgba[b + 1]),
                         Math.abs(got.rgba[a + 2] - want.rgba[b + 2]));
      if (!d) continue;
      differing += 1;
      total += d;
      const col = Math.floor((x - layout.x) / layout.tile), row = Math.floor((y - layout.y) / layout.tile);
      if (x >= layout.x && col < layout.cols && y >= layout.y && row < layout.rows &&
          exact.has(row * layout.cols + col)) inField += 1;
    }
  const share = differing / (want.width * want.height);
  if (exact.size)
    check(inField === 0, `${name}: the ${exact.size} cells without text are the same pixel for pixel ` +
          `(${inField} pixels differ in them)`);
  check(share <= TEXT_TOLERANCE, `${name}: ${differing} pixels differ (${(share * 100).toFixed(2)}% of the ` +
        `screen, mean difference ${differing ? (total / differing).toFixed(1) : 0} of 255; at most ` +
        `${TEXT_TOLERANCE * 100}% allowed)`);
}

const click = (at) => clickAt(page, at);

await page.goto(site("game") + "index.html");
const frameMs = await firstFrame();
console.log(`start-up: first frame ${frameMs.toFixed(0)} ms after the page was asked for`);
// The same settings as the reference run, put into the browser's storage for the next load.
await page.evaluate((text) => new Promise((resolve, reject) => {
  FS.writeFile("/data/mines/mines.ini", text);
  FS.syncfs(false, (error) => (error ? reject(error) : resolve()));
}), SETTINGS);
await page.reload();
await firstFrame();
await page.waitForTimeout(SETTLE_MS);
compare("start", await canvas("start"), reference.shot("start.png"), allCells);
const soundBefore = await page.evaluate(() => Module.orvoAudio && Module.orvoAudio.context.state);
const hint = await page.locator("#status").textContent();
await click(middle);
await page.waitForTimeout(SETTLE_MS);
// Browsers keep sound off until the player does something; the first click starts it.
// Whether this browser holds the sound back is its own choice (headless chromium may not);
// when it does, the page asks for the click.
check(soundBefore !== "suspended" || /start the sound/.test(hint),
      `before the first click the sound is ${soundBefore}` +
      (soundBefore === "suspended" ? ` and the page says: ${hint}` : ""));
check(await page.evaluate(() => Module.orvoAudio && Module.orvoAudio.context.state) === "running",
      "the sound runs after the first click");
compare("opened", await canvas("opened"), reference.shot("opened.png"), pictureCells);
for (const cell of safe) await click(cell);
await page.waitForTimeout(SETTLE_MS);
compare("won", await canvas("won"), reference.shot("won.png"), []);
check(await page.evaluate(() => document.title.startsWith("Mines - cleared in")),
      "the page's title says the field was cleared");

// The best time reaches IndexedDB and is there after a reload.
const bestOf = () => page.evaluate(() => {
  for (const folder of FS.readdir("/data")) {
    const file = "/data/" + folder + "/mines.ini";
    if (folder !== "." && folder !== ".." && FS.analyzePath(file).exists) {
      const found = /small= *(\d+)/.exec(FS.readFile(file, { encoding: "utf8" }));
      if (found) return Number(found[1]);
    }
  }
  return 0;
});
const best = await bestOf();
check(best > 0, `the best time is kept in the data folder (${best} s)`);
// Keys: 2 lays out the medium field, Q saves the options and ends the game.
const won = await canvas("won");
await page.keyboard.press("2");
await page.waitForTimeout(SETTLE_MS);
const medium = await canvas("medium");
check(!medium.rgba.equals(won.rgba), "the key 2 lays out another field");
await page.keyboard.press("q");
await page.waitForFunction(() => /has ended/.test(document.getElementById("status").textContent),
                           null, { timeout: 30000 });
check(true, "the key Q ends the game, and the page says so");
const level = () => page.evaluate(() => {
  const found = /level= *(\d+)/.exec(FS.readFile("/data/mines/mines.ini", { encoding: "utf8" }));
  return found ? Number(found[1]) : -1;
});
check(await level() === 1, "the medium field is kept in the settings");
await page.waitForTimeout(1500);  // the page saves the data folder every second
await page.reload();
await firstFrame();
check(await bestOf() === best, "after a reload the best time is still there");
check(await level() === 1, "after a reload the medium field is still chosen");
await page.waitForTimeout(SETTLE_MS);
await canvas("reloaded");

// Bad input ends with a message on the page, and the page still answers.
await page.goto(site("missing") + "index.html");
await page.waitForFunction(() => document.getElementById("status").className === "problem", null, { timeout: 30000 });
const missing = await page.locator("#status").textContent();
check(/could not be loaded/.test(missing), "a missing archive is said on the page: " + missing);
await page.goto(site("damaged") + "index.html");
await page.waitForSelector("#dialog.open", { timeout: 30000 });
const damaged = await page.locator("#dialog-text").textContent();
check(damaged.length > 0, "a damaged archive is said in the page's dialog: " + damaged.replace(/\s+/g, " "));
await page.locator("#dialog").screenshot({ path: path.join(shots, "mines-page-damaged.png") });
await page.click("#dialog-ok");
await page.waitForFunction(() => document.getElementById("status").textContent.length > 0, null, { timeout: 30000 });
check(true, "after the dialog the page says: " + (await page.locator("#status").textContent()));

await browser.close();
server.close();
fs.rmSync(work, { recursive: true, force: true });
finish();
