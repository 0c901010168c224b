// What the browser tests share: their arguments, their checks, a web server for a site
// folder on localhost and the installed chromium (driven by playwright-core, never
// downloaded).
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { chromium } from "playwright-core";

// "--name value" pairs; each name in need must be given.
export function parseArgs(need) {
  const args = {};
  for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].slice(2)] = process.argv[i + 1];
  for (const name of need) if (!args[name]) throw new Error("--" + name + " is needed");
  return args;
}

// One line per check; finish() ends the process, failing when any check failed.
export function checks() {
  let failures = 0;
  const started = Date.now();
  return {
    check(ok, text) {
      console.log((ok ? "ok   " : "FAIL ") + text);
      if (!ok) failures += 1;
    },
    finish() {
      console.log(`${failures ? "FAILED" : "passed"} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
      process.exit(failures ? 1 : 0);
    },
  };
}

const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
                ".orvo": "application/octet-stream" };

// Serves http://127.0.0.1:PORT/VARIANT/NAME from siteOf(VARIANT)/NAME; answer(variant,
// name, response) may answer a request itself (true when it did). Every name asked for
// is kept in requested, with its variant.
export async function serve(siteOf, answer = () => false) {
  const requested = [];
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, "http://localhost");
    const [, variant, ...rest] = url.pathname.split("/");
    const name = rest.join("/") || "index.html";
    requested.push(variant + "/" + name);
    if (name.includes("..")) { response.writeHead(403); response.end(); return; }
    if (answer(variant, name, response)) return;
    fs.readFile(path.join(siteOf(variant), name), (error, bytes) => {
      if (error) { response.writeHead(404); response.end(); return; }
      response.writeHead(200, { "Content-Type": types[path.extname(name)] || "application/octet-stream" });
      response.end(bytes);
    });
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return {
    requested,
    url: (variant) => `http://127.0.0.1:${server.address().port}/${variant}/`,
    close: () => server.close(),
  };
}

// Headless chromium with the given autoplay policy: as a browser a visitor opens, sound
// waits for a gesture.
export function launch(autoplayPolicy) {
  return chromium.launch({ executablePath: "/usr/bin/chromium", headless: true,
                           args: ["--no-sandbox", "--autoplay-policy=" + autoplayPolicy],
                           ignoreDefaultArgs: ["--autoplay-policy=no-user-gesture-required"] });
}

// Resolves once the page has drawn its first frame.
export function firstFrame(page) {
  return page.waitForFunction(() => window.Module && Module.orvoFrames > 0, null, { timeout: 30000 });
}

// The canvas's top-left corner plus (x, y), clicked.
export async function click(page, [x, y]) {
  const box = await page.locator("#screen").boundingBox();
  await page.mouse.click(box.x + x, box.y + y);
}
