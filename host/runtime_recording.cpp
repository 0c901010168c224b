// The runtime's side of recording a session and replaying one: where the recorder and
// the replayer meet the start-up, the deliveries, the screenshots and the end of a run.
#include <cstdio>
#include <filesystem>

#include "gfx/picture.h"
#include "host/data_snapshot.h"
#include "host/runtime.h"

namespace orvo::host {

namespace {

// A PNG's pixels, or none when it cannot be read.
gfx::Picture ReadPng(const std::string& path) {
  gfx::Picture p;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    if (!gfx::DecodePng(f, p, uint64_t{1} << 31)) p = {};
    std::fclose(f);
  }
  return p;
}

}  // namespace

bool Runtime::BeginRecordOrReplay() {
  if (!options_.player.recordFile.empty()) {
    recorder_ = std::make_unique<Recorder>(options_.player.recordFile);
    std::string problem;
    if (!ReadDataFiles(state_.folders.data, recorder_->Path(), recorder_->Header().files,
                       problem)) {
      std::fprintf(stderr, "orvo: not recording: %s\n", problem.c_str());
      recorder_.reset();
    }
  }
  if (!options_.replay.recording) return true;
  replayer_ = std::make_unique<Replayer>(options_.replay);
  std::string problem;
  if (WriteDataFiles(state_.folders.data, replayer_->Recorded().files, problem)) return true;
  std::fprintf(stderr, "orvo: cannot replay: %s\n", problem.c_str());
  replayRefused_ = true;
  return false;
}

bool Runtime::BindImage(const std::vector<uint8_t>& image) {
  const Digest hash = Sha256(image.data(), image.size());
  const uint32_t build = vm::Load32(machine_.mem + vm::HDR_BUILD_NUMBER);
  if (recorder_) {
    Recording& r = recorder_->Header();
    r.image = hash;
    r.buildNumber = build;
    r.memorySize = machine_.memSize;
    r.start = platform_.clock.Now();
    r.commandLine = options_.commandLine;
    machine_.requestHook = recorder_.get();
  }
  if (!replayer_) return true;
  const Recording& r = replayer_->Recorded();
  if (r.image != hash || r.memorySize != machine_.memSize) {
    std::fprintf(stderr,
                 "orvo: cannot replay: the recording belongs to another image (build %u, "
                 "SHA-256 %s); this main.ove is build %u, SHA-256 %s\n",
                 r.buildNumber, HexDigest(r.image).c_str(), build, HexDigest(hash).c_str());
    replayRefused_ = true;
    return false;
  }
  machine_.requestHook = replayer_.get();
  return true;
}

void Runtime::NoteWindowSizes() {
  if (recorder_) {
    Recording& r = recorder_->Header();
    r.desktopWidth = state_.desktopWidth;
    r.desktopHeight = state_.desktopHeight;
    r.displayWidth = state_.displayWidth;
    r.displayHeight = state_.displayHeight;
    r.clientWidth = state_.clientWidth;
    r.clientHeight = state_.clientHeight;
  }
  if (replayer_) {
    // The window manager of the recorded run chose the client area; screenshots show it.
    state_.clientWidth = replayer_->Recorded().clientWidth;
    state_.clientHeight = replayer_->Recorded().clientHeight;
  }
}

bool Runtime::NoteDelivery(int32_t code, int32_t a1, int32_t a2, int32_t a3) {
  if (recorder_ && !recorder_->Finished()) recorder_->Delivered({code, a1, a2, a3, ElapsedMs()});
  if (!replayer_ || replayer_->Deliver({code, a1, a2, a3, 0})) return true;
  Quit(1);
  return false;
}

void Runtime::NoteScreenshot(const std::string& file) {
  if (recorder_ && !recorder_->Finished() && !file.empty()) recorder_->Screenshot(file);
}

void Runtime::ReplayLoop() {
  while (!over_) {
    const RecordedItem* item = replayer_->Next();
    if (!item) {
      // A recording of a run that ended without its end event (a fatal error).
      Quit(0);
      break;
    }
    switch (item->kind) {
      case RecordedItem::DELIVERY: {
        const RecordedDelivery d = item->delivery;
        if (d.code == EVT_END) {
          // The runtime's own end, as a closed window or a script's end makes it.
          DestroyWindow();
          Quit(0);
          break;
        }
        if (d.code == EVT_SIZE) {
          state_.clientWidth = d.a1;
          state_.clientHeight = d.a2;
        }
        Deliver(d.code, d.a1, d.a2, d.a3);
        break;
      }
      case RecordedItem::SCREENSHOT:
        ReplayScreenshot(item->shot);
        replayer_->Skip();
        break;
      case RecordedItem::REQUEST:
        replayer_->Leave("asks for nothing more in the event before");
        Quit(1);
        break;
      case RecordedItem::END:
        replayer_->Leave("goes on where the recorded run ended");
        Quit(1);
        break;
    }
  }
}

void Runtime::ReplayScreenshot(const std::string& name) {
  const std::string folder = state_.folders.data + "screenshots/";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  Screenshot(folder + name);
  if (options_.replay.expectFolder.empty()) return;
  const std::string expected = options_.replay.expectFolder + "/" + name;
  const gfx::Picture want = ReadPng(expected), got = ReadPng(folder + name);
  if (want.width == 0) {
    std::fprintf(stderr, "orvo: the expected screenshot %s cannot be read\n", expected.c_str());
    replayDiffers_ = true;
  } else if (want.width != got.width || want.height != got.height || want.bgra != got.bgra) {
    std::fprintf(stderr, "orvo: the screenshot %s differs from %s\n", name.c_str(),
                 expected.c_str());
    replayDiffers_ = true;
  }
}

void Runtime::EndRecordOrReplay() {
  if (recorder_ && !recorder_->Finished()) {
    std::string problem;
    if (!recorder_->Finish(machine_, problem)) std::fprintf(stderr, "orvo: %s\n", problem.c_str());
  }
  // The hook goes with the first end: the run's second Finish finds none.
  if (!replayer_ || replayer_->Left() || !machine_.requestHook) return;
  machine_.requestHook = nullptr;
  const RecordedItem* item = replayer_->Next();
  const bool recordedEnd = item && item->kind == RecordedItem::END;
  if (recordedEnd && machine_.mem && item->memory != Sha256(machine_.mem, machine_.memSize)) {
    replayer_->Leave("ends with other bytes in VM memory");
  } else if (recordedEnd) {
    replayer_->Skip();
  }
  if (replayer_->Next() && !replayer_->Left()) replayer_->Leave("ends here");
}

}  // namespace orvo::host
