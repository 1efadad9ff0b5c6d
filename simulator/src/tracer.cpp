#include "tracer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

double Ellipse(double t, double a, double b) {
  double c = std::cos(t) / a, s = std::sin(t) / b;
  return 1.0 / std::sqrt(c * c + s * s);
}

// |x/a|^n + |y/b|^n = 1: a rectangle with rounded corners for n of 3 to 5.
double Superellipse(double t, double a, double b, double n) {
  double c = std::fabs(std::cos(t)) / a, s = std::fabs(std::sin(t)) / b;
  return std::pow(std::pow(c, n) + std::pow(s, n), -1.0 / n);
}

double Wrap(double d) {
  while (d > kPi) d -= 2 * kPi;
  while (d < -kPi) d += 2 * kPi;
  return d;
}

double Rectangular(double t) { return Superellipse(t, 26.0, 19.0, 4.0); }
double Oval(double t) { return Ellipse(t, 25.0, 18.0); }
// An ellipse swelling towards the lower nasal side (about -40 degrees).
double Aviator(double t) {
  double d = Wrap(t + 40.0 * kPi / 180.0) / 0.8;
  return Ellipse(t, 26.5, 23.0) * (1.0 + 0.22 * std::exp(-d * d));
}
double Rimless(double t) { return Superellipse(t, 25.0, 17.0, 3.0); }

const FrameShape kFrames[] = {
    {"rectangular", &Rectangular, 1800, 400, 0, {}},
    {"oval", &Oval, 1700, 500, 0, {}},
    {"aviator", &Aviator, 1900, 600, 0, {}},
    {"rimless", &Rimless, 2000, 450, 2, {{2250, 400, 140}, {-2250, 400, 140}}},
};

struct Point {
  double x, y;
};

// The outline as a fine polygon centred on its bounding box (with 1440
// vertices a chord strays less than 0.0001 mm from the curve).
std::vector<Point> CentredOutline(const FrameShape& frame) {
  const int kVertices = 1440;
  std::vector<Point> poly(kVertices);
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (int k = 0; k < kVertices; ++k) {
    double t = 2 * kPi * k / kVertices;
    double r = frame.radius(t);
    poly[k] = {r * std::cos(t), r * std::sin(t)};
    minX = std::min(minX, poly[k].x);
    maxX = std::max(maxX, poly[k].x);
    minY = std::min(minY, poly[k].y);
    maxY = std::max(maxY, poly[k].y);
  }
  double cx = (minX + maxX) / 2, cy = (minY + maxY) / 2;
  for (Point& p : poly) p = {p.x - cx, p.y - cy};
  return poly;
}

// Distance from the origin to the polygon along the ray at angle phi. The
// outlines are star-shaped about their centre: the ray crosses once ahead.
double RayDistance(const std::vector<Point>& poly, double phi) {
  double dx = std::cos(phi), dy = std::sin(phi);
  for (size_t k = 0; k < poly.size(); ++k) {
    const Point& p = poly[k];
    const Point& q = poly[(k + 1) % poly.size()];
    double cp = dx * p.y - dy * p.x;
    double cq = dx * q.y - dy * q.x;
    if ((cp > 0 && cq > 0) || (cp < 0 && cq < 0) || cp == cq) continue;
    double s = cp / (cp - cq);
    double t = dx * (p.x + s * (q.x - p.x)) + dy * (p.y + s * (q.y - p.y));
    if (t > 0) return t;
  }
  return 0;
}

void AppendHundredths(std::string& out, long v) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%s%ld.%02ld", v < 0 ? "-" : "", std::labs(v) / 100,
                              std::labs(v) % 100);
  if (n > 0) out.append(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

}  // namespace

const FrameShape* FrameByName(const char* name) {
  if (!name) return nullptr;
  for (const FrameShape& f : kFrames)
    if (std::strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

bool ReadFrameSetting(const char* value, const FrameShape** frame) {
  if (!value) return false;
  if (std::strcmp(value, "none") == 0) {
    *frame = nullptr;
    return true;
  }
  const FrameShape* named = FrameByName(value);
  if (!named) return false;
  *frame = named;
  return true;
}

const char* KnownFrameSettings() { return "rectangular, oval, aviator, rimless or none"; }

const FrameShape* FrameForPort(int port) {
  if (port < 1 || port > 16) return nullptr;
  return &kFrames[(port - 1) % 4];
}

Trace MeasureFrame(const FrameShape& frame, int points, bool leftEye) {
  Trace trace;
  std::vector<Point> outline = CentredOutline(frame);
  trace.radii.resize(static_cast<size_t>(points));
  for (int i = 0; i < points; ++i) {
    // The left eye at angle i is the right eye at 180 degrees minus that
    // angle, itself a sample angle (N is even): the traces mirror exactly.
    int j = leftEye ? ((points / 2 - i) % points + points) % points : i;
    double phi = 2 * kPi * j / points;
    trace.radii[i] = static_cast<int>(std::lround(RayDistance(outline, phi) * 100.0));
  }

  // Measure the outline a client rebuilds from the integer radii.
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9, perimeter = 0;
  std::vector<Point> decoded(static_cast<size_t>(points));
  for (int i = 0; i < points; ++i) {
    double theta = 2 * kPi * i / points;
    double r = trace.radii[i] / 100.0;
    decoded[i] = {r * std::cos(theta), r * std::sin(theta)};
    minX = std::min(minX, decoded[i].x);
    maxX = std::max(maxX, decoded[i].x);
    minY = std::min(minY, decoded[i].y);
    maxY = std::max(maxY, decoded[i].y);
  }
  for (int i = 0; i < points; ++i) {
    const Point& a = decoded[i];
    const Point& b = decoded[(i + 1) % points];
    perimeter += std::hypot(b.x - a.x, b.y - a.y);
  }
  trace.radioIni = static_cast<float>(trace.radii[0] / 100.0);
  trace.boxH = static_cast<float>(maxX - minX);
  trace.boxV = static_cast<float>(maxY - minY);
  trace.perimetro = static_cast<float>(perimeter);
  trace.distBorde = static_cast<float>(frame.dbl / 100.0);
  trace.distCentro = static_cast<float>(maxX - minX + frame.dbl / 100.0);
  trace.base = static_cast<float>(frame.base / 100.0);

  std::string deltas = std::to_string(points);
  for (int i = 1; i < points; ++i)
    deltas += ";" + std::to_string(trace.radii[i] - trace.radii[i - 1]);
  trace.deltas = ToOleString(deltas.c_str());

  std::string holes = std::to_string(frame.holeCount);
  for (int h = 0; h < frame.holeCount; ++h) {
    const DrillHole& hole = frame.holes[h];
    holes += ";";
    AppendHundredths(holes, leftEye ? -hole.x : hole.x);
    holes += ",";
    AppendHundredths(holes, hole.y);
    holes += ",";
    AppendHundredths(holes, hole.d);
  }
  trace.taladros = ToOleString(holes.c_str());
  return trace;
}

}  // namespace sim
