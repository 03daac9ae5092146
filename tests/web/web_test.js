// End-to-end tests of the web page in the system's Chromium: the page
// served by scripts/serve-web.sh, driven as a user drives it, compared with
// the desktop program and talveron-batch. Skipped (status 77) when the page
// or puppeteer-core (installed by scripts/test.sh into build-web/node) is
// missing.
"use strict";

const assert = require("node:assert/strict");
const { execFileSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");
const zlib = require("node:zlib");

const { options, site, modules, requirePuppeteer, waitActivity, runTests } = require("./harness.js");

const puppeteer = requirePuppeteer();

const FileMenu = 129, DisplayMenu = 134, DataFileMenu = 135, GenerationsMenu = 111;

// --- the page ---

const activity = (page) => page.$eval("#activity", (e) => e.textContent);

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

// The bytes of a file the page downloads into `folder`, once Chromium has
// written them all: a download may show under its own name, still empty,
// before its bytes are in. Null when none came within 10 seconds.
async function downloadedBytes(folder, name) {
  const file = path.join(folder, name);
  let size = -1;
  for (let i = 0; i < 100; ++i) {
    const writing = fs.readdirSync(folder).some((entry) => entry.endsWith(".crdownload"));
    const now = fs.existsSync(file) ? fs.statSync(file).size : -1;
    if (!writing && now > 0 && now === size) return fs.readFileSync(file);
    size = now;
    await new Promise((r) => setTimeout(r, 100));
  }
  return null;
}

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
  // The charts in words (the program's own, as the desktop program gives
  // them to screen readers): the last generation's counts and shares are
  // the trace's.
  await page.waitForFunction(() => document.getElementById("charts-summary").textContent.startsWith("Generation 50."));
  const words = await page.$eval("#charts-summary", (e) => e.textContent);
  const out = path.join(t.folder, "charts.txt"), trace = path.join(t.folder, "charts.trace");
  execFileSync(options.batch, ["--seed", "42", "--replicates", "1", "--generations", "50", "--out", out, "--trace", trace, "--quiet"]);
  const traced = fs.readFileSync(trace, "utf8").trim().split("\n").slice(1).flatMap((line) => line.split("\t").slice(3).map(Number));
  const last = traced.slice(49 * 20, 50 * 20);
  const share = (habitat, locus, allele) => Math.round(100 * last[habitat * 10 + 1 + locus * 3 + allele] / last[habitat * 10]);
  assert.ok(words.startsWith(`Generation 50. Habitat 0: ${last[0]} adults; habitat 1: ${last[10]} adults. ` +
                             `Habitat specialization: habitat 0 allele 0 ${share(0, 0, 0)}%, allele 1 ${share(0, 0, 1)}%, ` +
                             `allele 2 ${share(0, 0, 2)}%; habitat 1 allele 0 ${share(1, 0, 0)}%`), words);
  assert.ok(words.includes(`Mating preference: habitat 0 allele 0 ${share(0, 2, 0)}%`), words);
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
    await new Promise((r) => setTimeout(r, 30));  // the program answers at its next look
    tip = await page.$eval("#charts-tip", (e) => (e.hidden ? "" : e.textContent));
  }
  const told = tip.match(/^Generation (\d+): mating preference, habitat ([01]), allele ([012]): (\d\.\d{3})$/);
  assert.ok(told, "hovering tells a point: " + tip);
  const [g, habitat, allele] = told.slice(1, 4).map(Number);
  const at = (g - 1) * 20 + habitat * 10;
  assert.equal(told[4], (traced[at + 7 + allele] / traced[at]).toFixed(3));
  // The Statistics check box, off at first and taken by the keyboard, adds
  // F_ST between the habitats: in words, the values of the trace's --stats.
  assert.equal(await page.$eval("#charts-statistics", (e) => e.checked), false);
  const statsTrace = path.join(t.folder, "stats.trace");
  execFileSync(options.batch, ["--seed", "42", "--replicates", "1", "--generations", "50", "--out", path.join(t.folder, "stats.txt"),
                               "--trace", statsTrace, "--stats", "--quiet"]);
  const statsLines = fs.readFileSync(statsTrace, "utf8").trim().split("\n");
  const statsHeader = statsLines[0].split("\t"), lastLine = statsLines[statsLines.length - 1].split("\t");
  const fst = (name) => (lastLine[statsHeader.indexOf(name)] === "NA" ? "undefined" : Number(lastLine[statsHeader.indexOf(name)]).toFixed(2));
  await page.focus("#charts-statistics");
  await page.keyboard.press("Space");
  await page.waitForFunction(() => document.getElementById("charts-summary").textContent.includes("F_ST"));
  const withStats = await page.$eval("#charts-summary", (e) => e.textContent);
  assert.ok(withStats.startsWith(words), withStats);
  assert.ok(withStats.endsWith(` F_ST between the habitats: habitat specialization ${fst("fst_spec")}, ` +
                               `habitat preference ${fst("fst_pref")}, mating preference ${fst("fst_mate")}.`), withStats);
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

test("at the fastest speed each frame's Charts header tells its generation, the lines follow, and the end is whole", async (t) => {
  const page = await pageWithSeed(t, 11);
  await chooseMenu(page, GenerationsMenu, 9);  // 5000
  // What each frame hands the Charts' canvas: the generation in its header
  // and whether it drew the lines (a frame ends when the program lets the
  // browser show it).
  await page.evaluate(() => {
    const charts = Talveron.charts, seen = (window.chartsFrames = []);
    let frame = null;
    const note = () => (frame = frame || { at: performance.now(), headers: [], lines: 0 });
    const text = charts.text.bind(charts), line = charts.line.bind(charts), wait = Talveron.wait.bind(Talveron);
    charts.text = (words, ...rest) => {
      const header = /^Generation (\d+)/.exec(words);
      if (header && rest[3]) note().headers.push(Number(header[1]));  // bold: the header
      text(words, ...rest);
    };
    charts.line = (...args) => { note().lines++; line(...args); };
    Talveron.wait = (seconds) => {
      if (frame) seen.push(frame);
      frame = null;
      return wait(seconds);
    };
  });
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished: space bar for a new population");
  const frames = await page.evaluate(() => window.chartsFrames);
  const running = frames.slice(0, -1);  // the last one: the run at rest
  assert.ok(running.length >= 5, `${running.length} frames`);
  let last = 0;
  for (const frame of running) {
    assert.equal(frame.headers.length, 1, JSON.stringify(frame));
    assert.ok(frame.headers[0] > last, `generation ${frame.headers[0]} after ${last}`);
    last = frame.headers[0];
  }
  // The lines at most every 100 ms; most frames draw the header alone.
  const withLines = running.filter((frame) => frame.lines > 0);
  for (let i = 1; i < withLines.length; ++i) assert.ok(withLines[i].at - withLines[i - 1].at >= 99, "lines again within 100 ms");
  assert.ok(withLines.length < running.length, `${withLines.length} of ${running.length} frames drew the lines`);
  // At rest the charts are whole and current: drawn again, no pixel changes.
  await page.waitForFunction(() => document.getElementById("charts-summary").textContent.startsWith("Generation 5000."));
  const pixels = () => page.evaluate(() => {
    const canvas = document.getElementById("charts");
    return Array.from(canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data).join(",");
  });
  const before = await pixels();
  const drawn = frames.length;
  await page.evaluate(() => Talveron.charts.schedule());
  await page.waitForFunction((n) => window.chartsFrames.length > n, {}, drawn);
  assert.ok(before === (await pixels()), "the charts at rest are a whole drawing of the last generation");
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
  const downloaded = await downloadedBytes(downloads, "series.txt");
  const batchFile = path.join(t.folder, "batch.txt");
  execFileSync(options.batch, ["--seed", "7", "--replicates", "2", "--generations", "200", "--out", batchFile, "--quiet"]);
  assert.ok(downloaded, "the data file was downloaded");
  assert.deepEqual(downloaded, fs.readFileSync(batchFile));
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
  const kept = await downloadedBytes(downloads, "stopped.txt.partial");
  assert.ok(kept, "the complete records were downloaded");
  const batchFile = path.join(t.folder, "whole.txt");
  execFileSync(options.batch, ["--seed", "11", "--replicates", "2", "--generations", "5000", "--out", batchFile, "--quiet"]);
  const whole = fs.readFileSync(batchFile);
  // The header and the first replicate's record: the whole file's first lines.
  const lines = whole.toString("latin1").split("\r");
  const firstRecord = lines.slice(0, lines.length - 2).join("\r") + "\r";
  assert.equal(kept.toString("latin1"), firstRecord);
  await page.close();
});

test("Save Genotypes downloads the adults on the map: the VCF text talveron-batch compresses, byte for byte", async (t) => {
  const page = await pageWithSeed(t, 42);
  const downloads = path.join(t.folder, "genotypes");
  fs.mkdirSync(downloads);
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
  await chooseMenu(page, GenerationsMenu, 3);  // 50
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished: space bar for a new population");
  await chooseMenu(page, FileMenu, 19);  // Save Genotypes
  await answerDialog(page, `document.getElementById("dialog-name").value = "g50.vcf"`);
  const text = await downloadedBytes(downloads, "g50.vcf");
  const batchFile = path.join(t.folder, "batch.vcf.gz");
  execFileSync(options.batch, ["--seed", "42", "--replicates", "1", "--generations", "50", "--out",
                               path.join(t.folder, "batch.txt"), "--genotypes", batchFile, "--quiet"]);
  assert.ok(text, "the VCF file was downloaded");
  assert.ok(text.toString("latin1").includes("\tr1_g50_h"), "samples of replicate 1, generation 50");
  assert.deepEqual(text, zlib.gunzipSync(fs.readFileSync(batchFile)));
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

test("the Settings form lists a settings file's scheduled changes as the desktop program does", async (t) => {
  const page = await pageWithSeed(t, 5);
  const shown = async () => {
    await chooseMenu(page, FileMenu, 7);
    await page.waitForSelector("#dialog[open] #settings-changes");
    const lines = await page.$$eval("#settings-changes div", (rows) => rows.map((row) => row.textContent));
    await page.keyboard.press("Escape");
    await page.waitForFunction(() => !document.querySelector("#dialog[open]"));
    return lines;
  };
  assert.deepEqual(await shown(), ["No changes during the run"]);
  const contact = path.join(t.folder, "contact.toml");
  fs.writeFileSync(contact, "seed = 77\ngenerations = 3000\n[[change]]\ngeneration = 2001\n" +
                            "set = { natalDispersalRate = 10, matingDispersalRate = 20 }\n" +
                            "[[change]]\ngeneration = 500\nset = { selectionFactor = 0.5 }\n");
  const [chooser] = await Promise.all([page.waitForFileChooser(), chooseMenu(page, FileMenu, 13)]);
  await chooser.accept([contact]);
  // The file's seed shows once the file is read.
  await page.waitForFunction(() => document.getElementById("seeds").textContent.includes("77"), { timeout: 30000 });
  assert.deepEqual(await shown(), ["Generation 500: selectionFactor = 0.5",
                                   "Generation 2001: natalDispersalRate = 10, matingDispersalRate = 20"]);
  await page.close();
});

test("Quit during a series hands over its records, and the status bar shows the next series' seed", async (t) => {
  const page = await pageWithSeed(t, 13);
  assert.match(await page.$eval("#seeds", (e) => e.textContent), /; next series seed \d+$/);
  const downloads = path.join(t.folder, "quit");
  fs.mkdirSync(downloads);
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
  await chooseMenu(page, GenerationsMenu, 9);  // 5000
  await setBaseSeed(page, 13);
  assert.match(await page.$eval("#seeds", (e) => e.textContent), /; next series seed 13$/);
  await chooseMenu(page, DataFileMenu, 1);
  await answerDialog(page, `document.getElementById("dialog-name").value = "q.txt"`);
  await chooseMenu(page, DataFileMenu, 12);
  await waitActivity(page, "Series: replicate 2 of 2");
  await chooseMenu(page, FileMenu, 9);  // Quit: asks first
  await page.waitForSelector("#dialog[open] #dialog-message");
  await page.evaluate(() => [...document.querySelectorAll("#dialog button")].find((b) => b.textContent === "Yes").click());
  await waitActivity(page, "Talveron has ended");
  const partial = await downloadedBytes(downloads, "q.txt.partial");
  assert.ok(partial, "the records of the stopped series were downloaded");
  assert.match(partial.toString("latin1"), /\r/);
  await page.close();
});

test("the page's own guide: no docks, no command line, pictures as PNG only", async (t) => {
  const guide = await (await fetch(t.origin + "/guide.html")).text();
  assert.match(guide, /Talveron in the browser/);
  assert.match(guide, /Without a mouse/);
  for (const desktopOnly of [/dock/i, /talveron --settings/, /SVG/, /floated/, /standard error/, /<!--/]) {
    assert.doesNotMatch(guide, desktopOnly);
  }
});

// Every menu item the page shows, reached with the keyboard alone: Tab to
// the menu bar, the arrows through every menu and submenu, Escape out;
// Enter chooses.
test("every menu item is reached by keyboard alone, and Enter chooses", async (t) => {
  const page = await pageWithSeed(t, 3);
  await page.evaluate(() => document.activeElement && document.activeElement.blur());
  await page.keyboard.press("Tab");
  assert.equal(await page.evaluate(() => document.activeElement.textContent), "Talveron");
  const shown = await page.evaluate(() =>
    [...document.querySelectorAll("#menubar .menu-item")].filter((e) => !e.classList.contains("hidden"))
      .map((e) => e.dataset.menu + "," + e.dataset.item));
  const focused = () => page.evaluate(() => {
    const e = document.activeElement;
    return e.classList.contains("menu-item") ? e.dataset.menu + "," + e.dataset.item : "title:" + e.textContent;
  });
  const reached = new Set();
  const titles = await page.$$eval("#menubar .menu-title", (all) => all.map((e) => e.textContent));
  // Walks the open list from its first item until it comes round again,
  // and every submenu on the way.
  const walk = async (depth) => {
    const first = await focused();
    for (let guard = 0; guard < 60; ++guard) {
      const here = await focused();
      reached.add(here);
      const submenu = await page.evaluate(() => document.activeElement.classList.contains("has-submenu") &&
                                                !document.activeElement.classList.contains("disabled"));
      if (submenu && depth < 2) {
        await page.keyboard.press("ArrowRight");
        await walk(depth + 1);
        await page.keyboard.press("ArrowLeft");
        assert.equal(await focused(), here, "Left closes the submenu");
      }
      await page.keyboard.press("ArrowDown");
      if ((await focused()) === first) return;
    }
    assert.fail("a menu that never comes round");
  };
  for (let i = 0; i < titles.length; ++i) {
    assert.equal(await focused(), "title:" + titles[i]);
    await page.keyboard.press("ArrowDown");
    assert.equal(await page.evaluate(() => document.activeElement.closest(".menu").classList.contains("open")), true);
    await walk(0);
    await page.keyboard.press("Escape");
    assert.equal(await focused(), "title:" + titles[i]);
    await page.keyboard.press("ArrowRight");
  }
  // The items of a disabled submenu are out of reach, as in any menu.
  const disabledParents = await page.evaluate(() =>
    [...document.querySelectorAll("#menubar .menu-item.has-submenu.disabled .menu-item")].map((e) => e.dataset.menu + "," + e.dataset.item));
  assert.deepEqual(shown.filter((item) => !reached.has(item) && !disabledParents.includes(item)), []);
  assert.ok(reached.size > 60, `${reached.size} items reached`);
  // Quit stands last in the File menu; About is in one menu only.
  const file = await page.$$eval('#menubar .menu-title[data-menu="129"] + .menu-list > .menu-item:not(.hidden)',
                                 (all) => all.map((e) => e.getAttribute("aria-label")));
  assert.equal(file[file.length - 1], "Quit");
  assert.equal(await page.$$eval("#menubar .menu-item:not(.hidden)",
                                 (all) => all.filter((e) => e.getAttribute("aria-label").startsWith("About")).length), 1);
  // F10, right to Help, down to Guide, Enter: the guide opens, and the
  // space bar runs again, the menu bar left.
  await page.keyboard.press("F10");
  for (let i = 0; i < titles.indexOf("Help"); ++i) await page.keyboard.press("ArrowRight");
  await page.keyboard.press("Enter");
  await page.keyboard.press("Enter");
  await page.waitForFunction(() => !document.getElementById("guide").hidden);
  await page.keyboard.press("Space");
  await page.waitForFunction(() => document.getElementById("activity").textContent.startsWith("Running"), { timeout: 30000 });
  await page.close();
});

// Each view lies where it can be seen or scrolled to: none starts left of
// the page or above it, and on a phone none is wider than the screen.
async function expectViewsReachable(page, width, height) {
  await page.setViewport({ width, height, deviceScaleFactor: 1 });
  await page.waitForFunction(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(() => r(true)))));
  await new Promise((r) => setTimeout(r, 300));
  const boxes = await page.evaluate(() => ["view-map", "view-text", "view-graph", "view-time", "view-charts"].map((id) => {
    const section = document.getElementById(id);
    const canvas = section.querySelector("canvas");
    const box = section.getBoundingClientRect(), drawn = canvas.getBoundingClientRect();
    return { id, left: box.left + scrollX, top: box.top + scrollY, right: box.right + scrollX, bottom: box.bottom + scrollY,
             canvasRight: drawn.right + scrollX, canvasWidth: drawn.width, canvasHeight: drawn.height };
  }));
  const page_ = await page.evaluate(() => ({ width: document.documentElement.scrollWidth, height: document.documentElement.scrollHeight }));
  for (const box of boxes) {
    assert.ok(box.left >= 0 && box.top >= 0, `${width}x${height}: ${box.id} starts at ${box.left}, ${box.top}`);
    assert.ok(box.right <= page_.width + 0.5 && box.bottom <= page_.height + 0.5, `${width}x${height}: ${box.id} ends past the page`);
    assert.ok(box.canvasRight <= page_.width + 0.5, `${width}x${height}: ${box.id}'s drawing ends past the page`);
    assert.ok(box.canvasWidth > 50 && box.canvasHeight > 30, `${width}x${height}: ${box.id} is drawn at ${box.canvasWidth}x${box.canvasHeight}`);
  }
  return { boxes, page: page_ };
}

test("at 390x844 and at 800x600 every view can be reached, and a phone gets the map as wide as its screen", async (t) => {
  const page = await pageWithSeed(t, 4);
  const phone = await expectViewsReachable(page, 390, 844);
  assert.ok(phone.page.width <= 390, `the phone's page is ${phone.page.width} wide`);
  const map = phone.boxes.find((box) => box.id === "view-map");
  assert.ok(map.canvasWidth >= 340, `the map is ${map.canvasWidth} wide`);
  const order = phone.boxes.map((box) => box.id).sort((a, b) =>
    phone.boxes.find((x) => x.id === a).top - phone.boxes.find((x) => x.id === b).top);
  assert.equal(order[0], "view-map");
  const buttons = await page.$$eval("#toolbar button", (all) => all.map((b) => b.getBoundingClientRect().height));
  assert.ok(buttons.every((h) => h >= 44), "run buttons a finger can press: " + buttons.join(", "));
  // A tap on the map starts the run.
  const box = await page.$eval('canvas[data-port="0"]', (e) => { const r = e.getBoundingClientRect(); return [r.left + 20, r.top + 20]; });
  await page.touchscreen.tap(box[0], box[1]);
  await page.waitForFunction(() => document.getElementById("activity").textContent.startsWith("Running"), { timeout: 30000 });
  await expectViewsReachable(page, 800, 600);
  await page.close();
});

test("every control and view has a name, the charts are told in words, and axe finds no serious violation", async (t) => {
  const page = await pageWithSeed(t, 8);
  await chooseMenu(page, GenerationsMenu, 2);  // 20
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished: space bar for a new population");
  await page.waitForFunction(() => document.getElementById("charts-summary").textContent.startsWith("Generation 20."));
  const summary = await page.$eval("#charts-summary", (e) => e.textContent);
  assert.match(summary, /^Generation 20\. Habitat 0: \d+ adults; habitat 1: \d+ adults\. Habitat specialization: habitat 0 allele 0 \d+%/);
  await page.addScriptTag({ path: path.join(modules, "axe-core", "axe.min.js") });
  const check = async (when) => {
    const found = await page.evaluate(async () => {
      const result = await axe.run(document, { resultTypes: ["violations"] });
      return result.violations.filter((v) => v.impact === "serious" || v.impact === "critical")
        .map((v) => v.id + ": " + v.nodes.map((n) => n.target.join(" ")).slice(0, 3).join(", "));
    });
    assert.deepEqual(found, [], when);
  };
  await check("the page");
  await page.keyboard.press("F10");
  await page.keyboard.press("ArrowDown");  // the first menu open
  await check("a menu open");
  await page.keyboard.press("Escape");
  await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 1 });
  await check("on a phone");
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

runTests(puppeteer, tests).catch((error) => {
  console.error(error);
  process.exit(1);
});
