// The music player: one Standard MIDI File (plain or in a RIFF "RMID" wrapper) at a time,
// parsed whole and fed to the MIDI stream from a ring of four event buffers that the
// stream hands back from the audio thread. When a song has played out, a worker thread
// (in the page, a timer of the browser's) waits 2500 ms, stops the stream (releasing the
// notes still held) and tells the host (which posts MSG_MUSIC_DONE to itself).
//
// The public calls are made on the host's thread; each takes the platform's audio lock,
// under which all of the player's state lives (the audio thread holds it while it runs
// the stream and calls BufferDone).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "sound/midi_stream.h"
#include "sound/song.h"

namespace orvo::sound {

enum PlayerState : int {
  PLAYER_CLOSED = 0,
  PLAYER_OPENED = 1,
  PLAYER_OPENING = 2,
  PLAYER_PREROLLED = 3,
  PLAYER_PLAYING = 4,
  PLAYER_PAUSED = 5,
  PLAYER_STOPPING = 6,
  PLAYER_RESETTING = 7,
};

inline constexpr uint32_t PLAYER_END_READ = 0x1;
inline constexpr uint32_t PLAYER_STOP_PENDING = 0x4;

// Reads a song file: the data chunk of an RMID file or the whole file, checked and parsed.
// 0, ERR_INVALID_FILE (also for a file that cannot be opened) or ERR_OUT_OF_MEMORY.
int LoadSong(const std::string& path, Song& song);

class MidiPlayer : public MidiStreamClient {
 public:
  static constexpr int BUFFER_COUNT = 4;
  static constexpr uint32_t BUFFER_SIZE = 1024;
  static constexpr uint32_t HEADER_BYTES = 64;  // of each buffer block, as it is counted
  static constexpr uint32_t SETUP_BLOCK = 4096;
  static constexpr uint32_t SETUP_BLOCK_MAX = 0x7FFF;
  static constexpr uint32_t FINISH_WAIT_MS = 2500;
  static constexpr int WAIT_POLLS = 100;  // waits for buffers: 100 times 2 ms

  // songEnded is called on the player's own thread, once for each song that played out.
  using SongEnded = std::function<void()>;
  MidiPlayer(platform::Audio& audio, SongEnded songEnded, MidiStream& stream);
  ~MidiPlayer() override;
  MidiPlayer(const MidiPlayer&) = delete;
  MidiPlayer& operator=(const MidiPlayer&) = delete;

  // 0 when the song plays, else an error number (ERR_*).
  int Play(const std::string& path);
  void Pause();
  void Resume();
  void Stop();
  // Stops, closes the stream and frees everything; the player then refuses to play.
  void Destroy();
  // The host received MSG_MUSIC_DONE: true when it is about the song loaded now (a stop or
  // a new play since makes it stale), and the song is then closed.
  bool Finished();

  // Snapshots, under the lock.
  int State();
  int QueuedCount();
  uint32_t Flags();
  int LastError();
  uint64_t SongLength();
  std::vector<TempoEntry> TempoMap();

  // The stream's buffer-done callback (audio thread, lock held).
  void BufferDone(MidiHeader& header) override;

 private:
  struct Lock {
    explicit Lock(platform::Audio& a) : a_(a) { a_.LockAudio(); }
    ~Lock() { a_.UnlockAudio(); }
    platform::Audio& a_;
  };

  void StopLocked();
  int Preroll(uint64_t startTick, uint64_t endTick);
  int QueueSetup(uint64_t startTick);
  void CloseSong();
  // Polls the queued count every 2 ms with the lock released; true once it is 0.
  bool WaitQueuedEmpty();
  void PushFree(MidiHeader& h);
  // All buffers of a stop or an ended song are back: the state becomes 1.
  void Settle();
  void CancelFinish();
  // The wait after a song has played out: a worker thread natively (midi_finisher.cpp),
  // a timer of the browser's in the page (web/midi_finisher_web.cpp).
  void StartFinisher();
  // The song has played out (audio thread, lock held): the wait begins.
  void WakeFinisher();
  // The player ends: the worker quits, or the timer is cancelled.
  void StopFinisher();
  void FinishThread();
  // The wait is over: the stream stops and the host hears of it, when no stop or new song
  // came in between (the generation the wait began with is still the current one).
  void FinishEnded(uint32_t generation);

  platform::Audio& audio_;
  const SongEnded songEnded_;
  MidiStream& stream_;

  // The player record.
  std::string fileName_;
  int32_t device_ = MIDI_MAPPER;
  int state_ = PLAYER_CLOSED;
  uint64_t songLength_ = 0;
  uint32_t trackCount_ = 0, division_ = 0;
  int lastError_ = 0;
  std::unique_ptr<Song> song_;
  MidiHeader buffers_[BUFFER_COUNT];
  std::vector<uint8_t> bufferMemory_;
  MidiHeader* free_ = nullptr;
  MidiHeader setup_;
  std::vector<uint8_t> setupMemory_;
  int queued_ = 0;
  uint64_t startTick_ = 0, endTick_ = 0;  // the part played: from startTick_, before endTick_
  uint32_t flags_ = 0;
  bool destroyed_ = false;

  // End of song: the audio thread wakes the worker, which waits, stops and posts. Every
  // play and stop starts a new generation, which cancels a wait for an older song.
  std::atomic<uint32_t> generation_{0};
  std::atomic<uint32_t> endedGeneration_{0};
  std::atomic<bool> quit_{false};
  std::counting_semaphore<> wake_{0};
  std::mutex finishMutex_;
  std::condition_variable finishCv_;
  int finishedPosted_ = 0;  // MSG_MUSIC_DONE posted for the current song, not yet taken
  std::thread finisher_;
  int finishTimer_ = 0;  // the page's pending wait (0 when none)
};

}  // namespace orvo::sound
