// The frames in the simulated tracers and what a scan of them measures.
#pragma once

#include "com_util.h"

#include <vector>

namespace sim {

struct DrillHole {
  int x, y, d;  // centre and diameter in 1/100 mm, right eye, about the box centre
};

struct FrameShape {
  const char* name;
  double (*radius)(double theta);  // right-eye outline, mm, counter-clockwise from 3 o'clock
  int dbl;                         // distance between lenses, 1/100 mm
  int base;                        // base curve, 1/100 dioptre
  int holeCount;
  DrillHole holes[2];
};

// The frame of that name ("rectangular", "oval", "aviator", "rimless"), or nullptr.
const FrameShape* FrameByName(const char* name);
// The frame the bench holds in the tracer of a port (1..16).
const FrameShape* FrameForPort(int port);

// Reads a frame setting: a frame's name (*frame that frame) or "none" (*frame
// nullptr: an empty tracer). False for anything else, *frame untouched.
bool ReadFrameSetting(const char* value, const FrameShape** frame);
// The values ReadFrameSetting takes, for messages: "rectangular, oval, ...".
const char* KnownFrameSettings();

struct Trace {
  std::vector<int> radii;  // R_i in 1/100 mm, point i at 360*i/N degrees
  float radioIni = 0;
  float boxH = 0, boxV = 0;
  float perimetro = 0;
  float distBorde = 0, distCentro = 0;
  float base = 0;
  OleString deltas;    // "N;d1;...;d(N-1)"
  OleString taladros;  // "K;x,y,d;..." or "0"
};

// Traces `frame` with `points` points about its box centre; the left eye is
// the mirror image (x -> -x) of the right. Box and perimeter come from the
// integer radii, as a client decoding the deltas obtains them.
Trace MeasureFrame(const FrameShape& frame, int points, bool leftEye);

}  // namespace sim
