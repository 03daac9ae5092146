// What the user gets and gives: downloads, the clipboard, settings files
// from the disk, and pictures of the views.
"use strict";

Object.assign(Talveron, {
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
});

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
