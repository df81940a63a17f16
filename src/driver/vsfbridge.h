// The bridge object to the sibling module that runs the post-fit statements.
#pragma once

#include <cstdint>

struct PostFitBridge;

// The bridge's method table; the driver calls slot 0 (clean-up) and slot 8 (start of a
// BY group).
struct PostFitBridgeMethods {
  void (*cleanup)(PostFitBridge* bridge, int32_t flags); // slot 0
  void* slots1to7[7];
  void (*byStart)(PostFitBridge* bridge);                // slot 8
};

struct PostFitBridge {
  PostFitBridgeMethods* methods;
};
