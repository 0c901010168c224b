// A Standard MIDI File parsed into memory: the checks of the header and the track chunks,
// the merge reader that returns the events of all tracks in time order, the tempo map, and
// the writers that turn events into the 12-byte stream events of the MIDI stream.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace orvo::sound {

// The player's error numbers (the platform's multimedia error values).
inline constexpr int ERR_OUT_OF_MEMORY = 264;
inline constexpr int ERR_NOT_ALLOWED = 274;  // the request does not fit the player's state
inline constexpr int ERR_DEVICE = 276;       // the stream could not be opened or driven
inline constexpr int ERR_INVALID_FILE = 296;

// Song files larger than this are refused as too big to hold.
inline constexpr size_t MAX_SONG_BYTES = 16u << 20;

// Stream event words (the high byte is the event type).
inline constexpr uint32_t MEVT_SHORTMSG = 0x00000000;
inline constexpr uint32_t MEVT_TEMPO = 0x01000000;
inline constexpr uint32_t MEVT_NOP = 0x02000000;
inline constexpr uint32_t MEVT_LONGMSG = 0x80000000;
inline constexpr uint32_t STREAM_EVENT_SIZE = 12;  // delta, stream id, event word

inline constexpr uint32_t DEFAULT_TEMPO = 500000;  // microseconds per quarter note

// Rounded a * b / c with a 128-bit product, as the platform's MulDiv rounds (half up).
uint64_t MulDivRound(uint64_t a, uint64_t b, uint64_t c);

// The MIDI data of a file: the "data" chunk of a RIFF "RMID" file, otherwise the whole
// file. False when a RIFF "RMID" file has no complete "data" chunk.
bool UnwrapRmid(std::span<const uint8_t> file, std::span<const uint8_t>& data);

struct TempoEntry {
  uint64_t tick = 0;
  uint64_t ms = 0;
  uint32_t tempo = DEFAULT_TEMPO;
};

struct Track {
  uint32_t start = 0;      // first byte of the chunk's data in Song::bytes
  uint32_t remaining = 0;  // bytes of the chunk not read yet
  uint32_t pos = 0;        // read position in Song::bytes
  uint64_t tick = 0;       // absolute tick of the last event read
  uint8_t runningStatus = 0;
  bool ended = false;
  // The next event's delta, peeked but not consumed (valid when peeked).
  bool peeked = false;
  uint32_t nextDelta = 0;
  uint32_t nextDeltaBytes = 0;
};

// A system exclusive message (or a meta event's data) being written in pieces.
struct LongMessage {
  bool active = false;
  uint32_t remaining = 0;  // bytes of song data still to write
  uint32_t pos = 0;        // read position in Song::bytes
  uint8_t status = 0;      // 0xF0 or 0xF7
  bool writeF0 = false;    // the 0xF0 byte that the file leaves out is still to be written
};

struct Song {
  std::vector<uint8_t> bytes;  // the MIDI data, starting with "MThd"
  uint16_t format = 0, trackCount = 0, division = 0;
  uint64_t currentTick = 0;
  uint64_t length = 0;  // tick of the last event
  bool allEnded = false;
  std::vector<TempoEntry> tempoMap;
  LongMessage longMessage;
  // Delta ticks of events read but not written (meta events), added to the next one.
  uint64_t pendingDelta = 0;
  std::vector<Track> tracks;
  // Tracks ordered by (next tick, track index): the merge reader's choice is heap[0].
  std::vector<uint32_t> heap;
};

enum class ReadResult { EVENT, END_REACHED, ALL_ENDED, MALFORMED };

struct SongEvent {
  uint64_t tick = 0;
  uint64_t delta = 0;  // ticks since the song's previous event
  uint8_t status = 0;  // channel status, 0xF0, 0xF7 or 0xFF
  uint8_t data1 = 0, data2 = 0;
  uint8_t metaType = 0;
  uint32_t dataPos = 0;  // system exclusive or meta data in Song::bytes
  uint32_t length = 0;
};

// Checks and parses the MIDI data (after UnwrapRmid) and builds the tempo map and the song
// length by reading every track to its end; the song is left rewound. 0 or
// ERR_INVALID_FILE.
int ParseSong(std::vector<uint8_t> bytes, Song& song);
// Back to the start of every track.
void RewindSong(Song& song);
// The next event of the whole song whose tick lies before endTick.
ReadResult ReadEvent(Song& song, uint64_t endTick, SongEvent& out);

// Milliseconds from the start of the song at tick, from the tempo map.
uint64_t TickToMs(const Song& song, uint64_t tick);

enum class FillResult { MORE, END_READ, MALFORMED };
// Writes stream events for the song from its read position into buffer, until fewer than
// 16 bytes are free; used is the number of bytes written.
FillResult FillBuffer(Song& song, uint64_t endTick, std::span<uint8_t> buffer, uint32_t& used);

// The state at a start position: the last tempo, program and controllers 0-119 seen.
struct SetupState {
  int64_t tempo = -1;  // -1: none seen
  std::array<int16_t, 16> program{};
  std::array<std::array<int16_t, 120>, 16> controller{};
  SetupState();
};
// Reads the song from its start up to startTick (not including it).
bool ScanSetup(Song& song, uint64_t startTick, SetupState& state);
// Bytes of stream events that WriteSetup writes.
uint32_t SetupBytes(const SetupState& state);
// Tempo first, then programs channel by channel, then controllers channel by channel, each
// with delta 0. buffer must hold SetupBytes(state).
void WriteSetup(const SetupState& state, std::span<uint8_t> buffer);

}  // namespace orvo::sound
