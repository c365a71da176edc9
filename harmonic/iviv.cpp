// The iviv display.
#include "harmonic/harmonic.h"

const GraphType kIvivGraph = {"iviv", kFeedSpectrum, nullptr, nullptr, nullptr};
