// The runtime's crash report as the client's last output event. It is written from the
// crash handler, so it takes no lock and allocates nothing: the report file is read into
// a fixed buffer, escaped as a JSON string and written straight to the client's stream.
#pragma once

namespace orvo::debugger {

// Where the event goes; 1 (standard output) unless set.
void SetCrashOutput(int fd);
// A crash::ReportListener.
void SendCrashReport(void* context, const char* reportPath, const char* summary);

}  // namespace orvo::debugger
