// The page's side of Talveron in the browser. The program (the WebAssembly
// module) calls the object Talveron; everything it asks of the user comes
// back to it as events or as the answer of a dialog. Here: the events, the
// calls from the program and the dialogs' answers; views.js, menus.js,
// dialogs.js and files.js add the rest to Talveron, and page.js sets the
// page up.
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

var Module = {
  print: (text) => console.log(text),
  printErr: (text) => console.error(text),
};
