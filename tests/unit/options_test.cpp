// Option store: scopes, fallback, limits, KNOWN aliases, settings file.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "options/options.h"
#include "tests/support/testkit.h"

namespace {

struct Store : ::testing::Test {
  OptionStore s{};
  ~Store() override { s.release(); }
  std::string capture_set(int d, const char *k, const char *v, int *result = nullptr) {
    testing::internal::CaptureStdout();
    int r = s.set(d, k, v);
    if (result) *result = r;
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(Store, DisplayValueWinsOnlyForItsDisplay) {
  s.set(-1, "scale", "1.5");
  s.set(2, "scale", "3");
  EXPECT_STREQ(s.find(2, "scale", false), "3");
  EXPECT_STREQ(s.find(0, "scale", false), "1.5");
  EXPECT_STREQ(s.find(-1, "scale", false), "1.5");
  EXPECT_EQ(s.find(1, "other", false), nullptr);
}

TEST_F(Store, BadDisplayIndexReportsAndStoresNothing) {
  int r = 0;
  EXPECT_EQ(capture_set(4, "x", "1", &r), "unknown display :4\n");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(capture_set(-2, "x", "1", &r), "unknown display :-2\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.find(4, "x", true), nullptr);
  EXPECT_EQ(s.find(-1, "x", false), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "unknown display :4\n");
}

TEST_F(Store, SixtyFirstKeyFailsButExistingKeysStillChange) {
  for (int i = 0; i < 60; ++i) ASSERT_EQ(s.set(1, ("k" + std::to_string(i)).c_str(), "v"), 1);
  int r = 1;
  EXPECT_EQ(capture_set(1, "k60", "v", &r), "nbr of options exceeded\n");
  EXPECT_EQ(r, 0);
  EXPECT_EQ(s.set(1, "k7", "changed"), 1);
  EXPECT_STREQ(s.find(1, "k7", false), "changed");
  // Other scopes are unaffected.
  EXPECT_EQ(s.set(2, "k60", "v"), 1);
}

TEST_F(Store, LongKeysAreCutToNineteenCharacters) {
  const char *key25 = "abcdefghijklmnopqrstuvwxy";
  s.set(-1, key25, "v");
  EXPECT_STREQ(s.scopes[0][0].key, "abcdefghijklmnopqrs");
  EXPECT_EQ(s.find(-1, key25, false), nullptr);
  EXPECT_STREQ(s.find(-1, "abcdefghijklmnopqrs", false), "v");
}

TEST_F(Store, ReadersUseCConversions) {
  s.set(-1, "n", "   1024");
  s.set(-1, "w", "letters");
  s.set(-1, "r", "2.5xyz");
  EXPECT_EQ(s.get_int(-1, "n", false, 7), 1024);
  EXPECT_EQ(s.get_int(-1, "w", false, 7), 0);
  EXPECT_DOUBLE_EQ(s.get_double(-1, "r", false, 0), 2.5);
  EXPECT_EQ(s.get_int(-1, "missing", false, 7), 7);
  testing::internal::CaptureStdout();
  EXPECT_STREQ(s.get_text(-1, "missing", true, "dflt"), "dflt");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "not found 'missing'\n");
}

TEST_F(Store, KnownAliasesAndUnlistedWarning) {
  s.set(-1, "KNOWN", "+lp.f=cut +lp.r");
  EXPECT_EQ(capture_set(-1, "cut", "500"), "");
  EXPECT_STREQ(s.find(-1, "lp.f", false), "500");
  EXPECT_STREQ(s.find(-1, "cut", false), "500");
  EXPECT_EQ(capture_set(-1, "lp.x", "1"),
            "warning: 'lp.x' could be an unknown option (see option KNOWN)\n");
  EXPECT_STREQ(s.find(-1, "lp.x", false), "1");
  EXPECT_FALSE(s.is_unlisted("lp.r"));
  EXPECT_FALSE(s.is_unlisted("KNOWN"));
}

TEST_F(Store, KnownWithoutPlusIsReportedAsWrongBuild) {
  s.set(-1, "KNOWN", "lp.f=cut");
  s.set(-1, "cut", "1");  // stored under cut itself
  testing::internal::CaptureStdout();
  const char *v = s.find(-1, "cut", false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "KNOWN variable is wrong build (+key=alias +key +key=alias ...)\n");
  EXPECT_STREQ(v, "1");
}

TEST_F(Store, AliasOfOverlongKnownKeyStaysInsideTheBuffer) {
  s.set(-1, "KNOWN", "+averyveryverylongkeyname_beyond=al");
  char buf[20];
  const char *r = s.resolve_alias("al", buf);
  EXPECT_EQ(std::string(r), "averyveryverylongke");
}

TEST_F(Store, AliasToNoKeyIsIgnoredAndLosesNothing) {
  s.set(-1, "KNOWN", "+=b +c");
  EXPECT_EQ(capture_set(-1, "b", "1"), "*** warning: alias 'b' in KNOWN stands for no key, ignored\n");
  s.set(-1, "c", "2");
  testing::internal::CaptureStdout();
  EXPECT_STREQ(s.find(-1, "b", true), "1");
  EXPECT_STREQ(s.find(-1, "c", false), "2");
  testing::internal::GetCapturedStdout();
  for (const OptionEntry &e : s.scopes[0])
    if (e.key[0] == 0) {
      EXPECT_EQ(e.value, nullptr);  // no value hides behind a free entry
    }
}

struct SettingsFile : Store {
  std::string dir = testkit::make_temp_dir("opts");
  int load(const std::string &text) {
    std::string p = dir + "/rc";
    testkit::write_file(p, text);
    testing::internal::CaptureStdout();
    int r = s.load_file(p.c_str());
    output = testing::internal::GetCapturedStdout();
    return r;
  }
  std::string output;
};

TEST_F(SettingsFile, ValueKeepsItsBlanksAndCommentsOnlyInColumnOne) {
  EXPECT_EQ(load("# comment\n\n:1 style   fft\r\n  # word\nkey value with blanks\n"), 1);
  EXPECT_STREQ(s.find(1, "style", false), "  fft");
  EXPECT_STREQ(s.find(-1, "#", false), "word");
  EXPECT_STREQ(s.find(-1, "key", false), "value with blanks");
}

TEST_F(SettingsFile, KeyWithoutValueStopsReading) {
  EXPECT_EQ(load("a 1\nlonely\nb 2\n"), 0);
  EXPECT_STREQ(s.find(-1, "a", false), "1");
  EXPECT_EQ(s.find(-1, "b", false), nullptr);
}

TEST_F(SettingsFile, MissingFileIsNoError) { EXPECT_EQ(s.load_file("/nonexistent/rc"), 1); }

TEST_F(SettingsFile, EndlessFileIsNotRead) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.load_file("/dev/zero"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "*** warning: settings file '/dev/zero' is not a regular file, not read\n");
}

TEST_F(SettingsFile, LongLinesAreReadInPiecesWithoutOverrun) {
  // The first 1023 characters make one line; the rest of the line is a piece
  // of its own, here a key without a value, which stops the reading.
  std::string long_value(3000, 'v');
  EXPECT_EQ(load("big " + long_value + "\nafter 1\n"), 0);
  const char *big = s.find(-1, "big", false);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(strlen(big), 1023u - 4u);
  EXPECT_EQ(s.find(-1, "after", false), nullptr);
  // Pieces that do hold a key and a value are stored like lines.
  EXPECT_EQ(load("pad " + std::string(1019, 'p') + "tail 2\nafter 1\n"), 1);
  EXPECT_STREQ(s.find(-1, "tail", false), "2");
  EXPECT_STREQ(s.find(-1, "after", false), "1");
}

// Wrapped round, these would name display 0 or the global scope.
TEST_F(SettingsFile, IndexesBeyondIntNameNoDisplayInSetOrSettingsFile) {
  EXPECT_EQ(load(":4294967295 style fft\n:99999999999999999999 scale 5\n:4294967296 x 3\nlast 1\n"), 1);
  EXPECT_EQ(output, "unknown display :4294967295\nunknown display :99999999999999999999\nunknown display :4294967296\n");
  EXPECT_STREQ(s.find(-1, "last", false), "1");
  EXPECT_EQ(s.scopes[0][1].key[0], 0);

  g_options.release();
  testing::internal::CaptureStdout();
  for (const char *typed : {"set :4294967295 style fft", "set :-4294967297 scale 5", "set :4294967296 x"}) {
    std::string line = typed;
    int display = 0;
    EXPECT_EQ(set_line(&line[0], &display), kSetDone);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "unknown display :4294967295\nunknown display :-4294967297\nunknown display :4294967296\nx -> (null)\n");
  for (auto &scope : g_options.scopes) EXPECT_EQ(scope[0].key[0], 0);
}

TEST_F(Store, IntegersBeyondIntReadAsTheNearerLimit) {
  s.set(-1, "up", "4294967296");
  s.set(-1, "down", " -99999999999999999999x");
  s.set(-1, "edge", "2147483647");
  EXPECT_EQ(s.get_int(-1, "up", false, 0), INT_MAX);
  EXPECT_EQ(s.get_int(-1, "down", false, 0), INT_MIN);
  EXPECT_EQ(s.get_int(-1, "edge", false, 0), INT_MAX);
}

TEST_F(SettingsFile, SixtyOneKeysStopAtTheFullScope) {
  std::string text;
  for (int i = 0; i < 61; ++i) text += "k" + std::to_string(i) + " v\n";
  text += "late 1\n";
  EXPECT_EQ(load(text), 0);
  EXPECT_NE(output.find("nbr of options exceeded"), std::string::npos);
  EXPECT_STREQ(s.find(-1, "k59", false), "v");
  EXPECT_EQ(s.find(-1, "late", false), nullptr);
}

TEST_F(SettingsFile, BinaryGarbageIsHandledSafely) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk.push_back(static_cast<char>((i * 131 + 7) % 256));
  load(junk);  // whatever it stores, it must neither crash nor overrun
  for (auto &scope : s.scopes)
    for (auto &e : scope) EXPECT_LE(strlen(e.key), 19u);
}

TEST_F(Store, PrintAllListsGlobalFirst) {
  s.set(1, "style", "fft");
  s.set(-1, "tuna", "440");
  testing::internal::CaptureStdout();
  s.print_all();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "DISPLAY\t    OPTION\tVALUE\n-----------------------------\n"
            ":*\t      tuna\t440\n:1\t     style\tfft\n");
}

}  // namespace
