#pragma once
// LKConfig's options dialog, the platform's own: it shows the connector's
// settings, saves what the operator changes, and returns when it is closed.
// Where no window can be shown it returns at once.
#include <string>

namespace kvt::lk {

// What happened, for the connector's log.
std::string runOptionsDialog();

}  // namespace kvt::lk
