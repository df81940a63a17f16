// The supervisor services (group 30): exit, pools, end-of-task registration, the log of
// numbered messages, options and the step's return code as the host sees it.
#pragma once

#include "host/returncode.h"
#include "support/hostif.h"

#include <map>
#include <optional>
#include <string>

namespace qrxhost {

HostSupervisorServices* supervisorServices();

// Host options (from -o and OPTIONS); names are case-insensitive.
void setHostOption(const std::string& name, const std::string& value);
std::optional<std::string> hostOption(const std::string& name);
std::map<std::string, std::string> allHostOptions();
// Whether `value` is one the host option `name` takes: Accepted, else BadValue with
// `allowed` saying what it takes, or UnknownName with `allowed` naming the host options.
enum class OptionCheck { Accepted, BadValue, UnknownName };
OptionCheck checkHostOption(const std::string& name, const std::string& value,
                            std::string* allowed);
void clearHostOptions();

// The return code of the running step as the host sees it (xrcset, xebug); only rises.
ReturnCode stepReturnCode();
void raiseStepReturnCode(StepRc rc);
void raiseStepReturnCode(ReturnCode rc);

// The end-of-task routine registered with xytexit; takeEndOfTask returns it and clears it.
using EndOfTaskRoutine = void (*)();
EndOfTaskRoutine takeEndOfTask();

// Clears the step's return code and end-of-task registration.
void resetStepState();

} // namespace qrxhost
