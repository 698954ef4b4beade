// A stand-in vehicle module for the binding tests. Built twice: with all four
// exports, and (FAKE_WITHOUT_ACTTEST) without ACTTESTProc.
#define VORTA_BUILDING_MODULE
#include "module/vorta.h"

extern "C" {

__attribute__((visibility("default"))) void PIDVAL(std::uint8_t* responseStore) {
  auto* query = reinterpret_cast<vorta::ValueQuery*>(responseStore + vorta::kResponseStoreSize);
  query->Value = 42.0;
  query->Text = "fake";
}

__attribute__((visibility("default"))) void DTCError(vorta::DtcQuery* query) {
  query->Text = "";
  query->Count = 0;
}

__attribute__((visibility("default"))) void Panel(vorta::PanelRecord* record) {
  record->CheckLamp = 1;
}

#ifndef FAKE_WITHOUT_ACTTEST
__attribute__((visibility("default"))) void ACTTESTProc(vorta::TestRequest* request) {
  request->Min = -1.0;
  request->Max = 1.0;
}
#endif
}
