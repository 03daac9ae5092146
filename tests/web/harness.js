// What the page's test files share: their options (--root, --batch, ...),
// the skip (status 77) when the page or puppeteer-core is missing, the
// page's server, Chromium, and the running of the tests one after another
// in one browser.
"use strict";

const assert = require("node:assert/strict");
const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");

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

// puppeteer-core, once the page (with `files` of its own) is built and
// puppeteer-core installed; else the test file is skipped.
function requirePuppeteer(files = []) {
  if (!fs.existsSync(path.join(site, "talveron.wasm"))) skip("no page in build-web/site (scripts/build-web.sh builds it)");
  for (const file of files) {
    if (!fs.existsSync(path.join(site, file))) skip(`the page in build-web/site has no ${file} (build it again)`);
  }
  if (!fs.existsSync(path.join(modules, "puppeteer-core"))) skip("puppeteer-core is not installed in build-web/node");
  return require(path.join(modules, "puppeteer-core"));
}

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

const waitActivity = (page, text, timeout = 120000) =>
  page.waitForFunction((t) => document.getElementById("activity").textContent.startsWith(t), { timeout }, text);

// Runs `tests` ({ name, body }) in one browser against one server, each
// body given the context { browser, origin, errors, requests, folder };
// with `noErrors`, a test whose page raised an error fails. Exits with 1
// when any failed. TALVERON_WEB_TESTS=pattern runs only the tests whose
// names match.
async function runTests(puppeteer, tests, { noErrors = false } = {}) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "talveron-web-"));
  let served = null;
  let browser = null;
  let failures = 0;
  try {
    served = await serve();
    browser = await puppeteer.launch({
      executablePath: "/usr/bin/chromium",
      headless: true,
      userDataDir: path.join(folder, "profile"),
      args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--force-device-scale-factor=1"],
    });
    const only = process.env.TALVERON_WEB_TESTS ? new RegExp(process.env.TALVERON_WEB_TESTS) : null;
    const context = { browser, origin: served.origin, errors: [], requests: [], folder };
    for (const { name, body } of tests.filter((one) => !only || only.test(one.name))) {
      try {
        await body(context);
        if (noErrors) assert.deepEqual(context.errors, [], "the page raised no error");
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
}

module.exports = { options, root, site, modules, requirePuppeteer, waitActivity, runTests };
