// Lessons on the page: the lesson panel beside the views with the lesson's
// text and the run's summary, the glossary, presentation mode, a teacher's
// lesson chosen or dropped on the page, and "Copy Link", which hands out
// the page's address with the experiment on show. The program sends these
// as calls of its own; the calls the page knows go on to page.js.
"use strict";

const Lessons = {
  menu: 137,           // the Lessons menu
  openLessonItem: 18,  // File > Open Lesson...
  dropped: null,       // the text of a lesson dropped on the page, in the module's memory
  title: "",
  markdown: "",
  presenting: false,

  // The calls of the program that are the lessons'; true when taken.
  call(message) {
    switch (message.op) {
      case "lesson": this.show(message.title, message.markdown); return true;
      case "summary": this.summary(message.text); return true;
      case "milestones": this.milestones(message.lines); return true;
      case "glossary": this.glossary(message.markdown); return true;
      case "presentation": this.present(message.on); return true;
      case "copyLink": this.copyLink(message.fragment); return true;
      default: return false;
    }
  },

  panel() {
    let panel = $("lesson");
    if (panel) return panel;
    panel = element("section", { id: "lesson", class: "view", "aria-label": "Lesson", hidden: "" },
      element("h2", {}, "Lesson"),
      element("div", { id: "lesson-title", role: "heading", "aria-level": "1" }),
      element("div", { id: "lesson-text", tabindex: "0", role: "region", "aria-label": "Lesson text" }),  // a region the keys can scroll
      element("p", { id: "lesson-summary", "aria-live": "polite", hidden: "" }),
      element("div", { id: "lesson-milestones", hidden: "" },
        element("p", {}, "So far:"),
        element("ol", {})),
      element("div", { class: "lesson-buttons" },
        element("button", { type: "button", id: "lesson-glossary", onclick: () => this.toggleGlossary() }, "Glossary")));
    $("views").prepend(panel);
    return panel;
  },
  show(title, markdown) {
    const panel = this.panel();
    this.title = title;
    this.markdown = markdown;
    panel.hidden = !title;
    document.body.classList.toggle("has-lesson", Boolean(title));
    if (!title) { this.showing = null; Talveron.relayout(); return; }
    $("lesson-title").textContent = title;
    // The title is the panel's own line above the text.
    $("lesson-text").innerHTML = markdownHtml(markdown.replace(/^# .*\n/, ""));
    $("lesson-glossary").textContent = "Glossary";
    this.showing = "lesson";
    Talveron.relayout();
  },
  summary(text) {
    const line = this.panel().querySelector("#lesson-summary");
    line.textContent = text;
    line.hidden = !text;
  },
  // The milestones reached and the changes made, one line each, until the
  // run begins again.
  milestones(lines) {
    const box = this.panel().querySelector("#lesson-milestones");
    const list = box.querySelector("ol");
    list.replaceChildren(...lines.map((line) => element("li", {}, line)));
    box.hidden = lines.length === 0;
  },
  glossary(markdown) {
    this.glossaryText = markdown;
    const panel = this.panel();
    if (panel.hidden) {
      panel.hidden = false;
      document.body.classList.add("has-lesson");
      $("lesson-title").textContent = "";
    }
    $("lesson-text").innerHTML = markdownHtml(markdown);
    $("lesson-text").scrollTop = 0;
    $("lesson-glossary").textContent = this.title ? "Back to the Lesson" : "Close";
    this.showing = "glossary";
    Talveron.relayout();
  },
  toggleGlossary() {
    if (this.showing === "glossary") {
      this.show(this.title, this.markdown);
    } else {
      this.chooseItem("Glossary");
    }
  },
  // An item of the Lessons menu by its text, as if chosen there.
  chooseItem(text) {
    const menu = Talveron.menus.get(this.menu);
    if (!menu) return;
    const item = menu.items.findIndex((entry) => entry.text === text);
    if (item >= 0) Talveron.choose(this.menu, item + 1);
  },

  // The lesson, the Charts and the run controls filling the screen in
  // large type.
  present(on) {
    this.presenting = on;
    document.body.classList.toggle("presentation", on);
    try {
      if (on && !document.fullscreenElement && document.documentElement.requestFullscreen) {
        document.documentElement.requestFullscreen().catch(() => {});
      } else if (!on && document.fullscreenElement) {
        document.exitFullscreen().catch(() => {});
      }
    } catch (e) { /* a browser without full screen shows the page as it is */ }
    Talveron.relayout();
  },

  copyLink(fragment) {
    const address = location.href.split("#")[0] + "#" + fragment;
    history.replaceState(null, "", address);
    Talveron.copy(address);
  },

  // File > Open Lesson: the lesson dropped on the page, or one chosen now.
  ask(question) {
    if (question.op !== "openLesson") return Promise.resolve(null);
    if (this.dropped) {
      const name = this.dropped;
      this.dropped = null;
      return Promise.resolve(name);
    }
    const input = element("input", { type: "file", id: "lesson-files", multiple: "", accept: ".md,.toml,text/markdown,text/plain" });
    const body = element("div", {},
      element("p", {}, "Choose a lesson's two files, its text (NAME.md) and its settings file (NAME.toml), or drop them on the page."),
      input);
    const done = modal("Open Lesson", body, [["Cancel", "cancel", false]]);
    input.addEventListener("change", () => {
      this.store(input.files).then((name) => { if (name) Talveron.finishDialog(name); });
    });
    return done;
  },
  // The files into the module's memory; the name of the lesson's text
  // there (a settings file alone stands for the text beside it). Of a file
  // larger than a lesson's file may be, only as much is read as shows it:
  // the limit and a byte, which the program refuses in its own words.
  fileLimit: 4 << 20,  // a settings file's, in bytes
  async store(files) {
    let text = null, settings = null;
    for (const whole of files) {
      const file = whole.size > this.fileLimit ? new File([whole.slice(0, this.fileLimit + 1)], whole.name) : whole;
      const name = await storeFile(file);
      if (name.endsWith(".md")) text = name;
      else if (name.endsWith(".toml")) settings = name;
    }
    return text || settings;
  },
};

// Markdown as a lesson uses it: headings, paragraphs, lists, bold, italics,
// code and links. The text is escaped first, so it can bring no markup of
// its own.
function markdownHtml(markdown) {
  const escape = (text) => text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;").replace(/"/g, "&quot;");
  const inline = (text) => escape(text)
    .replace(/`([^`]+)`/g, "<code>$1</code>")
    .replace(/\*\*([^*]+)\*\*/g, "<strong>$1</strong>")
    .replace(/\*([^*]+)\*/g, "<em>$1</em>")
    .replace(/\[([^\]]+)\]\(([^)\s]+)\)/g, (all, label, target) =>
      /^(https?:|#|[\w.-]+\.(md|html)$)/.test(target) ? `<a href="${target}">${label}</a>` : label);
  const html = [];
  let paragraph = [], list = null;
  const flush = () => {
    if (paragraph.length) html.push(`<p>${inline(paragraph.join(" "))}</p>`);
    paragraph = [];
    if (list) html.push(`<${list.tag}>${list.items.map((item) => `<li>${inline(item)}</li>`).join("")}</${list.tag}>`);
    list = null;
  };
  for (const raw of markdown.split("\n")) {
    const line = raw.trim();
    const heading = /^(#{1,4}) (.*)$/.exec(line);
    const picture = /^!\[([^\]]*)\]\(([\w.-]+\.svg)\)$/.exec(line);
    if (picture) { flush(); html.push(`<p><img src="${picture[2]}" alt="${escape(picture[1])}"></p>`); continue; }
    const bullet = /^[-*] (.*)$/.exec(line);
    const numbered = /^\d+\. (.*)$/.exec(line);
    if (!line) { flush(); continue; }
    if (heading) { flush(); html.push(`<h${heading[1].length + 1}>${inline(heading[2])}</h${heading[1].length + 1}>`); continue; }
    if (bullet || numbered) {
      const tag = bullet ? "ul" : "ol";
      if (paragraph.length || (list && list.tag !== tag)) flush();
      if (!list) list = { tag, items: [] };
      list.items.push((bullet || numbered)[1]);
      continue;
    }
    if (list) list.items[list.items.length - 1] += " " + line;  // an item's next line
    else paragraph.push(line);
  }
  flush();
  return html.join("\n");
}

// The calls the page knows go on to page.js.
{
  const pageCall = Talveron.call;
  Talveron.call = function (message) { if (!Lessons.call(message)) pageCall.call(this, message); };
  Talveron.lessonAsk = (question) => Lessons.ask(question);
}

// The views make room for the lesson panel as they do for the Charts.
{
  const layoutScale = Talveron.layoutScale;
  Talveron.layoutScale = function () {
    const lesson = $("lesson");
    if (this.zoom > 0 || !lesson || lesson.hidden || Lessons.presenting) return layoutScale.call(this);
    const chartsWidth = this.chartsWidth;
    this.chartsWidth = () => chartsWidth.call(this) + lesson.offsetWidth + 4;
    try { return layoutScale.call(this); } finally { this.chartsWidth = chartsWidth; }
  };
}

// The Charts in presentation mode: drawn twice as large, text and all, on
// the same canvas: the program lays them out for half the canvas's box, and
// the page draws them at twice its pixel ratio.
{
  const state = Charts.state;
  Charts.state = function () {
    const told = state.call(this);
    if (!Lessons.presenting) return told;
    this.size = [Math.round(this.size[0] / 2), Math.round(this.size[1] / 2)];
    return [this.size[0], this.size[1], told[2], told[3] < 0 ? -1 : told[3] / 2, told[4] < 0 ? -1 : told[4] / 2, told[5]];
  };
  const begin = Charts.begin;
  Charts.begin = function () {
    if (!Lessons.presenting) return begin.call(this);
    const own = Object.getOwnPropertyDescriptor(window, "devicePixelRatio");
    Object.defineProperty(window, "devicePixelRatio", { value: (window.devicePixelRatio || 1) * 2, configurable: true });
    try { return begin.call(this); } finally {
      if (own) Object.defineProperty(window, "devicePixelRatio", own);
      else delete window.devicePixelRatio;
    }
  };
}

// A lesson dropped on the page opens as File > Open Lesson; anything else
// goes on to page.js (a settings file opens as File > Open Settings).
window.addEventListener("drop", (e) => {
  const files = e.dataTransfer ? Array.from(e.dataTransfer.files) : [];
  if (!files.some((file) => file.name.endsWith(".md"))) return;
  e.preventDefault();
  e.stopImmediatePropagation();
  document.body.classList.remove("dropping");
  Lessons.store(files).then((name) => {
    if (!name) return;
    // The Open Lesson dialog waiting for the files takes them; a closed one
    // (cancelled before) does not.
    if (document.querySelector("#dialog[open] #lesson-files")) { Talveron.finishDialog(name); return; }
    Lessons.dropped = name;
    Talveron.choose(FileMenu, Lessons.openLessonItem);
  });
}, true);

// F11 is the page's presentation key, as the desktop program's; the guide's
// link to the glossary opens it in the lesson panel; a new address given
// to the open page opens its experiment.
document.addEventListener("keydown", (e) => {
  if (e.key !== "F11" || Talveron.dialogOpen) return;
  e.preventDefault();
  const menu = Talveron.menus.get(DisplayMenu);
  const item = menu ? menu.items.findIndex((entry) => entry.text === "Presentation") : -1;
  if (item >= 0) Talveron.choose(DisplayMenu, item + 1);
});
document.addEventListener("click", (e) => {
  const link = e.target.closest && e.target.closest('#guide-text a[href$="glossary.md"], #lesson-text a[href$="glossary.md"]');
  if (!link) return;
  e.preventDefault();
  Lessons.chooseItem("Glossary");
});
window.addEventListener("hashchange", () => location.reload());
