// Registration of the data-pass kernel pairs with the threading frame, which needs each
// pair's identity for its buffer length and for the fold of the summed buffers.
#pragma once

// Registers every kernel pair built so far; safe to call more than once.
void vsfRegisterKernels();
