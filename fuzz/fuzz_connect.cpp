// Fuzzes the connect-string split and its check: any text, any length.
// An accepted string must have a password, a refused one a reason, and the
// masked form must be the input with just the password replaced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_data, size_t p_size) {
    std::string text(reinterpret_cast<const char*>(p_data), p_size);
    std::string user = "u0", password = "p0", service = "s0";
    parseConnectString(text, user, password, service);
    std::string reason;
    bool ok = checkConnectString(text, reason);
    std::string masked = maskConnectString(text);
    if (ok) {
        if (password.empty()) std::abort();  // accepted means a password
        // The masked text is the input with the password, and only it,
        // replaced by the marker.
        static const std::string kMarker = "<password>";
        bool found = false;
        for (size_t at = masked.find(kMarker); at != std::string::npos && !found;
             at = masked.find(kMarker, at + 1)) {
            std::string back = masked;
            back.replace(at, kMarker.size(), password);
            found = back == text;
        }
        if (!found) std::abort();
    } else if (reason.empty()) {
        std::abort();  // a refusal says why
    }
    return 0;
}
