// The bodies of the output manager's methods, one per method number and receiver, and the
// helpers they share (rvqmanager.cpp, rvqtable.cpp). The class tables that dispatch to
// them, and the checks every call passes first, are in rvqobjects.cpp. "#N" after a
// declaration is the method number that the body serves.
#pragma once

#include "host/output/rvqobjects.h"

#include <string>

namespace qrxhost {

// A method body: the receiver (already known to be live and of the class's kind), the
// method number, the attribute count and records. Returns 0 or a negative status.
using MethodBody = int32_t (*)(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs);

// Output-object block and manager.
int32_t createObject(HostObject* self, int32_t method, int32_t count,
                     RvqAttr* attrs); // RvqMethod::Create
int32_t queryManager(HostObject* self, int32_t method, int32_t count, RvqAttr* attrs); // query
int32_t bindTable(HostObject* self, int32_t method, int32_t count,
                  RvqAttr* attrs); // RvqMethod::BindTable
int32_t publishTable(HostObject* self, int32_t method, int32_t count,
                     RvqAttr* attrs); // RvqMethod::Publish
int32_t textLine(HostObject* self, int32_t method, int32_t count,
                 RvqAttr* attrs); // RvqMethod::TextLine
int32_t openGroup(HostObject* self, int32_t method, int32_t count,
                  RvqAttr* attrs); // RvqMethod::OpenGroup
int32_t levelNote(HostObject* self, int32_t method, int32_t count,
                  RvqAttr* attrs); // RvqMethod::LevelNote
int32_t makeView(HostObject* self, int32_t method, int32_t count,
                 RvqAttr* attrs); // RvqMethod::MakeView
int32_t releaseView(HostObject* self, int32_t method, int32_t count,
                    RvqAttr* attrs); // RvqMethod::ReleaseView
int32_t makeGraph(HostObject* self, int32_t method, int32_t count,
                  RvqAttr* attrs); // RvqMethod::MakeGraph

// Tables.
int32_t defineColumn(HostObject* self, int32_t method, int32_t count,
                     RvqAttr* attrs); // RvqMethod::DefineColumn
int32_t endColumns(HostObject* self, int32_t method, int32_t count,
                   RvqAttr* attrs); // RvqMethod::EndColumns
int32_t emitRow(HostObject* self, int32_t method, int32_t count,
                RvqAttr* attrs); // RvqMethod::EmitRow
int32_t endRows(HostObject* self, int32_t method, int32_t count,
                RvqAttr* attrs); // RvqMethod::EndRows
int32_t setDynamic(HostObject* self, int32_t method, int32_t count,
                   RvqAttr* attrs); // RvqMethod::SetDynamic

// Factoids.
int32_t factoidEntry(HostObject* self, int32_t method, int32_t count,
                     RvqAttr* attrs); // RvqMethod::Entry
int32_t endEntries(HostObject* self, int32_t method, int32_t count,
                   RvqAttr* attrs); // RvqMethod::EndRows
int32_t releaseFactoid(HostObject* self, int32_t method, int32_t count,
                       RvqAttr* attrs); // RvqMethod::Close

// Groups.
int32_t closeGroup(HostObject* self, int32_t method, int32_t count,
                   RvqAttr* attrs); // RvqMethod::Close

// Helpers of the method bodies (valid while a step's output is open).
OutputState& outputState();
// Appends a node to the innermost open group, or to the document's top level.
OutputNode* addNode(NodeKind kind);
// The live object of `kind` behind a handle, or null.
ObjectRecord* liveObject(const void* handle, ObjKind kind);
// Failures naming the attribute: missing, or a handle of no live object.
int32_t missingAttr(int32_t method, int32_t id, const char* what);
int32_t badHandle(int32_t method, int32_t id, const char* what);
// Tables bound to templates under ".Phantom." only feed graphs and are not displayed.
bool isPhantomTemplate(const std::string& path);

// The class of each kind of object (built once).
RvqClass* classOf(ObjKind kind);

} // namespace qrxhost
