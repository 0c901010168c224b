// The sound group's rows of the request table.
#include "sound/sound.h"
#include "vm/sys.h"

namespace orvo::sound {

namespace {

Sound& Of(vm::Request& r) {
  return vm::ServiceOf<Sound>(r);
}

constexpr vm::RequestRow kRows[] = {
    {0x600, "sound", 1, vm::ArgCheck::BLOCK, [](vm::Request& r) { Of(r).PlayEffect(r.m, r.a[0]); }},
    {0x601, "music", 1, vm::ArgCheck::BLOCK,
     [](vm::Request& r) { Of(r).MusicCommand(r.m, r.a[0]); }},
    {0x602, "stop music", 0, vm::ArgCheck::BLOCK, [](vm::Request& r) { Of(r).StopMusic(); }},
    {0x603, "playing", 0, vm::ArgCheck::BLOCK,
     [](vm::Request& r) { vm::SetResult(r.m, Of(r).MusicPlaying() ? 1 : 0); }, true},
};

}  // namespace

void AddSoundRequests(vm::RequestTable& t, Sound& s) {
  vm::AddRequests(t, kRows, &s);
}

}  // namespace orvo::sound
