#include "host/runtime.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/crash_report.h"
#include "host/debug_file.h"
#include "host/folders.h"
#include "host/image_file.h"
#include "host/screenshot.h"
#include "vm/interpreter.h"
#include "vm/loader.h"

namespace orvo::host {

namespace {

constexpr uint8_t START_OPTION_EH = 1;
constexpr const char* kWindowTitle = "ORVO 6.0";

}  // namespace

Runtime::Runtime(platform::Platform platform, RuntimeOptions options)
    : platform_(platform), options_(std::move(options)), machine_(*this) {
  AddRequests();
}

Runtime::~Runtime() {
  crash::UninstallFor(machine_);
  vm::ReleaseImage(machine_);
}

int Runtime::Run() {
  if (StartUp() && !over_) {
    if (replayer_)
      ReplayLoop();
    else
      MessageLoop();
  }
  Finish();
  if (replayer_ && replayer_->Left()) std::fprintf(stderr, "orvo: %s\n", replayer_->Why().c_str());
  return exitCode_;
}

RunOutcome Runtime::Outcome() const {
  if (badOptions_) return RunOutcome::BadOptions;
  if (replayRefused_) return RunOutcome::BadRecording;
  if (replayer_ && (replayer_->Left() || replayDiffers_)) return RunOutcome::ReplayDiffers;
  if (exitCode_ != 0) return RunOutcome::FatalError;
  return machine_.ProgramFault() ? RunOutcome::ProgramFault : RunOutcome::Ended;
}

void Runtime::Quit(int code) {
  if (over_) return;
  over_ = true;
  exitCode_ = code;
  platform_.window.PostQuit();
}

// Absolute like the program folder, and there to write in: the debug log and the
// settings file are only ever written into it.
void Runtime::SetUpDataFolder() {
  std::string folder = options_.dataFolder;
  if (folder.empty() && !gameName_.empty()) {
    const std::string documents = platform_.shell.DocumentsFolder();
    folder = documents.empty() ? ProgramFolderOf(options_.archive.path) + gameName_ + "/"
                               : DataFolderFor("/" + gameName_ + "/", documents);
  }
  if (folder.empty()) folder = DataFolderFor(state_.folders.program, platform_.shell.DocumentsFolder());
  state_.folders.data = AbsoluteFolder(folder);
  files_.folders = state_.folders;
  std::string problem;
  if (!CreateFolders(state_.folders.data, problem)) {
    std::fprintf(stderr, "orvo: cannot create the data folder %s: %s\n",
                 state_.folders.data.c_str(), problem.c_str());
  }
  services::SweepTemporaries(files_);
}

// The installed image is read unless the user's folder holds its own copy.
bool Runtime::LoadProgram() {
  ImageFile image;
  std::vector<uint8_t> read;  // the file's bytes, when a recording names the image by them
  if (!options_.image.empty()) {
    image.path = "the assembled image";
    image.file = fmemopen(options_.image.data(), options_.image.size(), "rb");
  } else {
    image = OpenImageFile(files_);
    if (image.file && (recorder_ || replayer_)) {
      read = ReadWholeFile(image.file);
      image.file = read.empty() ? nullptr : fmemopen(read.data(), read.size(), "rb");
    }
  }
  std::string unshown;
  if (vm::LoadImage(machine_, image.file, &unshown)) {
    if (!BindImage(options_.image.empty() ? read : options_.image)) return false;
    std::string note;
    view_ = LoadSourceView(image.path, note);
    if (!note.empty()) std::fprintf(stderr, "orvo: %s\n", note.c_str());
    return true;
  }
  // The loader shows a message for every failure but one; that one still deserves a word.
  if (!unshown.empty()) std::fprintf(stderr, "orvo: %s: %s\n", image.path.c_str(), unshown.c_str());
  return false;
}

bool Runtime::StartUp() {
  // Absolute before anything is named after it or resolved against it: the current
  // folder is no part of where the game lives.
  state_.folders.program = AbsoluteFolder(ProgramFolderOf(platform_.shell.ExecutablePath()));
  if (!options_.archive.path.empty() && !UseArchive()) {
    exitCode_ = 1;
    over_ = true;
    return false;
  }
  if (!platform_.shell.ClaimInstance(state_.folders.program)) return false;
  SetUpDataFolder();
  if (!BeginRecordOrReplay()) {
    exitCode_ = 1;
    over_ = true;
    return false;
  }
  player_.Start(options_.player,
                options_.preferences
                    ? PreferencesPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))
                    : std::string(),
                PreferencesSection(state_.folders.data));
  player_.authorKey = [this](PlayerCommand c) {
    if (c == PlayerCommand::Screenshot)
      NoteScreenshot(captures_.Screenshot(CaptureScreen(), Now(), platform_.window));
    else
      captures_.ToggleGif(CaptureScreen(), Now(), ElapsedMs(), platform_.window);
  };
  graphics_.openFile = [this](std::string_view name, const char* mode) {
    std::FILE* f = services::OpenForRuntime(files_, name, mode);
    if (!f && mode[0] == 'r' && !InEitherFolder(name))
      missing_.Note(name, {state_.folders.data, state_.folders.program});
    return f;
  };
  state_.controlKeyName = "Ctrl";

  if (!LoadProgram()) {
    exitCode_ = 1;
    over_ = true;
    return false;
  }
  if (!SetUpTracing()) {
    badOptions_ = true;
    exitCode_ = 1;
    over_ = true;
    return false;
  }
  state_.startTick = platform_.clock.TickCount();
  // From here a fault of the runtime leaves a report of the program's registers and stack.
  crash::Install(machine_, state_.folders.data, platform_.shell, &view_);

  ScreenSetup();
  if (over_) return false;
  if (options_.commandLine == "-eh") machine_.mem[vm::HDR_START_OPTIONS] |= START_OPTION_EH;
  if (options_.player.noJit) machine_.tier.enabled = false;

  DeliverDirect(EVT_START);
  if (over_) return false;

  const uint8_t* h = machine_.mem;
  player_.BeforeWindow(platform_.window, vm::Load16(h + vm::HDR_WINDOW_W),
                       vm::Load16(h + vm::HDR_WINDOW_H));
  if (!platform_.window.CreateWindow(
          kWindowTitle, vm::Load16(h + vm::HDR_WINDOW_X), vm::Load16(h + vm::HDR_WINDOW_Y),
          vm::Load16(h + vm::HDR_WINDOW_W), vm::Load16(h + vm::HDR_WINDOW_H))) {
    platform_.shell.MessageBox("Failed creating the window. Terminating. So sorry!");
    exitCode_ = 1;
    over_ = true;
    return false;
  }
  const platform::Size client = platform_.window.ClientSize();
  state_.clientWidth = client.width;
  state_.clientHeight = client.height;
  NoteWindowSizes();
  // Music files are looked up in the installation, names matched without regard to case.
  sound_.Open(
      platform_.audio, [this] { platform_.window.PostFromAnyThread(platform::MSG_MUSIC_DONE); },
      [this](std::string_view name) {
        std::string path;
        if (services::ResolveInstalledFile(files_, name, path)) return path;
        missing_.Note(name, {state_.folders.program});
        return std::string();
      });

  DeliverDirect(EVT_WINDOW);
  if (over_) return false;
  platform_.window.ShowWindow();
  player_.AfterShow(platform_.window, sound_);
  state_.mainLoopStarted = true;
  return true;
}

bool Runtime::InEitherFolder(std::string_view name) const {
  std::error_code ec;
  for (const bool dataFolder : {true, false}) {
    std::string path;
    if (services::ResolvePath(files_, name, dataFolder, path) && std::filesystem::exists(path, ec))
      return true;
  }
  return false;
}

bool Runtime::SetUpTracing() {
  if (options_.traceFile.empty() && options_.breaks.empty()) return true;
  vm::TraceOptions trace;
  std::string problem;
  auto place = [&](const std::string& option, const std::string& where) {
    std::optional<uint32_t> at = view_.Resolve(where, problem);
    if (!at) std::fprintf(stderr, "orvo: %s %s: %s\n", option.c_str(), where.c_str(), problem.c_str());
    return at;
  };
  for (const std::string& where : options_.breaks) {
    const std::optional<uint32_t> at = place("--break", where);
    if (!at) return false;
    trace.breaks.push_back(*at);
  }
  if (!options_.traceFrom.empty()) {
    trace.from = place("--trace-from", options_.traceFrom);
    if (!trace.from) return false;
  }
  if (!options_.traceFile.empty()) {
    traceFile_.reset(std::fopen(options_.traceFile.c_str(), "wb"));
    if (!traceFile_) {
      std::fprintf(stderr, "orvo: cannot write the trace %s\n", options_.traceFile.c_str());
      return false;
    }
    trace.trace = traceFile_.get();
  }
  trace.count = options_.traceCount;
  tracer_ = std::make_unique<vm::Tracer>(view_, std::move(trace));
  machine_.interpret = [this](vm::Machine& m) { tracer_->Run(m); };
  return true;
}

// Window messages always go first; one queued event is delivered per turn, and the
// screen is painted whenever the platform has nothing waiting.
void Runtime::MessageLoop() {
  while (!over_) {
    if (!platform_.window.PeekMessage()) {
      PaintDirty();
      if (!queue_.Empty()) {
        DispatchOneEvent();
        continue;
      }
    }
    platform::Message msg;
    if (!platform_.window.GetMessage(msg)) break;
    WindowProc(msg);
  }
}

void Runtime::Deliver(int32_t code, int32_t a1, int32_t a2, int32_t a3) {
  if (machine_.Fatal() || windowDestroyed_ || !machine_.mem) return;
  if (!NoteDelivery(code, a1, a2, a3)) return;
  vm::CallProgram(machine_, static_cast<uint32_t>(code), static_cast<uint32_t>(a1),
                  static_cast<uint32_t>(a2), static_cast<uint32_t>(a3));
  platform_.window.Delivered(code);
  if (machine_.Fatal()) Quit(machine_.ExitCode());
}

void Runtime::DeliverDirect(int32_t code, int32_t a1, int32_t a2, int32_t a3) {
  if (code != EVT_END && (machine_.hostFlags & vm::HOST_ENDING)) return;
  Deliver(code, a1, a2, a3);
}

void Runtime::DispatchOneEvent() {
  Event e;
  if (!TakeEvent(queue_, e)) return;
  if ((machine_.hostFlags & vm::HOST_ENDING) && e.code != EVT_END) return;
  Deliver(e.code, e.a1, e.a2, e.a3);
}

void Runtime::Drain() {
  while (!queue_.Empty() && !machine_.Fatal() && !windowDestroyed_) DispatchOneEvent();
}

// The message box keeps its text; where the fault lies in the source goes to stderr.
void Runtime::NoteFault(const vm::Fault& f) {
  if (!machine_.mem) return;
  const std::string report = vm::FaultReport(machine_, view_, f.at);
  size_t from = 0;
  while (from < report.size()) {
    const size_t end = report.find('\n', from);
    std::fprintf(stderr, "orvo: %.*s\n", static_cast<int>(end - from), report.c_str() + from);
    from = end + 1;
  }
  std::fflush(stderr);
}

void Runtime::EndProgram(vm::Machine&) {
  DestroyWindow();
  Quit(0);
}

// The window goes away: the program sees the end event, then the music, the surfaces
// and VM memory are released and the loop ends.
void Runtime::DestroyWindow() {
  if (windowDestroyed_) return;
  Deliver(EVT_END, 0, 0, 0);
  windowDestroyed_ = true;
  sound_.StopMusic();
  Finish();
  platform_.window.DestroyWindow();
  platform_.window.PostQuit();
}

// What the run leaves behind for whoever started it, then the release of VM memory and
// the screen.
void Runtime::Finish() {
  EndRecordOrReplay();
  if (!options_.screenshotFile.empty() && graphics_.screen.bits) {
    Screenshot(options_.screenshotFile);
    options_.screenshotFile.clear();
  }
  if (!options_.dumpFile.empty() && machine_.mem) {
    if (std::FILE* f = std::fopen(options_.dumpFile.c_str(), "wb")) {
      std::fwrite(machine_.mem, 1, machine_.memSize, f);
      std::fclose(f);
    }
    options_.dumpFile.clear();
  }
  captures_.End(ElapsedMs(), platform_.window);
  crash::UninstallFor(machine_);
  services::CloseAllFiles(files_);
  sound_.Close();
  gfx::TextShutdown(text_);
  gfx::DeleteScreen(graphics_);
  vm::ReleaseImage(machine_);
}

void Runtime::ScreenSetup() {
  const platform::Size desktop = platform_.window.DesktopSize();
  if (graphics_.screen.bits &&
      (desktop.width > state_.desktopWidth || desktop.height > state_.desktopHeight)) {
    // The surfaces go with the window, after the program has had its last events: it may
    // still draw while it saves.
    DeliverDirect(EVT_CLOSE, 1);
    Drain();
    queue_.Reset();
    MessageBox("Screen change: game ending, restart game");
    DestroyWindow();
    Quit(0);
    return;
  }
  state_.desktopWidth = desktop.width;
  state_.desktopHeight = desktop.height;
  const platform::Size display = platform_.window.DisplaySize();
  state_.displayWidth = display.width;
  state_.displayHeight = display.height;
  if (platform_.window.HasWindow()) {
    const platform::Size client = platform_.window.ClientSize();
    state_.clientWidth = client.width;
    state_.clientHeight = client.height;
  }
  if (!graphics_.screen.bits) {
    if (!gfx::CreateScreen(graphics_, desktop.width & 0xFFFF, desktop.height & 0xFFFF)) {
      MessageBox("Failed creating screen BITMAP. Terminating. So sorry!");
      Quit(1);
      return;
    }
  }
  gfx::DrawRectangle(graphics_, machine_, gfx::SURFACE_SCREEN, 0, 0, desktop.width, desktop.height,
                     0xFF000000u, 0);
}

void Runtime::PaintDirty() {
  int32_t x, y, w, h;
  if (!gfx::TakeDirty(graphics_, x, y, w, h) || !platform_.window.HasWindow()) return;
  platform_.window.Present(graphics_.screen.bits, graphics_.screen.width, graphics_.screen.height,
                           graphics_.screen.stride, {x, y, w, h});
  if (captures_.Recording()) captures_.Painted(CaptureScreen(), ElapsedMs(), platform_.window);
}

CaptureSource Runtime::CaptureScreen() const {
  const gfx::OwnedSurface& s = graphics_.screen;
  std::string game = state_.folders.program;
  while (!game.empty() && game.back() == '/') game.pop_back();
  game = game.substr(game.rfind('/') + 1);
  return {s.bits, std::min(state_.clientWidth, s.width), std::min(state_.clientHeight, s.height),
          s.stride, state_.folders.data, game.empty() ? "game" : game};
}

void Runtime::PaintAll() {
  if (!graphics_.screen.bits || !platform_.window.HasWindow()) return;
  platform_.window.Present(graphics_.screen.bits, graphics_.screen.width, graphics_.screen.height,
                           graphics_.screen.stride,
                           {0, 0, state_.clientWidth, state_.clientHeight});
}

void Runtime::Screenshot(const std::string& file) {
  const gfx::OwnedSurface& s = graphics_.screen;
  const int32_t w = std::min(state_.clientWidth, s.width);
  const int32_t h = std::min(state_.clientHeight, s.height);
  if (!WriteScreenshot(file, s.bits, w, h, s.stride))
    std::fprintf(stderr, "orvo: cannot write the screenshot %s\n", file.c_str());
}

// The font libraries start with the first text request: reading the font configuration
// is a good part of the start-up time, and many programs never draw text.
void Runtime::StartText() {
  if (textTried_) return;
  textTried_ = true;
  // Without fonts the program still runs; its text requests then draw nothing.
  UseArchiveFonts();
  if (!gfx::TextStartup(text_, graphics_))
    std::fprintf(stderr, "orvo: the font libraries could not be started\n");
}

void Runtime::MessageBox(std::string_view text) {
  platform_.shell.MessageBox(text);
}

void Runtime::AppendDebugLog(std::string_view text) {
  services::AppendDebugLog(files_, text);
}

// A running timer keeps its interval; the program stops it first to change it.
void Runtime::SetTimer(uint32_t periodMs) {
  if (periodMs == 0) {
    if (state_.timerId != 0) platform_.clock.StopTimer();
    state_.timerId = 0;
    return;
  }
  if (state_.timerId != 0) return;
  state_.timerId = platform_.clock.StartTimer(periodMs) ? 1 : 0;
}

uint32_t Runtime::ElapsedMs() {
  return platform_.clock.TickCount() - state_.startTick;
}

vm::LocalTime Runtime::Now() {
  const platform::LocalTime t = platform_.clock.Now();
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

void Runtime::PauseMusic() {
  sound_.PauseMusic();
}
void Runtime::ResumeMusic() {
  sound_.ResumeMusic();
}
bool Runtime::MusicFinished() {
  return sound_.OnMusicDone();
}

}  // namespace orvo::host
