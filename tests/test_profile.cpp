// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The INI profile reader and writer. Faults guarded here:
// - lookup: names match in any case, trimmed; the first duplicate section and key win and
//   later sections of that name are not searched; comments, keys outside sections and
//   prefixes do not match; CRLF; one pair of quotes dropped; a value ends at a NUL and is cut to
//   the buffer less one (the fallback too), also on a line of megabytes;
// - writing: a key replaced in place with every other byte kept, a new key after the last
//   key of its section, a new section at the end, the file's own line ends;
// - texts that would read back as another structure are refused, and a batch with one of
//   them is not written at all;
// - one atomic replacement: a new file renamed over the old, mode kept, a symbolic link
//   followed (dangling too), missing folders made 0700, and a failed write leaves the old file and
//   no temporary one (the atomic settings save);
// - targets that are no regular file fail at once: a FIFO never blocks.
#include "platform/profile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

using namespace std::string_literals;

long EntriesIn(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

class ProfileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = dir / "test.ini";
};

// Each row: the file, "|", what key "k" of section "S" reads as ("-": not found).
TEST_F(ProfileTest, ReadsWithWindowsLookupRules) {
  for (const std::string row :
       {"[s]\nK=Stereo\n|Stereo", "[  S  ]\n \t k \t=\t  a b \t\r\n|a b", "[S]\nk=v|v",
        "[S]\nk=a=b\n|a=b", "[S]\nk=1\nk=2\n|1", "[S]\nk=1\n[T]\n[s]\nk=2\n|1",
        "[S]\na=1\n[S]\nk=2\n|-", "[S]\nj=1\n[T]\nk=2\n|-", "k=1\n[S]\nj=2\n|-",
        "[S]\n;k=1\n# k=2\n|-", "[S]\nkey=1\n|-", "[S]\nk=1\n[T\nk=2\n|1", "[S]\nk=\"/x y/\"|/x y/",
        "[S]\nk=\"\"|", "[S]\nk=\"a|\"a", "[S]\nk=\"a\" \"b\"|a\" \"b", "[S]\nk='a'|'a'"}) {
    WriteFile(file, row.substr(0, row.rfind('|')));
    EXPECT_EQ(GetProfileString("S", "k", "-", file), row.substr(row.rfind('|') + 1)) << row;
  }
  WriteFile(file, "[S]\nk=ab\0cd\n"s);
  EXPECT_EQ(GetProfileString("S", "k", "-", file), "ab");
  for (std::size_t size : {0, 1, 4}) {  // the buffer less one, for the fallback too
    EXPECT_EQ(GetProfileString("S", "k", "-", file, size),
              std::string("ab").substr(0, size ? size - 1 : 0));
    EXPECT_EQ(GetProfileString("S", "j", "fallback", file, size),
              std::string("fallback").substr(0, size ? size - 1 : 0));
  }
  WriteFile(file, "[S]\nk=" + std::string(8 << 20, 'z'));
  EXPECT_EQ(GetProfileString("S", "k", "-", file), std::string(1023, 'z'));
}

// Each row: the file before, "|", after key "k" of section "S" is set to "v".
TEST_F(ProfileTest, WritesInPlaceAndAppendsWhereWindowsWould) {
  for (const std::string row :
       {"|[S]\nk=v\n",
        "; c\n[s]\n# n\na=1\n  K = old  \nb=2\n\n[T]\nk=t\n|; c\n[s]\n# "
        "n\na=1\nK=v\nb=2\n\n[T]\nk=t\n",
        "[S]\na=1\n\n; T\n[T]\nb=2\n|[S]\na=1\nk=v\n\n; T\n[T]\nb=2\n",
        "[S]\n[T]\nb=2\n|[S]\nk=v\n[T]\nb=2\n", "[S]\na=1|[S]\na=1\nk=v\n", "x\n[S]|x\n[S]\nk=v\n",
        "[T]\na=1\n|[T]\na=1\n[S]\nk=v\n", "[S]\n[T]\n[S]\nb=2\n|[S]\nk=v\n[T]\n[S]\nb=2\n",
        "[S]\nk=1\nk=2\n|[S]\nk=v\nk=2\n", "[S]\r\nk=1\r\n|[S]\r\nk=v\r\n",
        "[T]\r\na=1\r\n|[T]\r\na=1\r\n[S]\r\nk=v\r\n",
        "\xff[\x01j\n[S]\n\x80=\x81|\xff[\x01j\n[S]\n\x80=\x81\nk=v\n",
        "[A]\r\nk=v\r|[A]\r\nk=v\r\n[S]\r\nk=v\r\n"}) {  // a lone CR last (found by fuzzing)
    WriteFile(file, row.substr(0, row.find('|')));
    EXPECT_TRUE(WriteProfileString("S", " k ", "v", file)) << row;
    EXPECT_EQ(ReadFile(file), row.substr(row.find('|') + 1)) << row;
  }
}

TEST_F(ProfileTest, RefusesTextsThatWouldChangeTheStructureAndWholeBatchesWithThem) {
  const std::string before = "; mine\n[A]\nx=1\n";
  WriteFile(file, before);
  const ProfileEntry bad[] = {
      {"S", "k", "a\nb"},   {"S", "k", "a\rb"}, {"S", "k", "a\0b"s}, {"S", " ", "v"},
      {"S", "a=b", "v"},    {"S", ";k", "v"},   {"S", "#k", "v"},    {"S", "[k", "v"},
      {"S\n[T]", "k", "v"}, {"S]x", "k", "v"},
  };
  for (const ProfileEntry& b : bad) {
    EXPECT_FALSE(WriteProfileStrings({{"A", "x", "2"}, b}, file)) << b.section << b.key << b.value;
  }
  EXPECT_EQ(ReadFile(file), before);
  ASSERT_TRUE(WriteProfileStrings({{"A", "x", "2"}, {"B", "y", "3"}, {"A", "z", "4"}}, file));
  EXPECT_EQ(ReadFile(file), "; mine\n[A]\nx=2\nz=4\n[B]\ny=3\n");
}

TEST_F(ProfileTest, ReplacesTheFileAtomicallyThroughALink) {
  const std::string real = dir / "real.ini";
  WriteFile(real, "[S]\nk=1\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
  struct stat before = {}, after = {};
  stat(real.c_str(), &before);
  ASSERT_TRUE(WriteProfileString("S", "k", "2", file));
  stat(real.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino) << "rewritten in place instead of renamed over";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(file), "[S]\nk=2\n");
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  // A file-size limit (SIGXFSZ ignored) fails the write, even for root: the old file stays,
  // and no temporary one.
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlim_t saved = std::exchange(limit.rlim_cur, 64);
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_FALSE(WriteProfileString("S", "k", std::string(500, 'x'), file));
  limit.rlim_cur = saved;
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
  EXPECT_EQ(EntriesIn(dir.path()), 2);
  ASSERT_TRUE(WriteProfileString("S", "k", "v", dir / "a/b/c.ini"));
  ASSERT_EQ(stat((dir / "a/b").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0700u);
  ASSERT_EQ(symlink("a/d/e.ini", (dir / "dangling.ini").c_str()), 0);  // relative to its folder
  ASSERT_TRUE(WriteProfileString("S", "k", "v", dir / "dangling.ini"));
  EXPECT_EQ(ReadFile(dir / "a/d/e.ini"), "[S]\nk=v\n");
}

TEST_F(ProfileTest, TargetsThatAreNoRegularFileFail) {
  WriteFile(file, "x");
  ASSERT_EQ(mkdir((dir / "adir").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const char* name : {"test.ini/a.ini", "adir", "fifo"}) {
    EXPECT_FALSE(WriteProfileString("S", "k", "v", dir / name)) << name;
  }
  EXPECT_EQ(EntriesIn(dir / "adir"), 0);
  EXPECT_EQ(GetProfileString("S", "k", "fb", dir / "fifo"), "fb");  // must not block
}

}  // namespace
