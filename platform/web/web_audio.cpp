#include "platform/web/web_audio.h"

#include <emscripten.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace orvo::platform {

namespace {

constexpr int kBlockFrames = 2048;

// A context at the runtime's rate and a node that asks the runtime for each block
// (Module._orvo_audio_render); the page resumes a context the browser kept suspended.
EM_JS(int, orvo_audio_start, (WebAudio * self, int rate, int frames), {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context) return 0;
  const context = new Context({sampleRate: rate});
  const node = context.createScriptProcessor(frames, 0, 2);
  node.onaudioprocess = (e) => {
    const left = e.outputBuffer.getChannelData(0), right = e.outputBuffer.getChannelData(1);
    const at = Module._orvo_audio_render(self, left.length) >> 1;
    for (let i = 0; i < left.length; ++i) {
      left[i] = HEAP16[at + 2 * i] / 32768;
      right[i] = HEAP16[at + 2 * i + 1] / 32768;
    }
  };
  node.connect(context.destination);
  Module.orvoAudio = {context, node};
  if (Module.onAudioContext) Module.onAudioContext(context);
  return 1;
});

EM_JS(void, orvo_audio_stop, (), {
  if (!Module.orvoAudio) return;
  Module.orvoAudio.node.disconnect();
  Module.orvoAudio.context.close();
  Module.orvoAudio = null;
});

// The browser decodes the file and resamples it to rate; the frames come back as
// interleaved 16-bit stereo in memory the caller frees. -1 when it cannot.
EM_ASYNC_JS(int, orvo_decode_wav, (const uint8_t* bytes, int size, int rate, int16_t** out), {
  const Offline = window.OfflineAudioContext || window.webkitOfflineAudioContext;
  if (!Offline) return -1;
  try {
    const copy = HEAPU8.slice(bytes, bytes + size).buffer;
    const decoded = await new Offline(2, 1, rate).decodeAudioData(copy);
    const frames = decoded.length;
    const left = decoded.getChannelData(0);
    const right = decoded.numberOfChannels > 1 ? decoded.getChannelData(1) : left;
    const at = _malloc(frames * 4);
    for (let i = 0; i < frames; ++i) {
      HEAP16[(at >> 1) + 2 * i] = Math.max(-32768, Math.min(32767, Math.round(left[i] * 32767)));
      HEAP16[(at >> 1) + 2 * i + 1] = Math.max(-32768, Math.min(32767, Math.round(right[i] * 32767)));
    }
    HEAP32[out >> 2] = at;
    return frames;
  } catch (e) {
    return -1;
  }
});

}  // namespace

bool WebAudio::StartAudio(AudioSource* source, int sampleRate) {
  StopAudio();
  source_ = source;
  block_.assign(static_cast<size_t>(kBlockFrames) * 2, 0);
  if (!orvo_audio_start(this, sampleRate, kBlockFrames)) {
    source_ = nullptr;
    return false;
  }
  return true;
}

void WebAudio::StopAudio() {
  if (!source_) return;
  orvo_audio_stop();
  source_ = nullptr;
}

int16_t* WebAudio::Render(int frames) {
  if (frames > kBlockFrames) frames = kBlockFrames;
  if (source_)
    source_->Render(block_.data(), frames);
  else
    std::fill(block_.begin(), block_.end(), 0);
  return block_.data();
}

bool WebAudio::LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  stereo.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  int16_t* decoded = nullptr;
  const int frames =
      orvo_decode_wav(bytes.data(), static_cast<int>(bytes.size()), sampleRate, &decoded);
  if (frames < 0) return false;
  stereo.assign(decoded, decoded + static_cast<size_t>(frames) * 2);
  std::free(decoded);
  return true;
}

}  // namespace orvo::platform

extern "C" EMSCRIPTEN_KEEPALIVE int16_t* orvo_audio_render(orvo::platform::WebAudio* audio,
                                                           int frames) {
  return audio->Render(frames);
}
