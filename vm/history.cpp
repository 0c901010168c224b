#include "vm/history.h"

#include <cstring>
#include <type_traits>

namespace orvo::vm {

namespace {

constexpr uint32_t kPage = 4096;

static_assert(std::is_trivially_copyable_v<HandleRecord>);

uint8_t* RecordBytes(HeapState& h) {
  return reinterpret_cast<uint8_t*>(h.records.data());
}
size_t RecordSize(const HeapState& h) {
  return h.records.size() * sizeof(HandleRecord);
}

// The pages of `kept` that differ from `now`, as they were in kept; kept becomes now.
template <typename Page>
size_t TakeDifferences(std::vector<uint8_t>& kept, const uint8_t* now, std::vector<Page>& out) {
  size_t bytes = 0;
  for (size_t at = 0; at < kept.size(); at += kPage) {
    const size_t len = std::min<size_t>(kPage, kept.size() - at);
    if (std::memcmp(kept.data() + at, now + at, len) == 0) continue;
    out.push_back({static_cast<uint32_t>(at), {kept.data() + at, kept.data() + at + len}});
    std::memcpy(kept.data() + at, now + at, len);
    bytes += len + sizeof(Page);
  }
  return bytes;
}

template <typename Page>
void PutBack(uint8_t* into, const std::vector<Page>& pages) {
  for (const Page& p : pages) std::memcpy(into + p.offset, p.bytes.data(), p.bytes.size());
}

}  // namespace

uint64_t History::BeginStretch(Machine& m) {
  Stretch s;
  s.words = WordsOf(m);
  if (stretches_.empty() || memory_.size() != m.memSize ||
      records_.size() != RecordSize(m.heap)) {
    Clear();
    memory_.assign(m.mem, m.mem + m.memSize);
    const uint8_t* records = RecordBytes(m.heap);
    records_.assign(records, records + RecordSize(m.heap));
  } else {
    s.pageBytes += TakeDifferences(memory_, m.mem, s.memoryBefore);
    s.pageBytes += TakeDifferences(records_, RecordBytes(m.heap), s.recordsBefore);
  }
  bytes_ += sizeof(Stretch) + s.pageBytes;
  stretches_.push_back(std::move(s));
  Forget();
  return Latest();
}

void History::Forget() {
  while (stretches_.size() > 1 &&
         (bytes_ > limits_.bytes || stretches_.size() > limits_.stretches)) {
    const Stretch& gone = stretches_.front();
    bytes_ -= sizeof(Stretch) + gone.pageBytes + gone.effectBytes;
    stretches_.pop_front();
    ++first_;
    // The new oldest start needs no way further back.
    Stretch& oldest = stretches_.front();
    bytes_ -= oldest.pageBytes;
    oldest.pageBytes = 0;
    oldest.memoryBefore.clear();
    oldest.recordsBefore.clear();
  }
}

void History::Request(Machine& m, uint32_t command, uint32_t args) {
  if (!replaying_) {
    if (stretches_.empty()) {
      RunRequest(m, command, args);
      return;
    }
    RequestEffect e = capture_.Run(m, command, args);
    Stretch& s = stretches_.back();
    const size_t size = e.Footprint();
    s.effectBytes += size;
    bytes_ += size;
    s.effects.push_back(std::move(e));
    return;
  }
  const Stretch& s = At(replayStretch_);
  if (diverged_ || nextEffect_ >= s.effects.size() || s.effects[nextEffect_].command != command) {
    // Not what happened here: the re-run goes no further than a fault would take it.
    diverged_ = true;
    m.Stop(RunStop::FAULT_LEAVING, {FaultKind::UNKNOWN_REQUEST, m.Word(HDR_VPC), 0});
    return;
  }
  ApplyEffect(m, s.effects[nextEffect_++]);
}

void History::Rewind(Machine& m, uint64_t stretch) {
  std::memcpy(m.mem, memory_.data(), memory_.size());
  uint8_t* records = RecordBytes(m.heap);
  std::memcpy(records, records_.data(), records_.size());
  for (uint64_t s = Latest(); s > stretch; --s) {
    PutBack(m.mem, At(s).memoryBefore);
    PutBack(records, At(s).recordsBefore);
  }
  SetWords(m, At(stretch).words);
  if (!replaying_) liveHooks_ = m.hooks;
  m.hooks = &quiet_;
  replaying_ = true;
  diverged_ = false;
  replayStretch_ = stretch;
  nextEffect_ = 0;
}

void History::Live(Machine& m) {
  if (!replaying_) return;
  m.hooks = liveHooks_;
  replaying_ = diverged_ = false;
}

void History::Clear() {
  first_ += stretches_.size();
  stretches_.clear();
  memory_.clear();
  records_.clear();
  bytes_ = 0;
}

}  // namespace orvo::vm
