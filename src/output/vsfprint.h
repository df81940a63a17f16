// Helpers of the table output protocol shared by every printer: checked manager calls,
// text handles, object creation, columns, binds, rows, publishing, factoid entries, groups,
// notes and the print timer. Each printer's own columns and rows live in its own file.
#pragma once

#include "support/hostif.h"
#include "support/messages.h"
#include "support/wobmth.h"

#include <cstdint>
#include <initializer_list>

struct VsfContext;

// Values the host shows specially: plus and minus infinity, and a statistic that is not
// available (shown like a missing value).
double vsfPlusInfinity();
double vsfMinusInfinity();
double vsfUnavailable();

// A text handle of a literal (NUL-terminated or counted); messages' texts come from msgText.
RvqText* vsfText(const char* text, int32_t length = -1);
// The length of a message's text (0 when it has none).
[[nodiscard]] int32_t vsfMsgLength(VsfMsg m);
// Copies a message's text into a blank-filled field of `width` bytes.
void vsfMsgCopy(VsfMsg m, char* field, int32_t width);
// Blank-fills a field of `width` bytes and copies up to `width` bytes of `text` into it.
void vsfFill(char* field, int32_t width, const char* text, int32_t length);

// Calls a manager method; a negative result goes to zrvqexit, which ends the run (it returns
// only for the tolerated status, after which the caller goes on as the manager allows).
void vsfCall(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs);
// As vsfCall, with the records in an array of any length.
void vsfCallArray(RvqObject* object, int32_t method, RvqAttr* attrs, int32_t n);
// As vsfCall, returning the handle the manager wrote into record `slot` (null when none).
void* vsfCallHandle(RvqObject* object, int32_t method, std::initializer_list<RvqAttr> attrs,
                    int32_t slot);

// Attribute shorthands.
RvqAttr vsfaName(const char* name);     // RvqAttrId::Name
RvqAttr vsfaLabel(RvqText* label);      // RvqAttrId::Label
RvqAttr vsfaTemplate(const char* path); // RvqAttrId::Template
RvqAttr vsfaDyn(const char* name);      // RvqAttrId::DynamicName
RvqAttr vsfaBound(void* address);       // RvqAttrId::Bound
// Attribute 784 with value type 67: the slot that receives the bound data's reference.
RvqAttr vsfaDataRef(RvqText** slot);

// One data table or factoid being printed. Every call is skipped once the table handle
// is missing, so that a printer never goes on with a handle it did not receive.
struct VsfOut {
  VsfContext* ctx;
  RvqObject* table = nullptr;
  RvqObject* bound = nullptr;
  double start = 0.0;
  bool outermost = false; // no other printer was running when this one started
  bool finished = false;

  explicit VsfOut(VsfContext* context);
  ~VsfOut();
  VsfOut(const VsfOut&) = delete;
  VsfOut& operator=(const VsfOut&) = delete;
  // RvqMethod::Create for kind "data": class, kind, handle, -1, name, label, then `extra`.
  // False when no table came back (no manager, or a status the manager only logs): the
  // printer then skips the table's rows and goes on, as the run goes on after that status.
  [[nodiscard]] bool create(const char* name, RvqText* label,
                            std::initializer_list<RvqAttr> extra = {});
  // RvqMethod::Create for a factoid: template in the create call, optional title. False as
  // for create.
  [[nodiscard]] bool createFactoid(const char* name, const char* templ, RvqText* label,
                                   RvqText* title);
  // RvqMethod::DefineColumn with the given attributes.
  void column(std::initializer_list<RvqAttr> attrs);
  void numberColumn(const char* name, double* value);
  void intColumn(const char* name, int32_t* value, bool formatZero = true);
  void charColumn(const char* name, char* buffer, int32_t width);
  void endColumns(); // RvqMethod::EndColumns
  // RvqMethod::BindTable: the Receiver record, the Table one, Template, then `extra`.
  void bind(const char* templ, std::initializer_list<RvqAttr> extra = {}, bool dataUnder504 = true);
  // The same with `count` attributes at `extra`, for lists made at run time.
  void bind(const char* templ, const RvqAttr* extra, int32_t count);
  void emit();                               // RvqMethod::EmitRow
  void endRows();                            // RvqMethod::EndRows
  void publish(RvqText* footnote = nullptr); // RvqMethod::Publish
  void entry(VsfMsg label, RvqAttr value,
             std::initializer_list<RvqAttr> extra = {}); // RvqMethod::Entry
  void release();                                        // RvqMethod::Close of a factoid
  // Adds the elapsed time since construction to the print timer, unless this printer runs
  // inside another one, whose time already holds it.
  void finish();
};

// Opens a group on the manager (RvqMethod::OpenGroup); returns its handle (null when none came
// back).
RvqObject* vsfOpenGroup(VsfContext* ctx, const char* name, std::initializer_list<RvqAttr> extra);
// Closes or releases a group or factoid through its own release entry.
void vsfCloseObject(RvqObject* object);

// A group open as long as its scope: closed when the owner goes, so that no early return
// leaves it open; close() ends it sooner, where what follows must sit outside it.
class VsfGroup {
public:
  VsfGroup() = default;
  VsfGroup(VsfContext* ctx, const char* name, std::initializer_list<RvqAttr> extra)
      : object_(vsfOpenGroup(ctx, name, extra)) {}
  ~VsfGroup() { close(); }
  VsfGroup(const VsfGroup&) = delete;
  VsfGroup& operator=(const VsfGroup&) = delete;
  // Opens the group after construction (closing the one open before).
  void open(VsfContext* ctx, const char* name, std::initializer_list<RvqAttr> extra) {
    close();
    object_ = vsfOpenGroup(ctx, name, extra);
  }
  void close() {
    RvqObject* open = object_;
    object_ = nullptr;
    vsfCloseObject(open);
  }

private:
  RvqObject* object_ = nullptr;
};
// A level note (RvqMethod::LevelNote: NoteLevel, optional NoteSwitch, Placement -1, Text) and a
// level mark.
void vsfLevelNote(VsfContext* ctx, int32_t level, RvqText* text, bool flag358);
void vsfLevelMark(VsfContext* ctx, int32_t level);
// A text line (RvqMethod::TextLine) with character option `option`.
void vsfTextLine(VsfContext* ctx, char option, RvqText* text);
