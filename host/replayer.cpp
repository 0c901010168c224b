#include "host/replayer.h"

#include "vm/machine.h"

namespace orvo::host {

namespace {

std::string Hex3(uint32_t command) {
  return vm::Format("0x%3.3X", command);
}

}  // namespace

std::string Describe(const RecordedItem& item) {
  switch (item.kind) {
    case RecordedItem::DELIVERY: {
      const RecordedDelivery& d = item.delivery;
      return vm::Format("the delivery of event %d (%d, %d, %d) at %u ms", d.code, d.a1, d.a2, d.a3,
                        d.ms);
    }
    case RecordedItem::REQUEST:
      return "the request " + Hex3(item.effect.command);
    case RecordedItem::SCREENSHOT:
      return "the screenshot " + item.shot;
    case RecordedItem::END:
      return "the end of the run";
  }
  return "an unknown item";
}

const RecordedItem* Replayer::Next() const {
  const std::vector<RecordedItem>& items = options_.recording->items;
  return next_ < items.size() ? &items[next_] : nullptr;
}

void Replayer::Leave(const std::string& instead) {
  if (Left()) return;
  const RecordedItem* item = Next();
  left_ = "the replay has left the recording at item " + std::to_string(next_ + 1) + " (" +
          (item ? Describe(*item) : std::string("past its end")) + "): the game " + instead;
}

bool Replayer::Deliver(const RecordedDelivery& d) {
  if (Left()) return false;
  const RecordedItem* item = Next();
  const RecordedDelivery& r = item ? item->delivery : d;
  if (!item || item->kind != RecordedItem::DELIVERY || r.code != d.code || r.a1 != d.a1 ||
      r.a2 != d.a2 || r.a3 != d.a3) {
    Leave(vm::Format("is delivered event %d (%d, %d, %d)", d.code, d.a1, d.a2, d.a3));
    return false;
  }
  if (options_.advanceClock) options_.advanceClock(r.ms);
  Skip();
  return true;
}

void Replayer::Request(vm::Machine& m, uint32_t command, uint32_t args) {
  if (Left() || !AnsweredFromOutside(m, command)) {
    vm::RunRequest(m, command, args);
    return;
  }
  const RecordedItem* item = Next();
  if (!item || item->kind != RecordedItem::REQUEST || item->effect.command != command) {
    Leave("asks for the request " + Hex3(command));
    // Nothing of the run counts any more: it ends here, before it waits for a clock that
    // will not move again.
    m.Stop(vm::RunStop::FATAL);
    return;
  }
  vm::ApplyEffect(m, item->effect);
  Skip();
}

}  // namespace orvo::host
