// Stream events written from a song: short, tempo and long events, the time of events
// that are not sent, long messages split over buffers, the end tick and the set-up state.
#include <gtest/gtest.h>

#include "sound/song.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

using test::Bytes;
using test::Smf;
using test::TrackBuilder;

struct StreamEvent {
  uint32_t delta, word;
  Bytes data;
};

std::vector<StreamEvent> Decode(const uint8_t* p, uint32_t used) {
  auto le = [](const uint8_t* q) {
    return uint32_t{q[0]} | uint32_t{q[1]} << 8 | uint32_t{q[2]} << 16 | uint32_t{q[3]} << 24;
  };
  std::vector<StreamEvent> out;
  uint32_t off = 0;
  while (off + 12 <= used) {
    StreamEvent e{le(p + off), le(p + off + 8), {}};
    EXPECT_EQ(le(p + off + 4), 0u);  // stream id
    off += 12;
    if (e.word & MEVT_LONGMSG) {
      uint32_t n = e.word & 0xFFFFFF;
      e.data.assign(p + off, p + off + n);
      off += (n + 3) & ~3u;
    }
    out.push_back(e);
  }
  EXPECT_EQ(off, used);
  return out;
}

Song Parse(const Bytes& b) {
  Song s;
  EXPECT_EQ(ParseSong(b, s), 0);
  return s;
}

TEST(FillBuffer, ShortTempoAndLongEventsWithMetaTimeCarried) {
  TrackBuilder t;
  t.Tempo(0, 400000).Program(0, 3, 19).On(10, 3, 60, 99);
  t.Meta(5, 0x01, {'x'}).Meta(5, 0x06, {'y'});  // not sent: their 10 ticks go to the next
  t.Raw(4, {0xE3, 0x00, 0x40}).SysEx(1, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.SysEx(2, 0xF7, {0xF8}).Off(3, 3, 60).End(50);
  Song s = Parse(Smf(0, 96, {t}));
  uint8_t buf[1024];
  uint32_t used = 0;
  ASSERT_EQ(FillBuffer(s, s.length, buf, used), FillResult::END_READ);
  std::vector<StreamEvent> ev = Decode(buf, used);
  ASSERT_EQ(ev.size(), 8u);
  EXPECT_EQ(ev[0].word, MEVT_TEMPO | 400000);
  EXPECT_EQ(ev[1].word, 0xC3u | 19 << 8);
  EXPECT_EQ(ev[2].delta, 10u);
  EXPECT_EQ(ev[2].word, 0x93u | 60 << 8 | 99 << 16);
  EXPECT_EQ(ev[3].delta, 14u);
  EXPECT_EQ(ev[3].word, 0xE3u | 0x40 << 16);
  EXPECT_EQ(ev[4].delta, 1u);
  EXPECT_EQ(ev[4].word, MEVT_LONGMSG | 6);
  EXPECT_EQ(ev[4].data, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));  // 0xF0 put back
  EXPECT_EQ(ev[5].data, (Bytes{0xF8}));                                // 0xF7 data as is
  EXPECT_EQ(ev[6].delta, 3u);
  // The end-of-track at the song length is the end tick: not sent, but its time is.
  EXPECT_EQ(ev[7].word, MEVT_NOP);
  EXPECT_EQ(ev[7].delta, 50u);
  // Nothing more comes from a song whose end has been read.
  ASSERT_EQ(FillBuffer(s, s.length, buf, used), FillResult::END_READ);
  EXPECT_EQ(used, 0u);
}

TEST(FillBuffer, EventsAtTheEndTickAreNotSent) {
  TrackBuilder a, b;
  a.On(0, 0, 60).Off(96, 0, 60).End();  // note-off at the last tick of the song
  b.On(0, 1, 50).End(96);
  Song s = Parse(Smf(1, 96, {a, b}));
  ASSERT_EQ(s.length, 96u);
  uint8_t buf[1024];
  uint32_t used = 0;
  ASSERT_EQ(FillBuffer(s, s.length, buf, used), FillResult::END_READ);
  std::vector<StreamEvent> ev = Decode(buf, used);
  ASSERT_EQ(ev.size(), 3u);  // the two note-ons, then the time to the end
  EXPECT_EQ(ev[1].word & 0xFF, 0x91u);
  EXPECT_EQ(ev[2].word, MEVT_NOP);
  EXPECT_EQ(ev[2].delta, 96u);
}

TEST(FillBuffer, SysExLongerThanABufferIsSplitOverBuffers) {
  Bytes payload;
  for (int i = 0; i < 2500; ++i) payload.push_back(static_cast<uint8_t>(i % 0x7F));
  payload.push_back(0xF7);
  TrackBuilder t;
  t.On(0, 0, 60).SysEx(7, 0xF0, payload).Off(5, 0, 60).End(1);
  Song s = Parse(Smf(0, 96, {t}));

  Bytes joined;
  std::vector<std::vector<StreamEvent>> buffers;
  FillResult r = FillResult::MORE;
  while (r == FillResult::MORE) {
    uint8_t buf[1024];
    uint32_t used = 0;
    r = FillBuffer(s, s.length, buf, used);
    ASSERT_NE(r, FillResult::MALFORMED);
    if (r == FillResult::MORE) {
      EXPECT_GT(used, 1024u - 16);  // filled up
    }
    buffers.push_back(Decode(buf, used));
  }
  ASSERT_GE(buffers.size(), 3u);
  // First buffer: the note, then the start of the message with its real delta.
  ASSERT_EQ(buffers[0].size(), 2u);
  EXPECT_EQ(buffers[0][1].delta, 7u);
  // Later pieces are long events with delta 0.
  for (auto& b : buffers)
    for (auto& e : b)
      if (e.word & MEVT_LONGMSG) joined.insert(joined.end(), e.data.begin(), e.data.end());
  for (size_t i = 1; i < buffers.size(); ++i) EXPECT_EQ(buffers[i][0].delta, 0u);
  Bytes expect{0xF0};
  expect.insert(expect.end(), payload.begin(), payload.end());
  EXPECT_EQ(joined, expect);
  const std::vector<StreamEvent>& last = buffers.back();
  ASSERT_GE(last.size(), 2u);
  EXPECT_EQ(last[last.size() - 2].word & 0xFF, 0x80u);
  EXPECT_EQ(last[last.size() - 2].delta, 5u);
  EXPECT_EQ(last.back().word, MEVT_NOP);
  EXPECT_EQ(last.back().delta, 1u);
}

TEST(FillBuffer, SetupStateAtAStartTick) {
  TrackBuilder a, b;
  a.Tempo(0, 450000).Program(0, 0, 10).Raw(0, {0xB0, 7, 90}).Raw(10, {0xB0, 7, 70});
  a.Tempo(10, 350000).On(5, 0, 60).End(100);
  b.Program(3, 9, 1).Raw(3, {0xB9, 121, 0}).Raw(3, {0xB9, 10, 30}).Program(30, 9, 2).End();
  Song s = Parse(Smf(1, 96, {a, b}));
  SetupState st;
  ASSERT_TRUE(ScanSetup(s, 25, st));
  EXPECT_EQ(st.tempo, 350000);
  EXPECT_EQ(st.program[0], 10);
  EXPECT_EQ(st.program[9], 1);  // the change at tick 39 lies after the start
  EXPECT_EQ(st.controller[0][7], 70);
  EXPECT_EQ(st.controller[9][10], 30);
  EXPECT_EQ(st.controller[9][121 % 120], -1);  // 121 is not kept

  std::vector<uint8_t> buf(SetupBytes(st));
  WriteSetup(st, buf);
  std::vector<StreamEvent> ev = Decode(buf.data(), static_cast<uint32_t>(buf.size()));
  ASSERT_EQ(ev.size(), 5u);
  EXPECT_EQ(ev[0].word, MEVT_TEMPO | 350000);
  EXPECT_EQ(ev[1].word, 0xC0u | 10 << 8);
  EXPECT_EQ(ev[2].word, 0xC9u | 1 << 8);
  EXPECT_EQ(ev[3].word, 0xB0u | 7 << 8 | 70 << 16);
  EXPECT_EQ(ev[4].word, 0xB9u | 10 << 8 | 30 << 16);
  for (auto& e : ev) EXPECT_EQ(e.delta, 0u);

  // Play continues from the start tick: the note at 25 comes first, with delta 0.
  uint8_t out[1024];
  uint32_t used = 0;
  FillBuffer(s, s.length, out, used);
  ev = Decode(out, used);
  ASSERT_FALSE(ev.empty());
  EXPECT_EQ(ev[0].word & 0xFF, 0x90u);
  EXPECT_EQ(ev[0].delta, 0u);

  // From the start of a song nothing is set up.
  ASSERT_TRUE(ScanSetup(s, 0, st));
  EXPECT_EQ(SetupBytes(st), 0u);
}

}  // namespace
}  // namespace orvo::sound
