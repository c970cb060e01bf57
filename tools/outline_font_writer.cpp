#include "outline_font_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <unistd.h>

namespace taviron::tools {
namespace {

constexpr int32_t kBias = 1023;
constexpr size_t kHeaderSize = 117;
constexpr uint8_t kMove = 0x40, kLines = 0x41, kCurves = 0x42, kEnd = 0x43;

void Put16(std::vector<uint8_t> &bytes, size_t at, int32_t value) {
  bytes[at] = static_cast<uint8_t>(value & 0xff);
  bytes[at + 1] = static_cast<uint8_t>((value >> 8) & 0xff);
}
void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void Append16(std::vector<uint8_t> &bytes, int32_t value) {
  bytes.push_back(static_cast<uint8_t>(value & 0xff));
  bytes.push_back(static_cast<uint8_t>((value >> 8) & 0xff));
}

void AppendPoint(std::vector<uint8_t> &bytes, const OutlinePoint &p) {
  const int32_t x = p.x + kBias, y = p.y + kBias;
  if (x < 0 || x > 2047 || y < 0 || y > 2047)
    throw std::invalid_argument("point (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") lies off the grid");
  bytes.push_back(static_cast<uint8_t>((x & 7) << 3 | (y & 7)));
  bytes.push_back(static_cast<uint8_t>(x >> 3));
  bytes.push_back(static_cast<uint8_t>(y >> 3));
}

bool Same(const OutlinePoint &a, const OutlinePoint &b) { return a.x == b.x && a.y == b.y; }

// The contour's edges flattened into straight pieces (x0, y0, x1, y1), closed.
std::vector<std::array<double, 4>> Flatten(const OutlineContour &contour) {
  std::vector<std::array<double, 4>> pieces;
  OutlinePoint pen = contour.start;
  auto line = [&](double x0, double y0, double x1, double y1) { pieces.push_back({x0, y0, x1, y1}); };
  for (const OutlineSegment &s : contour.segments) {
    if (!s.curve) {
      line(pen.x, pen.y, s.to.x, s.to.y);
    } else {
      constexpr int kSteps = 16;
      double px = pen.x, py = pen.y;
      for (int k = 1; k <= kSteps; ++k) {
        const double t = static_cast<double>(k) / kSteps, u = 1 - t;
        const double x = u * u * u * pen.x + 3 * u * u * t * s.c1.x + 3 * u * t * t * s.c2.x + t * t * t * s.to.x;
        const double y = u * u * u * pen.y + 3 * u * u * t * s.c1.y + 3 * u * t * t * s.c2.y + t * t * t * s.to.y;
        line(px, py, x, y);
        px = x;
        py = y;
      }
    }
    pen = s.to;
  }
  if (!Same(pen, contour.start)) line(pen.x, pen.y, contour.start.x, contour.start.y);
  return pieces;
}

// The x range of the pieces within [y0, y1]; false when none reaches the band.
bool BandReach(const std::vector<std::array<double, 4>> &pieces, double y0, double y1, double &xMin,
               double &xMax) {
  bool any = false;
  xMin = std::numeric_limits<double>::max();
  xMax = std::numeric_limits<double>::lowest();
  for (const auto &p : pieces) {
    double ax = p[0], ay = p[1], bx = p[2], by = p[3];
    if (ay > by) std::swap(ax, bx), std::swap(ay, by);
    if (by < y0 || ay > y1) continue;
    // The part of the piece inside the band.
    auto xAt = [&](double y) { return by == ay ? ax : ax + (bx - ax) * (y - ay) / (by - ay); };
    const double lo = std::max(ay, y0), hi = std::min(by, y1);
    for (const double x : {xAt(lo), xAt(hi)}) {
      xMin = std::min(xMin, x);
      xMax = std::max(xMax, x);
    }
    any = true;
  }
  return any;
}

uint8_t BumperValue(double reach, double unit) {
  return static_cast<uint8_t>(std::clamp(std::ceil(reach / unit), 0.0, 255.0));
}

struct Record {
  std::vector<uint8_t> bytes;
};

Record EncodeGlyph(const OutlineFontSpec &font, const OutlineGlyph &glyph) {
  const size_t n = static_cast<size_t>(font.bumpers);
  std::vector<std::array<double, 4>> pieces;
  for (const OutlineContour &c : glyph.contours) {
    auto more = Flatten(c);
    pieces.insert(pieces.end(), more.begin(), more.end());
  }
  std::array<int16_t, 4> box{0, 0, 0, 0};
  if (glyph.box) {
    box = *glyph.box;
  } else if (!pieces.empty()) {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const auto &p : pieces) {
      x0 = std::min({x0, p[0], p[2]});
      x1 = std::max({x1, p[0], p[2]});
      y0 = std::min({y0, p[1], p[3]});
      y1 = std::max({y1, p[1], p[3]});
    }
    box = {static_cast<int16_t>(std::floor(x0)), static_cast<int16_t>(std::floor(y0)),
           static_cast<int16_t>(std::ceil(x1)), static_cast<int16_t>(std::ceil(y1))};
  }
  std::vector<uint8_t> left = glyph.left, right = glyph.right;
  const double unit = font.ascent / 64.0;
  if (left.empty() && right.empty() && n > 0) {
    if (unit <= 0) throw std::invalid_argument("bumpers need a positive ascent");
    left.assign(n, 0);
    right.assign(n, 0);
    const double band = static_cast<double>(font.bandTop - font.bandBottom) / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
      double xMin, xMax;
      if (pieces.empty()) {
        right[i] = BumperValue(glyph.emptyAdvance, unit);
      } else if (BandReach(pieces, font.bandBottom + band * static_cast<double>(i),
                           font.bandBottom + band * static_cast<double>(i + 1), xMin, xMax)) {
        left[i] = BumperValue(glyph.leftGap - xMin, unit);
        right[i] = BumperValue(xMax + glyph.rightGap, unit);
      }
    }
  }
  if (left.size() != n || right.size() != n)
    throw std::invalid_argument("bumper profiles of character " + std::to_string(glyph.code) + " need " +
                                std::to_string(n) + " values");
  const std::vector<uint8_t> code =
      glyph.rawOutline ? *glyph.rawOutline : glyph.contours.empty() ? std::vector<uint8_t>{} : EncodeOutline(glyph.contours);
  if (code.size() > 65535) throw std::invalid_argument("outline of character " + std::to_string(glyph.code) + " too long");
  Record r;
  r.bytes.push_back(glyph.flags);
  r.bytes.push_back(0);
  for (const int16_t v : box) Append16(r.bytes, v);
  r.bytes.insert(r.bytes.end(), left.begin(), left.end());
  r.bytes.insert(r.bytes.end(), right.begin(), right.end());
  Append16(r.bytes, static_cast<int32_t>(code.size()));
  r.bytes.insert(r.bytes.end(), code.begin(), code.end());
  return r;
}

} // namespace

std::vector<uint8_t> EncodeOutline(const std::vector<OutlineContour> &contours) {
  if (contours.empty()) throw std::invalid_argument("an outline needs a contour");
  std::vector<uint8_t> bytes;
  AppendPoint(bytes, contours[0].start);
  for (size_t c = 0; c < contours.size(); ++c) {
    const OutlineContour &contour = contours[c];
    if (c > 0) {
      bytes.push_back(kMove);
      AppendPoint(bytes, contour.start);
    }
    std::vector<OutlineSegment> segments = contour.segments;
    const OutlinePoint end = segments.empty() ? contour.start : segments.back().to;
    if (!Same(end, contour.start)) segments.push_back({false, {}, {}, contour.start});
    // Runs of segments of one kind share their command byte.
    for (size_t i = 0; i < segments.size();) {
      const bool curve = segments[i].curve;
      bytes.push_back(curve ? kCurves : kLines);
      for (; i < segments.size() && segments[i].curve == curve; ++i) {
        if (curve) {
          AppendPoint(bytes, segments[i].c1);
          AppendPoint(bytes, segments[i].c2);
        }
        AppendPoint(bytes, segments[i].to);
      }
    }
  }
  bytes.push_back(kEnd);
  return bytes;
}

std::vector<uint8_t> EncodeOutlineFont(const OutlineFontSpec &font) {
  if (font.first < 0 || font.last > 255 || font.first > font.last)
    throw std::invalid_argument("character codes must run from first to last within 0..255");
  if (font.bumpers < 0 || font.bumpers > 15) throw std::invalid_argument("0 to 15 bumpers per side");
  for (const int32_t v : {font.ascent, font.fourth, font.lineHeight})
    if (v < -32768 || v > 32767) throw std::invalid_argument("vertical values are 16-bit");
  const size_t range = static_cast<size_t>(font.last - font.first + 1);
  std::vector<uint8_t> bytes(kHeaderSize + 4 * range, 0);
  Put16(bytes, 0, font.format);
  for (size_t i = 0; i < font.name.size() && i < 63; ++i) bytes[2 + i] = static_cast<uint8_t>(font.name[i]);
  Put16(bytes, 66, font.resolution);
  Put16(bytes, 74, font.ascent);
  Put16(bytes, 78, font.fourth);
  bytes[90] = static_cast<uint8_t>(font.bumpers);
  Put16(bytes, 91, font.topReference);
  Put16(bytes, 93, font.bottomReference);
  bytes[95] = static_cast<uint8_t>(font.first);
  bytes[96] = static_cast<uint8_t>(font.last);
  Put16(bytes, 109, font.lineHeight);
  // The 60-byte block and the sixteen values follow the offset table; the records follow them.
  const size_t block = bytes.size(), sixteen = block + 60, base = sixteen + 32;
  bytes.resize(base, 0);
  Put32(bytes, 101, static_cast<uint32_t>(sixteen));
  Put32(bytes, 105, static_cast<uint32_t>(block));
  Put32(bytes, 113, static_cast<uint32_t>(base));
  for (size_t i = 0; i < range; ++i) Put32(bytes, kHeaderSize + 4 * i, 0xffffffffu);
  for (const OutlineGlyph &glyph : font.glyphs) {
    if (glyph.code < font.first || glyph.code > font.last)
      throw std::invalid_argument("character " + std::to_string(glyph.code) + " lies outside the font's codes");
    const Record r = EncodeGlyph(font, glyph);
    Put32(bytes, kHeaderSize + 4 * static_cast<size_t>(glyph.code - font.first), static_cast<uint32_t>(bytes.size() - base));
    bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  }
  return bytes;
}

bool WriteOutlineFont(const OutlineFontSpec &font, const std::string &path, std::string &error) {
  std::vector<uint8_t> bytes;
  try {
    bytes = EncodeOutlineFont(font);
  } catch (const std::exception &e) {
    error = e.what();
    return false;
  }
  const std::string temporary = path + ".part" + std::to_string(::getpid());
  FILE *file = std::fopen(temporary.c_str(), "wb");
  bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file) ok = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0 && ok;
  if (file && std::fclose(file) != 0) ok = false;
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    error = "cannot write " + path;
    std::remove(temporary.c_str());
  }
  return ok;
}

} // namespace taviron::tools
