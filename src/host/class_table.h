#pragma once
// The in-process class table behind registerClass, shared by the platforms'
// createObject: a class registered here is made here, before the system's
// automation (if any) is asked.
#include <memory>
#include <string_view>

#include "host/automation.h"

namespace kvt::automation {

// An object of the registered class; null when no such class is registered.
// Raises kvt::Error when the class's factory makes nothing.
std::shared_ptr<Object> createRegistered(std::string_view classId);

}  // namespace kvt::automation
