// The one table of sys requests. Each subsystem adds its rows (command, name, argument
// words and how they are checked, handler); the dispatcher looks the command up, checks
// the arguments and runs the handler. The same rows print as the list of requests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvo::vm {

struct Machine;

inline constexpr uint32_t SYS_COMMANDS = 2560;
inline constexpr uint32_t MAX_REQUEST_WORDS = 12;

// How a row's argument words are checked before its handler runs.
enum class ArgCheck : uint8_t {
  BLOCK,             // as one block: a block that ends outside VM memory faults at its start
  EACH_WORD,         // word by word: the fault names the first word outside VM memory
  BLOCK_THEN_VALUE,  // as BLOCK, then the handler reads a value of one or two words
  BY_HANDLER,        // the handler reads and checks them itself
};

// One request as its handler sees it.
struct Request {
  Machine& m;
  void* service;  // what the rows were added with
  uint32_t row;   // the low byte of the command
  uint32_t args;  // VM address of the first argument word
  uint32_t a[MAX_REQUEST_WORDS];
};

struct RequestRow {
  uint32_t command;  // group * 256 + row
  const char* name;
  uint32_t words;  // argument words the program hands over
  ArgCheck check;
  void (*run)(Request& r);
  // Its answer comes from outside the game (the clock, the window, the desktop...): a
  // recording keeps what it did, and a replay puts that back instead of running it.
  bool outside = false;
};

struct RequestTable {
  struct Route {
    const RequestRow* row = nullptr;
    void* service = nullptr;
  };
  // Starts with the machine's own rows (time, heap).
  RequestTable();
  std::vector<Route> routes;  // indexed by command
};

// The rows stay owned by the caller (static tables); service is handed to each handler.
void AddRequests(RequestTable& t, std::span<const RequestRow> rows, void* service);

template <typename Service>
Service& ServiceOf(const Request& r) {
  return *static_cast<Service*>(r.service);
}

// Runs a command whose block starts 4 bytes before args: unknown commands report or do
// nothing as their group decides, bad argument words stop the program.
void RunRequest(Machine& m, uint32_t command, uint32_t args);

// Takes the place of running a request when a machine has one: a debugger that can go
// back notes each request's effect, and a replay puts recorded effects back.
class RequestHook {
 public:
  virtual ~RequestHook() = default;
  virtual void Request(Machine& m, uint32_t command, uint32_t args) = 0;
};

// One line per row: command, name, argument words and how they are checked.
std::string RequestList(const RequestTable& t);

}  // namespace orvo::vm
