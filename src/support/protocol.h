// The numbers the module and the host agree on, named once: the output manager's method
// numbers and attribute ids, the grammar's action routines, and the flags and option slots
// that the grammar's actions fill and the statement readers read. Both sides include this
// header; neither writes one of these numbers as a literal.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// Output manager: method numbers (wobmth) and attribute ids (RvqAttr::id)
// ---------------------------------------------------------------------------------------

// Method numbers of the output objects. The namespaces give enumerator-like names that
// convert to the int32_t the call records carry.
namespace RvqMethod {
inline constexpr int32_t Query = 2;          // a class's query slot
inline constexpr int32_t Close = 4;          // close a group or release a factoid
inline constexpr int32_t Create = 147;       // make the manager, a table or a factoid
inline constexpr int32_t Entry = 164;        // a factoid entry
inline constexpr int32_t EndColumns = 298;   // a table's columns are all defined
inline constexpr int32_t EndRows = 299;      // a table's rows (a factoid's entries) are all in
inline constexpr int32_t OpenGroup = 300;    // open a group under the manager
inline constexpr int32_t SetDynamic = 316;   // a dynamic variable of a table or factoid
inline constexpr int32_t EmitRow = 329;      // a row from the bound variables
inline constexpr int32_t DefineColumn = 338; // a column of a table
inline constexpr int32_t TextLine = 358;     // a line of text or a rule
inline constexpr int32_t BindTable = 422;    // bind a table to its template
inline constexpr int32_t Publish = 428;      // publish a bound table
inline constexpr int32_t LevelNote = 439;    // a level note or mark
inline constexpr int32_t ReleaseView = 494;  // release a view
inline constexpr int32_t MakeView = 708;     // a view of a table's rows
inline constexpr int32_t MakeGraph = 2826;   // a graph from tables or views
} // namespace RvqMethod

// Attribute ids of the call records. Ids the host only checks the type of are named after
// where the module passes them.
namespace RvqAttrId {
inline constexpr uint16_t Receiver = 0;       // the handle record that opens some calls
inline constexpr uint16_t ColumnType = 103;   // a column's value type
inline constexpr uint16_t Where = 105;        // a view's row condition
inline constexpr uint16_t Name = 138;         // object, column or group name
inline constexpr uint16_t ObjectClass = 143;  // "rvq"
inline constexpr uint16_t ObjectKind = 146;   // "manager", "data" or "factoid"
inline constexpr uint16_t Handle = 144;       // the returned handle of a new object
inline constexpr uint16_t Placement = 148;    // -1: in order
inline constexpr uint16_t AttrList = 174;     // a nested list of records
inline constexpr uint16_t Title = 267;        // a factoid's title
inline constexpr uint16_t FormatCode = 270;   // the number format
inline constexpr uint16_t FormatWidth = 272;  // the format width of a factoid entry
inline constexpr uint16_t Align = 273;        // a text line's alignment
inline constexpr uint16_t RuleSpan = 280;     // a rule's span
inline constexpr uint16_t Bound = 285;        // a column's bound variable
inline constexpr uint16_t Numbered = 286;     // a group with a name stem and a number
inline constexpr uint16_t Value = 287;        // an entry value; a dynamic variable's value
inline constexpr uint16_t Stem = 288;         // a numbered group's name stem
inline constexpr uint16_t Width = 289;        // a character column's width
inline constexpr uint16_t Label = 296;        // a label
inline constexpr uint16_t View = 307;         // a graph's view
inline constexpr uint16_t Description = 310;  // a description
inline constexpr uint16_t DynamicName = 311;  // a dynamic variable's name
inline constexpr uint16_t ViewHandle = 321;   // a view's handle
inline constexpr uint16_t Variant = 336;      // a table variant
inline constexpr uint16_t Template = 339;     // a template path
inline constexpr uint16_t FormatName = 340;   // a factoid entry's format name
inline constexpr uint16_t NoteSwitch = 358;   // a level note's switch
inline constexpr uint16_t LineCount = 371;    // a text line's line count
inline constexpr uint16_t Footnote = 378;     // a published table's footnote
inline constexpr uint16_t GroupKind = 435;    // a group's kind switch
inline constexpr uint16_t DataSetGroup = 436; // a group that names a data set
inline constexpr uint16_t GroupNumber = 437;  // a numbered group's number
inline constexpr uint16_t NoteLevel = 440;    // a level note's level
inline constexpr uint16_t LevelMark = 442;    // a level mark
inline constexpr uint16_t Table = 504;        // the table a bind call binds
inline constexpr uint16_t Text = 577;         // a text line's or note's text
inline constexpr uint16_t Rule = 580;         // a rule's character
inline constexpr uint16_t DataRef = 784;      // a data reference (bind: its out slot)
inline constexpr uint16_t Query = 1334;       // the manager's query switch
inline constexpr uint16_t TitleNote = 2558;   // the note that is the step's title
inline constexpr uint16_t GraphsOnly = 2640;  // 1: the table only feeds graphs
inline constexpr uint16_t DataRefs = 2829;    // a graph's data references
} // namespace RvqAttrId

// ---------------------------------------------------------------------------------------
// Option codes that the statement readers set and the data layer reads
// ---------------------------------------------------------------------------------------

// CVMETHOD=: the settings and the data pass keep these codes.
enum VsfCvMethod : uint8_t { CV_NONE = 0, CV_RANDOM = 1, CV_BLOCK = 2, CV_SPLIT = 3, CV_INDEX = 4 };
