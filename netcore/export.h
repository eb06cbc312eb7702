// NETCORE_EXPORT marks the names libnetcore.so makes visible to programs
// that link it. The library is compiled with hidden visibility, so a class,
// function or std::hash specialisation without the mark stays inside the
// library even when an installed header declares it (such a header is
// installed only for the types it carries).
//
// Hand-written rather than generated: the same macro is needed by the
// static pieces the library is assembled from and by the installed copy,
// and it depends on no build setting, so there is nothing to generate.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define NETCORE_EXPORT __attribute__((visibility("default")))
#else
#define NETCORE_EXPORT
#endif
