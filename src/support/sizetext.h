// Byte counts as the messages show them ("812.4 MB", "1.6 GB"), for the memory and disk
// plans that name what a road would hold.
#pragma once

#include <cstddef>

// Writes `bytes` in KB, MB or GB with one decimal into `text` (at least 16 characters).
void vsfSizeText(double bytes, char* text, size_t capacity);
