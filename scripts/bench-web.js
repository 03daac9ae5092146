// Loads bench.html in the system's Chromium, headless, waits for its
// figures and prints them beside the desktop program's (scripts/bench-web.sh).
"use strict";
const puppeteer = require("puppeteer-core");

(async () => {
  const [url, profile] = process.argv.slice(2);
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium", headless: true, userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--force-device-scale-factor=1"],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1300, height: 1100, deviceScaleFactor: 1 });
    await page.goto(url);
    await page.waitForFunction(() => window.benchDone, { timeout: 120000, polling: 500 });
    const rows = await page.$$eval("#results tbody tr", (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
    const heads = ["Settings", "Batch", "Browser", "/batch", "fps", "Desktop", "/batch", "fps", "Series", "/batch", "Adults"];
    const widths = [22, 10, 10, 7, 5, 10, 7, 5, 10, 7, 7];
    const line = (cells) => cells.map((text, i) => (i === 0 ? text.padEnd(widths[i]) : text.padStart(widths[i]))).join(" ");
    console.log(line(heads));
    for (const row of rows) console.log(line(row));
  } finally {
    await browser.close();
  }
})().catch((error) => { console.error(error); process.exit(1); });
