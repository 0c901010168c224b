// The label index must answer exactly as a first-match linear search.
#include "id_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "velda_test_util.h"

using namespace orvo::velda;

namespace {

int LinearFind(const IdTable& t, const std::string& name) {
  for (size_t i = 0; i < t.count(); ++i)
    if (EqualNoCase(t[i].name, name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(IdTable, IndexAgreesWithLinearSearch) {
  auto t = std::make_unique<IdTable>();
  std::mt19937 rng(7);
  const std::string alphabet = "abAB_1@\xC3\xA9";
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    std::string n;
    size_t len = 1 + rng() % 4;
    for (size_t k = 0; k < len; ++k) n.push_back(alphabet[rng() % alphabet.size()]);
    names.push_back(n);
    // entries that differ only in case still append: only the first is found
    t->Append(n, i, ID_CODE, 0);
  }
  for (const std::string& n : names) {
    std::string probe = n;
    for (char& c : probe)
      if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    EXPECT_EQ(t->Find(probe), LinearFind(*t, probe)) << probe;
  }
  EXPECT_EQ(t->Find("zzz"), -1);
  EXPECT_EQ(t->Find(std::string(32, 'a')), -1);
  // only ASCII letters fold: \xC3\xA9 and \xC3\x89 stay different
  IdTable u;
  u.Append("\xC3\xA9t\xC3\xA9", 1, ID_CODE, 0);
  EXPECT_EQ(u.Find("\xC3\xA9T\xC3\xA9"), 0);
  EXPECT_EQ(u.Find("\xC3\x89T\xC3\x89"), -1);
}

TEST(IdTable, HundredThousandLabelsAndTheTableLimit) {
  // forward references to labels defined later, 100,000 of them
  std::string source = "@code\n";
  for (int i = 0; i < 100000; ++i) {
    source += "d mov $1, =L" + std::to_string((i + 50000) % 100000) + "\n";
    source += ":L" + std::to_string(i) + "\n";
  }
  auto start = std::chrono::steady_clock::now();
  auto r = velda_test::RunSource(source);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.code, 0) << r.console.substr(0, 200);
  EXPECT_EQ(r.state->ids.count(), 100000u);
  EXPECT_EQ(velda_test::Le32(r.image, 4), 50000u * 8 + 8);  // L50000 follows the 50001st mov
  EXPECT_LT(seconds, 30.0);  // a linear scan per reference would take minutes

  std::string full = "@code\n";
  for (uint32_t i = 0; i <= kMaxIds; ++i) full += ":x" + std::to_string(i) + "\n";
  auto f = velda_test::RunSource(full);
  EXPECT_EQ(f.code, 6);
  EXPECT_EQ(f.console, "t(262146): Size of ID table exceeded\n[1 errors]\n");
}
