// The platform's debug facility: named debug output and terminal registration.
#pragma once

extern "C" {

// Initialises the facility `name` for the process owning `handle`; 0 on success.
int dbgfac_init(const char* name, int flags, int handle);

// Formats one record and prints it under `facility`, whole, with a newline.
void klaxo(int level, const char* facility, int flags, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// op 924 adds the terminal `vty` to the facility's terminals, 925 removes it.
int dbgfac_vty_notify(int unused, int op, const char* facility, const char* vty);
}

constexpr int DBGFAC_VTY_ADD = 924;
constexpr int DBGFAC_VTY_REMOVE = 925;
