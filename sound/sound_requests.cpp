// The sound group's rows of the request table.
#include "sound/sound.h"
#include "vm/sys.h"

namespace orvo::sound {

namespace {

Sound& Of(vm::Request& r) {
  return vm::ServiceOf<Sound>(r);
}

void Effect(vm::Request& r) {
  Of(r).PlayEffect(r.m, r.a[0]);
}

void Music(vm::Request& r) {
  Of(r).MusicCommand(r.m, r.a[0]);
}

void Stop(vm::Request& r) {
  Of(r).StopMusic();
}

void Playing(vm::Request& r) {
  vm::SetResult(r.m, Of(r).MusicPlaying() ? 1 : 0);
}

constexpr vm::RequestRow kRows[] = {
    {0x600, "sound", 1, vm::ArgCheck::BLOCK, Effect},
    {0x601, "music", 1, vm::ArgCheck::BLOCK, Music},
    {0x602, "stop music", 0, vm::ArgCheck::BLOCK, Stop},
    {0x603, "playing", 0, vm::ArgCheck::BLOCK, Playing},
};

}  // namespace

void AddSoundRequests(vm::RequestTable& t, Sound& s) {
  vm::AddRequests(t, kRows, s);
}

}  // namespace orvo::sound
