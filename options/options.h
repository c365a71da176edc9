// Option store: keyed text settings in a global scope and four display scopes.
#pragma once

struct OptionEntry {
  char key[20];   // at most 19 characters; empty marks a free entry
  char *value;    // owned; null in a free entry
};

struct OptionStore {
  static constexpr int kScopes = 5;       // global, displays 0..3
  static constexpr int kEntries = 60;
  static constexpr int kKeyChars = 19;

  OptionEntry scopes[kScopes][kEntries];

  // display is -1 for the global scope or 0..3.
  const char *find(int display, const char *key, bool warn);
  double get_double(int display, const char *key, bool warn, double def);
  int get_int(int display, const char *key, bool warn, int def);
  const char *get_text(int display, const char *key, bool warn, const char *def);
  int set(int display, const char *key, const char *text);
  int load_file(const char *path);
  const char *resolve_alias(const char *key, char buffer[20]);
  bool is_unlisted(const char *key);
  void print_all();
  void release();
  ~OptionStore() { release(); }
};

// The one program-wide store (zero-initialised before any code runs).
extern OptionStore g_options;

// strtok-like splitting on a delimiter set, without hidden state: the next
// token from *pos (null when none), *pos moved past its delimiter.
char *next_token(char **pos, const char *delims);

// What a "set" line leaves to the live view: its two read-outs.
enum SetQuery { kSetDone = 0, kSetViewport = 1, kSetSlice = 2 };
// Runs a "set" line (the command word first) on the store: lists all
// options, sets one, or shows one. For "VIEWPORT" and "SLICE" it returns the
// query for the caller to answer, with the line's display scope in *display.
int set_line(char *line, int *display);
