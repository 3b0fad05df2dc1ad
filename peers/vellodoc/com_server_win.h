#pragma once
// The COM class "Vellodoc.Server" of the host stand-in, shared by its two
// forms: vellodoc_server.dll (in process) and vellodoc_server.exe (a local
// server in a process of its own, as an office's host is).
#include <objbase.h>
#include <windows.h>

namespace kvt::vellodoc::com {

enum class Form { InProcess, LocalServer };

// {B8B61307-114F-4B38-A9D5-AB99729DB972}
inline constexpr CLSID kClsid = {
    0xb8b61307, 0x114f, 0x4b38, {0xa9, 0xd5, 0xab, 0x99, 0x72, 0x9d, 0xb9, 0x72}};

// The one class factory of the module.
IClassFactory& classFactory();

// Registers the class under root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE)
// in the given form, with this module as its server; the other form's key is
// removed, so that a prefix or a user has one host at a time.
HRESULT registerUnder(HKEY root, Form form);
HRESULT unregisterFrom(HKEY root);

// Called on the server's thread once no object and no lock is left after
// the first object was made; the local server then ends.
void setWhenUnused(void (*callback)());

}  // namespace kvt::vellodoc::com
