// velda's debug file read back by the runtime's reader: over a real game (mines, with the
// library), every statement and label must agree with the image, the sources and velda's
// own tables; damaged files must be refused without reading outside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "isa/debug_format.h"
#include "velda_test_util.h"
#include "vm/debug_info.h"
#include "vm/disassemble.h"
#include "vm/memory.h"

namespace {

namespace fs = std::filesystem;
namespace fmt = orvo::debug_format;
using namespace orvo::vm;
using velda_test::Result;
using velda_test::TempDir;

std::string ReadSource(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The library and mines, in the order the build assembles them.
struct Game {
  TempDir dir;
  std::vector<std::string> names;
  Result run;
  std::string file;  // main.ovd

  Game() {
    const fs::path src = ORVO_SOURCE_DIR;
    std::vector<fs::path> paths = {src / "examples/lib/header.ova", src / "examples/lib/sys.ova"};
    std::vector<fs::path> mines;
    for (const auto& e : fs::directory_iterator(src / "examples/mines"))
      if (e.path().extension() == ".ova") mines.push_back(e.path());
    std::sort(mines.begin(), mines.end());
    paths.insert(paths.end(), mines.begin(), mines.end());
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args = {"-q"};
    for (const fs::path& p : paths) {
      files.emplace_back(p.filename().string(), ReadSource(p));
      args.push_back("%" + p.filename().string());
      names.push_back((dir.path() / p.filename()).string());
    }
    run = velda_test::Assemble(dir, files, args);
    file = dir.Read(fmt::kFileName);
  }
  std::vector<std::string> Lines(size_t fileIndex) const {
    std::istringstream in(dir.Read(fs::path(names[fileIndex]).filename().string()));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l.empty() || l.back() != '\r' ? l : l.substr(0, l.size() - 1));
    return lines;
  }
};

const Game& Mines() {
  static const Game* game = new Game;
  return *game;
}

const uint8_t* Image(const Game& g) {
  return reinterpret_cast<const uint8_t*>(g.run.image.data());
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

uint32_t Get32(const std::string& s, size_t at) {
  return velda_test::Le32(s, at);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(DebugFile, BelongsToTheImageAndNamesItsSources) {
  const Game& g = Mines();
  ASSERT_EQ(g.run.code, 0) << g.run.console;
  DebugInfo info;
  std::string problem;
  ASSERT_TRUE(ReadDebugInfo(g.file, info, problem)) << problem;
  EXPECT_TRUE(DebugInfoMatches(info, Image(g), g.run.image.size()));
  EXPECT_EQ(info.buildNumber, velda_test::Le32(g.run.image, HDR_BUILD_NUMBER));
  EXPECT_EQ(info.files, g.names);
  std::string other = g.run.image;
  other[other.size() / 2] ^= 1;
  EXPECT_FALSE(DebugInfoMatches(info, reinterpret_cast<const uint8_t*>(other.data()), other.size()));
}

// Each instruction record is exactly one instruction as the machine decodes it, written
// at that line and column of its file; each data record starts with a data word.
TEST(DebugFile, EveryStatementIsWhereItsSourceSays) {
  const Game& g = Mines();
  DebugInfo info;
  std::string problem;
  ASSERT_TRUE(ReadDebugInfo(g.file, info, problem)) << problem;
  std::vector<std::vector<std::string>> sources;
  for (size_t i = 0; i < g.names.size(); ++i) sources.push_back(g.Lines(i));
  size_t instructions = 0;
  for (const DebugLine& l : info.lines) {
    ASSERT_LT(l.file, sources.size());
    ASSERT_GE(l.line, 1u);
    ASSERT_LE(l.line, sources[l.file].size());
    const std::string text = Lower(sources[l.file][l.line - 1].substr(l.column - 1));
    ASSERT_FALSE(text.empty());
    ASSERT_NE(text[0], ' ');
    if (l.kind == fmt::STATEMENT_INSTRUCTION) {
      ++instructions;
      const Disassembly d = Disassemble(Image(g), g.run.image.size(), l.address, nullptr);
      EXPECT_EQ(d.length, l.length) << text;
      std::istringstream words(d.text);
      std::string mnemonic;
      words >> mnemonic;
      if (mnemonic.size() == 1) words >> mnemonic;  // a size letter first
      // A push of a short immediate is written push and shown as the pushs it becomes.
      if (mnemonic == "pushs" && text.find("pushs") == std::string::npos) mnemonic = "push";
      EXPECT_NE(text.find(mnemonic), std::string::npos) << text << " / " << d.text;
    } else {
      EXPECT_EQ(l.kind, fmt::STATEMENT_DATA);
      EXPECT_NE(std::string("bwdq&@").find(text[0]), std::string::npos) << text;
    }
  }
  EXPECT_GT(instructions, 500u);
}

// Every label velda knows, with its value, kind and the line that defines it; routines
// end where their instructions do.
TEST(DebugFile, EveryLabelWithItsKindDefinitionAndRoutineEnd) {
  const Game& g = Mines();
  DebugInfo info;
  std::string problem;
  ASSERT_TRUE(ReadDebugInfo(g.file, info, problem)) << problem;
  const auto& ids = g.run.state->ids;
  ASSERT_EQ(info.labels.size(), ids.count());
  size_t routines = 0;
  for (size_t i = 0; i < ids.count(); ++i) {
    const DebugLabel& l = info.labels[i];
    SCOPED_TRACE(l.name);
    EXPECT_EQ(l.name, ids[i].name);
    EXPECT_EQ(l.value, static_cast<uint32_t>(ids[i].value));
    const std::string defined = g.Lines(l.file)[l.line - 1].substr(l.column - 1);
    const bool anonymous = l.name.starts_with("_@");
    EXPECT_TRUE(defined.starts_with(":" + (anonymous ? std::string("@") : l.name))) << defined;
    if (ids[i].flags & orvo::velda::ID_ZERO) {
      EXPECT_EQ(l.kind, fmt::LABEL_ZERO);
      continue;
    }
    const DebugLine* first = info.LineAt(l.value);
    if (first && first->address == l.value) {
      EXPECT_EQ(l.kind, first->kind == fmt::STATEMENT_DATA ? fmt::LABEL_DATA : fmt::LABEL_CODE);
    }
    if (l.end == 0) continue;
    ++routines;
    ASSERT_TRUE(first);
    EXPECT_TRUE(Disassemble(Image(g), g.run.image.size(), l.value, nullptr).text.starts_with("sfvr"));
    const DebugLine* last = info.LineAt(l.end - 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->kind, fmt::STATEMENT_INSTRUCTION);
    // What follows is no more of it: data, a gap, or the next routine's sfvr.
    const DebugLine* next = info.LineAt(l.end);
    if (next && next->kind == fmt::STATEMENT_INSTRUCTION) {
      EXPECT_TRUE(Disassemble(Image(g), g.run.image.size(), l.end, nullptr).text.starts_with("sfvr"));
    }
  }
  EXPECT_GT(routines, 20u);
}

// The image hash ties main.ovd to main.ove: for images of every length across the word
// and four-word steps, each single bit, the length itself and the order of the words
// must show in it.
TEST(ImageHash, EveryBitLengthAndWordOrderCounts) {
  std::mt19937 rng(5);
  std::set<uint64_t> ofZeros;
  for (size_t size = 0; size <= 80; ++size) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    const uint64_t original = fmt::ImageHash(bytes.data(), size);
    std::set<uint64_t> seen = {original};
    for (size_t bit = 0; bit < 8 * size; ++bit) {
      bytes[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_TRUE(seen.insert(fmt::ImageHash(bytes.data(), size)).second) << size << " bit " << bit;
      bytes[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    }
    const std::vector<uint8_t> zeros(size);
    ofZeros.insert(fmt::ImageHash(zeros.data(), size));
    for (size_t i = 0; i + 16 <= size; i += 8)
      for (size_t j = i + 8; j + 8 <= size; j += 8) {
        std::vector<uint8_t> swapped = bytes;
        std::swap_ranges(swapped.begin() + i, swapped.begin() + i + 8, swapped.begin() + j);
        EXPECT_NE(fmt::ImageHash(swapped.data(), size), original)
            << size << ": words " << i / 8 << " and " << j / 8;
      }
  }
  EXPECT_EQ(ofZeros.size(), 81u);
}

// A statement right after the one before, on the next line, in the same column and
// file, is one byte in the line table; a label a few bytes on, a few lines down, takes
// a byte for each field and its name.
TEST(DebugFile, TheCommonStatementTakesOneByte) {
  std::string source = "@code\n";
  const int blocks = 40;
  for (int i = 0; i < blocks; ++i) source += ":Label" + std::to_string(i) + "\n d add $2, $3\n d mov $1, =3\n";
  source += "@seg_end\n";
  TempDir dir;
  ASSERT_EQ(velda_test::RunSource(dir, source).code, 0);
  const std::string file = dir.Read(fmt::kFileName);
  DebugInfo info;
  std::string problem;
  ASSERT_TRUE(ReadDebugInfo(file, info, problem)) << problem;
  ASSERT_EQ(info.lines.size(), 2u * blocks);
  // The first statement of each block skips its label's line.
  const uint32_t lineBytes = Get32(file, fmt::HDR_LINES + fmt::SECTION_BYTES);
  EXPECT_LE(lineBytes, info.lines.size() + blocks + 2);
  const uint32_t labelBytes = Get32(file, fmt::HDR_LABELS + fmt::SECTION_BYTES);
  size_t names = 0;
  for (const DebugLabel& l : info.labels) names += l.name.size();
  EXPECT_LE(labelBytes, names + 5 * info.labels.size());
}

// main.ovd is written last and on its own: when it cannot be written, velda says so, and
// the outputs it wrote before are the same bytes.
TEST(DebugFile, OtherOutputsDoNotDependOnIt) {
  const std::string source = "@code\n:A\n sfvr 0, 0\n d mov $1, =A\n efr 0\n b \"x\"\n@seg_end\n";
  TempDir plain, blocked;
  fs::create_directory(blocked.path() / fmt::kFileName);
  const Result a = velda_test::RunSource(plain, source);
  const Result b = velda_test::RunSource(blocked, source);
  EXPECT_EQ(a.code, 0);
  EXPECT_EQ(b.code, 5);
  EXPECT_NE(b.console.find("Error creating .OVD file"), std::string::npos) << b.console;
  EXPECT_EQ(a.image, b.image);
  EXPECT_EQ(a.map, b.map);
  // The listing is still open when the error is reported: it gains that line alone.
  EXPECT_EQ(b.listing, a.listing + " ***** Error creating .OVD file\r\n");
  EXPECT_TRUE(plain.Exists(fmt::kFileName));
}

// ---- damaged files

TEST(DebugFileReader, RefusesEveryTruncation) {
  const std::string& file = Mines().file;
  DebugInfo info;
  for (size_t len = 0; len < file.size(); len += 1 + len / 64) {
    std::string problem;
    EXPECT_FALSE(ReadDebugInfo(std::string_view(file).substr(0, len), info, problem)) << len;
    EXPECT_FALSE(problem.empty());
  }
}

const uint32_t kSections[] = {fmt::HDR_FILES, fmt::HDR_LINES, fmt::HDR_LABELS};

// Puts one more record in front of the record at `at` of the section `header` names,
// moving the sections after it.
void InsertRecord(std::string& s, uint32_t header, size_t at, const std::string& record) {
  s.insert(at, record);
  for (uint32_t h : kSections)
    if (Get32(s, h + fmt::SECTION_OFFSET) >= at && h != header)
      Put32(s, h + fmt::SECTION_OFFSET, Get32(s, h + fmt::SECTION_OFFSET) + static_cast<uint32_t>(record.size()));
  Put32(s, header + fmt::SECTION_COUNT, Get32(s, header + fmt::SECTION_COUNT) + 1);
  Put32(s, header + fmt::SECTION_BYTES, Get32(s, header + fmt::SECTION_BYTES) + static_cast<uint32_t>(record.size()));
}

std::string Record(std::initializer_list<unsigned> bytes) {
  std::string r;
  for (unsigned b : bytes) r += static_cast<char>(b);
  return r;
}

TEST(DebugFileReader, RefusesDamagedFields) {
  const std::string& file = Mines().file;
  auto at = [&](uint32_t header, uint32_t field) { return Get32(file, header + field); };
  const uint32_t lines = at(fmt::HDR_LINES, fmt::SECTION_OFFSET), labels = at(fmt::HDR_LABELS, fmt::SECTION_OFFSET);
  const uint32_t size = static_cast<uint32_t>(file.size());
  // A first line entry or label of one fault each, the rest of the file as velda wrote it.
  auto line = [&](std::initializer_list<unsigned> entry) {
    return [&, r = Record(entry)](std::string& s) { InsertRecord(s, fmt::HDR_LINES, lines, r); };
  };
  auto label = [&](std::initializer_list<unsigned> record, bool last = false) {
    return [&, r = Record(record), last](std::string& s) {
      InsertRecord(s, fmt::HDR_LABELS, last ? s.size() : labels, r);
    };
  };
  const unsigned one = 1 << fmt::LINE_LENGTH_SHIFT;  // a line entry of length 1
  const std::tuple<const char*, const char*, std::function<void(std::string&)>> damage[] = {
      {"magic", "not a debug file", [](std::string& s) { s[0] = 'X'; }},
      {"version", "version", [](std::string& s) { Put32(s, fmt::HDR_VERSION, fmt::kVersion + 1); }},
      {"files beyond the end", "file table", [&](std::string& s) { Put32(s, fmt::HDR_FILES, size + 1); }},
      {"files inside the header", "file table", [](std::string& s) { Put32(s, fmt::HDR_FILES, 8); }},
      {"absurd file count", "file table", [](std::string& s) { Put32(s, fmt::HDR_FILES + fmt::SECTION_COUNT, 200); }},
      {"absurd line count", "line table", [](std::string& s) { Put32(s, fmt::HDR_LINES + fmt::SECTION_COUNT, 0xFFFFFFFF); }},
      {"absurd label count", "label table", [](std::string& s) { Put32(s, fmt::HDR_LABELS + fmt::SECTION_COUNT, 0x10000000); }},
      {"line table past the end", "line table", [&](std::string& s) { Put32(s, fmt::HDR_LINES + fmt::SECTION_BYTES, size); }},
      {"a file name past its table", "file", [&](std::string& s) {
         Put32(s, fmt::HDR_FILES + fmt::SECTION_BYTES, at(fmt::HDR_FILES, fmt::SECTION_BYTES) - 1); }},
      {"bytes after the last file", "file table", [&](std::string& s) {
         Put32(s, fmt::HDR_FILES + fmt::SECTION_COUNT, at(fmt::HDR_FILES, fmt::SECTION_COUNT) - 1); }},
      {"entries running past the table", "line entry", [&](std::string& s) {
         Put32(s, fmt::HDR_LINES + fmt::SECTION_BYTES, at(fmt::HDR_LINES, fmt::SECTION_BYTES) - 1); }},
      {"bytes after the last entry", "line table", [&](std::string& s) {
         Put32(s, fmt::HDR_LINES + fmt::SECTION_COUNT, at(fmt::HDR_LINES, fmt::SECTION_COUNT) - 1); }},
      {"over-long number", "line entry 0", line({one | fmt::LINE_GAP, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"empty statement", "line entry 0", line({fmt::LINE_GAP, 0x10, 0})},
      {"lines past the image", "outside the image", [](std::string& s) { Put32(s, fmt::HDR_IMAGE_SIZE, 16); }},
      {"line before line 1", "line entry 0", line({one | fmt::LINE_JUMP, 3})},
      {"column above 65535", "line entry 0", line({one | fmt::LINE_COLUMN, 0x80, 0x80, 0x04})},
      {"line of no file", "line entry 0", line({one | fmt::LINE_FILE, 127})},
      {"label name past the table", "label", label({fmt::LABEL_CODE, 0, 0, 200, 'x'}, true)},
      {"bytes after the last label", "label table", [&](std::string& s) {
         Put32(s, fmt::HDR_LABELS + fmt::SECTION_COUNT, at(fmt::HDR_LABELS, fmt::SECTION_COUNT) - 1); }},
      {"label of no file", "label 0", label({fmt::LABEL_CODE | fmt::LABEL_FILE, 0, 0, 99, 1, 'x'})},
      {"label kind", "label 0", label({5, 0, 0, 1, 'x'})},
      {"label column above 65535", "label 0", label({fmt::LABEL_CODE | fmt::LABEL_COLUMN, 0, 0, 0x80, 0x80, 0x04, 1, 'x'})},
      {"label below address 0", "label 0", label({fmt::LABEL_CODE, 1, 0, 1, 'x'})},
      {"routine of no length", "label 0", label({fmt::LABEL_CODE | fmt::LABEL_HAS_END, 2, 0, 0, 1, 'x'})},
      {"routine ending past 2^32", "label 0",
       label({fmt::LABEL_CODE | fmt::LABEL_HAS_END, 0xE0, 0xFF, 0xFF, 0xFF, 0x1F, 0x20, 0, 1, 'x'})},
  };
  for (const auto& [what, reason, change] : damage) {
    std::string bad = file;
    change(bad);
    DebugInfo info;
    std::string problem;
    EXPECT_FALSE(ReadDebugInfo(bad, info, problem)) << what;
    EXPECT_NE(problem.find(reason), std::string::npos) << what << ": " << problem;
  }
  // An inserted label is read as written when nothing is wrong with it.
  std::string good = file;
  label({fmt::LABEL_CODE | fmt::LABEL_HAS_END | fmt::LABEL_COLUMN, 2, 4, 0, 3, 1, 'x'})(good);
  DebugInfo info;
  std::string problem;
  ASSERT_TRUE(ReadDebugInfo(good, info, problem)) << problem;
  EXPECT_EQ(info.labels[0].name, "x");
  EXPECT_EQ(info.labels[0].value, 1u);
  EXPECT_EQ(info.labels[0].end, 5u);
  EXPECT_EQ(info.labels[0].column, 3u);
}

// Random damage, most of it in the header and the records: whatever is accepted holds
// to what the reader promises, and every lookup stays inside it (the sanitizer build
// runs this too).
TEST(DebugFileReader, RandomDamageIsRefusedOrConsistent) {
  const std::string& file = Mines().file;
  const size_t records = file.size();
  std::mt19937 rng(21);
  size_t accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bad = file;
    const int changes = 1 + static_cast<int>(rng() % 6);
    for (int c = 0; c < changes; ++c) {
      const size_t at = rng() % 3 == 0 ? rng() % fmt::kHeaderSize : rng() % records;
      bad[at] = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
    }
    DebugInfo info;
    std::string problem;
    if (!ReadDebugInfo(bad, info, problem)) {
      EXPECT_FALSE(problem.empty());
      continue;
    }
    ++accepted;
    uint64_t previousEnd = 0;
    for (const DebugLine& l : info.lines) {
      ASSERT_GE(l.address, previousEnd);
      ASSERT_GT(l.length, 0u);
      previousEnd = uint64_t{l.address} + l.length;
      ASSERT_LE(previousEnd, info.imageSize);
      ASSERT_LT(l.file, info.files.size());
    }
    for (const DebugLabel& l : info.labels) ASSERT_LT(l.file, info.files.size());
    for (int q = 0; q < 20; ++q) {
      const uint32_t address = static_cast<uint32_t>(rng());
      const uint32_t at = address % (info.imageSize + 1);
      if (const DebugLine* l = info.LineAt(at)) {
        ASSERT_LT(l->file, info.files.size());
      }
      if (const DebugLabel* l = info.LabelBelow(at)) {
        ASSERT_LE(l->value, at);
      }
    }
  }
  // Damage to names and unused bytes leaves a readable file often enough to test both ways.
  EXPECT_GT(accepted, 50u);
}

}  // namespace
