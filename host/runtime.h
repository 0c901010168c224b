// The host shell: one runtime object owns the machine, the event queue, the screen and
// every service's state, starts the program, runs the message loop and ends the process.
// The platform it is handed decides whether that happens in a real window or headless.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gfx/surface.h"
#include "gfx/text.h"
#include "host/captures.h"
#include "host/event_queue.h"
#include "host/game_archive.h"
#include "host/host_state.h"
#include "host/missing_files.h"
#include "host/player.h"
#include "host/recorder.h"
#include "host/replayer.h"
#include "host/window_requests.h"
#include "platform/platform.h"
#include "services/files.h"
#include "services/settings.h"
#include "sound/sound.h"
#include "vm/machine.h"
#include "vm/source_view.h"
#include "vm/trace.h"

namespace orvo::host {

struct RuntimeOptions {
  std::string commandLine;     // exactly "-eh" sets the start option
  std::string dataFolder;      // overrides the per-user folder when not empty
  std::string dumpFile;        // VM memory written here when the run ends
  std::string screenshotFile;  // client area written here as PNG when the run ends
  // Traces and breaks (see vm/trace.h): places are labels, FILE:LINE or 0x addresses.
  std::string traceFile;         // one line per instruction run
  std::string traceFrom;         // the trace begins here
  uint64_t traceCount = UINT64_MAX;
  std::vector<std::string> breaks;
  PlayerOptions player;        // the player's options from orvo's command line
  bool preferences = false;    // the player's preferences are read and kept
  GameArchive archive;         // the game's archive; none: the runtime's own folder
  // Not empty: the program is loaded from these bytes, not from a main.ove (a game
  // assembled in memory by the development mode).
  std::vector<uint8_t> image;
  // Set: the run replays this recording instead of taking input (orvo-headless --replay).
  ReplayOptions replay;
};

// How a run ended, beyond the exit code orvo returns (0 also after a program fault).
enum class RunOutcome {
  Ended,         // the program ended itself, the window closed or the screen changed
  FatalError,    // the runtime could not go on: no loadable image, heap or stack exhausted...
  ProgramFault,  // the program was ended in order after a fault of its own
  BadOptions,    // a trace or break place is not in the program; nothing was run
  BadRecording,  // the recording to replay is another image's, or its files cannot be written
  ReplayDiffers, // the replay left the recording, or a screenshot differs from the expected
};

class Runtime : public vm::Hooks {
 public:
  Runtime(platform::Platform platform, RuntimeOptions options);
  ~Runtime() override;
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // Start-up, message loop and ending; returns the process exit code.
  int Run();
  // Once Run has returned.
  RunOutcome Outcome() const;

  // The queue and deliveries.
  void PostEvent(const Event& e) { host::PostEvent(queue_, e); }
  void DispatchOneEvent();
  void Drain();
  // Events 1 to 4 bypass the queue; while ending only the end event is delivered.
  void DeliverDirect(int32_t code, int32_t a1 = 0, int32_t a2 = 0, int32_t a3 = 0);
  void ScreenSetup();
  // The window procedure: one translated window message.
  void WindowProc(const platform::Message& msg);

  vm::Machine& machine() { return machine_; }
  HostState& state() { return state_; }
  EventQueue& queue() { return queue_; }
  gfx::Graphics& graphics() { return graphics_; }
  services::FileService& files() { return files_; }
  sound::Sound& sound() { return sound_; }
  platform::Platform& platform() { return platform_; }
  bool Over() const { return over_; }

  // vm::Hooks
  void MessageBox(std::string_view text) override;
  void AppendDebugLog(std::string_view text) override;
  void SetTimer(uint32_t periodMs) override;
  uint32_t ElapsedMs() override;
  vm::LocalTime Now() override;
  void EndProgram(vm::Machine& m) override;
  void NoteFault(const vm::Fault& f) override;

 private:
  friend struct WindowProcTable;
  // Every subsystem's rows into the machine's request table.
  void AddRequests();
  // The text row: the font libraries start with the first text drawn.
  static void DrawTextRequest(vm::Request& r);
  bool StartUp();
  // The archive as the program folder, named after its manifest; false after a message.
  bool UseArchive();
  // The fonts and the SoundFont the archive carries, for the libraries that read paths.
  void UseArchiveFonts();
  void SetUpDataFolder();
  bool LoadProgram();
  // Traces and breaks from the options; false when one of them cannot be used.
  bool SetUpTracing();
  // Recording and replaying (runtime_recording.cpp). The recording or the replay begins
  // with the data folder's files: false when the replay cannot have them.
  bool BeginRecordOrReplay();
  // The image's bytes name the image a recording belongs to: false when the replay's is
  // another.
  bool BindImage(const std::vector<uint8_t>& image);
  // The screen and window sizes the run starts with, noted or, in a replay, taken.
  void NoteWindowSizes();
  // True when the delivery is to be made: recorded, or the replay's next.
  bool NoteDelivery(int32_t code, int32_t a1, int32_t a2, int32_t a3);
  void NoteScreenshot(const std::string& file);
  // The recorded run's deliveries in order, in place of the message loop.
  void ReplayLoop();
  void ReplayScreenshot(const std::string& name);
  // As the run ends, with VM memory still there: the recording written, or the replay's
  // end compared with the recorded one.
  void EndRecordOrReplay();
  // Whether a name the game reads is in the data folder or the game folder.
  bool InEitherFolder(std::string_view name) const;
  void MessageLoop();
  void Deliver(int32_t code, int32_t a1, int32_t a2, int32_t a3);
  void DestroyWindow();
  // Paints what the program drew since the last paint.
  void PaintDirty();
  void PaintAll();
  void Screenshot(const std::string& file);
  // The screen as the author's keys capture it.
  CaptureSource CaptureScreen() const;
  void Finish();
  // The music hooks of the window: minimize pauses, restore resumes, the end of a song
  // stops it and clears the playing flag.
  void PauseMusic();
  void ResumeMusic();
  // True when the program is to hear of it: a notice left over from a song that was
  // stopped or replaced since is dropped.
  bool MusicFinished();
  void StartText();
  // Ends the process with code once control is back in the loop.
  void Quit(int code);

  platform::Platform platform_;
  RuntimeOptions options_;
  vm::Machine machine_;
  HostState state_;
  EventQueue queue_;
  gfx::Graphics graphics_;
  gfx::TextState text_;
  bool textTried_ = false;
  services::FileService files_;
  services::SettingsStore settings_;
  sound::Sound sound_;
  WindowContext window_{platform_, state_, queue_};
  services::SettingsRequests settingsRequests_{settings_, files_};
  PlayerControls player_;
  std::string gameName_;  // the archive's manifest name: it names the data folder
  Captures captures_;
  bool windowDestroyed_ = false;
  bool over_ = false;
  bool badOptions_ = false;
  int exitCode_ = 0;
  MissingFiles missing_;
  vm::SourceView view_;  // the program's source, when velda's main.ovd is beside it
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile_{nullptr, std::fclose};
  std::unique_ptr<vm::Tracer> tracer_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Replayer> replayer_;
  bool replayRefused_ = false;
  bool replayDiffers_ = false;
};

}  // namespace orvo::host
