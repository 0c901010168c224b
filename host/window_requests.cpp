#include "host/window_requests.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::host {

namespace {

constexpr uint32_t VK_CAPITAL = 0x14, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91;
constexpr uint32_t kTitleLimit = 511;  // characters the title keeps

// Copies a string and its terminator, cut to what VM memory holds from addr on.
void CopyOut(vm::Machine& m, uint32_t addr, std::string_view text) {
  if (addr >= m.memSize) {
    vm::RequestFault(m, addr);
    return;
  }
  const uint32_t room = m.memSize - addr;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size(), room - 1));
  vm::NoteWrite(m, addr, n + 1);
  std::memcpy(m.mem + addr, text.data(), n);
  m.mem[addr + n] = 0;
}

uint32_t Next(uint32_t i) {
  return (i + 1) % EVENT_QUEUE_SIZE;
}

void CopyEvent(uint8_t* record, const Event& e) {
  vm::Store32(record, static_cast<uint32_t>(e.code));
  vm::Store32(record + 4, static_cast<uint32_t>(e.a1));
  vm::Store32(record + 8, static_cast<uint32_t>(e.a2));
  vm::Store32(record + 12, static_cast<uint32_t>(e.a3));
}

// Takes the next press or release, discarding the moves and ticks in front of it.
uint32_t TakePress(EventQueue& q, uint8_t* record) {
  const uint32_t remove = vm::Load32(record);
  vm::Store32(record, 0);
  uint32_t i = q.read;
  bool found = false;
  for (; i != q.write; i = Next(i)) {
    const int32_t code = q.entries[i].code;
    if (code == EVT_MOUSE_MOVE || code == EVT_TIMER) continue;
    found = code == EVT_DOWN || code == EVT_UP;
    break;
  }
  q.read = i;
  if (!found) return 0;
  CopyEvent(record, q.entries[i]);
  if (remove) q.read = Next(i);
  return 1;
}

// Works off the moves and ticks at the front of the queue; the last move wins.
uint32_t LatestMove(EventQueue& q, uint8_t* record) {
  vm::Store32(record, 0);
  while (q.read != q.write) {
    const Event& e = q.entries[q.read];
    if (e.code != EVT_MOUSE_MOVE && e.code != EVT_TIMER) break;
    if (e.code == EVT_MOUSE_MOVE) CopyEvent(record, e);
    q.read = Next(q.read);
  }
  return vm::Load32(record) == static_cast<uint32_t>(EVT_MOUSE_MOVE) ? 1 : 0;
}

void ReadClipboard(WindowContext& w, vm::Machine& m, uint32_t buffer, uint32_t size) {
  if (!w.platform.shell.HasClipboardText()) return;
  uint8_t* b = vm::RequestBytes(m, buffer, 1);
  if (!b) return;
  *b = 0;
  const std::string text = w.platform.shell.GetClipboardText();
  // Text that does not fit is not cut: the buffer stays empty.
  if (text.size() + 1 >= size) return;
  uint8_t* out = vm::RequestBytes(m, buffer, static_cast<uint32_t>(text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
}

void ReadPlacement(WindowContext& w, uint8_t* record) {
  if (!w.platform.window.HasWindow()) {
    vm::Store32(record + 16, platform::SW_SHOWNORMAL);
    return;
  }
  platform::Placement p = w.platform.window.GetPlacement();
  w.host.lastPlacementRead = p;
  // A saved placement never brings the window back minimized.
  int32_t show = p.showState;
  if (show == platform::SW_MINIMIZE) show = platform::SW_RESTORE;
  if (show == platform::SW_SHOWMINIMIZED) show = platform::SW_SHOWNORMAL;
  const int32_t words[5] = {p.normal.x, p.normal.y, p.normal.width, p.normal.height, show};
  for (int i = 0; i < 5; ++i) vm::Store32(record + 4 * i, static_cast<uint32_t>(words[i]));
}

void WritePlacement(WindowContext& w, const uint8_t* record) {
  int32_t v[5];
  for (int i = 0; i < 5; ++i) v[i] = static_cast<int32_t>(vm::Load32(record + 4 * i));
  const bool previous = w.host.placementInProgress;
  w.host.placementInProgress = true;
  platform::Placement p;
  if (int64_t{v[0]} + v[1] + v[2] + v[3] != 0) {
    p.normal = {v[0], v[1], v[2], v[3]};
    p.showState = v[4];
    w.host.showMode = v[4];
  } else {
    p = w.platform.window.GetPlacement();
    p.showState = platform::SW_SHOWNORMAL;
  }
  w.platform.window.SetPlacement(p);
  w.host.placementInProgress = previous;
}

void SetTitle(WindowContext& w, std::string_view text) {
  // Cut after kTitleLimit characters, never inside one.
  size_t end = 0;
  for (uint32_t chars = 0; end < text.size() && chars < kTitleLimit; ++chars) {
    ++end;
    while (end < text.size() && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) ++end;
  }
  w.platform.window.SetTitle(text.substr(0, end));
}

int32_t KeyState(WindowContext& w, uint32_t vk) {
  uint16_t state = w.host.keys[vk & 0xFF];
  if (vk > 0xFF) state = 0;
  const uint32_t toggles = w.platform.window.LockToggles();
  const uint32_t lock = vk == VK_CAPITAL   ? platform::TOGGLE_CAPS
                        : vk == VK_NUMLOCK ? platform::TOGGLE_NUM
                        : vk == VK_SCROLL  ? platform::TOGGLE_SCROLL
                                           : 0;
  if (lock) state = static_cast<uint16_t>((state & 0x8000) | ((toggles & lock) ? 1 : 0));
  return static_cast<int16_t>(state);
}

}  // namespace

uint32_t VersionLine(std::string& line) {
  utsname u{};
  if (uname(&u) != 0) {
    line = "OS unknown";
    return 0;
  }
  unsigned long numbers[3] = {0, 0, 0};
  const char* p = u.release;
  for (int i = 0; i < 3 && *p; ++i) {
    char* end = nullptr;
    numbers[i] = std::strtoul(p, &end, 10);
    p = end;
    while (*p && (*p < '0' || *p > '9')) ++p;
  }
  line = vm::Format("ORVO %d.%d - %s ID:%lu Version:%lu.%lu Build:%lu (%s)", 6, 0, u.sysname, 0ul,
                    numbers[0], numbers[1], numbers[2], u.version);
  return static_cast<uint32_t>(((numbers[1] & 0xFF) << 24) | ((numbers[0] & 0xFF) << 16));
}

namespace {

WindowContext& W(vm::Request& r) {
  return vm::ServiceOf<WindowContext>(r);
}

void SetPair(vm::Machine& m, int32_t low, int32_t high) {
  vm::SetResultPair(m, static_cast<uint32_t>(low), static_cast<uint32_t>(high));
}

void Message(vm::Request& r) {
  std::string_view text;
  if (vm::RequestString(r.m, r.a[0], text)) vm::ShowMessage(r.m, text);
}

void LineEnd(vm::Request& r) {
  if (r.a[1] <= 2) {
    vm::ShowMessage(r.m, "GetEOL: buffer too small");
  } else if (uint8_t* b = vm::RequestBytes(r.m, r.a[0], 3)) {
    std::memcpy(b, "\r\n", 3);
  }
  vm::SetResult(r.m, 2);
}

void ClipboardOut(vm::Request& r) {
  std::string_view text;
  if (vm::RequestString(r.m, r.a[0], text)) W(r).platform.shell.SetClipboardText(text);
}

void GetPlacement(vm::Request& r) {
  if (uint8_t* record = vm::RequestBytes(r.m, r.a[0], 20)) ReadPlacement(W(r), record);
}

void SetPlacement(vm::Request& r) {
  if (uint8_t* record = vm::RequestBytes(r.m, r.a[0], 20)) WritePlacement(W(r), record);
}

void Title(vm::Request& r) {
  std::string_view text;
  if (vm::RequestString(r.m, r.a[0], text)) SetTitle(W(r), text);
}

void Version(vm::Request& r) {
  std::string line;
  const uint32_t result = VersionLine(line);
  CopyOut(r.m, r.a[0], line);
  vm::SetResult(r.m, result);
}

void Cursor(vm::Request& r) {
  WindowContext& w = W(r);
  const int32_t shape = static_cast<int32_t>(r.a[0] & 0xFFFF);
  if (shape != w.host.cursorShape) {
    w.host.cursorShape = shape;
    w.platform.window.SetCursor(shape <= platform::CURSOR_UPARROW ? shape : platform::CURSOR_ARROW);
  }
}

void Open(vm::Request& r) {
  std::string_view text;
  if (vm::RequestString(r.m, r.a[0], text)) W(r).platform.shell.OpenWithShell(text);
}

constexpr vm::ArgCheck EACH = vm::ArgCheck::EACH_WORD;
constexpr vm::RequestRow kRows[] = {
    {0x700, "message", 1, EACH, Message},
    {0x701, "line end", 2, EACH, LineEnd},
    {0x702, "display size", 0, EACH,
     [](vm::Request& r) { SetPair(r.m, W(r).host.displayWidth, W(r).host.displayHeight); }, true},
    {0x703, "next press", 1, EACH,
     [](vm::Request& r) {
       if (uint8_t* record = vm::RequestBytes(r.m, r.a[0], 16))
         vm::SetResult(r.m, TakePress(W(r).queue, record));
     },
     true},
    {0x704, "last mouse position", 1, EACH,
     [](vm::Request& r) {
       if (uint8_t* record = vm::RequestBytes(r.m, r.a[0], 16))
         vm::SetResult(r.m, LatestMove(W(r).queue, record));
     },
     true},
    {0x705, "read clipboard", 2, EACH,
     [](vm::Request& r) { ReadClipboard(W(r), r.m, r.a[0], r.a[1]); }, true},
    {0x706, "write clipboard", 1, EACH, ClipboardOut},
    {0x707, "capture mouse", 1, EACH,
     [](vm::Request& r) { W(r).platform.window.CaptureMouse(r.a[0] != 0); }},
    {0x708, "get placement", 1, EACH, GetPlacement, true},
    {0x709, "set placement", 1, EACH, SetPlacement},
    {0x70A, "client size", 0, EACH,
     [](vm::Request& r) { SetPair(r.m, W(r).host.clientWidth, W(r).host.clientHeight); }, true},
    {0x70B, "title", 1, EACH, Title},
    {0x70C, "data folder", 1, EACH,
     [](vm::Request& r) { CopyOut(r.m, r.a[0], W(r).host.folders.data); }, true},
    {0x70D, "game folder", 1, EACH,
     [](vm::Request& r) { CopyOut(r.m, r.a[0], W(r).host.folders.program); }, true},
    {0x70E, "version", 1, EACH, Version, true},
    {0x70F, "Control key name", 1, EACH,
     [](vm::Request& r) { CopyOut(r.m, r.a[0], W(r).host.controlKeyName); }},
    {0x710, "cursor", 1, EACH, Cursor},
    {0x711, "open", 1, EACH, Open},
    {0x712, "desktop size", 0, EACH,
     [](vm::Request& r) { SetPair(r.m, W(r).host.desktopWidth, W(r).host.desktopHeight); }, true},
    {0x713, "key state", 1, EACH,
     [](vm::Request& r) { vm::SetResult(r.m, static_cast<uint32_t>(KeyState(W(r), r.a[0]))); },
     true},
};

}  // namespace

void AddWindowRequests(vm::RequestTable& t, WindowContext& w) {
  vm::AddRequests(t, kRows, &w);
}

}  // namespace orvo::host
