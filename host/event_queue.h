// The ring of pending events between the window side and the program.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::host {

enum EventCode : int32_t {
  EVT_START = 1,
  EVT_WINDOW = 2,
  EVT_CLOSE = 3,
  EVT_END = 4,
  EVT_FOCUS = 5,
  EVT_MINIMIZE = 7,
  EVT_MOVE = 8,
  EVT_SIZE = 9,
  EVT_MUSIC_DONE = 10,
  EVT_TIMER = 11,
  EVT_DOWN = 12,
  EVT_UP = 13,
  EVT_CHAR = 14,
  EVT_MOUSE_MOVE = 15,
};

struct Event {
  int32_t code = 0, a1 = 0, a2 = 0, a3 = 0;
};

inline constexpr uint32_t EVENT_QUEUE_SIZE = 1024;

// Holds at most 1023 events: a write that would make the indices meet is dropped.
struct EventQueue {
  std::array<Event, EVENT_QUEUE_SIZE> entries{};
  uint32_t read = 0, write = 0;

  bool Empty() const { return read == write; }
  void Reset() { read = write = 0; }
};

void PostEvent(EventQueue& q, const Event& e);
// Removes the oldest event; false when the queue is empty.
bool TakeEvent(EventQueue& q, Event& out);
// True when an event of this code is waiting (the timer posts no second tick).
bool HasPending(const EventQueue& q, int32_t code);

}  // namespace orvo::host
