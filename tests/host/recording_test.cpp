// The recording file: what is written reads back the same, for recordings generated over
// the space of their fields; a file cut short, damaged or with content no run can make is
// refused with a message saying which; the data folder's copy; and the list of requests
// answered from outside in docs/recording.md is the one the request table marks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>

#include "host/data_snapshot.h"
#include "host/recording.h"
#include "host/runtime.h"
#include "platform/headless/headless_platform.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kEvents[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// A recording any run could have made, its fields drawn from random.
Recording Generated(std::mt19937& random) {
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  Recording r;
  for (uint8_t& b : r.image) b = static_cast<uint8_t>(random());
  r.buildNumber = random();
  r.memorySize = 4096 + below(1 << 20);
  r.desktopWidth = r.displayWidth = 1 + static_cast<int32_t>(below(32767));
  r.desktopHeight = r.displayHeight = 1 + static_cast<int32_t>(below(32767));
  r.clientWidth = static_cast<int32_t>(below(2000));
  r.clientHeight = static_cast<int32_t>(below(2000));
  r.start = {1970 + static_cast<int>(below(8000)), 1 + static_cast<int>(below(12)),
             1 + static_cast<int>(below(28)), static_cast<int>(below(24)),
             static_cast<int>(below(60)), static_cast<int>(below(60))};
  r.commandLine = std::string(below(20), 'x');
  for (uint32_t i = below(4); i > 0; --i)
    r.files.push_back({"folder" + std::to_string(i) + "/file.ini",
                       std::vector<uint8_t>(below(300), static_cast<uint8_t>(i))});
  uint32_t ms = 0;
  for (uint32_t i = below(40); i > 0; --i) {
    RecordedItem item;
    item.kind = static_cast<RecordedItem::Kind>(1 + below(3));
    if (item.kind == RecordedItem::DELIVERY) {
      ms += below(1000);
      item.delivery = {kEvents[below(14)], static_cast<int32_t>(random()),
                       static_cast<int32_t>(random()), static_cast<int32_t>(random()), ms};
    } else if (item.kind == RecordedItem::REQUEST) {
      vm::RequestEffect& e = item.effect;
      e.command = below(vm::SYS_COMMANDS);
      for (uint32_t at = below(64); at + 64 < r.memorySize && e.runs.size() < 3;
           at += 64 + below(r.memorySize / 4)) {
        e.runs.push_back({at, 1 + below(64)});
        e.bytes.resize(e.bytes.size() + e.runs.back().length, static_cast<uint8_t>(at));
      }
      if (below(2)) e.records.push_back({static_cast<int32_t>(below(vm::HEAP_HANDLES)),
                                         {below(1024), 64, 32, -1, 7, vm::LIST_LOCKED, 3, 1,
                                          -1, -1, 0}});
      e.after.heapStart = below(1024);
      e.after.heapSize = 1024;
      e.after.heapTop = e.after.heapStart + 100;
      e.after.listHead = {-1, 2, 3, -1};
    } else {
      item.shot = "shot-" + std::to_string(i) + ".png";
    }
    r.items.push_back(std::move(item));
  }
  if (below(2)) {
    RecordedItem end;
    end.kind = RecordedItem::END;
    end.memory[0] = 1;
    r.items.push_back(end);
  }
  return r;
}

std::string Refusal(const std::vector<uint8_t>& bytes) {
  Recording r;
  std::string problem;
  EXPECT_FALSE(DecodeRecording(bytes, r, problem));
  EXPECT_FALSE(problem.empty());
  return problem;
}

TEST(Recording, EveryGeneratedRecordingReadsBackAsItWasWritten) {
  std::mt19937 random(7);
  for (int n = 0; n < 200; ++n) {
    const Recording r = Generated(random);
    const std::vector<uint8_t> bytes = EncodeRecording(r);
    Recording back;
    std::string problem;
    ASSERT_TRUE(DecodeRecording(bytes, back, problem)) << problem;
    EXPECT_EQ(back.files, r.files);
    ASSERT_EQ(back.items.size(), r.items.size());
    EXPECT_EQ(back.commandLine, r.commandLine);
    EXPECT_EQ(EncodeRecording(back), bytes);  // every field came back
  }
}

TEST(Recording, AFileCutShortOrDamagedAnywhereIsRefused) {
  std::mt19937 random(11);
  Recording r = Generated(random);
  while (r.items.size() < 5) r = Generated(random);
  const std::vector<uint8_t> bytes = EncodeRecording(r);
  for (size_t size = 0; size < bytes.size(); ++size) {
    const std::string problem = Refusal({bytes.begin(), bytes.begin() + static_cast<long>(size)});
    if (size >= 8) {
      EXPECT_NE(problem.find("cut short"), std::string::npos) << size << problem;
    }
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_EQ(Refusal(longer), "more bytes follow its end: 1");
  for (size_t at = 52; at < bytes.size(); at += 7) {
    std::vector<uint8_t> damaged = bytes;
    damaged[at] ^= 0x20;
    EXPECT_EQ(Refusal(damaged), "it is damaged: its contents do not match their checksum");
  }
  std::vector<uint8_t> other = bytes;
  other[8] = 2;
  EXPECT_EQ(Refusal(other), "it is of format 2; this orvo reads format 1");
  EXPECT_EQ(Refusal({'h', 'e', 'l', 'l', 'o'}), "it is no recording of orvo's");
}

// Content with a valid checksum that no run can have made.
TEST(Recording, ImpossibleContentIsRefusedWithWhatIsWrong) {
  Recording base;
  base.memorySize = 65536;
  base.desktopWidth = base.displayWidth = 800;
  base.desktopHeight = base.displayHeight = 600;
  base.start = {2026, 3, 14, 10, 15, 0};
  RecordedItem delivery;
  delivery.delivery = {12, 1, 1, 0, 500};
  base.items = {delivery};
  Recording r;
  std::string problem;
  ASSERT_TRUE(DecodeRecording(EncodeRecording(base), r, problem)) << problem;

  const auto refused = [&](auto change) {
    Recording bad = base;
    change(bad);
    return Refusal(EncodeRecording(bad));
  };
  EXPECT_EQ(refused([](Recording& b) { b.items[0].delivery.code = 6; }),
            "item 1 delivers the unknown event 6");
  EXPECT_EQ(refused([&](Recording& b) {
              b.items.push_back(delivery);
              b.items.back().delivery.ms = 499;
            }),
            "item 2 goes back in time");
  RecordedItem request;
  request.kind = RecordedItem::REQUEST;
  request.effect.command = 0x201;
  request.effect.runs = {{65530, 8}};
  request.effect.bytes.resize(8);
  EXPECT_EQ(refused([&](Recording& b) { b.items.push_back(request); }),
            "item 2 is a request that changed bytes outside VM memory");
  request.effect.runs = {};
  request.effect.bytes = {};
  request.effect.records = {{70000, {}}};
  EXPECT_EQ(refused([&](Recording& b) { b.items.push_back(request); }),
            "item 2 is a heap record of the handle 70000, outside the handles there are");
  request.effect.records = {{5, {0, 16, 32, -1, -1, 2, 0, 0, -1, -1, 0}}};
  EXPECT_EQ(refused([&](Recording& b) { b.items.push_back(request); }),
            "item 2 is a heap record that no heap can hold");
  request.effect.records = {};
  request.effect.command = vm::SYS_COMMANDS;
  EXPECT_EQ(refused([&](Recording& b) { b.items.push_back(request); }),
            "item 2 is a request with the unknown command 2560");
  request.effect.command = 0x201;
  request.effect.after.heapStart = 65000;
  request.effect.after.heapSize = 1000;
  EXPECT_EQ(refused([&](Recording& b) { b.items.push_back(request); }),
            "item 2 is machine words that no run can leave");
  EXPECT_EQ(refused([](Recording& b) { b.files = {{"../outside", {1}}}; }),
            "it names a data file \"../outside\" that cannot be written");
  EXPECT_EQ(refused([](Recording& b) {
              b.items.push_back({});
              b.items.back().kind = RecordedItem::SCREENSHOT;
              b.items.back().shot = "../../x.png";
            }),
            "item 2 names a screenshot \"../../x.png\" that cannot be written");
  EXPECT_EQ(refused([&](Recording& b) {
              b.items.insert(b.items.begin(), RecordedItem{});
              b.items.front().kind = RecordedItem::END;
            }),
            "item 2 follows the end");
  EXPECT_EQ(refused([](Recording& b) { b.desktopWidth = 0; }), "its screen sizes are impossible");
  EXPECT_EQ(refused([](Recording& b) { b.start.month = 13; }), "its start date is impossible");
}

TEST(Recording, TheDataFolderIsCopiedWithoutTheRuntimesOwnFilesAndWrittenOnlyIntoAnEmptyOne) {
  const fs::path root = fs::temp_directory_path() / ("orvo-snapshot-" + std::to_string(getpid()));
  fs::remove_all(root);
  const fs::path data = root / "data";
  fs::create_directories(data / "saves");
  fs::create_directories(data / "screenshots");
  std::ofstream(data / "mines.ini") << "[0x0=Options]\r\n";
  std::ofstream(data / "saves" / "one.sav") << "1";
  std::ofstream(data / "debug.log") << "old lines";
  std::ofstream(data / "screenshots" / "a.png") << "png";
  std::ofstream(data / "session.orvorec") << "the recording itself";
  std::vector<RecordedFile> files;
  std::string problem;
  ASSERT_TRUE(ReadDataFiles(data.string() + "/", (data / "session.orvorec").string(), files,
                            problem))
      << problem;
  const std::vector<RecordedFile> expected = {
      {"mines.ini", {'[', '0', 'x', '0', '=', 'O', 'p', 't', 'i', 'o', 'n', 's', ']', '\r', '\n'}},
      {"saves/one.sav", {'1'}}};
  EXPECT_EQ(files, expected);

  EXPECT_FALSE(WriteDataFiles(data.string(), files, problem));
  EXPECT_NE(problem.find("is not empty"), std::string::npos) << problem;
  ASSERT_TRUE(WriteDataFiles((root / "replayed").string(), files, problem)) << problem;
  std::vector<RecordedFile> again;
  ASSERT_TRUE(ReadDataFiles((root / "replayed").string(), "", again, problem));
  EXPECT_EQ(again, files);

  fs::resize_file(data / "saves" / "one.sav", kMaxRecordedFiles + 1);
  EXPECT_FALSE(ReadDataFiles(data.string(), "", files, problem));
  EXPECT_NE(problem.find("holds more than the 16 MB a recording may carry"), std::string::npos)
      << problem;
  fs::remove_all(root);
}

// Every row of the table is either in the guide's list of requests answered from outside
// and marked so, or in neither.
TEST(Recording, TheGuideListsExactlyTheRequestsMarkedAsAnsweredFromOutside) {
  platform::HeadlessPlatform platform{{}};
  Runtime runtime(platform.Parts(), {});
  std::map<uint32_t, std::string> marked, listed;
  for (const vm::RequestTable::Route& route : runtime.machine().requests.routes)
    if (route.row && route.row->outside) marked[route.row->command] = route.row->name;
  std::ifstream in(ORVO_DOCS_DIR "/recording.md");
  const std::regex row(R"(^\| (0x[0-9A-F]{3}) \| ([^|]+) \|)");
  std::smatch match;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, match, row))
      listed[static_cast<uint32_t>(std::stoul(match[1], nullptr, 16))] = match[2].str();
  for (auto& [command, name] : listed) name = name.substr(0, name.find_last_not_of(' ') + 1);
  EXPECT_EQ(listed, marked);
  EXPECT_GE(marked.size(), 10u);
}

}  // namespace
}  // namespace orvo::host
