#!/usr/bin/python3
# Prints what openpyxl reads from a workbook, one item per line, fields
# separated by tabs (tests compare it):
#   sheet  NAME  FROZEN            the top left cell below and right of frozen panes
#   cell   SHEET COORD TYPE VALUE FORMAT   TYPE n number (repr), s text, d date and time
#   chart  SHEET TITLE XREF YREF COLOUR    one line per series
import sys

import openpyxl


def clean(text):
    return str(text).replace("\t", " ").replace("\n", " ")


def title_of(chart):
    t = chart.title
    if t is None or t.tx is None or t.tx.rich is None:
        return ""
    return "".join(r.t for p in t.tx.rich.p for r in (p.r or []))


def main(path):
    wb = openpyxl.load_workbook(path)
    for ws in wb.worksheets:
        print("sheet", clean(ws.title), ws.freeze_panes or "", sep="\t")
    for ws in wb.worksheets:
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                if isinstance(c.value, str):
                    kind, value = "s", c.value
                elif isinstance(c.value, (int, float)):
                    kind, value = "n", repr(float(c.value))
                else:
                    kind, value = "d", c.value.isoformat()
                print("cell", clean(ws.title), c.coordinate, kind, clean(value),
                      clean(c.number_format), sep="\t")
        for chart in ws._charts:
            for s in chart.series:
                fill = s.spPr.ln.solidFill if s.spPr is not None and s.spPr.ln is not None else None
                colour = fill.srgbClr if fill is not None and fill.srgbClr is not None else ""
                print("chart", clean(ws.title), clean(title_of(chart)), s.xVal.numRef.f,
                      s.yVal.numRef.f, colour, sep="\t")


if __name__ == "__main__":
    main(sys.argv[1])
