#include "host/recording.h"


#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "host/event_queue.h"
#include "vm/heap.h"
#include "vm/machine.h"
#include "vm/requests.h"

namespace orvo::host {

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'O', 'R', 'E', 'C', 0};
constexpr size_t kPreamble = sizeof kMagic + 4 + 8 + 32;  // magic, version, body size, hash
constexpr uint32_t kMaxName = 1024;
constexpr uint32_t kMaxCommandLine = 65536;
constexpr int32_t kMaxSize = 32767;

// Little-endian fields appended to a byte vector.
struct Writer {
  std::vector<uint8_t>& out;
  void U8(uint8_t v) { out.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
  void Text(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
};

// Reads the same fields; once a read runs past the end every later one fails too.
struct Reader {
  const uint8_t* p;
  size_t left;
  bool ok = true;
  bool Take(void* to, size_t n) {
    if (!ok || n > left) return ok = false;
    if (n) std::memcpy(to, p, n);
    p += n;
    left -= n;
    return true;
  }
  uint8_t U8() {
    uint8_t v = 0;
    Take(&v, 1);
    return v;
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Take(b, 4);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | uint64_t{U32()} << 32;
  }
  // A length-prefixed block of at most limit bytes.
  bool Block(std::vector<uint8_t>& to, uint64_t limit) {
    const uint32_t n = U32();
    if (!ok || n > limit || n > left) return ok = false;
    to.assign(p, p + n);
    p += n;
    left -= n;
    return true;
  }
  bool Text(std::string& to, uint32_t limit) {
    std::vector<uint8_t> bytes;
    if (!Block(bytes, limit)) return false;
    to.assign(bytes.begin(), bytes.end());
    return true;
  }
};

constexpr int32_t kKnownEvents[] = {EVT_START,    EVT_WINDOW, EVT_CLOSE, EVT_END,        EVT_FOCUS,
                                    EVT_MINIMIZE, EVT_MOVE,   EVT_SIZE,  EVT_MUSIC_DONE, EVT_TIMER,
                                    EVT_DOWN,     EVT_UP,     EVT_CHAR,  EVT_MOUSE_MOVE};

bool KnownEvent(int32_t code) {
  return std::find(std::begin(kKnownEvents), std::end(kKnownEvents), code) !=
         std::end(kKnownEvents);
}

bool Handle(int32_t h) {
  return h >= 0 && static_cast<uint32_t>(h) < vm::HEAP_HANDLES;
}
bool Link(int32_t h) {
  return h == vm::LIST_END || Handle(h);
}
bool Inside(uint64_t address, uint64_t length, uint32_t memory) {
  return address + length <= memory;
}

// A relative name of folders and a file that stays inside the folder it is written to.
bool SafeName(std::string_view name) {
  if (name.empty() || name.size() > kMaxName || name.front() == '/' || name.back() == '/')
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view component = name.substr(start, end - start);
    if (component.empty() || component == "." || component == ".." || component.find('\0') != std::string_view::npos)
      return false;
    start = end + 1;
  }
  return true;
}

void WriteRecord(Writer& w, const vm::HandleRecord& r) {
  for (const uint32_t v : {r.address, r.capacity, r.size}) w.U32(v);
  for (const int32_t v : {r.prev, r.next}) w.I32(v);
  for (const uint32_t v : {r.list, r.lockStamp, r.lockCount}) w.U32(v);
  for (const int32_t v : {r.sortedPrev, r.sortedNext}) w.I32(v);
  w.U32(r.freedMark);
}

vm::HandleRecord ReadRecord(Reader& in) {
  vm::HandleRecord r;
  r.address = in.U32();
  r.capacity = in.U32();
  r.size = in.U32();
  r.prev = in.I32();
  r.next = in.I32();
  r.list = in.U32();
  r.lockStamp = in.U32();
  r.lockCount = in.U32();
  r.sortedPrev = in.I32();
  r.sortedNext = in.I32();
  r.freedMark = in.U32();
  return r;
}

bool RecordPossible(const vm::HandleRecord& r, uint32_t memory) {
  return r.list <= vm::LIST_LOCKED && Link(r.prev) && Link(r.next) && Link(r.sortedPrev) &&
         Link(r.sortedNext) && r.size <= r.capacity && Inside(r.address, r.capacity, memory);
}

void WriteWords(Writer& w, const vm::MachineWords& m) {
  w.I32(m.modalDepth);
  w.U32(m.pcPreJsr);
  w.U32(m.hostFlags);
  w.U8(static_cast<uint8_t>(m.stop.how));
  w.U8(static_cast<uint8_t>(m.stop.fault.kind));
  w.U32(m.stop.fault.at);
  w.U32(m.stop.fault.address);
  for (const uint32_t v : {m.heapStart, m.heapSize, m.heapTop}) w.U32(v);
  w.I32(m.heapPinCount);
  for (const int32_t h : m.listHead) w.I32(h);
}

vm::MachineWords ReadWords(Reader& in) {
  vm::MachineWords m;
  m.modalDepth = in.I32();
  m.pcPreJsr = in.U32();
  m.hostFlags = in.U32();
  m.stop.how = static_cast<vm::RunStop>(in.U8());
  m.stop.fault.kind = static_cast<vm::FaultKind>(in.U8());
  m.stop.fault.at = in.U32();
  m.stop.fault.address = in.U32();
  m.heapStart = in.U32();
  m.heapSize = in.U32();
  m.heapTop = in.U32();
  m.heapPinCount = in.I32();
  for (int32_t& h : m.listHead) h = in.I32();
  return m;
}

bool WordsPossible(const vm::MachineWords& m, uint32_t memory) {
  return m.modalDepth >= 0 && m.heapPinCount >= 0 && m.stop.how <= vm::RunStop::FATAL &&
         m.stop.fault.kind <= vm::FaultKind::HEAP && Inside(m.heapStart, m.heapSize, memory) &&
         m.heapTop <= memory && std::all_of(m.listHead.begin(), m.listHead.end(), Link);
}

void WriteEffect(Writer& w, const vm::RequestEffect& e) {
  w.U32(e.command);
  w.U32(static_cast<uint32_t>(e.runs.size()));
  const uint8_t* bytes = e.bytes.data();
  for (const vm::ChangedRun& run : e.runs) {
    w.U32(run.address);
    w.U32(run.length);
    w.Bytes(bytes, run.length);
    bytes += run.length;
  }
  w.U32(static_cast<uint32_t>(e.records.size()));
  for (const auto& [handle, record] : e.records) {
    w.I32(handle);
    WriteRecord(w, record);
  }
  WriteWords(w, e.after);
}

// What is wrong with the effect read, or "" when it is one a request can have had.
std::string ReadEffect(Reader& in, uint32_t memory, vm::RequestEffect& e) {
  e.command = in.U32();
  if (in.ok && e.command >= vm::SYS_COMMANDS)
    return "a request with the unknown command " + std::to_string(e.command);
  const uint32_t runs = in.U32();
  for (uint32_t i = 0; in.ok && i < runs; ++i) {
    vm::ChangedRun run{in.U32(), in.U32()};
    if (!in.ok) break;
    if (run.length == 0 || !Inside(run.address, run.length, memory))
      return "a request that changed bytes outside VM memory";
    const size_t at = e.bytes.size();
    if (run.length > in.left) {
      in.ok = false;  // cut short: the caller says so
      break;
    }
    e.bytes.resize(at + run.length);
    in.Take(e.bytes.data() + at, run.length);
    e.runs.push_back(run);
  }
  const uint32_t records = in.U32();
  for (uint32_t i = 0; in.ok && i < records; ++i) {
    const int32_t handle = in.I32();
    const vm::HandleRecord record = ReadRecord(in);
    if (!in.ok) break;
    if (!Handle(handle))
      return "a heap record of the handle " + std::to_string(handle) +
             ", outside the handles there are";
    if (!RecordPossible(record, memory)) return "a heap record that no heap can hold";
    e.records.emplace_back(handle, record);
  }
  e.after = ReadWords(in);
  if (in.ok && !WordsPossible(e.after, memory)) return "machine words that no run can leave";
  return "";
}

bool Fail(std::string& problem, std::string text) {
  problem = std::move(text);
  return false;
}

}  // namespace

std::string HexDigest(const Digest& d) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  for (const uint8_t b : d) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

bool AnsweredFromOutside(const vm::Machine& m, uint32_t command) {
  if (command >= vm::SYS_COMMANDS) return false;
  const vm::RequestRow* row = m.requests.routes[command].row;
  return row && row->outside;
}

std::vector<uint8_t> EncodeRecording(const Recording& r) {
  std::vector<uint8_t> body;
  Writer w{body};
  w.Bytes(r.image.data(), r.image.size());
  w.U32(r.buildNumber);
  w.U32(r.memorySize);
  for (const int32_t v : {r.desktopWidth, r.desktopHeight, r.displayWidth, r.displayHeight,
                          r.clientWidth, r.clientHeight})
    w.I32(v);
  for (const int v :
       {r.start.year, r.start.month, r.start.day, r.start.hour, r.start.minute, r.start.second})
    w.I32(v);
  w.Text(r.commandLine);
  w.U32(static_cast<uint32_t>(r.files.size()));
  for (const RecordedFile& f : r.files) {
    w.Text(f.name);
    w.U32(static_cast<uint32_t>(f.bytes.size()));
    w.Bytes(f.bytes.data(), f.bytes.size());
  }
  for (const RecordedItem& item : r.items) {
    w.U8(item.kind);
    switch (item.kind) {
      case RecordedItem::DELIVERY:
        for (const int32_t v :
             {item.delivery.code, item.delivery.a1, item.delivery.a2, item.delivery.a3})
          w.I32(v);
        w.U32(item.delivery.ms);
        break;
      case RecordedItem::REQUEST:
        WriteEffect(w, item.effect);
        break;
      case RecordedItem::SCREENSHOT:
        w.Text(item.shot);
        break;
      case RecordedItem::END:
        w.Bytes(item.memory.data(), item.memory.size());
        break;
    }
  }

  std::vector<uint8_t> file;
  Writer f{file};
  f.Bytes(reinterpret_cast<const uint8_t*>(kMagic), sizeof kMagic);
  f.U32(kRecordingVersion);
  f.U64(body.size());
  const Digest check = Sha256(body.data(), body.size());
  f.Bytes(check.data(), check.size());
  f.Bytes(body.data(), body.size());
  return file;
}

bool DecodeRecording(const std::vector<uint8_t>& bytes, Recording& out, std::string& problem) {
  out = Recording{};
  if (bytes.size() > kMaxRecordingBytes)
    return Fail(problem, "it is larger than the " + std::to_string(kMaxRecordingBytes >> 20) +
                             " MB a recording may have");
  if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return Fail(problem, "it is no recording of orvo's");
  Reader pre{bytes.data() + sizeof kMagic, bytes.size() - sizeof kMagic};
  const uint32_t version = pre.U32();
  const uint64_t size = pre.U64();
  Digest check{};
  pre.Take(check.data(), check.size());
  if (!pre.ok)
    return Fail(problem, "it is cut short in its first " + std::to_string(kPreamble) + " bytes");
  if (version != kRecordingVersion)
    return Fail(problem, "it is of format " + std::to_string(version) +
                             "; this orvo reads format " + std::to_string(kRecordingVersion));
  if (size > pre.left)
    return Fail(problem, "it is cut short: " + std::to_string(pre.left) + " of its " +
                             std::to_string(size) + " bytes are there");
  if (size < pre.left)
    return Fail(problem, "more bytes follow its end: " + std::to_string(pre.left - size));
  if (Sha256(pre.p, pre.left) != check)
    return Fail(problem, "it is damaged: its contents do not match their checksum");

  Reader in{pre.p, pre.left};
  Recording& r = out;
  in.Take(r.image.data(), r.image.size());
  r.buildNumber = in.U32();
  r.memorySize = in.U32();
  for (int32_t* v : {&r.desktopWidth, &r.desktopHeight, &r.displayWidth, &r.displayHeight,
                     &r.clientWidth, &r.clientHeight})
    *v = in.I32();
  for (int* v : {&r.start.year, &r.start.month, &r.start.day, &r.start.hour, &r.start.minute,
                 &r.start.second})
    *v = in.I32();
  in.Text(r.commandLine, kMaxCommandLine);
  if (!in.ok) return Fail(problem, "its header is cut short");
  for (const int32_t v : {r.desktopWidth, r.desktopHeight, r.displayWidth, r.displayHeight})
    if (v <= 0 || v > kMaxSize) return Fail(problem, "its screen sizes are impossible");
  if (r.clientWidth < 0 || r.clientWidth > kMaxSize || r.clientHeight < 0 ||
      r.clientHeight > kMaxSize)
    return Fail(problem, "its window size is impossible");
  const platform::LocalTime& t = r.start;
  if (t.year < 1970 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
      t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60)
    return Fail(problem, "its start date is impossible");

  const uint32_t files = in.U32();
  uint64_t fileBytes = 0;
  std::set<std::string> names;
  for (uint32_t i = 0; in.ok && i < files; ++i) {
    RecordedFile f;
    if (!in.Text(f.name, kMaxName) || !in.Block(f.bytes, kMaxRecordedFiles)) break;
    if (!SafeName(f.name) || !names.insert(f.name).second)
      return Fail(problem, "it names a data file \"" + f.name + "\" that cannot be written");
    fileBytes += f.bytes.size();
    if (fileBytes > kMaxRecordedFiles)
      return Fail(problem, "its data files come to more than " +
                               std::to_string(kMaxRecordedFiles >> 20) + " MB");
    r.files.push_back(std::move(f));
  }
  if (!in.ok) return Fail(problem, "its data files are cut short");

  uint32_t lastMs = 0;
  while (in.left > 0) {
    const std::string where = "item " + std::to_string(r.items.size() + 1);
    if (!r.items.empty() && r.items.back().kind == RecordedItem::END)
      return Fail(problem, where + " follows the end");
    RecordedItem item;
    item.kind = static_cast<RecordedItem::Kind>(in.U8());
    switch (item.kind) {
      case RecordedItem::DELIVERY: {
        RecordedDelivery& d = item.delivery;
        d = {in.I32(), in.I32(), in.I32(), in.I32(), in.U32()};
        if (!in.ok) break;
        if (!KnownEvent(d.code))
          return Fail(problem, where + " delivers the unknown event " + std::to_string(d.code));
        if (d.ms < lastMs) return Fail(problem, where + " goes back in time");
        lastMs = d.ms;
        break;
      }
      case RecordedItem::REQUEST: {
        const std::string wrong = ReadEffect(in, r.memorySize, item.effect);
        if (!wrong.empty()) return Fail(problem, where + " is " + wrong);
        break;
      }
      case RecordedItem::SCREENSHOT:
        if (in.Text(item.shot, 255) &&
            (!SafeName(item.shot) || item.shot.find('/') != std::string::npos))
          return Fail(problem,
                      where + " names a screenshot \"" + item.shot + "\" that cannot be written");
        break;
      case RecordedItem::END:
        in.Take(item.memory.data(), item.memory.size());
        break;
      default:
        return Fail(problem, where + " is of the unknown kind " + std::to_string(item.kind));
    }
    if (!in.ok) return Fail(problem, where + " is cut short");
    r.items.push_back(std::move(item));
  }
  return true;
}

}  // namespace orvo::host
