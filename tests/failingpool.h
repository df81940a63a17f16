// A pool that hands out a given number of blocks from another pool and then none, for the
// tests of what code does when memory runs out part way.
#pragma once

#include "support/hostif.h"

struct FailingPool {
  QkPool pool{};
  QkPool* inner = nullptr;
  int left = 0;

  // Blocks come from `from`, and go back to it, until `blocks` have been given; growing a
  // block fails too from then on. The pool is never destroyed through this one.
  FailingPool(QkPool* from, int blocks) : pool(*from), inner(from), left(blocks) {
    pool.allocate = [](QkPool* p, size_t size, uint32_t flags) -> void* {
      FailingPool* self = of(p);
      if (self->left <= 0)
        return nullptr;
      --self->left;
      return self->inner->allocate(self->inner, size, flags);
    };
    pool.free = [](QkPool* p, void* block) { of(p)->inner->free(of(p)->inner, block); };
    pool.reallocate = [](QkPool* p, void* block, size_t size, uint32_t flags) -> void* {
      FailingPool* self = of(p);
      return self->left <= 0 ? nullptr : self->inner->reallocate(self->inner, block, size, flags);
    };
  }
  FailingPool(const FailingPool&) = delete;
  FailingPool& operator=(const FailingPool&) = delete;
  QkPool* get() { return &pool; }

private:
  static FailingPool* of(QkPool* p) { return reinterpret_cast<FailingPool*>(p); }
};
