#pragma once
// The identifiers of the windows' resources, shared by the resource script
// and the views.
#define IDI_PROGRAMMA 1
#define IDB_VELLO 101
#define IDB_KVT 102
