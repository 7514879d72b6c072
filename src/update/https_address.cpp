// The scheme test of an address, without the system.
#include "update/https_address.h"

int IsHttpsAddress(const char* url) {
    if (!url) return 0;
    static const char kScheme[] = "https://";
    for (int i = 0; kScheme[i] != '\0'; ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kScheme[i]) return 0;  // the NUL of a shorter text stops here too
    }
    return 1;
}
