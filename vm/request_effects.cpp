#include "vm/request_effects.h"

#include <algorithm>
#include <cstring>

#include "vm/requests.h"

namespace orvo::vm {

namespace {

// Equal bytes between two changes that still make them one run: a run costs its header.
constexpr uint32_t kJoinGap = 8;
// Blocks compared whole before looking at their bytes.
constexpr uint32_t kBlock = 256;

}  // namespace

MachineWords WordsOf(const Machine& m) {
  const HeapState& h = m.heap;
  return {m.modalDepth, m.pcPreJsr, m.hostFlags, m.stop,     h.heapStart,
          h.heapSize,   h.heapTop,  h.heapPinCount, h.listHead};
}

void SetWords(Machine& m, const MachineWords& w) {
  m.modalDepth = w.modalDepth;
  m.pcPreJsr = w.pcPreJsr;
  m.hostFlags = w.hostFlags;
  m.stop = w.stop;
  HeapState& h = m.heap;
  h.heapStart = w.heapStart;
  h.heapSize = w.heapSize;
  h.heapTop = w.heapTop;
  h.heapPinCount = w.heapPinCount;
  h.listHead = w.listHead;
}

size_t RequestEffect::Footprint() const {
  return sizeof *this + runs.size() * sizeof(ChangedRun) + bytes.size() +
         records.size() * sizeof(records[0]);
}

std::vector<ChangedRun> ChangedRuns(const uint8_t* before, const uint8_t* after, uint32_t size) {
  std::vector<ChangedRun> runs;
  for (uint32_t block = 0; block < size; block += kBlock) {
    const uint32_t end = std::min(size, block + kBlock);
    if (std::memcmp(before + block, after + block, end - block) == 0) continue;
    for (uint32_t i = block; i < end; ++i) {
      if (before[i] == after[i]) continue;
      if (!runs.empty() && i - (runs.back().address + runs.back().length) <= kJoinGap)
        runs.back().length = i + 1 - runs.back().address;
      else
        runs.push_back({i, 1});
    }
  }
  return runs;
}

void NoteRequestWrite(Machine& m, uint32_t addr, uint32_t len) {
  RequestWrites& w = *m.requestWrites;
  // A place reached again keeps the bytes it held the first time.
  for (const ChangedRun& p : w.places)
    if (p.address == addr && p.length >= len) return;
  w.places.push_back({addr, len});
  w.before.insert(w.before.end(), m.mem + addr, m.mem + addr + len);
}

RequestEffect EffectCapture::Run(Machine& m, uint32_t command, uint32_t args) {
  writes_.places.clear();
  writes_.before.clear();
  RequestWrites* outerWrites = m.requestWrites;
  m.requestWrites = &writes_;
  NoteRequestWrite(m, 0, std::min(HEADER_SIZE, m.memSize));
  HeapJournal* outer = m.heap.journal;
  m.heap.journal = &journal_;
  const uint32_t size = m.memSize;
  RunRequest(m, command, args);
  m.heap.journal = outer;
  m.requestWrites = outerWrites;

  RequestEffect e;
  e.command = command;
  // A request may have released VM memory (a fatal error ends the program): nothing to keep.
  if (m.mem && m.memSize == size) {
    const uint8_t* before = writes_.before.data();
    for (const ChangedRun& place : writes_.places) {
      for (ChangedRun r : ChangedRuns(before, m.mem + place.address, place.length)) {
        r.address += place.address;
        e.runs.push_back(r);
        e.bytes.insert(e.bytes.end(), m.mem + r.address, m.mem + r.address + r.length);
      }
      before += place.length;
    }
  }
  for (const int32_t h : journal_.handles) {
    e.records.emplace_back(h, m.heap.records[static_cast<size_t>(h)]);
    if (outer) outer->Note(h);
  }
  journal_.Clear();
  e.after = WordsOf(m);
  return e;
}

void ApplyEffect(Machine& m, const RequestEffect& e) {
  const uint8_t* from = e.bytes.data();
  for (const ChangedRun& r : e.runs) {
    if (uint8_t* to = m.Ptr(r.address, r.length)) std::memcpy(to, from, r.length);
    from += r.length;
  }
  for (const auto& [h, record] : e.records) {
    if (m.heap.journal) m.heap.journal->Note(h);
    m.heap.records[static_cast<size_t>(h)] = record;
  }
  SetWords(m, e.after);
}

}  // namespace orvo::vm
