// velda-dap: the debug adapter for orvo games. It speaks the Debug Adapter Protocol on
// standard input and output and runs the game in-process, in a real window or headless
// with an event script.
#include <unistd.h>

#include <cstdio>

#include "debugger/channel.h"
#include "debugger/crash_output.h"
#include "debugger/session.h"

int main() {
  // The protocol has standard output to itself: whatever else the runtime would print
  // there goes to standard error.
  const int protocolOut = dup(STDOUT_FILENO);
  if (protocolOut < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror("velda-dap");
    return 1;
  }
  orvo::debugger::SetCrashOutput(protocolOut);
  orvo::debugger::Channel channel(STDIN_FILENO, protocolOut);
  channel.Start();
  orvo::debugger::Session session(channel);
  const int code = session.Serve();
  std::fflush(stdout);
  // The reader thread may still be blocked reading the client: end without waiting.
  _exit(code);
}
