#include "host/event_queue.h"

namespace orvo::host {

namespace {
uint32_t Advance(uint32_t i) {
  return (i + 1) % EVENT_QUEUE_SIZE;
}
}  // namespace

void PostEvent(EventQueue& q, const Event& e) {
  q.entries[q.write] = e;
  const uint32_t next = Advance(q.write);
  if (next != q.read) q.write = next;  // full: the event just written is discarded
}

bool TakeEvent(EventQueue& q, Event& out) {
  if (q.Empty()) return false;
  out = q.entries[q.read];
  q.read = Advance(q.read);
  return true;
}

bool HasPending(const EventQueue& q, int32_t code) {
  for (uint32_t i = q.read; i != q.write; i = Advance(i))
    if (q.entries[i].code == code) return true;
  return false;
}

}  // namespace orvo::host
