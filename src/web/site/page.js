// The page's side of Talveron in the browser: the menu bar, toolbar,
// status bar and dialogs, the keys, the four canvases the views are copied
// to, text for the views, downloads and the clipboard. The program (the
// WebAssembly module) calls the object Talveron; everything it asks of the
// user comes back to it as events or as the answer of a dialog.
"use strict";

const EventKind = { MouseDown: 0, KeyDown: 1, AutoKey: 2, MenuSelect: 3 };
const Natural = [[640, 400], [640, 95], [220, 520], [902, 160]];  // width, height by port
const FileMenu = 129, DisplayMenu = 134, DataFileMenu = 135, HelpMenu = 136, SpeedMenu = 112;
const OpenSettingsItem = 13;
const ScaleSteps = 32;

// The settings form's groups, as the desktop program's dialog has them.
const SettingsGroups = [
  ["Mate choice", [36, 37, 38, 39, 40, 35, 33, 34]],
  ["Habitats and dispersal", [41, 49, 42, 43, 44, 55, 45, 46, 57]],
  ["Offspring and mutation", [30, 31, 50]],
  ["Environment", [47, 48]],
];

const $ = (id) => document.getElementById(id);

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === "class") node.className = value;
    else if (name.startsWith("on")) node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value);
  }
  for (const child of children) node.append(child);
  return node;
}

// A zero-delay turn of the event loop: the browser draws and takes input
// between two of them.
const channel = new MessageChannel();
const turns = [];
channel.port1.onmessage = () => { const resume = turns.shift(); if (resume) resume(); };
function nextTurn() { return new Promise((resolve) => { turns.push(resolve); channel.port2.postMessage(0); }); }

var Talveron = {
  events: [],
  wake: null,
  result: "",
  mask: new Uint8Array(0),
  menus: new Map(),      // number -> the menu as the program describes it
  items: new Map(),      // "menu,item" -> { element, checked, enabled }
  controls: [],
  version: "",
  zoom: 0,               // 0: fit the window; otherwise CSS pixels per port pixel
  dialogOpen: false,
  droppedSettings: null,
  textCanvas: null,

  // --- events ---
  post(event) {
    this.events.push(event);
    this.wakeUp();
  },
  wakeUp() {
    if (this.wake) { const wake = this.wake; this.wake = null; wake(); }
  },
  nextEvent() {
    const e = this.events.shift();
    if (!e) return null;
    return [e.kind, e.character || 0, e.command ? 1 : 0, e.menu || 0, e.item || 0];
  },
  flushEvents() { this.events.length = 0; },
  wait(seconds) {
    if (seconds <= 0 || this.events.length) return nextTurn();
    return new Promise((resolve) => {
      const timer = setTimeout(() => { this.wake = null; resolve(); }, seconds * 1000);
      this.wake = () => { clearTimeout(timer); nextTurn().then(resolve); };
    });
  },
  key(character, command, repeat) {
    this.post({ kind: repeat ? EventKind.AutoKey : EventKind.KeyDown, character: character.charCodeAt(0), command });
  },
  choose(menu, item) {
    const state = this.items.get(menu + "," + item);
    if (state && !state.enabled) return;
    this.post({ kind: EventKind.MenuSelect, menu, item });
  },

  // --- the views ---
  // CSS pixels per port pixel: the views fitted to the window in steps of
  // 1/32, or the zoom chosen.
  layoutScale() {
    if (this.zoom > 0) return this.zoom;
    const views = $("views");
    const width = views.clientWidth - 24, height = window.innerHeight - views.getBoundingClientRect().top - 90;
    const fit = Math.min(width / 902, height / 680);
    return Math.max(Math.floor(fit * ScaleSteps), ScaleSteps / 4) / ScaleSteps;
  },
  scale(port) { return this.currentScale; },
  relayout() {
    this.currentScale = this.layoutScale() * (window.devicePixelRatio || 1);
    this.wakeUp();
  },
  paint(port, pixels, width, height, top, left, bottom, right) {
    const canvas = this.canvases[port];
    const ratio = window.devicePixelRatio || 1;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
      top = 0; left = 0; bottom = height; right = width;
    }
    canvas.style.width = width / ratio + "px";
    canvas.style.height = height / ratio + "px";
    const image = new ImageData(pixels, width, height);
    canvas.getContext("2d").putImageData(image, 0, 0, left, top, right - left, bottom - top);
  },
  font(size, face) { return (face & 1 ? "bold " : "") + size + "px sans-serif"; },
  textContext() {
    if (!this.textCanvas) this.textCanvas = document.createElement("canvas");
    return this.textCanvas.getContext("2d", { willReadFrequently: true });
  },
  // The pen's move (in 1/1024 pixels) and the ink's extent at scale 1:
  // [advance, left, top, right, bottom].
  measure(text, size, face) {
    const context = this.textContext();
    context.font = this.font(size, face);
    const m = context.measureText(text);
    return [Math.round(m.width * 1024), -Math.ceil(m.actualBoundingBoxLeft) - 1, -Math.ceil(m.actualBoundingBoxAscent) - 1,
            Math.ceil(m.actualBoundingBoxRight) + 1, Math.ceil(m.actualBoundingBoxDescent) + 1];
  },
  // The text's coverage at a scale, kept in this.mask: [width, height, origin h, origin v].
  renderText(text, size, face, scale) {
    let context = this.textContext();
    context.font = this.font(size * scale, face);
    const m = context.measureText(text);
    const left = Math.ceil(m.actualBoundingBoxLeft) + 1, top = Math.ceil(m.actualBoundingBoxAscent) + 1;
    const width = Math.max(1, left + Math.ceil(m.actualBoundingBoxRight) + 1);
    const height = Math.max(1, top + Math.ceil(m.actualBoundingBoxDescent) + 1);
    this.textCanvas.width = width;
    this.textCanvas.height = height;
    context = this.textContext();
    context.font = this.font(size * scale, face);
    context.fillStyle = "#000";
    context.fillText(text, left, top);
    const rgba = context.getImageData(0, 0, width, height).data;
    this.mask = new Uint8Array(width * height);
    // Whole pixels or none, as the desktop program draws text at its
    // natural size: text drawn again in its place stays as it was.
    for (let i = 0; i < this.mask.length; ++i) this.mask[i] = rgba[4 * i + 3] >= 128 ? 255 : 0;
    return [width, height, -left, -top];
  },

  // --- calls from the program ---
  call(message) {
    switch (message.op) {
      case "menus": this.buildMenus(message); break;
      case "check": this.setItem(message.menu, message.item, "checked", message.on); break;
      case "enable": this.setItem(message.menu, message.item, "enabled", message.on); break;
      case "status": if ($(message.field)) $(message.field).textContent = message.text; break;
      case "zoom": this.setZoom(message.direction); break;
      case "copy": this.copy(message.text); break;
      case "guide": this.showGuide(); break;
      case "about": this.showAbout(); break;
      case "beep": this.beep(); break;
    }
  },
  // A dialog; its answer's length in bytes with the answer in this.result,
  // or -1 when the user cancelled.
  async ask(question) {
    let answer = null;
    if (question.op === "openSettings" && this.droppedSettings) {
      answer = this.droppedSettings;
      this.droppedSettings = null;
    } else {
      answer = await Dialogs[question.op](question);
    }
    if (answer === null || answer === undefined) return -1;
    this.result = String(answer);
    return new TextEncoder().encode(this.result).length;
  },

  // --- menus and toolbar ---
  buildMenus(message) {
    this.controls = message.controls;
    this.version = message.version;
    for (const menu of message.menus) this.menus.set(menu.number, menu);
    const bar = $("menubar");
    if (!bar) return;
    bar.replaceChildren();
    for (const menu of message.menus) {
      if (menu.submenu) continue;
      const title = element("button", { class: "menu-title", type: "button", tabindex: "-1", "data-menu": menu.number },
                            menu.title);
      const holder = element("div", { class: "menu" }, title, this.menuList(menu));
      title.addEventListener("mousedown", (e) => e.preventDefault());  // the keys stay with the page
      title.addEventListener("click", (e) => {
        e.stopPropagation();
        const open = holder.classList.contains("open");
        this.closeMenus();
        if (!open) holder.classList.add("open");
      });
      title.addEventListener("mouseenter", () => {
        if (bar.querySelector(".menu.open") && !holder.classList.contains("open")) {
          this.closeMenus();
          holder.classList.add("open");
        }
      });
      bar.append(holder);
    }
  },
  menuList(menu) {
    const list = element("ul", { class: "menu-list", role: "menu" });
    menu.items.forEach((described, index) => {
      const item = index + 1;
      if (!described.text) { list.append(element("li", { class: "separator" })); return; }
      const key = described.key ? "Ctrl+" + described.key.toUpperCase() : (menu.number === HelpMenu && item === 1 ? "F1" : "");
      const entry = element("li", { class: "menu-item", role: "menuitem", "data-menu": menu.number, "data-item": item },
                            element("span", { class: "check" }), element("span", { class: "label" }, described.text),
                            element("span", { class: "key" }, described.submenu ? "\u25B8" : key));
      if (described.submenu) {
        entry.classList.add("has-submenu");
        entry.append(this.menuList(this.menus.get(described.submenu)));
      } else {
        entry.addEventListener("click", (e) => {
          e.stopPropagation();
          if (entry.classList.contains("disabled")) return;
          this.closeMenus();
          this.menuChosen(menu.number, item);
        });
      }
      const state = this.items.get(menu.number + "," + item) || { checked: false, enabled: true };
      state.element = entry;
      this.items.set(menu.number + "," + item, state);
      this.showItem(state);
      list.append(entry);
    });
    return list;
  },
  closeMenus() { for (const open of document.querySelectorAll(".menu.open")) open.classList.remove("open"); },
  menuChosen(menu, item) {
    if (menu === FileMenu && item === OpenSettingsItem) {
      // The file is chosen here, while the click still counts as the
      // user's: a browser opens its file chooser only then.
      chooseSettingsFile().then((name) => {
        if (name === null) return;
        this.droppedSettings = name;
        this.choose(menu, item);
      });
      return;
    }
    this.choose(menu, item);
  },
  setItem(menu, item, field, on) {
    const key = menu + "," + item;
    const state = this.items.get(key) || { checked: false, enabled: true };
    state[field] = on;
    this.items.set(key, state);
    this.showItem(state);
    if (menu === SpeedMenu && field === "checked" && on && $("speed")) $("speed").value = String(item - 1);
    for (const button of document.querySelectorAll(`#toolbar [data-menu="${menu}"][data-item="${item}"]`)) {
      if (field === "checked") button.classList.toggle("checked", on);
      else button.disabled = !on;
    }
  },
  showItem(state) {
    if (!state.element) return;
    state.element.classList.toggle("checked", !!state.checked);
    state.element.classList.toggle("disabled", !state.enabled);
    state.element.querySelector(".check").textContent = state.checked ? "\u2713" : "";
  },
  setZoom(direction) {
    const current = this.layoutScale();
    if (direction === 0) this.zoom = 1;
    else this.zoom = Math.max(0.25, Math.min(4, Math.round(current * (direction > 0 ? 1.25 : 0.8) * ScaleSteps) / ScaleSteps));
    this.relayout();
  },

  // --- what the user gets ---
  download(name, bytes) {
    const url = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
    const link = element("a", { href: url, download: name });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  },
  copy(text) {
    const manual = () => Dialogs.notice({ text: "The browser does not let the page use the clipboard. The command:", copy: text });
    if (navigator.clipboard && navigator.clipboard.writeText) navigator.clipboard.writeText(text).catch(manual);
    else manual();
  },
  showGuide() {
    const guide = $("guide");
    guide.hidden = false;
    if (!guide.dataset.loaded) {
      fetch("guide.html").then((r) => r.text()).then((text) => {
        $("guide-text").innerHTML = text;
        guide.dataset.loaded = "1";
      });
    }
  },
  showAbout() {
    Dialogs.notice({ title: "About Talveron", text: `Talveron ${this.version}: speciation in two adjacent habitats, an ` +
      "individual-based simulation of habitat preference, habitat specialization and assortative mating. The space " +
      "bar starts a run and ends every pause; Help > Guide (F1) tells the rest." });
  },
  beep() {
    try {
      const audio = this.audio || (this.audio = new AudioContext());
      const tone = audio.createOscillator();
      const gain = audio.createGain();
      gain.gain.value = 0.05;
      tone.connect(gain).connect(audio.destination);
      tone.start();
      tone.stop(audio.currentTime + 0.1);
    } catch (e) { /* no sound where the browser allows none */ }
  },
  ended(status) {
    $("activity").textContent = status === 0 ? "Talveron has ended: reload the page to start again"
                                             : "Talveron stopped after an error: reload the page to start again";
  },
};

// --- dialogs: each resolves with the answer, or null when cancelled ---

function modal(title, body, buttons) {
  return new Promise((resolve) => {
    const dialog = $("dialog");
    const form = element("form", { method: "dialog" }, element("h2", {}, title), body);
    const row = element("div", { class: "buttons" });
    for (const [label, value, isDefault] of buttons) {
      const button = element("button", { type: isDefault ? "submit" : "button", value }, label);
      if (!isDefault) button.addEventListener("click", () => finish(value === "cancel" ? null : value));
      row.append(button);
    }
    form.append(row);
    form.addEventListener("submit", (e) => {
      e.preventDefault();
      const answer = dialog.onaccept ? dialog.onaccept() : "ok";
      if (answer !== undefined) finish(answer);
    });
    dialog.replaceChildren(form);
    dialog.onaccept = null;
    const finish = (answer) => {
      Talveron.finishDialog = null;
      dialog.onaccept = null;
      dialog.close();
      Talveron.dialogOpen = false;
      resolve(answer);
    };
    dialog.oncancel = (e) => { e.preventDefault(); finish(null); };
    Talveron.finishDialog = finish;
    Talveron.dialogOpen = true;
    dialog.showModal();
    const first = dialog.querySelector("input, select");
    if (first) first.focus();
  });
}

function nameDialog(title, label, name) {
  const input = element("input", { type: "text", value: name, id: "dialog-name", size: "40" });
  const error = element("p", { class: "error", id: "dialog-error" });
  const done = modal(title, element("div", {}, element("label", { for: "dialog-name" }, label), input, error),
                     [["OK", "ok", true], ["Cancel", "cancel", false]]);
  $("dialog").onaccept = () => {
    const value = input.value.trim();
    if (!value || value.includes("/") || value === "." || value === "..") {
      error.textContent = "A file name, without a folder: for example " + name + ".";
      return undefined;
    }
    return value;
  };
  return done;
}

// A settings file from the user's disk, copied into the module's memory;
// its name there, or null.
function chooseSettingsFile() {
  return new Promise((resolve) => {
    const input = $("settings-file");
    input.value = "";
    input.onchange = () => {
      const file = input.files[0];
      if (!file) { resolve(null); return; }
      storeFile(file).then(resolve);
    };
    input.oncancel = () => resolve(null);
    input.click();
  });
}

async function storeFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const name = file.name.replace(/[\/\\]/g, "_") || "settings.toml";
  Module.FS.writeFile(name, bytes);
  return name;
}

const Dialogs = {
  notice(question) {
    const body = element("div", {}, element("p", { id: "dialog-message" }, question.text));
    if (question.copy) body.append(element("textarea", { rows: "4", cols: "70", readonly: "" }, question.copy));
    return modal(question.title || "Talveron", body, [["OK", "ok", true]]);
  },
  fatal(question) {
    return modal("Talveron stopped", element("pre", { id: "dialog-message" }, question.text.replace(/\n+$/, "")),
                 [["OK", "ok", true]]);
  },
  dataFile(question) { return nameDialog("Open Data File", "Name of the data file (downloaded when its series is complete):", question.name); },
  saveSettings(question) { return nameDialog("Save Settings", "Name of the settings file (downloaded):", question.name); },
  openSettings() {
    const choose = element("button", { type: "button", id: "dialog-choose" }, "Choose a file...");
    const body = element("div", {}, element("p", {}, "Choose a settings file (.toml), or drop one on the page."), choose);
    const done = modal("Open Settings", body, [["Cancel", "cancel", false]]);
    Talveron.openingSettings = true;
    choose.addEventListener("click", () => {
      chooseSettingsFile().then((name) => { if (name !== null) Talveron.finishDialog(name); });
    });
    return done.finally(() => { Talveron.openingSettings = false; });
  },
  // As the desktop program's: digits only, and OK only for a seed from 0
  // to 2^64 - 1.
  seed(question) {
    const input = element("input", { type: "text", value: question.seed, id: "dialog-seed", inputmode: "numeric",
                                     maxlength: "20", size: "24" });
    const done = modal("Base Seed", element("div", {},
      element("label", { for: "dialog-seed" }, "Seed of the next replicate (the replicates after it take the following seeds):"),
      input), [["OK", "ok", true], ["Cancel", "cancel", false]]);
    const ok = document.querySelector('#dialog button[type="submit"]');
    const valid = () => /^[0-9]{1,20}$/.test(input.value) && BigInt(input.value) <= 18446744073709551615n;
    input.addEventListener("input", () => {
      input.value = input.value.replace(/[^0-9]/g, "");
      ok.disabled = !valid();
    });
    $("dialog").onaccept = () => (valid() ? BigInt(input.value).toString() : undefined);
    return done;
  },
  settings(question) {
    const grid = element("div", { class: "settings-grid" });
    const fields = new Map();
    for (const [title, items] of SettingsGroups) {
      const set = element("fieldset", {}, element("legend", {}, title));
      for (const item of items) {
        const control = Talveron.controls.find((c) => c.item === item);
        const value = question.values[item] ?? 0;
        const id = "item" + item;
        if (control.checkBox) {
          const box = element("input", { type: "checkbox", id, name: id });
          box.checked = value !== 0;
          set.append(element("div", { class: "check-row" }, box, element("label", { for: id }, control.label)));
          fields.set(item, () => (box.checked ? 1 : 0));
        } else {
          const select = element("select", { id, name: id });
          control.texts.forEach((text, index) => select.append(element("option", { value: String(index + 1) }, text)));
          if (question.inForce[item] !== undefined) {
            select.append(element("option", { value: "0" }, question.inForce[item] + " (in force)"));
          }
          const shown = select.querySelector(`option[value="${value}"]`) ? value
            : Math.min(Math.max(value, 1), control.texts.length);
          select.value = String(shown);
          set.append(element("label", { for: id }, control.label), select);
          fields.set(item, () => Number(select.value));
        }
      }
      grid.append(set);
    }
    const done = modal("Settings", grid, [["OK", "ok", true], ["Cancel", "cancel", false]]);
    $("dialog").onaccept = () => {
      const values = {};
      for (const [item, read] of fields) values[item] = read();
      return JSON.stringify(values);
    };
    return done;
  },
  async picture() {
    const select = element("select", { id: "dialog-picture" },
      ...[["all", "All four views"], ["0", "Habitats"], ["1", "Status"], ["2", "Graphs"], ["3", "Time Plot"]]
        .map(([value, text]) => element("option", { value }, text)));
    const answer = await modal("Save Picture", element("div", {}, element("label", { for: "dialog-picture" }, "Views (PNG):"), select),
                               [["Save", "ok", true], ["Cancel", "cancel", false]]);
    if (answer === null) return null;
    savePicture(select.value);
    return "ok";
  },
};

// The views as one PNG, laid out as on the page, or one view.
function savePicture(which) {
  const canvases = Talveron.canvases;
  const scale = canvases[0].width / Natural[0][0];
  const names = ["habitats", "status", "graphs", "time-plot"];
  let out;
  if (which === "all") {
    const at = [[0, 0], [0, 400], [640, 0], [0, 520]];
    out = document.createElement("canvas");
    out.width = Math.round(902 * scale);
    out.height = Math.round(680 * scale);
    const context = out.getContext("2d");
    context.fillStyle = "#fff";
    context.fillRect(0, 0, out.width, out.height);
    canvases.forEach((canvas, port) => context.drawImage(canvas, Math.round(at[port][0] * scale), Math.round(at[port][1] * scale)));
  } else {
    out = canvases[Number(which)];
  }
  out.toBlob((blob) => blob.arrayBuffer().then((bytes) =>
    Talveron.download("talveron-" + (which === "all" ? "views" : names[Number(which)]) + ".png", new Uint8Array(bytes))));
}

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
    if (e.key === " ") {
      e.preventDefault();
      Talveron.key(" ", false, e.repeat);
    }
  });
  for (const button of document.querySelectorAll("#toolbar button")) {
    button.addEventListener("mousedown", (e) => e.preventDefault());  // the keys stay with the page
    button.addEventListener("click", () => {
      if (button.dataset.key) Talveron.key(button.dataset.key, false, false);
      else Talveron.menuChosen(Number(button.dataset.menu), Number(button.dataset.item));
    });
  }
  if ($("speed")) $("speed").addEventListener("input", () => Talveron.choose(SpeedMenu, Number($("speed").value) + 1));
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

var Module = {
  print: (text) => console.log(text),
  printErr: (text) => console.error(text),
};

setUpPage();
