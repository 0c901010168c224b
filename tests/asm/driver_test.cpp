// Command line, console lines, exit codes and the files a run writes.
#include "driver.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "velda_test_util.h"

using velda_test::Assemble;
using velda_test::Le32;
using velda_test::RunSource;
using velda_test::TempDir;

namespace {

const std::string kNoWords(27, ' ');

}  // namespace

TEST(CommandLine, SyntaxQuietAndBanner) {
  const std::string syntax =
      "Syntax: VELDA [-Q] [-L] first_file[.OVA] [second_file] ... [last_file]\n"
      "-q or -Q causes no extraneous messages output except for errors or -L output.\n"
      "-l or -L causes a first pass listing to be printed to the console.\n";
  TempDir dir;
  EXPECT_EQ(Assemble(dir, {}, {}).console, syntax);
  auto x = Assemble(dir, {}, {"-x"});
  EXPECT_EQ(x.code, 3);
  EXPECT_EQ(x.console, syntax);
  EXPECT_FALSE(dir.Exists("main.ovl"));

  auto loud = Assemble(dir, {{"p.ova", "@code\nnop\n"}}, {"%p", "-QQ"});
  EXPECT_EQ(loud.code, 0);
  EXPECT_EQ(loud.console, "VELDA 6.0\n code: 4\n zero: 0\ntotal: 4\n[0 errors]\n");
  auto quiet = Assemble(dir, {}, {"-q", "%p.ova"});
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.console, "");
}

TEST(CommandLine, MissingFileAndCaseInsensitiveNames) {
  TempDir dir;
  auto r = Assemble(dir, {{"a.ova", "@code\nnop\n"}}, {"%a", "%missing"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.console, "Error opening file " + (dir.path() / "missing.ova").string() +
                           "\n code: 0\n zero: 0\ntotal: 0\n[1 errors]\n");
  // /L lists pass 1 on the console; GAME.OVA finds game.ova
  auto l = Assemble(dir, {{"game.ova", "@code\nnop\n"}}, {"/L", "%GAME.OVA"});
  EXPECT_EQ(l.code, 0);
  EXPECT_EQ(l.console, "VELDA 6.0\n    GAME:00001 c        " + kNoWords + "@code\n" +
                           "    GAME:00002 c 000000 00000294 " + std::string(18, ' ') + "nop\n" +
                           " code: 4\n zero: 0\ntotal: 4\n[0 errors]\n");
  EXPECT_EQ(orvo::velda::DisplayName("C:\\src\\Game.OVA"), "Game");
  EXPECT_EQ(orvo::velda::DisplayName("dir/x.ova"), "x");
  EXPECT_EQ(orvo::velda::DisplayName("a:b"), "b");
}

TEST(Listing, ColumnsContinuationAndSegments) {
  auto r = RunSource(
      "; header comment\n@code\n:start\n\td add $1, $2\n d 1,2,3,4,5\n@seg_end\n@zero\n:buf\n"
      " d [4]\n@seg_end\n");
  ASSERT_EQ(r.code, 0) << r.console;
  std::string expected =
      "       t:00001   000000 " + kNoWords + "; header comment\r\n" + "       t:00002 c        " +
      kNoWords + "@code\r\n" + "       t:00003 c 000000 " + kNoWords + ":start\r\n" +
      "       t:00004 c 000000 0002343C " + std::string(18, ' ') + "    d add $1, $2\r\n" +
      "       t:00005 c 000004 00000001 00000002 00000003  d 1,2,3,4,5\r\n" +
      "       t:00005 c 000010 00000004 00000005          \r\n" + "       t:00006          " +
      kNoWords + "@seg_end\r\n" + "       t:00007 z        " + kNoWords + "@zero\r\n" +
      "       t:00008 z 000018 " + kNoWords + ":buf\r\n" + "       t:00009 z 000028 " + kNoWords +
      " d [4]\r\n" + "       t:00010          " + kNoWords + "@seg_end\r\n";
  EXPECT_EQ(r.listing, expected);
}

TEST(Listing, ErrorLinesPartialWordsAndNames) {
  TempDir dir;
  auto r =
      Assemble(dir, {{"verylongname.ova", "@code\nb 300\nb 1\nnop\n\n"}}, {"-q", "%verylongname"});
  EXPECT_EQ(r.code, 6);
  EXPECT_FALSE(r.wroteImage);
  EXPECT_EQ(r.listing, "verylong:00001 c        " + kNoWords + "@code\r\n" +
                           " ***** verylongname(2): 'value too large: b 300\r\n" +
                           "verylong:00002 c 000000 " + kNoWords + "b 300\r\n" +
                           // one byte added: its word shows the bytes that follow it
                           "verylong:00003 c 000000 00029401 " + std::string(18, ' ') + "b 1\r\n" +
                           "verylong:00004 c 000001 00000294 " + std::string(18, ' ') + "nop\r\n");
  EXPECT_EQ(r.console, "verylongname(2): 'value too large: b 300\n[1 errors]\n");
}

TEST(Listing, StackOffsetOverflowEndsTheInstruction) {
  // The encoder stops at the error: the two-operand word reserved before its
  // operands stays as zeros, the other forms write nothing, and the labels
  // after them are placed where the listing shows them.
  TempDir dir;
  const std::string good = "@code\n@align 4\n:_mid\nnop\n";
  ASSERT_EQ(RunSource(dir, good).code, 0);
  const std::string mapBefore = dir.Read("main.map");
  auto r = RunSource(dir,
                     "@code\nnop\nd mov [FP][40000], =100\n:mid\nneg [FP][-40000]\n"
                     "tljeq [FP][32768], =mid\n@align 4\n:_after\n& mid\n& _after\n");
  EXPECT_EQ(r.code, 6);
  const std::string pad(18, ' ');
  const std::string overflow = ": stack offset overflow\r\n";
  EXPECT_EQ(r.listing,
            "       t:00001 c        " + kNoWords + "@code\r\n" +
                "       t:00002 c 000000 00000294 " + pad + "nop\r\n" + " ***** t(3)" + overflow +
                "       t:00003 c 000004 00000000 " + pad + "d mov [FP][40000], =100\r\n" +
                "       t:00004 c 000008 " + kNoWords + ":mid\r\n" + " ***** t(5)" + overflow +
                "       t:00005 c 000008 " + kNoWords + "neg [FP][-40000]\r\n" + " ***** t(6)" +
                overflow + "       t:00006 c 000008 " + kNoWords + "tljeq [FP][32768], =mid\r\n" +
                "       t:00007 c 000008 " + kNoWords + "@align 4\r\n" +
                "       t:00008 c 000008 " + kNoWords + ":_after\r\n" +
                "       t:00009 c 000008 00000008 " + pad + "& mid\r\n" +
                "       t:00010 c 00000C 00000008 " + pad + "& _after\r\n");
  EXPECT_EQ(r.console, "t(3): stack offset overflow\nt(5): stack offset overflow\n"
                       "t(6): stack offset overflow\n[3 errors]\n");
  // a failed run writes no map: the one from the last good run stays
  EXPECT_EQ(dir.Read("main.map"), mapBefore);
  EXPECT_EQ(mapBefore, "000000 _mid\r\n");
}

TEST(Outputs, MapListsMarkedLabelsCodeFirst) {
  auto r = RunSource(
      "@zero\n@align 4\n:_buf\nd [1]\n@seg_end\n"
      "@code\n@align 4\n:_start\nnop\n:plain\n@align 4\n:notmapped\n:_second\nnop\n:_late\n");
  ASSERT_EQ(r.code, 0) << r.console;
  EXPECT_EQ(r.map, "000000 _start\r\n000004 _second\r\n000008 _buf\r\n");
}

TEST(Outputs, HeaderFieldsAndImage) {
  TempDir dir;
  dir.Write("BUILDNUM", "41");
  auto r =
      Assemble(dir, {{"t.ova", "@code\nb [512] 0xAA\n@seg_end\n@zero\nd [3]\n"}}, {"-q", "%t"});
  ASSERT_EQ(r.code, 0) << r.console;
  ASSERT_EQ(r.image.size(), 512u);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(uint8_t(r.image[214]) | uint8_t(r.image[215]) << 8, local.tm_year + 1900);
  EXPECT_EQ(uint8_t(r.image[216]), local.tm_mon + 1);
  EXPECT_EQ(uint8_t(r.image[217]), local.tm_mday);
  EXPECT_EQ(Le32(r.image, 220), 42u);
  EXPECT_EQ(Le32(r.image, 224), 512u);
  EXPECT_EQ(Le32(r.image, 228), 0u);
  EXPECT_EQ(Le32(r.image, 232), 12u);
  EXPECT_EQ(Le32(r.image, 236), 0u);
  EXPECT_EQ(uint8_t(r.image[213]), 0xAA);
  EXPECT_EQ(uint8_t(r.image[240]), 0xAA);
  EXPECT_EQ(dir.Read("BUILDNUM"), "42");
}

TEST(Outputs, BuildNumberFile) {
  TempDir dir;
  dir.Write("t.ova", "@code\nnop\n");
  auto first = Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(dir.Read("BUILDNUM"), "1");  // created when missing
  EXPECT_EQ(first.state->buildNumber, 1u);
  dir.Write("BUILDNUM", "0x1F");
  Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(dir.Read("BUILDNUM"), "32");
  Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(dir.Read("BUILDNUM"), "33");
  // a line break is not part of a number: reported, and the run still succeeds
  dir.Write("BUILDNUM", "41\n");
  auto broken = Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(broken.code, 0);
  EXPECT_EQ(broken.console, "invalid number: 41\n\n[1 errors]\n");
  EXPECT_EQ(dir.Read("BUILDNUM"), "42");
}

TEST(Outputs, ErrorsKeepTheOldImage) {
  TempDir dir;
  dir.Write("main.ove", "old");
  dir.Write("BUILDNUM", "7");
  auto r = Assemble(dir, {{"t.ova", "@code\nmov $1\n"}}, {"-q", "%t"});
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(r.image, "old");
  EXPECT_EQ(dir.Read("BUILDNUM"), "7");
  EXPECT_FALSE(dir.Exists("main.map"));
}

TEST(Outputs, FileFailuresAndTheirExitCodes) {
  TempDir dir;
  dir.Write("t.ova", "@code\nnop\n");
  {
    orvo::velda::Assembler a;
    std::string console;
    a.console = &console;
    a.quiet = true;
    a.outDir = dir.path() / "no-such-folder";
    EXPECT_EQ(orvo::velda::RunVelda(a, {(dir.path() / "t").string()}), 4);
    EXPECT_EQ(console, "Error creating .OVL file\n[1 errors]\n");
  }
  std::filesystem::create_directory(dir.path() / "main.map");
  auto map = Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(map.code, 5);
  EXPECT_EQ(map.console, "Error creating .MAP file\n[1 errors]\n");
  EXPECT_EQ(map.image.size(), 4u);  // main.ove stays written
  std::filesystem::remove(dir.path() / "main.ove");
  std::filesystem::create_directory(dir.path() / "main.ove");
  auto ove = Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(ove.code, 5);
  EXPECT_EQ(ove.console, "Error creating .OVE file\n[1 errors]\n");
  // BUILDNUM that cannot be opened: reported, number 1, outputs still written
  TempDir other;
  std::filesystem::create_directory(other.path() / "BUILDNUM");
  auto bn = Assemble(other, {{"t.ova", "@code\nnop\n"}}, {"-q", "%t"});
  EXPECT_EQ(bn.code, 0);
  EXPECT_EQ(bn.console, "Error reading/creating BUILDNUM\n[1 errors]\n");
  EXPECT_EQ(bn.state->buildNumber, 1u);
  EXPECT_TRUE(bn.wroteImage);
}

TEST(Passes, TooManyErrorsAndByteOrderMark) {
  std::string source = "@code\n";
  for (int i = 0; i < 25; ++i) source += "b 300\n";
  auto r = RunSource(source);
  EXPECT_EQ(r.code, 6);
  std::string expected;
  for (int line = 2; line <= 22; ++line)
    expected += "t(" + std::to_string(line) + "): 'value too large: b 300\n";
  EXPECT_EQ(r.console, expected + "Too many errors...\n[21 errors]\n");

  auto bom = RunSource("\xEF\xBB\xBF@code\nb 1\n");
  EXPECT_EQ(bom.image, "\x01");
}
