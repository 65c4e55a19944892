#include "platform/profile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_ino;
}

class ProfileTest : public ::testing::Test {
 protected:
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = "<none>", std::size_t size = 1024) {
    return GetProfileString(section, key, fallback, file, size);
  }

  TempDir dir;
  std::string file = dir / "test.ini";
};

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::string expected;
};

TEST_F(ProfileTest, ReadsWithWindowsLookupRules) {
  const ReadCase cases[] = {
      {"section and key ignore case", "[Mp3 Setting]\nBitRate=160 kbps\n", "MP3 SETTING", "bitrate",
       "160 kbps"},
      {"value is not case-folded", "[S]\nk=Stereo\n", "s", "K", "Stereo"},
      {"blanks and tabs trimmed", "[S]\n \t k \t=\t  a b \t\n", "S", "k", "a b"},
      {"blanks inside brackets", "[  S  ]\nk=v\n", "S", "k", "v"},
      {"no newline at the end", "[S]\nk=v", "S", "k", "v"},
      {"empty value is a value", "[S]\nk=\n", "S", "k", ""},
      {"value holds equals signs", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"first duplicate key wins", "[S]\nk=1\nk=2\n", "S", "k", "1"},
      {"first duplicate section wins", "[S]\nk=1\n[T]\n[s]\nk=2\n", "S", "k", "1"},
      {"only the first duplicate section is searched", "[S]\na=1\n[S]\nk=2\n", "S", "k", "<none>"},
      {"key of another section", "[S]\nk=1\n[T]\nj=2\n", "T", "k", "<none>"},
      {"key before any section", "k=1\n[S]\nj=2\n", "S", "k", "<none>"},
      {"commented-out key", "[S]\n;k=1\n# k=2\n", "S", "k", "<none>"},
      {"prefix is not a match", "[S]\nkey=1\n", "S", "k", "<none>"},
      {"header without bracket is no section", "[S]\nk=1\n[T\nk=2\n", "S", "k", "1"},
      {"value cut at NUL", std::string("[S]\nk=ab\0cd\n", 12), "S", "k", "ab"},
  };
  for (const ReadCase& c : cases) {
    WriteFile(file, c.content);
    EXPECT_EQ(Get(c.section, c.key), c.expected) << c.name;
  }
}

TEST_F(ProfileTest, MissingFilesGiveTheFallbackAndResultsAreCutToTheBuffer) {
  EXPECT_EQ(Get("S", "k", "fallback"), "fallback");
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(GetProfileString("S", "k", "x", dir / "no/such/folder/a.ini"), "x");
  WriteFile(file, "[S]\nk=" + std::string(2000, 'a') + "\nshort=abcdef\n");
  EXPECT_EQ(Get("S", "k"), std::string(1023, 'a'));
  EXPECT_EQ(Get("S", "short", "", 4), "abc");
  EXPECT_EQ(Get("S", "short", "", 1), "");
  EXPECT_EQ(Get("S", "short", "", 0), "");
  EXPECT_EQ(Get("S", "missing", "fallback", 5), "fall");  // the fallback is cut too
}

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST_F(ProfileTest, WritesInPlaceAndAppendsWhereWindowsWould) {
  const WriteCase cases[] = {
      {"empty file", "", "S", "k", "v", "[S]\nk=v\n"},
      {"replace keeps every other line",
       "; settings\n[S]\n# note\na=1\n  K = old  \nb=2\n\n[T]\nk=t\n", "s", "k", "new",
       "; settings\n[S]\n# note\na=1\nK=new\nb=2\n\n[T]\nk=t\n"},
      {"new key after the last key, before trailing blank and comment lines",
       "[S]\na=1\n\n; about T\n[T]\nb=2\n", "S", "k", "v",
       "[S]\na=1\nk=v\n\n; about T\n[T]\nb=2\n"},
      {"new key in a section without keys", "[S]\n[T]\nb=2\n", "S", "k", "v",
       "[S]\nk=v\n[T]\nb=2\n"},
      {"new key in a last section without final newline", "[S]\na=1", "S", "k", "v",
       "[S]\na=1\nk=v\n"},
      {"header is the last line without newline", "x\n[S]", "S", "k", "v", "x\n[S]\nk=v\n"},
      {"new section at the end", "[S]\na=1\n", "T", "k", "v", "[S]\na=1\n[T]\nk=v\n"},
      {"first duplicate section gets the key", "[S]\na=1\n[T]\n[S]\nb=2\n", "S", "k", "v",
       "[S]\na=1\nk=v\n[T]\n[S]\nb=2\n"},
      {"first duplicate key is replaced", "[S]\nk=1\nk=2\n", "S", "k", "v", "[S]\nk=v\nk=2\n"},
      {"CRLF file keeps CRLF", "[S]\r\nk=1\r\n", "S", "k", "2", "[S]\r\nk=2\r\n"},
      {"CRLF file gets CRLF lines", "[S]\r\na=1\r\n", "T", "k", "v",
       "[S]\r\na=1\r\n[T]\r\nk=v\r\n"},
      {"key names are trimmed", "", " S ", " k ", "v", "[S]\nk=v\n"},
      {"binary lines kept byte for byte",
       std::string("\xff\xfe[\0junk\n[S]\nbin\x01\x02\n\x80=\x81\n", 23), "S", "k", "v",
       std::string("\xff\xfe[\0junk\n[S]\nbin\x01\x02\n\x80=\x81\nk=v\n", 27)},
  };
  for (const WriteCase& c : cases) {
    WriteFile(file, c.before);
    EXPECT_TRUE(WriteProfileString(c.section, c.key, c.value, file)) << c.name;
    EXPECT_EQ(ReadFile(file), c.after) << c.name;
    EXPECT_EQ(Get(c.section, c.key), c.value) << c.name;
  }
}

TEST_F(ProfileTest, RefusesTextsThatWouldChangeTheFileStructure) {
  WriteFile(file, "[S]\nk=1\n");
  const struct {
    const char* section;
    const char* key;
    std::string value;
  } bad[] = {
      {"S", "k", "a\nb"}, {"S", "k", "a\rb"}, {"S", "k", std::string("a\0b", 3)},
      {"S", "", "v"},     {"S", "  ", "v"},   {"S", "a=b", "v"},
      {"S", ";k", "v"},   {"S", "[k", "v"},   {"S\n[T]", "k", "v"},
      {"S]x", "k", "v"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(WriteProfileString(b.section, b.key, b.value, file)) << b.key << b.value;
  }
  EXPECT_EQ(ReadFile(file), "[S]\nk=1\n");
}

TEST_F(ProfileTest, ABatchIsWrittenWholeOrNotAtAll) {
  WriteFile(file, "; mine\n[A]\nx=1\n");
  ASSERT_TRUE(WriteProfileStrings({{"A", "x", "2"}, {"B", "y", "3"}, {"A", "z", "4"}}, file));
  EXPECT_EQ(ReadFile(file), "; mine\n[A]\nx=2\nz=4\n[B]\ny=3\n");
  // One refused entry refuses the batch: the entries before it are not written either.
  EXPECT_FALSE(WriteProfileStrings({{"A", "x", "5"}, {"A", "bad\nkey", "6"}}, file));
  EXPECT_EQ(ReadFile(file), "; mine\n[A]\nx=2\nz=4\n[B]\ny=3\n");
}

TEST_F(ProfileTest, CreatesMissingFolders) {
  std::string deep = dir / "a/b/c/Obrin.ini";
  ASSERT_TRUE(WriteProfileString("S", "k", "v", deep));
  EXPECT_EQ(ReadFile(deep), "[S]\nk=v\n");
  struct stat st {};
  ASSERT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(ProfileTest, ReplacesTheFileAtomically) {
  WriteFile(file, "[S]\nk=1\n");
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ino_t before = InodeOf(file);
  ASSERT_TRUE(WriteProfileString("S", "k", "2", file));
  EXPECT_NE(InodeOf(file), before) << "rewritten in place instead of renamed over";
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"test.ini"});
}

TEST_F(ProfileTest, FollowsASymbolicLink) {
  std::string real = dir / "real.ini";
  WriteFile(real, "[S]\nk=1\n");
  ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
  ASSERT_TRUE(WriteProfileString("S", "k", "2", file));
  struct stat st {};
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
}

TEST_F(ProfileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string old = "[S]\nk=1\n";
  WriteFile(file, old);
  // A file-size limit makes the temporary file's write fail, even for root.
  bool written;
  {
    ScopedFileSizeLimit tiny(64);
    written = WriteProfileString("S", "k", std::string(500, 'x'), file);
  }

  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFile(file), old);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"test.ini"});
}

TEST_F(ProfileTest, UnwritableTargetsReturnFalse) {
  WriteFile(dir / "plainfile", "x");
  EXPECT_FALSE(WriteProfileString("S", "k", "v", dir / "plainfile/sub/a.ini"));
  ASSERT_EQ(mkdir((dir / "adir").c_str(), 0700), 0);
  EXPECT_FALSE(WriteProfileString("S", "k", "v", dir / "adir"));
  EXPECT_EQ(FolderEntries(dir / "adir").size(), 0u);

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetProfileString("S", "k", "fb", dir / "fifo"), "fb");  // must not block
  EXPECT_FALSE(WriteProfileString("S", "k", "v", dir / "fifo"));
  if (geteuid() == 0) return;  // root writes into read-only folders
  ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
  EXPECT_FALSE(WriteProfileString("S", "k", "2", file));
  ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
}

TEST_F(ProfileTest, SurvivesGarbage) {
  std::mt19937 random(12345);
  std::string garbage(256 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  WriteFile(file, garbage);
  EXPECT_EQ(Get("Output", "Path", "fb"), "fb");
  ASSERT_TRUE(WriteProfileString("Output", "Path", "/music", file));
  std::string after = ReadFile(file);
  EXPECT_EQ(after.compare(0, garbage.size(), garbage), 0) << "garbage was not kept";
  EXPECT_EQ(Get("Output", "Path"), "/music");

  // One 8 MiB line without a newline, then a key after it.
  WriteFile(file, "[S]\nk=" + std::string(8 << 20, 'z'));
  EXPECT_EQ(Get("S", "k").size(), 1023u);
  ASSERT_TRUE(WriteProfileString("S", "j", "1", file));
  EXPECT_EQ(Get("S", "j"), "1");
  EXPECT_EQ(Get("S", "k").size(), 1023u);
}

}  // namespace
