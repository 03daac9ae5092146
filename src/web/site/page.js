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
    const width = views.clientWidth - 24 - this.chartsWidth(),
          height = window.innerHeight - views.getBoundingClientRect().top - 90 - ($("map-key") ? $("map-key").offsetHeight : 0);
    const fit = Math.min(width / 902, height / 680);
    return Math.max(Math.floor(fit * ScaleSteps), ScaleSteps / 4) / ScaleSteps;
  },
  scale(port) { return this.currentScale; },
  // The Charts view's width in CSS pixels beside the classic views, 0 when hidden.
  chartsWidth() {
    const section = $("view-charts");
    if (!section || section.hidden) return 0;
    return Math.round(Math.min(520, Math.max(420, ($("views").clientWidth - 24) * 0.34))) + 4;
  },
  relayout() {
    const section = $("view-charts");
    if (section) section.style.width = Math.max(0, this.chartsWidth() - 4) + "px";
    this.currentScale = this.layoutScale() * (window.devicePixelRatio || 1);
    this.charts.schedule();
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
    // natural size: text drawn again in its place stays as it was. Below
    // that size a stroke thinner than a pixel covers less than half of
    // each pixel it touches, and would vanish at the same cut.
    const cut = scale < 1 ? 64 : 128;
    for (let i = 0; i < this.mask.length; ++i) this.mask[i] = rgba[4 * i + 3] >= cut ? 255 : 0;
    return [width, height, -left, -top];
  },

  charts: null,  // set below

  // --- calls from the program ---
  call(message) {
    switch (message.op) {
      case "menus": this.buildMenus(message); break;
      case "check": this.setItem(message.menu, message.item, "checked", message.on); break;
      case "enable": this.setItem(message.menu, message.item, "enabled", message.on); break;
      case "status": if ($(message.field)) $(message.field).textContent = message.text; break;
      case "itemText": this.setItemText(message.menu, message.item, message.text); break;
      case "space": this.showSpaceAction(message.text); break;
      case "mapKey": this.showMapKey(message.caption, message.alleles); break;
      case "charts": if ($("view-charts")) { $("view-charts").hidden = !message.on; this.relayout(); } break;
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
    Object.assign(ChartWords, message.charts);
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
      if (!described.text && !described.hidden) { list.append(element("li", { class: "separator" })); return; }
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
      if (described.hidden) entry.classList.add("hidden");
      if (described.group) entry.classList.add("radio");
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
    const radio = state.element.classList.contains("radio");
    state.element.querySelector(".check").textContent = state.checked ? (radio ? "\u25CF" : "\u2713") : "";
  },
  // A hidden item given its text shows; an empty text hides it again.
  setItemText(menu, item, text) {
    const state = this.items.get(menu + "," + item);
    if (!state || !state.element) return;
    state.element.querySelector(".label").textContent = text;
    state.element.classList.toggle("hidden", !text);
  },
  // The space bar's button says what the space bar does now; while the run
  // goes on without it, the button rests.
  showSpaceAction(action) {
    const button = $("space-button");
    if (!button) return;
    button.textContent = action || "Running";
    button.disabled = !action;
    button.title = action ? action + " (Space)" : "The run goes on: Pause (Ctrl+P) holds it";
  },
  showMapKey(caption, alleles) {
    if (!$("map-key")) return;
    $("map-caption").textContent = caption;
    const colours = ["#DD0806", "#0000D4", "#D8B800"];
    $("map-alleles").replaceChildren(...alleles.map((text, allele) =>
      element("span", { class: "key-allele" }, element("span", { class: "key-dot", style: "color:" + colours[allele] }, "\u25CF"),
              " " + allele + " " + text)));
    this.relayout();
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
  // Yes or No, No the default: Escape and the dialog's closing say No.
  confirm(question) {
    return modal("Talveron", element("p", { id: "dialog-message" }, question.text),
                 [["No", "cancel", false], ["Yes", "yes", false]]);
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
      ...[["all", "All four views"], ["0", "Habitats"], ["1", "Status"], ["2", "Graphs"], ["3", "Time Plot"], ["charts", "Charts"]]
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
  if (which === "charts") {
    Charts.draw(true);
    $("charts").toBlob((blob) => blob.arrayBuffer().then((bytes) => Talveron.download("talveron-charts.png", new Uint8Array(bytes))));
    return;
  }
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
  if ($("charts")) {
    $("charts").addEventListener("mousemove", (e) => Charts.hover(e));
    $("charts").addEventListener("mouseleave", () => Charts.hover(null));
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

// --- the Charts view: the allele frequencies of the replicate on show ---

// The program hands over the census counts of each generation once, as
// the trace orders them (20 a generation: per habitat the adults, then the
// alleles 0 to 2 of specialization, preference and mating preference); the
// page keeps them all and thins each line to the width it is drawn at.
const ChartRow = 20;
// The words of the charts come from the program with its menus.
const ChartWords = { loci: ["", "", ""], criteria: [], criterionLocus: [] };
const AlleleColours = ["#DD0806", "#0000D4", "#D8B800"];
const ChartSizes = { header: 30, legend: 38, leftAxis: 40, bottomAxis: 18, panelTitle: 32, gap: 6 };
const NaturalCharts = [440, 680];

const Charts = {
  rows: new Uint16Array(0),
  count: 0,       // generations kept
  first: 1,       // the first one's number
  criteria: [0, 0, 0, 0, 0],
  pending: false,
  size: NaturalCharts,  // CSS pixels of the last drawing

  take(restart, first, rows, criteria) {
    if (restart) { this.count = 0; this.first = first; }
    const needed = (this.count * ChartRow) + rows.length;
    if (needed > this.rows.length) {
      const grown = new Uint16Array(Math.max(needed, this.rows.length * 2, 1024 * ChartRow));
      grown.set(this.rows.subarray(0, this.count * ChartRow));
      this.rows = grown;
    }
    this.rows.set(rows, this.count * ChartRow);
    this.count += rows.length / ChartRow;
    this.criteria = criteria;
    this.schedule();
  },
  last() { return this.first + this.count - 1; },
  adults(g, habitat) { return this.rows[(g - this.first) * ChartRow + habitat * 10]; },
  frequency(g, habitat, locus, allele) {
    const at = (g - this.first) * ChartRow + habitat * 10;
    const adults = this.rows[at];
    return adults === 0 ? NaN : this.rows[at + 1 + locus * 3 + allele] / adults;
  },
  // What the page shows of the charts: the series as numbers, for a look
  // from outside (the tests) and for the hover.
  series(habitat, locus, allele) {
    const out = [];
    for (let g = this.first; g <= this.last(); ++g) out.push(this.rows[(g - this.first) * ChartRow + habitat * 10 + 1 + locus * 3 + allele]);
    return out;
  },
  schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      // A fast run's frames: the lines at most every 100 ms and a tenth of
      // the time, the header with every frame.
      const now = performance.now();
      const due = (this.drawnAt || 0) + Math.max(100, 10 * (this.drawTook || 0));
      const headerOnly = now < due;
      this.draw(false, headerOnly);
      clearTimeout(this.linesTimer);
      if (headerOnly) {
        this.linesTimer = setTimeout(() => this.schedule(), due - now + 1);  // the lines follow
      } else {
        this.drawnAt = now;
        this.drawTook = performance.now() - now;
      }
    });
  },

  layout(width, height) {
    const z = ChartSizes;
    const top = z.header + z.legend;
    const each = Math.max(30, Math.floor((height - top) / 3));
    const panels = [];
    for (let i = 0; i < 3; ++i) {
      const y = top + i * each;
      panels.push({ left: z.leftAxis, top: y + z.panelTitle, right: width - 12, bottom: y + each - z.bottomAxis - z.gap });
    }
    return panels;
  },
  axis() {
    if (this.count === 0) return { first: 1, last: 10, step: 1 };
    const span = Math.max(10, this.count);
    const raw = Math.max(1, span / 5);
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = [1, 2, 5, 10].map((f) => f * power).find((v) => v >= raw);
    return { first: this.first, last: this.first + Math.ceil(span / step) * step, step };
  },
  x(panel, axis, g) { return panel.left + (g - axis.first) * (panel.right - panel.left) / Math.max(1, axis.last - axis.first); },
  y(panel, value) { return panel.bottom - value * (panel.bottom - panel.top); },
  markers(panel, axis, locus) {
    const out = [];
    let free = -1e9;
    this.criteria.forEach((g, c) => {
      if (ChartWords.criterionLocus[c] !== locus || !g) return;
      const x = this.x(panel, axis, g);
      const left = Math.max(x - 7, free);
      out.push({ criterion: c, x, left, top: panel.top - 15 });
      free = left + 15;
    });
    return out;
  },
  // The least and the greatest of each column, in their order; a gap
  // (an empty habitat) breaks the line.
  thinned(habitat, locus, allele, columns) {
    const points = [];
    const first = this.first, last = this.last(), span = last - first + 1;
    for (let column = 0, from = first; from <= last; ++column) {
      const to = Math.min(last, first + Math.floor((column + 1) * span / columns) - 1);
      if (to < from) continue;
      let low = null, high = null, gap = false;
      for (let g = from; g <= to; ++g) {
        const v = this.frequency(g, habitat, locus, allele);
        if (Number.isNaN(v)) { gap = true; continue; }
        if (!low || v < low[1]) low = [g, v];
        if (!high || v > high[1]) high = [g, v];
      }
      if (gap && points.length && points[points.length - 1] !== null) points.push(null);
      if (low) {
        if (low[0] > high[0]) [low, high] = [high, low];
        points.push(low);
        if (high[0] !== low[0]) points.push(high);
      }
      from = to + 1;
    }
    return points;
  },

  draw(evenHidden, headerOnly) {
    const canvas = $("charts");
    if (!canvas) return;
    const box = canvas.getBoundingClientRect();
    if (box.width < 10 || box.height < 10) {
      if (!evenHidden) return;
      this.size = NaturalCharts;
    } else {
      this.size = [Math.round(box.width), Math.round(box.height)];
    }
    const ratio = window.devicePixelRatio || 1;
    const [width, height] = this.size;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
      headerOnly = false;
    }
    const c = canvas.getContext("2d");
    c.setTransform(ratio, 0, 0, ratio, 0, 0);
    c.fillStyle = "#fff";
    c.fillRect(0, 0, width, headerOnly ? ChartSizes.header : height);
    c.fillStyle = "#000";
    c.textBaseline = "alphabetic";

    // The generation and head counts, readable from the back of a room.
    const g = this.last();
    const gap = width < 460 ? "  " : "   ";
    const header = this.count ? `Generation ${g}${gap}Habitat 0: ${this.adults(g, 0)}${gap}Habitat 1: ${this.adults(g, 1)}`
                              : "Generation 0";
    let pixels = 18;
    do { c.font = `bold ${pixels}px sans-serif`; } while (pixels-- > 14 && c.measureText(header).width > width - 16);
    c.textBaseline = "middle";
    c.fillText(header, 8, ChartSizes.header / 2);
    c.textBaseline = "alphabetic";
    if (headerOnly) return;

    // The legend: the alleles' colours, the habitats' lines, the markers.
    c.font = "12px sans-serif";
    let x = 8;
    const row = ChartSizes.header + 12;
    for (let allele = 0; allele < 3; ++allele) {
      c.fillStyle = AlleleColours[allele];
      c.fillRect(x, row - 5, 12, 10);
      c.fillStyle = "#000";
      const text = "allele " + allele;
      c.fillText(text, x + 16, row + 4);
      x += 24 + c.measureText(text).width;
    }
    for (let habitat = 0; habitat < 2; ++habitat) {
      c.strokeStyle = "#000";
      c.lineWidth = 1.6;
      c.setLineDash(habitat ? [4, 3] : []);
      c.beginPath(); c.moveTo(x, row); c.lineTo(x + 24, row); c.stroke();
      c.setLineDash([]);
      const text = "habitat " + habitat;
      c.fillText(text, x + 28, row + 4);
      x += 40 + c.measureText(text).width;
    }
    c.fillText("A-E: generation each criterion was first met (hover for more)", 8, row + 20);

    const axis = this.axis();
    this.layout(width, height).forEach((panel, locus) => {
      const w = panel.right - panel.left;
      c.fillStyle = "#000";
      c.font = "bold 12px sans-serif";
      c.fillText(ChartWords.loci[locus], panel.left, panel.top - 19);
      c.font = "11px sans-serif";
      c.lineWidth = 1;
      c.textBaseline = "middle";
      c.textAlign = "right";
      for (const value of [0, 0.25, 0.5, 0.75, 1]) {
        const y = Math.round(this.y(panel, value)) + 0.5;
        c.strokeStyle = "#e0e0e0";
        c.beginPath(); c.moveTo(panel.left, y); c.lineTo(panel.right, y); c.stroke();
        c.fillText(String(value), ChartSizes.leftAxis - 5, y);
      }
      c.textBaseline = "top";
      c.strokeStyle = "#000";
      c.beginPath();
      c.moveTo(panel.left + 0.5, panel.top); c.lineTo(panel.left + 0.5, panel.bottom + 0.5); c.lineTo(panel.right, panel.bottom + 0.5);
      c.fillText("gen.", ChartSizes.leftAxis - 2, panel.bottom + 4);
      c.textAlign = "center";
      for (let tick = axis.first - 1 + axis.step; tick <= axis.last; tick += axis.step) {
        const tx = Math.round(this.x(panel, axis, tick)) + 0.5;
        c.moveTo(tx, panel.bottom); c.lineTo(tx, panel.bottom + 4);
        // The last label stays inside the panel's right edge.
        const label = String(tick), half = c.measureText(label).width / 2;
        c.fillText(label, Math.min(tx, width - 2 - half), panel.bottom + 5);
      }
      c.stroke();
      c.textAlign = "left";
      c.textBaseline = "alphabetic";
      if (!this.count) return;

      // The lines, thinned to the panel's width.
      c.save();
      c.beginPath(); c.rect(panel.left - 1, panel.top - 2, w + 2, panel.bottom - panel.top + 4); c.clip();
      c.lineWidth = 1.6;
      for (let habitat = 0; habitat < 2; ++habitat) {
        c.setLineDash(habitat ? [4, 3] : []);
        for (let allele = 0; allele < 3; ++allele) {
          c.strokeStyle = AlleleColours[allele];
          c.beginPath();
          let drawing = false;
          for (const point of this.thinned(habitat, locus, allele, Math.max(1, Math.floor(w / 2)))) {
            if (point === null) { drawing = false; continue; }
            const px = this.x(panel, axis, point[0]), py = this.y(panel, point[1]);
            if (drawing) c.lineTo(px, py); else c.moveTo(px, py);
            drawing = true;
          }
          c.stroke();
        }
      }
      c.restore();

      // The criteria met in this panel's locus.
      c.font = "bold 12px sans-serif";
      c.textAlign = "center";
      c.textBaseline = "middle";
      for (const m of this.markers(panel, axis, locus)) {
        c.setLineDash([1, 2]);
        c.strokeStyle = "#000";
        c.lineWidth = 1;
        c.beginPath(); c.moveTo(m.x, panel.top); c.lineTo(m.x, panel.bottom); c.stroke();
        c.setLineDash([]);
        c.fillStyle = "#ffffe0";
        c.fillRect(m.left, m.top, 14, 14);
        c.strokeRect(m.left + 0.5, m.top + 0.5, 13, 13);
        c.fillStyle = "#000";
        c.fillText(String.fromCharCode(65 + m.criterion), m.left + 7, m.top + 7.5);
      }
      c.textAlign = "left";
      c.textBaseline = "alphabetic";
    });
  },

  // What a point of the charts tells: a marker's criterion, or the
  // generation and value of the line nearest to it; null away from them.
  describe(px, py) {
    if (!this.count) return null;
    const [width, height] = this.size;
    const axis = this.axis();
    const panels = this.layout(width, height);
    for (let locus = 0; locus < 3; ++locus) {
      const panel = panels[locus];
      for (const m of this.markers(panel, axis, locus)) {
        if (px >= m.left && px <= m.left + 14 && py >= m.top && py <= m.top + 14) {
          return `${ChartWords.criteria[m.criterion]}, first met in generation ${this.criteria[m.criterion]}`;
        }
      }
      if (px < panel.left - 4 || px > panel.right + 4 || py < panel.top - 4 || py > panel.bottom + 4) continue;
      const g = Math.min(this.last(), Math.max(this.first,
        axis.first + Math.round((px - panel.left) * (axis.last - axis.first) / Math.max(1, panel.right - panel.left))));
      let best = 8, text = null;
      for (let habitat = 0; habitat < 2; ++habitat) {
        for (let allele = 0; allele < 3; ++allele) {
          const value = this.frequency(g, habitat, locus, allele);
          if (Number.isNaN(value)) continue;
          const distance = Math.abs(this.y(panel, value) - py);
          if (distance > best) continue;
          best = distance;
          text = `Generation ${g}: ${ChartWords.loci[locus].toLowerCase()}, habitat ${habitat}, allele ${allele}: ${value.toFixed(3)}`;
        }
      }
      if (text) return text;
    }
    return null;
  },
  hover(e) {
    const canvas = $("charts"), tip = $("charts-tip");
    const box = canvas.getBoundingClientRect();
    const text = e ? this.describe(e.clientX - box.left, e.clientY - box.top) : null;
    tip.hidden = !text;
    if (!text) return;
    tip.textContent = text;
    const section = $("view-charts").getBoundingClientRect();
    const left = e.clientX - section.left + 12, top = e.clientY - section.top + 16;
    tip.style.left = Math.max(0, Math.min(left, section.width - tip.offsetWidth - 2)) + "px";
    tip.style.top = top + "px";
  },
};
Talveron.charts = Charts;

var Module = {
  print: (text) => console.log(text),
  printErr: (text) => console.error(text),
};

setUpPage();
