// Lines printed from threads other than the console's (an analysis log's
// writer, the loss of the display, the way out's last resort): one place,
// so that they can be fitted around the prompt.
#pragma once

// printf to standard output as one piece, flushed.
void say_from_thread(const char *format, ...) __attribute__((format(printf, 1, 2)));
