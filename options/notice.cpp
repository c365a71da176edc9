// Lines of other threads, through the console's hook when there is one.
#include "options/notice.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<NoticeHook> g_hook{nullptr};
std::atomic<void (*)()> g_release{nullptr};

// Longer notices are cut: one line stays one write.
constexpr int kNoticeChars = 1024;

}  // namespace

void set_notice_hook(NoticeHook show, void (*release)()) {
  g_release.store(release, std::memory_order_release);
  g_hook.store(show, std::memory_order_release);
}

void release_notices() {
  g_hook.store(nullptr, std::memory_order_release);
  if (void (*release)() = g_release.exchange(nullptr, std::memory_order_acq_rel)) release();
}

void print_notice(const char *format, ...) {
  char line[kNoticeChars];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line, sizeof line - 1, format, ap);
  va_end(ap);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
  if (n == 0 || line[n - 1] != '\n') {
    line[n++] = '\n';
    line[n] = 0;
  }
  if (NoticeHook hook = g_hook.load(std::memory_order_acquire)) {
    hook(line);
    return;
  }
  fputs(line, stdout);
  fflush(stdout);
}
