// Drawing a ViewScene. Coordinates are written in pixels: world position
// (gx, gy), counted from the rectangle's south-west corner, lands at
// (left + gx * s, top + height - gy * s), so north is up.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "tools/view/view_lib.h"

namespace strewmill::tools {

namespace {

constexpr double kLandblock = 192.0;
constexpr double kCell = 24.0;
constexpr double kLeft = 96;          // room for the y axis
constexpr double kBottom = 64;        // room for the x axis
constexpr double kLegendGap = 32;
constexpr double kLegendWidth = 300;
constexpr std::size_t kMaxWarningLines = 5;
constexpr std::size_t kMaxLegendIds = 16;

// `text` is UTF-8 (paths come through lossy conversion).
void escape_into(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // U+FFFE and U+FFFF are not XML characters either.
    if (c == '\xEF' && text.substr(i, 2) == "\xEF\xBF" && i + 2 < text.size() &&
        (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
      out += "\xEF\xBF\xBD";
      i += 2;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters other than tab and line feed are not XML.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
          out += "\xEF\xBF\xBD";  // U+FFFD
        } else {
          out += c;
        }
    }
  }
}

std::string escaped(std::string_view text) {
  std::string out;
  escape_into(out, text);
  return out;
}

// Pixel coordinates: two decimals are far below what a screen resolves.
std::string num(double v) { return fmt::format("{:.2f}", v); }

struct Rgb {
  double r, g, b;
};

std::string hex(Rgb c) {
  const auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
  return fmt::format("#{:02x}{:02x}{:02x}", byte(c.r), byte(c.g), byte(c.b));
}

// Low ground green, middle tan, high ground pale.
constexpr Rgb kRampLow{79, 122, 67};
constexpr Rgb kRampMid{184, 167, 106};
constexpr Rgb kRampHigh{236, 232, 223};

std::string ramp(double t) {
  if (!std::isfinite(t)) return "#999999";
  t = std::clamp(t, 0.0, 1.0);
  const Rgb& a = t < 0.5 ? kRampLow : kRampMid;
  const Rgb& b = t < 0.5 ? kRampMid : kRampHigh;
  const double u = t < 0.5 ? t * 2 : (t - 0.5) * 2;
  return hex(Rgb{a.r + (b.r - a.r) * u, a.g + (b.g - a.g) * u, a.b + (b.b - a.b) * u});
}

// A stable, well-spread hue per object id.
std::string object_colour(std::uint32_t obj_id) {
  const std::uint32_t h = obj_id * 2654435761u;
  return fmt::format("hsl({},72%,40%)", (h >> 16) % 360);
}

bool finite_box(const engine::Box& b) {
  return std::isfinite(b.min_x) && std::isfinite(b.min_y) && std::isfinite(b.max_x) && std::isfinite(b.max_y) &&
         b.min_x <= b.max_x && b.min_y <= b.max_y;
}

// The smallest of 24, 48, 96 and 192 units that spans at least `pixels` at scale `s`.
double step_for(double s, double pixels) {
  for (const double step : {24.0, 48.0, 96.0}) {
    if (step * s >= pixels) return step;
  }
  return 192.0;
}

class Canvas {
 public:
  Canvas(const ViewScene& scene, double top)
      : scene_(scene),
        columns_(scene.x_hi - scene.x_lo + 1u),
        rows_(scene.y_hi - scene.y_lo + 1u),
        top_(top) {
    const unsigned side = std::max(columns_, rows_);
    s_ = std::clamp(1536.0 / (kLandblock * side), 0.5, 4.0);
  }

  double scale() const { return s_; }
  double width() const { return columns_ * kLandblock * s_; }
  double height() const { return rows_ * kLandblock * s_; }
  double top() const { return top_; }
  unsigned columns() const { return columns_; }
  unsigned rows() const { return rows_; }

  // Landblock-local (x, y) of landblock `lb` in pixels.
  double px(std::uint16_t lb, double x) const { return kLeft + (((lb >> 8) - scene_.x_lo) * kLandblock + x) * s_; }
  double py(std::uint16_t lb, double y) const {
    return top_ + height() - (((lb & 0xFF) - scene_.y_lo) * kLandblock + y) * s_;
  }

 private:
  const ViewScene& scene_;
  unsigned columns_, rows_;
  double top_;
  double s_ = 1;
};

struct Extent {
  float lo = 0, hi = 0;
  bool any = false;
};

Extent height_extent(const ViewScene& scene) {
  Extent e;
  for (const ViewLandblock& lb : scene.landblocks) {
    if (!lb.baked) continue;
    for (const float h : lb.heights) {
      if (!std::isfinite(h)) continue;
      if (!e.any || h < e.lo) e.lo = h;
      if (!e.any || h > e.hi) e.hi = h;
      e.any = true;
    }
  }
  return e;
}

void draw_terrain(std::string& out, const ViewScene& scene, const Canvas& c) {
  const Extent e = height_extent(scene);
  const double span = e.hi > e.lo ? static_cast<double>(e.hi) - e.lo : 0.0;
  const double cell = kCell * c.scale();
  out += "<g class=\"terrain\">\n";
  for (const ViewLandblock& lb : scene.landblocks) {
    if (!lb.baked) {
      const double side = kLandblock * c.scale();
      fmt::format_to(std::back_inserter(out),
                     "<rect class=\"absent\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#e4e4e4\"/>\n"
                     "<text x=\"{}\" y=\"{}\" text-anchor=\"middle\" fill=\"#777777\">0x{:04X}: not in the bake</text>\n",
                     num(c.px(lb.id, 0)), num(c.py(lb.id, kLandblock)), num(side), num(side),
                     num(c.px(lb.id, kLandblock / 2)), num(c.py(lb.id, kLandblock / 2)), lb.id);
      continue;
    }
    for (int cx = 0; cx < 8; ++cx) {
      for (int cy = 0; cy < 8; ++cy) {
        const auto h = [&](int x, int y) { return static_cast<double>(lb.heights[static_cast<std::size_t>(x * 9 + y)]); };
        const double mean = (h(cx, cy) + h(cx + 1, cy) + h(cx, cy + 1) + h(cx + 1, cy + 1)) / 4;
        const double t = span > 0 ? (mean - e.lo) / span : 0.5;
        fmt::format_to(std::back_inserter(out),
                       "<rect class=\"cell\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"{}\"/>\n",
                       num(c.px(lb.id, cx * kCell)), num(c.py(lb.id, (cy + 1) * kCell)), num(cell), num(cell),
                       ramp(t));
      }
    }
  }
  out += "</g>\n";

  // Cells the road test keeps clear. It reads terrain entry cx * 8 + cy, so
  // these are not always the cells around the road vertices.
  out += "<g class=\"road-test\">\n";
  for (const ViewLandblock& lb : scene.landblocks) {
    for (int cx = 0; cx < 8; ++cx) {
      for (int cy = 0; cy < 8; ++cy) {
        if ((lb.terrain[static_cast<std::size_t>(cx * 8 + cy)] & 0x3u) == 0) continue;
        fmt::format_to(std::back_inserter(out),
                       "<rect class=\"road-cell\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"url(#road-hatch)\"/>\n",
                       num(c.px(lb.id, cx * kCell)), num(c.py(lb.id, (cy + 1) * kCell)), num(cell), num(cell));
      }
    }
  }
  out += "</g>\n";

  // Cell grid, then landblock borders over it.
  out += "<g class=\"grid\" fill=\"none\">\n<path stroke=\"#000000\" stroke-opacity=\"0.15\" stroke-width=\"0.5\" d=\"";
  const double x0 = kLeft, x1 = kLeft + c.width(), y0 = c.top(), y1 = c.top() + c.height();
  for (unsigned i = 0; i <= c.columns() * 8; ++i) {
    const double x = kLeft + i * cell;
    fmt::format_to(std::back_inserter(out), "M{} {}V{}", num(x), num(y0), num(y1));
  }
  for (unsigned i = 0; i <= c.rows() * 8; ++i) {
    const double y = y0 + i * cell;
    fmt::format_to(std::back_inserter(out), "M{} {}H{}", num(x0), num(y), num(x1));
  }
  out += "\"/>\n<path stroke=\"#000000\" stroke-opacity=\"0.6\" stroke-width=\"1\" d=\"";
  const double block = kLandblock * c.scale();
  for (unsigned i = 0; i <= c.columns(); ++i) {
    fmt::format_to(std::back_inserter(out), "M{} {}V{}", num(kLeft + i * block), num(y0), num(y1));
  }
  for (unsigned i = 0; i <= c.rows(); ++i) {
    fmt::format_to(std::back_inserter(out), "M{} {}H{}", num(x0), num(y0 + i * block), num(x1));
  }
  out += "\"/>\n</g>\n";
}

void draw_roads(std::string& out, const ViewScene& scene, const Canvas& c) {
  const double r = std::max(2.0, c.scale() * 1.2);
  out += "<g class=\"roads\" fill=\"#6b3f1d\" stroke=\"#ffffff\" stroke-width=\"0.8\">\n";
  for (const ViewLandblock& lb : scene.landblocks) {
    for (std::size_t v = 0; v < lb.terrain.size(); ++v) {
      if ((lb.terrain[v] & 0x3u) == 0) continue;
      const double x = c.px(lb.id, static_cast<double>(v / 9) * kCell);
      const double y = c.py(lb.id, static_cast<double>(v % 9) * kCell);
      fmt::format_to(std::back_inserter(out), "<path class=\"road-vertex\" d=\"M{} {}L{} {}L{} {}L{} {}Z\"/>\n",
                     num(x), num(y - r), num(x + r), num(y), num(x), num(y + r), num(x - r), num(y));
    }
  }
  out += "</g>\n";
}

void draw_box(std::string& out, std::string_view cls, const engine::Box& b, std::uint16_t lb, const Canvas& c,
              std::string_view style) {
  const double x = c.px(lb, b.min_x);
  const double y = c.py(lb, b.max_y);
  // A zero extent still shows as a hairline.
  const double w = std::max(0.5, (static_cast<double>(b.max_x) - b.min_x) * c.scale());
  const double h = std::max(0.5, (static_cast<double>(b.max_y) - b.min_y) * c.scale());
  fmt::format_to(std::back_inserter(out), "<rect class=\"{}\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" {}/>\n",
                 cls, num(x), num(y), num(w), num(h), style);
}

std::string box_text(const engine::Box& b) {
  return fmt::format("x {:.2f} .. {:.2f}, y {:.2f} .. {:.2f}", b.min_x, b.max_x, b.min_y, b.max_y);
}

void draw_buildings(std::string& out, const ViewScene& scene, const Canvas& c) {
  out += "<g class=\"buildings\">\n";
  for (const ViewLandblock& lb : scene.landblocks) {
    for (std::size_t i = 0; i < lb.buildings.size(); ++i) {
      const ViewBuilding& b = lb.buildings[i];
      std::string title = fmt::format("building {} of landblock 0x{:04X}\nmodel 0x{:08X}\norigin x {:.6f}, y {:.6f}, z {:.6f}",
                                      i, lb.id, b.model_id, b.frame.origin.x, b.frame.origin.y, b.frame.origin.z);
      if (b.box && finite_box(*b.box)) {
        title += "\nfootprint " + box_text(*b.box);
        out += "<g class=\"building-item\"><title>" + escaped(title) + "</title>\n";
        draw_box(out, "building", *b.box, lb.id, c,
                 "fill=\"#4a4a58\" fill-opacity=\"0.45\" stroke=\"#22222c\" stroke-width=\"1.5\"");
        out += "</g>\n";
      } else if (std::isfinite(b.frame.origin.x) && std::isfinite(b.frame.origin.y)) {
        // No footprint, so it blocks nothing: a cross where it stands.
        title += b.box ? "\nfootprint not drawable" : "\nno footprint mesh: blocks nothing";
        const double x = c.px(lb.id, b.frame.origin.x), y = c.py(lb.id, b.frame.origin.y), r = 4;
        fmt::format_to(std::back_inserter(out),
                       "<g class=\"building-item\"><title>{}</title>\n<path class=\"building-unboxed\" "
                       "d=\"M{} {}L{} {}M{} {}L{} {}\" stroke=\"#22222c\" stroke-width=\"1.5\"/>\n</g>\n",
                       escaped(title), num(x - r), num(y - r), num(x + r), num(y + r), num(x - r), num(y + r),
                       num(x + r), num(y - r));
      }
    }
  }
  out += "</g>\n";
}

std::string placement_title(const ViewLandblock& lb, const ViewPlacement& p) {
  std::string t = fmt::format("obj 0x{:08X} (landblock 0x{:04X})\nx {}, y {}, z {}\nscale {}, turned {:.1f}°\n"
                              "source vertex ({}, {}), descriptor {}",
                              p.obj_id, lb.id, p.x_text, p.y_text, p.z_text, p.scale_text,
                              static_cast<double>(p.theta) * 180.0 / std::numbers::pi, p.source_cell_x,
                              p.source_cell_y, p.source_obj_idx);
  if (p.default_script_id != 0) t += fmt::format("\ndefault script 0x{:08X}", p.default_script_id);
  if (!p.box) {
    t += "\nno footprint mesh in client_portal.dat";
  } else if (finite_box(*p.box)) {
    t += "\nfootprint " + box_text(*p.box);
  }
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) t += "\nposition not finite: not drawn";
  return t;
}

void draw_placements(std::string& out, const ViewScene& scene, const Canvas& c) {
  const double r = c.scale() >= 2 ? 2.5 : 1.5;
  out += "<g class=\"placements\">\n";
  for (const ViewLandblock& lb : scene.landblocks) {
    for (const ViewPlacement& p : lb.placements) {
      const std::string colour = object_colour(p.obj_id);
      fmt::format_to(std::back_inserter(out), "<g class=\"placement\" data-obj-id=\"0x{:08X}\"><title>{}</title>\n",
                     p.obj_id, escaped(placement_title(lb, p)));
      if (std::isfinite(p.x) && std::isfinite(p.y)) {
        if (p.box && finite_box(*p.box)) {
          draw_box(out, "footprint", *p.box, lb.id, c,
                   fmt::format("fill=\"{0}\" fill-opacity=\"0.25\" stroke=\"{0}\" stroke-width=\"1\"", colour));
        }
        fmt::format_to(std::back_inserter(out),
                       "<circle class=\"position\" cx=\"{}\" cy=\"{}\" r=\"{}\" fill=\"{}\" stroke=\"#ffffff\" "
                       "stroke-width=\"0.6\"/>\n",
                       num(c.px(lb.id, p.x)), num(c.py(lb.id, p.y)), num(r), colour);
      }
      out += "</g>\n";
    }
  }
  out += "</g>\n";
}

void draw_axes(std::string& out, const ViewScene& scene, const Canvas& c) {
  const double step = step_for(c.scale(), 40);
  const double bottom = c.top() + c.height();
  out += "<g class=\"axes\" fill=\"#222222\" font-size=\"11\">\n";
  std::string ticks;
  // x: ticks along the bottom in landblock-local units, the column's id below.
  for (unsigned i = 0; i < c.columns(); ++i) {
    const auto lb = static_cast<std::uint16_t>((scene.x_lo + i) << 8 | scene.y_lo);
    for (double t = 0; t < kLandblock + 1; t += step) {
      if (t >= kLandblock && i + 1 < c.columns()) break;  // the next column's 0
      const double x = c.px(lb, t);
      fmt::format_to(std::back_inserter(ticks), "M{} {}v5", num(x), num(bottom));
      fmt::format_to(std::back_inserter(out), "<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", num(x),
                     num(bottom + 17), t);
    }
    fmt::format_to(std::back_inserter(out),
                   "<text x=\"{}\" y=\"{}\" text-anchor=\"middle\" font-weight=\"bold\">column 0x{:02X}</text>\n",
                   num(c.px(lb, kLandblock / 2)), num(bottom + 33), scene.x_lo + i);
  }
  // y: ticks along the left side, the row's id beside them.
  for (unsigned j = 0; j < c.rows(); ++j) {
    const auto lb = static_cast<std::uint16_t>(scene.x_lo << 8 | (scene.y_lo + j));
    for (double t = 0; t < kLandblock + 1; t += step) {
      if (t >= kLandblock && j + 1 < c.rows()) break;
      const double y = c.py(lb, t);
      fmt::format_to(std::back_inserter(ticks), "M{} {}h-5", num(kLeft), num(y));
      fmt::format_to(std::back_inserter(out), "<text x=\"{}\" y=\"{}\" text-anchor=\"end\">{}</text>\n",
                     num(kLeft - 8), num(y + 4), t);
    }
    const double y = c.py(lb, kLandblock / 2);
    fmt::format_to(std::back_inserter(out),
                   "<text x=\"{0}\" y=\"{1}\" text-anchor=\"middle\" font-weight=\"bold\" "
                   "transform=\"rotate(-90 {0} {1})\">row 0x{2:02X}</text>\n",
                   num(kLeft - 44), num(y), scene.y_lo + j);
  }
  out += "<path stroke=\"#222222\" fill=\"none\" d=\"" + ticks + "\"/>\n";
  fmt::format_to(std::back_inserter(out),
                 "<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">x, east (world units within each landblock)</text>\n",
                 num(kLeft + c.width() / 2), num(bottom + 52));
  const double mid = c.top() + c.height() / 2;
  fmt::format_to(std::back_inserter(out),
                 "<text x=\"{0}\" y=\"{1}\" text-anchor=\"middle\" transform=\"rotate(-90 {0} {1})\">"
                 "y, north (world units within each landblock)</text>\n",
                 num(kLeft - 70), num(mid));
  out += "</g>\n";
}

// The legend, from `y` down; returns where it ends.
double draw_legend(std::string& out, const ViewScene& scene, const Canvas& c, double y) {
  const double x = kLeft + c.width() + kLegendGap;
  const auto text = [&](double tx, double ty, std::string_view s, std::string_view extra = "") {
    fmt::format_to(std::back_inserter(out), "<text x=\"{}\" y=\"{}\"{}>{}</text>\n", num(tx), num(ty), extra,
                   escaped(s));
  };
  out += "<g class=\"legend\" font-size=\"12\" fill=\"#222222\">\n";
  text(x, y, "Legend", " font-weight=\"bold\" font-size=\"14\"");
  y += 22;

  const Extent e = height_extent(scene);
  fmt::format_to(std::back_inserter(out),
                 "<rect x=\"{}\" y=\"{}\" width=\"160\" height=\"12\" fill=\"url(#height-ramp)\" stroke=\"#888888\"/>\n",
                 num(x), num(y - 10));
  text(x + 168, y, "terrain height");
  y += 16;
  text(x, y, e.any ? fmt::format("{:.1f}", e.lo) : "?", " font-size=\"10\"");
  text(x + 160, y, e.any ? fmt::format("{:.1f}", e.hi) : "?", " font-size=\"10\" text-anchor=\"end\"");
  y += 22;

  const auto swatch = [&](std::string_view shape, std::string_view label) {
    out += shape;
    text(x + 28, y, label);
    y += 20;
  };
  swatch(fmt::format("<rect x=\"{}\" y=\"{}\" width=\"20\" height=\"12\" fill=\"#4a4a58\" fill-opacity=\"0.45\" "
                     "stroke=\"#22222c\" stroke-width=\"1.5\"/>\n",
                     num(x), num(y - 10)),
         "building footprint box");
  swatch(fmt::format("<rect x=\"{}\" y=\"{}\" width=\"20\" height=\"12\" fill=\"hsl(200,72%,40%)\" "
                     "fill-opacity=\"0.25\" stroke=\"hsl(200,72%,40%)\"/>\n<circle cx=\"{}\" cy=\"{}\" r=\"2.5\" "
                     "fill=\"hsl(200,72%,40%)\" stroke=\"#ffffff\" stroke-width=\"0.6\"/>\n",
                     num(x), num(y - 10), num(x + 10), num(y - 4)),
         "placed object: footprint box, position");
  swatch(fmt::format("<path d=\"M{0} {1}l4 4l-4 4l-4 -4Z\" fill=\"#6b3f1d\" stroke=\"#ffffff\" stroke-width=\"0.8\"/>\n",
                     num(x + 10), num(y - 12)),
         "road vertex");
  swatch(fmt::format("<rect x=\"{}\" y=\"{}\" width=\"20\" height=\"12\" fill=\"url(#road-hatch)\" "
                     "stroke=\"#888888\"/>\n",
                     num(x), num(y - 10)),
         "cell the road test keeps clear");
  y += 6;

  // Object ids, most placed first.
  std::map<std::uint32_t, std::size_t> counts;
  std::size_t total = 0;
  for (const ViewLandblock& lb : scene.landblocks) {
    for (const ViewPlacement& p : lb.placements) ++counts[p.obj_id];
    total += lb.placements.size();
  }
  std::vector<std::pair<std::uint32_t, std::size_t>> ids(counts.begin(), counts.end());
  std::stable_sort(ids.begin(), ids.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  text(x, y, fmt::format("Objects: {} placed, {} ids", total, ids.size()), " font-weight=\"bold\"");
  y += 20;
  for (std::size_t i = 0; i < ids.size() && i < kMaxLegendIds; ++i) {
    fmt::format_to(std::back_inserter(out), "<rect x=\"{}\" y=\"{}\" width=\"12\" height=\"12\" fill=\"{}\"/>\n",
                   num(x), num(y - 10), object_colour(ids[i].first));
    text(x + 20, y, fmt::format("0x{:08X} × {}", ids[i].first, ids[i].second), " font-family=\"monospace\"");
    y += 17;
  }
  if (ids.size() > kMaxLegendIds) {
    text(x, y, fmt::format("… and {} more ids", ids.size() - kMaxLegendIds));
    y += 17;
  }
  y += 12;

  // Scale bar: the longest round length that fits the panel.
  double bar = 24;
  for (const double l : {48.0, 96.0, 192.0}) {
    if (l * c.scale() <= 200) bar = l;
  }
  const double w = bar * c.scale();
  fmt::format_to(std::back_inserter(out),
                 "<path class=\"scale-bar\" d=\"M{0} {1}v6h{2}v-6\" stroke=\"#222222\" stroke-width=\"1.5\" fill=\"none\"/>\n",
                 num(x), num(y - 6), num(w));
  text(x + w + 8, y, fmt::format("{} units", bar));
  y += 24;
  text(x, y, "North is up: x grows east, y north.");
  y += 17;
  text(x, y, "A cell is 24 units, a landblock 192.");
  y += 17;
  out += "</g>\n";
  return y;
}

}  // namespace

std::string render_svg(const ViewScene& scene) {
  const std::size_t warning_lines = std::min(scene.warnings.size(), kMaxWarningLines) +
                                    (scene.warnings.size() > kMaxWarningLines ? 1 : 0);
  const double top = 64 + 16.0 * static_cast<double>(warning_lines);
  const Canvas c(scene, top);

  std::string body;
  std::size_t placements = 0, buildings = 0;
  for (const ViewLandblock& lb : scene.landblocks) {
    placements += lb.placements.size();
    buildings += lb.buildings.size();
  }
  draw_terrain(body, scene, c);
  draw_roads(body, scene, c);
  draw_buildings(body, scene, c);
  draw_placements(body, scene, c);
  draw_axes(body, scene, c);
  const double legend_end = draw_legend(body, scene, c, top + 12);

  const double width = kLeft + c.width() + kLegendGap + kLegendWidth;
  const double height = std::max(top + c.height() + kBottom, legend_end + 16);

  std::string out;
  out.reserve(body.size() + 4096);
  fmt::format_to(std::back_inserter(out),
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
                 "font-family=\"DejaVu Sans, sans-serif\" font-size=\"12\">\n",
                 num(width), num(height));
  const std::string ramp_stops = fmt::format("<stop offset=\"0\" stop-color=\"{}\"/><stop offset=\"0.5\" stop-color=\"{}\"/>"
                                             "<stop offset=\"1\" stop-color=\"{}\"/>",
                                             ramp(0), ramp(0.5), ramp(1));
  out += "<defs>\n<linearGradient id=\"height-ramp\">" + ramp_stops + "</linearGradient>\n";
  out += "<pattern id=\"road-hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#6b3f1d\" fill-opacity=\"0.12\"/>"
         "<path d=\"M0 0V6\" stroke=\"#6b3f1d\" stroke-width=\"2\" stroke-opacity=\"0.55\"/></pattern>\n</defs>\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  const std::string heading =
      scene.landblocks.size() == 1
          ? fmt::format("Landblock 0x{:04X}", scene.landblocks.front().id)
          : fmt::format("Landblocks 0x{:02X}{:02X}..0x{:02X}{:02X} ({} x {})", scene.x_lo, scene.y_lo, scene.x_hi,
                        scene.y_hi, c.columns(), c.rows());
  fmt::format_to(std::back_inserter(out), "<text x=\"{}\" y=\"26\" font-size=\"18\" font-weight=\"bold\">{}</text>\n",
                 num(kLeft), escaped(heading));
  const std::string sub = fmt::format("{} placements, {} buildings · bake mode {} · region 0x{:08X}", placements,
                                      buildings, scene.mode.empty() ? "unknown" : scene.mode, scene.region_did);
  fmt::format_to(std::back_inserter(out), "<text x=\"{}\" y=\"46\" fill=\"#444444\">{}</text>\n", num(kLeft),
                 escaped(sub));
  for (std::size_t i = 0; i < warning_lines; ++i) {
    const std::string line = i < kMaxWarningLines && i < scene.warnings.size()
                                 ? "⚠ " + scene.warnings[i]
                                 : fmt::format("… and {} more warnings", scene.warnings.size() - kMaxWarningLines);
    fmt::format_to(std::back_inserter(out), "<text class=\"warning\" x=\"{}\" y=\"{}\" fill=\"#b00020\">{}</text>\n",
                   num(kLeft), num(64 + 16.0 * static_cast<double>(i)), escaped(line));
  }
  out += body;
  out += "</svg>\n";
  return out;
}

}  // namespace strewmill::tools
