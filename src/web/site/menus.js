// The menu bar and the toolbar: the menus as the program describes them,
// their check marks and states, the run buttons, and the menu bar by
// keyboard.
"use strict";

Object.assign(Talveron, {
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
  // The pace set, beside the slider and for screen readers.
  showPace(item) {
    const texts = ["as fast as it goes", "1000 a second", "300 a second", "100 a second", "30 a second", "10 a second",
                   "3 a second", "1 a second"];
    const text = texts[item - 1] || "";
    if ($("pace")) $("pace").textContent = text;
    if ($("speed")) $("speed").setAttribute("aria-valuetext", text);
  },
});

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
