#include "host/recorder.h"

#include <cstdio>
#include <filesystem>

namespace orvo::host {

void Recorder::Delivered(const RecordedDelivery& d) {
  RecordedItem item;
  item.kind = RecordedItem::DELIVERY;
  item.delivery = d;
  recording_.items.push_back(std::move(item));
}

void Recorder::Screenshot(const std::string& file) {
  RecordedItem item;
  item.kind = RecordedItem::SCREENSHOT;
  item.shot = std::filesystem::path(file).filename().string();
  recording_.items.push_back(std::move(item));
}

void Recorder::Request(vm::Machine& m, uint32_t command, uint32_t args) {
  if (!AnsweredFromOutside(m, command)) {
    vm::RunRequest(m, command, args);
    return;
  }
  RecordedItem item;
  item.kind = RecordedItem::REQUEST;
  item.effect = capture_.Run(m, command, args);
  recording_.items.push_back(std::move(item));
}

bool Recorder::Finish(const vm::Machine& m, std::string& problem) {
  finished_ = true;
  if (m.mem) {
    RecordedItem end;
    end.kind = RecordedItem::END;
    end.memory = Sha256(m.mem, m.memSize);
    recording_.items.push_back(std::move(end));
  }
  const std::vector<uint8_t> bytes = EncodeRecording(recording_);
  std::FILE* f = std::fopen(path_.c_str(), "wb");
  bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) written = false;
  if (!written) problem = "cannot write the recording " + path_;
  return written;
}

}  // namespace orvo::host
