// The lifetime of the per-step output documents and of the text handles they own.
// Building nodes from method calls is rvqobjects.cpp's; rendering is listing.cpp's and
// jsonnodes.cpp's.
#include "host/output/outputdoc.h"

#include "host/output/rvqobjects.h"
#include "host/output/rvqoutput.h"

namespace qrxhost {

OutputDocument::OutputDocument() : state(std::make_unique<OutputState>()) {}
OutputDocument::~OutputDocument() = default;

namespace {

// Every document of the process, the current one last; documents of finished steps keep
// their nodes for the renderers.
std::vector<std::unique_ptr<OutputDocument>>& documents() {
  static std::vector<std::unique_ptr<OutputDocument>> all;
  return all;
}
OutputDocument* current = nullptr;

// Texts made while no step runs (a host text service called outside a step).
OutputState& processTexts() {
  static OutputState texts;
  return texts;
}

} // namespace

OutputDocument* beginStepOutput() {
  if (current != nullptr)
    endStepOutput();
  documents().push_back(std::make_unique<OutputDocument>());
  current = documents().back().get();
  return current;
}

void endStepOutput() {
  if (current == nullptr)
    return;
  if (current->state) {
    closeOpenGroups(*current->state);
    current->state.reset();
  }
  current = nullptr;
}

OutputDocument* currentOutput() { return current; }

const std::vector<std::unique_ptr<OutputDocument>>& stepOutputs() { return documents(); }

void discardOutputs() {
  endStepOutput();
  documents().clear();
}

RvqText* makeText(std::string text, OutputNode* data) {
  OutputState& owner = current != nullptr && current->state ? *current->state : processTexts();
  owner.texts.push_back(RvqText{std::move(text), data});
  RvqText* handle = &owner.texts.back();
  owner.liveTexts.insert(handle);
  return handle;
}

bool isLiveText(const RvqText* text) {
  if (current != nullptr && current->state && current->state->liveTexts.count(text) != 0)
    return true;
  return processTexts().liveTexts.count(text) != 0;
}

} // namespace qrxhost
