// The face list orvo-pack writes for the web build: every choice reads back as written,
// lines that are not choices are left out.
#include <gtest/gtest.h>

#include <random>

#include "gfx/face_list.h"

namespace orvo::gfx {
namespace {

bool Same(const FaceChoice& a, const FaceChoice& b) {
  return a.family == b.family && a.bold == b.bold && a.italic == b.italic &&
         a.syntheticBold == b.syntheticBold && a.syntheticItalic == b.syntheticItalic &&
         a.file == b.file;
}

TEST(FaceList, EveryListReadsBackAsWritten) {
  std::mt19937 random(27);
  const std::string letters = "abcXYZ09 -_.";
  for (int round = 0; round < 200; ++round) {
    std::vector<FaceChoice> choices(random() % 13);
    for (FaceChoice& c : choices) {
      c.family = static_cast<FontFamily>(random() % FAMILY_COUNT);
      c.bold = random() & 1;
      c.italic = random() & 1;
      c.syntheticBold = random() & 1;
      c.syntheticItalic = random() & 1;
      c.file = "f";
      for (unsigned n = random() % 20; n > 0; --n) c.file += letters[random() % letters.size()];
      c.file += ".ttf";
    }
    const std::vector<FaceChoice> back = ParseFaceList(FormatFaceList(choices));
    ASSERT_EQ(back.size(), choices.size());
    for (size_t i = 0; i < choices.size(); ++i) EXPECT_TRUE(Same(back[i], choices[i])) << i;
  }
}

TEST(FaceList, LinesThatAreNoChoiceAreLeftOut) {
  const std::string text =
      "0 0 0 0 0 DejaVuSans.ttf\n"
      "3 0 0 0 0 NoSuchFamily.ttf\n"    // family out of range
      "1 2 0 0 0 Two.ttf\n"             // a flag that is no flag
      "1 0 0 0 \n"                      // too short
      "2 1 1 0 0 ../Outside.ttf\n"      // a file outside the fonts folder
      "2 1 1 0 0 \n"                    // no file
      "x y z\n"
      "2 1 1 1 0 Liberation Serif Bold.ttf";
  const std::vector<FaceChoice> choices = ParseFaceList(text);
  ASSERT_EQ(choices.size(), 2u);
  EXPECT_EQ(choices[0].file, "DejaVuSans.ttf");
  EXPECT_EQ(choices[0].family, FAMILY_TAHOMA);
  EXPECT_EQ(choices[1].file, "Liberation Serif Bold.ttf");
  EXPECT_EQ(choices[1].family, FAMILY_TIMES);
  EXPECT_TRUE(choices[1].bold && choices[1].italic && choices[1].syntheticBold);
  EXPECT_FALSE(choices[1].syntheticItalic);
}

}  // namespace
}  // namespace orvo::gfx
