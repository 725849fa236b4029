#pragma once

#include <memory>

#include "Extract.h"

// How member names become paths on this system. TargetNames-posix.cpp and TargetNames-win32.cpp
// implement it; the build picks one.

// The separator that ends installDir: '/' on POSIX, '\' on Windows.
char TargetSeparator();

// The NameMapper for extraction: on POSIX names are converted from codePage to UTF-8; on Windows
// they stay as stored (the file layer takes 8-bit names), and the result is null.
std::unique_ptr<NameMapper> MakeTargetNameMapper(int codePage);
