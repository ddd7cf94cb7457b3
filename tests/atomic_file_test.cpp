#include "atomic_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace gridwave {
namespace {

using testing::Bytes;

// Two files saved as a pair: neither replaces what was there until both are
// written, and a pair that fails replaces neither.
TEST(AtomicFile, PairIsPublishedOnlyWhenBothAreWritten) {
  testing::ScratchDir dir;
  const std::string a = (dir / "a.png").string();
  const std::string b = (dir / "b.grid").string();
  const Bytes old_a = {'o', 'l', 'd', 'a'};
  const Bytes old_b = {'o', 'l', 'd', 'b'};
  const Bytes new_a = {'n', 'e', 'w'};
  testing::write_bytes(a, old_a);
  testing::write_bytes(b, old_b);

  {  // The second file cannot be created: the first is dropped unpublished.
    AtomicFile first, second;
    ASSERT_EQ(first.open(a.c_str()), SaveResult::kSaved);
    first.write(new_a.data(), new_a.size());
    ASSERT_EQ(first.finish(), SaveResult::kSaved);
    EXPECT_EQ(second.open((dir / "missing/b.grid").c_str()), SaveResult::kNotOpened);
  }
  EXPECT_EQ(testing::read_bytes(a), old_a);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "b.grid"}));

  {  // Both written: nothing changes until they are published.
    AtomicFile first, second;
    ASSERT_EQ(first.open(a.c_str()), SaveResult::kSaved);
    ASSERT_EQ(second.open(b.c_str()), SaveResult::kSaved);
    first.write(new_a.data(), new_a.size());
    second.write("b", 1);
    ASSERT_EQ(first.finish(), SaveResult::kSaved);
    ASSERT_EQ(second.finish(), SaveResult::kSaved);
    EXPECT_EQ(testing::read_bytes(a), old_a);
    EXPECT_EQ(testing::read_bytes(b), old_b);
    EXPECT_EQ(first.publish(), SaveResult::kSaved);
    EXPECT_EQ(second.publish(), SaveResult::kSaved);
  }
  EXPECT_EQ(testing::read_bytes(a), new_a);
  EXPECT_EQ(testing::read_bytes(b), Bytes{'b'});
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "b.grid"}));
}

// More files at once than the signal handler can list are still saved, and
// every temporary file goes.
TEST(AtomicFile, ManyFilesAtOnce) {
  testing::ScratchDir dir;
  std::vector<std::unique_ptr<AtomicFile>> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back(std::make_unique<AtomicFile>());
    ASSERT_EQ(files.back()->open((dir / std::to_string(i)).c_str()), SaveResult::kSaved) << i;
    files.back()->write(&i, sizeof i);
  }
  for (int i = 0; i < 40; i += 2) EXPECT_EQ(files[i]->commit(), SaveResult::kSaved) << i;
  files.clear();  // the odd ones are dropped unpublished
  std::vector<std::string> expected;
  for (int i = 0; i < 40; i += 2) expected.push_back(std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.entries(), expected);
}

}  // namespace
}  // namespace gridwave
