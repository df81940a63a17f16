// The threading frame: runs a data-pass kernel pair over every page of a BY group, serially
// or on the page workers with one buffer each, and folds the summed buffers into the model
// by the kernel's identity. The kernels register their pairs here as they are built.
#pragma once

#include "data/vsfutilfile.h"

#include <atomic>
#include <cstdint>

struct VsfPassState;
class VsfPartPacer;

// What one thread's visit of the pages of a pass keeps waiting past a page's end: the rows of
// the full X'X kernels waiting for a full block of the Gram kernel, the kept-column kernel's
// terms. Defined by the kernels that keep it (kernels/vsfxpx.cpp); the frame only carries it.
struct VsfPageSpan;

// The forms of a kernel pair whose rows may wait past a page's end, each taking the visit's
// span besides the plain form's arguments. The frame opens a span for every thread's visit of
// the pages (the serial road's, each worker's, each part's), hands it with every page, finishes
// it after the last page, which adds what waits, and releases it however the visit ends. A
// page read from disk gives its buffer to the next, so its rows are added at its end. Called
// without a span (the plain forms), the kernels add every page's rows at its end.
struct VsfSpanForms {
  VsfPageSpan* (*open)();             // a new span; std::bad_alloc when none can be had
  void (*finish)(VsfPageSpan* span);  // adds what waits (std::bad_alloc as open)
  void (*release)(VsfPageSpan* span); // frees the span, dropping what waits
  VsfStatus (*serial)(VsfPassState* model, QkPageDescriptor* page, VsfPageSpan* span);
  VsfStatus (*threaded)(VsfPassState* model, QkPageDescriptor* page, double* buffer, int64_t length,
                        VsfPageSpan* span);
};

// What a kernel pair is, for the buffer length and the fold into the model.
// What a kernel's serial form does to the pages.
enum class VsfPageUse : uint8_t {
  Reads,      // reads them only
  Rewrites,   // writes them back (besides its sums)
  Transforms, // rewrites them and has no sums: its threaded form keeps no buffer
  Resamples,  // rewrites the resampling frequencies: the pass always runs serially
};

// What the frame needs of a kernel pair besides its two forms, given by the kernel's unit
// when it registers the pair: the doubles of one worker's buffer for this model and pass
// argument (null: no buffer), and the store of the workers' summed buffer of `length`
// doubles where the serial form would have put its sums (null: nothing to store).
struct VsfKernelUse {
  VsfPageUse pages;
  int64_t (*bufferLength)(const VsfPassState* model, int64_t arg);
  void (*store)(VsfPassState* model, const double* sums, int64_t length);
  // Whether its serial form reads split levels stored sparse (summing them raw); any other
  // pass over such pages is refused as a bug.
  bool readsSplitSparse = false;
  // The pair's forms that keep rows of pages held in memory waiting past a page's end within
  // one thread's visit (null: its plain forms add every page's rows at its end).
  const VsfSpanForms* span = nullptr;
  // Whether its threaded form's sums may be formed in page groups (the grouped road): a
  // buffer per group of pages, summed in group order, whichever thread adds into it. Every
  // pass with sums takes it, so that 1, 2, 3, 4, 6 and 8 threads give the same bits.
  bool groupsPages = true;
};

// What the parts of a shared-triangle pass tell one another of a page they all read: the
// first part to walk it leaves what it found, and the parts after it need not look again.
enum class VsfPageNote : uint8_t {
  Unknown,      // no part has walked the page yet
  RowsFinite,   // every row the walk visits holds finite values only, as the pass adds them
                // (less its fold's centre where the rows are centred)
  NotAllFinite, // some row holds a value that is not finite
};

// The form of a cross-product kernel for the shared-triangle road: it adds a page's terms
// straight into the model's triangles, but only into the rows of part `part` of `parts`.
// `note` is the page's note, shared by the parts (null: none kept); `span` the part's visit's
// span of the pair's span forms (null: every page's rows are added at its end).
using VsfPartKernel = VsfStatus (*)(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                    int32_t parts, std::atomic<VsfPageNote>* note,
                                    VsfPageSpan* span);

// One work item per page worker, in order: its page file, the model, the threaded kernel,
// its buffer (null when the length is 0), the length in doubles; then the worker's status
// and the pass's stop word, which a failing worker sets so that the others stop. On the
// shared-triangle road partKernel is set instead and the worker visits every page file for
// its part (its slot).
struct VsfWorkItem {
  VsfUtilFile* file;
  VsfPassState* model;
  VsfThreadedKernel kernel;
  double* buffer;
  int64_t length;
  VsfStatus status;
  int32_t* stop;
  VsfPartKernel partKernel;
  int32_t part;
  const VsfSpanForms* span; // the pair's span forms, or null
  double* groups;           // the grouped road's buffers (`length` + 8 doubles each), or null
  VsfPartPacer* pacer;      // the shared-triangle road's pace of the parts, or null
  std::atomic<VsfPageNote>* notes; // the shared-triangle road's notes of the pages held in
                                   // memory, in read order, or null
};

// Registers a kernel pair with its use (idempotent; a pair registered again is replaced).
void vsfRegisterKernelPair(VsfSerialKernel serial, VsfThreadedKernel threaded,
                           const VsfKernelUse& use);
// A kernel unit registers its pair at start-up with a static object of this type, e.g.
//   static const VsfKernelRegistration reg(vsfPress, vsfPress_t, kVsfPressUse);
struct VsfKernelRegistration {
  VsfKernelRegistration(VsfSerialKernel serial, VsfThreadedKernel threaded,
                        const VsfKernelUse& use) {
    vsfRegisterKernelPair(serial, threaded, use);
  }
};
// Gives a registered threaded kernel a shared-triangle form: `before` (or null) runs first
// as a serial pass of its own, for the page rewrite and the small sums, then `part` adds the
// triangle's rows, every worker its part, with no buffers. The road's sums are the serial
// pass's, bit for bit.
void vsfRegisterSharedForm(VsfThreadedKernel threaded, VsfSerialKernel before, VsfPartKernel part);
// What the registered pair of `kernel` (its serial or threaded form) does to the pages;
// Reads for a kernel never registered.
[[nodiscard]] VsfPageUse vsfKernelPageUse(const void* kernel);

// The one entry of the frame: Ok, or the first failing status (serial road), NoMemory when a
// work item or buffer cannot be had, or the first failing worker's status in slot order.
[[nodiscard]] VsfStatus vsfExecuteByThreads(VsfPassState* model, VsfSerialKernel serial,
                                            VsfThreadedKernel threaded, int64_t arg);
[[nodiscard]] VsfStatus dispatch(VsfPassState* model, VsfThreadedKernel threaded, int64_t arg);
void accumulate(VsfPassState* model, VsfThreadedKernel threaded);
// The number of passes over the pages run so far in this process (for the benchmarks).
[[nodiscard]] int64_t vsfPassCount();
// Gives back the work items and their buffers of the last pass.
void cleanup(VsfPassState* model);
// The buffer length of a threaded kernel for this model and pass argument (doubles; 0 for
// a kernel that keeps no buffer or was never registered).
[[nodiscard]] int64_t vsfKernelBufferLength(const VsfPassState* model, VsfThreadedKernel threaded,
                                            int64_t arg);

// The pool's worker routine: visits the item's page file with its kernel and buffer.
void utilReadWrapper(void* poolContext, void* item);
