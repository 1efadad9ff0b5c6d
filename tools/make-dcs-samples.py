#!/usr/bin/env python3
"""Writes the sample DCS files of tests/dcs-samples/: files as other tracers and lab systems write
them, one reader case or more each (record orders, vendor labels, unequal angles, side B, 1000-point
patterns, a binary trace, mixed line endings, several traces, unknown values, trailing empty fields,
one value for both eyes).
The files are committed; run this only to change them: python3 tools/make-dcs-samples.py."""
import math
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "dcs-samples")


def superellipse(n, a, b, p, bulge=0.0, angles=None):
    """Radii in 1/100 mm of |x/a|^p + |y/b|^p = 1, at n equal angles (or the given ones, degrees),
    widened by `bulge` towards the lower nasal side (3 o'clock, -40 degrees) of a right lens."""
    out = []
    for i in range(n):
        t = math.radians(angles[i]) if angles else 2 * math.pi * i / n
        c, s = abs(math.cos(t)) / a, abs(math.sin(t)) / b
        r = 1 / (c ** p + s ** p) ** (1 / p)
        r *= 1 + bulge * max(0.0, math.cos(t + math.radians(40))) ** 3
        out.append(round(r * 100))
    return out


def mirror(radii):
    n = len(radii)
    return [radii[(n // 2 - i) % n] for i in range(n)]


def chunks(label, values, per):
    return [label + "=" + ";".join(str(v) for v in values[i:i + per]) for i in range(0, len(values), per)]


def trace(side, kind, radii, per=10, angles=None, fmt=1):
    records = ["TRCFMT=%d;%d;%s;%s;%s" % (fmt, len(radii), "U" if angles else "E", side, kind)]
    records += chunks("R", radii, per)
    if angles:
        records += chunks("A", angles, per)
    return records


def write(name, records, eol="\r\n", raw=None):
    text = eol.join(records) + eol
    data = text.encode("latin-1") if raw is None else raw
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    # A lab management system's job: request and version first, prescription and vendor records,
    # a right and a left frame trace of 360 points, eight radii a record.
    right = superellipse(360, 26.05, 18.70, 3.6, 0.04)
    write("lms-request.dcs", [
        "REQ=FIL", "OMAV=3.07", "JOB=L-20441", "DEV=TRC-900", "VEN=Optotec",
        "_OPT_STATION=3", "ZZSHOP=\u00d3ptica Centro Norte", "SPH=-1.25;-1.00", "CYL=-0.50;-0.75",
        "AX=90;85", "IPD=31.50;32.00", "LNAM=OVMCI;OVMCI", "FTYP=1", "ETYP=1;1",
    ] + trace("R", "F", right, per=8) + trace("L", "F", mirror(right), per=8) + [
        "HBOX=52.10;52.10", "VBOX=37.40;37.40", "CIRC=150.22;150.22", "FCRV=4.25;4.25",
        "DBL=18.00", "SEGHT=22.00;22.00",
    ])

    # A tracer's upload of a drilled rimless demo lens: one trace for both eyes (side B), drill
    # records in the field layout (with a slot and the optional fields), unknown values and
    # trailing empty fields.
    demo = superellipse(400, 25.0, 17.0, 3.0)
    write("tracer-rimless-both.dcs", [
        "OMAV=3.07", "JOB=77801", "DEV=TR-4", "VEN=Meditrace", "FTYP=3", "ETYP=2;2",
    ] + trace("B", "D", demo, per=8) + [
        "HBOX=50.00;", "VBOX=34.00;?", "CIRC=?;?", "FCRV=4.50;4.50;", "DBL=20.00;",
        "DRILLE=B;C;22.50;4.00;1.40", "DRILLE=B;CF;-23.80;-1.30;1.00;-21.80;-1.30",
        "DRILLE=B;ET;1.80;4.00;1.40;;;2.00;;A;5.0;0.0", "_MT_HOLES=3",
    ])

    # Unequal angles: 90 points, denser towards the corners, with their A records (1/100 degree).
    angles = []
    for i in range(90):
        u = 2 * math.pi * i / 90
        angles.append(round(math.degrees(u - 0.25 * math.sin(4 * u)) * 100) % 36000)
    angles.sort()
    frame = superellipse(90, 25.5, 19.0, 4.0, angles=[a / 100 for a in angles])
    left_angles = sorted((18000 - a) % 36000 for a in angles)
    left = superellipse(90, 25.5, 19.0, 4.0, angles=[(180 - a / 100) % 360 for a in left_angles])
    write("unequal-angles.dcs", ["JOB=U-3", "TRCFMT=1;90;U;R;F"] + chunks("R", frame, 10)
          + chunks("A", angles, 10) + ["TRCFMT=1;90;U;L;F"] + chunks("R", left, 10)
          + chunks("A", left_angles, 10) + ["HBOX=51.00;51.00", "VBOX=38.00;38.00", "DBL=17.50"],
          eol="\n")

    # A pattern trace of 1000 points for each eye, request first; the job record comes late.
    pattern = superellipse(1000, 24.0, 16.5, 2.6, 0.08)
    write("pattern-1000.dcs", ["REQ=TRC", "DEV=PAT-1"] + trace("R", "P", pattern, per=10)
          + trace("L", "P", mirror(pattern), per=10) + ["JOB=P1000", "HBOX=48.00;48.00",
                                                        "VBOX=33.10;33.10", "DBL=19.00"])

    # A binary trace (format 4, packed) that the reader keeps without decoding, then an ASCII one.
    ascii_left = mirror(superellipse(360, 26.0, 19.5, 3.2))
    head = "\r\n".join(["JOB=BIN-9", "VEN=Lensmaker", "TRCFMT=4;512;E;R;F", "D=@P@P?_?_@0@1"]) + "\r\n"
    packed = bytes([0x41, 0x01, 0x7F, 0x80, 0xFE, 0x09, 0x3D, 0x3B, 0x0D, 0x20, 0x00, 0x42]) + b"\r\n"
    packed += b"ZZPACK" + bytes(range(0x80, 0x90)) + b"\r\n"
    tail = "\r\n".join(trace("L", "F", ascii_left, per=12) + ["HBOX=?;52.00", "VBOX=?;39.00",
                                                               "DBL=18.50"]) + "\r\n"
    write("binary-format.dcs", [], raw=head.encode("latin-1") + packed + tail.encode("latin-1"))

    # Mixed line endings (CR LF, LF and a lone CR), blank lines, spaces about the numbers, and a
    # last record without a line end.
    small = superellipse(36, 24.0, 18.0, 3.0)
    lines = ["JOB=MIX-1", "TRCFMT=1;36;E;R;F"] + chunks("R", small, 9) + [
        "HBOX= 48.00 ;48.00", "VBOX=36.00;36.00 ", "DBL=16.00"]
    ends = ["\r\n", "\n", "\r\n", "\r", "\n\n", "\r\n", "\n", "\r\n\r\n", "\n"]
    text = "".join(line + ends[i % len(ends)] for i, line in enumerate(lines[:-1])) + lines[-1]
    write("mixed-endings.dcs", [], raw=text.encode("latin-1"))

    # Several traces: right and left frame, a pattern for both eyes and a demo lens, with vendor
    # records that follow a trace (they stay with it) and others between the figures.
    f = superellipse(360, 26.5, 20.0, 3.4, 0.1)
    write("several-traces.dcs", ["VEN=Multilab", "JOB=S-12"] + trace("R", "F", f)
          + ["ZFMT=1;360;E;R;F", "Z=0;1;2;3;4;5;6;7;8;9"] + trace("L", "F", mirror(f))
          + trace("B", "P", superellipse(400, 25.5, 19.0, 3.4)) + trace("R", "D", superellipse(360, 26.0, 19.6, 3.4))
          + ["HBOX=53.00;53.00", "_ML_NOTE=checked", "VBOX=40.00;40.00", "DBL=17.00", "_ML_END=1"])

    # Invalid points: a lifted stylus gives 0, negative or unknown radii.
    bad = superellipse(72, 25.0, 18.0, 3.0)
    bad[5], bad[6], bad[40], bad[41] = 0, -1, -250, "?"
    write("invalid-points.dcs", ["JOB=INV-1"] + trace("R", "F", bad, per=12) + ["HBOX=50.00;?",
                                                                                 "DBL=?"])

    # The layout this program wrote before it used the field layout for drill records.
    old = superellipse(40, 25.0, 17.0, 3.0)
    write("jtrazelo-legacy.dcs", ["JOB=JTZ20250101120000", "DEV=ScanMontura", "VEN=JTrazelo"]
          + trace("R", "F", old) + trace("L", "F", mirror(old))
          + ["HBOX=50.00;50.00", "VBOX=34.00;34.00", "CIRC=142.44;142.44", "FCRV=4.50;4.50",
             "DBL=20.00", "DRILLE=R;22.50;4.00;1.40", "DRILLE=R;-22.50;4.00;1.40",
             "DRILLE=L;-22.50;4.00;1.40", "DRILLE=L;22.50;4.00;1.40"])

    # Drill records of every reference, per eye, with depth, feature and angle fields.
    d = superellipse(120, 25.0, 17.5, 3.0)
    refs = ["C", "CF", "CR", "EN", "ENF", "ENR", "ET", "ETF", "ETR", "BN", "BNF", "BNR", "BT",
            "BTF", "BTR", "R"]
    drills = []
    for i, ref in enumerate(refs):
        side = "R" if i % 2 == 0 else "L"
        drills.append("DRILLE=%s;%s;%.2f;%.2f;%.2f" % (side, ref, 1.5 + i, 3.0 - i * 0.25, 1.2))
    drills += ["DRILLE=R;C;21.00;2.00;1.00;23.00;2.00;1.50;S;B;10.0;-2.5",
               "DRILLE=L;C;-21.00;2.00;1.40;?;?;?;H;F;0;0;", "DRILLE=B;BN;2.00;3.00;1.20;;;;;;"]
    write("drill-references.dcs", ["JOB=DR-16", "FTYP=3", "ETYP=2;2"] + trace("R", "D", d)
          + trace("L", "D", mirror(d)) + ["HBOX=50.00;50.00", "VBOX=35.00;35.00", "DBL=19.50"]
          + drills)

    # LF only, labels in other cases and with punctuation, unknown values, no job record.
    v = superellipse(60, 22.0, 15.0, 2.8)
    write("vendor-labels.dcs", ["x-acme.version=2.1", "Note=trace after repair", "DEV=ACME 5"]
          + trace("R", "F", v) + ["acme.r.quality=97", "HBOX=44.00;?", "VBOX=30.00;?",
                                  "CIRC=?;?", "FCRV=?;?", "DBL=?", "_ACME_=", "ZZ9=;;;"], eol="\n")

    # A request without any trace: a job the lab system asks a tracer to trace.
    write("no-trace.dcs", ["REQ=INI", "JOB=Q-5", "DEV=?", "SPH=+0.25;+0.50", "FTYP=2", "ETYP=3;3"])

    # A lab system that writes one value for a record of both eyes when it applies to both (ETYP,
    # CIRC, FCRV), a pair where the eyes differ, and a drill record without its diameter.
    g = superellipse(180, 24.90, 17.60, 3.2, 0.03)
    write("lab-one-value.dcs", ["JOB=W-8812", "DEV=LMS", "FTYP=2", "ETYP=1"] + trace("R", "F", g)
          + trace("L", "F", mirror(g)) + ["HBOX=49.80;49.70", "VBOX=35.20", "CIRC=150.85", "FCRV=4.00",
                                           "DBL=18.50", "DRILLE=R;C;20.00;3.00", "SEGHT=20.00"])


if __name__ == "__main__":
    main()
