// The page set up: the keys, the toolbar, the views' events and a settings
// file dropped on the page. Loaded after program.js, views.js, menus.js,
// dialogs.js and files.js.
"use strict";

// --- the page ---

function setUpPage() {
  Talveron.canvases = [0, 1, 2, 3].map((port) => document.querySelector(`canvas[data-port="${port}"]`));
  Talveron.relayout();
  window.addEventListener("resize", () => Talveron.relayout());
  if (window.matchMedia) {
    const watchRatio = () => {
      window.matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`).addEventListener("change", () => {
        Talveron.relayout();
        watchRatio();
      }, { once: true });
    };
    watchRatio();
  }
  document.addEventListener("click", () => Talveron.closeMenus());
  // A series still writing its data file would be lost with the page: the
  // browser asks first.
  window.addEventListener("beforeunload", (e) => {
    if (!$("dataFile") || !$("dataFile").textContent) return;
    e.preventDefault();
    e.returnValue = "";
  });
  document.addEventListener("keydown", (e) => {
    if (Talveron.dialogOpen) return;
    if (e.key === "F10") {
      e.preventDefault();
      const first = Menus.titles()[0];
      if (first) Menus.focusTitle(first);
      return;
    }
    if (e.key === "Escape") { Talveron.closeMenus(); if ($("guide")) $("guide").hidden = true; return; }
    if (e.key === "F1") {
      e.preventDefault();
      Talveron.choose(HelpMenu, 1);
      return;
    }
    if (e.ctrlKey || e.metaKey) {
      let key = e.key.length === 1 ? e.key.toLowerCase() : "";
      if (key === "=") key = "+";
      if (!key || e.altKey) return;
      e.preventDefault();
      Talveron.key(key, true, e.repeat);
      return;
    }
    // A focused button, slider or field takes its own keys.
    const focused = e.target.closest && e.target.closest("button, input, select, textarea, a, [role^=menuitem]");
    if (e.key === " " && !focused) {
      e.preventDefault();
      Talveron.key(" ", false, e.repeat);
    }
  });
  // A tap on the map, a finger's space bar: it starts a run and goes on
  // where the space bar would; while the run goes on it pauses it.
  const map = document.querySelector('canvas[data-port="0"]');
  if (map) {
    map.addEventListener("click", () => {
      const space = $("space-button");
      if (space && !space.disabled) Talveron.key(" ", false, false);
      else Talveron.menuChosen(FileMenu, 3);
    });
  }
  for (const button of document.querySelectorAll("#toolbar button")) {
    button.addEventListener("mousedown", (e) => e.preventDefault());  // the keys stay with the page
    button.addEventListener("click", () => {
      if (button.dataset.key) Talveron.key(button.dataset.key, false, false);
      else Talveron.menuChosen(Number(button.dataset.menu), Number(button.dataset.item));
    });
  }
  if ($("speed")) {
    $("speed").addEventListener("input", () => {
      Talveron.showPace(Number($("speed").value) + 1);
      Talveron.choose(SpeedMenu, Number($("speed").value) + 1);
    });
    Talveron.showPace(Number($("speed").value) + 1);
  }
  if ($("charts")) {
    $("charts").addEventListener("mousemove", (e) => Charts.hover(e));
    $("charts").addEventListener("mouseleave", () => Charts.hover(null));
  }
  // Statistics on or off: the charts drawn again, in a taller view on a narrow screen.
  if ($("charts-statistics")) {
    $("charts-statistics").addEventListener("change", () => Talveron.relayout());
    // A click ticks it and leaves the keys with the page: the space bar then
    // starts the run, as on the toolbar's buttons.
    $("charts-statistics").closest("label").addEventListener("mousedown", (e) => e.preventDefault());
  }
  if ($("guide-close")) $("guide-close").addEventListener("click", () => { $("guide").hidden = true; });
  // A settings file dropped anywhere on the page opens as File > Open Settings.
  document.addEventListener("dragover", (e) => { e.preventDefault(); document.body.classList.add("dropping"); });
  document.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    document.body.classList.remove("dropping");
    const file = e.dataTransfer && e.dataTransfer.files[0];
    if (!file) return;
    storeFile(file).then((name) => {
      if (Talveron.openingSettings) {
        Talveron.finishDialog(name);
        return;
      }
      Talveron.droppedSettings = name;
      Talveron.choose(FileMenu, OpenSettingsItem);
    });
  });
}

setUpPage();
