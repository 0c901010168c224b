// The data folder's files as a recording carries them: read at the start of a recorded
// run, written into the empty data folder of its replay, so that every file request of
// the replay runs for real on the same files.
#pragma once

#include <string>
#include <vector>

#include "host/recording.h"

namespace orvo::host {

// The files under folder, sorted by name, except the debug log, the screenshots folder
// and the file skip (the recording itself, when it is written there); false with problem
// set when they come to more than kMaxRecordedFiles bytes or one cannot be read.
bool ReadDataFiles(const std::string& folder, const std::string& skip,
                   std::vector<RecordedFile>& out, std::string& problem);

// Writes them into folder (made when missing), which must hold nothing yet.
bool WriteDataFiles(const std::string& folder, const std::vector<RecordedFile>& files,
                    std::string& problem);

}  // namespace orvo::host
