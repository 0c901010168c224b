#include "sound/midi_stream.h"

#include <algorithm>

#include "sound/song.h"

namespace orvo::sound {

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

}  // namespace

MidiStream::MidiStream(int sampleRate)
    : rate_(sampleRate), sysex_(std::make_unique<uint8_t[]>(SYSEX_CAPACITY)) {}

int MidiStream::Open(int32_t deviceId, MidiStreamClient* client) {
  if (deviceId != MIDI_MAPPER) return MMSYSERR_BADDEVICEID;
  if (open_) return MMSYSERR_ALLOCATED;
  if (!device_) return MMSYSERR_NODRIVER;
  client_ = client;
  open_ = true;
  running_ = false;
  division_ = 96;
  tempo_ = DEFAULT_TEMPO;
  remainder_ = 0;
  loaded_ = false;
  played_ = 0;
  inSysEx_ = false;
  byteStatus_ = 0;
  byteCount_ = 0;
  return MMSYSERR_NOERROR;
}

int MidiStream::Close() {
  if (!open_) return MMSYSERR_INVALHANDLE;
  ReleaseQueue();
  while (MidiHeader* h = returning_) {
    returning_ = h->streamNext;
    h->flags = (h->flags & ~MHDR_INQUEUE) | MHDR_DONE;
    if (client_) client_->BufferDone(*h);
  }
  returningTail_ = nullptr;
  device_->NotesOff();
  open_ = false;
  running_ = false;
  client_ = nullptr;
  return MMSYSERR_NOERROR;
}

int MidiStream::SetTimeDivision(uint32_t division) {
  if (!open_) return MMSYSERR_INVALHANDLE;
  division &= 0xFFFF;
  if (division == 0) return MMSYSERR_INVALPARAM;
  if (division & 0x8000) {
    int fps = -static_cast<int8_t>(division >> 8);
    if (fps <= 0 || (division & 0xFF) == 0) return MMSYSERR_INVALPARAM;
  }
  division_ = division;
  remainder_ = 0;
  return MMSYSERR_NOERROR;
}

int MidiStream::Prepare(MidiHeader& h) {
  if (!h.data || h.bufferLength == 0) return MMSYSERR_INVALPARAM;
  h.flags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

int MidiStream::Unprepare(MidiHeader& h) {
  if (h.flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  h.flags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

int MidiStream::Queue(MidiHeader& h) {
  if (!open_) return MMSYSERR_INVALHANDLE;
  if (!(h.flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  if (h.flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  if (h.bytesRecorded > h.bufferLength) return MMSYSERR_INVALPARAM;
  h.flags = (h.flags & ~MHDR_DONE) | MHDR_INQUEUE;
  h.offset = 0;
  h.streamNext = nullptr;
  if (tail_)
    tail_->streamNext = &h;
  else
    head_ = &h;
  tail_ = &h;
  return MMSYSERR_NOERROR;
}

int MidiStream::Restart() {
  if (!open_) return MMSYSERR_INVALHANDLE;
  running_ = true;
  return MMSYSERR_NOERROR;
}

int MidiStream::Pause() {
  if (!open_) return MMSYSERR_INVALHANDLE;
  running_ = false;
  device_->NotesOff();
  return MMSYSERR_NOERROR;
}

void MidiStream::ReleaseQueue() {
  while (MidiHeader* h = head_) {
    head_ = h->streamNext;
    h->streamNext = nullptr;
    if (returningTail_)
      returningTail_->streamNext = h;
    else
      returning_ = h;
    returningTail_ = h;
  }
  tail_ = nullptr;
  loaded_ = false;
  wait_ = 0;
  remainder_ = 0;
  inSysEx_ = false;
  byteStatus_ = 0;
  byteCount_ = 0;
}

int MidiStream::Stop() {
  if (!open_) return MMSYSERR_INVALHANDLE;
  ReleaseQueue();
  running_ = false;
  device_->NotesOff();
  return MMSYSERR_NOERROR;
}

int MidiStream::Reset() {
  if (!open_) return MMSYSERR_INVALHANDLE;
  ReleaseQueue();
  running_ = false;
  tempo_ = DEFAULT_TEMPO;
  device_->Reset();
  return MMSYSERR_NOERROR;
}

uint64_t MidiStream::TicksToSamples(uint32_t ticks) {
  // Exact to the sample over a whole song: the remainder of each conversion is carried.
  unsigned __int128 num;
  uint64_t den;
  if (division_ & 0x8000) {
    uint64_t fps = static_cast<uint64_t>(-static_cast<int8_t>(division_ >> 8));
    uint64_t perFrame = division_ & 0xFF;
    uint64_t scale = 1;
    if (fps == 29) fps = 30000, scale = 1001;  // 29.97 frames per second
    num = static_cast<unsigned __int128>(ticks) * static_cast<uint64_t>(rate_) * scale;
    den = fps * perFrame;
  } else {
    num = static_cast<unsigned __int128>(ticks) * tempo_ * static_cast<uint64_t>(rate_);
    den = uint64_t{division_} * 1000000;
  }
  num += remainder_;
  remainder_ = static_cast<uint64_t>(num % den);
  unsigned __int128 samples = num / den;
  return samples > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(samples);
}

void MidiStream::FinishHead() {
  MidiHeader* h = head_;
  head_ = h->streamNext;
  if (!head_) tail_ = nullptr;
  h->streamNext = nullptr;
  h->flags = (h->flags & ~MHDR_INQUEUE) | MHDR_DONE;
  loaded_ = false;
  if (client_) client_->BufferDone(*h);
}

void MidiStream::PlayDueEvents() {
  while (head_) {
    MidiHeader* h = head_;
    if (h->offset + STREAM_EVENT_SIZE > h->bytesRecorded) {
      FinishHead();  // the client may queue more from here
      continue;
    }
    const uint8_t* ev = h->data + h->offset;
    if (!loaded_) {
      wait_ = TicksToSamples(Le32(ev));
      loaded_ = true;
    }
    if (wait_ > 0) return;
    uint32_t word = Le32(ev + 8);
    uint32_t size = STREAM_EVENT_SIZE;
    if (word & MEVT_LONGMSG) {
      uint32_t length = word & 0xFFFFFF;
      uint32_t padded = (length + 3) & ~3u;
      // A long event that claims more than the buffer holds ends the buffer.
      if (padded > h->bytesRecorded - h->offset - STREAM_EVENT_SIZE) {
        h->offset = h->bytesRecorded;
        loaded_ = false;
        continue;
      }
      size += padded;
    }
    Dispatch(ev, word);
    h->offset += size;
    loaded_ = false;
  }
}

void MidiStream::Dispatch(const uint8_t* event, uint32_t word) {
  if (word & MEVT_LONGMSG) {
    LongBytes(event + STREAM_EVENT_SIZE, word & 0xFFFFFF);
    return;
  }
  switch (word >> 24 & 0x3F) {
    case MEVT_SHORTMSG >> 24: {
      uint8_t status = word & 0xFF;
      if (status >= 0x80 && status < 0xF0) device_->ShortMessage(word & 0x7F7FFF);
      break;
    }
    case MEVT_TEMPO >> 24:
      if ((word & 0xFFFFFF) != 0) tempo_ = word & 0xFFFFFF;
      break;
    default:
      break;  // NOP and unknown events only take time
  }
}

void MidiStream::LongBytes(const uint8_t* data, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = data[i];
    if (b == 0xF0) {
      inSysEx_ = true;
      sysexOverflow_ = false;
      sysex_[0] = b;
      sysexLength_ = 1;
      byteStatus_ = 0;
      continue;
    }
    if (inSysEx_) {
      if (b >= 0x80 && b != 0xF7) {
        if (b >= 0xF8) continue;  // real-time bytes may appear anywhere
        inSysEx_ = false;         // any other status byte ends the message unfinished
      } else {
        if (sysexLength_ < SYSEX_CAPACITY)
          sysex_[sysexLength_++] = b;
        else
          sysexOverflow_ = true;
        if (b != 0xF7) continue;
        inSysEx_ = false;
        if (sysexOverflow_)
          ++droppedSysEx_;
        else
          device_->SysEx(sysex_.get(), sysexLength_);
        continue;
      }
    }
    // Outside a system exclusive message: channel messages (escapes), with running status.
    if (b >= 0xF0) {
      if (b < 0xF8) byteStatus_ = 0;
      continue;
    }
    if (b >= 0x80) {
      byteStatus_ = b;
      byteCount_ = 0;
      continue;
    }
    if (byteStatus_ == 0) continue;
    byteData_[byteCount_++] = b;
    uint32_t need = (byteStatus_ >> 4) == 0xC || (byteStatus_ >> 4) == 0xD ? 1 : 2;
    if (byteCount_ == need) {
      device_->ShortMessage(byteStatus_ | uint32_t{byteData_[0]} << 8 |
                            (need == 2 ? uint32_t{byteData_[1]} << 16 : 0));
      byteCount_ = 0;
    }
  }
}

void MidiStream::Render(float* stereo, int frames) {
  if (!open_) return;
  while (MidiHeader* h = returning_) {
    returning_ = h->streamNext;
    if (!returning_) returningTail_ = nullptr;
    h->streamNext = nullptr;
    h->flags = (h->flags & ~MHDR_INQUEUE) | MHDR_DONE;
    if (client_) client_->BufferDone(*h);
    if (!open_) return;
  }
  int pos = 0;
  while (pos < frames) {
    if (running_) PlayDueEvents();
    int n = frames - pos;
    bool timed = running_ && loaded_;
    if (timed && wait_ < static_cast<uint64_t>(n)) n = static_cast<int>(wait_);
    device_->Render(stereo + 2 * pos, n);
    pos += n;
    if (running_) played_ += static_cast<uint64_t>(n);
    if (timed) wait_ -= static_cast<uint64_t>(n);
  }
}

}  // namespace orvo::sound
