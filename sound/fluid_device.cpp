#include "sound/fluid_device.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "sound/fluid_library.h"

namespace orvo::sound {

namespace {

// Ticks of silence after which the reverb tail has died away.
constexpr int SILENT_SECONDS = 3;

}  // namespace

std::string FindSoundFontIn(const std::string& dataDirs) {
  namespace fs = std::filesystem;
  // The distribution's chosen default first, then the usual General MIDI fonts, then any.
  static const char* const kPreferred[] = {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"};
  size_t start = 0;
  while (start <= dataDirs.size()) {
    size_t end = dataDirs.find(':', start);
    if (end == std::string::npos) end = dataDirs.size();
    std::string dir = dataDirs.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    fs::path folder = fs::path(dir) / "sounds" / "sf2";
    std::error_code ec;
    for (const char* name : kPreferred) {
      fs::path p = folder / name;
      if (fs::is_regular_file(p, ec)) return p.string();  // follows links
    }
    std::vector<std::string> found;
    for (fs::directory_iterator it(folder, ec), last; !ec && it != last; it.increment(ec)) {
      fs::path p = it->path();
      std::string ext = p.extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (ext == ".sf2" && fs::is_regular_file(p, ec)) found.push_back(p.string());
    }
    if (!found.empty()) return *std::min_element(found.begin(), found.end());
  }
  return "";
}

std::string FindSoundFont() {
  const char* env = std::getenv("XDG_DATA_DIRS");
  std::string dirs = env && *env ? env : "/usr/local/share:/usr/share";
  std::string found = FindSoundFontIn(dirs);
  // A data path that leaves out the system folders still finds the system's fonts.
  if (found.empty() && env && *env) found = FindSoundFontIn("/usr/local/share:/usr/share");
  return found;
}

std::unique_ptr<FluidDevice> FluidDevice::Create(const std::string& soundFont, int sampleRate,
                                                 std::string* why) {
  auto fail = [why](std::string reason) -> std::unique_ptr<FluidDevice> {
    if (why) *why = std::move(reason);
    return nullptr;
  };
  // FluidSynth's own words for the failure, when it had any.
  auto itsWords = [] {
    std::string message = TakeFluidError();
    return message.empty() ? message : " (" + message + ")";
  };
  if (soundFont.empty()) return fail("no General MIDI SoundFont in a sounds/sf2 folder");
  // The library is opened here, at the first song; without it the music is silent, as
  // without a SoundFont.
  std::string missing;
  const FluidLibrary* fl = Fluid(&missing);
  if (!fl) return fail(missing);
  std::unique_ptr<FluidDevice> d(new FluidDevice);
  d->fl_ = fl;
  d->sampleRate_ = sampleRate;
  d->settings_ = fl->new_fluid_settings();
  if (!d->settings_) return fail("the synthesizer's settings could not be made");
  fl->fluid_settings_setnum(d->settings_, "synth.sample-rate", sampleRate);
  // Every call into the synthesizer is made under the audio lock (or on the audio thread
  // that holds it), so its own API lock is not needed.
  fl->fluid_settings_setint(d->settings_, "synth.threadsafe-api", 0);
  fl->fluid_settings_setint(d->settings_, "synth.cpu-cores", 1);
  // The render runs inside the audio callback, whose cost grows with every voice. A dense
  // song with long release tails would otherwise keep a few hundred voices going; 64 is
  // what the General MIDI synthesizers of the day offered, and the voices given up first
  // are the quietest releasing ones.
  fl->fluid_settings_setint(d->settings_, "synth.polyphony", POLYPHONY);
  TakeFluidError();  // only what this attempt reports explains it
  d->synth_ = fl->new_fluid_synth(d->settings_);
  if (!d->synth_) return fail("the synthesizer could not be made" + itsWords());
  if (fl->fluid_synth_sfload(d->synth_, soundFont.c_str(), 1) == FLUID_FAILED)
    return fail("the SoundFont " + soundFont + " did not load" + itsWords());
  return d;
}

FluidDevice::~FluidDevice() {
  if (synth_) fl_->delete_fluid_synth(synth_);
  if (settings_) fl_->delete_fluid_settings(settings_);
}

void FluidDevice::ShortMessage(uint32_t message) {
  int channel = message & 0x0F;
  int d1 = message >> 8 & 0x7F, d2 = message >> 16 & 0x7F;
  switch (message >> 4 & 0x0F) {
    case 0x8:
      fl_->fluid_synth_noteoff(synth_, channel, d1);
      break;
    case 0x9:
      if (d2 == 0)
        fl_->fluid_synth_noteoff(synth_, channel, d1);
      else
        fl_->fluid_synth_noteon(synth_, channel, d1, d2);
      break;
    case 0xA:
      fl_->fluid_synth_key_pressure(synth_, channel, d1, d2);
      break;
    case 0xB:
      fl_->fluid_synth_cc(synth_, channel, d1, d2);
      break;
    case 0xC:
      fl_->fluid_synth_program_change(synth_, channel, d1);
      break;
    case 0xD:
      fl_->fluid_synth_channel_pressure(synth_, channel, d1);
      break;
    case 0xE:
      fl_->fluid_synth_pitch_bend(synth_, channel, d1 | d2 << 7);
      break;
    default:
      break;
  }
  silentFrames_ = 0;
}

void FluidDevice::SysEx(const uint8_t* data, uint32_t length) {
  // FluidSynth takes the message without its framing bytes.
  if (length < 2 || data[0] != 0xF0 || data[length - 1] != 0xF7) return;
  fl_->fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + 1),
                         static_cast<int>(length - 2), nullptr, nullptr, nullptr, 0);
  silentFrames_ = 0;
}

void FluidDevice::NotesOff() {
  for (int c = 0; c < 16; ++c) {
    fl_->fluid_synth_cc(synth_, c, 64, 0);  // sustain
    fl_->fluid_synth_cc(synth_, c, 66, 0);  // sostenuto
  }
  fl_->fluid_synth_all_notes_off(synth_, -1);
}

void FluidDevice::Reset() {
  fl_->fluid_synth_system_reset(synth_);
}

int FluidDevice::ActiveVoices() const {
  return fl_->fluid_synth_get_active_voice_count(synth_);
}

void FluidDevice::Render(float* stereo, int frames) {
  while (frames > 0) {
    if (fl_->fluid_synth_get_active_voice_count(synth_) > 0) {
      silentFrames_ = 0;
    } else if (silentFrames_ >= int64_t{SILENT_SECONDS} * sampleRate_) {
      return;
    }
    int n = std::min(frames, SCRATCH_FRAMES);
    fl_->fluid_synth_write_float(synth_, n, scratch_, 0, 2, scratch_, 1, 2);
    for (int i = 0; i < 2 * n; ++i) stereo[i] += scratch_[i];
    silentFrames_ += n;
    stereo += 2 * n;
    frames -= n;
  }
}

}  // namespace orvo::sound
