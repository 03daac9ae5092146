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
    if (this.narrow()) return this.narrowScales()[0];
    const width = views.clientWidth - 24 - this.chartsWidth(),
          height = window.innerHeight - views.getBoundingClientRect().top - 90 - ($("map-key") ? $("map-key").offsetHeight : 0);
    const fit = Math.min(width / 902, height / 680);
    return Math.max(Math.floor(fit * ScaleSteps), ScaleSteps / 4) / ScaleSteps;
  },
  // Below 700 CSS pixels the views stand one above the other (page.css),
  // each as wide as the page allows: the map and the status view fill the
  // width, the graphs half again as large, the time plot its own width.
  narrow() { return window.matchMedia("(max-width: 700px)").matches; },
  narrowScales() {
    const width = Math.max(100, $("views").clientWidth - 16);
    const fit = (natural) => Math.max(Math.floor(width / natural * ScaleSteps), ScaleSteps / 8) / ScaleSteps;
    return [fit(640), fit(640), Math.min(fit(220), Math.floor(fit(640) * 1.5 * ScaleSteps) / ScaleSteps), fit(902)];
  },
  scale(port) { return this.currentScales ? this.currentScales[port] : this.currentScale; },
  // The Charts view's width in CSS pixels beside the classic views, 0 when hidden.
  chartsWidth() {
    const section = $("view-charts");
    if (!section || section.hidden || this.narrow()) return 0;
    return Math.round(Math.min(520, Math.max(420, ($("views").clientWidth - 24) * 0.34))) + 4;
  },
  relayout() {
    const section = $("view-charts");
    const ratio = window.devicePixelRatio || 1;
    if (section && this.narrow()) {
      section.style.width = "";
      section.style.height = Math.round(Math.min(680, Math.max(360, $("views").clientWidth * 1.3))) + "px";
    } else if (section) {
      section.style.width = Math.max(0, this.chartsWidth() - 4) + "px";
      section.style.height = "";
    }
    this.currentScale = this.layoutScale() * ratio;
    this.currentScales = this.narrow() && this.zoom === 0 ? this.narrowScales().map((scale) => scale * ratio) : null;
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
    this.version = message.version;
    for (const menu of message.menus) this.menus.set(menu.number, menu);
    const bar = $("menubar");
    if (!bar) return;
    bar.replaceChildren();
    for (const menu of message.menus) {
      if (menu.submenu) continue;
      // One stop of the Tab key for the whole bar: the first title; the
      // arrows move from there (Menus.keys).
      const first = !bar.children.length;
      const title = element("button", { class: "menu-title", type: "button", role: "menuitem", "aria-haspopup": "true",
                                        "aria-expanded": "false", tabindex: first ? "0" : "-1", "data-menu": menu.number },
                            menu.title);
      const holder = element("div", { class: "menu", role: "none" }, title, this.menuList(menu));
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
    bar.addEventListener("keydown", (e) => Menus.keys(e));
  },
  menuList(menu) {
    const list = element("ul", { class: "menu-list", role: "menu", "aria-label": menu.title });
    const atEnd = [];
    menu.items.forEach((described, index) => {
      const item = index + 1;
      if (!described.text && !described.hidden) { list.append(element("li", { class: "separator", role: "separator" })); return; }
      const key = described.key ? "Ctrl+" + described.key.toUpperCase() : (menu.number === HelpMenu && item === 1 ? "F1" : "");
      const role = described.group ? "menuitemradio" : described.checkable ? "menuitemcheckbox" : "menuitem";
      const entry = element("li", { class: "menu-item", role, tabindex: "-1", "aria-label": described.text,
                                    "data-menu": menu.number, "data-item": item },
                            element("span", { class: "check", "aria-hidden": "true" }),
                            element("span", { class: "label" }, described.text),
                            element("span", { class: "key", "aria-hidden": "true" }, described.submenu ? "\u25B8" : key));
      if (key) entry.setAttribute("aria-keyshortcuts", key === "F1" ? "F1" : "Control+" + described.key.toUpperCase());
      if (described.submenu) {
        entry.classList.add("has-submenu");
        entry.setAttribute("aria-haspopup", "true");
        entry.setAttribute("aria-expanded", "false");
        entry.append(this.menuList(this.menus.get(described.submenu)));
        entry.addEventListener("click", (e) => { e.stopPropagation(); Menus.openSubmenu(entry, false); });
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
      // Quit stands last, after a separator, whatever its number.
      if (described.atEnd) atEnd.push(entry); else list.append(entry);
    });
    for (const entry of atEnd) list.append(element("li", { class: "separator", role: "separator" }), entry);
    return list;
  },
  closeMenus() {
    for (const open of document.querySelectorAll(".menu.open, .menu-item.open")) open.classList.remove("open");
    for (const expanded of document.querySelectorAll('#menubar [aria-expanded="true"]')) expanded.setAttribute("aria-expanded", "false");
  },
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
    if (menu === SpeedMenu && field === "checked" && on && $("speed")) {
      $("speed").value = String(item - 1);
      this.showPace(item);
    }
    for (const button of document.querySelectorAll(`#toolbar [data-menu="${menu}"][data-item="${item}"]`)) {
      if (field === "checked") {
        button.classList.toggle("checked", on);
        button.setAttribute("aria-pressed", String(on));
      } else {
        button.disabled = !on;
      }
    }
  },
  showItem(state) {
    if (!state.element) return;
    state.element.classList.toggle("checked", !!state.checked);
    state.element.classList.toggle("disabled", !state.enabled);
    if (state.enabled) state.element.removeAttribute("aria-disabled"); else state.element.setAttribute("aria-disabled", "true");
    if (state.element.getAttribute("role") !== "menuitem") state.element.setAttribute("aria-checked", String(!!state.checked));
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
  // The pace set, beside the slider and for screen readers.
  showPace(item) {
    const texts = ["as fast as it goes", "1000 a second", "300 a second", "100 a second", "30 a second", "10 a second",
                   "3 a second", "1 a second"];
    const text = texts[item - 1] || "";
    if ($("pace")) $("pace").textContent = text;
    if ($("speed")) $("speed").setAttribute("aria-valuetext", text);
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
    Charts.picture();
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

// --- the menu bar by keyboard, as a menu bar of the desktop does ---
// Tab reaches the first title (F10 too); Left and Right move between the
// menus, Down, Enter or Space opens one; in a menu Up and Down move, Right
// opens a submenu, Left closes it, Enter or Space chooses, Escape closes.
const Menus = {
  titles() { return [...document.querySelectorAll("#menubar .menu-title")]; },
  // The items of a list that can be reached: shown, not separators.
  items(list) {
    return [...list.children].filter((li) => li.classList.contains("menu-item") && !li.classList.contains("hidden"));
  },
  focusTitle(title) {
    for (const other of this.titles()) other.tabIndex = other === title ? 0 : -1;
    title.focus();
  },
  open(title, focusLast = false) {
    Talveron.closeMenus();
    title.parentElement.classList.add("open");
    title.setAttribute("aria-expanded", "true");
    const items = this.items(title.nextElementSibling);
    this.focusTitle(title);
    if (items.length) (focusLast ? items[items.length - 1] : items[0]).focus();
  },
  openSubmenu(entry, focusFirst = true) {
    if (entry.classList.contains("disabled")) return;
    for (const sibling of entry.parentElement.querySelectorAll(":scope > .menu-item.open")) {
      sibling.classList.remove("open");
      sibling.setAttribute("aria-expanded", "false");
    }
    entry.classList.add("open");
    entry.setAttribute("aria-expanded", "true");
    const items = this.items(entry.querySelector(".menu-list"));
    if (focusFirst && items.length) items[0].focus();
  },
  closeSubmenu(entry) {
    entry.classList.remove("open");
    entry.setAttribute("aria-expanded", "false");
    entry.focus();
  },
  // Leaves the bar: the keys go to the page again (the space bar runs).
  leave() {
    Talveron.closeMenus();
    if (document.activeElement) document.activeElement.blur();
  },
  keys(e) {
    const target = e.target;
    const titles = this.titles();
    const handled = () => { e.preventDefault(); e.stopPropagation(); };
    if (target.classList.contains("menu-title")) {
      const at = titles.indexOf(target);
      const wasOpen = target.parentElement.classList.contains("open");
      const move = (by) => {
        const next = titles[(at + by + titles.length) % titles.length];
        if (wasOpen) this.open(next); else this.focusTitle(next);
      };
      switch (e.key) {
        case "ArrowRight": handled(); move(1); return;
        case "ArrowLeft": handled(); move(-1); return;
        case "Home": handled(); this.focusTitle(titles[0]); return;
        case "End": handled(); this.focusTitle(titles[titles.length - 1]); return;
        case "ArrowDown": case "Enter": case " ": handled(); this.open(target); return;
        case "ArrowUp": handled(); this.open(target, true); return;
        case "Escape": handled(); Talveron.closeMenus(); return;
        case "Tab": Talveron.closeMenus(); return;
      }
      return;
    }
    const entry = target.closest(".menu-item");
    if (!entry) return;
    const list = entry.parentElement;
    const items = this.items(list);
    const at = items.indexOf(entry);
    const parentEntry = list.parentElement.closest(".menu-item");
    const title = entry.closest(".menu").querySelector(".menu-title");
    const nextMenu = (by) => this.open(titles[(titles.indexOf(title) + by + titles.length) % titles.length]);
    switch (e.key) {
      case "ArrowDown": handled(); items[(at + 1) % items.length].focus(); return;
      case "ArrowUp": handled(); items[(at - 1 + items.length) % items.length].focus(); return;
      case "Home": handled(); items[0].focus(); return;
      case "End": handled(); items[items.length - 1].focus(); return;
      case "ArrowRight":
        handled();
        if (entry.classList.contains("has-submenu")) this.openSubmenu(entry); else nextMenu(1);
        return;
      case "ArrowLeft":
        handled();
        if (parentEntry) this.closeSubmenu(parentEntry); else nextMenu(-1);
        return;
      case "Escape":
        handled();
        if (parentEntry) { this.closeSubmenu(parentEntry); return; }
        Talveron.closeMenus();
        this.focusTitle(title);
        return;
      case "Enter": case " ":
        handled();
        if (entry.classList.contains("has-submenu")) { this.openSubmenu(entry); return; }
        if (entry.classList.contains("disabled")) return;
        this.leave();
        Talveron.menuChosen(Number(entry.dataset.menu), Number(entry.dataset.item));
        return;
      case "Tab": Talveron.closeMenus(); return;
    }
  },
};
Talveron.menuKeys = Menus;

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

// The program draws the charts itself, with the desktop program's drawing
// (web_charts.cpp): the page gives it the view's size, asks it to draw again
// when the size changes, and lends it the canvas's 2D context. A hover is
// answered by the program too, at its next look.
const NaturalCharts = [440, 680];
const Charts = {
  dirty: true,
  hovered: null,       // [x, y] waiting for its answer
  pictureWanted: false,
  size: NaturalCharts,
  context: null,
  clips: 0,

  schedule() {
    this.dirty = true;
    Talveron.wakeUp();
  },
  // [width, height, draw again, hover x, hover y]: 0 x 0 while hidden, unless
  // a picture of the charts is wanted.
  state() {
    const canvas = $("charts");
    const box = canvas ? canvas.getBoundingClientRect() : { width: 0, height: 0 };
    const shown = box.width >= 10 && box.height >= 10;
    this.size = shown ? [Math.round(box.width), Math.round(box.height)] : this.pictureWanted ? NaturalCharts : [0, 0];
    const hover = this.hovered || [-1, -1];
    this.hovered = null;
    const state = [this.size[0], this.size[1], this.dirty || this.pictureWanted ? 1 : 0, hover[0], hover[1]];
    this.dirty = false;
    return state;
  },
  begin() {
    const canvas = $("charts");
    const ratio = window.devicePixelRatio || 1;
    const [width, height] = this.size;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    this.context = canvas.getContext("2d");
    this.context.setTransform(ratio, 0, 0, ratio, 0, 0);
    this.context.lineCap = "butt";
  },
  colour(rgb) { return "#" + (rgb >>> 0).toString(16).padStart(6, "0"); },
  font(pixels, bold) { return (bold ? "bold " : "") + pixels + "px sans-serif"; },
  fill(x, y, w, h, rgb) {
    this.context.fillStyle = this.colour(rgb);
    this.context.fillRect(x, y, w, h);
  },
  frame(x, y, w, h, rgb) {
    const c = this.context;
    c.setLineDash([]);
    c.lineWidth = 1;
    c.strokeStyle = this.colour(rgb);
    c.strokeRect(x + 0.5, y + 0.5, w - 1, h - 1);
  },
  line(points, rgb, width, dash) {
    const c = this.context;
    c.setLineDash(dash === 1 ? [4, 3] : dash === 2 ? [1, 2] : []);
    c.lineWidth = width;
    c.strokeStyle = this.colour(rgb);
    c.beginPath();
    c.moveTo(points[0], points[1]);
    for (let i = 2; i < points.length; i += 2) c.lineTo(points[i], points[i + 1]);
    c.stroke();
  },
  text(text, x, middle, pixels, bold, align, rgb) {
    const c = this.context;
    c.font = this.font(pixels, bold);
    c.textAlign = ["left", "center", "right"][align];
    c.textBaseline = "middle";
    c.fillStyle = this.colour(rgb);
    c.fillText(text, x, middle);
  },
  width(text, pixels, bold) {
    const c = this.context || $("charts").getContext("2d");
    c.font = this.font(pixels, bold);
    return c.measureText(text).width;
  },
  clip(x, y, w, h) {
    this.context.save();
    this.context.beginPath();
    this.context.rect(x, y, w, h);
    this.context.clip();
  },
  unclip() { this.context.restore(); },
  // Drawn: the words for screen readers, and a picture if one was wanted.
  end(words) {
    if ($("charts-summary")) $("charts-summary").textContent = words;
    if (this.pictureWanted) {
      this.pictureWanted = false;
      $("charts").toBlob((blob) => blob.arrayBuffer().then((bytes) => Talveron.download("talveron-charts.png", new Uint8Array(bytes))));
    }
  },
  picture() {
    this.pictureWanted = true;
    Talveron.wakeUp();
  },

  hover(e) {
    const tip = $("charts-tip");
    if (!e) { tip.hidden = true; return; }
    const box = $("charts").getBoundingClientRect();
    this.hovered = [e.clientX - box.left, e.clientY - box.top];
    this.pointer = [e.clientX, e.clientY];
    Talveron.wakeUp();
  },
  tip(text) {
    const tip = $("charts-tip");
    tip.hidden = !text;
    if (!text || !this.pointer) return;
    tip.textContent = text;
    const section = $("view-charts").getBoundingClientRect();
    const left = this.pointer[0] - section.left + 12, top = this.pointer[1] - section.top + 16;
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
