// Records a session while it runs: the runtime tells it of every delivery and screenshot,
// and as the machine's request hook it runs every request, keeping the effect of those
// answered from outside the game. The file is written once the run is over.
#pragma once

#include <string>

#include "host/recording.h"
#include "vm/request_effects.h"
#include "vm/requests.h"

namespace orvo::host {

class Recorder : public vm::RequestHook {
 public:
  explicit Recorder(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // The header and the data files, filled in by the runtime as it starts.
  Recording& Header() { return recording_; }
  void Delivered(const RecordedDelivery& d);
  void Screenshot(const std::string& file);
  void Request(vm::Machine& m, uint32_t command, uint32_t args) override;
  // Once, as the run ends (m's memory may be gone already): false with problem set when
  // the file cannot be written.
  bool Finish(const vm::Machine& m, std::string& problem);
  bool Finished() const { return finished_; }

 private:
  std::string path_;
  Recording recording_;
  vm::EffectCapture capture_;
  bool finished_ = false;
};

}  // namespace orvo::host
