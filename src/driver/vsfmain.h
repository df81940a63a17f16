// The module entry and the procedure main: what the host calls to run the procedure.
#pragma once

#include "support/hostif.h"

#include <cstdint>

// Image-information block returned by the module entry (host-interface format, 120 bytes).
struct VsfImageInfo {
  char marker[22]; // "QRX_Image_Information="
  char zero[2];
  uint32_t magic; // 0xB0BDEBED
  uint32_t zero2;
  uint64_t eight; // the value 8
  char release[16];
  char build[16];
  char buildDate[24];
  const void* data;   // the module's data
  const void* rodata; // the module's read-only data
  char version[8];    // "001"
};
static_assert(sizeof(VsfImageInfo) == 120, "image information is 120 bytes");

// The procedure main: six host arguments; it never returns normally (it ends through xexit).
using VsfProcedureMain = void (*)(void*, void*, void*, void*, void*, void*);

// Program-control block (host-interface format, 80 bytes).
struct VsfProgramControl {
  uint64_t flags;        // 0xFFFFFFFFFFFF0000
  uint64_t w8;           // 0x400
  uint64_t w16;          // 0x400
  char name[16];         // "qrxvarsf"
  VsfProcedureMain main; // the procedure main
  uint64_t w48;          // the value 3
  uint64_t w56;          // 0x25D3
  uint64_t w64;          // 0x20539DD3
  uint64_t w72;          // the value 15
};
static_assert(sizeof(VsfProgramControl) == 80, "program-control block is 80 bytes");

extern "C++" const VsfImageInfo* mcn_main(HostControlBlock* gcb, void* pidb);
extern VsfProgramControl pcn_QRXVARSF;
extern const VsfImageInfo vi_mcn;

void qrxvarsf(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6);
