#pragma once

// True when a file can be created in directory (with or without a trailing backslash). The probe
// is created exclusively, under the first of "TEST", "TEST1", ... "TEST99" that is free, and
// deleted again: an existing entry of that name is never touched. A directory whose probe path
// does not fit 256 bytes is reported as not writable.
bool TestWritable(const char* directory);
