// The settings store through its sys rows on a real machine and real files.
#include "tests/services/files_test_support.h"

namespace orvo::services::test {
namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;

// A section header as checksums see it: the 10-byte field all zero bytes.
std::string Section(std::string_view name) {
  std::string s = "[";
  s.append(10, '\0');
  s += '=';
  s.append(name);
  s += "]\r\n";
  return s;
}

// A section as the store holds it: its length (header and lines) in bytes 1-4, no mark.
std::string Stored(std::string_view name, std::string_view lines = "") {
  std::string s = Section(name);
  s.append(lines);
  const uint32_t length = static_cast<uint32_t>(s.size());
  for (int i = 0; i < 4; ++i) s[1 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return s;
}

class SettingsTest : public ::testing::Test {
 protected:
  Folders2 dirs;
  ServicesVm vm{&dirs};

  uint32_t Row(uint32_t row, const std::vector<uint32_t>& args) { return vm.Settings(row, args); }
  uint32_t Load(std::string_view name) { return Row(SET_LOAD, {vm.Put(name)}); }
  uint32_t Save(std::string_view name) { return Row(SET_SAVE, {vm.Put(name)}); }
  uint32_t AddSection(std::string_view name) { return Row(SET_ADD_SECTION, {vm.Put(name)}); }
  uint32_t FindSection(std::string_view name) { return Row(SET_FIND_SECTION, {vm.Put(name)}); }
  uint32_t FindKey(std::string_view key) { return Row(SET_FIND_KEY, {vm.Put(key)}); }
  uint32_t SetLine(std::string_view key, std::string_view text) {
    return Row(SET_SET_LINE, {vm.Put(key), vm.Put(text)});
  }
  uint32_t AddNumber(std::string_view key, int32_t v, uint32_t form = 0) {
    return Row(SET_ADD_NUMBER, {vm.Put(key), static_cast<uint32_t>(v), form});
  }
  uint32_t AddString(std::string_view key, std::string_view text) {
    return Row(SET_ADD_STRING, {vm.Put(key), vm.Put(text)});
  }
  // Row 5: the result and the word it stored.
  std::pair<uint32_t, uint32_t> ReadNumber() {
    uint32_t word = vm.Buffer(4);
    vm::Store32(vm.m.mem + word, 0xDEADBEEF);
    uint32_t r = Row(SET_READ_NUMBER, {word});
    return {r, vm.Word(word)};
  }
  // Rows 6, 11 and 16: the result and the text delivered.
  std::pair<int32_t, std::string> ReadInto(uint32_t row, int32_t size) {
    uint32_t d = vm.Buffer(size > 0 ? static_cast<uint32_t>(size) + 8 : 8);
    std::memset(vm.m.mem + d, 'Z', 8);
    int32_t r = static_cast<int32_t>(Row(row, {d, static_cast<uint32_t>(size)}));
    return {r, size > 0 ? vm.Text(d) : vm.Bytes(d, 1)};
  }
  std::string Memory() const {
    const SettingsStore& s = vm.hooks.settings;
    return std::string(reinterpret_cast<const char*>(s.buffer.get()), s.used - 1);
  }
  // A store that exists but is empty (the file is missing).
  void Empty() { EXPECT_EQ(Load("none.ini"), 0u); }
  std::string User(std::string_view name) { return dirs.user + std::string(name); }
};

// --- Checksums -------------------------------------------------------------------------

TEST(SettingsChecksum, WordsAndSignExtendedTail) {
  std::string a = Section("A");
  EXPECT_EQ(SectionChecksum(reinterpret_cast<const uint8_t*>(a.data()), a.size()), 0x470D5D9Cu);
  std::string opts = Section("Opts") + "a= 1\r\n";
  ASSERT_EQ(opts.size(), 25u);
  EXPECT_EQ(SectionChecksum(reinterpret_cast<const uint8_t*>(opts.data()), opts.size()),
            0x1EAF9E4Eu);
  // Three remaining bytes 0x01 0x80 0x02: 0x01, then (0x01 << 8) | 0xFFFFFF80, then that
  // shifted once more with 0x02 or'ed in.
  const uint8_t tail[] = {0x01, 0x80, 0x02};
  EXPECT_EQ(SectionChecksum(tail, 3), ((0x00000100u | 0xFFFFFF80u) << 8) | 0x02u);
  const uint8_t words[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0};
  EXPECT_EQ(SectionChecksum(words, 8), 1u) << "the sum wraps modulo 2^32";
}

TEST(SettingsNumbers, DecimalHexOctalAndWrapping) {
  auto parse = [](const char* text, bool& found, size_t& used) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    uint32_t v = ParseNumber(p, found);
    used = static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(text));
    return v;
  };
  bool found;
  size_t used;
  EXPECT_EQ(parse("1234,", found, used), 1234u);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(parse("0x1aF=", found, used), 0x1AFu);
  EXPECT_EQ(used, 5u);
  EXPECT_EQ(parse("0X470D5D9C", found, used), 0x470D5D9Cu);
  EXPECT_EQ(parse("0178", found, used), 017u) << "8 ends an octal number";
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(parse("0xg", found, used), 0u);
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(parse("4294967297", found, used), 1u);
  EXPECT_TRUE(found);
  EXPECT_EQ(parse("x1", found, used), 0u);
  EXPECT_FALSE(found);
  EXPECT_EQ(used, 0u);
}

// --- Load and save ---------------------------------------------------------------------

TEST_F(SettingsTest, AnEmptySectionSavesWithItsChecksumAndLoadsBack) {
  Empty();
  EXPECT_EQ(AddSection("A"), 1u);
  EXPECT_EQ(Memory(), Stored("A"));
  EXPECT_EQ(Save("s.ini"), 1u);
  EXPECT_EQ(ReadBytes(User("s.ini")), "[0x470D5D9C=A]\r\n");
  EXPECT_EQ(Memory(), Stored("A")) << "saving leaves the store as it was";

  ServicesVm fresh(&dirs);
  EXPECT_EQ(fresh.Settings(SET_LOAD, {fresh.Put("S.INI")}), 1u);
  const SettingsStore& s = fresh.hooks.settings;
  EXPECT_EQ(vm::Load32(s.buffer.get() + 1), 16u);
  EXPECT_EQ(s.buffer[5], 0) << "the checksum matched";
  EXPECT_EQ(s.used, 17u);
  EXPECT_EQ(s.capacity, 17u);
}

TEST_F(SettingsTest, ALineSavesWithTheChecksumOfItsSection) {
  Empty();
  AddSection("Opts");
  EXPECT_EQ(AddNumber("a", 1), 1u);
  EXPECT_EQ(Save("o.ini"), 1u);
  EXPECT_EQ(ReadBytes(User("o.ini")), "[0x1EAF9E4E=Opts]\r\na= 1\r\n");
}

TEST_F(SettingsTest, WrongChecksumsAreMarkedAndLoadedAnyway) {
  WriteBytes(
      User("m.ini"),
      "[0x00000001=One]\r\nx= 1\r\n[nonsense!!=Two]\r\ny= 2\r\n[0x1EAF9E4E=Opts]\r\na= 1\r\n");
  EXPECT_EQ(Load("m.ini"), 1u);
  const SettingsStore& s = vm.hooks.settings;
  const uint8_t* b = s.buffer.get();
  EXPECT_EQ(b[5], 1);
  const uint32_t one = vm::Load32(b + 1);
  EXPECT_EQ(one, 24u);
  EXPECT_EQ(b[one + 5], 1) << "a field that is no number";
  const uint32_t two = vm::Load32(b + one + 1);
  EXPECT_EQ(b[one + two + 5], 0);
  EXPECT_EQ(FindSection("Two"), 1u);
  EXPECT_EQ(FindKey("y"), 1u);
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 2u));
}

TEST_F(SettingsTest, ShortAndMissingFilesGiveAnEmptyStore) {
  WriteBytes(User("short.ini"), "[0x1=A]\r\n");  // 9 bytes
  EXPECT_EQ(Load("short.ini"), 0u);
  EXPECT_EQ(vm.hooks.settings.capacity, SETTINGS_SPARE);
  EXPECT_EQ(vm.hooks.settings.used, 1u);
  EXPECT_EQ(AddSection("New"), 1u) << "the empty store is usable";
  EXPECT_EQ(Load("missing.ini"), 0u);
  EXPECT_EQ(Memory(), "");
}

TEST_F(SettingsTest, AnInstalledFileIsReadWhenTheUserHasNone) {
  WriteBytes(dirs.install + "defaults.ini", "[0x470D5D9C=A]\r\n");
  EXPECT_EQ(Load("defaults.ini"), 1u);
  EXPECT_EQ(FindSection("A"), 1u);
  AddNumber("k", 3);
  EXPECT_EQ(Save("defaults.ini"), 1u);
  EXPECT_EQ(ReadBytes(dirs.install + "defaults.ini"), "[0x470D5D9C=A]\r\n");
  EXPECT_TRUE(PathExists(User("defaults.ini")));
  EXPECT_EQ(Load("defaults.ini"), 1u);
  EXPECT_EQ(FindKey("k"), 1u);
}

TEST_F(SettingsTest, TextBeforeTheFirstSectionIsLeftOut) {
  WriteBytes(User("lead.ini"), "\r\n\r\n  \t[0x470D5D9C=A]\r\nk= 4\r\n");
  EXPECT_EQ(Load("lead.ini"), 1u);
  EXPECT_EQ(Memory().substr(0, 1), "[");
  EXPECT_EQ(FindSection("A"), 1u);
  EXPECT_EQ(FindKey("k"), 1u);
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 4u));
  EXPECT_EQ(Save("lead.ini"), 1u);
  const std::string saved = ReadBytes(User("lead.ini"));
  EXPECT_EQ(saved.substr(0, 3), "[0x");
  EXPECT_EQ(saved.substr(11), "=A]\r\nk= 4\r\n");

  WriteBytes(User("junk.ini"), "no sections here at all\r\n");
  EXPECT_EQ(Load("junk.ini"), 1u);
  EXPECT_EQ(Memory(), "");
  EXPECT_EQ(FindSection("A"), 0u);
}

TEST_F(SettingsTest, ABracketInsideAValueStartsASectionOnLoad) {
  WriteBytes(User("b.ini"), "[0x00000000=A]\r\nk= x[0x00000000=B]\r\n");
  EXPECT_EQ(Load("b.ini"), 1u);
  const uint8_t* b = vm.hooks.settings.buffer.get();
  EXPECT_EQ(vm::Load32(b + 1), 20u) << "up to the '['";
  EXPECT_EQ(FindSection("B"), 1u);
  // A "[" with too few bytes after it for a header stays part of its section.
  WriteBytes(User("frag.ini"), "[0x470D5D9C=A]\r\nk= [y]\r\n");
  EXPECT_EQ(Load("frag.ini"), 1u);
  std::string marked = Stored("A", "k= [y]\r\n");
  marked[5] = 1;  // the stored checksum is that of the section without its line
  EXPECT_EQ(Memory(), marked);
  EXPECT_EQ(vm::Load32(vm.hooks.settings.buffer.get() + 1), 24u);
  // Fewer bytes than a header from the first "[" on: nothing to load.
  WriteBytes(User("tiny.ini"), "\r\n\r\n\r\n[0x1=A]");
  EXPECT_EQ(Load("tiny.ini"), 1u);
  EXPECT_EQ(Memory(), "");
}

TEST_F(SettingsTest, ASectionCutShortByTheNextOneIsSavedWithTheRest) {
  // The second "[" stands at byte 11 of the first section: it ends that section there,
  // which is then only its "[" and field. Saving keeps it and everything after it.
  WriteBytes(User("cut.ini"), "[0x00000000[0x00000000=A]\r\nk= 1\r\n");
  EXPECT_EQ(Load("cut.ini"), 1u);
  std::string cut = Section("");
  cut.resize(11);
  cut[1] = 11;
  cut[5] = 1;  // "0x00000000" is not its checksum
  std::string a = Stored("A", "k= 1\r\n");
  a[5] = 1;
  EXPECT_EQ(Memory(), cut + a);
  EXPECT_EQ(Save("cut.ini"), 1u);
  const std::string saved = ReadBytes(User("cut.ini"));
  // "[" and ten zero bytes: the word 0x5B, and three zero bytes left over.
  EXPECT_EQ(saved.substr(0, 11), "[0x0000005B");
  ASSERT_EQ(saved.size(), 33u);
  EXPECT_EQ(saved.substr(22), "=A]\r\nk= 1\r\n");
  ServicesVm fresh(&dirs);
  EXPECT_EQ(fresh.Settings(SET_LOAD, {fresh.Put("cut.ini")}), 1u);
  const SettingsStore& s = fresh.hooks.settings;
  EXPECT_EQ(s.buffer[5], 0);
  EXPECT_EQ(s.buffer[11 + 5], 0) << "both checksums verify";
  EXPECT_EQ(fresh.Settings(SET_FIND_SECTION, {fresh.Put("A")}), 1u);
  EXPECT_EQ(fresh.Settings(SET_FIND_KEY, {fresh.Put("k")}), 1u);
}

TEST_F(SettingsTest, AFailedSaveKeepsThePreviousFile) {
  Empty();
  AddSection("Big");
  SetLine("data", std::string(20000, 'x'));
  WriteBytes(User("keep.ini"), "[0x470D5D9C=A]\r\n");
  {
    FileSizeLimit limit(4096);
    EXPECT_EQ(Save("keep.ini"), 0u);
  }
  EXPECT_EQ(ReadBytes(User("keep.ini")), "[0x470D5D9C=A]\r\n");
  EXPECT_EQ(Save("keep.ini"), 1u);
  const std::string saved = ReadBytes(User("keep.ini"));
  EXPECT_EQ(saved.size(), Section("Big").size() + 20000 + 7);
  EXPECT_EQ(saved.substr(11, 16), "=Big]\r\ndata=xxxx");
  EXPECT_EQ(Load("keep.ini"), 1u);
  EXPECT_EQ(vm.hooks.settings.buffer[5], 0) << "the new file's checksum verifies";
}

// --- Lines --------------------------------------------------------------------------

TEST_F(SettingsTest, NumbersAppendAndReadBack) {
  Empty();
  AddSection("S");
  EXPECT_EQ(AddNumber("k", 5), 1u);
  EXPECT_EQ(AddNumber("k", 7), 1u);
  EXPECT_EQ(Memory(), Stored("S", "k= 5 7\r\n"));
  EXPECT_EQ(FindKey("k"), 1u);
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 5u));
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 7u));
  EXPECT_EQ(Row(SET_AT_LINE_END, {}), 1u);
  EXPECT_EQ(ReadNumber(), std::make_pair(0u, 0u)) << "no digit: 0 stored, result 0";

  AddNumber("oct", 8, 1);
  AddNumber("hex", -1, 2);
  AddNumber("neg", -42, 0);
  AddNumber("zero", 0, 1);
  EXPECT_EQ(Memory(),
            Stored("S", "k= 5 7\r\noct= 010\r\nhex= 0xFFFFFFFF\r\nneg= -42\r\nzero= 00\r\n"));
  FindKey("oct");
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 8u));
  FindKey("hex");
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 0xFFFFFFFFu));
  FindKey("neg");
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, static_cast<uint32_t>(-42)));
  EXPECT_EQ(FindKey("none"), 0u);
}

TEST_F(SettingsTest, QuotedStringsEscapeAndReadBack) {
  Empty();
  AddSection("S");
  EXPECT_EQ(AddString("s", "a\"b\\c"), 1u);
  EXPECT_EQ(Memory(), Stored("S", "s= \"a\\\"b\\\\c\"\r\n"));
  FindKey("s");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 64), std::make_pair(5, std::string("a\"b\\c")));
  EXPECT_EQ(Row(SET_AT_LINE_END, {}), 1u);

  SetLine("t", " \"abcdef\" 9");
  FindKey("t");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 4), std::make_pair(-1, std::string("abc")));
  FindKey("t");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 7), std::make_pair(6, std::string("abcdef")))
      << "exactly filling the room is fine when the quote follows";
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 9u)) << "the cursor is after the quote";

  SetLine("e", " \"\"");
  FindKey("e");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 1), std::make_pair(0, std::string()));
  FindKey("t");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 1), std::make_pair(-1, std::string()));
  FindKey("t");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 0).first, -1);

  SetLine("u", " \"open");
  FindKey("u");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 64).first, -1) << "the line break ends it";
  SetLine("n", " 12");
  FindKey("n");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 64), std::make_pair(0, std::string()));
  EXPECT_EQ(ReadNumber(), std::make_pair(1u, 12u)) << "a failed read leaves the cursor";
}

TEST_F(SettingsTest, SetLineReplacesAndAddNumberAppends) {
  Empty();
  AddSection("S");
  SetLine("a", "1");
  SetLine("b", "2");
  EXPECT_EQ(SetLine("a", "one"), 1u);
  EXPECT_EQ(Memory(), Stored("S", "a=one\r\nb=2\r\n"));
  AddNumber("a", 3);
  EXPECT_EQ(Memory(), Stored("S", "a=one 3\r\nb=2\r\n"));
  // Indented keys are found; a key is only a key when "=" follows it at once.
  SetLine("  c", "x");
  EXPECT_EQ(FindKey("c"), 1u);
  EXPECT_EQ(FindKey("a=one"), 0u);
  EXPECT_EQ(Row(SET_DELETE_KEY, {vm.Put("b")}), 1u);
  EXPECT_EQ(Row(SET_DELETE_KEY, {vm.Put("b")}), 0u);
  EXPECT_EQ(Memory(), Stored("S", "a=one 3\r\n  c=x\r\n"));
  const SettingsStore& s = vm.hooks.settings;
  EXPECT_EQ(vm::Load32(s.buffer.get() + 1), s.used - 1) << "the length follows every change";
}

TEST_F(SettingsTest, LinesWithoutCrLfStayLines) {
  // Blank lines after a value and a last line without any line break.
  WriteBytes(User("odd.ini"), "[0x00000000=S]\r\na= 1\r\n\r\nb= 2\n[0x00000000=T]\r\nc= 3");
  EXPECT_EQ(Load("odd.ini"), 1u);
  AddNumber("a", 9);
  AddNumber("b", 8);
  EXPECT_EQ(FindSection("T"), 1u);
  AddNumber("c", 7);
  AddNumber("d", 6);
  EXPECT_EQ(Save("odd.ini"), 1u);
  const std::string saved = ReadBytes(User("odd.ini"));
  const size_t t = saved.find("[0x", 1);
  ASSERT_NE(t, std::string::npos);
  EXPECT_EQ(saved.substr(11, t - 11), "=S]\r\na= 1 9\r\n\r\nb= 2 8\n");
  EXPECT_EQ(saved.substr(t + 11), "=T]\r\nc= 3 7\r\nd= 6\r\n");
}

TEST_F(SettingsTest, ReadLineWalksTheLinesOfASection) {
  Empty();
  AddSection("S");
  SetLine("first", "1");
  SetLine("second", "a\\=b");
  SetLine("third", "long line");
  AddSection("T");
  FindSection("S");
  EXPECT_EQ(ReadInto(SET_READ_LINE, 64), std::make_pair(7, std::string("first=1")));
  EXPECT_EQ(ReadInto(SET_READ_LINE, 64), std::make_pair(10, std::string("second=a=b")));
  EXPECT_EQ(ReadInto(SET_READ_LINE, 5), std::make_pair(-1, std::string("thir")));
  // The section is over: no section and no cursor.
  EXPECT_EQ(ReadInto(SET_READ_LINE, 64), std::make_pair(0, std::string()));
  EXPECT_EQ(vm.hooks.settings.section, SettingsStore::NONE);
  FindSection("S");
  FindKey("second");
  EXPECT_EQ(ReadInto(SET_READ_LINE, 64), std::make_pair(3, std::string("a=b")));
  FindSection("T");
  EXPECT_EQ(ReadInto(SET_READ_LINE, 64), std::make_pair(0, std::string())) << "no lines";
}

TEST_F(SettingsTest, SectionWalkFindAddAndDelete) {
  Empty();
  AddSection("One");
  AddSection("Two");
  AddSection("Three");
  EXPECT_EQ(AddSection("Two"), 1u) << "present: becomes current, nothing added";
  EXPECT_EQ(Memory(), Stored("One") + Stored("Two") + Stored("Three"));
  FindSection("One");
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 64), std::make_pair(3, std::string("Two")));
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 4), std::make_pair(-1, std::string("Thr")));
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 64), std::make_pair(0, std::string()));
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 64), std::make_pair(0, std::string()));
  // A walk from the end position (after a failed find) ends at once.
  EXPECT_EQ(FindSection("Four"), 0u);
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 64), std::make_pair(0, std::string()));
  EXPECT_EQ(vm.hooks.settings.section, SettingsStore::NONE);
  // A failed find followed by an add puts the section at the end.
  EXPECT_EQ(FindSection("Four"), 0u);
  EXPECT_EQ(AddSection("Four"), 1u);
  EXPECT_EQ(AddNumber("k", 1), 1u);
  EXPECT_EQ(Memory(), Stored("One") + Stored("Two") + Stored("Three") + Stored("Four", "k= 1\r\n"));
  FindSection("Two");
  Row(SET_DELETE_SECTION, {});
  EXPECT_EQ(Memory(), Stored("One") + Stored("Three") + Stored("Four", "k= 1\r\n"));
  EXPECT_EQ(vm.hooks.settings.section, 0u);
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 64), std::make_pair(5, std::string("Three")));
  Row(SET_CLEAR, {});
  EXPECT_EQ(Memory(), "");
  EXPECT_EQ(FindSection("One"), 0u);
}

TEST_F(SettingsTest, WithoutAStoreEveryRowDoesNothing) {
  EXPECT_EQ(Save("x.ini"), 0u);
  EXPECT_FALSE(PathExists(User("x.ini")));
  EXPECT_EQ(AddSection("A"), 0u);
  EXPECT_EQ(FindSection("A"), 0u);
  EXPECT_EQ(SetLine("k", "v"), 0u);
  EXPECT_EQ(AddNumber("k", 1), 0u);
  EXPECT_EQ(ReadNumber(), std::make_pair(0u, 0xDEADBEEFu));
  EXPECT_EQ(ReadInto(SET_READ_STRING, 8), std::make_pair(0, std::string()));
  EXPECT_EQ(ReadInto(SET_NEXT_SECTION, 8), std::make_pair(0, std::string()));
  EXPECT_EQ(Row(SET_AT_LINE_END, {}), 1u);
  Empty();
  AddSection("A");
  Row(SET_FREE, {});
  EXPECT_EQ(AddSection("A"), 0u);
  EXPECT_EQ(vm.hooks.settings.buffer, nullptr);
  // A section is needed for the line rows: the end position is none.
  Empty();
  EXPECT_EQ(SetLine("k", "v"), 0u);
  AddSection("A");
  FindSection("B");
  EXPECT_EQ(AddNumber("k", 1), 0u);
  EXPECT_EQ(FindKey("k"), 0u);
}

TEST_F(SettingsTest, GrowthKeepsTheSpareRoom) {
  Empty();
  AddSection("G");
  const size_t first = vm.hooks.settings.capacity;
  EXPECT_EQ(first, SETTINGS_SPARE);
  SetLine("big", std::string(3000, 'q'));
  const size_t header = Section("G").size();
  EXPECT_EQ(vm.hooks.settings.capacity, first + 3000 + 6 + SETTINGS_SPARE);
  EXPECT_EQ(vm.hooks.settings.used, header + 3000 + 6 + 1);
  FindKey("big");
  EXPECT_EQ(ReadInto(SET_READ_STRING, 8).first, 0);
}

TEST_F(SettingsTest, LongRoundTrip) {
  Empty();
  for (int section = 0; section < 40; ++section) {
    std::string name = "Section" + std::to_string(section);
    ASSERT_EQ(AddSection(name), 1u);
    for (int key = 0; key < 25; ++key) {
      std::string k = "key" + std::to_string(key);
      ASSERT_EQ(AddNumber(k, section * 1000 + key, static_cast<uint32_t>(key % 3)), 1u);
      if (key % 5 == 0) {
        ASSERT_EQ(AddString("s" + k, "text \"" + k + "\" \\ end"), 1u);
      }
    }
    vm.Reset();
  }
  // Edit in the middle: replace, append, delete, and drop a section.
  FindSection("Section7");
  SetLine("key3", " 77");
  AddNumber("key4", 5);
  Row(SET_DELETE_KEY, {vm.Put("key5")});
  FindSection("Section20");
  Row(SET_DELETE_SECTION, {});
  EXPECT_EQ(Save("round.ini"), 1u);
  const std::string before = Memory();
  vm.Reset();

  ServicesVm fresh(&dirs);
  ASSERT_EQ(fresh.Settings(SET_LOAD, {fresh.Put("round.ini")}), 1u);
  const SettingsStore& s = fresh.hooks.settings;
  size_t p = 0, sections = 0;
  while (p + 1 < s.used) {
    EXPECT_EQ(s.buffer[p + 5], 0) << "every checksum verifies, section at " << p;
    p += vm::Load32(s.buffer.get() + p + 1);
    ++sections;
  }
  EXPECT_EQ(p + 1, s.used);
  EXPECT_EQ(sections, 39u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.buffer.get()), s.used - 1), before);

  auto number = [&](std::string_view section, std::string_view key) {
    fresh.Reset();
    EXPECT_EQ(fresh.Settings(SET_FIND_SECTION, {fresh.Put(section)}), 1u);
    EXPECT_EQ(fresh.Settings(SET_FIND_KEY, {fresh.Put(key)}), 1u);
    uint32_t word = fresh.Buffer(4);
    EXPECT_EQ(fresh.Settings(SET_READ_NUMBER, {word}), 1u);
    return fresh.Word(word);
  };
  EXPECT_EQ(number("Section7", "key3"), 77u);
  EXPECT_EQ(number("Section7", "key4"), 7004u);
  EXPECT_EQ(number("Section39", "key24"), 39024u);
  EXPECT_EQ(number("Section13", "key8"), 13008u);  // written in octal
  EXPECT_EQ(fresh.Settings(SET_FIND_SECTION, {fresh.Put("Section20")}), 0u);
  fresh.Settings(SET_FIND_SECTION, {fresh.Put("Section0")});
  fresh.Settings(SET_FIND_KEY, {fresh.Put("skey10")});
  uint32_t d = fresh.Buffer(64);
  EXPECT_EQ(fresh.Settings(SET_READ_STRING, {d, 64}), 18u);
  EXPECT_EQ(fresh.Text(d), "text \"key10\" \\ end");
}

TEST_F(SettingsTest, BadAddressesStopTheProgramAndChangeNothing) {
  Empty();
  AddSection("S");
  SetLine("k", " \"value\"");
  FindKey("k");
  const size_t cursor = vm.hooks.settings.cursor;
  Row(SET_READ_STRING, {vm.m.memSize - 3, 64});
  EXPECT_TRUE(vm.Stopped());
  EXPECT_EQ(vm.hooks.messages.at(0), FaultMessage(vm.m.memSize - 3));
  EXPECT_EQ(vm.hooks.settings.cursor, cursor);

  ServicesVm other(&dirs);
  other.Settings(SET_LOAD, {other.m.memSize + 100});
  EXPECT_TRUE(other.Stopped());
  ServicesVm third(&dirs);
  third.Settings(17, {});
  EXPECT_EQ(third.hooks.messages.at(0), vm::Format("Unknown SYS command at 0x%8.8lX. Ack!",
                                                   static_cast<unsigned long>(kSysAt)));
  EXPECT_FALSE(third.Stopped());
}

}  // namespace
}  // namespace orvo::services::test
