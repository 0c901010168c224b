// The translated blocks of one machine's code and the tables translated code reads: the
// code of each translated place by VPC / 4, the map of where translated code lies, the
// arrivals counted at each place. A translation stays valid while the words it was made
// from are unchanged in VM memory: translated code never stores into translated code
// (it leaves for the step), and the driver compares the words after anything else has
// run (Verify).
#pragma once

#include <asmjit/x86.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <unordered_map>
#include <memory>
#include <vector>

#include "vm/jit/context.h"
#include "vm/jit/guard_faults.h"

namespace orvo::vm {
struct Machine;
}

namespace orvo::vm::jit {

template <typename T>
struct Freed {
  void operator()(T* p) const { std::free(p); }
};

// One translated block: the bytes start .. end of VM memory it was made from, as they
// were, and its code.
struct Block {
  uint32_t start = 0;
  std::vector<uint8_t> words;
  const void* code = nullptr;
  size_t codeBytes = 0;
  std::vector<FaultRange> faultRanges;  // where its unchecked loads lie
};

// Sizes for the report of what the tier holds.
struct TranslationStats {
  size_t blocks = 0;       // held now
  size_t sourceBytes = 0;  // VM code they were made from
  size_t codeBytes = 0;    // host code made from it, held now
  double compileMs = 0;    // spent translating, all blocks ever made
  uint64_t entered = 0;    // times the driver entered translated code
};

class Cache {
 public:
  // guardBytes: how many bytes after VM memory fault when touched (0: none).
  Cache(uint8_t* mem, uint32_t memSize, size_t guardBytes);
  ~Cache();
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;

  bool Fits(const uint8_t* mem, uint32_t memSize, size_t guardBytes) const {
    return mem == mem_ && memSize == memSize_ && guardBytes == guardBytes_;
  }
  // Whether translated loads may leave their check to the guard after VM memory.
  bool Guarded() const { return guardBytes_ != 0; }
  const FaultRoutes& faultRoutes() const { return routes_; }
  uint32_t memSize() const { return memSize_; }

  // The translation starting at pc, or nullptr.
  const void* At(uint32_t pc) const {
    return pc % 4 == 0 && pc / 4 < places_ ? entries_.get()[pc / 4] : nullptr;
  }
  // Counts one arrival at pc; true once pc has arrived more than threshold times and
  // has not failed to translate with the word it holds now.
  bool Hot(uint32_t pc, uint32_t threshold);
  void MarkUntranslatable(uint32_t pc);

  // Installs a block: its code becomes the entry at start, its bytes marked in the code map.
  void Install(Block block, double compileMs);
  // Drops every block whose words have changed in VM memory.
  void Verify() {
    if (!Unchanged()) DropChanged();
  }
  bool Empty() const { return blocks_.empty(); }

  // A stretch of VM memory where no translation lies (from the end of the loaded image
  // to the end of memory: the zero area, the stack, the heap), so that translated stores
  // there need no look at the code map; empty once code has been translated there.
  bool PlainHoldsNoCode() const { return plainHigh_ > plainLow_; }
  uint32_t plainLow() const { return plainLow_; }
  uint32_t plainHigh() const { return plainHigh_; }
  // Before translating the bytes start .. end: code there ends the stretch above.
  void NoteCodeAt(uint32_t start, uint32_t end);

  asmjit::JitRuntime& runtime() { return runtime_; }
  const void* const* entries() const { return entries_.get(); }
  const uint8_t* codeMap() const { return codeMap_.get(); }
  uint32_t places() const { return places_; }
  const TranslationStats& stats() const { return stats_; }
  // Bytes of the entry table, the arrival counts and the code map (touched or not).
  size_t TableBytes() const;

  // Enters translated code at code with the working copies in the context.
  void Enter(Context& ctx, const void* code) {
    ++stats_.entered;
    enter_(&ctx, code);
  }

 private:
  void MarkPages(const Block& b, uint8_t mark);
  void BuildTrampoline();
  // Whether every block's words are as they were: the check after every step, so it
  // compares a few merged ranges against one flat copy rather than block by block.
  bool Unchanged() const;
  void DropChanged();
  void DropWhere(const std::function<bool(const Block&)>& drop);
  void RebuildWatches();

  // Ranges of VM memory holding translated words, in order, and where each lies in the
  // flat copy.
  struct Watch {
    uint32_t start, length, offset;
  };
  std::vector<Watch> watches_;
  std::vector<uint8_t> watched_;

  uint8_t* mem_;
  uint32_t memSize_;
  size_t guardBytes_;
  uint32_t places_;
  asmjit::JitRuntime runtime_;
  std::unique_ptr<const void*, Freed<const void*>> entries_;
  std::unique_ptr<uint16_t, Freed<uint16_t>> heat_;
  // Allocated zeroed and never filled whole: only pages that hold code are touched.
  std::unique_ptr<uint8_t, Freed<uint8_t>> codeMap_;
  size_t codeMapBytes_;
  std::unordered_map<uint32_t, uint32_t> refused_;  // place -> the word that failed there
  std::map<uint32_t, Block> blocks_;
  uint32_t plainLow_ = 0, plainHigh_ = 0;
  FaultRoutes routes_;
  TranslationStats stats_;
  void (*enter_)(Context*, const void*) = nullptr;
  const void* exit_ = nullptr;

 public:
  const void* exitCode() const { return exit_; }
};

}  // namespace orvo::vm::jit

namespace orvo::vm {
// What a machine's Translations hold: the cache of its one memory block.
struct Translations {
  jit::Cache cache;
  Translations(uint8_t* mem, uint32_t memSize, size_t guardBytes)
      : cache(mem, memSize, guardBytes) {}
};
}  // namespace orvo::vm
