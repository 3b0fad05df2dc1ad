#pragma once
// The conversions between the seam's values and COM's VARIANTs, the same for
// both sides of a late-bound call: the client of automation_win.cpp and a COM
// server that the project itself provides. Included only by *_win.cpp files.
#include <oaidl.h>

#include "host/automation.h"

namespace kvt::automation {

// Fills `out` (initialised, empty) with the value: texts as BSTR, integers as
// VT_I4 (VT_I8 beyond 32 bits), null as VT_NULL, an omitted argument as
// DISP_E_PARAMNOTFOUND. Raises kvt::Error when it cannot.
void toVariant(const Variant& value, VARIANT& out);

// The value of a VARIANT, through a reference too; a kind the seam has none
// for gives Null. Raises kvt::Error when a reference cannot be read.
Variant fromVariant(const VARIANT& in);

}  // namespace kvt::automation
