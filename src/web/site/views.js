// The views in the page: each port's canvas, laid out to fit the window or
// at a zoom, one above the other on a narrow screen; text for the views
// drawn by the browser's fonts; the map's key; and the Charts view, which
// the program draws on its canvas.
"use strict";

Object.assign(Talveron, {
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
      const least = Charts.statistics() ? 520 : 360;  // four panels want more height than three
      section.style.height = Math.round(Math.min(680, Math.max(least, $("views").clientWidth * 1.3))) + "px";
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
});

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
  // The Statistics check box: F_ST between the habitats drawn too.
  statistics() { return $("charts-statistics") ? $("charts-statistics").checked : false; },
  // [width, height, draw again, hover x, hover y, statistics]: 0 x 0 while
  // hidden, unless a picture of the charts is wanted.
  state() {
    const canvas = $("charts");
    const box = canvas ? canvas.getBoundingClientRect() : { width: 0, height: 0 };
    const shown = box.width >= 10 && box.height >= 10;
    this.size = shown ? [Math.round(box.width), Math.round(box.height)] : this.pictureWanted ? NaturalCharts : [0, 0];
    const hover = this.hovered || [-1, -1];
    this.hovered = null;
    const state = [this.size[0], this.size[1], this.dirty || this.pictureWanted ? 1 : 0, hover[0], hover[1],
                   this.statistics() ? 1 : 0];
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
