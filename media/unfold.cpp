// unfold: not written yet.
#include "media/unfold.h"
int unfold(char *line) { return 0; }
