// End-to-end tests of the web page in the system's Chromium: the page
// served by scripts/serve-web.sh, driven as a user drives it, compared with
// the desktop program and talveron-batch. Skipped (status 77) when the page
// or puppeteer-core (installed by scripts/test.sh into build-web/node) is
// missing.
"use strict";

const assert = require("node:assert/strict");
const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");

const options = {};
for (let i = 2; i < process.argv.length; i += 2) {
  options[process.argv[i].replace(/^--/, "")] = path.resolve(process.argv[i + 1]);
}
const root = options.root;
const site = path.join(root, "build-web", "site");
const modules = path.join(root, "build-web", "node", "node_modules");

function skip(reason) {
  console.log("skipped: " + reason);
  process.exit(77);
}
if (!fs.existsSync(path.join(site, "talveron.wasm"))) skip("no page in build-web/site (scripts/build-web.sh builds it)");
if (!fs.existsSync(path.join(modules, "puppeteer-core"))) skip("puppeteer-core is not installed in build-web/node");
const puppeteer = require(path.join(modules, "puppeteer-core"));

const FileMenu = 129, DisplayMenu = 134, DataFileMenu = 135, GenerationsMenu = 111;

// --- the server, the browser and the page ---

function serve() {
  return new Promise((resolve, reject) => {
    const server = spawn(path.join(root, "scripts", "serve-web.sh"), ["0"], { stdio: ["ignore", "pipe", "pipe"] });
    let out = "";
    server.stdout.on("data", (chunk) => {
      out += chunk;
      const match = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (match) resolve({ server, origin: `http://127.0.0.1:${match[1]}` });
    });
    server.on("exit", (code) => reject(new Error("serve-web.sh ended with " + code + ": " + out)));
  });
}

async function launch(folder) {
  return puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    userDataDir: path.join(folder, "profile"),
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--force-device-scale-factor=1"],
  });
}

const activity = (page) => page.$eval("#activity", (e) => e.textContent);
const waitActivity = (page, text, timeout = 120000) =>
  page.waitForFunction((t) => document.getElementById("activity").textContent.startsWith(t), { timeout }, text);

async function chooseMenu(page, menu, item) {
  await page.evaluate((m, i) => Talveron.menuChosen(m, i), menu, item);
}

async function answerDialog(page, fill) {
  await page.waitForSelector("#dialog[open]");
  await page.evaluate(fill);
  await page.evaluate(() => document.querySelector("#dialog form").requestSubmit());
  await page.waitForFunction(() => !document.querySelector("#dialog[open]"));
}

// A fresh page showing a new population of `seed`, waiting for the space bar.
async function setBaseSeed(page, seed) {
  await page.keyboard.down("Control");
  await page.keyboard.press("b");
  await page.keyboard.up("Control");
  await answerDialog(page, `document.getElementById("dialog-seed").value = "${seed}"`);
}

async function pageWithSeed(t, seed) {
  const page = await t.browser.newPage();
  await page.setViewport({ width: 1400, height: 1000, deviceScaleFactor: 1 });
  page.on("request", (request) => t.requests.push(request.url()));
  page.on("pageerror", (error) => t.errors.push(error.message));
  await page.goto(t.origin + "/");
  await waitActivity(page, "Press the space bar to start generation 1");
  await setBaseSeed(page, seed);
  await page.keyboard.down("Control");
  await page.keyboard.press("r");
  await page.keyboard.up("Control");
  await page.waitForFunction((s) => document.getElementById("seeds").textContent.startsWith("Seed " + s + ";"),
                             { timeout: 30000 }, String(seed));
  await waitActivity(page, "Press the space bar to start generation 1");
  return page;
}

// --- the tests ---

const tests = [];
const test = (name, body) => tests.push({ name, body });

test("the map after 50 generations is the desktop program's, pixel for pixel", async (t) => {
  const page = await pageWithSeed(t, 42);
  await chooseMenu(page, DisplayMenu, 16);  // Actual Size
  await chooseMenu(page, GenerationsMenu, 3);  // 50
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished: space bar for a new population");
  await page.waitForFunction(() => document.querySelector('canvas[data-port="0"]').width === 640);
  const pixels = Buffer.from(await page.evaluate(() => {
    const canvas = document.querySelector('canvas[data-port="0"]');
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let text = "";
    for (let i = 0; i < data.length; i += 8192) text += String.fromCharCode(...data.subarray(i, i + 8192));
    return btoa(text);
  }), "base64");
  const desktopFile = path.join(t.folder, "desktop-map.rgba");
  execFileSync(options["desktop-map"], ["42", "50", desktopFile]);
  const desktop = fs.readFileSync(desktopFile);
  assert.equal(pixels.length, 640 * 400 * 4);
  let differing = 0;
  for (let i = 0; i < desktop.length; ++i) if (desktop[i] !== pixels[i]) ++differing;
  assert.equal(differing, 0, `${differing} bytes of the map differ from the desktop program's`);
  // Discs of all three colours are on it, so the comparison compares a run.
  const colours = new Set();
  for (let i = 0; i < pixels.length; i += 4) colours.add(pixels.readUInt32BE(i));
  assert.ok(colours.size >= 4, "the map shows discs");
  await page.close();
});

test("the Charts view shows the trace's counts, and the key and run button say what they mean", async (t) => {
  const page = await pageWithSeed(t, 42);
  assert.equal(await page.$eval("#space-button", (e) => e.textContent), "Start");
  assert.equal(await page.$eval("#map-caption", (e) => e.textContent),
               "All three loci: disc preference, ring specialization, centre mating");
  await chooseMenu(page, GenerationsMenu, 3);  // 50
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished: space bar for a new population");
  assert.equal(await page.$eval("#space-button", (e) => e.textContent), "New Population");
  await page.waitForFunction(() => Talveron.charts.count === 50);
  const shown = await page.evaluate(() => ({
    first: Talveron.charts.first,
    rows: Array.from(Talveron.charts.rows.subarray(0, Talveron.charts.count * 20)),
  }));
  const out = path.join(t.folder, "charts.txt"), trace = path.join(t.folder, "charts.trace");
  execFileSync(options.batch, ["--seed", "42", "--replicates", "1", "--generations", "50", "--out", out, "--trace", trace, "--quiet"]);
  const traced = fs.readFileSync(trace, "utf8").trim().split("\n").slice(1).flatMap((line) => line.split("\t").slice(3).map(Number));
  assert.equal(shown.first, 1);
  assert.deepEqual(shown.rows, traced);
  // The lines are drawn: both habitats' allele colours are on the canvas.
  const colours = await page.evaluate(() => {
    const canvas = document.getElementById("charts");
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let red = 0, blue = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] > 200 && data[i + 1] < 40 && data[i + 2] < 40) ++red;
      if (data[i] < 40 && data[i + 1] < 40 && data[i + 2] > 180) ++blue;
    }
    return { red, blue, width: canvas.width };
  });
  assert.ok(colours.width >= 300 && colours.red > 50 && colours.blue > 50, JSON.stringify(colours));
  // Hovering a line of the last panel tells its generation and value, the trace's share.
  const box = await page.$eval("#charts", (e) => { const r = e.getBoundingClientRect(); return [r.left, r.top, r.width, r.height]; });
  let tip = "";
  for (let y = box[1] + box[3] - 26; y > box[1] + box[3] * 0.7 && !tip; y -= 2) {
    await page.mouse.move(box[0] + box[2] * 0.6, y);
    tip = await page.$eval("#charts-tip", (e) => (e.hidden ? "" : e.textContent));
  }
  const told = tip.match(/^Generation (\d+): mating preference, habitat ([01]), allele ([012]): (\d\.\d{3})$/);
  assert.ok(told, "hovering tells a point: " + tip);
  const [g, habitat, allele] = told.slice(1, 4).map(Number);
  const at = (g - 1) * 20 + habitat * 10;
  assert.equal(told[4], (traced[at + 7 + allele] / traced[at]).toFixed(3));
  // Another display while waiting: the key follows and the status bar says when the map does.
  await chooseMenu(page, DisplayMenu, 5);  // Habitat specialization
  await page.waitForFunction(() => document.getElementById("map-caption").textContent === "Habitat specialization");
  assert.equal(await page.$eval("#map-alleles", (e) => e.textContent),
               "\u25CF 0 specialized to habitat 0\u25CF 1 specialized to habitat 1\u25CF 2 not specialized");
  assert.equal(await page.$eval("#remark", (e) => e.textContent), "The map changes to Habitat specialization at the next generation");
  await chooseMenu(page, DisplayMenu, 18);  // Charts off
  await page.waitForFunction(() => document.getElementById("view-charts").hidden);
  await page.close();
});

test("a series of 2 x 200 downloads the data file talveron-batch writes, byte for byte", async (t) => {
  const page = await pageWithSeed(t, 7);
  const downloads = path.join(t.folder, "downloads");
  fs.mkdirSync(downloads);
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
  await chooseMenu(page, GenerationsMenu, 5);  // 200; 2 replicates is the start-up choice
  await setBaseSeed(page, 7);  // the run on show took 7: the series starts from it again
  await page.keyboard.down("Control");
  await page.keyboard.press("o");
  await page.keyboard.up("Control");
  await answerDialog(page, `document.getElementById("dialog-name").value = "series.txt"`);
  await page.waitForFunction(() => document.getElementById("dataFile").textContent === "Data file series.txt");
  await chooseMenu(page, DataFileMenu, 12);  // Run Replicates
  await waitActivity(page, "Series finished: 2 records in series.txt");
  const downloaded = path.join(downloads, "series.txt");
  for (let i = 0; i < 100 && !fs.existsSync(downloaded); ++i) await new Promise((r) => setTimeout(r, 100));
  const batchFile = path.join(t.folder, "batch.txt");
  execFileSync(options.batch, ["--seed", "7", "--replicates", "2", "--generations", "200", "--out", batchFile, "--quiet"]);
  assert.ok(fs.existsSync(downloaded), "the data file was downloaded");
  assert.deepEqual(fs.readFileSync(downloaded), fs.readFileSync(batchFile));
  await page.close();
});

test("a series stopped early hands over its complete records as FILE.partial", async (t) => {
  const page = await pageWithSeed(t, 11);
  const downloads = path.join(t.folder, "stopped");
  fs.mkdirSync(downloads);
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
  await chooseMenu(page, GenerationsMenu, 9);  // 5000: the second replicate runs long enough to be stopped
  await setBaseSeed(page, 11);
  await chooseMenu(page, DataFileMenu, 1);  // Open Data File
  await answerDialog(page, `document.getElementById("dialog-name").value = "stopped.txt"`);
  await chooseMenu(page, DataFileMenu, 12);
  await waitActivity(page, "Series: replicate 2 of 2");
  await chooseMenu(page, FileMenu, 1);  // Restart: the page asks first, and the run waits for the answer
  await page.waitForSelector("#dialog[open] #dialog-message");
  assert.equal(await page.$eval("#dialog-message", (e) => e.textContent),
               "A series is running: 1 of 2 replicates done. Stop it? The complete records are kept in stopped.txt.partial");
  await page.evaluate(() => [...document.querySelectorAll("#dialog button")].find((b) => b.textContent === "Yes").click());
  await page.waitForFunction(() => document.getElementById("note").textContent.startsWith("Series stopped"));
  const partial = path.join(downloads, "stopped.txt.partial");
  for (let i = 0; i < 100 && !fs.existsSync(partial); ++i) await new Promise((r) => setTimeout(r, 100));
  const batchFile = path.join(t.folder, "whole.txt");
  execFileSync(options.batch, ["--seed", "11", "--replicates", "2", "--generations", "5000", "--out", batchFile, "--quiet"]);
  const kept = fs.readFileSync(partial);
  const whole = fs.readFileSync(batchFile);
  // The header and the first replicate's record: the whole file's first lines.
  const lines = whole.toString("latin1").split("\r");
  const firstRecord = lines.slice(0, lines.length - 2).join("\r") + "\r";
  assert.equal(kept.toString("latin1"), firstRecord);
  await page.close();
});

test("a bad settings file is refused with the desktop program's words, and nothing changes", async (t) => {
  const page = await pageWithSeed(t, 5);
  const bad = path.join(t.folder, "bad.toml");
  fs.writeFileSync(bad, "seed = 9\nreplicates = 3\n[set]\ndensity = 12\n");
  const seedsBefore = await page.$eval("#seeds", (e) => e.textContent);
  const [chooser] = await Promise.all([page.waitForFileChooser(), chooseMenu(page, FileMenu, 13)]);
  await chooser.accept([bad]);
  await page.waitForSelector("#dialog[open] #dialog-message");
  const shown = await page.$eval("#dialog-message", (e) => e.textContent);
  let desktopWords = "";
  try {
    execFileSync(options.desktop, ["--settings", "bad.toml"], { cwd: t.folder, stdio: ["ignore", "ignore", "pipe"] });
  } catch (error) {
    const refusal = error.stderr.toString().split("\n").find((line) => line.startsWith("talveron: ")) || "";
    desktopWords = refusal.replace(/^talveron: /, "");
  }
  assert.ok(desktopWords.length > 0, "the desktop program refuses the file");
  assert.equal(shown, desktopWords);
  await page.evaluate(() => document.querySelector("#dialog form").requestSubmit());
  // The program asks for another file; cancelled, the settings are as they were.
  await page.waitForSelector("#dialog[open] #dialog-choose");
  await page.keyboard.press("Escape");
  await page.waitForFunction(() => !document.querySelector("#dialog[open]"));
  assert.equal(await page.$eval("#seeds", (e) => e.textContent), seedsBefore);
  assert.equal(await activity(page), "Press the space bar to start generation 1");
  await page.close();
});

test("the page asks nothing of any other address, and loads less than 2 MB compressed", async (t) => {
  assert.deepEqual(t.errors, [], "the page raised no error");
  assert.ok(t.requests.length > 0);
  const elsewhere = t.requests.filter((url) => !url.startsWith(t.origin + "/") && !/^(data|blob):/.test(url));
  assert.deepEqual(elsewhere, []);
  let compressed = 0;
  const loaded = new Set(t.requests.filter((url) => url.startsWith(t.origin + "/")).map((url) => new URL(url).pathname));
  for (const name of loaded) {
    const file = path.join(site, name === "/" ? "index.html" : decodeURIComponent(name));
    compressed += zlib.gzipSync(fs.readFileSync(file), { level: 9 }).length;
  }
  assert.ok(loaded.has("/talveron.wasm"));
  assert.ok(compressed < 2 * 1024 * 1024, `the page loads ${compressed} bytes compressed`);
});

// --- running them ---

(async () => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "talveron-web-"));
  let served = null;
  let browser = null;
  let failures = 0;
  try {
    served = await serve();
    browser = await launch(folder);
    const context = { browser, origin: served.origin, requests: [], errors: [], folder };
    for (const { name, body } of tests) {
      try {
        await body(context);
        console.log("ok   " + name);
      } catch (error) {
        ++failures;
        console.log("FAIL " + name + "\n     " + String(error.stack || error).replace(/\n/g, "\n     "));
      }
    }
  } finally {
    if (browser) await browser.close();
    if (served) served.server.kill();
    fs.rmSync(folder, { recursive: true, force: true });
  }
  process.exit(failures ? 1 : 0);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
