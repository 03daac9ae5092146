// The lessons on the web page in the system's Chromium: every lesson opens
// from the page's address with its settings, pace, text and questions and
// runs 200 generations; bad links are refused in the settings' words and
// the page opens at the defaults; Copy Link gives back the experiment on
// show; presentation mode's text is large on 1280 by 720; Space after a
// click on Statistics starts the run and axe passes with a lesson open; on
// a phone the lesson is below the map; a lesson dropped on the page opens;
// a change is told in plain words until the next event, listed with the
// milestones and marked on the time plot and the Charts; lesson files over
// the settings file's limits, devices and late changes are refused.
// Skipped (status 77) without a built page or puppeteer-core, as the other
// page tests are.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");

const { root, modules, requirePuppeteer, waitActivity, runTests } = require("./harness.js");

const puppeteer = requirePuppeteer(["lessons.js"]);

const FileMenu = 129, DisplayMenu = 134, SpeedMenu = 112, LessonsMenu = 137;
const lessonNames = fs.readFileSync(path.join(root, "lessons", "index.txt"), "utf8").split("\n").filter(Boolean);

// The item of a menu with `text`, from 1, as the program built the menu.
const itemOf = (page, menu, text) =>
  page.evaluate((m, t) => Talveron.menus.get(m).items.findIndex((i) => i.text === t) + 1, menu, text);

async function open(t, hash, size = { width: 1400, height: 1000 }) {
  const page = await t.browser.newPage();
  await page.setViewport({ ...size, deviceScaleFactor: 1 });
  page.on("pageerror", (error) => t.errors.push(error.message));
  await page.goto(t.origin + "/index.html" + hash);
  return page;
}

// The link of the experiment on show, as Lessons > Copy Link gives it.
async function copyLink(page) {
  await page.evaluate(() => { Talveron.copied = null; Talveron.copy = (text) => { Talveron.copied = text; }; });
  await page.evaluate((m, i) => Talveron.choose(m, i), LessonsMenu, await itemOf(page, LessonsMenu, "Copy Link"));
  await page.waitForFunction(() => Talveron.copied !== null);
  return page.evaluate(() => Talveron.copied.split("#")[1]);
}

// The settings file's values as talveron-batch reads them, for comparing
// with the link of the page: the parameters that differ from the defaults.
function settingsOf(name) {
  const text = fs.readFileSync(path.join(root, "lessons", name + ".toml"), "utf8");
  const seed = /^seed = (\d+)/m.exec(text)[1];
  const set = text.split("[set]")[1] || "";
  const values = {};
  for (const line of set.split("\n")) {
    const match = /^(\w+) = (.+)$/.exec(line.trim());
    if (match) values[match[1]] = match[2] === "true" ? "1" : match[2];
  }
  return { seed, values };
}

const tests = [];
const test = (name, body) => tests.push({ name, body });

test("every lesson opens from the page's address with its settings, pace, text and questions, and runs 200 generations", async (t) => {
  assert.equal(lessonNames.length, 6);
  for (const name of lessonNames) {
    const page = await open(t, "#lesson=" + name);
    await waitActivity(page, "Press the space bar to start generation 1");
    const markdown = fs.readFileSync(path.join(root, "lessons", name + ".md"), "utf8");
    const title = /^# (.*)$/m.exec(markdown)[1];
    await page.waitForFunction((ti) => document.getElementById("lesson-title")?.textContent === ti, {}, title);
    assert.equal(await page.$eval("#lesson", (e) => e.hidden), false);
    // The questions, each shown as an item of the list under "Questions".
    const questions = await page.$$eval("#lesson-text h3", (hs) => {
      const h = hs.find((e) => e.textContent === "Questions");
      return h ? Array.from(h.nextElementSibling.querySelectorAll("li"), (li) => li.textContent) : [];
    });
    assert.ok(questions.length >= 2 && questions.length <= 3, name + ": " + questions.length + " questions");
    for (const question of questions) assert.ok(question.includes("?"), question);
    const onMenu = await itemOf(page, LessonsMenu, title);
    assert.ok(await page.evaluate((m, i) => Talveron.items.get(m + "," + i).checked, LessonsMenu, onMenu));
    // Its settings: the link names the lesson and its seed, and nothing else
    // differs from the lesson's settings file.
    const { seed } = settingsOf(name);
    assert.equal(await copyLink(page), `lesson=${name}&seed=${seed}`);
    // Its pace: the speed slider's item of the text's pace.
    const pace = Number((/^Pace: (\d+)/m.exec(markdown) || [0, 10])[1]);
    const speeds = [0, 1000, 300, 100, 30, 10, 3, 1];
    assert.equal(Number(await page.$eval("#speed", (e) => e.value)), speeds.indexOf(pace));
    // 200 generations, as fast as they go and past an extinction.
    await page.evaluate((m) => Talveron.choose(m, 1), SpeedMenu);
    await page.evaluate((m) => Talveron.choose(m, 17), FileMenu);  // Run On to the End
    await page.keyboard.press("Space");
    await page.waitForFunction(() => Number((/^Generation (\d+)/.exec(document.getElementById("charts-summary").textContent) || [0, 0])[1]) >= 200,
                              { timeout: 120000 })
      .catch((error) => { throw new Error(name + ": " + error.message); });
    const summary = await page.$eval("#lesson-summary", (e) => (e.hidden ? "" : e.textContent));
    if (name === "extinction") assert.match(summary, /^Generation \d+: the population has died out\./);
    if (name === "split") assert.match(summary, /^(Generation \d+: |The run ended at generation \d+\. Milestones reached: A)/);
    await page.close();
  }
});

test("a bad link is refused in the settings' words, and the page opens at the defaults", async (t) => {
  const refusals = [
    ["#lesson=nope&seed=3", "lesson: 'nope' is not a lesson; allowed is one of " + lessonNames.join(", ")],
    ["#lesson=split&density=12", "density"],
    ["#lesson=secondary-contact&generations=100",
     "generations: change at generation 151: it comes after the last generation, 100"],
    ["#seed=-4", "allowed is a whole number from 0 to 18446744073709551615"],
    // Bytes that are no UTF-8 are named as the link wrote them.
    ["#lesson=%FF", "lesson: '%FF' is not a lesson"],
    ["#seed=%E0%A4", "seed: '%E0%A4' is not allowed"],
    // A link too long to read is refused whole, not cut to a shorter one.
    ["#seed=123456789&generations=" + "0".repeat(4100) + "7", "its 4128 bytes after the # are more than the 4095"],
  ];
  for (const [hash, words] of refusals) {
    const page = await open(t, hash);
    await page.waitForSelector("#dialog[open]");
    const message = await page.$eval("#dialog-message", (e) => e.textContent);
    assert.ok(message.startsWith("The page's address is refused: "), message);
    assert.ok(message.includes(words), message);
    assert.ok(message.endsWith("The page opens at the defaults."), message);
    await page.evaluate(() => document.querySelector("#dialog form").requestSubmit());
    await waitActivity(page, "Press the space bar to start generation 1");
    assert.equal(await page.$eval("#lesson", (e) => e.hidden).catch(() => true), true);
    assert.match(await copyLink(page), /^seed=\d+$/);
    await page.close();
  }
});

test("Copy Link gives back the experiment on show, and a student's page opens the same", async (t) => {
  const teacher = await open(t, "#lesson=selection&selectionFactor=0.9&seed=77");
  await waitActivity(teacher, "Press the space bar to start generation 1");
  const link = await copyLink(teacher);
  assert.equal(link, "lesson=selection&seed=77&selectionFactor=0.9");
  assert.equal(await teacher.evaluate(() => location.hash), "#" + link);
  const student = await open(t, "#" + link);
  await waitActivity(student, "Press the space bar to start generation 1");
  assert.equal(await copyLink(student), link);
  assert.match(await student.$eval("#seeds", (e) => e.textContent), /^Seed 77;/);
  await teacher.close();
  await student.close();
});

test("presentation mode shows the lesson, the Charts and the run controls in type of 24 pixels and more on 1280x720", async (t) => {
  const page = await open(t, "#lesson=split", { width: 1280, height: 720 });
  await waitActivity(page, "Press the space bar to start generation 1");
  await page.keyboard.press("F11");
  await page.waitForFunction(() => document.body.classList.contains("presentation"));
  const size = (selector) => page.$eval(selector, (e) => parseFloat(getComputedStyle(e).fontSize));
  assert.ok((await size("#lesson-text")) >= 24);
  assert.ok((await size("#toolbar button")) >= 24);
  assert.equal(await page.$eval("#view-graph", (e) => getComputedStyle(e).display), "none");
  // The Charts drawn twice as large: laid out for half their box and
  // scaled up, so their 12-pixel legend shows at 24.
  await page.waitForFunction(() => {
    const box = document.getElementById("charts").getBoundingClientRect();
    return Math.abs(Charts.size[0] * 2 - box.width) <= 2 && Math.abs(Charts.size[1] * 2 - box.height) <= 2;
  });
  assert.ok(await page.evaluate((m, i) => Talveron.items.get(m + "," + i).checked, DisplayMenu,
                                await itemOf(page, DisplayMenu, "Presentation")));
  await page.keyboard.press("F11");
  await page.waitForFunction(() => !document.body.classList.contains("presentation"));
  assert.ok((await size("#lesson-text")) < 24);
  await page.close();
});

test("after a click on the Statistics box the space bar starts the run, and axe finds no serious violation with a lesson open", async (t) => {
  const page = await open(t, "#lesson=split");
  await waitActivity(page, "Press the space bar to start generation 1");
  const ticked = await page.$eval("#charts-statistics", (e) => e.checked);
  await page.click("#charts-statistics");
  assert.equal(await page.$eval("#charts-statistics", (e) => e.checked), !ticked);
  await page.keyboard.press("Space");
  await page.waitForFunction(() => !document.getElementById("activity").textContent.startsWith("Press the space bar"));
  assert.equal(await page.$eval("#charts-statistics", (e) => e.checked), !ticked);
  await page.addScriptTag({ path: path.join(modules, "axe-core", "axe.min.js") });
  const found = await page.evaluate(async () => {
    const result = await axe.run(document, { resultTypes: ["violations"] });
    return result.violations.filter((v) => v.impact === "serious" || v.impact === "critical")
      .map((v) => v.id + ": " + v.nodes.map((n) => n.target.join(" ")).slice(0, 3).join(", "));
  });
  assert.deepEqual(found, []);
  // The lesson's text scrolls from the keys.
  await page.focus("#lesson-text");
  assert.equal(await page.evaluate(() => document.activeElement.id), "lesson-text");
  await page.close();
});

test("on a phone the lesson's panel is below the whole map, and the page does not scroll sideways", async (t) => {
  const page = await open(t, "#lesson=split", { width: 390, height: 844 });
  await waitActivity(page, "Press the space bar to start generation 1");
  const box = (selector) => page.$eval(selector, (e) => { const r = e.getBoundingClientRect(); return { left: r.left, right: r.right, top: r.top, bottom: r.bottom }; });
  const map = await box('canvas[data-port="0"]');
  const lesson = await box("#lesson");
  assert.ok(map.left >= 0 && map.right <= 390, JSON.stringify(map));
  assert.ok(lesson.top >= map.bottom, JSON.stringify({ map, lesson }));
  assert.ok(lesson.left >= 0 && lesson.right <= 390, JSON.stringify(lesson));
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390), "no sideways scroll");
  await page.close();
});

test("a lesson of one's own dropped on the page opens, and the glossary opens from the panel", async (t) => {
  const page = await open(t, "");
  await waitActivity(page, "Press the space bar to start generation 1");
  const drop = () => page.evaluate(() => {
    const transfer = new DataTransfer();
    transfer.items.add(new File(["# Islands\n\nPace: 3 generations a second.\n\n## Questions\n\n1. Why?\n2. How?\n"], "islands.md"));
    transfer.items.add(new File(["seed = 9\n[set]\nnumberOfKids = 6\n"], "islands.toml"));
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  });
  await drop();
  // The lesson panel is made when the first lesson opens.
  await page.waitForFunction(() => document.getElementById("lesson-title")?.textContent === "Islands");
  assert.equal(await copyLink(page), "seed=9&numberOfKids=6");
  await page.evaluate(() => document.getElementById("lesson-glossary").click());
  await page.waitForFunction(() => document.getElementById("lesson-text").textContent.includes("Allele."));
  // The picture of a disc's rings, from the page's own folder.
  await page.waitForFunction(() => {
    const picture = document.querySelector('#lesson-text img[src="disc-rings.svg"]');
    return picture && picture.complete && picture.naturalWidth === 480;
  });
  await page.close();
});

// The words the secondary-contact lesson's change is told in, from what
// its settings file sets at generation 151.
const contact = "From generation 151, 30% of the young move to the other habitat and females accept males of either habitat.";

test("a change is told in plain words until the next event, listed with the milestones and marked on the time plot and the Charts", async (t) => {
  const page = await open(t, "#lesson=secondary-contact");
  await waitActivity(page, "Press the space bar to start generation 1");
  // Every text the summary shows, in order, however fast they follow.
  await page.evaluate(() => {
    window.told = [];
    const line = document.getElementById("lesson-summary");
    // Each text set is a new text node: its record keeps it, though the
    // texts of one frame come to the observer together.
    new MutationObserver((records) => {
      for (const record of records) for (const node of record.addedNodes) window.told.push(node.textContent);
    }).observe(line, { childList: true });
  });
  await page.evaluate((m) => Talveron.choose(m, 1), SpeedMenu);  // as fast as it goes, in frames
  await page.keyboard.press("Space");
  await waitActivity(page, "Run finished");
  const told = (await page.evaluate(() => window.told)).filter(Boolean);
  const milestones = await page.$$eval("#lesson-milestones li", (items) => items.map((li) => li.textContent));
  // The list: each milestone and the change once, by generation.
  const generations = milestones.map((line) => Number(/, generation (\d+): /.exec(line)[1]));
  assert.deepEqual(generations, [...generations].sort((a, b) => a - b), milestones.join("\n"));
  const change = milestones.indexOf(contact.replace("From generation 151, ", "Change, generation 151: "));
  assert.ok(change >= 0, milestones.join("\n"));
  assert.ok(milestones.length >= 5);
  // The summary: the change right after the milestone before it and until
  // the one after it (or the end of the run), nothing in between.
  const at = told.indexOf(contact);
  assert.ok(at >= 0 && told.lastIndexOf(contact) === at, told.join("\n"));
  const after = milestones[change + 1];
  const next = told[at + 1];
  if (after) assert.ok(next.startsWith(`Generation ${/, generation (\d+)/.exec(after)[1]}: `), next);
  else assert.ok(next.startsWith("The run ended at generation 400."), next);
  // The Charts name the change in their words, and the time plot's column of
  // generation 151 is a black line from top to bottom, its neighbour not.
  assert.ok((await page.$eval("#charts-summary", (e) => e.textContent)).includes(contact));
  const blackShare = (column) => page.evaluate((x) => {
    const canvas = Talveron.canvases[3];
    const scale = canvas.width / 902;
    const pixels = canvas.getContext("2d").getImageData(Math.floor((x + 0.5) * scale), 0, 1, canvas.height).data;
    let black = 0;
    for (let i = 0; i < pixels.length; i += 4) if (pixels[i] < 64 && pixels[i + 1] < 64 && pixels[i + 2] < 64) ++black;
    return black / (pixels.length / 4);
  }, column);
  assert.ok((await blackShare(151)) > 0.9, "column 151: " + await blackShare(151));
  assert.ok((await blackShare(149)) < 0.5, "column 149: " + await blackShare(149));
  await page.close();
});

test("lesson files beyond the settings file's limits, devices and late changes are refused, and only so much is read", async (t) => {
  const page = await open(t, "");
  await waitActivity(page, "Press the space bar to start generation 1");
  const limit = 4 << 20;
  // Drops a lesson's files, made in the page (a text of `size` bytes when
  // given), and returns the notice, the Open Lesson dialog after it
  // cancelled.
  const drop = (files) => page.evaluate(async (given, bytes) => {
    const transfer = new DataTransfer();
    for (const [name, text, size] of given) {
      transfer.items.add(new File(size ? [new Uint8Array(size).fill(97)] : [text], name));
    }
    document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, files);
  const notice = async () => {
    await page.waitForSelector("#dialog[open] #dialog-message");
    const message = await page.$eval("#dialog-message", (e) => e.textContent);
    await page.evaluate(() => document.querySelector("#dialog form").requestSubmit());
    await page.waitForFunction(() => document.querySelector("#dialog[open] #lesson-files"));
    await page.evaluate(() => Array.from(document.querySelectorAll("#dialog button")).find((b) => b.textContent === "Cancel").click());
    await page.waitForFunction(() => !document.querySelector("#dialog[open]"));
    return message;
  };
  const text = "# Islands\n\nPace: 3 generations a second.\n\n## Questions\n\n1. Why?\n";
  const cases = [
    [[["big.md", null, 64 << 20]], `big.md: the file has more than ${limit} bytes; allowed are at most that`],
    [[["wide.md", text], ["wide.toml", null, limit + 1]], `wide.toml: the file has more than ${limit} bytes`],
    // The page's files have no /dev/zero, but a device of their own.
    [[["zero.md", text + "\n![endless](/dev/zero)\n"]], "the picture /dev/zero is refused: /dev/zero: "],
    [[["random.md", text + "\n![endless](/dev/urandom)\n"]],
     "the picture /dev/urandom is refused: /dev/urandom: is not a plain file (a device or a pipe)"],
    [[["late.md", text], ["late.toml", "generations = 100\n[[change]]\ngeneration = 151\nset = { natalDispersalRate = 50 }\n"]],
     "late.toml: change at generation 151: it comes after the last generation, 100"],
  ];
  for (const [files, words] of cases) {
    await drop(files);
    const message = await notice();
    assert.ok(message.includes(words), message);
  }
  // The large text was taken in no further than the limit and a byte.
  assert.equal(await page.evaluate(() => Module.FS.stat("big.md").size), limit + 1);
  assert.equal(await page.$eval("#lesson", (e) => e.hidden).catch(() => true), true);
  await page.close();
});

runTests(puppeteer, tests, { noErrors: true }).catch((error) => {
  console.error(error);
  process.exit(1);
});
