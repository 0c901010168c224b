// Game archives as the program folder: lookups and listings as in a folder, the overlay
// with the data folder on top, and every kind of archive that must be refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <random>

#include "host/game_archive.h"
#include "services/archive.h"
#include "services/files.h"
#include "services/manifest.h"
#include "tests/services/files_test_support.h"

namespace orvo::services::test {
namespace {

struct Entry {
  std::string name;
  std::string bytes;
  uint32_t mode = S_IFREG | 0644;  // Unix mode stored with the entry
};

// A zip archive of the entries, written by the same library the packer uses.
std::string MakeZip(const std::vector<Entry>& entries, const std::string& folder) {
  const std::string path = folder + "made.zip";
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  EXPECT_NE(z, nullptr);
  for (const Entry& e : entries) {
    zip_source_t* s = zip_source_buffer(z, e.bytes.data(), e.bytes.size(), 0);
    const bool folderEntry = !e.name.empty() && e.name.back() == '/';
    const zip_int64_t i = folderEntry ? zip_dir_add(z, e.name.c_str(), ZIP_FL_ENC_RAW)
                                      : zip_file_add(z, e.name.c_str(), s, ZIP_FL_ENC_RAW);
    if (folderEntry) zip_source_free(s);
    EXPECT_GE(i, 0) << e.name;
    zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(i), 0, 3, e.mode << 16);
  }
  EXPECT_EQ(zip_close(z), 0);
  return ReadBytes(path);
}

std::string ReadFd(int fd) {
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fd);
  return out;
}

class Archive : public ::testing::Test {
 protected:
  TempFolder tmp;
  std::unique_ptr<ArchiveFiles> Open(const std::vector<Entry>& entries, std::string& problem,
                                     const ArchiveLimits& limits = {}) {
    bytes = MakeZip(entries, tmp.path());
    return ArchiveFiles::FromBytes(bytes.data(), bytes.size(), problem, limits);
  }
  std::string bytes;
};

TEST_F(Archive, NamesMatchAsInAFolder) {
  std::string problem;
  auto a = Open({{"main.ove", "image"}, {"Pics/Tiles.PNG", "png"}, {"empty/", ""}}, problem);
  ASSERT_TRUE(a) << problem;
  EXPECT_EQ(ReadFd(a->Open("MAIN.OVE")), "image");
  EXPECT_EQ(ReadFd(a->Open("pics\\tiles.png")), "png");
  EXPECT_EQ(ReadFd(a->Open("./pics//tiles.png")), "png");
  EXPECT_EQ(a->Open("../main.ove"), -1);
  EXPECT_EQ(a->Open("/main.ove"), -1);
  EXPECT_EQ(a->Open("pics"), -1);
  ProgramEntry e;
  ASSERT_TRUE(a->Find("PICS", e));
  EXPECT_TRUE(e.folder);
  ASSERT_TRUE(a->Find("empty", e));
  EXPECT_TRUE(e.folder);
  ASSERT_TRUE(a->Find("pics/tiles.png", e));
  EXPECT_EQ(e.size, 3);
  EXPECT_FALSE(e.writable);
  std::vector<ProgramListing> top;
  ASSERT_TRUE(a->List("", top));
  std::vector<std::string> names;
  for (auto& item : top) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"empty", "main.ove", "Pics"}));
  // A descriptor of the archive cannot be written through.
  const int fd = a->Open("main.ove");
  EXPECT_EQ(write(fd, "x", 1), -1);
  close(fd);
  // Libraries that open paths get an extracted copy, removed with the archive.
  const std::string path = a->PathOf("pics/tiles.png");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(ReadBytes(path), "png");
  a.reset();
  EXPECT_FALSE(PathExists(path));
}

TEST_F(Archive, HostileArchivesAreRefusedWithAReason) {
  const struct Case {
    std::vector<Entry> entries;
    const char* reason;
  } cases[] = {
      {{{"../escape", "x"}}, "outside the archive"},
      {{{"a/../../escape", "x"}}, "outside the archive"},
      {{{"/etc/passwd", "x"}}, "outside the archive"},
      {{{"C:/x", "x"}}, "outside the archive"},
      {{{"link", "/etc/passwd", S_IFLNK | 0777}}, "link"},
      {{{"fifo", "", S_IFIFO | 0644}}, "special file"},
      {{{"Main.ove", "a"}, {"main.OVE", "b"}}, "differ only in case"},
      {{{"pics", "a"}, {"PICS/x.png", "b"}}, "both a file and a folder"},
      {{{"a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q", "deep"}}, "deeper"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_FALSE(Open(c.entries, problem)) << c.entries[0].name;
    EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
  }
}

TEST_F(Archive, BombsAreRefusedBeforeAnythingIsRead) {
  std::string problem;
  ArchiveLimits small;
  small.entries = 10;
  std::vector<Entry> many;
  for (int i = 0; i < 11; ++i) many.push_back({"f" + std::to_string(i), "x"});
  EXPECT_FALSE(Open(many, problem, small));
  EXPECT_NE(problem.find("more than 10 entries"), std::string::npos) << problem;
  // A megabyte of zeros deflates to a kilobyte: its declared size gives it away.
  const std::string zeros(1 << 20, '\0');
  small = {};
  small.entrySize = 1 << 19;
  EXPECT_FALSE(Open({{"zeros", zeros}}, problem, small));
  EXPECT_NE(problem.find("declares 1048576 bytes"), std::string::npos) << problem;
  small = {};
  small.totalSize = 3 << 19;
  EXPECT_FALSE(Open({{"a", zeros}, {"b", zeros}}, problem, small));
  EXPECT_NE(problem.find("declare more than"), std::string::npos) << problem;
}

TEST_F(Archive, EveryCutOrDamageIsRefusedOrReadsBackIntact) {
  std::string problem;
  std::string payload;
  std::mt19937 random(26);
  for (int i = 0; i < 5000; ++i) payload += static_cast<char>('a' + random() % 7);
  ASSERT_TRUE(Open({{"orvo-game.json", "{\"name\":\"g\"}"}, {"main.ove", payload}}, problem));
  const std::string whole = bytes;
  auto check = [&](const std::string& damaged, const std::string& what) {
    std::string why;
    auto a = ArchiveFiles::FromBytes(damaged.data(), damaged.size(), why);
    if (!a) {
      EXPECT_FALSE(why.empty()) << what;
      return;
    }
    std::string read;
    if (a->Read("main.ove", read)) {
      EXPECT_EQ(read, payload) << what;
    }
  };
  for (size_t cut = 0; cut < whole.size(); cut += 7) check(whole.substr(0, cut), "cut");
  for (int i = 0; i < 400; ++i) {
    std::string damaged = whole;
    damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    check(damaged, "flipped byte");
  }
}

TEST(Manifest, GarbageIsRefusedAndANameMustNameOneFolder) {
  Manifest m;
  std::string problem;
  for (const char* garbage :
       {"", "\xff\xfe", "[]", "null", "{\"name\": 5}", "{\"name\": \"\"}", "{\"name\": \"..\"}",
        "{\"name\": \"a/b\"}", "{\"name\": \".hidden\"}", "{\"name\": \"x\", \"icon\": []}",
        "{\"name\": \"x\"", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["}) {
    EXPECT_FALSE(ParseManifest(garbage, m, problem)) << garbage;
    EXPECT_FALSE(problem.empty());
  }
  ASSERT_TRUE(ParseManifest(WriteManifest({"Mines 2", "Mines", "icon.png"}), m, problem));
  EXPECT_EQ(m.name, "Mines 2");
  EXPECT_EQ(m.title, "Mines");
  EXPECT_EQ(m.icon, "icon.png");
}

TEST_F(Archive, IsTheProgramFolderUnderTheDataFolder) {
  std::string problem;
  auto a = Open({{"main.ove", "installed"}, {"save.dat", "old"}, {"maps/one.txt", "1"}}, problem);
  ASSERT_TRUE(a) << problem;
  FileService fs;
  fs.folders.program = tmp.path() + "game.orvo/";
  fs.folders.data = tmp.path() + "data/";
  std::filesystem::create_directories(fs.folders.data);
  fs.archive = std::move(a);
  OpenFileState f;
  ASSERT_TRUE(OpenFile(fs, "SAVE.DAT", OPEN_BINARY, f));
  EXPECT_EQ(ReadFd(f.fd), "old");
  EXPECT_EQ(FileSize(fs, "maps/ONE.txt"), 1);
  // Opening for writing copies the installed file into the data folder first.
  ASSERT_TRUE(OpenFile(fs, "save.dat", OPEN_BINARY | OPEN_WRITE | OPEN_APPEND, f));
  ASSERT_EQ(WriteFile(f, reinterpret_cast<const uint8_t*>("+new"), 4), 4);
  ASSERT_TRUE(CloseFile(fs, f));
  EXPECT_EQ(ReadBytes(fs.folders.data + "save.dat"), "old+new");
  ASSERT_TRUE(OpenFile(fs, "save.dat", OPEN_BINARY, f));
  EXPECT_EQ(ReadFd(f.fd), "old+new");
  // Deleting reaches the data folder only; the archive keeps its file.
  RemoveFile(fs, "save.dat");
  ASSERT_TRUE(OpenFile(fs, "save.dat", OPEN_BINARY, f));
  EXPECT_EQ(ReadFd(f.fd), "old");
  // The listing: the data folder's names, then the archive's, read-only.
  WriteBytes(fs.folders.data + "notes.txt", "n");
  ListEntry e;
  std::vector<std::string> listed;
  for (bool more = ListFirst(fs, "*.*", e); more; more = ListNext(fs, e))
    if (e.name[0] != '.') listed.push_back(e.name + (e.attributes & ATTR_READONLY ? " ro" : ""));
  EXPECT_EQ(listed, (std::vector<std::string>{"notes.txt", "main.ove ro", "maps ro", "save.dat ro"}));
  EXPECT_FALSE(ResolveInstalledFile(fs, "maps", problem));
  std::string path;
  ASSERT_TRUE(ResolveInstalledFile(fs, "maps/one.txt", path));
  EXPECT_EQ(ReadBytes(path), "1");
}

TEST_F(Archive, AGameArchiveNeedsAUsableManifest) {
  const std::string path = tmp.path() + "game.orvo";
  const struct Case {
    std::vector<Entry> entries;
    const char* said;
  } cases[] = {
      {{{"main.ove", "x"}}, "it has no orvo-game.json"},
      {{{"orvo-game.json", "\x01garbage"}}, "its orvo-game.json cannot be used: it is not a JSON"},
      {{{"orvo-game.json", "{\"name\": \"../up\"}"}}, "cannot be used: its \"name\""},
      {{{"orvo-game.json/", ""}}, "it has no orvo-game.json"},
  };
  for (const Case& c : cases) {
    WriteBytes(path, MakeZip(c.entries, tmp.path()));
    host::OpenedGame game;
    std::string problem;
    EXPECT_FALSE(host::OpenGameArchive({path, 0, ""}, game, problem));
    EXPECT_EQ(problem.rfind("The game archive " + path + " cannot be run: ", 0), 0u) << problem;
    EXPECT_NE(problem.find(c.said), std::string::npos) << problem;
    EXPECT_FALSE(game.files);
  }
  WriteBytes(path, MakeZip({{"orvo-game.json", "{\"name\": \"Mines 2\"}"}}, tmp.path()));
  host::OpenedGame game;
  std::string problem;
  ASSERT_TRUE(host::OpenGameArchive({path, 0, ""}, game, problem)) << problem;
  EXPECT_EQ(game.manifest.name, "Mines 2");
}

TEST_F(Archive, AnArchiveAfterAnExecutableIsFoundWhereTheImageEnds) {
  const std::string self = ReadBytes("/proc/self/exe");
  const std::string zip = MakeZip({{"orvo-game.json", "{\"name\": \"g\"}"}, {"main.ove", "m"}},
                                  tmp.path());
  const std::string joined = tmp.path() + "joined";
  WriteBytes(joined, self + zip);
  const int fd = open(joined.c_str(), O_RDONLY);
  const uint64_t image = host::ElfImageSize(fd);
  close(fd);
  EXPECT_EQ(image, self.size());
  host::OpenedGame game;
  std::string problem;
  ASSERT_TRUE(host::OpenGameArchive({joined, image, ""}, game, problem)) << problem;
  // Cut short, it names the executable and opens nothing.
  WriteBytes(joined, self + zip.substr(0, zip.size() - 30));
  EXPECT_FALSE(host::OpenGameArchive({joined, image, ""}, game, problem));
  EXPECT_EQ(problem.rfind("The game appended to " + joined + " cannot be run: ", 0), 0u) << problem;
}

}  // namespace
}  // namespace orvo::services::test
