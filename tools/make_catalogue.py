#!/usr/bin/env python3
"""Writes the shipped ECU catalogue under data/ECU.

The catalogue is data that comes with Kestrel: three configuration files
(ECU/*.ini) and an ECU folder for each of them (ECU/TOYOTA for the Camry,
ECU/TOYOTA_3ZZ for the Corolla, ECU/TOYOTA9141 for the Carina), each with its
parameter definitions VORTA.ini and trouble-code texts dtc.ini. Every car
matches a scenario of the simulated ECU (ecusim/scenarios): engine, gearbox,
protocol, identifiers and trouble codes. The program
reads them by line position, in code page 1251 with CR LF line ends, so this
script is the readable source and the files it writes are committed.

    python3 tools/make_catalogue.py          # rewrite data/ECU
    python3 tools/make_catalogue.py --check  # exit 1 when data/ECU differs

The build copies data/ECU into build/run/ECU and places VORTA.so into every
ECU folder.
"""

import os
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
OUT = os.path.join(ROOT, "data", "ECU")


def encode(lines):
    return "".join(line + "\r\n" for line in lines).encode("cp1251")


# --------------------------------------------------------------------------- requests

def kwp(*payload):
    """An ISO 14230 request with physical addressing: format byte, ECU 10, tester F1."""
    return " ".join("%02X" % b for b in (0x80 + len(payload), 0x10, 0xF1) + payload)


def iso9141(*payload):
    """An ISO 9141 request: 68 6A, tester F1."""
    return " ".join("%02X" % b for b in (0x68, 0x6A, 0xF1) + payload)


def mode01(frame, pids):
    return [frame(0x01, p) for p in pids]


def local21(frame, lids):
    return [frame(0x21, l) for l in lids]


# Actuator tests (service 30): LID, then the two control bytes that the
# vehicle module overwrites before it arms a test.
TESTS_FULL = [(0x18, 0x64, 0x00), (0x0C, 0xFF, 0x80), (0x01, 0x80, 0x00),
              (0x13, 0x01, 0x00), (0x14, 0x02, 0x00), (0x15, 0x04, 0x00)]
TESTS_9141 = [(0x18, 0x64, 0x00), (0x13, 0x01, 0x00), (0x14, 0x02, 0x00)]

FREEZE_PIDS = [0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0E, 0x0F, 0x11]


def freeze_requests(frame, air_pid=None):
    """Service 02 requests of frame 0. A car whose ECU folder defines fuel
    quantities on its air PID (0B or 10 of service 01) does not ask that PID
    in freeze frames: every service 01 definition of a PID also names a
    freeze-frame row, and service 02 has no derived quantities, so the fuel
    rows would show the raw air value there."""
    pids = sorted(FREEZE_PIDS + ([] if air_pid is None else [air_pid]))
    return [frame(0x02, p, 0x00) for p in pids]


def test_requests(frame, tests):
    out = [frame(0x30, lid, a, b) for lid, a, b in tests]
    # Test mode: enter (10 01 00) and leave (10 00); the live table releases
    # the enter request only through the actuator-test procedure.
    out.append(frame(0x10, 0x01, 0x00))
    out.append(frame(0x10, 0x00))
    return out


def info_requests(frame):
    return ([frame(0x01, p) for p in (0x00, 0x20, 0x40, 0x13, 0x1C)] +
            [frame(0x02, 0x00, 0x00)] +
            [frame(0x21, l) for l in (0x00, 0x20, 0x40, 0x60, 0x80, 0xA0, 0xC0, 0xE0, 0xD3)] +
            [frame(0x30, 0x00)] +
            [frame(0x09, t) for t in (0x00, 0x02, 0x04, 0x06)])


def configuration(car, ecu, folder, protocol, w5, displacement, lists, kw2="8F",
                  map_correction=100):
    settings = [
        car, ecu, folder,
        "COM1",    # 4 port (ports.ini maps it to a device)
        "10400",   # 5 line speed
        str(w5),   # 6 W5
        "120",     # 7 W1..4 + transfer time
        "50",      # 8 W4
        "60",      # 9 P3
        "80",      # 10 P2 + receive time
        "0",       # 11 P4: a frame in one write
        "25",      # 12 PWakeUpL
        "25",      # 13 PWakeUpH
        str(protocol),  # 14 0 5-baud, 1 fast, 2 ISO 9141
        "0",       # 15 physical addressing
        "0",       # 16 exchange log off
        "0",       # 17 dashboard autostart off
        "15",      # 18 reconnect after 1.5 s
        "10",      # 19 ECU address
        kw2,       # 20 KW2: the tester sends its complement as the inverted key byte 2
        "F1",      # 21 tester address
        "33",      # 22 request address
        "210",     # 23 injector flow, ml/min
        "4",       # 24 cylinders
        str(displacement),  # 25 displacement, ml
        "760",     # 26 fuel coefficient
        str(map_correction),  # 27 MAP correction, per cent
    ]
    dashboard, live, freeze, dtc_read, dtc_clear, reset_count, info = lists
    lines = list(settings)
    for requests in (dashboard, live, freeze, dtc_read):
        lines.append(str(len(requests)))
        lines.extend(requests)
    lines.append(str(len(dtc_clear)))
    lines.append(str(reset_count))
    lines.extend(dtc_clear)
    lines.append(str(len(info)))
    lines.extend(info)
    return lines


def camry():
    f = kwp
    dashboard = local21(f, [0x01, 0x04, 0x05, 0x0C, 0x0D, 0x11, 0xE4, 0xE8, 0xB4, 0xE3,
                            0xF8, 0xF9])
    # Engine values by local identifier, as the family's own testers ask them:
    # the derived fuel quantities read their inputs from the same area.
    live = (mode01(f, [0x01, 0x03, 0x13, 0x14, 0x15, 0x1C, 0x1F, 0x2F, 0x33, 0x42, 0x44]) +
            local21(f, [0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
                        0xB4, 0xBB, 0xE1, 0xE2, 0xE3, 0xE4, 0xE8, 0xF8, 0xF9, 0xFC, 0xFD]) +
            test_requests(f, TESTS_FULL))
    # 2AZ-FE measures the air by mass (PID 10); its fuel rows are service 21 ones.
    freeze = freeze_requests(f, air_pid=0x10)
    dtc_read = [f(0x03), f(0x07)]
    dtc_clear = [f(0x04), f(0x14, 0xFF, 0x00), f(0x11, 0x01)]
    return configuration("Toyota Camry (ACV30) 2.4", "2AZ-FE, АКПП U241E, ISO 14230 Fast init",
                         "ECU\\TOYOTA", 1, 300, 2362,
                         (dashboard, live, freeze, dtc_read, dtc_clear, 1, info_requests(f)))


def corolla():
    f = kwp
    dashboard = mode01(f, [0x01, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0F, 0x10, 0x11])
    # The fuel rows of PID 10 read the speed, intake temperature and trims of
    # service 01 too. The ambient temperature comes from LID 9B, which the
    # module decodes as A - 40 like the ECU encodes it (PID 46 it reads as A).
    live = (mode01(f, [0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
                       0x13, 0x14, 0x15, 0x1F, 0x21, 0x2E, 0x2F, 0x33, 0x3C, 0x42, 0x43,
                       0x45]) +
            local21(f, [0x9B, 0xE1, 0xE3, 0xE8]) +
            test_requests(f, TESTS_FULL))
    freeze = freeze_requests(f)
    dtc_read = [f(0x03), f(0x07)]
    dtc_clear = [f(0x04), f(0x11, 0x01)]
    return configuration("Toyota Corolla (ZZE121) 1.6", "3ZZ-FE, МКПП (5 ступеней), ISO 14230 5-baud init",
                         "ECU\\TOYOTA_3ZZ", 0, 400, 1598,
                         (dashboard, live, freeze, dtc_read, dtc_clear, 1, info_requests(f)))


def carina():
    f = iso9141
    # 7A-FE measures the air by manifold pressure (PID 0B, no PID 10); the
    # engine ECU also drives the automatic gearbox (LIDs B4, BB, F8, F9).
    dashboard = (mode01(f, [0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0D, 0x0F, 0x11]) +
                 local21(f, [0xB4, 0xF8, 0xF9]))
    live = (mode01(f, [0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x11,
                       0x13, 0x14, 0x15, 0x1C]) +
            local21(f, [0xB4, 0xBB, 0xE1, 0xE3, 0xF8, 0xF9]) +
            test_requests(f, TESTS_9141))
    # An ISO 9141 answer has no length: the receiver files it when the next
    # frame begins. The one-pass lists therefore end with a harmless request
    # (the supported-PID mask) so that their last real answer is filed too.
    tail = [f(0x01, 0x00)]
    freeze = freeze_requests(f) + tail
    dtc_read = [f(0x03), f(0x07)] + tail
    dtc_clear = [f(0x04)] + tail
    return configuration("Toyota Carina E (AT190) 1.8", "7A-FE, АКПП (4 ступени, O/D), ISO 9141-2",
                         "ECU\\TOYOTA9141", 2, 400, 1762,
                         (dashboard, live, freeze, dtc_read, dtc_clear, 0,
                          info_requests(f) + tail),
                         kw2="08",  # ISO 9141 key bytes 08 08: the tester answers F7
                         # The fuel figures from the manifold pressure assume full
                         # cylinders; this engine fills about 70 % of them at part load.
                         map_correction=70)


# --------------------------------------------------------------------------- VORTA.ini

# Records: code, name, unit, selector (high nibble byte/variant, low nibble
# bit 1..8; for service 30 the test's flags: bit 7 numeric, bits 0-3 bit number).
def common_01():
    return [
        ("0202", "Код, сохранивший стоп-кадр", "", "00"),
        ("0101", "Лампа неисправности (MIL)", "", "08"),
        ("0101", "Монитор пропусков зажигания поддерживается", "", "11"),
        ("0101", "Монитор топливной системы поддерживается", "", "12"),
        ("0101", "Количество кодов неисправностей", "шт.", "00"),
        ("0103", "Состояние топливной системы", "", "00"),
        ("0104", "Расчетная нагрузка двигателя", "%", "00"),
        ("0105", "Температура охлаждающей жидкости", "°C", "00"),
        ("0106", "Краткосрочная коррекция топлива (Головка 1)", "%", "00"),
        ("0107", "Долгосрочная коррекция топлива (Головка 1)", "%", "00"),
        ("0108", "Краткосрочная коррекция топлива (Головка 2)", "%", "00"),
        ("0109", "Долгосрочная коррекция топлива (Головка 2)", "%", "00"),
        ("010A", "Давление топлива", "кПа", "00"),
        ("010B", "Абсолютное давление во впускном коллекторе", "кПа", "00"),
        ("010C", "Обороты двигателя", "об/мин", "00"),
        ("010D", "Скорость автомобиля", "км/ч", "00"),
        ("010E", "Угол опережения зажигания", "°", "00"),
        ("010F", "Температура воздуха на впуске", "°C", "00"),
        ("0110", "Массовый расход воздуха", "г/с", "10"),
        ("0111", "Положение дроссельной заслонки", "%", "00"),
        ("0113", "Датчик O2 №2 (Головка 1) установлен", "", "02"),
        ("0113", "Датчик O2 №1 (Головка 1) установлен", "", "01"),
        ("0114", "Коррекция по датчику O2 №1 (Головка 1)", "%", "10"),
        ("0114", "Напряжение датчика O2 №1 (Головка 1)", "В", "00"),
        ("0115", "Напряжение датчика O2 №2 (Головка 1)", "В", "00"),
        ("011C", "Тип OBD (код)", "", "00"),
        ("011F", "Время работы после запуска", "с", "00"),
        ("0121", "Пробег с включенной лампой MIL", "км", "00"),
        ("012E", "Продувка адсорбера (команда)", "%", "00"),
        ("012F", "Уровень топлива", "%", "00"),
        ("0133", "Атмосферное давление", "кПа", "00"),
        ("013C", "Температура катализатора (Головка 1, датчик 1)", "°C", "00"),
        ("0142", "Напряжение питания блока управления", "В", "00"),
        ("0143", "Абсолютная нагрузка", "%", "00"),
        ("0144", "Заданный коэффициент избытка воздуха (лямбда)", "", "00"),
        ("0145", "Относительное положение дроссельной заслонки", "%", "00"),
        ("0147", "Абсолютное положение дроссельной заслонки B", "%", "00"),
        ("0149", "Положение педали акселератора D", "%", "00"),
        ("014C", "Заданное положение дроссельной заслонки", "%", "00"),
    ]


# Fuel quantities of service 01, by what the engine measures its air with.
# They read their inputs (speed, intake temperature, trims, engine speed)
# from the Mode 01 area, so the live list asks those PIDs with service 01.
DERIVED_01 = {
    "MAP": [
        ("010B", "Расход воздуха по давлению (MAP)", "г/с", "10"),
        ("010B", "Расход топлива по давлению (MAP)", "мл/ч", "20"),
        ("010B", "Расход топлива на 100 км по давлению (MAP)", "л/100км", "30"),
    ],
    "MAF": [
        ("0110", "Расход топлива по расходу воздуха (MAF)", "мл/ч", "20"),
        ("0110", "Расход топлива на 100 км по расходу воздуха (MAF)", "л/100км", "30"),
    ],
}


def local_standard():
    # The family numbers its local identifiers 01..4E like the PIDs of service 01.
    # The derived fuel quantities are defined here only: they read their inputs
    # from the area of their own service, and a freeze frame (service 02) has
    # no derived quantities.
    return [
        ("2101", "Лампа неисправности (MIL)", "", "08"),
        ("2101", "Количество кодов неисправностей", "шт.", "00"),
        ("2104", "Расчетная нагрузка двигателя", "%", "00"),
        ("2105", "Температура охлаждающей жидкости", "°C", "00"),
        ("2106", "Краткосрочная коррекция топлива (Головка 1)", "%", "00"),
        ("2107", "Долгосрочная коррекция топлива (Головка 1)", "%", "00"),
        ("210B", "Расход воздуха по давлению (MAP)", "г/с", "10"),
        ("210B", "Расход топлива по давлению (MAP)", "мл/ч", "20"),
        ("210B", "Расход топлива на 100 км по давлению (MAP)", "л/100км", "30"),
        ("210B", "Абсолютное давление во впускном коллекторе", "кПа", "00"),
        ("210C", "Обороты двигателя", "об/мин", "00"),
        ("210D", "Скорость автомобиля", "км/ч", "00"),
        ("210E", "Угол опережения зажигания", "°", "00"),
        ("210F", "Температура воздуха на впуске", "°C", "00"),
        ("2110", "Расход топлива по расходу воздуха (MAF)", "мл/ч", "20"),
        ("2110", "Расход топлива на 100 км по расходу воздуха (MAF)", "л/100км", "30"),
        ("2110", "Массовый расход воздуха", "г/с", "10"),
        ("2111", "Положение дроссельной заслонки", "%", "00"),
    ]


# Bit rows of the shift lever, LID F9 AB (selector: high nibble data byte, low
# nibble bit number): A 0x01 L, 0x02 2, 0x04 R, 0x10 overdrive off; B 0x01 3,
# 0x04 D. Neutral and park set none of these bits.
LEVER_BITS = {
    "R": "03", "2": "02", "L": "01", "3": "11", "D": "13",
}


def lever_rows(positions, overdrive_switch):
    rows = [("21F9", "Селектор: " + p, "", LEVER_BITS[p]) for p in positions]
    if overdrive_switch:
        rows.append(("21F9", "Овердрайв выключен (O/D OFF)", "", "05"))
    return rows


def local_family(lever=None, overdrive_switch=False):
    """The family's own LIDs; `lever` names the positions of an automatic
    gearbox's lever that have a bit (None: a manual gearbox)."""
    records = [
        ("219B", "Температура окружающего воздуха", "°C", "00"),
        ("21E1", "Топливный насос", "", "01"),
        ("21E1", "Вентилятор охлаждения", "", "02"),
        ("21E1", "Клапан продувки адсорбера (EVAP)", "", "03"),
        ("21E2", "Напряжение датчика нагрузки", "В", "10"),
        ("21E2", "Заданные обороты холостого хода", "об/мин", "00"),
        ("21E3", "Напряжение бортовой сети", "В", "00"),
        ("21E4", "Расход топлива по времени впрыска", "мл/ч", "10"),
        ("21E4", "Расход топлива на 100 км по времени впрыска", "л/100км", "20"),
        ("21E4", "Время впрыска", "мс", "00"),
        ("21E8", "Дроссель закрыт (холостой ход)", "", "01"),
        ("21E8", "Отсечка топлива", "", "11"),
    ]
    if lever is not None:
        records += [
            ("21B1", "Положение дроссельной заслонки (АКПП)", "%", "00"),
            ("21B4", "Температура жидкости АКПП", "°C", "00"),
            ("21BB", "Передача АКПП", "", "00"),
            ("21F8", "Передача и режимы АКПП", "", "00"),
        ] + lever_rows(lever, overdrive_switch) + [
            ("21FC", "Обороты турбины гидротрансформатора", "об/мин", "00"),
            ("21FD", "Обороты выходного вала АКПП", "об/мин", "00"),
        ]
    return records


def tests(full):
    # Flags 80: a numeric test; 01..08: the bit an on/off test switches.
    records = [("3018", "Обороты ХХ", "", "80")]
    if full:
        records += [("300C", "Угол опережения", "", "80"), ("3001", "Впрыск", "", "80")]
    records += [("3013", "Топливный насос", "", "01"), ("3014", "Вентилятор охлаждения", "", "02")]
    if full:
        records += [("3015", "Клапан EVAP", "", "03")]
    return records


def vehicle_info():
    return [
        ("0902", "Идентификационный номер (VIN)", "", "00"),
        ("0904", "Номер калибровки", "", "00"),
        ("0906", "Контрольное число калибровки (CVN)", "", "00"),
    ]


def vorta(family, full_tests, air=None):
    derived = DERIVED_01[air] if air else []
    records = common_01() + derived + local_standard() + family + tests(full_tests) + vehicle_info()
    lines = []
    for code, name, unit, selector in records:
        lines += [code, name, unit, selector]
    return lines


# --------------------------------------------------------------------------- dtc.ini

CYLINDERS = range(1, 13)


def dtc_codes():
    # Code numbers are written as the digits of the code (P0171 is 171): the
    # file holds them as the four hexadecimal digits the ECU reports.
    codes = []

    def add(code, text):
        codes.append((code, text))

    def circuit5(base, what):
        add(base, "Цепь " + what + ": неисправность")
        add(base + 1, "Цепь " + what + ": выход из диапазона / характеристика")
        add(base + 2, "Цепь " + what + ": низкий уровень сигнала")
        add(base + 3, "Цепь " + what + ": высокий уровень сигнала")
        add(base + 4, "Цепь " + what + ": прерывистый сигнал")

    def circuit3(base, what, first="неисправность"):
        add(base, "Цепь " + what + ": " + first)
        add(base + 1, "Цепь " + what + ": низкий уровень сигнала")
        add(base + 2, "Цепь " + what + ": высокий уровень сигнала")

    # Variable valve timing: camshaft "A" is the intake one, "B" the exhaust one.
    for bank, base in ((1, 10), (2, 20)):
        for letter, offset in (("A (впускной)", 0), ("B (выпускной)", 3)):
            where = "распредвала %s, Головка %d" % (letter, bank)
            add(base + offset, "Цепь привода изменения фаз " + where + ": неисправность")
            add(base + offset + 1, "Фазы " + where + ": слишком ранние / характеристика системы")
            add(base + offset + 2, "Фазы " + where + ": слишком поздние")
    for code, where in ((16, "Головка 1, датчик A"), (17, "Головка 1, датчик B"),
                        (18, "Головка 2, датчик A"), (19, "Головка 2, датчик B")):
        add(code, "Рассогласование положений коленвала и распредвала (" + where + ")")
    heaters = [(30, 53, "Головка 1, датчик 1"), (36, 54, "Головка 1, датчик 2"),
               (42, 55, "Головка 1, датчик 3"), (50, 59, "Головка 2, датчик 1"),
               (56, 60, "Головка 2, датчик 2"), (62, 61, "Головка 2, датчик 3")]
    for base, resistance, where in heaters:
        circuit3(base, "управления подогревом датчика O2 (" + where + ")")
        add(resistance, "Сопротивление подогревателя датчика O2 (" + where + ") вне нормы")
    add(68, "Рассогласование сигналов датчика MAP / MAF и датчика положения дроссельной заслонки")
    add(69, "Рассогласование сигналов датчиков абсолютного и атмосферного давления")
    circuit5(70, "датчика температуры окружающего воздуха")
    for base, what in ((75, "впускных клапанов, Головка 1"), (78, "выпускных клапанов, Головка 1"),
                       (81, "впускных клапанов, Головка 2"), (84, "выпускных клапанов, Головка 2")):
        circuit3(base, "электромагнитного клапана управления " + what)
    add(87, "Давление топлива в рампе / системе: слишком низкое")
    add(88, "Давление топлива в рампе / системе: слишком высокое")
    add(89, "Регулятор давления топлива 1: неверная характеристика")
    add(90, "Цепь управления регулятором давления топлива 1: неисправность")
    circuit5(95, "датчика температуры воздуха на впуске 2")
    circuit5(100, "датчика массового расхода воздуха (MAF)")
    circuit5(105, "датчика абсолютного давления (MAP) / атмосферного давления")
    circuit5(110, "датчика температуры воздуха на впуске")
    circuit5(115, "датчика температуры охлаждающей жидкости")
    circuit5(120, "датчика положения дроссельной заслонки A")
    add(125, "Недостаточная температура охлаждающей жидкости для управления по обратной связи")
    add(128, "Термостат: температура охлаждающей жидкости ниже рабочей")
    sensors = [(130, "Головка 1, датчик 1"), (136, "Головка 1, датчик 2"),
               (142, "Головка 1, датчик 3"), (150, "Головка 2, датчик 1"),
               (156, "Головка 2, датчик 2"), (162, "Головка 2, датчик 3")]
    for base, where in sensors:
        add(base, "Датчик O2 (" + where + "): неисправность цепи")
        add(base + 1, "Датчик O2 (" + where + "): низкое напряжение")
        add(base + 2, "Датчик O2 (" + where + "): высокое напряжение")
        add(base + 3, "Датчик O2 (" + where + "): медленный отклик")
        add(base + 4, "Датчик O2 (" + where + "): нет активности")
        add(base + 5, "Датчик O2 (" + where + "): неисправность цепи подогрева")
    for bank, base in ((1, 170), (2, 173)):
        add(base, "Коррекция топливоподачи (Головка %d): неисправность" % bank)
        add(base + 1, "Слишком бедная смесь (Головка %d)" % bank)
        add(base + 2, "Слишком богатая смесь (Головка %d)" % bank)
    circuit5(180, "датчика температуры топлива A")
    circuit5(185, "датчика температуры топлива B")
    circuit5(190, "датчика давления топлива в рампе")
    circuit5(195, "датчика температуры моторного масла")
    add(200, "Цепь форсунок: неисправность")
    for n in CYLINDERS:
        add(200 + n, "Цепь форсунки цилиндра %d: неисправность" % n)
    add(217, "Перегрев двигателя")
    add(219, "Превышение максимальных оборотов двигателя")
    circuit5(220, "датчика положения дроссельной заслонки B")
    circuit5(225, "датчика положения дроссельной заслонки C")
    add(230, "Цепь реле топливного насоса: неисправность")
    add(231, "Цепь реле топливного насоса: низкий уровень")
    add(232, "Цепь реле топливного насоса: высокий уровень")
    add(300, "Случайные / множественные пропуски зажигания")
    for n in CYLINDERS:
        add(300 + n, "Пропуски зажигания в цилиндре %d" % n)
    add(320, "Цепь датчика оборотов двигателя (распределитель): неисправность")
    add(321, "Цепь датчика оборотов двигателя: выход из диапазона / характеристика")
    add(322, "Цепь датчика оборотов двигателя: нет сигнала")
    circuit5(325, "датчика детонации 1 (Головка 1)")
    circuit5(330, "датчика детонации 2 (Головка 2)")
    circuit5(335, "датчика положения коленчатого вала A")
    circuit5(340, "датчика положения распределительного вала")
    add(350, "Цепь катушки зажигания: неисправность")
    for n in CYLINDERS:
        add(350 + n, "Цепь катушки зажигания %s: неисправность" % "ABCDEFGHIJKL"[n - 1])
    add(400, "Система рециркуляции ОГ (EGR): неисправность")
    add(401, "Система EGR: недостаточный поток")
    add(402, "Система EGR: избыточный поток")
    add(403, "Цепь клапана EGR: неисправность")
    add(404, "Цепь клапана EGR: выход из диапазона / характеристика")
    add(405, "Датчик A системы EGR: низкий уровень")
    add(406, "Датчик A системы EGR: высокий уровень")
    add(410, "Система подачи вторичного воздуха: неисправность")
    add(411, "Система подачи вторичного воздуха: неверный поток")
    add(412, "Цепь клапана вторичного воздуха A: неисправность")
    for bank, base in ((1, 420), (2, 430)):
        add(base, "Эффективность катализатора ниже порога (Головка %d)" % bank)
        add(base + 1, "Эффективность прогретого катализатора ниже порога (Головка %d)" % bank)
        add(base + 2, "Эффективность основного катализатора ниже порога (Головка %d)" % bank)
        add(base + 3, "Эффективность нагреваемого катализатора ниже порога (Головка %d)" % bank)
        add(base + 4, "Температура нагреваемого катализатора ниже порога (Головка %d)" % bank)
    evap = [
        (440, "Система улавливания паров топлива (EVAP): неисправность"),
        (441, "Система EVAP: неверный поток продувки"),
        (442, "Система EVAP: обнаружена малая утечка"),
        (443, "Цепь клапана продувки адсорбера: неисправность"),
        (444, "Цепь клапана продувки адсорбера: обрыв"),
        (445, "Цепь клапана продувки адсорбера: замыкание"),
        (446, "Цепь управления вентиляцией EVAP: неисправность"),
        (447, "Цепь управления вентиляцией EVAP: обрыв"),
        (448, "Цепь управления вентиляцией EVAP: замыкание"),
        (449, "Цепь клапана вентиляции EVAP: неисправность"),
        (450, "Датчик давления системы EVAP: неисправность"),
        (451, "Датчик давления системы EVAP: выход из диапазона / характеристика"),
        (452, "Датчик давления системы EVAP: низкий уровень"),
        (453, "Датчик давления системы EVAP: высокий уровень"),
        (454, "Датчик давления системы EVAP: прерывистый сигнал"),
        (455, "Система EVAP: обнаружена большая утечка"),
        (456, "Система EVAP: обнаружена очень малая утечка"),
    ]
    for code, text in evap:
        add(code, text)
    circuit5(460, "датчика уровня топлива")
    add(480, "Цепь управления вентилятором охлаждения 1: неисправность")
    add(481, "Цепь управления вентилятором охлаждения 2: неисправность")
    add(482, "Цепь управления вентилятором охлаждения 3: неисправность")
    add(500, "Датчик скорости автомобиля: неисправность")
    add(501, "Датчик скорости автомобиля: выход из диапазона / характеристика")
    add(502, "Датчик скорости автомобиля: низкий уровень сигнала")
    add(503, "Датчик скорости автомобиля: прерывистый / неустойчивый сигнал")
    add(505, "Система регулирования холостого хода: неисправность")
    add(506, "Обороты холостого хода ниже заданных")
    add(507, "Обороты холостого хода выше заданных")
    add(510, "Выключатель закрытого положения дроссельной заслонки: неисправность")
    circuit5(520, "датчика давления моторного масла")
    circuit5(530, "датчика давления хладагента кондиционера")
    circuit5(550, "датчика давления усилителя рулевого управления")
    add(560, "Напряжение бортовой сети: неисправность")
    add(561, "Напряжение бортовой сети: нестабильно")
    add(562, "Напряжение бортовой сети: низкое")
    add(563, "Напряжение бортовой сети: высокое")
    add(565, "Круиз-контроль: сигнал включения неисправен")
    add(566, "Круиз-контроль: сигнал отключения неисправен")
    add(567, "Круиз-контроль: сигнал возобновления неисправен")
    add(571, "Выключатель тормоза круиз-контроля A: неисправность цепи")
    add(600, "Последовательная линия связи: неисправность")
    add(601, "Блок управления: ошибка контрольной суммы памяти")
    add(602, "Блок управления: ошибка программирования")
    add(603, "Блок управления: ошибка энергонезависимой памяти (KAM)")
    add(604, "Блок управления: ошибка оперативной памяти (RAM)")
    add(605, "Блок управления: ошибка постоянной памяти (ROM)")
    add(606, "Блок управления: неисправность процессора")
    add(615, "Цепь реле стартера: неисправность")
    add(620, "Цепь управления генератором: неисправность")
    add(627, "Цепь управления топливным насосом: обрыв")
    add(700, "Система управления АКПП: неисправность")
    circuit5(705, "датчика положения селектора АКПП (PRNDL)")
    circuit5(710, "датчика температуры жидкости АКПП")
    add(715, "Цепь датчика оборотов турбины: неисправность")
    add(716, "Цепь датчика оборотов турбины: выход из диапазона / характеристика")
    add(717, "Цепь датчика оборотов турбины: нет сигнала")
    add(720, "Цепь датчика оборотов выходного вала: неисправность")
    add(721, "Цепь датчика оборотов выходного вала: выход из диапазона / характеристика")
    add(722, "Цепь датчика оборотов выходного вала: нет сигнала")
    add(725, "Цепь сигнала оборотов двигателя для АКПП: неисправность")
    add(730, "Неверное передаточное отношение")
    for gear in range(1, 6):
        add(730 + gear, "Неверное передаточное отношение на %d-й передаче" % gear)
    add(740, "Цепь муфты блокировки гидротрансформатора: неисправность")
    add(741, "Муфта блокировки гидротрансформатора: не включается")
    add(742, "Муфта блокировки гидротрансформатора: не выключается")
    add(743, "Цепь муфты блокировки гидротрансформатора: электрическая неисправность")
    add(745, "Электромагнитный клапан регулирования давления: неисправность")
    for letter, base in (("A", 750), ("B", 755), ("C", 760), ("D", 765),
                         ("E", 770)):
        add(base, "Электромагнитный клапан переключения %s: неисправность" % letter)
        add(base + 1, "Электромагнитный клапан переключения %s: не открывается" % letter)
        add(base + 2, "Электромагнитный клапан переключения %s: не закрывается" % letter)
        add(base + 3, "Электромагнитный клапан переключения %s: электрическая неисправность"
            % letter)
    add(780, "Неисправность при переключении передач")

    # The maker's own codes (P1xxx) of these engines and gearboxes.
    add(1100, "Цепь датчика атмосферного давления (BARO): неисправность")
    add(1120, "Цепь датчика положения педали акселератора: неисправность")
    add(1121, "Датчик положения педали акселератора: выход из диапазона / характеристика")
    add(1125, "Цепь электродвигателя управления дроссельной заслонкой: неисправность")
    add(1126, "Цепь электромагнитной муфты привода дроссельной заслонки: неисправность")
    add(1127, "Цепь питания исполнительного механизма ETCS: неисправность")
    add(1128, "Заклинивание электродвигателя управления дроссельной заслонкой")
    add(1129, "Электронная система управления дроссельной заслонкой (ETCS): неисправность")
    for bank, base in ((1, 1130), (2, 1150)):
        where = "датчика состава смеси A/F (Головка %d, датчик 1)" % bank
        add(base, "Цепь " + where + ": выход из диапазона / характеристика")
        add(base + 3, "Цепь " + where + ": медленный отклик")
        add(base + 5, "Цепь подогревателя " + where + ": неисправность / медленный отклик")
    add(1200, "Цепь реле топливного насоса: неисправность")
    for n, code in enumerate((1300, 1305, 1310, 1315), start=1):
        add(code, "Цепь коммутатора зажигания №%d: неисправность" % n)
    add(1335, "Нет сигнала датчика положения коленвала при работающем двигателе")
    add(1346, "Датчик VVT (положения распредвала, Головка 1): выход из диапазона / характеристика")
    add(1349, "Система изменения фаз газораспределения VVT (Головка 1): неисправность")
    add(1400, "Датчик положения вспомогательной дроссельной заслонки: неисправность")
    add(1401, "Датчик положения вспомогательной дроссельной заслонки: выход из диапазона / "
        "характеристика")
    add(1410, "Цепь датчика положения клапана EGR: неисправность")
    add(1411, "Цепь датчика положения клапана EGR: выход из диапазона / характеристика")
    add(1500, "Цепь сигнала стартера: неисправность")
    add(1520, "Сигнал выключателя стоп-сигналов: неисправность")
    add(1565, "Цепь главного выключателя круиз-контроля: неисправность")
    add(1600, "Цепь постоянного питания блока управления (BATT): неисправность")
    add(1605, "Процессор управления по детонации: неисправность")
    add(1630, "Противобуксовочная система: неисправность")
    add(1633, "Блок управления: неисправность цепи ETCS")
    add(1652, "Цепь управления клапаном регулирования холостого хода (IACV): неисправность")
    add(1656, "Цепь клапана управления маслом (OCV) системы VVT (Головка 1): неисправность")
    add(1725, "Цепь датчика оборотов турбины (NT): неисправность")
    add(1730, "Цепь датчика оборотов промежуточного вала (NC2): неисправность")
    add(1760, "Цепь линейного электромагнитного клапана регулирования давления (SLT): "
        "неисправность")
    add(1765, "Цепь линейного электромагнитного клапана блокировки гидротрансформатора (SLU): "
        "неисправность")
    add(1780, "Выключатель положения парковки / нейтрали: неисправность")

    # Generic codes of the P2xxx range: electronic throttle, pedal, oxygen
    # sensors, evaporative system, gearbox solenoids.
    add(2100, "Цепь электродвигателя привода дроссельной заслонки: обрыв")
    add(2101, "Цепь электродвигателя привода дроссельной заслонки: выход из диапазона / "
        "характеристика")
    add(2102, "Цепь электродвигателя привода дроссельной заслонки: низкий уровень сигнала")
    add(2103, "Цепь электродвигателя привода дроссельной заслонки: высокий уровень сигнала")
    add(2111, "Привод дроссельной заслонки: заклинивание в открытом положении")
    add(2112, "Привод дроссельной заслонки: заклинивание в закрытом положении")
    add(2118, "Ток электродвигателя привода дроссельной заслонки: выход из диапазона / "
        "характеристика")
    add(2119, "Корпус дроссельной заслонки с электроприводом: выход из диапазона / характеристика")
    circuit5(2120, "датчика положения педали акселератора D")
    circuit5(2125, "датчика положения педали акселератора E")
    add(2135, "Рассогласование сигналов датчиков положения дроссельной заслонки A и B")
    add(2138, "Рассогласование сигналов датчиков положения педали акселератора D и E")
    for bank, base in ((1, 2195), (2, 2197)):
        where = "датчика O2 (Головка %d, датчик 1)" % bank
        add(base, "Сигнал " + where + " постоянно показывает бедную смесь")
        add(base + 1, "Сигнал " + where + " постоянно показывает богатую смесь")
    for base, what in ((2237, "положительным"), (2251, "отрицательным")):
        circuit3(base, "управления " + what + " током датчика O2 (Головка 1, датчик 1)", "обрыв")
    add(2401, "Цепь управления насосом проверки герметичности EVAP: низкий уровень сигнала")
    add(2402, "Цепь управления насосом проверки герметичности EVAP: высокий уровень сигнала")
    add(2419, "Цепь управления переключающим клапаном EVAP: низкий уровень сигнала")
    add(2420, "Цепь управления переключающим клапаном EVAP: высокий уровень сигнала")
    add(2610, "Внутренний таймер блока управления при выключенном двигателе: неисправность")
    add(2714, "Электромагнитный клапан регулирования давления D: неверная характеристика / "
        "не включается")
    add(2716, "Электромагнитный клапан регулирования давления D: электрическая неисправность")
    add(2757, "Клапан регулирования давления муфты блокировки гидротрансформатора: неверная "
        "характеристика / не включается")
    add(2759, "Клапан регулирования давления муфты блокировки гидротрансформатора: "
        "электрическая неисправность")
    add(2769, "Цепь муфты блокировки гидротрансформатора: низкий уровень сигнала")
    add(2770, "Цепь муфты блокировки гидротрансформатора: высокий уровень сигнала")
    return codes


def dtc():
    lines = []
    for code, text in sorted(dtc_codes()):
        lines += ["%04d" % code, text]
    return lines


# --------------------------------------------------------------------------- output

def files():
    return {
        "CAMRY_2AZ.ini": camry(),
        "COROLLA_3ZZ.ini": corolla(),
        "CARINA_7AFE.ini": carina(),
        # Camry: U241E, lever P R N D 3 2 L; fuel rows by LID (service 21).
        os.path.join("TOYOTA", "VORTA.ini"):
            vorta(local_family(lever="RD32L"), full_tests=True),
        os.path.join("TOYOTA", "dtc.ini"): dtc(),
        # Corolla: manual gearbox; fuel rows of service 01 from the air mass.
        os.path.join("TOYOTA_3ZZ", "VORTA.ini"):
            vorta(local_family(), full_tests=True, air="MAF"),
        os.path.join("TOYOTA_3ZZ", "dtc.ini"): dtc(),
        # Carina: four speeds, lever P R N D 2 L and an overdrive switch; fuel
        # rows of service 01 from the manifold pressure.
        os.path.join("TOYOTA9141", "VORTA.ini"):
            vorta(local_family(lever="RD2L", overdrive_switch=True), full_tests=False, air="MAP"),
        os.path.join("TOYOTA9141", "dtc.ini"): dtc(),
    }


def main():
    check = "--check" in sys.argv[1:]
    differs = False
    codes = [c for c, _ in dtc_codes()]
    assert len(codes) == len(set(codes)), "duplicate trouble code"
    assert len(codes) <= 1001, "dtc.ini holds at most 1001 texts"
    for name, lines in files().items():
        path = os.path.join(OUT, name)
        data = encode(lines)
        old = open(path, "rb").read() if os.path.exists(path) else None
        if old == data:
            continue
        differs = True
        if check:
            print("differs: " + os.path.relpath(path, ROOT))
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print("wrote " + os.path.relpath(path, ROOT))
    return 1 if check and differs else 0


if __name__ == "__main__":
    sys.exit(main())
