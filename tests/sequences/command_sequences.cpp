// Random command sequences against the real program, with a window and the
// file-backed sound card: any sequence must leave it alive, quiet under the
// sanitizers, answering, with its inputs untouched and whole WAV outputs.
//
//   command_sequences --seed N --seconds S [--save FILE]   random sessions
//   command_sequences --replay FILE                        kept cases
//
// A failing session is cut down to a shortest failing command list, which is
// printed (and appended to --save) for the regression file. Lines that begin
// with '~' are the driver's own: "~pause MS", "~drag X1 Y1 X2 Y2 BUTTON",
// "~key K".
#include <X11/Xlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using Commands = std::vector<std::string>;

const char kPrompt[] = "yelm--scope$ ";
// Whole-file commands on a quarter second, under the sanitizers, with a
// machine shared with builds: a minute is generous.
constexpr int kAnswerMs = 60000;

// The files a session starts with; none may change.
const char *const kInputs[] = {"in.wav", "mono.wav", "tiny.wav", "cb.txt", "field"};
const char *const kOutputs[] = {"o1.wav", "o2.wav", "sub/o3.wav"};

std::string pick(std::mt19937 &g, const std::vector<std::string> &from) {
  return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(g)];
}

int between(std::mt19937 &g, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); }

std::string display(std::mt19937 &g) {
  return pick(g, {":0", ":1", ":2", ":3", ":0", ":1", ":2", ":3", ":4", ":-1", ":x", ":"});
}

std::string set_line(std::mt19937 &g) {
  static const std::vector<std::string> styles = {"hide", "fft",  "c5",     "c5c",     "wlet",   "w2d",
                                                  "ifs",  "iviv", "spiral", "transform", "origami", "mirror",
                                                  "FFT",  "nope", ""};
  const int what = between(g, 0, 20);
  const std::string d = display(g);
  switch (what) {
    case 0: case 1: case 2: case 3: case 4:
      return "set " + d + " style " + pick(g, styles);
    case 5: return "set " + d + " x " + pick(g, {"-1", "1", "0", "0.5", "1e300", "nan", "-inf", "abc"});
    case 6: return "set " + d + " y " + pick(g, {"-1", "1", "0.3", "-1e300", "nan"});
    case 7: return "set " + d + " scale " + pick(g, {"1", "2", "0.1", "0", "-3", "1e308", "nan"});
    case 8: return "set " + d + " wlet.detail " + pick(g, {"0", "1", "-1", "99"});
    case 9: return "set " + d + " quadrant " + pick(g, {"0", "1", "2", "3", "4", "7", "-1", "-2147483648"});
    case 10: return "set " + d + " beat " + pick(g, {"0", "1", "60", "126", "127", "500", "-1", "-2147483648"});
    case 11: return "set " + d + " o.depth " + pick(g, {"0", "3", "12", "13", "-1", "99999"});
    case 12: return "set " + d + " tuna " + pick(g, {"440", "55", "20000", "0", "-5", "1e300", "nan", "inf", "x"});
    case 13: return "set " + d + " m.growth " + pick(g, {"1", "0.8", "1.2", "0", "-1", "nan", "x"});
    case 14: return "set " + d + " m.bass " + pick(g, {"10", "100", "1", "0", "-5", "nan"});
    case 15: return "set " + d + " m.iter " + pick(g, {"10", "0", "1", "-3", "100"});
    case 16:
      return "set " + pick(g, {"acqdelay", "guidelay"}) + " " + pick(g, {"1", "2", "3", "0", "-4", "x"});
    case 17: return "set transformdelay " + pick(g, {"0", "1", "2", "300", "-2", "2147483647"});
    case 18:
      return "set " + pick(g, {"relh", "hshrink"}) + " " + pick(g, {"0.66", "1", "0", "-2", "3", "nan", "1e300"});
    case 19:
      return "set " + d + " source " + pick(g, {"card.left", "card.right", "file.left", "file.right", "file", "3"});
    default: {
      const std::string key = pick(g, {"e.maxoct", "e.fpermu", "e.damp", "e.alpha", "e.scale", "s.passes", "s.gain",
                                       "s.file", "r.lo", "r.hi", "r.mode", "r.iter", "u.depth", "u.maxoct"});
      if (key == "s.file") return "set s.file " + pick(g, {"field", "nofield", "in.wav", "/dev/null"});
      if (key == "e.maxoct" || key == "u.maxoct") return "set " + key + " " + pick(g, {"0", "3", "9", "12", "-1"});
      return "set " + key + " " + pick(g, {"1", "0", "2", "-1", "0.5", "30000", "1000000", "nan", "b"});
    }
  }
}

std::string file_line(std::mt19937 &g) {
  const std::string in = pick(g, {"in.wav", "in.wav", "mono.wav", "tiny.wav", "missing.wav", "cb.txt"});
  // An input named as the output must be refused; no other input is.
  std::string out = pick(g, {"o1.wav", "o2.wav", "sub/o3.wav", "o1.wav", "=", "/dev/null", "ofifo", "nodir/o.wav"});
  if (out == "=") out = in;
  switch (between(g, 0, 7)) {
    case 0: return "fold " + out + " " + in;
    case 1: return "reconstruct " + out + " " + in + " " + pick(g, {"cb.txt", "cb.txt", "missing.txt", "in.wav"});
    case 2: return "tstring " + out + " " + in;
    case 3: return "tether " + out + " " + in;
    case 4: return "tfield " + out + " " + in;
    case 5: return "mirage " + out + " " + in;
    case 6: return "unfold " + out + " " + in;
    default: return pick(g, {"tstring", "tether", "tfield", "mirage"}) + " " + in;
  }
}

std::string any_line(std::mt19937 &g) {
  const int what = between(g, 0, 99);
  if (what < 35) return set_line(g);
  if (what < 47) return file_line(g);
  if (what < 55) return pick(g, {"tstring", "tether", "tfield", "mirage"});
  if (what < 63) return pick(g, {"plot in.wav", "plot mono.wav", "plot", "plot missing.wav", "plot tiny.wav"});
  if (what < 67) return "mute";
  if (what < 71) return "analyse " + display(g) + " " + pick(g, {"l0.txt", "l1.txt", "sub/l2.txt"});
  if (what < 73) return "analyse";
  if (what < 75) return "set VIEWPORT";
  if (what < 78) return "set " + display(g) + " SLICE";
  if (what < 79) return pick(g, {"help", "history", "set KNOWN", "bogus"});
  if (what < 87)
    return "~drag " + std::to_string(between(g, 0, 399)) + " " + std::to_string(between(g, 0, 399)) + " " +
           std::to_string(between(g, 0, 399)) + " " + std::to_string(between(g, 0, 399)) + " " +
           std::to_string(between(g, 1, 3));
  if (what < 89) return pick(g, {"~key p", "~key p", "~key r", "~key f"});
  return "~pause " + std::to_string(between(g, 50, 1500));
}

struct Session {
  std::string dir;
  std::string failure;  // empty: it passed
  std::string transcript;
};

bool make_files(const std::string &dir) {
  mkdir((dir + "/sub").c_str(), 0755);
  bool ok = testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 11025, {{440, 0.4}, {660, 0.2}}));
  ok = ok && testkit::write_wav(dir + "/mono.wav", testkit::sine_wav(22050, 5000, {{300, 0.5}}, 1));
  ok = ok && testkit::write_wav(dir + "/tiny.wav", testkit::sine_wav(44100, 300, {{440, 0.4}}));
  ok = ok && testkit::write_file(dir + "/cb.txt", "0 5 6 0.5 0.25\n0.01 20 6 0.4 0.2\n0.02 7 10 0.3 0.1\n");
  ok = ok && testkit::write_file(dir + "/field",
                                 testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/field"));
  ok = ok && mkfifo((dir + "/ofifo").c_str(), 0644) == 0;
  return ok;
}

// The header of a WAV output must tell the length that is there.
std::string check_output(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  const std::string bytes = testkit::read_file(path);
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0) return "'" + path + "' is not a readable WAV";
  auto le32 = [&](size_t p) {
    return uint32_t(uint8_t(bytes[p])) | uint32_t(uint8_t(bytes[p + 1])) << 8 | uint32_t(uint8_t(bytes[p + 2])) << 16 |
           uint32_t(uint8_t(bytes[p + 3])) << 24;
  };
  if (le32(4) != bytes.size() - 8 || le32(40) != bytes.size() - 44)
    return "'" + path + "' has header sizes " + std::to_string(le32(4)) + "/" + std::to_string(le32(40)) +
           " for " + std::to_string(bytes.size()) + " bytes";
  return "";
}

std::string sanitizer_report(const std::string &text) {
  for (const char *mark : {"runtime error:", "AddressSanitizer", "LeakSanitizer", "ThreadSanitizer"}) {
    const size_t at = text.find(mark);
    if (at != std::string::npos) return text.substr(at, 600);
  }
  return "";
}

int prompts(const std::string &text) { return testkit::count(text, kPrompt); }

// Runs one command list in a fresh folder; the first fault ends it.
Session run(const Commands &commands, Display *dpy) {
  Session s;
  s.dir = testkit::make_temp_dir("sequences");
  if (!make_files(s.dir)) {
    s.failure = "cannot make the session's files in " + s.dir;
    return s;
  }
  std::vector<std::string> originals;
  for (const char *f : kInputs) originals.push_back(testkit::read_file(s.dir + "/" + f));

  livekit::Yelm y;
  if (!y.start(s.dir, dpy != nullptr, true)) {
    s.failure = "cannot start yelm";
    return s;
  }
  Window w = 0;
  int sent = 0;
  auto fail = [&](const std::string &why) {
    s.failure = why;
    y.pump(300);
    s.transcript = y.text;
  };
  if (!y.wait_for(kPrompt, kAnswerMs)) {
    fail("no first prompt");
    return s;
  }
  for (const std::string &c : commands) {
    if (c.rfind("~pause ", 0) == 0) {
      y.pump(atoi(c.c_str() + 7));
    } else if (c.rfind("~", 0) == 0) {
      if (!dpy) continue;
      if (!w) w = livekit::wait_window(dpy, y.pid, 20000);
      if (!w) {
        fail("no window");
        return s;
      }
      const std::string id = std::to_string(w);
      int x1, y1, x2, y2, b;
      if (sscanf(c.c_str(), "~drag %d %d %d %d %d", &x1, &y1, &x2, &y2, &b) == 5)
        livekit::xdotool("mousemove --window " + id + " " + std::to_string(x1) + " " + std::to_string(y1) +
                         " mousedown " + std::to_string(b) + " mousemove --window " + id + " " + std::to_string(x2) +
                         " " + std::to_string(y2) + " mouseup " + std::to_string(b));
      else if (c.rfind("~key ", 0) == 0)
        livekit::xdotool("key --window " + id + " " + c.substr(5));
    } else {
      y.send(c);
      ++sent;
      const auto start = std::chrono::steady_clock::now();
      while (prompts(y.text) < sent + 1) {
        if (y.wait_exit(50)) break;
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kAnswerMs)) break;
      }
      if (y.pid < 0) {
        fail("the program ended (status " + std::to_string(y.status) + ") after: " + c);
        return s;
      }
      if (prompts(y.text) < sent + 1) {
        fail("no prompt within " + std::to_string(kAnswerMs / 1000) + " s after: " + c);
        return s;
      }
    }
    const std::string report = sanitizer_report(y.text);
    if (!report.empty()) {
      fail("sanitizer report after: " + c + "\n" + report);
      return s;
    }
  }
  y.send("exit");
  if (!y.wait_exit(30000)) {
    fail("exit did not end the program");
    return s;
  }
  s.transcript = y.text;
  const std::string report = sanitizer_report(y.text);
  if (!report.empty()) s.failure = "sanitizer report at the end\n" + report;
  else if (y.status != 0) s.failure = "exit status " + std::to_string(y.status);
  for (size_t i = 0; s.failure.empty() && i < originals.size(); ++i)
    if (testkit::read_file(s.dir + "/" + kInputs[i]) != originals[i])
      s.failure = std::string("input '") + kInputs[i] + "' changed";
  for (const char *o : kOutputs)
    if (s.failure.empty()) s.failure = check_output(s.dir + "/" + o);
  return s;
}

void print_list(FILE *f, const Commands &commands) {
  for (const std::string &c : commands) fprintf(f, "%s\n", c.c_str());
}

// The shortest list that still fails, by removing ever smaller chunks.
Commands shorten(Commands commands, Display *dpy, std::chrono::steady_clock::time_point until) {
  for (size_t chunk = commands.size() / 2; chunk >= 1; chunk /= 2) {
    for (size_t at = 0; at < commands.size();) {
      if (std::chrono::steady_clock::now() > until) return commands;
      Commands shorter(commands.begin(), commands.begin() + at);
      shorter.insert(shorter.end(), commands.begin() + std::min(at + chunk, commands.size()), commands.end());
      if (!shorter.empty() && !run(shorter, dpy).failure.empty()) {
        commands = shorter;
        printf("  still fails with %zu commands\n", commands.size());
        fflush(stdout);
      } else {
        at += chunk;
      }
    }
  }
  return commands;
}

// Lists separated by blank lines; '#' lines are comments.
std::vector<Commands> read_cases(const std::string &path) {
  std::vector<Commands> cases(1);
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      if (!cases.back().empty()) cases.emplace_back();
      continue;
    }
    cases.back().push_back(line);
  }
  if (cases.back().empty()) cases.pop_back();
  return cases;
}

}  // namespace

int main(int argc, char **argv) {
  unsigned seed = 1;
  int seconds = 60;
  std::string replay, save;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--seed") seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
    else if (a == "--seconds") seconds = atoi(argv[i + 1]);
    else if (a == "--replay") replay = argv[i + 1];
    else if (a == "--save") save = argv[i + 1];
  }
  // The sanitizers report and stop; a huge request is the program's to refuse.
  setenv("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=1:verify_asan_link_order=0", 0);
  setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
  setenv("LSAN_OPTIONS", "suppressions=" YELM_SOURCE_DIR "/tests/support/lsan.supp", 0);
  Display *dpy = livekit::have_display() ? XOpenDisplay(nullptr) : nullptr;
  if (!dpy) printf("no display: mouse and keys are left out\n");

  if (!replay.empty()) {
    const std::vector<Commands> cases = read_cases(replay);
    int failed = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
      Session s = run(cases[i], dpy);
      printf("case %zu (%zu commands): %s\n", i + 1, cases[i].size(), s.failure.empty() ? "ok" : s.failure.c_str());
      if (!s.failure.empty()) {
        ++failed;
        printf("%s\n", s.transcript.substr(s.transcript.size() > 4000 ? s.transcript.size() - 4000 : 0).c_str());
      }
    }
    printf("%zu passed, %d failed\n", cases.size() - failed, failed);
    return failed ? 1 : 0;
  }

  printf("seed %u, %d s\n", seed, seconds);
  fflush(stdout);
  std::mt19937 g(seed);
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::seconds(seconds);
  int sessions = 0, commands_sent = 0, faults = 0;
  while (std::chrono::steady_clock::now() < until) {
    Commands list;
    const int n = between(g, 10, 60);
    for (int i = 0; i < n; ++i) list.push_back(any_line(g));
    Session s = run(list, dpy);
    ++sessions;
    for (const std::string &c : list) commands_sent += c[0] != '~';
    if (s.failure.empty()) continue;
    ++faults;
    printf("FAULT (seed %u, session %d): %s\n", seed, sessions, s.failure.c_str());
    printf("--- transcript tail\n%s\n--- commands\n",
           s.transcript.substr(s.transcript.size() > 3000 ? s.transcript.size() - 3000 : 0).c_str());
    print_list(stdout, list);
    fflush(stdout);
    // Cutting down may take a while: up to five minutes past the budget.
    Commands shortest = shorten(list, dpy, std::chrono::steady_clock::now() + std::chrono::minutes(5));
    printf("--- shortest failing list (%zu commands)\n", shortest.size());
    print_list(stdout, shortest);
    if (!save.empty()) {
      if (FILE *f = fopen(save.c_str(), "a")) {
        fprintf(f, "# seed %u: %s\n", seed, s.failure.substr(0, s.failure.find('\n')).c_str());
        print_list(f, shortest);
        fprintf(f, "\n");
        fclose(f);
      }
    }
    break;
  }
  printf("%d sessions, %d commands, %d faults, %.0f s\n", sessions, commands_sent, faults,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (dpy) XCloseDisplay(dpy);
  return faults ? 1 : 0;
}
