// The host interface: the control block that the host hands to the module entry, the
// service groups reached through it, the kernel handle, pools, extensions and the
// output-object records. Only declarations of host-format types live here; the module
// calls the services through the forwarding stubs of hoststubs.h, the host fills them in.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------
// Characters and the missing value
// ---------------------------------------------------------------------------------------

// The host's wide character: names handed to the kernel are 32-bit character strings with
// an explicit length.
using QkChar = char32_t;

// A routine handed between module and host. The receiver casts it back to its real type.
using HostRoutine = void (*)();

// The ordinary missing value written by the host: a NaN whose top 16 bits are all ones.
inline constexpr uint64_t kHostMissingBits = 0xFFFFFE0000000000ull;
double hostMissing();
// True for every missing value (any double whose top 16 bits are all ones); never use ==.
// Inline: the data passes test every value they read.
[[nodiscard]] inline bool isHostMissing(double value) {
  return (std::bit_cast<uint64_t>(value) >> 48) == 0xFFFFu;
}

// ---------------------------------------------------------------------------------------
// Numbered messages
// ---------------------------------------------------------------------------------------

struct RvqText;

// One substitution value of a numbered message.
struct HostMsgArg {
  enum Kind : int32_t { Int = 1, Dbl = 2, Str = 3 } kind = Int;
  int64_t i = 0;
  double d = 0.0;
  const char* s = nullptr; // 8-bit text of length len (no terminator needed)
  int32_t len = 0;
  // A text handle as the value (made by text(); rvqmsgs substitutes its text).
  const RvqText* t = nullptr;

  HostMsgArg() = default;
  HostMsgArg(int v) : kind(Int), i(v) {}
  HostMsgArg(long v) : kind(Int), i(v) {}
  HostMsgArg(long long v) : kind(Int), i(v) {}
  HostMsgArg(unsigned v) : kind(Int), i(v) {}
  HostMsgArg(double v) : kind(Dbl), d(v) {}
  HostMsgArg(const char* v);
  HostMsgArg(const char* v, int32_t n) : kind(Str), s(v), len(n) {}
  static HostMsgArg text(const RvqText* handle) {
    HostMsgArg a;
    a.kind = Str;
    a.t = handle;
    return a;
  }
};

// Message severities known to the host catalogue.
enum class HostSeverity : int32_t { Note = 0, Warning = 1, Error = 2 };

// ---------------------------------------------------------------------------------------
// Output-object records (RVQ)
// ---------------------------------------------------------------------------------------

// One attribute of an output-object method call. 24 bytes, host-interface format:
// bytes 0-1 attribute id, 2-3 value type, 4-7 unused, 8-15 value, 16-23 second value.
// A counted string or a list keeps its 16-bit length or count at bytes 10-11 and its
// pointer at 16-23; a switch (type 13) keeps its 32-bit value at bytes 16-19.
struct RvqAttr {
  uint16_t id;
  uint16_t type;
  uint32_t reserved;
  union Value {
    char ch;
    int32_t i32;
    int64_t i64;
    double f64;
    void* ptr;
    struct Counted {
      uint16_t pad;
      uint16_t length;
      uint32_t pad2;
    } counted;
  } value;
  union Second {
    void* ptr;
    const char* text;
    int32_t i32;
  } second;
};
static_assert(sizeof(RvqAttr) == 24, "RvqAttr is a 24-byte host record");
static_assert(offsetof(RvqAttr, value) == 8 && offsetof(RvqAttr, second) == 16);

// Value types of RvqAttr.
enum RvqValueType : uint16_t {
  RVQ_CHAR = 1,
  RVQ_INT = 3,
  RVQ_INT64 = 4,
  RVQ_DOUBLE = 5,
  RVQ_VALUE7 = 7,
  RVQ_HANDLE = 12,
  RVQ_FLAG = 13,
  RVQ_BOUND = 17,
  RVQ_STRING = 20,
  RVQ_DATAREFS = 27,
  RVQ_LIST = 28,
  RVQ_TEXTHANDLE = 66,
  RVQ_TEXT = 67,
};

struct RvqObject;
// A method function: (object, context word of the method entry, the descriptor's own
// number, attribute count, attributes); returns a 32-bit status, negative on failure.
using RvqMethodFn = int32_t (*)(RvqObject* object, void* context, int32_t number, int32_t count,
                                RvqAttr* attrs);

struct RvqMethodDescriptor {
  RvqMethodFn function;
  void* reserved;
  int32_t number; // the number under which the function knows the method
};

struct RvqMethodEntry {
  RvqMethodEntry* next; // next entry of the bucket chain
  void* context;
  RvqMethodDescriptor* descriptor;
  int32_t method; // method number
};

// A class of host output objects: parent link, hashed method table and two fixed slots.
struct RvqClass {
  void* reserved0;
  RvqClass* parent;         // null at the root
  RvqMethodEntry** buckets; // bucket array of the method table
  void* reserved24[3];
  RvqMethodDescriptor* queryDescriptor; // fixed slot used for queries
  void* queryContext;
  void* reserved64[2];
  RvqMethodDescriptor* closeDescriptor; // fixed slot used for closing
  void* closeContext;
  void* reserved96[4];
  uint32_t hashMask;
};

// Every host output object starts with its class pointer.
struct RvqObject {
  RvqClass* cls;
};

// Status returned by wobmth when no class on the chain has the method.
inline constexpr int32_t kRvqNoMethod = static_cast<int32_t>(0x80008001u);

// A text handle made by the text services (rvqmsg, rvqtxt, ...); opaque to the module.
struct RvqText;

// ---------------------------------------------------------------------------------------
// Kernel handle: pools, events, threads, named values, extensions
// ---------------------------------------------------------------------------------------

struct QkHandle;

// A memory pool object: a table of entry points (destroy, allocate, free, reallocate).
struct QkPool {
  void* reserved0;
  void* reserved1;
  void (*destroy)(QkPool* pool);                                               // word 2
  void* (*allocate)(QkPool* pool, size_t size, uint32_t flags);                // word 3
  void (*free)(QkPool* pool, void* block);                                     // word 4
  void* (*reallocate)(QkPool* pool, void* block, size_t size, uint32_t flags); // word 5
};
inline constexpr uint32_t kQkZeroed = 0x80000000u; // allocation flag: zero the block

// Attribute block of a named-pool creation: three zeroed words, flags in the first.
struct QkPoolAttributes {
  uint32_t flags; // 1; 0x10000001 for a page pool
  uint32_t pad;
  uint64_t words[2];
};

// Every extension starts with this header; its unload entry is word 2.
struct QkExtension {
  const char* name;
  void* reserved;
  void (*unload)(QkExtension* extension); // word 2
};

struct QkEvent;
struct QkThread;
using QkThreadEntry = void (*)(void* argument);

// Thread attribute block for slot 10.
struct QkThreadAttributes {
  void* argument;
  QkThreadEntry entry;
  QkEvent* startEvent;
  uint32_t flags; // 0x80000000
};

// Per-thread services (slot 11): waits on events; word 7 is the thread number.
struct QkThreadServices {
  int32_t (*waitAny)(QkThreadServices* self, QkEvent** events, int32_t count, int64_t timeoutMs);
  void (*post)(QkThreadServices* self, QkEvent* event);
  void (*reset)(QkThreadServices* self, QkEvent* event);
  void* reserved[4];
  int64_t threadNumber; // word 7
};

// Value types of the named-value registry.
enum QkValueType : int32_t { QK_VALUE_DOUBLE = 2, QK_VALUE_INT64 = 3, QK_VALUE_TEXT = 4 };

// Kernel statuses of the named-value registry.
inline constexpr uint32_t kQkNotSet = 0x803FC26Au;
inline constexpr uint32_t kQkWrongType = 0x803FC264u;
inline constexpr uint32_t kQkWrongType2 = 0x803FC009u;

// A value exchanged with the registry. For texts: buffer of capacity characters in,
// length out.
struct QkNameValue {
  int32_t type;
  double d;
  int64_t l;
  QkChar* text;
  int32_t capacity;
  int32_t length;
};

// The journal: where the kernel routines report host failures (status, level, text).
struct QkJournal {
  void (*report)(QkJournal* self, uint32_t status, int32_t level, const char* text);
  // Formats a status code with a severity (0 zero, 1 change, 2 note, 3 warning, 4 error)
  // and its substitution values into the journal; returns 0, or a non-zero status when
  // the report could not be formatted. May be null: callers then fall back to report.
  uint32_t (*reportStatus)(QkJournal* self, int32_t severity, uint32_t status,
                           const HostMsgArg* values, int32_t count);
};

// Argument block of the kernel service dispatcher (slot 33).
struct QkServiceArgs {
  int64_t words[8];
  double values[4];
};

// Services of the kernel service dispatcher.
enum QkService : int32_t {
  QK_SVC_ZDTTME = 1, // qkzdttme: the current date-time in seconds, into values[0]
  QK_SVC_ZSTATS = 2, // qkzstats: process statistics, eight 64-bit words into words[]
  // qkzruns: runs words[1](words[2], r) for every r in [0, words[0]) on the caller's thread and
  // the host's workers, and returns when all have run; words[1] holds a QkRunBody.
  QK_SVC_ZRUNS = 3,
};

// The body of a qkzruns service call: run r of the work described by context.
using QkRunBody = void (*)(void* context, int32_t run);

// The locale object (kernel handle slot 27): when set, the case mapping of host strings
// goes through its methods (in place on a 32-bit text of the given length).
struct QkLocale {
  void (*lowerCase)(QkLocale* self, QkChar* text, int32_t length);
  void (*upperCase)(QkLocale* self, QkChar* text, int32_t length);
};

// The time-of-day object (kernel handle slot 185): its hook runs at most every few seconds
// of wall time when the module reads the clock.
struct QkTimeOfDay {
  void (*hook)(QkTimeOfDay* self);
};

// The kernel handle. Members are named after the slots the module uses.
struct QkHandle {
  QkEvent* (*createEvent)(QkHandle* qk); // slot 2
  void (*destroyEvent)(QkHandle* qk, QkEvent* event);
  QkPool* (*createPool)(QkHandle* qk, QkPoolAttributes* attrs, void* parent,
                        const char* name); // slot 6
  QkExtension* (*qkExtensionLoad)(QkHandle* qk, const QkChar* name, int32_t length,
                                  int32_t flags);                     // slot 9
  QkThread* (*createThread)(QkHandle* qk, QkThreadAttributes* attrs); // slot 10
  void (*joinThread)(QkHandle* qk, QkThread* thread);
  QkThreadServices* (*threadServices)(QkHandle* qk);                            // slot 11
  int32_t (*nameValueExists)(QkHandle* qk, const QkChar* name, int32_t length); // slot 13
  uint32_t (*qkNameValueGet)(QkHandle* qk, const QkChar* name, int32_t length,
                             QkNameValue* v); // slot 14
  uint32_t (*qkNameValueSet)(QkHandle* qk, const QkChar* name, int32_t length, const QkNameValue* v,
                             int32_t mode); // slot 15
  QkJournal* journal;                       // slot 26
  void* locale;                             // slot 27
  int32_t (*KernelServiceDispatcher)(QkHandle* qk, int32_t service, QkServiceArgs* args,
                                     uint32_t flags); // slot 33
  void* defaultLocale;                                // slot 35
  QkThreadServices* defaultThreadServices;            // slot 180
  void* timeOfDayHook;                                // slot 185
  // slot 233: formats the text of a status code into a buffer; returns its length.
  int32_t (*statusText)(QkHandle* qk, uint32_t status, char* buffer, int32_t capacity);
};

// ---------------------------------------------------------------------------------------
// Service groups
// ---------------------------------------------------------------------------------------

struct HostDataSet;    // an open data set (input or output)
struct HostReadVector; // a read vector of an input data set
struct HostByHandle;   // the BY-group state of an input data set
struct HostMacroTable;

// Group 30: supervisor services.
struct HostSupervisorServices {
  void (*xexit)(int32_t code, int32_t flag); // does not return
  QkPool* (*xmpoolc)(void* parent, int64_t blockSize, uint32_t flags);
  void (*xmpoold)(QkPool* pool);
  void (*xytexit)(void (*routine)());
  // Writes a numbered message with its substitution values to the log.
  void (*xpmlog)(int32_t set, int32_t number, const HostMsgArg* args, int32_t count);
  // Logs the host's message for a status code.
  void (*xprrlog)(int32_t flag, int32_t code);
  // Writes a numbered message into a buffer (terminated); returns its length.
  int32_t (*xpmstr)(char* buffer, int32_t size, int32_t set, int32_t number, const HostMsgArg* args,
                    int32_t count);
  // Reads a host option as text into a buffer (terminated); returns its length, -1 if unknown.
  int32_t (*xoption)(const char* name, char* buffer, int32_t capacity);
  // Raises the step's return code as the host sees it (the module keeps its own too).
  void (*xrcset)(int32_t code);
  // Registers cleanup(object) to run when the pool is destroyed (last registered first),
  // so records with non-trivial members made in a pool are destroyed with it; 0, or -1.
  int32_t (*xmpoolcln)(QkPool* pool, void (*cleanup)(void*), void* object);
  // Shows a short text of how a long fit is getting on (the step of a selection) on the
  // host's progress display; the host may ignore it.
  void (*xprogress)(const char* text, int32_t length);
};

// Group 40: macro variables.
struct HostMacroVariableServices {
  HostMacroTable* (*xalanch)(void* taskWord);
  // Sets a character macro variable.
  int32_t (*xjsympc)(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t scope,
                     int32_t flags, const char* value, int32_t valueLength);
  // Sets a numeric macro variable.
  int32_t (*xjsympn)(HostMacroTable* anchor, const char* name, int32_t nameLength, int32_t scope,
                     int32_t flags, double value);
  // Reads a macro variable into a buffer (terminated); returns its length, -1 when absent.
  int32_t (*xjsymget)(HostMacroTable* anchor, const char* name, int32_t nameLength, char* buffer,
                      int32_t capacity);
};

// Group 155: time.
struct HostTimeService {
  double (*zdattim)();
};

// Group 197: internal error.
struct HostInternalErrorService {
  void (*xebug)(const char* text);
};

// Group 203: data sets. Later subsystems add the services they need.
// A variable's description (the host's 160-byte NAMESTR record), as xvname hands it out.
struct HostVariable {
  const char* name;   // the name's characters (not terminated)
  int16_t nameLength; // 16-bit name length
  uint8_t type;       // 1 numeric, 2 character
  uint8_t pad0;
  int32_t length;             // storage length in bytes
  int32_t number;             // variable number in the data set (1-based)
  int16_t formatNameLength;   // 0 when the variable has no format
  int16_t informatNameLength; // 0 when the variable has no informat
  int32_t formatWidth;
  int32_t formatDecimals;
  const char* label; // the label's characters, or null
  int32_t labelLength;
  char formatName[32];
  char nameText[32]; // storage the host may use for name
  char reserved[52];
};
static_assert(sizeof(HostVariable) == 160, "HostVariable is the 160-byte host record");

// What xyvgetn returns when the input's file could not give the block: the host has logged
// the file and the reason, and the caller ends the step without a message of its own.
inline constexpr int32_t kHostBlockFileUnreadable = -4;

struct HostDataSetServices {
  int32_t (*xbynext)(HostByHandle* by);
  void (*xvputt)(HostDataSet* out);
  // Finds a variable by name: stores its number (0 when there is none) and returns 0.
  int32_t (*xvfind)(HostDataSet* data, const char* name, int32_t length, int32_t* number,
                    int32_t flags);
  // Points *out at the description of variable `number`; returns 0, non-zero when none.
  int32_t (*xvname)(HostDataSet* data, int32_t number, HostVariable** out);
  // Prepares the formats of n variables for the given purpose (70: CLASS levels).
  int32_t (*xffile)(HostDataSet* data, int32_t purpose, const int32_t* numbers, int32_t n);
  // Opening, reading and writing data sets. Variable numbers are 1-based as xvfind gives.
  // Opens an input data set by its name as written: name (WORK), lib.name, or a quoted
  // path; null after a logged message.
  HostDataSet* (*xdsopen)(const char* name, int32_t length);
  int32_t (*xdsnvar)(HostDataSet* data);
  int64_t (*xdsnobs)(HostDataSet* data);
  // The BY-group state of an input data set. Without xbyset the whole data set is one
  // group (none when it has no observations).
  HostByHandle* (*xdsby)(HostDataSet* data);
  // Sets the BY variables; 0, or negative after a logged message (a variable given twice,
  // data not in BY order without NOTSORTED). Starts the groups again from the first.
  int32_t (*xbyset)(HostDataSet* data, const int32_t* numbers, const uint8_t* descending,
                    int32_t count, int32_t notsorted);
  // Back to the first observation of the current BY group (of the data set when no
  // group is current); 0.
  int32_t (*xbyrewind)(HostByHandle* by);
  // The current BY group as text ("g=1 h=A"); its length, 0 without BY variables.
  int32_t (*xbyline)(HostByHandle* by, char* buffer, int32_t capacity);
  // Makes the next observation of the current BY group current: 1, or 0 at its end. A file
  // that can no longer give the observation ends the step (the host's exit, after its
  // message), so that the rows not read are not taken for the end of the data.
  int32_t (*xobsnext)(HostDataSet* data);
  // Values of the current observation: a number (the missing value for a character
  // variable), or a character value's text and length.
  double (*xobsnum)(HostDataSet* data, int32_t number);
  int32_t (*xobschar)(HostDataSet* data, int32_t number, const char** text);
  void (*xdsclose)(HostDataSet* data);
  // Output data sets: create by name as written, define variables (type 1 numeric,
  // 2 character; returns the variable number or negative), set values of the row being
  // built, append it (values go back to missing), and end with xvputt (writes the file).
  HostDataSet* (*xdscreate)(const char* name, int32_t length);
  int32_t (*xdsdefvar)(HostDataSet* out, const char* name, int32_t length, int32_t type,
                       int32_t varLength);
  int32_t (*xdsputn)(HostDataSet* out, int32_t number, double value);
  int32_t (*xdsputc)(HostDataSet* out, int32_t number, const char* text, int32_t length);
  int32_t (*xdsappend)(HostDataSet* out);
  // Read vectors (host/data/readvec.cpp): declared once, they copy the current
  // observation's values to fixed offsets of a record. xvgeti starts one for at most
  // `capacity` values; xvgetd declares variable `number` at `offset` with `length` bytes:
  // type 8 the value (a numeric variable's double, a character variable's characters cut
  // or blank-padded to the length), type 4 the formatted value (numbers without a format
  // in the default BEST-style format of width 12), cut or blank-padded to the length and
  // right-aligned as the format gives it; xvgete ends the declaration; xyvget copies the
  // current observation into a record; xvgett releases the vector. 0, or negative.
  int32_t (*xvgeti)(HostDataSet* data, int32_t capacity, HostReadVector** out);
  int32_t (*xvgetd)(HostReadVector* vector, int32_t number, int32_t offset, int32_t flags,
                    int32_t length, int32_t type);
  int32_t (*xvgete)(HostReadVector* vector);
  int32_t (*xyvget)(HostReadVector* vector, void* record);
  void (*xvgett)(HostReadVector* vector);
  // Rewrites a blank-padded text in place into a valid variable name under the
  // VALIDVARNAME option (mode 0).
  void (*zname)(int32_t mode, char* text, int32_t length);
  // Positions the data set before observation `obs` (1-based) regardless of BY groups,
  // and reads the next observation regardless of BY groups (1 read, 0 at the end).
  int32_t (*xopnt)(HostDataSet* data, int64_t obs);
  int32_t (*xoget)(HostDataSet* data);
  // The current observation's formatted value of variable `number` in exactly `width`
  // bytes, as a type-4 read-vector entry delivers it; 0, or negative.
  int32_t (*xvget1v)(HostDataSet* data, int32_t number, int32_t width, char* out);
  // The data set's display name (WORK.NAME, LIB.NAME or the path) cut to `capacity`
  // bytes, not terminated; result its length, or negative for a bad handle.
  int32_t (*xdsname)(HostDataSet* data, char* buffer, int32_t capacity);
  // Matches the BY variables of `data` in `other`: 0 when `other` has all of them with
  // the same types (its BY groups then follow them), 2 when some are absent (it is read
  // as a whole), 1 when one has the other type.
  int32_t (*xbylist)(HostDataSet* data, HostDataSet* other);
  // Makes the BY group of `other` whose BY values equal those of the current group of `by`
  // its current group (after xbylist); 0, or 1 when it has no such group (then its group
  // is empty). Without BY variables the whole of `other` is the group.
  int32_t (*xbysync)(HostByHandle* by, HostDataSet* other);
  // BY processing of `data` starts again before its first group (code 70); 0.
  int32_t (*xbyrwnd)(HostDataSet* data, int32_t code);
  // Variable selection for reading: all variables (xvallvr), end of selection (xvsele).
  // Every variable of a CSV data set is readable; 0 for an open data set.
  int32_t (*xvallvr)(HostDataSet* data);
  int32_t (*xvsele)(HostDataSet* data);
  // Information on a data set: item 23 answers 1 for an input that can be read; item 81
  // writes its name (WORK.NAME, LIB.NAME or the path) into buffer (terminated) and returns
  // its length. -1 for an unknown item or data set.
  int32_t (*xoinfo)(HostDataSet* data, int32_t item, char* buffer, int32_t capacity);
  // Block reads, for passes that take many observations at once (null in a host without
  // them: the caller reads observation by observation). xobsspan gives the number (1-based)
  // of the observation the next xobsnext would make current and how many observations it
  // would still deliver in the current BY group; 0, or negative for a bad handle.
  // xobsskip makes the n-th next observation current, as n calls of xobsnext would (n = 0
  // changes nothing); it returns how many it passed, fewer at the end of the group.
  // xyvgetn copies observations first .. first + count - 1 (1-based numbers) into `count`
  // records `stride` bytes apart, each as xyvget copies the current one; it leaves the
  // current observation alone and may run on several threads at once. 0, negative for a
  // bad vector or range, or kHostBlockFileUnreadable when the file could not give the
  // block (the host has logged why, and the step ends).
  int32_t (*xobsspan)(HostDataSet* data, int64_t* next, int64_t* count);
  int64_t (*xobsskip)(HostDataSet* data, int64_t n);
  int32_t (*xyvgetn)(HostReadVector* vector, int64_t first, int32_t count, void* records,
                     int64_t stride);
  // The procedure will not read the observations before `next` (1-based) again in this step:
  // the host may hand back the memory of their values (null in a host that keeps them). A
  // later read of one of them is refused with an internal error. 0, or negative for a bad
  // handle.
  int32_t (*xobsdone)(HostDataSet* data, int64_t next);
  // Every variable of the output data set `out` is defined: the host checks the data-set
  // options given after its name against them now, before any row is made, so that a name
  // there that the data set will not hold ends the step as early as it can be known (null
  // in a host that checks them only when the data set is ended). 0, or negative after a
  // logged message.
  int32_t (*xdsdefend)(HostDataSet* out);
  // The name that column `number` of the output `out` takes in the file it writes, after
  // the output's KEEP=, DROP= and RENAME= options, cut to `capacity` bytes: its length, 0
  // when the options leave the column out, negative for a bad handle or column or options
  // that do not fit the columns defined so far (null in a host without output options).
  int32_t (*xdsoutname)(HostDataSet* out, int32_t number, char* buffer, int32_t capacity);
};

// Group 326: output objects.
struct HostObjectServices {
  void (*xobinit)(RvqObject** out, int32_t flags);
};

// Group 320: output-delivery texts.
struct HostRvqTextServices {
  RvqText* (*rvqmsg)(int32_t set, int32_t number);
  RvqText* (*rvqmsgs)(int32_t set, int32_t number, const HostMsgArg* args, int32_t count);
  RvqText* (*rvqtxt)(const char* text, int32_t length);
  RvqText* (*rvqtxts)(const char* text, int32_t length); // the module formats, the host keeps
};

// Group 0: core services.
struct HostCoreServices {
  // Reads the text of a numbered message: pointer and length.
  int32_t (*wkread)(int32_t set, int32_t number, const char** text, int32_t* length);
  // Registers a module routine as a host-callable routine and writes the callable into
  // *callable; 0, or a negative status when the routine cannot be registered.
  int32_t (*vir2g)(HostRoutine routine, HostRoutine* callable);
  // The memory the procedure may use, in units of 1024 bytes, into *kilobytes; 0, or a
  // non-zero status when the figure cannot be had.
  int32_t (*wmrlmem)(int64_t* kilobytes);
};

// Group 10: the host's balanced trees of caller records. A record starts with three
// pointer words that belong to the tree; the key is `length` bytes at `offset`, compared
// in byte order.
struct HostTreeServices {
  // Inserts node; returns the record that already holds an equal key, or node when it was
  // linked in.
  void* (*ztrebld)(void** root, void* node, int32_t length, int32_t offset);
  // Turns the tree into a list in ascending key order linked through each record's first
  // word (null after the last) and leaves the head in *root.
  void (*ztrelst)(void** root);
};
struct HostSweepService;        // group 11 (numerics)
struct HostModuleServices;      // group 12 (sibling modules, support/postfit.h)
struct HostParserServices;      // group 31 (statements)
struct HostUtilityFileServices; // group 39

// A key of a host sort: where it lies in the record, its type and its order.
struct HostSortKey {
  int32_t offset;
  int32_t length; // bytes (type 2); ignored for the fixed-width types
  int32_t type;   // 1 double (missing values first), 2 bytes (unsigned), 3 signed 32-bit
  int32_t order;  // 1 ascending, 2 descending
};

// Routine words of a sort block. The host calls the registered callables, never the
// routines themselves: word i of `callables` belongs to routine word i (word 0 holds the
// wrapper that runs the start routine).
enum HostSortRoutineWord : int32_t {
  SORT_START = 0,   // int32_t (HostSortBlock*): before the first record; negative aborts
  SORT_FINISH = 1,  // int32_t (HostSortBlock*): after the last record was put
  SORT_GET = 2,     // int32_t (HostSortBlock*, void** record): 1 a record, 0 no more, <0 fails
  SORT_PUT = 3,     // int32_t (HostSortBlock*, const void* record): 0, or <0 to abort
  SORT_COMPARE = 4, // int32_t (HostSortBlock*, const void*, const void*): replaces the keys
  SORT_RELEASE = 5, // void (HostSortBlock*, int32_t status): last call, on every road
  SORT_ROUTINES = 8
};

// The sort block handed to zsortap: input and output utility files, records, keys and the
// exit routines with the wrapper area that the module's sort wrapper manages.
struct HostSortBlock {
  void* input;          // input utility file (the routines' business)
  void* output;         // output utility file
  int32_t recordLength; // bytes per record
  int32_t keyCount;
  int64_t recordCount; // records expected (a hint)
  void* workBuffer;    // caller's work area (a hint)
  int64_t workRecords;
  const HostSortKey* keys;
  void* user; // the caller's own word
  HostRoutine routines[SORT_ROUTINES];
  // Wrapper area: the saved start routine and the host-callable words.
  HostRoutine savedStart;
  HostRoutine callables[SORT_ROUTINES];
};

// Group 472: sort.
struct HostSortServices {
  // Sorts the records that the get routine supplies and hands them in key order to the put
  // routine; 0, or a negative status.
  int32_t (*zsortap)(HostSortBlock* block);
};
struct HostEncodingServices; // group 4

// The service groups by name (the host's array of group vectors, typed).
struct HostServiceGroups {
  HostCoreServices* core;                  // group 0
  HostEncodingServices* encoding;          // group 4
  HostTreeServices* tree;                  // group 10
  HostSweepService* sweep;                 // group 11
  HostModuleServices* module;              // group 12
  HostSupervisorServices* supervisor;      // group 30
  HostParserServices* parser;              // group 31
  HostUtilityFileServices* utilityFile;    // group 39
  HostMacroVariableServices* macro;        // group 40
  HostTimeService* time;                   // group 155
  HostInternalErrorService* internalError; // group 197
  HostDataSetServices* dataSet;            // group 203
  HostRvqTextServices* rvqText;            // group 320
  HostObjectServices* object;              // group 326
  HostSortServices* sort;                  // group 472
};

// Group numbers, for the group bytes of word 1.
enum HostGroup : int32_t {
  HG_CORE = 0,
  HG_ENCODING = 4,
  HG_TREE = 10,
  HG_SWEEP = 11,
  HG_MODULE = 12,
  HG_SUPERVISOR = 30,
  HG_PARSER = 31,
  HG_UTILFILE = 39,
  HG_MACRO = 40,
  HG_TIME = 155,
  HG_INTERNAL = 197,
  HG_DATASET = 203,
  HG_RVQTEXT = 320,
  HG_OBJECT = 326,
  HG_SORT = 472,
  HG_COUNT = 512
};

// The task block of the running step. Word 34 is the macro-table word; words 9 and 10
// lead to the block where the procedure stores its context address.
struct HostTaskBlock {
  HostTaskBlock* word4;   // the chain below the task (word 4)
  HostTaskBlock* word9;   // word 9
  HostTaskBlock* word10;  // word 10
  void* procedureContext; // where the procedure keeps its context address
  void* parseRoot;        // the parse root of the statement parser (made by xinit)
  void* macroWord;        // word 34: handed to xalanch
  // The host's arguments of the procedure main (six words).
  void* hostArgs[6];
};

// The global control block.
struct HostControlBlock {
  HostServiceGroups* groups;  // word 0
  uint8_t* groupBytes;        // word 1: one byte per group (HG_COUNT)
  HostTaskBlock* task;        // word 4
  QkPool* defaultPool;        // word 19
  HostTaskBlock* currentTask; // word 56 (null: use word 4)
  QkHandle* qkHandle;         // word 82
};

// Exported words of the module, set by mcn_main.
extern HostControlBlock* v_global_gcb_anchor;
extern void* v_global_pidb_anchor;
extern QkHandle* Exported_QKHandle;

// The task block that the current step runs in (word 56, else word 4).
HostTaskBlock* hostCurrentTask();
