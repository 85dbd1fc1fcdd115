#!/usr/bin/env python3
"""Writes the meter data files of data/: the layouts (vars20.dat, varsQX.dat), the choice lists
and the factory templates. Run from anywhere: python3 tools/meterdata/gen_meter_data.py

Every layout starts with six 1-byte slots; slot n holds the "key" of one section and, in every
other section, a byte the program always writes as something other than 0xAA (flow_prec = 2,
flags 0/1, units code < 32, curve-fit code, range byte with bits 0-2 = 5, pad1 = 0, or a reserved
byte that stays 0). So a file of one layout never reads "AA" at another layout's key.
"""
import os
import struct

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data")

ALARMS4 = [f"event[{i}]" for i in range(4)]
EDELAY4 = [f"edelay[{i}]" for i in range(4)]
EVALUE4 = [f"evalue[{i}]" for i in range(4)]
COEFF = [f"coeff[{i}]" for i in range(12)]
COEFF1 = [f"coeff1[{i}]" for i in range(10)]
SEGMENT = [f"segment[{i}]" for i in range(21)]


def one(names):
    return [(1, n) for n in names]


def two(names):
    return [(2, n) for n in names]


def four(names):
    return [(4, n) for n in names]


# Kelvane layouts. Key slots: [3.9G] 0, [4.0A] 1, [4.1A] 2, [1.0A] 3, [1.4A] 4, [?.??] 5.
L39G = (one(["key", "flow_prec", "lcd_blind", "flow_func", "meter_num", "rsv_0"])
        + four(["serial_num"])
        + one(["updating_max", "reporting_max", "adc_val", "dac_val"] + ALARMS4 + EDELAY4)
        + two(["lockout", "pad_1"] + EVALUE4)
        + four(["meter_x", "meter_k", "meter_s"] + COEFF + ["cutoff", "cal_date"]))

L40A = (one(["flow_prec", "key", "lcd_blind", "flow_func", "meter_num", "rsv_0"])
        + one(["updating_max", "reporting_max", "adc_val", "dac_val"] + ALARMS4 + EDELAY4)
        + two(["lockout", "pad_1"] + EVALUE4)
        + four(["meter_x", "meter_k", "meter_s"] + COEFF + ["cutoff", "cal_date", "serial_num"]))

L41A = (one(["flow_prec", "lcd_blind", "key", "flow_func", "curve_fit", "rsv_0"])
        + one(["mode", "updating_max", "reporting_max", "adc_val", "dac_val"] + ALARMS4 + EDELAY4
              + ["uP_assy_rev", "wdt"])
        + two(["lockout", "pad_1"])
        + four(EVALUE4 + ["meter_x", "meter_k", "meter_s"] + COEFF
               + ["cutoff", "cal_date", "serial_num", "adc_gain", "adc_offset"] + COEFF1 + SEGMENT))

LUNK = (one(["flow_prec", "lcd_blind", "flow_func", "rsv_0", "rsv_1", "key"])
        + one(["updating_max", "reporting_max", "adc_val", "dac_val"] + ALARMS4 + EDELAY4)
        + two(["lockout", "pad_1"] + EVALUE4)
        + four(["meter_x", "meter_k", "meter_s"] + COEFF + ["cutoff", "cal_date", "serial_num"]))

QX_REST = (one(["tempflow", "polarity", "hold2", "uP_assy_rev", "wdt", "width", "adc_val", "dac_val",
                "reporting_max", "updating_max", "event[2]", "event[3]", "edelay[2]", "edelay[3]"])
           + two(["lockout", "pad"])
           + four(["meter_x", "meter_k", "meter_s"] + COEFF
                  + ["cutoff", "cal_date", "serial_num", "evalue[2]", "evalue[3]"]))

Q10A = one(["pad1", "flow_prec", "hart", "key", "voltage", "flow_func"]) + one(["lcd_blind"]) + QX_REST
Q14A = one(["pad1", "flow_prec", "hart", "voltage", "key", "flow_func"]) + one(["lcd_blind"]) + QX_REST

KEY_SLOT = {"[3.9G]": 0, "[4.0A]": 1, "[4.1A]": 2, "[1.0A]": 3, "[1.4A]": 4, "[?.??]": 5}
VARS20 = [("[3.9G]", L39G), ("[4.0A]", L40A), ("[4.1A]", L41A), ("[1.0A]", Q10A),
          ("[1.4A]", Q14A), ("[?.??]", LUNK)]
# Quixal firmware before 1.3A reads its layout under "[4.1A]" of varsQX.dat: the 1.0A layout.
VARSQX = [("[1.4A]", Q14A), ("[1.0A]", Q10A), ("[4.1A]", Q10A)]


def check(name, layout):
    names = [n for _, n in layout]
    assert len(names) == len(set(names)), name
    assert len(layout) <= 255 and sum(s for s, _ in layout) <= 256, name
    offsets, pos = {}, 0
    for size, n in layout:
        offsets[n] = pos
        pos += size
    return offsets, pos


def write_layouts(fname, sections):
    lines = []
    for header, layout in sections:
        check(header, layout)
        lines.append(header)
        lines += [f"{size} {n}" for size, n in layout]
        lines.append(".")
    with open(os.path.join(DATA, fname), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def image_text(layout, values):
    """File form of the image: MSB first per variable, a blank after every byte."""
    out = []
    for size, n in layout:
        v = values.get(n, 0)
        if isinstance(v, float):
            raw = struct.pack("<f", v)
        else:
            raw = struct.pack("<I", v & 0xFFFFFFFF)[:size]
        out += [f"{b:02X} " for b in reversed(raw[:size])]
    return "".join(out)


def cal_date(month, day, year2):
    return (day << 24) | (month << 16) | (year2 << 8)


KELVANE_COMMON = {
    "key": 0xAA, "flow_prec": 2, "lcd_blind": 0, "flow_func": 0, "updating_max": 10,
    "reporting_max": 8, "adc_val": 10, "lockout": 0, "pad_1": 1,
    "meter_x": 0.5454, "meter_k": 6000.0, "meter_s": 6000.0,
    "coeff[1]": 1.0, "coeff[10]": 1.0, "coeff[11]": 0.0, "cutoff": 1.0,
    "cal_date": cal_date(1, 1, 27), "serial_num": 0,
}
for i in range(4):
    KELVANE_COMMON[f"edelay[{i}]"] = 5
for i in range(10):
    KELVANE_COMMON.setdefault(f"coeff[{i}]", 0.0)

PRE41 = dict(KELVANE_COMMON, meter_num=5, dac_val=10)  # range 1; bit 7 clear: primary coefficients
V41 = dict(KELVANE_COMMON, mode=0x20, dac_val=10, curve_fit=1, uP_assy_rev=1, wdt=1,
           adc_gain=1.0, adc_offset=0.0)
QUIXAL = {
    "key": 0xAA, "flow_prec": 2, "pad1": 0, "lcd_blind": 0, "hart": 0, "voltage": 0, "flow_func": 0,
    "tempflow": 0, "polarity": 0, "hold2": 0, "uP_assy_rev": 1, "wdt": 1, "width": 2,
    "adc_val": 10, "dac_val": 10, "reporting_max": 8, "updating_max": 10, "edelay[2]": 5,
    "edelay[3]": 5, "lockout": 0, "pad": 1, "meter_x": 0.5454, "meter_k": 6000.0,
    "meter_s": 6000.0, "coeff[1]": 1.0, "coeff[10]": 1.0, "cutoff": 1.0,
    "cal_date": cal_date(1, 1, 27), "serial_num": 0,
}

TEMPLATES = [("39E_Template.mtr", L41A, V41), ("39G_Template.mtr", L39G, PRE41),
             ("40x_Template.mtr", L40A, PRE41), ("41A_Template.mtr", L41A, V41),
             ("Quixal.qxm", Q14A, QUIXAL)]

# Engineering units by code: the first four characters name the unit uniquely (no blanks).
UNITS = [
    "SCFM  Standard cubic feet per minute",
    "SCFH  Standard cubic feet per hour",
    "LB/M  Pounds per minute (air)",
    "LB/H  Pounds per hour (air)",
    "IN3M  Cubic inches per minute (area in sq in)",
    "IN3H  Cubic inches per hour (area in sq in)",
    "ACFM  Actual cubic feet per minute",
    "LB/D  Pounds per day (air)",
    "SFPM  Standard feet per minute (velocity)",
    "SFPS  Standard feet per second (velocity)",
    "MSCH  Thousand standard cubic feet per hour",
    "MSCD  Thousand standard cubic feet per day",
    "SP12  Spare code 12 (velocity, SFPM)",
    "SP13  Spare code 13 (velocity, SFPM)",
    "SP14  Spare code 14 (velocity, SFPM)",
    "SP15  Spare code 15 (velocity, SFPM)",
    "SLPM  Standard litres per minute (area in sq m)",
    "SCCM  Standard cubic centimetres per minute (area in sq cm)",
    "NM3H  Normal cubic metres per hour",
    "NM3M  Normal cubic metres per minute",
    "KG/M  Kilograms per minute (air)",
    "KG/H  Kilograms per hour (air)",
    "KG/S  Kilograms per second (air)",
    "SLPH  Standard litres per hour",
    "MPSE  Metres per second (velocity)",
    "MPMI  Metres per minute (velocity)",
    "MPHR  Metres per hour (velocity)",
    "SM3H  Standard cubic metres per hour",
    "NLPM  Normal litres per minute",
    "NCCM  Normal cubic centimetres per minute",
    "NLPH  Normal litres per hour",
    "VELO  Velocity, feet per minute",
]

# The datasheet prints the first 10 characters of the chosen line: they name the function.
ALARMS20 = ["Disabled   relay unused", "High Flow  alarm", "Low Flow   alarm",
            "Tot. Pulse totalizer pulse", "High Temp  alarm", "Low Temp   alarm",
            "Sens Fault sensor fault", "Range Chg  range change"]
ALARMSQX = ["Disabled   relay unused", "High Flow  alarm", "Low Flow   alarm",
            "Tot. Pulse totalizer pulse", "Sens Fault sensor fault"]


def pad(text, width=62):
    return text.ljust(width - 1) + " "


def write_lines(fname, lines):
    with open(os.path.join(DATA, fname), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    write_layouts("vars20.dat", VARS20)
    write_layouts("varsQX.dat", VARSQX)
    for header, layout in VARS20:
        offsets, _ = check(header, layout)
        for other, slot in KEY_SLOT.items():
            if other != header:
                assert offsets["key"] != slot
        assert offsets["key"] == KEY_SLOT[header], header
    write_lines("units20.dat", [f"{pad(u)}{c + 101:03d}" for c, u in enumerate(UNITS)])
    # The 3.9G list: the same codes with the older, shorter wording.
    write_lines("units15.dat", [f"{pad(u.split('(')[0].strip(), 40)}{c + 101:03d}"
                                for c, u in enumerate(UNITS)])
    write_lines("alarms20.dat", [f"{pad(a, 30)}{c + 402:03d}" for c, a in enumerate(ALARMS20)])
    write_lines("alarmsQX.dat", [f"{pad(a, 30)}{c + 402:03d}" for c, a in enumerate(ALARMSQX)])
    write_lines("out.dat", ["Flow/Flow  I-Out flow, V-Out flow        0",
                            "Flow/Temp  I-Out flow, V-Out temperature 1",
                            "Temp/Flow  I-Out temperature, V-Out flow 2",
                            "Temp/Temp  I-Out temperature, V-Out temp 3"])
    write_lines("freq.dat", ["Low       Active low pulse   0",
                             "High      Active high pulse  1"])
    for fname, layout, values in TEMPLATES:
        names = {n for _, n in layout}
        assert set(values) <= names, (fname, set(values) - names)
        with open(os.path.join(DATA, fname), "w", newline="") as f:
            f.write(image_text(layout, values))


if __name__ == "__main__":
    main()
