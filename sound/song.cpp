#include "sound/song.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvo::sound {

namespace {

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}
void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

bool IsId(const uint8_t* p, const char* id) {
  return std::memcmp(p, id, 4) == 0;
}

// Stream events carry 32-bit deltas; a longer gap (days of silence) is cut to the longest.
uint32_t ClampDelta(uint64_t delta) {
  return static_cast<uint32_t>(std::min<uint64_t>(delta, std::numeric_limits<uint32_t>::max()));
}

void PutEvent(uint8_t* p, uint64_t delta, uint32_t event) {
  PutLe32(p, ClampDelta(delta));
  PutLe32(p + 4, 0);
  PutLe32(p + 8, event);
}

// Milliseconds for ticks at tempo. A time-code division counts ticks per frame at a fixed
// frame rate (29 is 29.97 frames per second) and ignores the tempo.
uint64_t TicksToMs(uint16_t division, uint64_t ticks, uint32_t tempo) {
  if (division & 0x8000) {
    int fps = -static_cast<int8_t>(division >> 8);
    uint64_t perFrame = division & 0xFF;
    if (fps == 29) return MulDivRound(ticks, 1000 * 1001, 30000 * perFrame);
    return MulDivRound(ticks, 1000, static_cast<uint64_t>(fps) * perFrame);
  }
  return MulDivRound(ticks, tempo, uint64_t{division} * 1000);
}

// A variable-length quantity of at most four bytes inside the track's remaining bytes.
bool PeekVlq(const Song& song, uint32_t pos, uint32_t remaining, uint32_t& value, uint32_t& count) {
  value = 0;
  for (count = 0; count < 4; ++count) {
    if (count >= remaining) return false;
    uint8_t b = song.bytes[pos + count];
    value = value << 7 | (b & 0x7F);
    if (!(b & 0x80)) {
      ++count;
      return true;
    }
  }
  return false;
}

bool ReadVlq(const Song& song, Track& t, uint32_t& value) {
  uint32_t count = 0;
  if (!PeekVlq(song, t.pos, t.remaining, value, count)) return false;
  t.pos += count;
  t.remaining -= count;
  return true;
}

bool PeekDelta(const Song& song, Track& t) {
  if (t.peeked) return true;
  if (!PeekVlq(song, t.pos, t.remaining, t.nextDelta, t.nextDeltaBytes)) return false;
  t.peeked = true;
  return true;
}

// Heap order: the earlier next event first, the earlier track on a tie.
bool Before(const Song& song, uint32_t a, uint32_t b) {
  const Track& ta = song.tracks[a];
  const Track& tb = song.tracks[b];
  uint64_t ka = ta.tick + ta.nextDelta, kb = tb.tick + tb.nextDelta;
  return ka != kb ? ka < kb : a < b;
}

void SiftDown(Song& song, size_t i) {
  std::vector<uint32_t>& h = song.heap;
  for (;;) {
    size_t l = 2 * i + 1, r = l + 1, m = i;
    if (l < h.size() && Before(song, h[l], h[m])) m = l;
    if (r < h.size() && Before(song, h[r], h[m])) m = r;
    if (m == i) return;
    std::swap(h[i], h[m]);
    i = m;
  }
}

void SiftUp(Song& song, size_t i) {
  std::vector<uint32_t>& h = song.heap;
  while (i > 0) {
    size_t p = (i - 1) / 2;
    if (!Before(song, h[i], h[p])) return;
    std::swap(h[i], h[p]);
    i = p;
  }
}

}  // namespace

uint64_t MulDivRound(uint64_t a, uint64_t b, uint64_t c) {
  if (c == 0) return std::numeric_limits<uint64_t>::max();
  unsigned __int128 q = (static_cast<unsigned __int128>(a) * b + c / 2) / c;
  if (q > std::numeric_limits<uint64_t>::max()) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(q);
}

bool UnwrapRmid(std::span<const uint8_t> file, std::span<const uint8_t>& data) {
  if (file.size() < 12 || !IsId(file.data(), "RIFF") || !IsId(file.data() + 8, "RMID")) {
    data = file;
    return true;
  }
  // Chunks follow the form type, each padded to an even length, up to the RIFF size.
  uint64_t end = std::min<uint64_t>(file.size(), uint64_t{Le32(file.data() + 4)} + 8);
  uint64_t pos = 12;
  while (pos + 8 <= end) {
    uint32_t size = Le32(file.data() + pos + 4);
    if (IsId(file.data() + pos, "data")) {
      if (size > end - pos - 8) return false;
      data = file.subspan(pos + 8, size);
      return true;
    }
    pos += 8 + uint64_t{size} + (size & 1);
  }
  return false;
}

void RewindSong(Song& song) {
  for (Track& t : song.tracks) {
    uint32_t length = t.remaining + (t.pos - t.start);
    t.pos = t.start;
    t.remaining = length;
    t.tick = 0;
    t.runningStatus = 0;
    t.ended = false;
    t.peeked = false;
  }
  song.currentTick = 0;
  song.allEnded = false;
  song.longMessage = LongMessage{};
  song.pendingDelta = 0;
  song.heap.clear();
  // An empty heap with tracks not ended is rebuilt (peeking every track) by the next read.
}

ReadResult ReadEvent(Song& song, uint64_t endTick, SongEvent& out) {
  if (song.heap.empty() && !song.allEnded) {
    for (uint32_t i = 0; i < song.tracks.size(); ++i) {
      if (song.tracks[i].ended) continue;
      if (!PeekDelta(song, song.tracks[i])) return ReadResult::MALFORMED;
      song.heap.push_back(i);
      SiftUp(song, song.heap.size() - 1);
    }
    if (song.heap.empty()) song.allEnded = true;
  }
  if (song.allEnded) return ReadResult::ALL_ENDED;

  uint32_t index = song.heap[0];
  Track& t = song.tracks[index];
  uint64_t tick = t.tick + t.nextDelta;
  if (tick >= endTick) return ReadResult::END_REACHED;
  t.pos += t.nextDeltaBytes;
  t.remaining -= t.nextDeltaBytes;
  t.peeked = false;
  if (t.remaining < 3) return ReadResult::MALFORMED;
  t.tick = tick;
  out = SongEvent{};
  out.tick = tick;
  out.delta = tick - song.currentTick;
  song.currentTick = tick;

  const uint8_t* b = song.bytes.data();
  uint8_t status = b[t.pos];
  if (status < 0x80) {
    if (t.runningStatus == 0) return ReadResult::MALFORMED;
    status = t.runningStatus;
  } else {
    ++t.pos;
    --t.remaining;
  }
  out.status = status;
  if (status < 0xF0) {
    t.runningStatus = status;
    uint32_t n = (status >> 4) == 0xC || (status >> 4) == 0xD ? 1 : 2;
    if (t.remaining < n) return ReadResult::MALFORMED;
    out.data1 = b[t.pos];
    if (n == 2) out.data2 = b[t.pos + 1];
    t.pos += n;
    t.remaining -= n;
  } else if (status == 0xF0 || status == 0xF7 || status == 0xFF) {
    t.runningStatus = 0;
    if (status == 0xFF) {
      if (t.remaining < 1) return ReadResult::MALFORMED;
      out.metaType = b[t.pos++];
      --t.remaining;
    }
    uint32_t length = 0;
    if (!ReadVlq(song, t, length) || length > t.remaining) return ReadResult::MALFORMED;
    out.dataPos = t.pos;
    out.length = length;
    t.pos += length;
    t.remaining -= length;
    if (status == 0xFF && out.metaType == 0x2F) t.ended = true;
  } else {
    return ReadResult::MALFORMED;
  }

  if (t.ended) {
    song.heap[0] = song.heap.back();
    song.heap.pop_back();
  } else if (!PeekDelta(song, t)) {
    return ReadResult::MALFORMED;
  }
  if (!song.heap.empty()) SiftDown(song, 0);
  return ReadResult::EVENT;
}

int ParseSong(std::vector<uint8_t> bytes, Song& song) {
  song = Song{};
  if (bytes.size() > MAX_SONG_BYTES) return ERR_OUT_OF_MEMORY;
  const size_t size = bytes.size();
  const uint8_t* p = bytes.data();
  if (size < 8 || !IsId(p, "MThd")) return ERR_INVALID_FILE;
  uint32_t headerLength = Be32(p + 4);
  if (headerLength < 6 || headerLength > size - 8) return ERR_INVALID_FILE;
  song.format = Be16(p + 8);
  song.trackCount = Be16(p + 10);
  song.division = Be16(p + 12);
  // A division of 0 (or a time code of 0 frames or 0 ticks per frame) gives no time scale.
  if (song.division == 0) return ERR_INVALID_FILE;
  if (song.division & 0x8000) {
    int fps = -static_cast<int8_t>(song.division >> 8);
    if (fps <= 0 || (song.division & 0xFF) == 0) return ERR_INVALID_FILE;
  }

  size_t pos = 8 + size_t{headerLength};
  song.tracks.resize(song.trackCount);
  for (Track& t : song.tracks) {
    if (size - pos < 8 || !IsId(p + pos, "MTrk")) return ERR_INVALID_FILE;
    uint32_t length = Be32(p + pos + 4);
    if (length > size - pos - 8) return ERR_INVALID_FILE;
    t.start = t.pos = static_cast<uint32_t>(pos + 8);
    t.remaining = length;
    pos += 8 + size_t{length};
  }
  song.heap.reserve(song.trackCount);
  song.bytes = std::move(bytes);

  // Read everything once: the checks of the merge reader, the tempo map and the length.
  song.tempoMap.reserve(16);
  uint64_t last = 0;
  SongEvent ev;
  for (;;) {
    ReadResult r = ReadEvent(song, std::numeric_limits<uint64_t>::max(), ev);
    if (r == ReadResult::ALL_ENDED) break;
    if (r != ReadResult::EVENT) return ERR_INVALID_FILE;
    last = ev.tick;
    if (ev.status != 0xFF || ev.metaType != 0x51) continue;
    if (ev.length != 3) return ERR_INVALID_FILE;
    const uint8_t* v = song.bytes.data() + ev.dataPos;
    uint32_t tempo = uint32_t{v[0]} << 16 | uint32_t{v[1]} << 8 | v[2];
    if (song.tempoMap.empty()) {
      if (ev.tick == 0) {
        song.tempoMap.push_back({0, 0, tempo});
        continue;
      }
      song.tempoMap.push_back({0, 0, DEFAULT_TEMPO});
    }
    const TempoEntry& prev = song.tempoMap.back();
    uint64_t ms = prev.ms + TicksToMs(song.division, ev.tick - prev.tick, prev.tempo);
    if (song.tempoMap.size() == song.tempoMap.capacity())
      song.tempoMap.reserve(song.tempoMap.size() + 16);
    song.tempoMap.push_back({ev.tick, ms, tempo});
  }
  if (song.tempoMap.empty()) song.tempoMap.push_back({0, 0, DEFAULT_TEMPO});
  song.length = last;
  RewindSong(song);
  return 0;
}

uint64_t TickToMs(const Song& song, uint64_t tick) {
  TempoEntry e;
  for (const TempoEntry& t : song.tempoMap) {
    if (t.tick > tick) break;
    e = t;
  }
  return e.ms + TicksToMs(song.division, tick - e.tick, e.tempo);
}

namespace {

// Writes as much of the long message in progress as fits, as one long event.
void WriteLongPiece(Song& song, uint64_t delta, std::span<uint8_t> buffer, uint32_t& used) {
  LongMessage& lm = song.longMessage;
  uint32_t room = (static_cast<uint32_t>(buffer.size()) - used - STREAM_EVENT_SIZE) & ~3u;
  uint32_t total = lm.remaining + (lm.writeF0 ? 1 : 0);
  uint32_t n = std::min(total, room);
  uint8_t* out = buffer.data() + used;
  PutEvent(out, delta, MEVT_LONGMSG | n);
  uint8_t* d = out + STREAM_EVENT_SIZE;
  uint32_t k = 0;
  if (lm.writeF0 && n > 0) {
    d[k++] = 0xF0;
    lm.writeF0 = false;
  }
  uint32_t copy = n - k;
  std::memcpy(d + k, song.bytes.data() + lm.pos, copy);
  lm.pos += copy;
  lm.remaining -= copy;
  uint32_t padded = (n + 3) & ~3u;
  std::memset(d + n, 0, padded - n);
  used += STREAM_EVENT_SIZE + padded;
  if (lm.remaining == 0 && !lm.writeF0) lm.active = false;
}

}  // namespace

FillResult FillBuffer(Song& song, uint64_t endTick, std::span<uint8_t> buffer, uint32_t& used) {
  used = 0;
  const uint32_t size = static_cast<uint32_t>(buffer.size());
  while (size - used >= 16) {
    if (song.longMessage.active) {
      WriteLongPiece(song, 0, buffer, used);
      continue;
    }
    SongEvent ev;
    ReadResult r = ReadEvent(song, endTick, ev);
    if (r == ReadResult::MALFORMED) return FillResult::MALFORMED;
    if (r != ReadResult::EVENT) {
      // The events left unsent at the end (end-of-track, anything at or past the end tick)
      // still take their time: a no-op carries it, so that the last buffer comes back at
      // the end of the song rather than at its last sounding event.
      uint64_t target = std::min(endTick, song.length);
      uint64_t sent = song.currentTick - song.pendingDelta;
      if (target > sent) {
        PutEvent(buffer.data() + used, target - sent, MEVT_NOP);
        used += STREAM_EVENT_SIZE;
        song.currentTick = target;
      }
      song.pendingDelta = 0;
      return FillResult::END_READ;
    }
    uint64_t delta = song.pendingDelta + ev.delta;
    if (ev.status < 0xF0) {
      PutEvent(buffer.data() + used, delta,
               MEVT_SHORTMSG | ev.status | uint32_t{ev.data1} << 8 | uint32_t{ev.data2} << 16);
      used += STREAM_EVENT_SIZE;
      song.pendingDelta = 0;
    } else if (ev.status == 0xFF && ev.metaType == 0x51 && ev.length == 3) {
      const uint8_t* v = song.bytes.data() + ev.dataPos;
      PutEvent(buffer.data() + used, delta,
               MEVT_TEMPO | uint32_t{v[0]} << 16 | uint32_t{v[1]} << 8 | v[2]);
      used += STREAM_EVENT_SIZE;
      song.pendingDelta = 0;
    } else if (ev.status != 0xFF && (ev.length > 0 || ev.status == 0xF0)) {
      // The file leaves out the 0xF0 of a system exclusive message; 0xF7 data (a
      // continuation or an escape) goes out as it is.
      song.longMessage = {true, ev.length, ev.dataPos, ev.status, ev.status == 0xF0};
      WriteLongPiece(song, delta, buffer, used);
      song.pendingDelta = 0;
    } else {
      song.pendingDelta = delta;  // not sent: the next event carries the time
    }
  }
  return FillResult::MORE;
}

SetupState::SetupState() {
  program.fill(-1);
  for (auto& c : controller) c.fill(-1);
}

bool ScanSetup(Song& song, uint64_t startTick, SetupState& state) {
  RewindSong(song);
  state = SetupState{};
  SongEvent ev;
  for (;;) {
    ReadResult r = ReadEvent(song, startTick, ev);
    if (r == ReadResult::MALFORMED) return false;
    if (r != ReadResult::EVENT) break;
    unsigned kind = ev.status >> 4, channel = ev.status & 0x0F;
    if (kind == 0xC) {
      state.program[channel] = ev.data1;
    } else if (kind == 0xB && ev.data1 < 120) {
      state.controller[channel][ev.data1] = ev.data2;
    } else if (ev.status == 0xFF && ev.metaType == 0x51 && ev.length == 3) {
      const uint8_t* v = song.bytes.data() + ev.dataPos;
      state.tempo = uint32_t{v[0]} << 16 | uint32_t{v[1]} << 8 | v[2];
    }
  }
  // The set-up events stand at the start tick, so the first event played counts from it.
  if (song.currentTick < startTick) song.currentTick = startTick;
  song.pendingDelta = 0;
  return true;
}

uint32_t SetupBytes(const SetupState& state) {
  uint32_t n = state.tempo >= 0 ? 1 : 0;
  for (int c = 0; c < 16; ++c) {
    if (state.program[c] >= 0) ++n;
    for (int16_t v : state.controller[c])
      if (v >= 0) ++n;
  }
  return n * STREAM_EVENT_SIZE;
}

void WriteSetup(const SetupState& state, std::span<uint8_t> buffer) {
  uint32_t used = 0;
  auto put = [&](uint32_t event) {
    PutEvent(buffer.data() + used, 0, event);
    used += STREAM_EVENT_SIZE;
  };
  if (state.tempo >= 0) put(MEVT_TEMPO | static_cast<uint32_t>(state.tempo));
  for (uint32_t c = 0; c < 16; ++c)
    if (state.program[c] >= 0) put(0xC0 | c | static_cast<uint32_t>(state.program[c]) << 8);
  for (uint32_t c = 0; c < 16; ++c)
    for (uint32_t n = 0; n < 120; ++n)
      if (state.controller[c][n] >= 0)
        put(0xB0 | c | n << 8 | static_cast<uint32_t>(state.controller[c][n]) << 16);
}

}  // namespace orvo::sound
