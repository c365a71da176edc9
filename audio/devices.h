// Choosing the sound card's capture and playback devices by a part of their
// name, as the audio library lists them.
#pragma once

// True when part occurs in name, ignoring case. An empty part matches.
bool device_name_matches(const char *name, const char *part);

// The device the stream opens for capture (or playback): the system default
// when part is null or empty; otherwise the first listed device with two
// channels that way whose name is part (ignoring case), else the first
// whose name contains it. A part that matches no device lists the devices
// and gives the default; `listed` says the list has been printed already
// (it is printed once per stream). -1 when there is no device at all. The
// audio library must be initialised.
int choose_device(const char *part, bool capture, bool &listed);
// The same choice without a word: -2 when a part matches no device.
int match_device(const char *part, bool capture);

// The name the library gives a device, or "none".
const char *device_name(int device);

// Prints every device the library lists, one a line, with its channels.
void list_devices();
