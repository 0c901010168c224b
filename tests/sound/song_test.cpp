// The song file: RMID unwrapping, the header and chunk checks, the merge reader and the
// tempo map.
#include "sound/song.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "sound/midi_player.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

using test::Bytes;
using test::Smf;
using test::TrackBuilder;

constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();

// Every event of the song as (tick, status, data1).
struct Seen {
  uint64_t tick, delta;
  uint8_t status, data1;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> ReadAll(Song& s) {
  std::vector<Seen> out;
  SongEvent ev;
  while (ReadEvent(s, kNoEnd, ev) == ReadResult::EVENT)
    out.push_back({ev.tick, ev.delta, ev.status, ev.data1});
  return out;
}

TEST(MulDivRound, RoundsHalfUpWithoutOverflow) {
  EXPECT_EQ(MulDivRound(1, 500000, 1000000), 1u);  // 0.5 rounds up
  EXPECT_EQ(MulDivRound(1, 499999, 1000000), 0u);
  EXPECT_EQ(MulDivRound(96, 500000, 96000), 500u);
  EXPECT_EQ(MulDivRound(7, 500000, 96000), 36u);  // 36.458
  // The product does not fit 64 bits; the quotient does.
  EXPECT_EQ(MulDivRound(uint64_t{1} << 40, uint64_t{1} << 30, uint64_t{1} << 20),
            uint64_t{1} << 50);
}

TEST(SongParse, FormatZeroRunningStatusAndDefaultTempo) {
  TrackBuilder t;
  t.On(0, 0, 60).Raw(10, {62, 90}).Raw(5, {64, 80}).Off(20, 0, 60).End(3);
  Song s;
  ASSERT_EQ(ParseSong(Smf(0, 96, {t}), s), 0);
  EXPECT_EQ(s.format, 0);
  EXPECT_EQ(s.trackCount, 1);
  EXPECT_EQ(s.division, 96);
  EXPECT_EQ(s.length, 38u);  // the end-of-track event is the last one read
  ASSERT_EQ(s.tempoMap.size(), 1u);
  EXPECT_EQ(s.tempoMap[0].tick, 0u);
  EXPECT_EQ(s.tempoMap[0].tempo, DEFAULT_TEMPO);
  // Parsing leaves the song rewound; running status repeats the note-on status.
  std::vector<Seen> seen = ReadAll(s);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[1], (Seen{10, 10, 0x90, 62}));
  EXPECT_EQ(seen[2], (Seen{15, 5, 0x90, 64}));
  EXPECT_EQ(seen[3], (Seen{35, 20, 0x80, 60}));
  EXPECT_TRUE(s.allEnded);
}

TEST(SongParse, FormatOneMergesByTimeWithTiesInTrackOrder) {
  TrackBuilder a, b, c;
  a.On(0, 0, 10).On(10, 0, 11).End();
  b.On(5, 1, 20).On(5, 1, 21).End();   // tick 10 ties with track 0's second event
  c.On(10, 2, 30).On(0, 2, 31).End();  // tick 10 as well
  Song s;
  ASSERT_EQ(ParseSong(Smf(1, 480, {a, b, c}), s), 0);
  std::vector<Seen> seen = ReadAll(s);
  std::vector<uint8_t> keys;
  for (const Seen& e : seen)
    if (e.status < 0xF0) keys.push_back(e.data1);
  EXPECT_EQ(keys, (std::vector<uint8_t>{10, 20, 11, 21, 30, 31}));
  EXPECT_EQ(s.length, 10u);
}

TEST(SongParse, TempoMapInMilliseconds) {
  // First tempo after tick 0: the map starts with the default tempo.
  TrackBuilder t;
  t.Tempo(96, 250000).On(0, 0, 60).Tempo(192, 1000000).Off(48, 0, 60).End();
  Song s;
  ASSERT_EQ(ParseSong(Smf(0, 96, {t}), s), 0);
  ASSERT_EQ(s.tempoMap.size(), 3u);
  EXPECT_EQ(s.tempoMap[0].tempo, DEFAULT_TEMPO);
  EXPECT_EQ(s.tempoMap[1].tick, 96u);
  EXPECT_EQ(s.tempoMap[1].ms, 500u);
  EXPECT_EQ(s.tempoMap[1].tempo, 250000u);
  EXPECT_EQ(s.tempoMap[2].tick, 288u);
  EXPECT_EQ(s.tempoMap[2].ms, 1000u);  // 500 + 192 ticks at 250 ms per quarter
  EXPECT_EQ(TickToMs(s, 336), 1500u);
  EXPECT_EQ(s.length, 336u);

  // A tempo at tick 0 replaces the default; each step is rounded on its own.
  TrackBuilder u;
  u.Tempo(0, 400000).Tempo(7, 300000).Tempo(7, 500000).End(1);
  ASSERT_EQ(ParseSong(Smf(0, 96, {u}), s), 0);
  ASSERT_EQ(s.tempoMap.size(), 3u);
  EXPECT_EQ(s.tempoMap[0].tempo, 400000u);
  EXPECT_EQ(s.tempoMap[1].ms, 29u);       // 7 * 400000 / 96000 = 29.17
  EXPECT_EQ(s.tempoMap[2].ms, 29u + 22);  // 7 * 300000 / 96000 = 21.875
}

TEST(SongParse, TimeCodeDivision) {
  TrackBuilder t;
  t.On(0, 0, 60).Off(100, 0, 60).End();
  Song s;
  // 25 frames per second, 40 ticks per frame: a tick is a millisecond.
  ASSERT_EQ(ParseSong(Smf(0, static_cast<uint16_t>(0xE7 << 8 | 40), {t}), s), 0);
  EXPECT_EQ(TickToMs(s, 100), 100u);
}

TEST(SongParse, RefusesMalformedData) {
  auto parse = [](const Bytes& b) {
    Song s;
    return ParseSong(b, s);
  };
  TrackBuilder ok;
  ok.On(0, 0, 60).Off(10, 0, 60).End();
  Bytes good = Smf(0, 96, {ok});
  ASSERT_EQ(parse(good), 0);

  EXPECT_EQ(parse({}), ERR_INVALID_FILE);
  EXPECT_EQ(parse(Bytes(good.begin(), good.begin() + 7)), ERR_INVALID_FILE);
  Bytes b = good;
  b[0] = 'X';  // not "MThd"
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[7] = 5;  // header shorter than 6
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[6] = 0x10;  // header longer than the data
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[12] = b[13] = 0;  // division 0
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[17] = 'x';  // "MTrx"
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[21] += 1;  // track length one past the data
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);
  b = good;
  b[11] = 2;  // two tracks announced, one present
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);

  // Another chunk between tracks is not skipped.
  TrackBuilder t2;
  t2.End();
  b = Smf(1, 96, {ok, t2});
  std::copy_n("XTRA", 4, b.begin() + 14 + 8 + static_cast<long>(ok.b.size()));
  EXPECT_EQ(parse(b), ERR_INVALID_FILE);

  auto track = [&](std::initializer_list<uint8_t> bytes) {
    TrackBuilder t;
    t.b = bytes;
    return parse(Smf(0, 96, {t}));
  };
  // A track that ends with fewer than three bytes after its last delta.
  EXPECT_EQ(track({0x00, 0x90, 60, 100, 0x10, 60, 0}), ERR_INVALID_FILE);
  EXPECT_EQ(track({0x00, 0x90, 60, 100, 0x10, 0xFF, 0x2F}), ERR_INVALID_FILE);
  // Running status with no status before it.
  EXPECT_EQ(track({0x00, 60, 100, 0x00, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  // Running status is cleared by a meta event.
  EXPECT_EQ(
      track({0x00, 0x90, 60, 100, 0x00, 0xFF, 0x01, 0x00, 0x00, 61, 100, 0x00, 0xFF, 0x2F, 0x00}),
      ERR_INVALID_FILE);
  // System common status bytes have no place in a file.
  EXPECT_EQ(track({0x00, 0xF2, 0x00, 0x00, 0x00, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  // System exclusive and meta lengths past the track.
  EXPECT_EQ(track({0x00, 0xF0, 0x20, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  EXPECT_EQ(track({0x00, 0xFF, 0x01, 0x7F, 'a', 0x00, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  // A set-tempo event must carry three bytes.
  EXPECT_EQ(track({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x00, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  // A delta of more than four bytes.
  EXPECT_EQ(track({0x81, 0x81, 0x81, 0x81, 0x01, 0xFF, 0x2F, 0x00}), ERR_INVALID_FILE);
  // No end-of-track event: the data runs out where the next delta should be.
  EXPECT_EQ(track({0x00, 0x90, 60, 100}), ERR_INVALID_FILE);
}

TEST(SongParse, EveryCutOrBitFlipIsRefusedOrParsedInBounds) {
  TrackBuilder a, b;
  a.Tempo(0, 400000).Program(0, 0, 5).On(0, 0, 60).Raw(10, {62, 90}).SysEx(5, 0xF0, {1, 2, 0xF7});
  a.Meta(3, 0x01, {'h', 'i'}).Off(20, 0, 60).End();
  b.On(7, 1, 40).Off(9, 1, 40).End();
  Bytes good = Smf(1, 120, {a, b});
  for (size_t n = 0; n < good.size(); ++n) {
    Song s;
    EXPECT_EQ(ParseSong(Bytes(good.begin(), good.begin() + static_cast<long>(n)), s),
              ERR_INVALID_FILE)
        << n;
  }
  // Random damage either parses or is refused; under the sanitizers any read past the
  // data would stop the test.
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    Bytes d = good;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) d[rng() % d.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Song s;
    int r = ParseSong(d, s);
    ASSERT_TRUE(r == 0 || r == ERR_INVALID_FILE);
    if (r == 0) {
      uint8_t buf[1024];
      uint32_t used = 0;
      RewindSong(s);
      while (FillBuffer(s, s.length, buf, used) == FillResult::MORE) {
      }
    }
  }
}

TEST(Rmid, UnwrapsTheDataChunk) {
  TrackBuilder t;
  t.On(0, 0, 60).Off(1, 0, 60).End();  // odd-length song: a pad byte follows
  Bytes smf = Smf(0, 96, {t});
  Bytes riff = test::Rmid(smf);
  std::span<const uint8_t> data;
  ASSERT_TRUE(UnwrapRmid(riff, data));
  EXPECT_EQ(Bytes(data.begin(), data.end()), smf);

  // A plain file is its own data.
  ASSERT_TRUE(UnwrapRmid(smf, data));
  EXPECT_EQ(data.size(), smf.size());

  // A data chunk longer than the file, or none at all.
  Bytes cut(riff.begin(), riff.end() - 4);
  EXPECT_FALSE(UnwrapRmid(cut, data));
  Bytes none(riff.begin(), riff.begin() + 12 + 12);
  std::copy_n("\x10\0\0\0", 4, none.begin() + 4);
  EXPECT_FALSE(UnwrapRmid(none, data));
  // A RIFF file of another form is read as it is (and then fails the header check).
  Bytes wave = riff;
  std::copy_n("WAVE", 4, wave.begin() + 8);
  ASSERT_TRUE(UnwrapRmid(wave, data));
  EXPECT_EQ(data.size(), wave.size());
}

TEST(Rmid, LoadSongReadsFilesOfBothKinds) {
  test::TempDir dir;
  TrackBuilder t;
  t.Tempo(0, 600000).On(0, 0, 60).Off(96, 0, 60).End();
  Bytes smf = Smf(0, 96, {t});
  Song s;
  EXPECT_EQ(LoadSong(dir.Write("a.mid", smf), s), 0);
  EXPECT_EQ(s.tempoMap[0].tempo, 600000u);
  EXPECT_EQ(LoadSong(dir.Write("a.rmi", test::Rmid(smf)), s), 0);
  EXPECT_EQ(s.length, 96u);
  EXPECT_EQ(LoadSong(dir.Path() + "/missing.mid", s), ERR_INVALID_FILE);
  EXPECT_EQ(LoadSong("", s), ERR_INVALID_FILE);
  EXPECT_EQ(LoadSong(dir.Path(), s), ERR_INVALID_FILE);  // a folder
  Bytes riff = test::Rmid(smf);
  riff.resize(riff.size() - 6);
  EXPECT_EQ(LoadSong(dir.Write("cut.rmi", riff), s), ERR_INVALID_FILE);
}

}  // namespace
}  // namespace orvo::sound
