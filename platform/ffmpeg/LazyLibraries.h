// Shared libraries whose functions are bound on their first call rather than when the program
// starts. FFmpeg's libraries bring about a hundred more with them (every codec library they
// were built with): loading them all costs a program tens of milliseconds and megabytes before
// main, although only a run that reads compressed audio calls them.
//
// The program links small stand-ins (generated at build time, see cmake/LazyStubs.cmake) under
// the names of the functions it calls. Each stand-in jumps through a slot of a table; until the
// first call the slot leads to a resolver, which loads the libraries, looks every function of
// the table up, fills every slot and then goes on into the function that was called, with the
// caller's arguments untouched. Later calls cost one indirect jump.
//
// Threads: the first calls may come from several threads at once; one of them binds the table,
// the others wait for it. A library or function that cannot be found is as fatal as it would
// be to the system's loader at start-up: the program says which one and ends (abort).
#pragma once

#include <cstddef>

struct LazySymbol {
    const char* name;
    unsigned library; // index into LazyTable::libraries
};

struct LazyTable {
    const char* const* libraries; // file names as the system's loader finds them (sonames)
    std::size_t libraryCount;
    const LazySymbol* symbols;
    std::size_t symbolCount;
    void** slots; // one per symbol, read by the stand-ins
};

// Loads the table's libraries and fills every slot with the address of its function.
void BindLazyTable(const LazyTable& table);
