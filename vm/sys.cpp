#include "vm/sys.h"

#include <cstring>

#include "vm/machine.h"
#include "vm/request.h"

namespace orvo::vm {

namespace {

enum SysGroupNumber : uint32_t {
  GROUP_TIME = 2,
  GROUP_IGNORED_1 = 1,
  GROUP_IGNORED_4 = 4,
  GROUP_SOUND = 6,
  GROUP_HEAP = 9,
};

void TimeRow(Machine& m, uint32_t sub, uint32_t args) {
  uint32_t arg = 0;
  if ((sub == 0 || sub == 2) && !RequestWords(m, args, 1, &arg)) return;
  switch (sub) {
    case 0:
      m.hooks->SetTimer(arg);
      break;
    case 1:
      SetResult(m, m.hooks->ElapsedMs());
      break;
    case 2: {
      LocalTime t = m.hooks->Now();
      std::string text = Format("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", t.year, t.month, t.day,
                                t.hour, t.minute, t.second);
      uint8_t* out = RequestBytes(m, arg, static_cast<uint32_t>(text.size() + 1));
      if (!out) return;
      std::memcpy(out, text.c_str(), text.size() + 1);
      break;
    }
    default:
      break;
  }
}

void SoundRow(Machine& m, uint32_t sub, uint32_t args) {
  uint32_t arg = 0;
  if (sub <= 1 && !RequestWords(m, args, 1, &arg)) return;
  switch (sub) {
    case 0:
      m.hooks->PlaySound(m, arg);
      break;
    case 1:
      m.hooks->MusicCommand(m, arg);
      break;
    case 2:
      m.hooks->StopMusic();
      break;
    case 3:
      SetResult(m, m.hooks->MusicPlaying() ? 1 : 0);
      break;
    default:
      break;
  }
}

void HeapRow(Machine& m, uint32_t sub, uint32_t args) {
  uint32_t arg = 0;
  if (sub <= 4 && !RequestWords(m, args, 1, &arg)) return;
  switch (sub) {
    case 0:
      SetResult(m, AllocHeap(m, arg));
      break;
    case 1:
      FreeHeap(m, arg);
      break;
    case 2: {
      // The lock stamp is taken above the sys instruction's own stack use, so a lock taken
      // by a function survives until that function's frame is left.
      uint32_t vsp = m.Word(HDR_VSP);
      m.SetWord(HDR_VSP, vsp + 20);
      uint32_t address = LockHeap(m, arg);
      m.SetWord(HDR_VSP, vsp);
      SetResult(m, address);
      break;
    }
    case 3:
      UnlockHeap(m, arg);
      break;
    case 4:
      SetResult(m, GetHeapAdr(m, arg));
      break;
    default:
      break;
  }
}

}  // namespace

void SetResult(Machine& m, uint32_t low) {
  Store32(m.mem + HDR_RESULT, low);
}

void SetResultPair(Machine& m, uint32_t low, uint32_t high) {
  Store32(m.mem + HDR_RESULT, low);
  Store32(m.mem + HDR_RESULT_HIGH, high);
}

void UnknownSys(Machine& m) {
  ShowMessage(m, Format("Unknown SYS command at 0x%8.8lX. Ack!",
                        static_cast<unsigned long>(m.Word(HDR_VPC))));
}

void SysDispatch(Machine& m) {
  uint32_t request = m.Word(HDR_SYSREQ);
  uint32_t command = 0;
  if (!RequestWords(m, request, 1, &command)) return;
  if (command >= SYS_COMMANDS) {
    UnknownSys(m);
    return;
  }
  uint32_t group = command >> 8, sub = command & 0xFF;
  uint32_t args = request + 4;
  switch (group) {
    case GROUP_IGNORED_1:
    case GROUP_IGNORED_4:
      return;
    case GROUP_TIME:
      TimeRow(m, sub, args);
      return;
    case GROUP_SOUND:
      SoundRow(m, sub, args);
      return;
    case GROUP_HEAP:
      HeapRow(m, sub, args);
      return;
    default:
      m.hooks->SysGroup(m, command, args);
      return;
  }
}

}  // namespace orvo::vm
