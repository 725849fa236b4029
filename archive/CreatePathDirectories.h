#pragma once

class Host;

// Creates every directory along path (at most 255 characters) that can be created. Tries the
// whole path, cuts it back one component at a time while attempts fail, and starts again from the
// whole path after every success. Failures are silent: callers learn of them from what they try
// next. Only '\' separates components.
void CreatePathDirectories(const char* path, Host& host);
