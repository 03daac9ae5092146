#include "web/web_platform.h"

#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/drawing/map_key.h"
#include "app/drawing/raster.h"
#include "app/shell/settings_formulas.h"
#include "model/version.h"
#include "record/census_history.h"
#include "web/web_charts.h"

// The page's side: talveron.js defines the object Talveron these call.
// clang-format off
EM_JS(void, web_call, (const char* json), { Talveron.call(JSON.parse(UTF8ToString(json))); });
EM_ASYNC_JS(int, web_ask, (const char* json), { return await Talveron.ask(JSON.parse(UTF8ToString(json))); });
EM_JS(void, web_take_result, (char* buffer, int size), { stringToUTF8(Talveron.result, buffer, size); });
EM_ASYNC_JS(void, web_wait, (double seconds), { await Talveron.wait(seconds); });
EM_JS(int, web_next_event, (int* out), {
  const event = Talveron.nextEvent();
  if (!event) return 0;
  HEAP32.set(event, out >> 2);
  return 1;
});
EM_JS(void, web_flush_events, (), { Talveron.flushEvents(); });
EM_JS(double, web_now, (), { return performance.now() / 1000; });
EM_JS(double, web_scale, (int port), { return Talveron.scale(port); });
EM_JS(void, web_paint, (int port, const void* pixels, int width, int height, int top, int left, int bottom, int right), {
  Talveron.paint(port, new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4), width, height, top, left,
                 bottom, right);
});
EM_JS(void, web_measure, (const char* text, int length, int size, int face, int* out), {
  HEAP32.set(Talveron.measure(UTF8ToString(text, length), size, face), out >> 2);
});
EM_JS(void, web_render_text, (const char* text, int length, int size, int face, double scale, int* out), {
  HEAP32.set(Talveron.renderText(UTF8ToString(text, length), size, face, scale), out >> 2);
});
EM_JS(void, web_copy_mask, (unsigned char* out), { HEAPU8.set(Talveron.mask, out); });
EM_JS(void, web_download, (const char* path, const char* name), {
  Talveron.download(UTF8ToString(name), FS.readFile(UTF8ToString(path)));
});
// clang-format on

namespace talveron::web {

namespace {

using nlohmann::json;

// The poll lets the browser run when it has not run for this long: a run at
// the fastest speed lets it run with each of its thirty frames a second,
// and the poll only keeps the page live between a series' fewer frames.
constexpr double kFrame = 1.0 / 15;
constexpr double kChartsEvery = 0.2;  // a running replicate's charts reach the page this often

void Call(const json& message) { web_call(message.dump().c_str()); }

// A dialog of the page; its answer, nothing when the user cancelled.
std::optional<std::string> Ask(const json& question) {
  const int length = web_ask(question.dump().c_str());
  if (length < 0) return std::nullopt;
  std::string answer(static_cast<std::size_t>(length) + 1, '\0');
  web_take_result(answer.data(), length + 1);
  answer.resize(static_cast<std::size_t>(length));
  return answer;
}

// A text for the page: a byte that is no part of a UTF-8 character (a
// link's %FF, say) is written back as the link wrote it, %FF, so that the
// message names it and the page can read it.
std::string Text(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;  // of the character `lead` begins; none for a byte that begins none
    if (lead < 0x80) length = 1;
    else if ((lead & 0xE0) == 0xC0) length = 2;
    else if ((lead & 0xF0) == 0xE0) length = 3;
    else if ((lead & 0xF8) == 0xF0) length = 4;
    if (length > 1) {
      const unsigned second = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      // Overlong forms, surrogates and code points past U+10FFFF are refused as JSON refuses them.
      const bool fits = i + length <= text.size() && !(lead == 0xC0 || lead == 0xC1 || lead > 0xF4) &&
                        !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second > 0x9F) &&
                        !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second > 0x8F);
      for (std::size_t k = 1; fits && k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) length = 0;
      }
      if (!fits) length = 0;
    }
    if (length == 0) {
      out += '%';
      out += kHex[lead >> 4];
      out += kHex[lead & 0xF];
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace

// The advance comes in 1/1024 pixels.
TextSource::Measure BrowserText::MeasureGlyph(char c, int size, int face) {
  int out[5] = {};
  web_measure(&c, 1, size, face, out);
  return Measure{out[0] / 1024.0, out[1], out[2], out[3], out[4]};
}

TextSource::Mask BrowserText::RenderGlyph(char c, int size, int face, double scale) {
  int out[4] = {};
  web_render_text(&c, 1, size, face, scale, out);
  Mask mask{out[0], out[1], out[2], out[3], {}};
  mask.alpha.resize(static_cast<std::size_t>(mask.width) * static_cast<std::size_t>(mask.height));
  if (!mask.alpha.empty()) web_copy_mask(mask.alpha.data());
  return mask;
}

WebPlatform::WebPlatform(WebCanvas& canvas) : canvas_(canvas) {}

void WebPlatform::ShowViews(bool settled) {
  OfferDownloads();  // also the records a Quit left, after the last poll
  if (settled || web_now() - lastCharts_ >= kChartsEvery) HandOverCharts(false);
  PaintViews();
}

// Copies what changed in the four views' pixels to their canvases.
void WebPlatform::PaintViews() {
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    const double scale = web_scale(static_cast<int>(port));
    if (scale > 0) canvas_.SetScale(port, scale);
    const QdRect changed = canvas_.TakeChanged(port);
    if (app::IsEmpty(changed)) continue;
    web_paint(static_cast<int>(port), canvas_.pixels(port), canvas_.width(port), canvas_.height(port), changed.top,
              changed.left, changed.bottom, changed.right);
  }
}

void WebPlatform::Yield(double seconds) {
  ShowViews(seconds > 0);
  web_wait(seconds);
  lastYield_ = web_now();
}

std::optional<app::Event> WebPlatform::Next() {
  OfferDownloads();
  int out[5] = {};
  if (!web_next_event(out)) return std::nullopt;
  app::Event event;
  event.what = static_cast<app::Event::Kind>(out[0]);
  event.character = static_cast<char>(out[1]);
  event.commandKey = out[2] != 0;
  event.menu = out[3];
  event.item = out[4];
  return event;
}

void WebPlatform::FlushEvents() { web_flush_events(); }

std::optional<app::Event> WebPlatform::WaitNextEvent(int sleepTicks) {
  if (sleepTicks <= 1) {
    if (web_now() - lastYield_ >= kFrame) Yield(0);
    return Next();
  }
  return WaitNextEventFor(sleepTicks / 60.0);
}

std::optional<app::Event> WebPlatform::WaitNextEventFor(double seconds) {
  if (auto event = Next()) return event;
  Yield(seconds);
  return Next();
}

void WebPlatform::InstallMenuBar(std::span<const app::MenuSpec> menus) {
  json bar = json::array();
  for (const app::MenuSpec& menu : menus) {
    json items = json::array();
    for (const app::MenuItemSpec& item : menu.items) {
      items.push_back({{"text", item.text},
                       {"key", item.commandKey ? std::string(1, item.commandKey) : std::string()},
                       {"submenu", item.submenu},
                       {"checkable", item.checkable},
                       {"group", item.group},
                       {"hidden", item.hidden},
                       {"atEnd", item.atEnd}});
    }
    bar.push_back({{"number", menu.number}, {"title", menu.title}, {"items", items}, {"submenu", menu.submenu}});
  }
  // The settings dialog's controls go with the menus: the page builds its
  // form from them.
  json controls = json::array();
  for (const app::SettingsControl& control : app::SettingsControls()) {
    json texts = json::array();
    for (int value = 1; value <= control.popUpItems; ++value) texts.push_back(app::PopUpItemText(control.item, value));
    controls.push_back({{"item", control.item},
                        {"checkBox", control.kind == app::ControlKind::CheckBox},
                        {"label", Text(control.label)},
                        {"texts", texts}});
  }
  Call({{"op", "menus"}, {"menus", bar}, {"controls", controls}, {"version", Text(kTalveronVersion)}});
}

void WebPlatform::CheckMenuItem(int menu, int item, bool checked) {
  Call({{"op", "check"}, {"menu", menu}, {"item", item}, {"on", checked}});
}

void WebPlatform::EnableMenuItem(int menu, int item, bool enabled) {
  Call({{"op", "enable"}, {"menu", menu}, {"item", item}, {"on", enabled}});
}

void WebPlatform::SetMenuItemText(int menu, int item, std::string_view text) {
  Call({{"op", "itemText"}, {"menu", menu}, {"item", item}, {"text", Text(text)}});
}

double WebPlatform::Seconds() { return web_now(); }

void WebPlatform::ZoomViews(int direction) { Call({{"op", "zoom"}, {"direction", direction}}); }

bool WebPlatform::RunSettingsDialog(app::ControlValues& values, const app::InForceTexts& inForce,
                                    const std::vector<std::string>& changes) {
  json opened = json::object();
  for (const auto& [item, value] : values) opened[std::to_string(item)] = value;
  json held = json::object();
  for (const auto& [item, text] : inForce) held[std::to_string(item)] = text;
  const auto answer = Ask({{"op", "settings"}, {"values", opened}, {"inForce", held}, {"changes", changes}});
  if (!answer) return false;
  const json left = json::parse(*answer, nullptr, false);
  if (!left.is_object()) return false;
  for (auto& [item, value] : values) {
    const auto found = left.find(std::to_string(item));
    if (found != left.end() && found->is_number_integer()) value = found->get<int>();
  }
  return true;
}

// A name for the data file; the file is made in the module's memory and
// handed over as a download when its series is complete. A file of that
// name from an earlier series was handed over already and goes.
std::optional<std::string> WebPlatform::AskDataFilePath() {
  auto name = Ask({{"op", "dataFile"}, {"name", "talveron-data.txt"}});
  if (!name) return std::nullopt;
  std::error_code ignored;
  std::filesystem::remove(*name, ignored);
  std::filesystem::remove(*name + ".partial", ignored);
  return name;
}

void WebPlatform::ShowNotice(std::string_view message) { Ask({{"op", "notice"}, {"text", Text(message)}}); }

// Opening: a file the user chose or dropped on the page, copied into the
// module's memory under its own name. Saving: a name; the file is handed
// over as a download once written.
std::optional<std::string> WebPlatform::AskSettingsPath(bool save) {
  auto path = Ask({{"op", save ? "saveSettings" : "openSettings"}, {"name", "talveron-settings.toml"}});
  if (path && save) downloads_.push_back(*path);
  return path;
}

std::optional<std::string> WebPlatform::AskGenotypesPath() {
  auto path = Ask({{"op", "saveGenotypes"}, {"name", "talveron-genotypes.vcf"}});
  if (path) downloads_.push_back(*path);
  return path;
}

void WebPlatform::SavePicture() { Ask({{"op", "picture"}}); }

bool WebPlatform::Confirm(std::string_view question) {
  ShowViews();
  return Ask({{"op", "confirm"}, {"text", Text(question)}}).has_value();
}

void WebPlatform::CopyText(std::string_view text) { Call({{"op", "copy"}, {"text", Text(text)}}); }

void WebPlatform::ShowGuide() { Call({{"op", "guide"}}); }

std::optional<std::uint64_t> WebPlatform::AskBaseSeed(std::uint64_t current) {
  const auto answer = Ask({{"op", "seed"}, {"seed", std::to_string(current)}});
  if (!answer) return std::nullopt;
  return std::stoull(*answer);  // the page accepts digits only, within 64 bits
}

void WebPlatform::ShowAboutBox() { Call({{"op", "about"}}); }

void WebPlatform::ShowSeeds(const app::SeedStatus& seeds) {
  std::string text;
  if (seeds.series) {
    text = "Replicate " + std::to_string(seeds.replicate) + " of " + std::to_string(seeds.replicates) + ", seed " +
           std::to_string(seeds.current) + "; series base seed " + std::to_string(seeds.seriesBase);
  } else if (seeds.replicate > 0) {
    text = "Seed " + std::to_string(seeds.current) + "; next seed " + std::to_string(seeds.next) +
           "; next series seed " + std::to_string(seeds.nextSeries);
  } else {
    text = "Next seed " + std::to_string(seeds.next) + "; next series seed " + std::to_string(seeds.nextSeries);
  }
  Call({{"op", "status"}, {"field", "seeds"}, {"text", text}});
}

// A data file closed: when its series was complete, the file now has its
// name, and the user gets it; a series stopped early leaves its complete
// records in FILE.partial, and the user gets those.
void WebPlatform::ShowDataFileName(std::string_view name) {
  if (name.empty() && !dataFile_.empty()) {
    downloads_.push_back(dataFile_);
    downloads_.push_back(dataFile_ + ".partial");
  }
  dataFile_ = std::string(name);
  Call({{"op", "status"}, {"field", "dataFile"}, {"text", name.empty() ? "" : "Data file " + Text(name)}});
}

void WebPlatform::ShowDataFileNote(std::string_view note) {
  Call({{"op", "status"}, {"field", "note"}, {"text", Text(note)}});
}

void WebPlatform::ShowActivity(std::string_view text) {
  Call({{"op", "status"}, {"field", "activity"}, {"text", Text(text)}});
}

void WebPlatform::ShowSpaceAction(std::string_view action) { Call({{"op", "space"}, {"text", Text(action)}}); }

// Only noted here: the page gets the generations added since the last
// hand-over when it next shows the views.
void WebPlatform::ShowCharts(const CensusHistory& history) {
  if (&history != history_ || history.empty() || history.LastGeneration() < chartsLast_) {
    chartsRestart_ = true;
    chartsLast_ = 0;
  }
  history_ = &history;
}

void WebPlatform::HandOverCharts(bool frame) {
  lastCharts_ = web_now();
  const long last = history_ == nullptr || history_->empty() ? 0 : history_->LastGeneration();
  charts_.Show(history_, chartsRestart_ || last != chartsLast_, chartsRestart_, frame);
  chartsRestart_ = false;
  chartsLast_ = last;
}

void WebPlatform::ShowMapKey(const app::MapKey& key) {
  Call({{"op", "mapKey"}, {"caption", key.caption}, {"alleles", key.alleles}});
}

void WebPlatform::ShowNote(std::string_view note) {
  Call({{"op", "status"}, {"field", "remark"}, {"text", Text(note)}});
}

void WebPlatform::ShowChartsView(bool shown) { Call({{"op", "charts"}, {"on", shown}}); }

// A frame reaches the page with the charts of its generation (their
// header; their lines a few times a second), and the browser gets to show
// them together.
void WebPlatform::ShowFrame() {
  OfferDownloads();
  const double start = web_now();
  HandOverCharts(true);
  PaintViews();
  web_wait(0);
  lastYield_ = web_now();
  charts_.FrameShown(lastYield_ - start);
}

void WebPlatform::ShowSpeedReached(double generationsPerSecond) {
  std::string text;
  if (generationsPerSecond > 0) {
    std::string number = std::to_string(std::lround(generationsPerSecond));
    for (int at = static_cast<int>(number.size()) - 3; at > 0; at -= 3) number.insert(static_cast<std::size_t>(at), ",");
    text = number + " generations a second";
  }
  Call({{"op", "status"}, {"field", "remark"}, {"text", text}});
}

void WebPlatform::Beep() { Call({{"op", "beep"}}); }

void WebPlatform::ShowFatalError(std::string_view report) {
  std::cout << report << std::flush;
  ShowViews();
  Ask({{"op", "fatal"}, {"text", Text(report)}});
}

// Files written since the last look: each one there is handed over once.
void WebPlatform::OfferDownloads() {
  if (downloads_.empty()) return;
  for (const std::string& path : downloads_) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) continue;
    const std::string name = std::filesystem::path(path).filename().string();
    web_download(path.c_str(), name.c_str());
    std::filesystem::remove(path, error);  // handed over: the page keeps no copy
  }
  downloads_.clear();
}

}  // namespace talveron::web
