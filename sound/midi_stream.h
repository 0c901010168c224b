// The platform MIDI stream: buffers of timed stream events (short, tempo and long messages)
// queued by the player, played into a MIDI device at their sample times inside the audio
// render, and handed back to the player from the audio thread when played.
//
// Locking: every call but Render is made with the platform's audio lock held; Render runs
// on the audio thread, which holds that lock while it renders. The buffer-done callback
// is made from Render (or from Close, on the caller's thread, for what is still queued).
#pragma once

#include <cstdint>
#include <memory>

namespace orvo::sound {

inline constexpr uint32_t MHDR_DONE = 0x1;
inline constexpr uint32_t MHDR_PREPARED = 0x2;
inline constexpr uint32_t MHDR_INQUEUE = 0x4;

struct MidiHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;
  uint32_t bytesRecorded = 0;  // bytes of stream events in data
  void* user = nullptr;
  uint32_t flags = 0;
  MidiHeader* next = nullptr;  // free for the owner (the player's free list)
  // Owned by the stream while the buffer is queued.
  MidiHeader* streamNext = nullptr;
  uint32_t offset = 0;
};

// Where the stream's messages go: a synthesizer, or a recorder in tests.
class MidiDevice {
 public:
  virtual ~MidiDevice() = default;
  // status | data1 << 8 | data2 << 16
  virtual void ShortMessage(uint32_t message) = 0;
  // One whole system exclusive message, from 0xF0 to 0xF7 inclusive.
  virtual void SysEx(const uint8_t* data, uint32_t length) = 0;
  // Every held note released, the sustain pedals lifted.
  virtual void NotesOff() = 0;
  // Notes off and every channel back to its power-on programs and controllers.
  virtual void Reset() = 0;
  // Adds frames of interleaved stereo output to the buffer.
  virtual void Render(float* stereo, int frames) = 0;
};

class MidiStreamClient {
 public:
  virtual ~MidiStreamClient() = default;
  virtual void BufferDone(MidiHeader& header) = 0;
};

enum MidiResult : int {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_BADDEVICEID = 2,
  MMSYSERR_ALLOCATED = 4,
  MMSYSERR_INVALHANDLE = 5,
  MMSYSERR_NODRIVER = 6,
  MMSYSERR_INVALPARAM = 11,
  MIDIERR_UNPREPARED = 64,
  MIDIERR_STILLPLAYING = 65,
};

inline constexpr int32_t MIDI_MAPPER = -1;

class MidiStream {
 public:
  explicit MidiStream(int sampleRate);
  MidiStream(const MidiStream&) = delete;
  MidiStream& operator=(const MidiStream&) = delete;

  // The device behind the mapper; without one no stream opens. Not owned.
  void SetDevice(MidiDevice* device) { device_ = device; }
  MidiDevice* Device() const { return device_; }

  // Opens the stream paused, tempo 500000, division 96.
  int Open(int32_t deviceId, MidiStreamClient* client);
  // Hands back what is still queued (on the caller's thread) and closes.
  int Close();
  bool IsOpen() const { return open_; }
  // Ticks per quarter note, or a time code (high bit set) as in a file header.
  int SetTimeDivision(uint32_t division);
  int Prepare(MidiHeader& h);
  int Unprepare(MidiHeader& h);
  int Queue(MidiHeader& h);
  int Restart();
  // Playing stops where it is; held notes are released.
  int Pause();
  // Held notes released, position back to the start; queued buffers are handed back
  // from the audio thread.
  int Stop();
  // As Stop, and the device and the tempo back to their power-on state.
  int Reset();

  // Audio thread: hands back released buffers, then plays the events due while adding
  // the device's output for frames to stereo.
  void Render(float* stereo, int frames);

  bool Running() const { return running_; }
  // Samples rendered while the stream was running, since it was opened.
  uint64_t PlayedSamples() const { return played_; }
  uint32_t Tempo() const { return tempo_; }
  // System exclusive messages too long for the assembly buffer, dropped.
  uint32_t DroppedSysEx() const { return droppedSysEx_; }

  static constexpr uint32_t SYSEX_CAPACITY = 65536;

 private:
  void ReleaseQueue();
  void FinishHead();
  // Loads the next event of the queue and dispatches every event that is due now.
  void PlayDueEvents();
  uint64_t TicksToSamples(uint32_t ticks);
  void Dispatch(const uint8_t* event, uint32_t word);
  void LongBytes(const uint8_t* data, uint32_t length);

  const int rate_;
  MidiDevice* device_ = nullptr;
  MidiStreamClient* client_ = nullptr;
  bool open_ = false;
  bool running_ = false;
  uint32_t division_ = 96;
  uint32_t tempo_ = 500000;
  uint64_t remainder_ = 0;  // of the tick-to-sample conversion, in 1/denominator samples
  MidiHeader* head_ = nullptr;
  MidiHeader* tail_ = nullptr;
  MidiHeader* returning_ = nullptr;  // released by Stop or Reset, handed back by Render
  MidiHeader* returningTail_ = nullptr;
  bool loaded_ = false;  // the event at head_->offset is waiting for wait_ samples
  uint64_t wait_ = 0;
  uint64_t played_ = 0;

  // Long messages arrive in pieces; a system exclusive message is gathered whole.
  std::unique_ptr<uint8_t[]> sysex_;
  uint32_t sysexLength_ = 0;
  bool inSysEx_ = false;
  bool sysexOverflow_ = false;
  uint32_t droppedSysEx_ = 0;
  uint8_t byteStatus_ = 0;  // running status of channel bytes inside long messages
  uint8_t byteData_[2] = {};
  uint32_t byteCount_ = 0;
};

}  // namespace orvo::sound
