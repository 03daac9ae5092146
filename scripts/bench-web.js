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
    console.log("Settings               Browser    Desktop    Browser/desktop   Adults");
    for (const [settings, browserRate, desktopRate, ratio, adults] of rows) {
      console.log(settings.padEnd(22), browserRate.padStart(8), desktopRate.padStart(10), ratio.padStart(12), adults.padStart(11));
    }
  } finally {
    await browser.close();
  }
})().catch((error) => { console.error(error); process.exit(1); });
