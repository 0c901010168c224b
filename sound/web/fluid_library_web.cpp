// FluidSynth in the page: FluidSynth's own C library compiled to WebAssembly (the one
// js-synthesizer ships as libfluidsynth.js) runs as a module of its own beside the runtime,
// with its own memory. The page loads it with the first song (Module.orvoLoadSynthesizer);
// the functions below are FluidSynth's C API, each a bridge that calls the same function
// of that module. Handles (settings, synthesizer) are addresses in its memory and are
// only passed back; texts, SoundFonts, system exclusive messages and rendered samples are
// copied between the two memories.
#include <emscripten.h>

#include <string>

#include "sound/fluid_library.h"

namespace {

// Loads the synthesizer's module and sets up Module.orvoFluid: the module (m), a scratch
// block in its memory for the render, and the first error it reported. 0, with the reason
// in why, when the page has no synthesizer or it does not load.
EM_ASYNC_JS(int, orvo_fluid_load, (char* why, int whySize), {
  const fail = (text) => {
    stringToUTF8(text, why, whySize);
    return 0;
  };
  if (!Module.orvoLoadSynthesizer) return fail("the page has no synthesizer");
  const bridge = {m: null, scratch: 0, scratchBytes: 0, error: ""};
  // FluidSynth writes its messages to standard error with its name and the level first.
  const keepError = (text) => {
    const message = String(text).replace(/^fluidsynth: (panic|error): /, "");
    if (!bridge.error) bridge.error = message;
  };
  try {
    bridge.m = await Module.orvoLoadSynthesizer(keepError);
  } catch (e) {
    return fail("the synthesizer did not load (" + (e && e.message || e) + ")");
  }
  bridge.text = (value) => {
    const size = bridge.m.lengthBytesUTF8(value) + 1;
    const at = bridge.m._malloc(size);
    bridge.m.stringToUTF8(value, at, size);
    return at;
  };
  bridge.bytes = (from, size) => {
    const at = bridge.m._malloc(Math.max(size, 1));
    bridge.m.HEAPU8.set(HEAPU8.subarray(from, from + size), at);
    return at;
  };
  Module.orvoFluid = bridge;
  return 1;
});

EM_JS(int, orvo_fluid_take_error, (char* out, int size), {
  const bridge = Module.orvoFluid;
  if (!bridge || !bridge.error) return 0;
  stringToUTF8(bridge.error, out, size);
  bridge.error = "";
  return 1;
});

}  // namespace

// --- FluidSynth's functions, as the device calls them

// A log function of the runtime's cannot be called by the other module: turning a level
// off is passed on, any other request keeps FluidSynth's own, whose errors the bridge keeps.
EM_JS(fluid_log_function_t, fluid_set_log_function, (int level, fluid_log_function_t fun, void* data), {
  if (!fun) Module.orvoFluid.m._fluid_set_log_function(level, 0, 0);
  return 0;
});

EM_JS(fluid_settings_t*, new_fluid_settings, (), {
  return Module.orvoFluid.m._new_fluid_settings();
});

EM_JS(void, delete_fluid_settings, (fluid_settings_t* settings), {
  Module.orvoFluid.m._delete_fluid_settings(settings);
});

EM_JS(int, fluid_settings_setnum, (fluid_settings_t* settings, const char* name, double value), {
  const bridge = Module.orvoFluid, at = bridge.text(UTF8ToString(name));
  const result = bridge.m._fluid_settings_setnum(settings, at, value);
  bridge.m._free(at);
  return result;
});

EM_JS(int, fluid_settings_setint, (fluid_settings_t* settings, const char* name, int value), {
  const bridge = Module.orvoFluid, at = bridge.text(UTF8ToString(name));
  const result = bridge.m._fluid_settings_setint(settings, at, value);
  bridge.m._free(at);
  return result;
});

EM_JS(fluid_synth_t*, new_fluid_synth, (fluid_settings_t* settings), {
  return Module.orvoFluid.m._new_fluid_synth(settings);
});

EM_JS(void, delete_fluid_synth, (fluid_synth_t* synth), {
  const bridge = Module.orvoFluid;
  bridge.m._delete_fluid_synth(synth);
  if (bridge.scratch) bridge.m._free(bridge.scratch);
  bridge.scratch = 0;
  bridge.scratchBytes = 0;
});

// The SoundFont is a file of the runtime's (the archive's copy): it is copied into the
// synthesizer's file system, loaded (FluidSynth reads all of it) and removed again.
EM_JS(int, fluid_synth_sfload, (fluid_synth_t* synth, const char* filename, int reset_presets), {
  const bridge = Module.orvoFluid, path = UTF8ToString(filename);
  let bytes;
  try {
    bytes = FS.readFile(path);
  } catch (e) {
    if (!bridge.error) bridge.error = "Unable to open file '" + path + "'";
    return -1;
  }
  const copy = "/" + path.slice(path.lastIndexOf("/") + 1);
  bridge.m.FS.writeFile(copy, bytes);
  const at = bridge.text(copy);
  const id = bridge.m._fluid_synth_sfload(synth, at, reset_presets);
  bridge.m._free(at);
  bridge.m.FS.unlink(copy);
  return id;
});

EM_JS(int, fluid_synth_noteon, (fluid_synth_t* synth, int chan, int key, int vel), {
  return Module.orvoFluid.m._fluid_synth_noteon(synth, chan, key, vel);
});

EM_JS(int, fluid_synth_noteoff, (fluid_synth_t* synth, int chan, int key), {
  return Module.orvoFluid.m._fluid_synth_noteoff(synth, chan, key);
});

EM_JS(int, fluid_synth_key_pressure, (fluid_synth_t* synth, int chan, int key, int val), {
  return Module.orvoFluid.m._fluid_synth_key_pressure(synth, chan, key, val);
});

EM_JS(int, fluid_synth_cc, (fluid_synth_t* synth, int chan, int ctrl, int val), {
  return Module.orvoFluid.m._fluid_synth_cc(synth, chan, ctrl, val);
});

EM_JS(int, fluid_synth_program_change, (fluid_synth_t* synth, int chan, int program), {
  return Module.orvoFluid.m._fluid_synth_program_change(synth, chan, program);
});

EM_JS(int, fluid_synth_channel_pressure, (fluid_synth_t* synth, int chan, int val), {
  return Module.orvoFluid.m._fluid_synth_channel_pressure(synth, chan, val);
});

EM_JS(int, fluid_synth_pitch_bend, (fluid_synth_t* synth, int chan, int val), {
  return Module.orvoFluid.m._fluid_synth_pitch_bend(synth, chan, val);
});

// The message is copied over; a reply (response) is not: the device never asks for one.
EM_JS(int, fluid_synth_sysex,
      (fluid_synth_t* synth, const char* data, int len, char* response, int* response_len,
       int* handled, int dryrun),
      {
        if (response || response_len || handled) return -1;
        const bridge = Module.orvoFluid, at = bridge.bytes(data, len);
        const result = bridge.m._fluid_synth_sysex(synth, at, len, 0, 0, 0, dryrun);
        bridge.m._free(at);
        return result;
      });

EM_JS(int, fluid_synth_all_notes_off, (fluid_synth_t* synth, int chan), {
  return Module.orvoFluid.m._fluid_synth_all_notes_off(synth, chan);
});

EM_JS(int, fluid_synth_system_reset, (fluid_synth_t* synth), {
  return Module.orvoFluid.m._fluid_synth_system_reset(synth);
});

EM_JS(int, fluid_synth_get_active_voice_count, (fluid_synth_t* synth), {
  return Module.orvoFluid.m._fluid_synth_get_active_voice_count(synth);
});

// Rendered into a scratch block of the synthesizer's memory, laid out as the caller's
// buffers are (offsets and strides), then copied into them. The block is copied in first,
// so that the floats between the strides keep what the caller had there.
EM_JS(int, fluid_synth_write_float,
      (fluid_synth_t* synth, int len, void* lout, int loff, int lincr, void* rout, int roff,
       int rincr),
      {
        if (len <= 0) return 0;
        const bridge = Module.orvoFluid, m = bridge.m;
        const leftFloats = loff + (len - 1) * lincr + 1, rightFloats = roff + (len - 1) * rincr + 1;
        const shared = lout === rout;
        const floats = shared ? Math.max(leftFloats, rightFloats) : leftFloats + rightFloats;
        if (bridge.scratchBytes < floats * 4) {
          if (bridge.scratch) m._free(bridge.scratch);
          bridge.scratch = m._malloc(floats * 4);
          bridge.scratchBytes = floats * 4;
        }
        const left = bridge.scratch, right = shared ? left : left + leftFloats * 4;
        const copy = (from, to, count) => to.set(from.subarray(0, count));
        const leftSize = shared ? floats : leftFloats;
        copy(HEAPF32.subarray(lout >> 2), m.HEAPF32.subarray(left >> 2), leftSize);
        if (!shared) copy(HEAPF32.subarray(rout >> 2), m.HEAPF32.subarray(right >> 2), rightFloats);
        const result = m._fluid_synth_write_float(synth, len, left, loff, lincr, right, roff, rincr);
        copy(m.HEAPF32.subarray(left >> 2), HEAPF32.subarray(lout >> 2), leftSize);
        if (!shared) copy(m.HEAPF32.subarray(right >> 2), HEAPF32.subarray(rout >> 2), rightFloats);
        return result;
      });

namespace orvo::sound {

namespace {

// The page's synthesizer, loaded by the first call of Fluid().
struct WebFluid {
  bool tried = false;
  bool loaded = false;
  std::string error;
  FluidLibrary library;
};
WebFluid webFluid;

}  // namespace

bool OpenFluidLibrary(const char*, FluidLibrary& out, std::string& error) {
  if (!Fluid(&error)) return false;
  out = webFluid.library;
  return true;
}

const FluidLibrary* Fluid(std::string* error) {
  if (!webFluid.tried) {
    webFluid.tried = true;
    char why[256] = "";
    webFluid.loaded = orvo_fluid_load(why, sizeof why) != 0;
    if (webFluid.loaded) {
#define ORVO_BRIDGE(name) webFluid.library.name = &::name;
      ORVO_FLUID_FUNCTIONS(ORVO_BRIDGE)
#undef ORVO_BRIDGE
      // As natively: warnings (a note without a voice) and notices are dropped; errors are
      // kept for the one line that says why music is off.
      for (int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG})
        webFluid.library.fluid_set_log_function(level, nullptr, nullptr);
    } else {
      webFluid.error = why;
    }
  }
  if (!webFluid.loaded) {
    if (error) *error = webFluid.error;
    return nullptr;
  }
  return &webFluid.library;
}

std::string TakeFluidError() {
  char message[256] = "";
  if (!webFluid.loaded || !orvo_fluid_take_error(message, sizeof message)) return "";
  return message;
}

}  // namespace orvo::sound
