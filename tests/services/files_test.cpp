// The file service on real folders: the overlay of installation and data folder, name
// matching, descriptors, line-end translation, listings, times and base64.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "gfx/picture.h"
#include "gfx/surface.h"
#include "services/path.h"
#include "tests/services/files_test_support.h"

namespace orvo::services::test {
namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr uint32_t kBinaryRead = 0x8000;
constexpr uint32_t kBinaryWrite = 0x8001;
constexpr uint32_t kBinaryCreate = 0x8301;  // binary, create, truncate, write-only
constexpr uint32_t kBinaryAppend = 0x8109;  // binary, create, append, write-only
constexpr uint32_t kTextCreate = 0x4301;    // text, create, truncate, write-only

class FilesTest : public ::testing::Test {
 protected:
  Folders2 dirs;
  ServicesVm vm{&dirs};

  uint32_t Open(std::string_view name, uint32_t flags) {
    return vm.Files(SYS_FOPEN, {vm.Put(name), flags});
  }
  std::string Read(uint32_t fd, uint32_t count, uint32_t* result = nullptr) {
    uint32_t buffer = vm.Buffer(count + 1);
    uint32_t n = vm.Files(SYS_FREAD, {fd, buffer, count});
    if (result) *result = n;
    return n == kFail ? std::string() : vm.Bytes(buffer, n);
  }
  uint32_t Write(uint32_t fd, std::string_view bytes) {
    uint32_t buffer = vm.Put(bytes);
    return vm.Files(SYS_FWRITE, {fd, buffer, static_cast<uint32_t>(bytes.size())});
  }
  void Close(uint32_t fd) { vm.Files(SYS_FCLOSE, {fd}); }
  std::string User(std::string_view name) { return dirs.user + std::string(name); }
  std::string Install(std::string_view name) { return dirs.install + std::string(name); }
};

// --- The overlay --------------------------------------------------------------------------

TEST_F(FilesTest, BinaryReadOfAnInstalledFileLeavesTheDataFolderAlone) {
  WriteBytes(Install("level.dat"), "installed");
  uint32_t fd = Open("level.dat", kBinaryRead);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Read(fd, 64), "installed");
  Close(fd);
  EXPECT_FALSE(PathExists(User("level.dat")));
}

TEST_F(FilesTest, FirstWriteWorksOnACopyThatLaterReadsSee) {
  WriteBytes(Install("score.txt"), "original");
  uint32_t fd = Open("score.txt", kBinaryWrite);  // no truncation: the copy is overwritten
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "NEW"), 3u);
  Close(fd);
  EXPECT_EQ(ReadBytes(Install("score.txt")), "original");
  EXPECT_EQ(ReadBytes(User("score.txt")), "NEWginal");
  fd = Open("score.txt", kBinaryRead);
  EXPECT_EQ(Read(fd, 64), "NEWginal");
  Close(fd);
}

TEST_F(FilesTest, AppendingToAnInstalledFileFollowsItsContent) {
  WriteBytes(Install("log.txt"), "one;");
  uint32_t fd = Open("log.txt", kBinaryAppend);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "two;"), 4u);
  Close(fd);
  fd = Open("log.txt", kBinaryAppend);
  EXPECT_EQ(Write(fd, "three"), 5u);
  Close(fd);
  EXPECT_EQ(ReadBytes(User("log.txt")), "one;two;three");
  EXPECT_EQ(ReadBytes(Install("log.txt")), "one;");
}

TEST_F(FilesTest, TheCopyKeepsTheInstalledModificationTime) {
  WriteBytes(Install("keep.dat"), "x");
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Install("keep.dat").c_str(), times, 0), 0);
  uint32_t fd = Open("keep.dat", 0x0000);  // text read-only also works on the private copy
  ASSERT_NE(fd, kFail);
  Close(fd);
  struct stat st;
  ASSERT_EQ(stat(User("keep.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}

TEST_F(FilesTest, WritingANestedNameCreatesEveryMissingFolder) {
  uint32_t fd = Open("x/y/z.dat", kBinaryCreate);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "deep"), 4u);
  Close(fd);
  EXPECT_EQ(ReadBytes(User("x/y/z.dat")), "deep");
  fd = Open("x\\y\\w\\v.dat", kBinaryCreate);  // backslashes separate too
  ASSERT_NE(fd, kFail);
  Close(fd);
  EXPECT_TRUE(PathExists(User("x/y/w/v.dat")));
  EXPECT_FALSE(PathExists(Install("x")));
}

TEST_F(FilesTest, ANameFoundNowhereIsNotCreatedByReading) {
  EXPECT_EQ(Open("missing.dat", kBinaryRead), kFail);
  EXPECT_FALSE(PathExists(User("missing.dat")));
  EXPECT_EQ(Open("missing.dat", kBinaryWrite), kFail);  // no create flag
}

TEST_F(FilesTest, DeletingRemovesTheNameFromBothFolders) {
  WriteBytes(Install("both.dat"), "i");
  WriteBytes(User("both.dat"), "u");
  vm.Files(SYS_FDELETE, {vm.Put("both.dat")});
  EXPECT_TRUE(vm.Unset());
  EXPECT_FALSE(PathExists(Install("both.dat")));
  EXPECT_FALSE(PathExists(User("both.dat")));
}

TEST_F(FilesTest, SizePrefersTheDataCopyAndRefusesFolders) {
  WriteBytes(Install("s.dat"), "12345");
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("s.dat")}), 5u);
  WriteBytes(User("s.dat"), "12");
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("s.dat")}), 2u);
  std::filesystem::create_directories(Install("folder"));
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("folder")}), kFail);
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("none")}), kFail);
  EXPECT_EQ(Open("folder", kBinaryRead), kFail);
}

// --- Names ----------------------------------------------------------------------------

TEST_F(FilesTest, NamesMatchWithoutRegardToCase) {
  WriteBytes(Install("Data/Level1.DAT"), "L1");
  uint32_t fd = Open("data/level1.dat", kBinaryRead);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Read(fd, 8), "L1");
  Close(fd);
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("DATA\\LEVEL1.dat")}), 2u);
  // Writing reuses the user's existing folder of another case; new parts keep their case.
  std::filesystem::create_directories(User("Saves"));
  fd = Open("saves/Slot1.sav", kBinaryCreate);
  ASSERT_NE(fd, kFail);
  Close(fd);
  EXPECT_TRUE(PathExists(User("Saves/Slot1.sav")));
  EXPECT_FALSE(PathExists(User("saves")));
  // The copy of an installed file found by another case works as well.
  fd = Open("DATA/level1.dat", kBinaryAppend);
  ASSERT_NE(fd, kFail);
  Write(fd, "+");
  Close(fd);
  EXPECT_EQ(ReadBytes(User("DATA/level1.dat")), "L1+");
}

TEST_F(FilesTest, NamesThatClimbOutOfTheirFolderAreNotFound) {
  WriteBytes(dirs.root.path() + "outside.txt", "secret");
  WriteBytes(dirs.root.path() + "install2/x", "x");
  for (const char* name : {"../outside.txt", "..\\outside.txt", "a/../../outside.txt",
                           "/etc/passwd", "\\etc\\passwd", "C:\\outside.txt", ".."}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(name, kBinaryRead), kFail);
    EXPECT_EQ(Open(name, kBinaryCreate), kFail);
    EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put(name)}), kFail);
    vm.Files(SYS_FTIME, {vm.Put(name)});
    EXPECT_EQ(vm.Result(), ~uint64_t{0});
    vm.Files(SYS_FDELETE, {vm.Put(name)});
    vm.Reset();
  }
  EXPECT_EQ(ReadBytes(dirs.root.path() + "outside.txt"), "secret");
  EXPECT_EQ(vm.Files(SYS_FINDFIRST, {vm.Put("../*"), vm.Buffer(260), 0, 0}), kFail);
  WriteBytes(User("mine.txt"), "m");
  vm.Files(SYS_FRENAME, {vm.Put("mine.txt"), vm.Put("../stolen.txt")});
  EXPECT_FALSE(PathExists(dirs.root.path() + "stolen.txt"));
  EXPECT_EQ(vm.Files(SYS_MKDIR, {vm.Put("../made")}), 0u);
  EXPECT_FALSE(PathExists(dirs.root.path() + "made"));
  // Dots inside names are ordinary.
  WriteBytes(User("a..b"), "ok");
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("./a..b")}), 2u);
}

TEST_F(FilesTest, NamesTooLongForThePlatformAreNotFound) {
  // A name whose path in the data folder is exactly `length` bytes: levels of 200-byte
  // folder names and a last part that makes up the rest.
  auto nameOfPath = [&](size_t length) {
    const size_t total = length - dirs.user.size();
    std::string name;
    while (total - name.size() > 201) name += std::string(200, 'd') + "/";
    name += std::string(total - name.size(), 'f');
    EXPECT_EQ(dirs.user.size() + name.size(), length);
    return name;
  };
  // The longest path the platform takes (PATH_MAX counts the terminator) is usable.
  const std::string longest = nameOfPath(PATH_MAX - 1);
  uint32_t fd = Open(longest, kBinaryCreate);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "edge"), 4u);
  Close(fd);
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put(longest)}), 4u);
  vm.Reset();

  // One byte more, and a single part longer than a folder entry can be, are found
  // nowhere: no file, no size, no time (-1 in both halves), no folders made on the way.
  const std::string tooLong = nameOfPath(PATH_MAX);
  const std::string wideLeaf = "new/" + std::string(NAME_MAX + 1, 'w');
  std::string fresh = "fresh";  // every level new: none of them may be made
  while (dirs.user.size() + fresh.size() < PATH_MAX) fresh += "/" + std::string(200, 'n');
  for (const std::string& name : {tooLong, wideLeaf, fresh}) {
    SCOPED_TRACE(name.size());
    EXPECT_EQ(Open(name, kBinaryCreate), kFail);
    EXPECT_EQ(Open(name, kBinaryRead), kFail);
    EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put(name)}), kFail);
    vm.Files(SYS_FTIME, {vm.Put(name)});
    EXPECT_EQ(vm.Result(), ~uint64_t{0});
    EXPECT_EQ(vm.Files(SYS_MKDIR, {vm.Put(name)}), 0u);
    vm.Reset();
  }
  EXPECT_FALSE(PathExists(User("new")));
  EXPECT_FALSE(PathExists(User("fresh")));
  // The too long name shares every folder with the longest one; none gained an entry.
  size_t entries = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dirs.user)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, static_cast<size_t>(std::count(longest.begin(), longest.end(), '/')) + 1);
}

TEST(PathTest, WildcardsFollowTheWindowsRules) {
  EXPECT_TRUE(WildcardMatch("*.sav", "Game.SAV"));
  EXPECT_FALSE(WildcardMatch("*.sav", "game.sav.bak"));
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("*.*", "a.b.c"));
  EXPECT_TRUE(WildcardMatch("level?.dat", "LEVEL7.dat"));
  EXPECT_FALSE(WildcardMatch("level?.dat", "level.dat"));
  EXPECT_TRUE(WildcardMatch("?.txt", "\xC3\xA9.txt"));  // one character, two bytes
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXXbYYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXXbYY"));
  EXPECT_TRUE(WildcardMatch("save.*", "save"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_FALSE(WildcardMatch("", "x"));
}

// --- Descriptors ----------------------------------------------------------------------

TEST_F(FilesTest, OnlyDescriptorsTheProgramOpenedAreServed) {
  const int runtimeOwn = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(runtimeOwn, 0);
  for (uint32_t fd : {0u, 1u, 2u, static_cast<uint32_t>(runtimeOwn), 12345u, kFail}) {
    SCOPED_TRACE(fd);
    EXPECT_EQ(vm.Files(SYS_FEOF, {fd}), kFail);
    uint32_t result = 0;
    Read(fd, 4, &result);
    EXPECT_EQ(result, kFail);
    EXPECT_EQ(Write(fd, "x"), kFail);
    EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 0, 0}), kFail);
    EXPECT_EQ(vm.Files(SYS_FBASE64, {fd, vm.Put("abc"), 3}), kFail);
    Close(fd);
    vm.Reset();
  }
  // Closing the runtime's descriptor through the program did nothing.
  EXPECT_NE(fcntl(runtimeOwn, F_GETFD), -1);
  close(runtimeOwn);

  WriteBytes(User("f.dat"), "abc");
  uint32_t fd = Open("f.dat", kBinaryRead);
  ASSERT_NE(fd, kFail);
  Close(fd);
  uint32_t result = 0;
  Read(fd, 3, &result);
  EXPECT_EQ(result, kFail) << "a closed descriptor is no longer the program's";
}

TEST_F(FilesTest, SeekAndEndTest) {
  // 0x8303 is not a flag word one can open: write-only and read-write at once.
  EXPECT_EQ(Open("other.dat", 0x8303), kFail);
  uint32_t fd = Open("seek.dat", 0x8302);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "0123456789"), 10u);
  EXPECT_EQ(vm.Files(SYS_FEOF, {fd}), 1u);
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 3, 0}), 3u);
  EXPECT_EQ(vm.Files(SYS_FEOF, {fd}), 0u);
  EXPECT_EQ(Read(fd, 2), "34");
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 2, 1}), 7u);
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, static_cast<uint32_t>(-4), 2}), 6u);
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, static_cast<uint32_t>(-20), 0}), kFail);
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 0, 3}), kFail);
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 0, 1}), 6u) << "failed seeks do not move";
  Close(fd);
}

TEST_F(FilesTest, TextModeTranslatesLineEndsBothWays) {
  uint32_t fd = Open("t.txt", kTextCreate);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "a\nb\n\nc"), 6u) << "the result counts the program's bytes";
  Close(fd);
  EXPECT_EQ(ReadBytes(User("t.txt")), "a\r\nb\r\n\r\nc");

  WriteBytes(User("r.txt"), "ab\r\ncd\rx\r\r\n");
  fd = Open("r.txt", 0x0000);  // neither text nor binary: text
  ASSERT_NE(fd, kFail);
  // A read that ends on the CR of a pair takes the LF with it.
  EXPECT_EQ(Read(fd, 3), "ab\n");
  EXPECT_EQ(Read(fd, 64), "cd\rx\r\n") << "a lone CR stays";
  Close(fd);

  fd = Open("r.txt", 0x4000);
  // A count is of bytes in the file: the pair read as one LF makes the result shorter.
  EXPECT_EQ(Read(fd, 5), "ab\nc");
  EXPECT_EQ(Read(fd, 1), "d");
  // A CR at the end of the buffer that is not part of a pair is handed out, and the byte
  // after it is read again next time.
  EXPECT_EQ(Read(fd, 1), "\r");
  EXPECT_EQ(Read(fd, 1), "x");
  EXPECT_EQ(Read(fd, 1), "\r");
  EXPECT_EQ(Read(fd, 2), "\n");
  EXPECT_EQ(vm.Files(SYS_FEOF, {fd}), 1u);
  Close(fd);

  fd = Open("r.txt", kBinaryRead);
  EXPECT_EQ(Read(fd, 64), "ab\r\ncd\rx\r\r\n");
  Close(fd);
}

// --- Listing --------------------------------------------------------------------------

struct Listed {
  std::string name;
  uint32_t attributes, source;
  bool operator==(const Listed&) const = default;
};

class ListingTest : public FilesTest {
 protected:
  std::vector<Listed> List(std::string_view pattern) {
    std::vector<Listed> out;
    uint32_t name = vm.Buffer(260), attr = vm.Buffer(4), source = vm.Buffer(4);
    uint32_t r = vm.Files(SYS_FINDFIRST, {vm.Put(pattern), name, attr, source});
    while (r == 0) {
      out.push_back({vm.Text(name), vm.Word(attr), vm.Word(source)});
      r = vm.Files(SYS_FINDNEXT, {name, attr, source});
    }
    EXPECT_EQ(r, kFail);
    vm.Reset();
    return out;
  }
};

TEST_F(ListingTest, DataEntriesComeFirstAndHideInstalledOnes) {
  WriteBytes(Install("a.sav"), "i");
  WriteBytes(Install("b.sav"), "i");
  WriteBytes(User("a.sav"), "u");
  WriteBytes(User("notes.txt"), "u");
  std::vector<Listed> want = {{"a.sav", ATTR_ARCHIVE, SOURCE_DATA},
                              {"b.sav", ATTR_ARCHIVE, SOURCE_PROGRAM}};
  EXPECT_EQ(List("*.sav"), want);
  // Same-named entries in another case are one entry too; the user's spelling wins.
  WriteBytes(Install("C.SAV"), "i");
  WriteBytes(User("c.sav"), "u");
  want = {{"a.sav", ATTR_ARCHIVE, SOURCE_DATA},
          {"c.sav", ATTR_ARCHIVE, SOURCE_DATA},
          {"b.sav", ATTR_ARCHIVE, SOURCE_PROGRAM}};
  EXPECT_EQ(List("*.SAV"), want);
}

TEST_F(ListingTest, AttributesAndTheFoldersOwnEntries) {
  std::filesystem::create_directories(Install("maps"));
  WriteBytes(Install("README"), "r");
  WriteBytes(Install(".hidden"), "h");
  WriteBytes(Install("locked.dat"), "l");
  chmod(Install("locked.dat").c_str(), 0444);
  std::vector<Listed> got = List("*.*");
  std::set<std::string> names;
  const std::map<std::string, uint32_t> want = {{"maps", ATTR_FOLDER},
                                                {"README", ATTR_ARCHIVE},
                                                {".hidden", ATTR_ARCHIVE | ATTR_HIDDEN},
                                                {"locked.dat", ATTR_ARCHIVE | ATTR_READONLY},
                                                {".", ATTR_FOLDER | ATTR_HIDDEN},
                                                {"..", ATTR_FOLDER | ATTR_HIDDEN}};
  for (const Listed& e : got) {
    EXPECT_TRUE(names.insert(e.name).second) << e.name << " listed twice";
    auto it = want.find(e.name);
    ASSERT_NE(it, want.end()) << e.name;
    EXPECT_EQ(e.attributes, it->second) << e.name;
    // The folder's own entries come from the data folder, which is listed first.
    EXPECT_EQ(e.source, e.name[0] == '.' && e.name.size() <= 2 ? SOURCE_DATA : SOURCE_PROGRAM)
        << e.name;
  }
  EXPECT_EQ(names, (std::set<std::string>{".", "..", ".hidden", "locked.dat", "maps", "README"}));
}

TEST_F(ListingTest, PatternsInSubfoldersAndSortedOrder) {
  WriteBytes(Install("Saves/zeta.dat"), "");
  WriteBytes(Install("Saves/Alpha.dat"), "");
  WriteBytes(Install("Saves/beta.txt"), "");
  WriteBytes(User("saves/Gamma.dat"), "");
  std::vector<Listed> got = List("SAVES\\*.dat");
  std::vector<Listed> want = {{"Gamma.dat", ATTR_ARCHIVE, SOURCE_DATA},
                              {"Alpha.dat", ATTR_ARCHIVE, SOURCE_PROGRAM},
                              {"zeta.dat", ATTR_ARCHIVE, SOURCE_PROGRAM}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(List("nothing/*").empty());
  EXPECT_TRUE(List("Saves/").empty());
}

TEST_F(ListingTest, ClosingAndRestartingAndOptionalAddresses) {
  WriteBytes(Install("one.x"), "");
  WriteBytes(Install("two.x"), "");
  uint32_t name = vm.Buffer(260);
  uint32_t guard = vm.Buffer(8);
  vm::Store32(vm.m.mem + guard, 0x12345678);
  EXPECT_EQ(vm.Files(SYS_FINDFIRST, {vm.Put("*.x"), name, 0, 0}), 0u);
  EXPECT_EQ(vm.Text(name), "one.x");
  EXPECT_EQ(vm.Word(guard), 0x12345678u);
  vm.Files(SYS_FINDCLOSE, {});
  EXPECT_TRUE(vm.Unset());
  EXPECT_EQ(vm.Files(SYS_FINDNEXT, {name, 0, 0}), kFail);
  // A new listing replaces the old one.
  EXPECT_EQ(vm.Files(SYS_FINDFIRST, {vm.Put("two.*"), name, 0, 0}), 0u);
  EXPECT_EQ(vm.Files(SYS_FINDFIRST, {vm.Put("*.x"), name, 0, 0}), 0u);
  EXPECT_EQ(vm.Files(SYS_FINDNEXT, {name, 0, 0}), 0u);
  EXPECT_EQ(vm.Text(name), "two.x");
  EXPECT_EQ(vm.Files(SYS_FINDNEXT, {name, 0, 0}), kFail);
}

TEST_F(ListingTest, OneFolderServingAsBothIsListedOnce) {
  ServicesVm same;
  same.files().folders = {dirs.install, dirs.install};
  WriteBytes(Install("only.dat"), "");
  uint32_t name = same.Buffer(260), source = same.Buffer(4);
  ASSERT_EQ(same.Files(SYS_FINDFIRST, {same.Put("*.dat"), name, 0, source}), 0u);
  EXPECT_EQ(same.Word(source), SOURCE_PROGRAM);
  EXPECT_EQ(same.Files(SYS_FINDNEXT, {name, 0, source}), kFail);
}

// --- Times, folders, renaming ---------------------------------------------------------

TEST_F(FilesTest, ModificationTimesAreFull64BitValues) {
  WriteBytes(Install("old.dat"), "");
  WriteBytes(Install("y2038.dat"), "");
  WriteBytes(Install("far.dat"), "");
  auto setTime = [](const std::string& path, time_t t) {
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  setTime(Install("old.dat"), 1700000000);
  setTime(Install("y2038.dat"), 0x80000000);   // 2038-01-19, past the 31-bit range
  setTime(Install("far.dat"), 0x100000005LL);  // 2106
  vm.Files(SYS_FTIME, {vm.Put("old.dat")});
  EXPECT_EQ(vm.Result(), 1700000000u);
  vm.Files(SYS_FTIME, {vm.Put("y2038.dat")});
  EXPECT_EQ(vm.Result(), 0x80000000u) << "not sign-extended";
  vm.Files(SYS_FTIME, {vm.Put("far.dat")});
  EXPECT_EQ(vm.Result(), 0x100000005u);
  WriteBytes(User("far.dat"), "");
  setTime(User("far.dat"), 12345);
  vm.Files(SYS_FTIME, {vm.Put("FAR.DAT")});
  EXPECT_EQ(vm.Result(), 12345u) << "the data folder's copy comes first";
  vm.Files(SYS_FTIME, {vm.Put("absent.dat")});
  EXPECT_EQ(vm.Result(), ~uint64_t{0});
}

TEST_F(FilesTest, FoldersAreMadeAndRemovedInTheDataFolderOnly) {
  EXPECT_EQ(vm.Files(SYS_MKDIR, {vm.Put("levels")}), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(User("levels")));
  EXPECT_EQ(vm.Files(SYS_MKDIR, {vm.Put("levels")}), 0u) << "already there";
  EXPECT_EQ(vm.Files(SYS_MKDIR, {vm.Put("a/b")}), 0u) << "one level at a time";
  std::filesystem::create_directories(Install("shipped"));
  vm.Files(SYS_RMDIR, {vm.Put("shipped")});
  EXPECT_TRUE(vm.Unset());
  EXPECT_TRUE(PathExists(Install("shipped")));
  vm.Files(SYS_RMDIR, {vm.Put("LEVELS")});
  EXPECT_FALSE(PathExists(User("levels")));
}

TEST_F(FilesTest, RenamingNeverReplacesAnExistingFile) {
  WriteBytes(User("a.sav"), "A");
  WriteBytes(User("b.sav"), "B");
  vm.Files(SYS_FRENAME, {vm.Put("a.sav"), vm.Put("b.sav")});
  EXPECT_TRUE(vm.Unset());
  EXPECT_EQ(ReadBytes(User("a.sav")), "A");
  EXPECT_EQ(ReadBytes(User("b.sav")), "B");
  vm.Files(SYS_FRENAME, {vm.Put("A.SAV"), vm.Put("c.sav")});
  EXPECT_FALSE(PathExists(User("a.sav")));
  EXPECT_EQ(ReadBytes(User("c.sav")), "A");
  // A change of case only renames the file itself.
  vm.Files(SYS_FRENAME, {vm.Put("c.sav"), vm.Put("C.Sav")});
  EXPECT_EQ(ReadBytes(User("C.Sav")), "A");
  EXPECT_FALSE(PathExists(User("c.sav")));
  // An installed file is not the program's to rename.
  WriteBytes(Install("shipped.dat"), "S");
  vm.Files(SYS_FRENAME, {vm.Put("shipped.dat"), vm.Put("mine.dat")});
  EXPECT_TRUE(PathExists(Install("shipped.dat")));
  EXPECT_FALSE(PathExists(User("mine.dat")));
}

// --- Base64 ---------------------------------------------------------------------------

std::string DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
  };
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = value(c);
    if (v < 0) break;
    bits = bits << 6 | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

TEST_F(FilesTest, Base64WritesPaddedGroups) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "YWJj"},        {"ab", "YWI="},
      {"a", "YQ=="},          {"", ""},
      {"foob", "Zm9vYg=="},   {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {std::string("\xFF\xFE\x00", 3), "//4A"}};
  for (const auto& [in, out] : cases) {
    uint32_t fd = Open("b64.txt", kBinaryCreate);
    ASSERT_NE(fd, kFail);
    uint32_t buffer = vm.Buffer(8);
    std::memcpy(vm.m.mem + buffer, in.data(), in.size());
    EXPECT_EQ(vm.Files(SYS_FBASE64, {fd, buffer, static_cast<uint32_t>(in.size())}), out.size());
    Close(fd);
    EXPECT_EQ(ReadBytes(User("b64.txt")), out);
    vm.Reset();
  }
  // A long buffer goes out in several writes; nothing is lost between them.
  std::string big(3 * 4096 * 2 + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 8));
  uint32_t fd = Open("big.txt", kBinaryCreate | OPEN_APPEND);
  uint32_t buffer = vm.Buffer(static_cast<uint32_t>(big.size()));
  std::memcpy(vm.m.mem + buffer, big.data(), big.size());
  const uint32_t n = vm.Files(SYS_FBASE64, {fd, buffer, static_cast<uint32_t>(big.size())});
  Close(fd);
  const std::string text = ReadBytes(User("big.txt"));
  EXPECT_EQ(n, text.size());
  EXPECT_EQ(text.size(), (big.size() + 2) / 3 * 4);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(DecodeBase64(text), big);
}

// --- Checked addresses and unknown rows -----------------------------------------------

TEST_F(FilesTest, BadAddressesStopTheProgram) {
  {
    ServicesVm v(&dirs);
    v.m.mem[v.m.memSize - 2] = 'a';
    v.m.mem[v.m.memSize - 1] = 'b';
    v.Files(SYS_FOPEN, {v.m.memSize - 2, kBinaryRead});  // a name that runs off the end
    EXPECT_TRUE(v.Stopped());
    ASSERT_EQ(v.hooks.messages.size(), 1u);
    EXPECT_EQ(v.hooks.messages[0], FaultMessage(v.m.memSize - 2));
    EXPECT_TRUE(v.Unset());
  }
  {
    WriteBytes(User("r.dat"), "0123456789");
    ServicesVm v(&dirs);
    uint32_t fd = v.Files(SYS_FOPEN, {v.Put("r.dat"), kBinaryRead});
    v.Files(SYS_FREAD, {fd, v.m.memSize - 4, 8});
    EXPECT_TRUE(v.Stopped());
    EXPECT_EQ(v.hooks.messages.at(0), FaultMessage(v.m.memSize - 4));
  }
  {
    WriteBytes(Install("long-name.dat"), "");
    ServicesVm v(&dirs);
    // The name needs 14 bytes; only 8 are left.
    v.Files(SYS_FINDFIRST, {v.Put("long*"), v.m.memSize - 8, 0, 0});
    EXPECT_TRUE(v.Stopped());
  }
  {
    ServicesVm v(&dirs);
    v.Files(SYS_FINDFIRST, {v.Put("long*"), v.Buffer(260), v.m.memSize - 2, 0});
    EXPECT_TRUE(v.Stopped()) << "the attribute word is checked too";
  }
}

TEST_F(FilesTest, RowsBeyondFifteenAreUnknown) {
  vm.Files(16, {});
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_EQ(vm.hooks.messages[0], vm::Format("Unknown SYS command at 0x%8.8lX. Ack!",
                                             static_cast<unsigned long>(kSysAt)));
  EXPECT_FALSE(vm.Stopped());
}

// --- The runtime's own files ----------------------------------------------------------

TEST_F(FilesTest, RuntimeStreamsUseTheOverlay) {
  WriteBytes(Install("main.ove"), "installed image");
  std::FILE* f = OpenForRuntime(vm.files(), "MAIN.OVE", "rb");
  ASSERT_NE(f, nullptr);
  char text[32] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 15u);
  std::fclose(f);
  EXPECT_STREQ(text, "installed image");
  WriteBytes(User("main.ove"), "user image");
  f = OpenForRuntime(vm.files(), "main.ove", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fread(text, 1, sizeof text, f), 10u);
  std::fclose(f);

  f = OpenForRuntime(vm.files(), "pics/shot.bmp", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fwrite("picture", 1, 7, f), 7u);
  EXPECT_FALSE(PathExists(User("pics/shot.bmp"))) << "the target appears only when closed";
  EXPECT_EQ(std::fclose(f), 0);
  EXPECT_EQ(ReadBytes(User("pics/shot.bmp")), "picture");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(User("pics")),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file is left";

  AppendDebugLog(vm.files(), "line 1\n");
  AppendDebugLog(vm.files(), "line 2\n");
  EXPECT_EQ(ReadBytes(User("debug.log")), "line 1\nline 2\n");
  EXPECT_EQ(OpenForRuntime(vm.files(), "../x", "wb"), nullptr);
}

TEST_F(FilesTest, AFailedReplacementKeepsThePreviousFile) {
  WriteBytes(User("keep.bin"), "previous content");
  std::FILE* f = OpenForRuntime(vm.files(), "keep.bin", "wb");
  ASSERT_NE(f, nullptr);
  {
    FileSizeLimit limit(4096);
    std::string big(100000, 'x');
    std::fwrite(big.data(), 1, big.size(), f);
    EXPECT_NE(std::fclose(f), 0) << "the failure is reported by the close";
  }
  EXPECT_EQ(ReadBytes(User("keep.bin")), "previous content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dirs.user),
                          std::filesystem::directory_iterator()),
            1);
}

// Pictures as the runtime opens them: through the overlay, with saves that replace a file
// only once the whole new picture is written.
TEST_F(FilesTest, PicturesGoThroughTheOverlayAndAFailedSaveKeepsTheOldFile) {
  gfx::Graphics g;
  ASSERT_TRUE(gfx::CreateScreen(g, 64, 48));
  g.openFile = [&](std::string_view name, const char* mode) {
    return OpenForRuntime(vm.files(), name, mode);
  };
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      vm::Store32(g.screen.bits + (y * 64 + x) * 4,
                  0x80000000u | uint32_t(x * 4) << 8 | uint32_t(y));
  const std::vector<uint8_t> header = gfx::BmpHeader(64, 48);
  const std::string bmp(header.begin(), header.end());

  // An installed picture: loaded from the installation (by another case), and a save of
  // that name goes to the data folder.
  WriteBytes(Install("Pics/Title.bmp"), "not replaced");
  EXPECT_EQ(gfx::SavePicture(g, vm.m, gfx::SURFACE_SCREEN, "pics/title.bmp", gfx::PICTURE_BMP), 1);
  EXPECT_EQ(ReadBytes(Install("Pics/Title.bmp")), "not replaced");
  const std::string saved = ReadBytes(User("pics/title.bmp"));
  ASSERT_EQ(saved.size(), 54u + 64 * 48 * 4);
  EXPECT_EQ(saved.substr(0, 54), bmp);
  const int32_t loaded = gfx::LoadPicture(g, vm.m, "PICS/TITLE.BMP");
  ASSERT_GT(loaded, 0);
  gfx::FreeSurface(vm.m, loaded);

  // A save that runs out of room fails and leaves the previous picture whole, for either
  // format, and no temporary file stays behind.
  {
    WriteBytes(User("pics/old.png"), "old png");
    FileSizeLimit limit(16);
    EXPECT_EQ(gfx::SavePicture(g, vm.m, gfx::SURFACE_SCREEN, "pics/title.bmp", gfx::PICTURE_BMP),
              0);
    EXPECT_EQ(gfx::SavePicture(g, vm.m, gfx::SURFACE_SCREEN, "pics/old.png", gfx::PICTURE_PNG), 0);
  }
  EXPECT_EQ(ReadBytes(User("pics/title.bmp")), saved);
  EXPECT_EQ(ReadBytes(User("pics/old.png")), "old png");
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(User("pics")))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"old.png", "title.bmp"}));
  // A name outside the folders is not written.
  EXPECT_EQ(gfx::SavePicture(g, vm.m, gfx::SURFACE_SCREEN, "../escape.png", gfx::PICTURE_PNG), 0);
  EXPECT_FALSE(PathExists(dirs.root.path() + "escape.png"));
  gfx::DeleteScreen(g);
}

TEST_F(FilesTest, LibraryStreamModes) {
  FileService& fs = vm.files();
  // "w+b": binary read-write without truncation, on the user's copy.
  WriteBytes(Install("inst.dat"), "abc\r\n");
  int32_t h = StreamOpen(fs, "inst.dat", "w+b");
  ASSERT_EQ(h, 1);
  EXPECT_EQ(StreamWrite(fs, "X", 1, 1, h), 1u);
  char buffer[8] = {};
  EXPECT_EQ(StreamRead(fs, buffer, 1, 8, h), 4u);
  EXPECT_EQ(std::string(buffer, 4), "bc\r\n");
  EXPECT_EQ(StreamClose(fs, h), 0);
  EXPECT_EQ(ReadBytes(User("inst.dat")), "Xbc\r\n");
  EXPECT_EQ(ReadBytes(Install("inst.dat")), "abc\r\n");
  // "wb" truncates; any other mode is the flag word 0: reading in text mode.
  h = StreamOpen(fs, "inst.dat", "wb");
  ASSERT_EQ(h, 1);
  EXPECT_EQ(StreamWrite(fs, "1\r\n2", 1, 4, h), 4u);
  EXPECT_EQ(StreamClose(fs, h), 0);
  EXPECT_EQ(ReadBytes(User("inst.dat")), "1\r\n2");
  h = StreamOpen(fs, "inst.dat", "r");
  ASSERT_EQ(h, 1);
  EXPECT_EQ(StreamRead(fs, buffer, 1, 8, h), 3u);
  EXPECT_EQ(std::string(buffer, 3), "1\n2");
  EXPECT_EQ(StreamClose(fs, h), 0);
  EXPECT_EQ(StreamOpen(fs, "nowhere.dat", "w+b"), 0) << "no create flag";
}

TEST_F(FilesTest, LibraryStreams) {
  FileService& fs = vm.files();
  WriteBytes(Install("lib.dat"), "0123456789");
  int32_t h = StreamOpen(fs, "lib.dat", "rb");
  ASSERT_EQ(h, 1);
  char buffer[8] = {};
  EXPECT_EQ(StreamRead(fs, buffer, 2, 2, h), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(StreamTell(fs, h), 4);
  EXPECT_EQ(StreamSeek(fs, h, -1, SEEK_END), 9);
  EXPECT_EQ(StreamEnd(fs, h), 0);
  EXPECT_EQ(StreamRead(fs, buffer, 1, 8, h), 1u);
  EXPECT_EQ(StreamEnd(fs, h), 1);
  EXPECT_EQ(StreamFlush(fs, h), 0);
  struct stat st;
  EXPECT_EQ(StreamStatus(fs, "LIB.DAT", &st), 0);
  EXPECT_EQ(st.st_size, 10);
  EXPECT_EQ(StreamStatus(fs, "none", &st), -1);

  // Eight slots; the ninth open finds none, and a failed open keeps its slot free.
  std::vector<int32_t> handles = {h};
  for (int i = 0; i < 7; ++i) handles.push_back(StreamOpen(fs, "lib.dat", "rb"));
  EXPECT_EQ(handles, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(StreamOpen(fs, "lib.dat", "rb"), 0);
  EXPECT_EQ(StreamClose(fs, 3), 0);
  EXPECT_EQ(StreamOpen(fs, "missing", "rb"), 0);
  EXPECT_EQ(StreamOpen(fs, "out.dat", "wb"), 3);
  EXPECT_EQ(StreamWrite(fs, "abcdef", 3, 2, 3), 6u);
  EXPECT_EQ(StreamReopen(fs, "out.dat", "rb", 3), 3);
  EXPECT_EQ(StreamRead(fs, buffer, 1, 8, 3), 6u);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  for (int32_t handle : handles) EXPECT_EQ(StreamClose(fs, handle), 0);
  EXPECT_EQ(StreamClose(fs, 1), -1);
  EXPECT_EQ(StreamRead(fs, buffer, 1, 1, 9), 0u);
  EXPECT_EQ(StreamRemove(fs, "out.dat"), 0);
  EXPECT_FALSE(PathExists(User("out.dat")));
}

}  // namespace
}  // namespace orvo::services::test
