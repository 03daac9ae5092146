// The dialogs the program asks through (notices, questions, the base seed,
// the settings, file names) and the Guide beside the views.
"use strict";

Object.assign(Talveron, {
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
});

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
  saveGenotypes(question) { return nameDialog("Save Genotypes", "Name of the VCF file of the adults on the map (downloaded):", question.name); },
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
    // The settings' scheduled changes, listed as the desktop program lists them.
    const changes = element("fieldset", { id: "settings-changes" }, element("legend", {}, "Scheduled changes"),
                            ...(question.changes || []).map((line) => element("div", {}, line)));
    const done = modal("Settings", element("div", {}, grid, changes),
                       [["OK", "ok", true], ["Cancel", "cancel", false]]);
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
