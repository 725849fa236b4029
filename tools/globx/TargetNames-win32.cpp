#include "TargetNames.h"

char TargetSeparator() { return '\\'; }

std::unique_ptr<NameMapper> MakeTargetNameMapper(int) { return nullptr; }
