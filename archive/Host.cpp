#include "Host.h"

#include "FileSystem.h"

bool Host::MakeDirectory(const char* path) { return ::MakeDirectory(path); }
