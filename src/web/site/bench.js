// The benchmark page: the program measures, the page shows the figures
// beside the desktop program's from native.json (written by
// scripts/bench-web.sh), and keeps them in window.benchResults.
"use strict";

// bench.html?density=8 measures one setting alone.
const benchChosen = new URLSearchParams(location.search).get("density");
const benchSettings = [[1, "defaults (density 1)"], [8, "density 8"]]
  .filter(([density]) => !benchChosen || String(density) === benchChosen);
const benchQueue = benchSettings.map(([density]) => density);
window.benchResults = [];
Talveron.zoom = 1;  // the views at their natural size, as the desktop benchmark draws them
Talveron.relayout();

let warmedUp = false;
Talveron.benchDensity = () => (benchQueue.length ? benchQueue.shift() : 0);

// The first report is the run that warms the browser up.
Talveron.benchReport = (density, generations, seconds, adults, frames) => {
  if (!warmedUp) {
    warmedUp = true;
    benchQueue.unshift(density);
    return;
  }
  window.benchResults.push({ density, generationsPerSecond: generations / seconds, framesPerSecond: frames / seconds, adults });
  if (window.benchResults.length === benchSettings.length) showBench();
};

async function showBench() {
  let native = {};
  try {
    const response = await fetch("native.json", { cache: "no-store" });
    if (response.ok) native = await response.json();
  } catch (e) { /* no native figures: the browser's alone */ }
  const body = document.querySelector("#results tbody");
  // native.json: per density the batch command's, the desktop program's
  // at the fastest speed (and its frames a second) and a series'.
  const rate = (value) => (value ? value.toFixed(0) + " /s" : "not measured");
  const ratio = (value, batch) => (value && batch ? (value / batch).toFixed(2) : "");
  for (const result of window.benchResults) {
    const label = benchSettings.find(([density]) => density === result.density)[1];
    const desktop = native[String(result.density)] || {};
    const cells = [label, rate(desktop.batch), rate(result.generationsPerSecond), ratio(result.generationsPerSecond, desktop.batch),
                   result.framesPerSecond.toFixed(0), rate(desktop.fastest), ratio(desktop.fastest, desktop.batch),
                   desktop.frames ? desktop.frames.toFixed(0) : "", rate(desktop.series), ratio(desktop.series, desktop.batch),
                   String(result.adults)];
    body.append(element("tr", {}, ...cells.map((text) => element("td", {}, text))));
  }
  document.getElementById("bench-state").textContent = native["1"] ? "Done." :
    "Done. The desktop program's figures appear when scripts/bench-web.sh runs the page.";
  window.benchDone = true;
}
