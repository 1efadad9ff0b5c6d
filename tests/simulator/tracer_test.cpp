// The simulated tracer: settings, scans of the four frames, the decoded
// outline against the measured values, status and events while scanning.
#include "sim_test_support.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

using namespace simtest;

namespace {

constexpr DISPID kPuerto = 34, kCierra = 38, kVelocidad = 39, kCalibrado = 43, kTaladros = 44,
                 kModoScan = 46, kExplora = 47, kOjo = 48, kRadioIni = 49, kRadioDeltas = 50,
                 kBoxH = 51, kBoxV = 52, kDistCentro = 53, kDistBorde = 54, kBase = 55,
                 kPerimetro = 56, kStatus = 57;
constexpr DWORD kWait = 60000;
constexpr double kPi = 3.14159265358979323846;

struct Outline {
  std::vector<long> radii;  // 1/100 mm
  double boxH = 0, boxV = 0, perimeter = 0;
};

// Rebuilds the outline from getRadioIni and getRadioDeltas as a client does.
Outline Decode(float radioIni, const std::string& deltas) {
  Outline o;
  std::stringstream in(deltas);
  std::string field;
  std::getline(in, field, ';');
  const int n = std::stoi(field);
  long r = std::lround(radioIni * 100.0);
  o.radii.push_back(r);
  while (std::getline(in, field, ';')) o.radii.push_back(r += std::stol(field));
  EXPECT_EQ(static_cast<int>(o.radii.size()), n);
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  std::vector<double> xs, ys;
  for (int i = 0; i < n; ++i) {
    double t = 2 * kPi * i / n, rad = o.radii[i] / 100.0;
    xs.push_back(rad * std::cos(t));
    ys.push_back(rad * std::sin(t));
    minX = std::min(minX, xs.back());
    maxX = std::max(maxX, xs.back());
    minY = std::min(minY, ys.back());
    maxY = std::max(maxY, ys.back());
  }
  for (int i = 0; i < n; ++i)
    o.perimeter += std::hypot(xs[(i + 1) % n] - xs[i], ys[(i + 1) % n] - ys[i]);
  o.boxH = maxX - minX;
  o.boxV = maxY - minY;
  return o;
}

HRESULT Scan(Component& c, SHORT port, int eye, SHORT mode) {
  EXPECT_EQ(c.Put(kPuerto, I2(port)), S_OK);
  EXPECT_EQ(c.Put(kVelocidad, Int(10)), S_OK);
  EXPECT_EQ(c.Put(kOjo, Int(eye)), S_OK);
  EXPECT_EQ(c.Put(kModoScan, I2(mode)), S_OK);
  HRESULT hr = c.Call(kExplora);
  EXPECT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  return hr;
}

struct Nominal {
  SHORT port;
  const char* name;
  double width, height, tolerance;
  int holes;
};

const Nominal kFrames[] = {
    {1, "rectangular", 52, 38, 0.1, 0},
    {2, "oval", 50, 36, 0.1, 0},
    {3, "aviator", 56, 48, 1.0, 0},
    {4, "rimless", 50, 34, 0.1, 2},
};

TEST(Tracer, SettingsAreValidated) {
  Component c;
  struct {
    DISPID id;
    VARTYPE vt;
    std::vector<LONG> good, bad;
    const char* name;
  } settings[] = {
      {kPuerto, VT_I2, {0, 1, 16}, {-1, 17, 100}, "PuertoComm"},
      {kVelocidad, VT_INT, {1, 10}, {0, 11, -5}, "Velocidad"},
      {kModoScan, VT_I2, {1, 2}, {0, 3}, "ModoScan"},
      {kOjo, VT_INT, {1, 2}, {0, 3}, "Ojo"},
  };
  for (auto& s : settings) {
    SCOPED_TRACE(s.name);
    auto value = [&](LONG v) { return s.vt == VT_I2 ? I2(static_cast<SHORT>(v)) : Int(v); };
    for (LONG v : s.good) EXPECT_EQ(c.Put(s.id, value(v)), S_OK) << v;
    for (LONG v : s.bad) {
      ExcepInfo ei;
      EXPECT_EQ(c.Put(s.id, value(v), &ei.e), E_INVALIDARG) << v;
      EXPECT_EQ(ei.e.scode, E_INVALIDARG);
      EXPECT_EQ(ei.source(), "ScanMontura");
      EXPECT_NE(ei.description().find(s.name), std::string::npos) << ei.description();
    }
  }
}

TEST(Tracer, PortDecidesStatusAndCalibration) {
  Component c;
  EXPECT_EQ(c.GetI4(kStatus), 0);
  EXPECT_EQ(c.GetI2(kCalibrado), 0);
  ExcepInfo ei;
  EXPECT_EQ(c.Call(kExplora, nullptr, nullptr, 0, &ei.e), E_FAIL) << "no port open";
  EXPECT_EQ(ei.e.scode, E_FAIL);
  EXPECT_FALSE(ei.description().empty());

  ASSERT_EQ(c.Put(kPuerto, I2(5)), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 1);
  EXPECT_EQ(c.GetI2(kCalibrado), 1);
  EXPECT_EQ(c.Call(kCierra), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 0);
  EXPECT_EQ(c.GetI2(kCalibrado), 0);
  EXPECT_EQ(c.Call(kCierra), S_OK) << "closing a closed port is harmless";
  ASSERT_EQ(c.Put(kPuerto, I2(5)), S_OK);
  ASSERT_EQ(c.Put(kPuerto, I2(0)), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 0);
}

TEST(Tracer, EachFrameDecodesToTheMeasuredValues) {
  for (const Nominal& f : kFrames) {
    for (SHORT mode : {SHORT(1), SHORT(2)}) {
      SCOPED_TRACE(std::string(f.name) + (mode == 1 ? " 400" : " 1000"));
      Component c;
      ASSERT_EQ(Scan(c, f.port, 1, mode), S_OK);
      EXPECT_EQ(c.GetI4(kStatus), 200);
      EXPECT_EQ(c.Text(), mode == 1 ? "Trace: 400 points" : "Trace: 1000 points");

      float radioIni = c.GetR4(kRadioIni);
      Outline o = Decode(radioIni, c.GetStr(kRadioDeltas));
      ASSERT_EQ(o.radii.size(), mode == 1 ? 400u : 1000u);
      EXPECT_NEAR(c.GetR4(kBoxH), o.boxH, 0.01);
      EXPECT_NEAR(c.GetR4(kBoxV), o.boxV, 0.01);
      EXPECT_NEAR(c.GetR4(kPerimetro), o.perimeter, 0.01);
      EXPECT_NEAR(o.boxH, f.width, f.tolerance);
      EXPECT_NEAR(o.boxV, f.height, f.tolerance);

      float dbl = c.GetR4(kDistBorde);
      EXPECT_GE(dbl, 17.0f);
      EXPECT_LE(dbl, 20.0f);
      EXPECT_NEAR(c.GetR4(kDistCentro), c.GetR4(kBoxH) + dbl, 0.01);
      float base = c.GetR4(kBase);
      EXPECT_GE(base, 4.0f);
      EXPECT_LE(base, 6.0f);

      std::string holes = c.GetStr(kTaladros);
      if (f.holes == 0) {
        EXPECT_EQ(holes, "0");
      } else {
        EXPECT_EQ(holes, "2;22.50,4.00,1.40;-22.50,4.00,1.40");
        // Each hole lies inside the outline, clear of the edge.
        for (double x : {22.5, -22.5}) {
          double angle = std::atan2(4.0, x);
          if (angle < 0) angle += 2 * kPi;
          size_t i =
              static_cast<size_t>(std::lround(angle / (2 * kPi) * o.radii.size())) % o.radii.size();
          EXPECT_GT(o.radii[i] / 100.0, std::hypot(x, 4.0) + 0.7);
        }
      }
    }
  }
}

TEST(Tracer, LeftEyeIsTheMirrorImage) {
  for (const Nominal& f : kFrames) {
    SCOPED_TRACE(f.name);
    Component c;
    ASSERT_EQ(Scan(c, f.port, 1, 1), S_OK);
    Outline right = Decode(c.GetR4(kRadioIni), c.GetStr(kRadioDeltas));
    float boxH = c.GetR4(kBoxH), boxV = c.GetR4(kBoxV), perimeter = c.GetR4(kPerimetro);
    std::string holes = c.GetStr(kTaladros);

    ASSERT_EQ(Scan(c, f.port, 2, 1), S_OK);
    Outline left = Decode(c.GetR4(kRadioIni), c.GetStr(kRadioDeltas));
    const size_t n = right.radii.size();
    ASSERT_EQ(left.radii.size(), n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(left.radii[i], right.radii[(n / 2 + n - i) % n]) << i;
    EXPECT_NEAR(c.GetR4(kBoxH), boxH, 0.01);
    EXPECT_NEAR(c.GetR4(kBoxV), boxV, 0.01);
    EXPECT_NEAR(c.GetR4(kPerimetro), perimeter, 0.01);
    EXPECT_EQ(c.GetStr(kTaladros), f.holes ? "2;-22.50,4.00,1.40;22.50,4.00,1.40" : holes);
  }
}

TEST(Tracer, StatusAndTextProgressDuringAScan) {
  CountingSink sink;
  Component c;
  Advised advised(c.disp(), &sink);
  struct Seen {
    LONG status;
    std::string text;
  };
  std::mutex mu;
  std::vector<Seen> seen;
  sink.OnEach([&](DISPID id, DISPPARAMS*) {
    if (id != kOnChange) return;
    // Calling back into the component from its event thread is allowed.
    // Text first: it changes after the status, so a status below 200 read
    // after it means the text was a progress line.
    std::string text = c.Text();
    Seen s{c.GetI4(kStatus), text};
    std::lock_guard<std::mutex> lock(mu);
    seen.push_back(s);
  });
  ASSERT_EQ(c.Put(kPuerto, I2(2)), S_OK);
  ASSERT_EQ(c.Put(kVelocidad, Int(10)), S_OK);
  ASSERT_EQ(c.Call(kExplora), S_OK);
  LONG during = c.GetI4(kStatus);
  EXPECT_GE(during, 100);
  EXPECT_LE(during, 200);
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);

  EXPECT_EQ(sink.Count(kOnChange), 11) << "every 10% and the end";
  std::lock_guard<std::mutex> lock(mu);
  ASSERT_EQ(seen.size(), 11u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i].status, seen[i - 1].status);
  for (const Seen& s : seen) {
    EXPECT_TRUE((s.status >= 100 && s.status <= 190) || s.status == 200) << s.status;
    if (s.status < 200) {
      EXPECT_EQ(s.text.rfind("Scanning ", 0), 0u) << s.text;
    }
  }
  EXPECT_EQ(seen.back().status, 200);
  EXPECT_EQ(seen.back().text, "Trace: 400 points");
}

TEST(Tracer, CierraAbortsAScanAndKeepsTheLastTrace) {
  Component c;
  ASSERT_EQ(Scan(c, 2, 1, 1), S_OK);
  float boxH = c.GetR4(kBoxH);
  ASSERT_GT(boxH, 0.0f);

  ASSERT_EQ(c.Put(kVelocidad, Int(1)), S_OK);  // two seconds: still running below
  ASSERT_EQ(c.Call(kExplora), S_OK);
  ExcepInfo ei;
  EXPECT_EQ(c.Call(kExplora, nullptr, nullptr, 0, &ei.e), E_FAIL) << "a scan is running";
  EXPECT_FALSE(ei.description().empty());
  ei.clear();
  EXPECT_EQ(c.Put(kPuerto, I2(3), &ei.e), DISP_E_EXCEPTION) << "no port change while scanning";
  EXPECT_EQ(ei.e.scode, E_FAIL);

  EXPECT_EQ(c.Call(kCierra), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 0);
  EXPECT_EQ(c.Text(), "Scan aborted");
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 0);
  EXPECT_EQ(c.GetR4(kBoxH), boxH) << "the last trace stays readable";

  ASSERT_EQ(c.Put(kPuerto, I2(2)), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 200);
  ASSERT_EQ(c.Put(kVelocidad, Int(10)), S_OK);
  EXPECT_EQ(c.Call(kExplora), S_OK) << "a new scan after the aborted one";
  ASSERT_EQ(c.ctl()->WaitIdle(kWait), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), 200);
}

TEST(Tracer, EnvironmentChoosesTheFrame) {
  Component c;
  setenv("SCANMONTURA_SIM_FRAME", "oval", 1);
  ASSERT_EQ(Scan(c, 1, 1, 1), S_OK);
  EXPECT_NEAR(c.GetR4(kBoxH), 50.0, 0.1);

  setenv("SCANMONTURA_SIM_FRAME", "none", 1);
  ASSERT_EQ(Scan(c, 1, 1, 1), S_OK);
  unsetenv("SCANMONTURA_SIM_FRAME");
  EXPECT_EQ(c.GetI4(kStatus), -1);
  EXPECT_EQ(c.Text(), "Scan failed: no frame in the tracer");
  EXPECT_NEAR(c.GetR4(kBoxH), 50.0, 0.1) << "the earlier trace stays";
}

TEST(Tracer, UnknownFrameSettingIsRefusedAndAChosenFrameWins) {
  Component c;
  setenv("SCANMONTURA_SIM_FRAME", "bogus", 1);
  ASSERT_EQ(c.Put(kPuerto, I2(1)), S_OK);
  ExcepInfo ei;
  EXPECT_EQ(c.Call(kExplora, nullptr, nullptr, 0, &ei.e), E_INVALIDARG);
  const std::string why = ei.description();
  EXPECT_NE(why.find("SCANMONTURA_SIM_FRAME=bogus"), std::string::npos) << why;
  EXPECT_NE(why.find("rectangular, oval, aviator, rimless or none"), std::string::npos) << why;

  ASSERT_EQ(c.ctl()->SetFrame(1, Ole("aviator").c_str()), S_OK);
  ASSERT_EQ(Scan(c, 1, 1, 1), S_OK) << "a frame chosen for the port wins over the variable";
  unsetenv("SCANMONTURA_SIM_FRAME");
  EXPECT_NEAR(c.GetR4(kBoxH), 56.0, 1.0);

  ASSERT_EQ(c.ctl()->SetFrame(0, Ole("none").c_str()), S_OK);
  ASSERT_EQ(Scan(c, 3, 1, 1), S_OK);
  EXPECT_EQ(c.GetI4(kStatus), -1) << "every tracer empty";
  ASSERT_EQ(c.ctl()->SetFrame(0, nullptr), S_OK);
  ASSERT_EQ(Scan(c, 2, 1, 1), S_OK);
  EXPECT_NEAR(c.GetR4(kBoxH), 50.0, 0.1) << "the bench's own oval again";

  EXPECT_EQ(c.ctl()->SetFrame(17, nullptr), E_INVALIDARG);
  EXPECT_EQ(c.ctl()->SetFrame(1, Ole("bogus").c_str()), E_INVALIDARG);
}

}  // namespace
