#include "vm/jit/translations.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vm/memory.h"

namespace orvo::vm::jit {
namespace {

using namespace asmjit;
using namespace asmjit::x86;

constexpr uint16_t kUntranslatable = 0xFFFF;

// Generated code is mapped twice, writable and executable, never both at one address.
JitAllocator::CreateParams DualMapped() {
  JitAllocator::CreateParams p;
  p.options = JitAllocatorOptions::kUseDualMapping;
  return p;
}
const JitAllocator::CreateParams kDualMapped = DualMapped();

}  // namespace

Cache::Cache(uint8_t* mem, uint32_t memSize, size_t guardBytes)
    : mem_(mem),
      memSize_(memSize),
      guardBytes_(guardBytes),
      places_(memSize / 4),
      runtime_(&kDualMapped),
      entries_(static_cast<const void**>(std::calloc(places_ + 1, sizeof(void*)))),
      heat_(static_cast<uint16_t*>(std::calloc(places_ + 1, sizeof(uint16_t)))),
      codeMap_(static_cast<uint8_t*>(std::calloc((memSize >> kCodeMapShift) + 1, 1))),
      codeMapBytes_((memSize >> kCodeMapShift) + 1) {
  if (!entries_ || !heat_ || !codeMap_) std::abort();
  // Everything after the image as the header gives it at the first run: any stretch
  // would do, as long as no translation lies in it, and code is loaded with the image.
  plainLow_ = std::max(Load32(mem + HDR_IMAGE_SIZE), kLowestAddress);
  plainHigh_ = memSize;
  if (plainHigh_ <= plainLow_) plainLow_ = plainHigh_ = 0;
  routes_.guardStart = reinterpret_cast<uintptr_t>(mem) + memSize;
  routes_.guardEnd = routes_.guardStart + guardBytes;
  BuildTrampoline();
}

// With ORVO_JIT_STATS set, what was translated is told on standard error at the end.
Cache::~Cache() {
  const char* report = std::getenv("ORVO_JIT_STATS");
  if (!report || !*report) return;
  std::fprintf(stderr,
               "orvo: translated %zu blocks, %zu bytes of VM code into %zu bytes of x86-64 in "
               "%.3f ms; entered %llu times; tables %zu bytes\n",
               stats_.blocks, stats_.sourceBytes, stats_.codeBytes, stats_.compileMs,
               static_cast<unsigned long long>(stats_.entered), TableBytes());
}

size_t Cache::TableBytes() const {
  return (size_t{places_} + 1) * (sizeof(void*) + sizeof(uint16_t)) + codeMapBytes_;
}

// The way in saves the registers the host's calling convention keeps, notes the host
// stack, loads the pinned ones (memory, context, VSP, VFP, budget, the flags' value) and
// jumps to the code (the second argument, in rsi); the way out puts the host stack back
// as it was (calls between translated routines may have pushed onto it), stores the
// working copies in the context and returns. The flags byte stays in the context, where
// translated code reads and writes it.
void Cache::BuildTrampoline() {
  CodeHolder code;
  code.init(runtime_.environment());
  Assembler a(&code);
  const Label out = a.newLabel();
  for (const Gp& r : {rbx, rbp, r12, r13, r14, r15}) a.push(r);
  a.mov(rbp, rdi);
  a.mov(qword_ptr(rbp, offsetof(Context, hostStack)), rsp);
  a.lea(rax, ptr(rsp, -static_cast<int32_t>(kHostCallBytes)));
  a.mov(qword_ptr(rbp, offsetof(Context, hostFloor)), rax);
  a.mov(rbx, qword_ptr(rbp, offsetof(Context, mem)));
  a.mov(r12d, dword_ptr(rbp, offsetof(Context, sp)));
  a.mov(r13d, dword_ptr(rbp, offsetof(Context, fp)));
  a.mov(rdi, qword_ptr(rbp, offsetof(Context, budget)));
  a.mov(r15, qword_ptr(rbp, offsetof(Context, flagValue)));
  a.jmp(rsi);
  a.bind(out);
  a.mov(rsp, qword_ptr(rbp, offsetof(Context, hostStack)));  // drops what calls pushed
  a.mov(dword_ptr(rbp, offsetof(Context, pc)), eax);
  a.mov(dword_ptr(rbp, offsetof(Context, sp)), r12d);
  a.mov(dword_ptr(rbp, offsetof(Context, fp)), r13d);
  a.mov(dword_ptr(rbp, offsetof(Context, reason)), edx);
  a.mov(qword_ptr(rbp, offsetof(Context, budget)), rdi);
  for (const Gp& r : {r15, r14, r13, r12, rbp, rbx}) a.pop(r);
  a.ret();
  void* fn = nullptr;
  if (runtime_.add(&fn, &code) != kErrorOk) std::abort();
  enter_ = reinterpret_cast<void (*)(Context*, const void*)>(fn);
  exit_ = static_cast<uint8_t*>(fn) + code.labelOffsetFromBase(out);
}

bool Cache::Hot(uint32_t pc, uint32_t threshold) {
  if (pc % 4 != 0 || pc / 4 >= places_) return false;
  uint16_t& h = heat_.get()[pc / 4];
  if (h == kUntranslatable) {
    // Counted again from the start once the word there is another.
    const auto it = refused_.find(pc);
    if (it == refused_.end() || it->second == Load32(mem_ + pc)) return false;
    refused_.erase(it);
    h = 0;
  }
  if (h >= threshold) return true;
  ++h;
  return false;
}

void Cache::MarkUntranslatable(uint32_t pc) {
  if (pc % 4 != 0 || pc / 4 >= places_) return;
  heat_.get()[pc / 4] = kUntranslatable;
  refused_[pc] = Load32(mem_ + pc);
}

// A store of up to 8 bytes checks the map at its first byte, so the marks start 8 bytes
// before the block.
void Cache::MarkPages(const Block& b, uint8_t mark) {
  const uint32_t from = b.start >= 8 ? b.start - 8 : 0;
  const uint32_t to = b.start + static_cast<uint32_t>(b.words.size());
  for (uint32_t p = from >> kCodeMapShift; p <= (to - 1) >> kCodeMapShift; ++p) codeMap_.get()[p] = mark;
}

void Cache::Install(Block block, double compileMs) {
  MarkPages(block, 1);
  entries_.get()[block.start / 4] = block.code;
  routes_.Add(block.faultRanges);
  stats_.blocks += 1;
  stats_.sourceBytes += block.words.size();
  stats_.codeBytes += block.codeBytes;
  stats_.compileMs += compileMs;
  const uint32_t start = block.start;
  blocks_.insert_or_assign(start, std::move(block));
  RebuildWatches();
}

bool Cache::Unchanged() const {
  for (const Watch& w : watches_)
    if (std::memcmp(mem_ + w.start, watched_.data() + w.offset, w.length) != 0) return false;
  return true;
}

// The blocks' words as few ranges as possible. Blocks that overlap share one, and so do
// blocks a few bytes apart: what lies between them is almost always an instruction left
// to the step, and should it change, DropChanged finds that no block did. Where blocks
// overlap their words agree, as each agreed with memory when last checked; the bytes
// between them are taken from memory as it is now.
void Cache::RebuildWatches() {
  constexpr uint32_t kMostBetween = 16;
  watches_.clear();
  watched_.clear();
  for (const auto& [start, b] : blocks_) {
    const uint32_t end = start + static_cast<uint32_t>(b.words.size());
    if (watches_.empty() || start > watches_.back().start + watches_.back().length + kMostBetween) {
      watches_.push_back({start, end - start, static_cast<uint32_t>(watched_.size())});
      watched_.insert(watched_.end(), b.words.begin(), b.words.end());
      continue;
    }
    Watch& w = watches_.back();
    const uint32_t covered = w.start + w.length;
    if (end <= covered) continue;
    if (start > covered) watched_.insert(watched_.end(), mem_ + covered, mem_ + start);
    const uint32_t from = std::max(start, covered);
    watched_.insert(watched_.end(), b.words.end() - (end - from), b.words.end());
    w.length = end - w.start;
  }
}

void Cache::DropChanged() {
  DropWhere([this](const Block& b) {
    return std::memcmp(mem_ + b.start, b.words.data(), b.words.size()) != 0;
  });
}

void Cache::DropWhere(const std::function<bool(const Block&)>& drop) {
  bool dropped = false;
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    const Block& b = it->second;
    if (!drop(b)) {
      ++it;
      continue;
    }
    MarkPages(b, 0);
    entries_.get()[b.start / 4] = nullptr;
    heat_.get()[b.start / 4] = 0;
    const auto code = reinterpret_cast<uintptr_t>(b.code);
    routes_.DropWithin(code, code + b.codeBytes);
    runtime_.release(b.code);
    stats_.blocks -= 1;
    stats_.sourceBytes -= b.words.size();
    stats_.codeBytes -= b.codeBytes;
    it = blocks_.erase(it);
    dropped = true;
  }
  RebuildWatches();
  if (!dropped) return;
  // Unmarking a dropped block may have cleared bytes a neighbour shares.
  for (const auto& [start, b] : blocks_) MarkPages(b, 1);
}

void Cache::NoteCodeAt(uint32_t start, uint32_t end) {
  if (!PlainHoldsNoCode() || end <= plainLow_ || start >= plainHigh_) return;
  // Code in the stretch: every block may have stored there unchecked, so none is kept,
  // and stores there are checked from now on.
  plainLow_ = plainHigh_ = 0;
  DropWhere([](const Block&) { return true; });
}

}  // namespace orvo::vm::jit

namespace orvo::vm {
void DropTranslations(Translations* t) {
  delete t;
}
}  // namespace orvo::vm
