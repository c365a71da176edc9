// Device choice for the sound-card stream.
#include "audio/devices.h"

#include <portaudio.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kStreamChannels = 2;

bool usable(const PaDeviceInfo *d, bool capture) {
  return d && (capture ? d->maxInputChannels : d->maxOutputChannels) >= kStreamChannels;
}

}  // namespace

bool device_name_matches(const char *name, const char *part) {
  if (!part || !*part) return true;
  if (!name) return false;
  const size_t n = strlen(part);
  for (const char *p = name; *p; ++p)
    if (strncasecmp(p, part, n) == 0) return true;
  return false;
}

const char *device_name(int device) {
  const PaDeviceInfo *d = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
  return d && d->name ? d->name : "none";
}

void list_devices() {
  const int n = Pa_GetDeviceCount();
  if (n <= 0) {
    printf("    (the audio library lists no devices)\n");
    return;
  }
  for (int i = 0; i < n; ++i) {
    const PaDeviceInfo *d = Pa_GetDeviceInfo(i);
    if (!d) continue;
    const PaHostApiInfo *api = Pa_GetHostApiInfo(d->hostApi);
    printf("    %d: %s (%s, in %d, out %d)\n", i, d->name ? d->name : "?", api ? api->name : "?",
           d->maxInputChannels, d->maxOutputChannels);
  }
}

int match_device(const char *part, bool capture) {
  if (!part || !*part) return capture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
  const int n = Pa_GetDeviceCount();
  int found = -1;
  // A whole name wins over a part of another one ("default" beside "sysdefault").
  for (int i = 0; i < n && found < 0; ++i) {
    const PaDeviceInfo *d = Pa_GetDeviceInfo(i);
    if (usable(d, capture) && d->name && strcasecmp(d->name, part) == 0) found = i;
  }
  for (int i = 0; i < n && found < 0; ++i) {
    const PaDeviceInfo *d = Pa_GetDeviceInfo(i);
    if (usable(d, capture) && device_name_matches(d->name, part)) found = i;
  }
  return found >= 0 ? found : -2;
}

int choose_device(const char *part, bool capture, bool &listed) {
  const int found = match_device(part, capture);
  if (found != -2) return found;
  const int fallback = capture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
  printf("*** warning: audio.%s '%s' names no %s device with %d channels (using the default)\n",
         capture ? "in" : "out", part, capture ? "capture" : "playback", kStreamChannels);
  if (!listed) {
    printf("audio devices:\n");
    list_devices();
    listed = true;
  }
  return fallback;
}
