#include "sound/midi_player.h"

#include <chrono>
#include <cstdio>

namespace orvo::sound {

int LoadSong(const std::string& path, Song& song) {
  if (path.empty()) return ERR_INVALID_FILE;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return ERR_INVALID_FILE;
  std::vector<uint8_t> file;
  // An RMID wrapper adds its chunk headers (and may carry other chunks) around the song.
  constexpr size_t kMaxFile = MAX_SONG_BYTES + 4096;
  uint8_t chunk[0x4000];
  size_t n = 0;
  bool tooBig = false;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (file.size() + n > kMaxFile) {
      tooBig = true;
      break;
    }
    file.insert(file.end(), chunk, chunk + n);
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (tooBig) return ERR_OUT_OF_MEMORY;
  if (failed) return ERR_INVALID_FILE;
  std::span<const uint8_t> data;
  if (!UnwrapRmid(file, data)) return ERR_INVALID_FILE;
  if (data.data() == file.data() && data.size() == file.size())
    return ParseSong(std::move(file), song);
  return ParseSong(std::vector<uint8_t>(data.begin(), data.end()), song);
}

MidiPlayer::MidiPlayer(platform::Audio& audio, SongEnded songEnded, MidiStream& stream)
    : audio_(audio),
      songEnded_(std::move(songEnded)),
      stream_(stream),
      bufferMemory_(BUFFER_COUNT * BUFFER_SIZE),
      setupMemory_(SETUP_BLOCK - HEADER_BYTES) {
  for (int i = 0; i < BUFFER_COUNT; ++i) {
    buffers_[i].data = bufferMemory_.data() + i * BUFFER_SIZE;
    buffers_[i].bufferLength = BUFFER_SIZE;
    buffers_[i].user = this;
    PushFree(buffers_[i]);
  }
  setup_.data = setupMemory_.data();
  setup_.bufferLength = static_cast<uint32_t>(setupMemory_.size());
  setup_.user = this;
  StartFinisher();
}

MidiPlayer::~MidiPlayer() {
  Destroy();
}

void MidiPlayer::PushFree(MidiHeader& h) {
  h.next = free_;
  free_ = &h;
}

bool MidiPlayer::WaitQueuedEmpty() {
  for (int i = 0; i < WAIT_POLLS && queued_ != 0; ++i) {
    audio_.UnlockAudio();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    audio_.LockAudio();
  }
  return queued_ == 0;
}

void MidiPlayer::CancelFinish() {
  {
    std::lock_guard<std::mutex> lk(finishMutex_);
    generation_.fetch_add(1);
  }
  finishCv_.notify_all();
  finishedPosted_ = 0;
}

int MidiPlayer::Play(const std::string& path) {
  // The file is read and checked before the lock is taken, so the audio thread never
  // waits for the disk; the stop of the current song still comes first in effect.
  auto song = std::make_unique<Song>();
  int loaded = LoadSong(path, *song);

  Lock lock(audio_);
  if (destroyed_) return ERR_NOT_ALLOWED;
  if (state_ == PLAYER_PLAYING || state_ == PLAYER_PAUSED) StopLocked();
  fileName_ = path;
  if (state_ != PLAYER_CLOSED) return ERR_NOT_ALLOWED;
  if (loaded != 0) return loaded;
  song_ = std::move(song);
  songLength_ = song_->length;
  trackCount_ = song_->trackCount;
  division_ = song_->division;
  state_ = PLAYER_OPENED;

  // The end tick lies one past the song's last tick: the events on that tick (usually the
  // last notes' offs) are part of the song.
  int r = Preroll(0, songLength_ + 1);
  if (r == 0 && state_ == PLAYER_PREROLLED) {
    state_ = PLAYER_PLAYING;
    if (stream_.Restart() != MMSYSERR_NOERROR) r = ERR_DEVICE;
  }
  if (r != 0) {
    // A song that cannot start is closed again, so that the next play is not refused.
    if (state_ == PLAYER_PLAYING || state_ == PLAYER_PAUSED) StopLocked();
    if (stream_.IsOpen() && queued_ > 0) {
      state_ = PLAYER_STOPPING;
      stream_.Stop();
      WaitQueuedEmpty();
    }
    CloseSong();
  }
  return r;
}

int MidiPlayer::Preroll(uint64_t startTick, uint64_t endTick) {
  startTick_ = startTick;
  endTick_ = endTick;
  if (stream_.IsOpen()) {
    state_ = PLAYER_RESETTING;
    stream_.Reset();
    if (!WaitQueuedEmpty()) return ERR_DEVICE;
  } else if (stream_.Open(device_, this) != MMSYSERR_NOERROR) {
    return ERR_DEVICE;
  }
  state_ = PLAYER_OPENING;
  if (stream_.SetTimeDivision(division_) != MMSYSERR_NOERROR) return ERR_DEVICE;

  if (int r = QueueSetup(startTick); r != 0) return r;

  flags_ &= ~PLAYER_END_READ;
  while (free_ && !(flags_ & PLAYER_END_READ)) {
    MidiHeader* h = free_;
    free_ = h->next;
    uint32_t used = 0;
    FillResult fr = FillBuffer(*song_, endTick_, {h->data, h->bufferLength}, used);
    if (fr == FillResult::MALFORMED) {
      PushFree(*h);
      return ERR_INVALID_FILE;
    }
    if (fr == FillResult::END_READ) flags_ |= PLAYER_END_READ;
    h->bytesRecorded = used;
    if (stream_.Prepare(*h) != MMSYSERR_NOERROR || stream_.Queue(*h) != MMSYSERR_NOERROR) {
      stream_.Unprepare(*h);
      PushFree(*h);
      return ERR_DEVICE;
    }
    ++queued_;
  }
  state_ = PLAYER_PREROLLED;
  return 0;
}

int MidiPlayer::QueueSetup(uint64_t startTick) {
  SetupState setup;
  if (!ScanSetup(*song_, startTick, setup)) return ERR_INVALID_FILE;
  uint32_t need = SetupBytes(setup);
  uint32_t block = static_cast<uint32_t>(setupMemory_.size()) + HEADER_BYTES;
  while (need > block - HEADER_BYTES) {
    if (block >= SETUP_BLOCK_MAX) return ERR_OUT_OF_MEMORY;
    block = std::min(block * 2, SETUP_BLOCK_MAX);
  }
  if (block - HEADER_BYTES != setupMemory_.size()) {
    setupMemory_.assign(block - HEADER_BYTES, 0);
    setup_.data = setupMemory_.data();
    setup_.bufferLength = static_cast<uint32_t>(setupMemory_.size());
  }
  WriteSetup(setup, {setup_.data, need});
  setup_.bytesRecorded = need;
  if (stream_.Prepare(setup_) != MMSYSERR_NOERROR || stream_.Queue(setup_) != MMSYSERR_NOERROR)
    return ERR_DEVICE;
  // Counted like the ring buffers, so that every wait for the queue covers it too.
  ++queued_;
  return 0;
}

void MidiPlayer::Settle() {
  state_ = PLAYER_OPENED;
  flags_ &= ~PLAYER_STOP_PENDING;
  lastError_ = 0;
}

void MidiPlayer::BufferDone(MidiHeader& h) {
  --queued_;
  const bool ring = &h != &setup_;
  if (state_ == PLAYER_RESETTING) {
    if (ring) PushFree(h);
    return;
  }
  if (state_ == PLAYER_STOPPING || (flags_ & PLAYER_END_READ)) {
    if (ring) PushFree(h);
    stream_.Unprepare(h);
    if (queued_ > 0) return;
    if (state_ == PLAYER_STOPPING) {
      Settle();
    } else {
      // The song has played out. The wait before the stream stop runs on the worker (in
      // the page, a timer).
      state_ = PLAYER_OPENED;
      endedGeneration_.store(generation_.load());
      WakeFinisher();
    }
    return;
  }
  if (!ring) {
    stream_.Unprepare(h);
    return;
  }
  uint32_t used = 0;
  FillResult fr = FillBuffer(*song_, endTick_, {h.data, h.bufferLength}, used);
  if (fr == FillResult::END_READ) flags_ |= PLAYER_END_READ;
  h.bytesRecorded = used;
  if (fr == FillResult::MALFORMED || stream_.Queue(h) != MMSYSERR_NOERROR) {
    PushFree(h);
    stream_.Unprepare(h);
    state_ = PLAYER_STOPPING;
    // With nothing left queued no later callback would end the stop: end it here.
    if (queued_ == 0) Settle();
    return;
  }
  ++queued_;
}

void MidiPlayer::StopLocked() {
  CancelFinish();
  if (state_ == PLAYER_PLAYING || state_ == PLAYER_PAUSED) {
    flags_ |= PLAYER_STOP_PENDING;
    state_ = PLAYER_STOPPING;
    int r = stream_.Stop();
    if (r != MMSYSERR_NOERROR) {
      flags_ &= ~PLAYER_STOP_PENDING;
      lastError_ = r;
      return;
    }
    // The buffers come back from the audio thread; wait for them (bounded) so that the
    // song is closed now and a following play is not refused.
    WaitQueuedEmpty();
  }
  if (state_ == PLAYER_OPENED) {
    // After the end of a song the stream may still hold notes: release them now.
    if (stream_.IsOpen()) stream_.Stop();
    CloseSong();
  }
}

void MidiPlayer::CloseSong() {
  song_.reset();
  for (MidiHeader& h : buffers_) stream_.Unprepare(h);
  stream_.Unprepare(setup_);
  flags_ &= ~PLAYER_END_READ;
  state_ = PLAYER_CLOSED;
}

void MidiPlayer::Stop() {
  Lock lock(audio_);
  StopLocked();
}

void MidiPlayer::Pause() {
  Lock lock(audio_);
  if (state_ != PLAYER_PLAYING) return;
  state_ = PLAYER_PAUSED;
  stream_.Pause();
}

void MidiPlayer::Resume() {
  Lock lock(audio_);
  if (state_ != PLAYER_PAUSED) return;
  state_ = PLAYER_PLAYING;
  stream_.Restart();
}

bool MidiPlayer::Finished() {
  Lock lock(audio_);
  if (finishedPosted_ == 0) return false;
  --finishedPosted_;
  StopLocked();
  return true;
}

void MidiPlayer::Destroy() {
  {
    Lock lock(audio_);
    if (destroyed_) return;
    StopLocked();
    if (stream_.IsOpen()) stream_.Close();  // hands back whatever is still queued
    WaitQueuedEmpty();
    if (state_ != PLAYER_CLOSED) CloseSong();
    destroyed_ = true;
  }
  StopFinisher();
}

void MidiPlayer::FinishEnded(uint32_t generation) {
  bool post = false;
  audio_.LockAudio();
  if (generation_.load() == generation && state_ == PLAYER_OPENED && song_ && !destroyed_) {
    stream_.Stop();
    ++finishedPosted_;
    // Only one notice per song: a second wake for the same song finds it posted.
    generation_.fetch_add(1);
    post = true;
  }
  audio_.UnlockAudio();
  if (post) songEnded_();
}

int MidiPlayer::State() {
  Lock lock(audio_);
  return state_;
}

int MidiPlayer::QueuedCount() {
  Lock lock(audio_);
  return queued_;
}

uint32_t MidiPlayer::Flags() {
  Lock lock(audio_);
  return flags_;
}

int MidiPlayer::LastError() {
  Lock lock(audio_);
  return lastError_;
}

uint64_t MidiPlayer::SongLength() {
  Lock lock(audio_);
  return songLength_;
}

std::vector<TempoEntry> MidiPlayer::TempoMap() {
  Lock lock(audio_);
  return song_ ? song_->tempoMap : std::vector<TempoEntry>{};
}

}  // namespace orvo::sound
