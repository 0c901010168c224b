#include "vm/sys.h"

#include <cstring>

#include "vm/machine.h"
#include "vm/request.h"

namespace orvo::vm {

namespace {

void SetTimer(Request& r) {
  r.m.hooks->SetTimer(r.a[0]);
}

void Date(Request& r) {
  LocalTime t = r.m.hooks->Now();
  std::string text = Format("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", t.year, t.month, t.day, t.hour,
                            t.minute, t.second);
  uint8_t* out = RequestBytes(r.m, r.a[0], static_cast<uint32_t>(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
}

void Lock(Request& r) {
  // The lock stamp is taken above the sys instruction's own stack use, so a lock taken
  // by a function survives until that function's frame is left.
  Machine& m = r.m;
  uint32_t vsp = m.Word(HDR_VSP);
  m.SetWord(HDR_VSP, vsp + 20);
  uint32_t address = LockHeap(m, r.a[0]);
  m.SetWord(HDR_VSP, vsp);
  SetResult(m, address);
}

constexpr RequestRow kCoreRows[] = {
    {0x200, "timer", 1, ArgCheck::BLOCK, SetTimer, true},
    {0x201, "clock", 0, ArgCheck::BLOCK, [](Request& r) { SetResult(r.m, r.m.hooks->ElapsedMs()); },
     true},
    {0x202, "date", 1, ArgCheck::BLOCK, Date, true},
    {0x900, "allocate", 1, ArgCheck::BLOCK,
     [](Request& r) { SetResult(r.m, AllocHeap(r.m, r.a[0])); }},
    {0x901, "free", 1, ArgCheck::BLOCK, [](Request& r) { FreeHeap(r.m, r.a[0]); }},
    {0x902, "lock", 1, ArgCheck::BLOCK, Lock},
    {0x903, "unlock", 1, ArgCheck::BLOCK, [](Request& r) { UnlockHeap(r.m, r.a[0]); }},
    {0x904, "address", 1, ArgCheck::BLOCK,
     [](Request& r) { SetResult(r.m, GetHeapAdr(r.m, r.a[0])); }},
};

}  // namespace

std::span<const RequestRow> CoreRequests() {
  return kCoreRows;
}

void SetResult(Machine& m, uint32_t low) {
  Store32(m.mem + HDR_RESULT, low);
}

void SetResultPair(Machine& m, uint32_t low, uint32_t high) {
  Store32(m.mem + HDR_RESULT, low);
  Store32(m.mem + HDR_RESULT_HIGH, high);
}

void UnknownSys(Machine& m) {
  const uint32_t at = m.Word(HDR_VPC);
  ShowFault(m, {FaultKind::UNKNOWN_REQUEST, at, 0},
            Format("Unknown SYS command at 0x%8.8lX. Ack!", static_cast<unsigned long>(at)));
}

void SysDispatch(Machine& m) {
  uint32_t request = m.Word(HDR_SYSREQ);
  uint32_t command = 0;
  if (!RequestWords(m, request, 1, &command)) return;
  if (m.requestHook)
    m.requestHook->Request(m, command, request + 4);
  else
    RunRequest(m, command, request + 4);
}

}  // namespace orvo::vm
