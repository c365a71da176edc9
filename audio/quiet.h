// Holds back what the audio library and its back-ends (ALSA, JACK) write to
// standard error while a stream is probed, opened or closed.
//
// They write to file descriptor 2 from C code, so the descriptor itself is
// pointed at an anonymous file for the span of those calls and put back
// afterwards. The span is short and runs under the feed's control mutex;
// anything else written to standard error in that span is held back with it.
#pragma once

#include <cstdio>

struct QuietStderr {
  static constexpr int kShownLines = 4;   // at most this many, on failure
  static constexpr int kLineChars = 160;  // longer lines are cut

  int saved = -1;    // the real standard error while holding back
  int capture = -1;  // the anonymous file that collects the text

  // Starts holding back; with show_all nothing is held back. False if the
  // text could not be diverted (it then goes to standard error as it comes).
  bool begin(bool show_all);
  // Puts standard error back; the held-back text stays readable.
  void end();
  // Writes the held-back text to out: distinct lines, indented, the first
  // kShownLines of them and a count of the rest. Returns the lines written.
  int show(FILE *out) const;
  // Forgets the held-back text.
  void release();
  ~QuietStderr() {
    end();
    release();
  }
};
