// The window requests group: message box, input polling, clipboard, placement, sizes,
// title, folders, version line, cursor, shell and key state.
#pragma once

#include <cstdint>
#include <string>

#include "host/event_queue.h"
#include "host/host_state.h"
#include "platform/platform.h"
#include "vm/machine.h"

namespace orvo::host {

struct WindowContext {
  platform::Platform platform;
  HostState& host;
  EventQueue& queue;
};

// Adds the group's rows, served through w, to the request table.
void AddWindowRequests(vm::RequestTable& t, WindowContext& w);

// The version line and the result word made from the system's version numbers.
uint32_t VersionLine(std::string& line);

}  // namespace orvo::host
