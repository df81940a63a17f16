// The scratch arena of one thread: the buffers the data-pass kernels and the model's row
// passes reuse from call to call, one named part per unit that uses them.
//
// Everything in it is a cache. A kernel sets what it reads afresh on every call, so no value
// passes from one call to the next, nor from one pass, fit or model to another; a part only
// keeps its buffers' capacity, so that a page's call allocates nothing once the first pages
// have grown them. Modes, and rows or terms waiting from one page to the next, never live
// here: they travel as arguments and in the frame's records (data/vsfthread.h, VsfPageSpan).
//
// Each part is a type of the unit that uses it, declared here and defined there with its
// accessor, which makes the part on its first use on the thread:
//   struct VsfLarScratch { ... };
//   VsfLarScratch& VsfScratchArena::lar() { return part(lar_); }
// A part has one user at a time: a unit takes it at a call's start and nothing that call runs
// takes the same member again. The arena is freed when its thread ends (ThreadScratch), and it
// frees every part made.
#pragma once

#include <new>

struct VsfXpxScratch;        // kernels/vsfxpx.cpp
struct VsfTermsScratch;      // kernels/vsfpageterms.cpp
struct VsfFoldMeansScratch;  // kernels/vsffoldmeans.cpp
struct VsfGramScratch;       // kernels/vsfgramk.cpp
struct VsfLarScratch;        // kernels/vsflarcallbacks.cpp
struct VsfQkScratch;         // kernels/vsfqkkernels.cpp
struct VsfResidScratch;      // kernels/vsfresid.cpp
struct VsfCvScratch;         // kernels/vsfcvkernels.cpp
struct VsfTransformScratch;  // kernels/vsftransform.cpp
struct VsfStructuredScratch; // kernels/vsfxpxstructured.cpp
struct VsfPressScratch;      // model/vsfpressfactor.cpp
struct VsfRefineScratch;     // model/vsfrefine.cpp
struct VsfSplitFitScratch;   // model/vsfsplitadaptive.cpp
struct VsfRowPivotScratch;   // model/vsfrowpivot.cpp

class VsfScratchArena {
public:
  VsfScratchArena() = default;
  VsfScratchArena(const VsfScratchArena&) = delete;
  VsfScratchArena& operator=(const VsfScratchArena&) = delete;
  ~VsfScratchArena() {
    xpx_.release();
    terms_.release();
    foldMeans_.release();
    gram_.release();
    lar_.release();
    qk_.release();
    resid_.release();
    cv_.release();
    transform_.release();
    structured_.release();
    press_.release();
    refine_.release();
    splitFit_.release();
    rowPivot_.release();
  }

  // This thread's arena, made on its first use (std::bad_alloc when it cannot be had).
  static VsfScratchArena& mine();

  VsfXpxScratch& xpx();
  VsfTermsScratch& terms();
  VsfFoldMeansScratch& foldMeans();
  VsfGramScratch& gram();
  VsfLarScratch& lar();
  VsfQkScratch& qk();
  VsfResidScratch& resid();
  VsfCvScratch& cv();
  VsfTransformScratch& transform();
  VsfStructuredScratch& structured();
  VsfPressScratch& press();
  VsfRefineScratch& refine();
  VsfSplitFitScratch& splitFit();
  VsfRowPivotScratch& rowPivot();

private:
  // A part, made by the unit that defines its type; `free` comes from that unit too, so the
  // arena needs no part's definition.
  template <class T> struct Part {
    T* object = nullptr;
    void (*free)(T*) = nullptr;
    void release() {
      if (object != nullptr)
        free(object);
      object = nullptr;
    }
  };
  template <class T> static T& part(Part<T>& p) {
    if (p.object == nullptr) {
      p.object = new T();
      p.free = [](T* t) { delete t; };
    }
    return *p.object;
  }

  Part<VsfXpxScratch> xpx_;
  Part<VsfTermsScratch> terms_;
  Part<VsfFoldMeansScratch> foldMeans_;
  Part<VsfGramScratch> gram_;
  Part<VsfLarScratch> lar_;
  Part<VsfQkScratch> qk_;
  Part<VsfResidScratch> resid_;
  Part<VsfCvScratch> cv_;
  Part<VsfTransformScratch> transform_;
  Part<VsfStructuredScratch> structured_;
  Part<VsfPressScratch> press_;
  Part<VsfRefineScratch> refine_;
  Part<VsfSplitFitScratch> splitFit_;
  Part<VsfRowPivotScratch> rowPivot_;
};
