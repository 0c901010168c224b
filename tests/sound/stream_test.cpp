// The MIDI stream on its own, rendered block by block as the audio thread renders it:
// event times in samples, tempo, time codes, pause, stop, reset and buffers handed back.
#include <gtest/gtest.h>

#include <vector>

#include "sound/midi_stream.h"
#include "sound/song.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

using test::Bytes;
using test::RecordingDevice;

constexpr int kRate = 44100;

struct Client : MidiStreamClient {
  std::vector<MidiHeader*> done;
  std::vector<uint64_t> doneAt;
  RecordingDevice* device = nullptr;
  void BufferDone(MidiHeader& h) override {
    done.push_back(&h);
    doneAt.push_back(device ? device->position : 0);
  }
};

// A buffer of stream events written by hand.
struct Buffer {
  Bytes bytes;
  MidiHeader header;
  Buffer& Event(uint32_t delta, uint32_t word, const Bytes& data = {}) {
    test::Le32(bytes, delta);
    test::Le32(bytes, 0);
    test::Le32(bytes,
               word | (data.empty() ? 0 : MEVT_LONGMSG | static_cast<uint32_t>(data.size())));
    bytes.insert(bytes.end(), data.begin(), data.end());
    while (bytes.size() % 4) bytes.push_back(0);
    return *this;
  }
  MidiHeader& Header() {
    bytes.reserve(bytes.size() + 4);
    header.data = bytes.data();
    header.bufferLength = static_cast<uint32_t>(bytes.capacity());
    header.bytesRecorded = static_cast<uint32_t>(bytes.size());
    return header;
  }
};

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream.SetDevice(&device);
    client.device = &device;
    ASSERT_EQ(stream.Open(MIDI_MAPPER, &client), MMSYSERR_NOERROR);
  }
  void RenderFrames(int frames, int block = 512) {
    std::vector<float> mix(2 * static_cast<size_t>(block));
    while (frames > 0) {
      int n = std::min(frames, block);
      stream.Render(mix.data(), n);
      frames -= n;
    }
  }
  void Queue(Buffer& b) {
    MidiHeader& h = b.Header();
    ASSERT_EQ(stream.Prepare(h), MMSYSERR_NOERROR);
    ASSERT_EQ(stream.Queue(h), MMSYSERR_NOERROR);
  }

  RecordingDevice device;
  Client client;
  MidiStream stream{kRate};
};

TEST_F(StreamTest, EventsPlayAtTheirSampleTimesAcrossTempoChanges) {
  ASSERT_EQ(stream.SetTimeDivision(96), MMSYSERR_NOERROR);
  Buffer a, b;
  a.Event(0, 0x90 | 60 << 8 | 100 << 16)  // at 0
      .Event(96, 0x80 | 60 << 8)          // one quarter at 500000: 22050 samples
      .Event(0, MEVT_TEMPO | 250000)
      .Event(96, 0x90 | 62 << 8 | 100 << 16);  // one quarter at 250000: +11025
  b.Event(1, 0x80 | 62 << 8)                   // 1/96 quarter: 114.84 samples
      .Event(1, 0xC0 | 5 << 8)                 // carried remainder: 229.69 in all
      .Event(0, MEVT_NOP);
  Queue(a);
  Queue(b);
  RenderFrames(2000);
  EXPECT_TRUE(device.entries.empty());  // a stream opens paused
  ASSERT_EQ(stream.Restart(), MMSYSERR_NOERROR);
  RenderFrames(60000, 1000);  // blocks of any size: the times are exact to the sample
  std::vector<RecordingDevice::Entry> e = device.Shorts();
  ASSERT_EQ(e.size(), 5u);
  const uint64_t t0 = 2000;
  EXPECT_EQ(e[0].sample, t0);
  EXPECT_EQ(e[1].sample, t0 + 22050);
  EXPECT_EQ(e[2].sample, t0 + 33075);
  EXPECT_EQ(e[3].sample, t0 + 33075 + 114);
  EXPECT_EQ(e[4].sample, t0 + 33075 + 229);
  EXPECT_EQ(e[4].message, 0xC0u | 5 << 8);
  // Both buffers came back in order, each when its last event had played.
  ASSERT_EQ(client.done.size(), 2u);
  EXPECT_EQ(client.done[0], &a.header);
  EXPECT_EQ(client.doneAt[0], t0 + 33075);
  EXPECT_TRUE(a.header.flags & MHDR_DONE);
  EXPECT_FALSE(a.header.flags & MHDR_INQUEUE);
  EXPECT_EQ(stream.Tempo(), 250000u);
}

TEST_F(StreamTest, TimeCodeDivision) {
  // 30 frames per second, 10 ticks per frame: 300 ticks per second.
  ASSERT_EQ(stream.SetTimeDivision(static_cast<uint32_t>(0xE2 << 8 | 10)), MMSYSERR_NOERROR);
  Buffer a;
  a.Event(300, 0x90 | 60 << 8 | 1 << 16).Event(0, MEVT_TEMPO | 100).Event(150, 0x80 | 60 << 8);
  Queue(a);
  stream.Restart();
  RenderFrames(70000);
  std::vector<RecordingDevice::Entry> e = device.Shorts();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].sample, 44100u);
  EXPECT_EQ(e[1].sample, 44100u + 22050);  // the tempo does not count
  EXPECT_EQ(stream.SetTimeDivision(0), MMSYSERR_INVALPARAM);
}

TEST_F(StreamTest, SysExGatheredFromPiecesAndEscapedChannelBytes) {
  Bytes first{0xF0, 0x41, 0x10};
  Bytes rest;
  for (int i = 0; i < 3000; ++i) rest.push_back(static_cast<uint8_t>(i & 0x7F));
  rest.push_back(0xF7);
  Buffer a, b;
  a.Event(0, 0, first);
  b.Event(0, 0, Bytes(rest.begin(), rest.begin() + 1500))
      .Event(0, 0, Bytes(rest.begin() + 1500, rest.end()))
      .Event(0, 0, {0x93, 40, 1, 41, 2});  // escaped bytes with running status
  Queue(a);
  Queue(b);
  stream.Restart();
  RenderFrames(10);
  ASSERT_EQ(device.entries.size(), 3u);
  Bytes whole = first;
  whole.insert(whole.end(), rest.begin(), rest.end());
  EXPECT_EQ(device.entries[0].sysex, whole);
  EXPECT_EQ(device.entries[1].message, 0x93u | 40 << 8 | 1 << 16);
  EXPECT_EQ(device.entries[2].message, 0x93u | 41 << 8 | 2 << 16);
}

TEST_F(StreamTest, PauseHoldsThePositionAndReleasesNotes) {
  ASSERT_EQ(stream.SetTimeDivision(96), MMSYSERR_NOERROR);
  Buffer a;
  a.Event(0, 0x90 | 60 << 8 | 100 << 16).Event(96, 0x80 | 60 << 8);
  Queue(a);
  stream.Restart();
  RenderFrames(10000);
  EXPECT_TRUE(device.Holding());
  stream.Pause();
  EXPECT_FALSE(device.Holding());
  EXPECT_EQ(device.notesOff, 1);
  RenderFrames(50000);
  EXPECT_EQ(device.Shorts().size(), 1u);
  stream.Restart();
  RenderFrames(20000);
  std::vector<RecordingDevice::Entry> e = device.Shorts();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].sample, 22050u + 50000);  // the paused time is not counted
  EXPECT_EQ(stream.PlayedSamples(), 30000u);
}

TEST_F(StreamTest, StopHandsBuffersBackFromTheNextRender) {
  ASSERT_EQ(stream.SetTimeDivision(96), MMSYSERR_NOERROR);
  Buffer a, b;
  a.Event(0, 0x90 | 60 << 8 | 100 << 16).Event(960, 0x80 | 60 << 8);
  b.Event(10, 0x90 | 61 << 8 | 100 << 16);
  Queue(a);
  Queue(b);
  stream.Restart();
  RenderFrames(1000);
  ASSERT_TRUE(device.Holding());
  ASSERT_EQ(stream.Stop(), MMSYSERR_NOERROR);
  EXPECT_FALSE(device.Holding());
  EXPECT_TRUE(client.done.empty());  // not on the caller's thread
  EXPECT_EQ(stream.Unprepare(a.header), MIDIERR_STILLPLAYING);
  RenderFrames(10);
  ASSERT_EQ(client.done.size(), 2u);
  EXPECT_EQ(client.done[0], &a.header);
  EXPECT_EQ(client.done[1], &b.header);
  EXPECT_EQ(stream.Unprepare(a.header), MMSYSERR_NOERROR);
  // Stopped: a queued buffer waits for a restart, and then plays from its start.
  Buffer c;
  c.Event(0, 0x90 | 62 << 8 | 100 << 16);
  Queue(c);
  RenderFrames(100);
  EXPECT_EQ(device.Shorts().size(), 1u);
  stream.Restart();
  RenderFrames(100);
  EXPECT_EQ(device.Shorts().size(), 2u);
}

TEST_F(StreamTest, ResetRestoresTheTempoAndTheDevice) {
  ASSERT_EQ(stream.SetTimeDivision(96), MMSYSERR_NOERROR);
  Buffer a;
  a.Event(0, MEVT_TEMPO | 100000).Event(0, 0x90 | 60 << 8 | 100 << 16);
  Queue(a);
  stream.Restart();
  RenderFrames(10);
  EXPECT_EQ(stream.Tempo(), 100000u);
  stream.Reset();
  EXPECT_EQ(stream.Tempo(), DEFAULT_TEMPO);
  EXPECT_EQ(device.resets, 1);
}

TEST_F(StreamTest, RefusesWhatIsNotAllowed) {
  Buffer a;
  a.Event(0, 0x90 | 60 << 8 | 100 << 16);
  MidiHeader& h = a.Header();
  EXPECT_EQ(stream.Queue(h), MIDIERR_UNPREPARED);
  ASSERT_EQ(stream.Prepare(h), MMSYSERR_NOERROR);
  ASSERT_EQ(stream.Queue(h), MMSYSERR_NOERROR);
  EXPECT_EQ(stream.Queue(h), MIDIERR_STILLPLAYING);
  EXPECT_EQ(stream.Open(MIDI_MAPPER, &client), MMSYSERR_ALLOCATED);
  // Close hands back what is queued at once.
  ASSERT_EQ(stream.Close(), MMSYSERR_NOERROR);
  EXPECT_EQ(client.done.size(), 1u);
  EXPECT_EQ(stream.Restart(), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(stream.Open(3, &client), MMSYSERR_BADDEVICEID);
  MidiStream bare(kRate);
  EXPECT_EQ(bare.Open(MIDI_MAPPER, &client), MMSYSERR_NODRIVER);
}

TEST_F(StreamTest, ALongEventClaimingMoreThanItsBufferEndsTheBuffer) {
  Buffer a;
  a.Event(0, 0x90 | 60 << 8 | 100 << 16);
  test::Le32(a.bytes, 0);
  test::Le32(a.bytes, 0);
  test::Le32(a.bytes, MEVT_LONGMSG | 0x100000);  // a megabyte that is not there
  Queue(a);
  stream.Restart();
  RenderFrames(100);
  EXPECT_EQ(device.entries.size(), 1u);
  EXPECT_EQ(client.done.size(), 1u);
}

}  // namespace
}  // namespace orvo::sound
