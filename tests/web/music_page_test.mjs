// Music in the page, and the page's bad input, in a real browser. A small game
// (games/page_music.ova) that plays a one-second song on its first click is packed by
// orvo-pack --web, once with the song and once without. chromium starts sound only after
// a gesture: before the click nothing may fail and the synthesizer is not fetched; after
// it the page's output must not be silent while the song plays (an AnalyserNode on the
// runtime's audio node) and the game must hear of the song's end (EVT_MUSIC_DONE) 2.5 s
// after it, as natively. Without WebAudio, or with the synthesizer missing on the server,
// the game goes on with its song silent. A browser without WebAssembly and storage that
// refuses the saves must each be said on the page, the tab answering and, with the
// storage refusing, the game going on. Screenshots go to --shots.
//
//   node music_page_test.mjs --pack ORVO-PACK --game MAIN.OVE --page PAGEDIR [--shots DIR]
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { checks, click, firstFrame, launch, parseArgs, serve } from "./page_harness.mjs";

const args = parseArgs(["pack", "game", "page"]);
const { check, finish } = checks();
const SONG_MS = 1000, FINISH_WAIT_MS = 2500;
// The page renders in blocks of 2048 frames (46 ms) and the test polls: the end may be
// heard a little early or late. The song's start is seen by a poll while the page is busy
// compiling the synthesizer, which can see it a few hundred milliseconds late (once 280 ms
// on a loaded machine); a missing wait would still end 2500 ms early.
const END_EARLY_MS = 600, END_LATE_MS = 1500;
// Louder than this on the output, at its peak, is sound.
const AUDIBLE = 0.01;
const SYNTHESIZER = "libfluidsynth.js";

// --- the game folders and their sites
// A Standard MIDI File of one track: two notes of a quarter each at 96 ticks a quarter
// and the default tempo (500000 microseconds a quarter), 1 s in all.
function song() {
  const track = [0x00, 0xc0, 0x00, 0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0, 0x00, 0x90, 64, 100,
                 0x60, 0x80, 64, 0, 0x00, 0xff, 0x2f, 0x00];
  const header = Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 96]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(track.length);
  return Buffer.concat([header, Buffer.from("MTrk"), length, Buffer.from(track)]);
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), "orvo-music-test-"));
const shots = args.shots || work;
fs.mkdirSync(shots, { recursive: true });

function packed(name, withSong) {
  const game = path.join(work, name);
  fs.mkdirSync(game);
  fs.copyFileSync(args.game, path.join(game, "main.ove"));
  if (withSong) fs.writeFileSync(path.join(game, "song.mid"), song());
  const site = path.join(work, name + "-site");
  const run = spawnSync(args.pack, [game, "-o", site, "--web", "--runtime", args.page], { encoding: "utf8" });
  check(run.status === 0, `orvo-pack --web packs the game ${withSong ? "with" : "without"} a song` +
        (run.status === 0 ? "" : `: ${run.status} ${run.stderr}`));
  const archive = fs.existsSync(path.join(site, "game.orvo")) ? fs.readFileSync(path.join(site, "game.orvo")) : Buffer.alloc(0);
  // The archive's names are in its central directory as plain text.
  const carried = archive.includes("soundfont/");
  const copied = fs.existsSync(path.join(site, SYNTHESIZER)) && fs.existsSync(path.join(site, "libfluidsynth-LICENSE.txt"));
  check(carried === withSong && copied === withSong,
        `${withSong ? "with" : "without"} a song the archive ${carried ? "carries" : "leaves out"} the SoundFont ` +
        `and the folder ${copied ? "has" : "has not"} the synthesizer and its licence`);
  return site;
}
const sites = { music: packed("page_music", true), plain: packed("page_plain", false) };
// "nosynth" is the site with music whose server has lost the synthesizer.
const server = await serve((variant) => sites[variant] || sites.music, (variant, name, response) => {
  if (variant !== "nosynth" || name !== SYNTHESIZER) return false;
  response.writeHead(404);
  response.end();
  return true;
});
const fetched = (variant, name) => server.requested.includes(variant + "/" + name);

// Sound only after a gesture, as in a browser a visitor opens.
const browser = await launch("document-user-activation-required");

// Headless chromium runs every AudioContext at once, whatever the autoplay policy says
// (and counts a page as used from its start): the browsers' rule is kept here instead. A
// context is suspended until the page has had a click or a key of the player's, and
// resume() is refused before.
function autoplayRule() {
  let used = false;
  for (const kind of ["pointerdown", "keydown"])
    window.addEventListener(kind, (e) => { if (e.isTrusted) used = true; }, true);
  const Context = window.AudioContext;
  window.AudioContext = class extends Context {
    constructor(...how) {
      super(...how);
      if (!used) super.suspend();
    }
    resume() {
      if (used) return super.resume();
      return Promise.reject(new DOMException("The page has not been used yet.", "NotAllowedError"));
    }
  };
}

// A page of its own, its script errors and error messages collected; init runs before
// the page's own scripts.
async function openPage(variant, init) {
  const context = await browser.newContext({ viewport: { width: 700, height: 560 } });
  await context.addInitScript(autoplayRule);
  if (init) await context.addInitScript(init);
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  page.on("console", (message) => { if (message.type() === "error") errors.push(message.text()); });
  await page.goto(server.url(variant) + "index.html");
  return { page, errors, close: () => context.close() };
}

// The game's debug.log in the data folder ("" before there is one).
const debugLog = (page) => page.evaluate(() => {
  for (const folder of FS.readdir("/data")) {
    const file = "/data/" + folder + "/debug.log";
    if (folder !== "." && folder !== ".." && FS.analyzePath(file).exists) return FS.readFile(file, { encoding: "utf8" });
  }
  return "";
});

// Resolves with the page's clock once debug.log holds text.
async function logged(page, text, timeout) {
  const handle = await page.waitForFunction((want) => {
    for (const folder of FS.readdir("/data")) {
      const file = "/data/" + folder + "/debug.log";
      if (folder !== "." && folder !== ".." && FS.analyzePath(file).exists &&
          FS.readFile(file, { encoding: "utf8" }).includes(want)) return performance.now();
    }
    return 0;
  }, text, { timeout, polling: 10 });
  return handle.jsonValue();
}

// True when the page still runs a script within 3 s: the tab does not hang.
const answers = (page) => Promise.race([page.evaluate(() => true),
                                        new Promise((resolve) => setTimeout(() => resolve(false), 3000))]);

// The runtime's audio node also feeds an analyser, watched every 10 ms from the first
// click on: the loudest sample seen and when sound was first heard.
const tapOutput = (page) => page.evaluate((audible) => {
  const { context, node } = Module.orvoAudio;
  const analyser = context.createAnalyser();
  const mute = context.createGain();
  mute.gain.value = 0;
  node.connect(analyser);
  analyser.connect(mute);
  mute.connect(context.destination);
  const samples = new Float32Array(analyser.fftSize);
  const tap = window.orvoTap = { clickMs: 0, firstSoundMs: 0, peak: 0 };
  document.addEventListener("pointerdown", () => { if (!tap.clickMs) tap.clickMs = performance.now(); }, true);
  setInterval(() => {
    analyser.getFloatTimeDomainData(samples);
    let peak = 0;
    for (const value of samples) peak = Math.max(peak, Math.abs(value));
    tap.peak = Math.max(tap.peak, peak);
    if (peak > audible && !tap.firstSoundMs && tap.clickMs) tap.firstSoundMs = performance.now();
  }, 10);
}, AUDIBLE);

// --- a song plays, starting with the first click
{
  const { page, errors, close } = await openPage("music");
  await firstFrame(page);
  await page.waitForTimeout(300);
  const before = await page.evaluate(() => Module.orvoAudio.context.state);
  const hint = await page.locator("#status").textContent();
  check(before === "suspended" && /start the sound/.test(hint),
        `before the first click the sound is ${before} and the page says: ${hint}`);
  check(errors.length === 0, "nothing fails before the click" + (errors.length ? ": " + errors.join("; ") : ""));
  check(!fetched("music", SYNTHESIZER), "the synthesizer is not fetched before the game plays a song");
  await tapOutput(page);
  await click(page, [320, 240]);
  const playedMs = await logged(page, "P", 30000);
  const endedMs = await logged(page, "D", 30000);
  const log = await debugLog(page);
  check(log === "P1\nD0\n", `the click plays the song (row 3 says 1) and its end reaches the game (row 3 says 0): ${JSON.stringify(log)}`);
  check(fetched("music", SYNTHESIZER), "the synthesizer is fetched with the song");
  const took = endedMs - playedMs;
  check(took >= SONG_MS + FINISH_WAIT_MS - END_EARLY_MS && took <= SONG_MS + FINISH_WAIT_MS + END_LATE_MS,
        `EVT_MUSIC_DONE comes ${took.toFixed(0)} ms after the song began (its ${SONG_MS} ms and the ${FINISH_WAIT_MS} ms wait)`);
  const tap = await page.evaluate(() => window.orvoTap);
  check(tap.peak > AUDIBLE, `the page's output is not silent while the song plays (peak ${tap.peak.toFixed(3)})`);
  check(tap.firstSoundMs > 0, `from the click to the first sound: ${(tap.firstSoundMs - tap.clickMs).toFixed(0)} ms ` +
        `(the synthesizer fetched and compiled, the SoundFont loaded)`);
  check(await page.evaluate(() => Module.orvoAudio.context.state) === "running", "the sound runs after the click");
  check(errors.length === 0, "nothing fails while the song plays" + (errors.length ? ": " + errors.join("; ") : ""));
  await close();
}

// --- a game without a SoundFont: its song reports no music, and no synthesizer is asked for
{
  const { page, errors, close } = await openPage("plain");
  await firstFrame(page);
  await click(page, [320, 240]);
  await logged(page, "P", 30000);
  check(await debugLog(page) === "P0\n", "without a SoundFont the song does not play (row 3 says 0)");
  check(!fetched("plain", SYNTHESIZER), "without a SoundFont the synthesizer is not asked for");
  check(errors.length === 0, "and nothing fails" + (errors.length ? ": " + errors.join("; ") : ""));
  await close();
}

// --- no sound for the song: a browser without WebAudio, and a synthesizer that does not
// load. The game goes on, its song silent and row 3 saying so; the console says why.
for (const [variant, how, init] of [["nowebaudio", "without WebAudio", () => { delete window.AudioContext; delete window.webkitAudioContext; }],
                                    ["nosynth", "without the synthesizer on the server", null]]) {
  const { page, errors, close } = await openPage(variant, init);
  const warnings = [];
  page.on("console", (message) => warnings.push(message.text()));
  await firstFrame(page);
  await click(page, [320, 240]);
  await logged(page, "P", 30000);
  await page.waitForTimeout(300);
  check(await debugLog(page) === "P0\n", `${how} the song does not play (row 3 says 0) and the game goes on`);
  const failures = errors.filter((text) => !/404/.test(text));
  check(failures.length === 0, `${how} no script fails` + (failures.length ? ": " + failures.join("; ") : ""));
  if (variant === "nosynth") {
    const said = warnings.find((text) => /music is off/.test(text)) || "";
    check(/music is off: the synthesizer did not load/.test(said), `${how} the console says: ${said}`);
  }
  check(await answers(page), `${how} the tab answers`);
  await close();
}

// --- a browser without WebAssembly
{
  const { page, close } = await openPage("nowasm", () => { delete globalThis.WebAssembly; });
  await page.waitForFunction(() => document.getElementById("status").className === "problem", null, { timeout: 30000 });
  const said = await page.locator("#status").textContent();
  check(/cannot run the game/.test(said), "without WebAssembly the page says: " + said);
  check(await answers(page), "and the tab answers");
  check(!fetched("nowasm", "orvo-web.js"), "and the runtime is not fetched");
  await page.screenshot({ path: path.join(shots, "page-no-webassembly.png") });
  await close();
}

// --- storage full: IndexedDB refuses every write, at once (QuotaExceededError) or by
// aborting the transaction, as a browser does when its storage fills up while it commits
const refusals = {
  "refused at once": () => {
    IDBObjectStore.prototype.put = function () {
      throw new DOMException("The quota has been exceeded.", "QuotaExceededError");
    };
  },
  "transaction aborted": () => {
    const put = IDBObjectStore.prototype.put;
    IDBObjectStore.prototype.put = function (...what) {
      const request = put.apply(this, what);
      const transaction = this.transaction;
      // Before the transaction can commit: its requests fail, and so does it.
      queueMicrotask(() => { try { transaction.abort(); } catch (e) { /* aborted already */ } });
      return request;
    };
  },
};
for (const [how, refuse] of Object.entries(refusals)) {
  const { page, errors, close } = await openPage("music", refuse);
  await firstFrame(page);
  await click(page, [320, 240]);
  await logged(page, "P", 30000);
  await page.waitForFunction(() => /cannot be kept/.test(document.getElementById("status").textContent), null,
                             { timeout: 10000 }).catch(() => {});
  const said = await page.locator("#status").textContent();
  check(/cannot be kept/.test(said), `storage full (${how}): the page says: ${said}`);
  check(await answers(page), `storage full (${how}): the tab answers`);
  await logged(page, "D", 30000).catch(() => {});
  check(await debugLog(page) === "P1\nD0\n", `storage full (${how}): the game goes on, its song played out`);
  check(errors.length === 0, `storage full (${how}): no script fails` + (errors.length ? ": " + errors.join("; ") : ""));
  await page.screenshot({ path: path.join(shots, "page-storage-full-" + how.replace(/ /g, "-") + ".png") });
  await close();
}

await browser.close();
server.close();
fs.rmSync(work, { recursive: true, force: true });
finish();
