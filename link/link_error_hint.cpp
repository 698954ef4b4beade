#include "link/link_error_hint.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "common/cp1251.h"
#include "link/device_access.h"
#include "link/link_globals.h"
#include "link/port_map.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

struct BitText {
  std::uint16_t bit;
  const char* text;
};

const BitText kBitTexts[] = {
    {kErrOpen, "порт не открывается"_cp},
    {kErrTimeouts, "не удалось задать тайм-ауты порта"_cp},
    {kErrPurge, "не удалось очистить буферы порта"_cp},
    {kErrEventMask, "не удалось задать события порта"_cp},
    {kErrGetState, "не удалось прочитать настройки линии порта"_cp},
    {kErrSetState, "порт не принял настройки линии (скорость, 8 бит, без четности)"_cp},
    {kErrTxEvent, "не удалось запустить поток сеанса"_cp},
    {kErrWriteTimeout, "запись в порт не завершилась за 2000 мс"_cp},
    {kErrWriteShort, "в порт записано меньше байтов, чем нужно"_cp},
    {kErrNoEcho,
     "адаптер не возвращает эхо: проверьте, что адаптер подключен к машине и к ее линии K-Line, и что на него подано питание"_cp},
    {kErrNoResponse,
     "ЭБУ не отвечает: проверьте зажигание, адрес ЭБУ, протокол и тайминги в настройках"_cp},
    {kErrRxEvent, "не удалось запустить поток приема"_cp},
    {kErrRxState, "не удалось прочитать состояние порта"_cp},
    {kErrRead, "ошибка чтения из порта"_cp},
    {kErrRxOverflow,
     "адаптер пропал (отключен от USB) или в него пришло больше байтов, чем помещается"_cp},
};

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}

// What to do when the port did not open.
std::string OpenAdvice(const std::string& portName) {
  const std::string device = PortDevice(portName);
  std::string text = "    "_cp + portName + " = " + device + "\n";
  std::error_code ec;
  if (!std::filesystem::exists(device, ec)) {
    text +=
        "    устройство не найдено: подключите адаптер или выберите другой COM в настройках (файл ports.ini задает устройство каждого COM)\n"_cp;
  } else if (::access(device.c_str(), R_OK | W_OK) != 0) {
    text += "    " + PermissionAdviceRu(DeviceOwnershipOf(device)) + "\n";
  }
  return text;
}

}  // namespace

std::string LinkErrorHint(std::uint16_t error, const std::string& portName,
                          const std::string& portError) {
  if (error == 0) return {};
  std::string text;
  for (const BitText& b : kBitTexts) {
    if ((error & b.bit) == 0) continue;
    text += "0x" + Hex4(b.bit) + ": " + b.text + "\n";
    if (b.bit == kErrOpen) {
      if (!portError.empty()) text += "    " + cp1251::FromUtf8(portError) + "\n";
      text += OpenAdvice(portName);
    }
  }
  return text;
}

}  // namespace kestrel
