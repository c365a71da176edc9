// tfield and mirage: music through the surface medium.
#pragma once

struct TransformState;

// Console handlers; they differ only in the view mode they set.
int tfield(char *line);
int mirage(char *line);

// Offline run: vector "binary", input, output, surface file, gain, passes.
// 0 on success, 1 when the input cannot be opened.
int field_main(int count, char **vector, TransformState *view);
