#include "link/link_globals.h"

#include <cstdio>

#include "common/cp1251.h"
#include "module/response_store.h"

namespace kestrel {

using namespace cp1251_literals;

std::atomic<std::uint16_t> LinkError{0};
std::atomic<std::uint16_t> LinkStatus{0};
std::atomic<std::uint8_t> RunFlag{0};
std::atomic<std::uint8_t> LogEnabled{0};
LinkSettingsRecord LinkSettings;
std::atomic<std::uint8_t> RecordEnabled{0};
std::atomic<std::uint32_t> PassCount{0};
RecordFileNameHolder RecordFileName;
vorta::RequestTable RequestTables[kRequestTableCount];
vorta::ResponseMemory ResponseBlock;

void ClearResponseStore() {
  vorta::ClearStoreCounts(ResponseStore);
}

std::string LinkStatusText(std::uint16_t status, std::uint16_t error, bool dashboard) {
  static const char* const kRussian[] = {
      "Простой"_cp,
      "Открытие порта COM"_cp,
      "Инициализация ISO-14230(5 baud)"_cp,
      "Инициализация ISO-14230(Fast)"_cp,
      "Инициализация ISO-9141"_cp,
      "1-й опрос по ISO-14230/9141"_cp,
      "Обмен по ISO-14230/9141"_cp,
  };
  static const char* const kEnglish[] = {
      "Idle",
      "Open COM",
      "Init ISO-14230(5 baud)",
      "Init ISO-14230(Fast)",
      "Init ISO-9141",
      "First recive ISO-14230/9141",
      "Recive ISO-14230/9141",
  };
  if (status < lsError) return dashboard ? kEnglish[status] : kRussian[status];
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(error));
  return std::string(dashboard ? "Error " : "Ошибка "_cp) + hex;
}

std::string CurrentLinkStatusText(bool dashboard) {
  return LinkStatusText(LinkStatus.load(), LinkError.load(), dashboard);
}

}  // namespace kestrel
