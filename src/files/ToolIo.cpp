#include "files/ToolIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "files/SafeText.h"
#include "files/Version.h"

namespace tavrik {

int ToolIo::Standard(std::string_view arg) {
    if (arg == "--help" || arg == "-h") {
        Write(usage_);
    } else if (arg == "--version") {
        Write(program_ + " (tavrik-decoder) " + std::string(kVersionText) + "\n");
    } else {
        return -1;
    }
    return Finish(0);
}

int ToolIo::Usage(const std::string& why, std::string_view detail) const {
    std::fprintf(stderr, "%s: %s\n%.*s%.*s", program_.c_str(), EscapeControls(why).c_str(),
                 static_cast<int>(detail.size()), detail.data(), static_cast<int>(usage_.size()),
                 usage_.data());
    return 2;
}

int ToolIo::Fail(const std::string& why) const {
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), EscapeControls(why).c_str());
    return 1;
}

bool ToolIo::Write(std::string& buf) {
    const bool ok = Write(std::string_view(buf));
    buf.clear();
    return ok;
}

bool ToolIo::Write(std::string_view text) {
    std::size_t done = 0;
    while (ok_ && done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(std::string("standard output: ") + std::strerror(n < 0 ? errno : ENOSPC));
            ok_ = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    return ok_;
}

} // namespace tavrik
