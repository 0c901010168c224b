// The runtime with its messages, the game's debug text and its faults also told to the
// debugger, which may stop the game there before it is ended.
#pragma once

#include <string_view>

#include "host/runtime.h"

namespace orvo::debugger {

class RuntimeListener {
 public:
  virtual ~RuntimeListener() = default;
  virtual void RuntimeMessage(std::string_view text) = 0;
  virtual void DebugText(std::string_view text) = 0;
  virtual void Fault(vm::Machine& m, const vm::Fault& f) = 0;
};

class DebuggedRuntime : public host::Runtime {
 public:
  DebuggedRuntime(platform::Platform platform, host::RuntimeOptions options, RuntimeListener& listener)
      : Runtime(platform, std::move(options)), listener_(listener) {}

  void MessageBox(std::string_view text) override {
    listener_.RuntimeMessage(text);
    Runtime::MessageBox(text);
  }
  void AppendDebugLog(std::string_view text) override {
    listener_.DebugText(text);
    Runtime::AppendDebugLog(text);
  }
  void NoteFault(const vm::Fault& f) override {
    Runtime::NoteFault(f);
    listener_.Fault(machine(), f);
  }

 private:
  RuntimeListener& listener_;
};

}  // namespace orvo::debugger
