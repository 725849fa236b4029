#include "CreatePathDirectories.h"

#include <cstring>

#include "Host.h"
#include "Text.h"

void CreatePathDirectories(const char* path, Host& host) {
    char w[256];
    for (;;) {
        CopyText(w, sizeof w, path);
        for (;;) {
            if (host.MakeDirectory(w)) break;  // made one: start again from the whole path
            int length = static_cast<int>(std::strlen(w));
            if (length == 0) return;
            // The first character is looked at only when it is the only one.
            int i = length - 1;
            while (i > 0 && w[i] != '\\') --i;
            if (w[i] != '\\' || (i == 0 && length > 1)) return;
            w[i] = '\0';
        }
    }
}
