// The registry stand-in: its text form, its keys and values, and the file updates that two
// processes make at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/com/registry.h"
#include "tests/support/temp_dir.h"

namespace vmk::com {
namespace {

RegistryTree Parse(const std::string& text) {
  std::string error;
  std::optional<RegistryTree> t = ParseRegistry(text, &error);
  EXPECT_TRUE(t) << error;
  return t.value_or(RegistryTree{});
}

std::string ParseError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseRegistry(text, &error));
  return error;
}

TEST(RegistryTree, NamesIgnoreLetterCaseAndKeepTheirSpelling) {
  RegistryTree t;
  ASSERT_TRUE(t.SetValue("HKCR\\CLSID\\{AB}\\InprocServer32", "ThreadingModel", "both"));
  EXPECT_EQ(t.Value("hkey_classes_root\\clsid\\{ab}\\inprocserver32", "threadingmodel"), "both");
  EXPECT_TRUE(t.HasKey("HKEY_CLASSES_ROOT\\CLSID"));
  EXPECT_EQ(t.SubKeys("HKCR\\clsid"), (std::vector<std::string>{"{AB}"}));
  ASSERT_TRUE(t.SetValue("HKCR\\clsid\\{ab}", "", "default"));
  EXPECT_EQ(FormatRegistry(t),
            "; The K40xx driver's COM registry: keys and their values, written by registration.\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{AB}]\n@=\"default\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{AB}\\InprocServer32]\n\"ThreadingModel\"=\"both\"\n");
  // Not key paths: no root, an empty name, a line break.
  EXPECT_FALSE(t.CreateKey("CLSID\\{AB}"));
  EXPECT_FALSE(t.CreateKey("HKCR\\CLSID\\\\x"));
  EXPECT_FALSE(t.SetValue("HKCR\\A\nB", "", "x"));
  EXPECT_FALSE(t.SetValue("HKCR", "", "roots hold no values"));
}

TEST(RegistryTree, DeletingAKeyTakesItsSubtreeAndNothingElse) {
  RegistryTree t;
  t.SetValue("HKCR\\Foo\\Sub\\Deeper", "", "1");
  t.SetValue("HKCR\\Foo Bar", "", "2");
  t.SetValue("HKCR\\Foo.1", "", "3");
  t.SetValue("HKCR\\Foo", "x", "4");
  EXPECT_TRUE(t.DeleteKey("hkcr\\FOO"));
  EXPECT_FALSE(t.HasKey("HKCR\\Foo\\Sub"));
  EXPECT_EQ(t.Value("HKCR\\Foo Bar", ""), "2");
  EXPECT_EQ(t.Value("HKCR\\Foo.1", ""), "3");
  EXPECT_EQ(t.KeyCount(), 2u);
  EXPECT_FALSE(t.DeleteKey("HKCR\\Foo"));
}

TEST(RegistryText, EscapesReadBackToTheSameValues) {
  RegistryTree t;
  t.SetValue("HKLM\\SOFTWARE\\IVI", "Odd \"name\"", "back\\slash \"quoted\"\nline\ttab\x01");
  t.SetValue("HKLM\\SOFTWARE\\IVI", "IviStandardRootDir", "/opt/ivi/");
  const std::string text = FormatRegistry(t);
  EXPECT_NE(text.find("\"Odd \\\"name\\\"\"=\"back\\\\slash \\\"quoted\\\"\\nline\\ttab\\x01\""),
            std::string::npos)
      << text;
  RegistryTree back = Parse(text);
  EXPECT_TRUE(back == t);
  EXPECT_EQ(back.Value("HKLM\\SOFTWARE\\IVI", "odd \"NAME\""),
            "back\\slash \"quoted\"\nline\ttab\x01");
  // Written by hand: blanks, comments and CR LF line ends are fine.
  RegistryTree hand = Parse("# comment\r\n[HKCU\\A]\r\n  \"v\" = \"1\"  \r\n; more\n@=\"d\"");
  EXPECT_EQ(hand.Value("HKEY_CURRENT_USER\\A", "v"), "1");
  EXPECT_EQ(hand.Value("HKEY_CURRENT_USER\\A", ""), "d");
}

TEST(RegistryText, DamagedTextsSayWhereAndWhy) {
  EXPECT_EQ(ParseError("[HKCR\\A]\n@=\"1\"\n\"B\"=\"cut he"),
            "line 3: the string has no closing '\"'");
  EXPECT_EQ(ParseError("[HKCR\\A]\n@=\"1\"\n[HKCR\\B"), "line 3: a key line must end with ']'");
  EXPECT_EQ(ParseError("<?xml version=\"1.0\"?>\n<IviConfigStore/>"),
            "line 1: not a key, a value or a comment");
  EXPECT_EQ(ParseError("@=\"x\""), "line 1: a value before the first key");
  EXPECT_EQ(ParseError("[Software\\X]"), "line 1: \"Software\\X\" is not a key path");
  EXPECT_EQ(ParseError("[HKCR\\A]\n\"v\"=\"\\q\""), "line 2: unknown escape \\q");
  EXPECT_EQ(ParseError("[HKCR\\A]\n\"v\"=\"1\" \"2\""), "line 2: text after the value");
  EXPECT_EQ(ParseError(std::string("[HKCR\\A]\n\n@=\"a\0b\"", 17)),
            "line 3: a NUL byte: this is not a registry text file");
  EXPECT_TRUE(Parse("").KeyCount() == 0);
}

class RegistryFile : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string file = dir / "reg/registry.reg";
  test::ScopedEnv env{"VMK40XX_REGISTRY", file};
};

TEST_F(RegistryFile, UpdatesReplaceTheFileAndLeaveNothingBeside) {
  std::string error;
  EXPECT_EQ(ReadRegistryValue("HKLM\\SOFTWARE\\IVI", "IviStandardRootDir"), std::nullopt);
  ASSERT_EQ(UpdateRegistry(
                [](RegistryTree& t) {
                  t.SetValue("HKLM\\SOFTWARE\\IVI", "IviStandardRootDir", "/opt/ivi");
                },
                &error),
            S_OK)
      << error;
  EXPECT_EQ(ReadRegistryValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI", "ivistandardrootdir"),
            "/opt/ivi");
  EXPECT_EQ(test::Listing(dir / "reg"),
            (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryFile, ADamagedOrUnreadableFileIsLeftAsItIsAndReadsAsEmpty) {
  std::filesystem::create_directories(dir / "reg");
  const std::string damaged = "[HKLM\\SOFTWARE\\IVI]\n\"IviStandardRootDir\"=\"/opt/iv";
  test::WriteFile(file, damaged);
  std::string error;
  bool ran = false;
  EXPECT_EQ(UpdateRegistry([&](RegistryTree&) { ran = true; }, &error), REGDB_E_READREGDB);
  EXPECT_FALSE(ran);
  EXPECT_EQ(error, "the registry file " + file +
                       " is damaged (line 2: the string has no closing '\"'); it was left as it "
                       "is: repair or remove it, then register again");
  EXPECT_EQ(test::ReadFile(file), damaged);
  EXPECT_EQ(ReadRegistryValue("HKLM\\SOFTWARE\\IVI", "IviStandardRootDir"), std::nullopt);

  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_EQ(UpdateRegistry([&](RegistryTree&) { ran = true; }, &error), REGDB_E_READREGDB);
  EXPECT_EQ(error, "the registry cannot read " + file + ": not a regular file");
  EXPECT_TRUE(std::filesystem::is_directory(file));
  EXPECT_EQ(ReadRegistryValue("HKLM\\SOFTWARE\\IVI", "IviStandardRootDir"), std::nullopt);
}

TEST_F(RegistryFile, ProcessesUpdatingAtOnceLoseNoKey) {
  constexpr int kProcesses = 6, kKeys = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        std::string error;
        const std::string key = "HKCR\\Test\\P" + std::to_string(p) + "\\K" + std::to_string(k);
        failures +=
            UpdateRegistry([&](RegistryTree& t) { t.SetValue(key, "", "v"); }, &error) != S_OK;
      }
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string error;
  std::optional<RegistryTree> t = ParseRegistry(test::ReadFile(file), &error);
  ASSERT_TRUE(t) << error;
  for (int p = 0; p < kProcesses; ++p) {
    EXPECT_EQ(t->SubKeys("HKCR\\Test\\P" + std::to_string(p)).size(), size_t{kKeys}) << p;
  }
}

TEST(RegistryLocation, TheVariableAloneElseTheUsersFileOverTheSystemsFile) {
  {
    test::ScopedEnv reg("VMK40XX_REGISTRY", "/tmp/x/registry.reg");
    RegistryFiles f = LocateRegistry();
    EXPECT_EQ(f.writable, "/tmp/x/registry.reg");
    EXPECT_TRUE(f.readOnly.empty());
  }
  test::ScopedEnv reg("VMK40XX_REGISTRY", std::nullopt);
  test::ScopedEnv home("HOME", "/home/lab");
  {
    test::ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(LocateRegistry().writable, "/cfg/vmk40xx/registry.reg");
  }
  test::ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  RegistryFiles f = LocateRegistry();
  EXPECT_EQ(f.writable, "/home/lab/.config/vmk40xx/registry.reg");
  EXPECT_EQ(f.readOnly, (std::vector<std::string>{"/etc/vmk40xx/registry.reg"}));
}

}  // namespace
}  // namespace vmk::com
