// Lines printed by threads other than the console's (the window's, the
// sound's, the way out's). The console, while it shows a prompt, puts them
// above it; with no console hooked in they are printed as they come.
#pragma once

// Prints one line; a line end is added when the text has none. Any thread;
// never waits on the console.
void print_notice(const char *format, ...) __attribute__((format(printf, 1, 2)));

// How the console shows a whole line (ending in a line end), and how it
// lets go of its prompt when the program ends; null: lines are printed as
// they come. Installed by the console's thread only.
typedef void (*NoticeHook)(const char *line);
void set_notice_hook(NoticeHook show, void (*release)());
// The way out, once: the console lets go of its prompt (lines it holds are
// printed) and later lines are printed as they come.
void release_notices();
