#pragma once
// The journal's codes as the operator reads them. The codes themselves are
// what the journal, the broker and the runner's output keep; views that an
// operator reads (the history page, its CSV) show these texts instead. A
// code without a text is shown as it is.
#include <string>

#include "run/RunEvents.h"

namespace ristova::run {

std::string KindText(const std::string& kind);
std::string SourceText(const std::string& source);
// A state's "1" and "0" read by the kind they belong to.
std::string ResultText(const std::string& kind, const std::string& result);
std::string DetailText(const std::string& kind, const std::string& detail);

// The event with kind, source, result and detail as the operator reads them.
RunEvent ShownEvent(const RunEvent& event);

// Why a switch asked for from outside the window was not carried out, as
// the operator reads it, from the event that told so (result refused,
// not-sent or failed).
std::string SwitchRefusalText(const RunEvent& event);

}  // namespace ristova::run
