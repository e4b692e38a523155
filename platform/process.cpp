#include "platform/process.h"

namespace korva::platform {
namespace os {
Processes& DefaultProcesses();
}  // namespace os

namespace {

bool IsBlank(WChar c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

Processes& Procs() {
    Processes* replacement = ScopedProcessesOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultProcesses();
}

std::vector<WString> SplitCommandLine(WStringView line) {
    std::vector<WString> args;
    size_t i = 0;
    const size_t n = line.size();
    if (n == 0) {
        return args;
    }
    // The program name: no escapes at all.
    WString program;
    if (line[0] == u'"') {
        for (i = 1; i < n && line[i] != u'"'; ++i) {
            program.push_back(line[i]);
        }
        if (i < n) {
            ++i;  // the closing quote
        }
    } else {
        for (; i < n && !IsBlank(line[i]); ++i) {
            program.push_back(line[i]);
        }
    }
    args.push_back(std::move(program));

    while (i < n && IsBlank(line[i])) {
        ++i;
    }
    while (i < n) {
        WString arg;
        size_t backslashes = 0;
        // Quotes seen in the current run: odd means inside quotes.
        int quotes = 0;
        while (i < n) {
            const WChar c = line[i];
            if (IsBlank(c) && quotes == 0) {
                break;
            }
            if (c == u'\\') {
                arg.push_back(c);
                ++backslashes;
                ++i;
                continue;
            }
            if (c != u'"') {
                arg.push_back(c);
                backslashes = 0;
                ++i;
                continue;
            }
            if (backslashes % 2 == 0) {
                // Half the backslashes stay; the quote opens or closes quoting.
                arg.erase(arg.size() - backslashes / 2);
                ++quotes;
            } else {
                // Half the backslashes stay, the last one escapes a literal quote.
                arg.erase(arg.size() - backslashes / 2 - 1);
                arg.push_back(u'"');
            }
            backslashes = 0;
            ++i;
            // Further quotes right after: every third one of the run is a literal quote.
            while (i < n && line[i] == u'"') {
                if (++quotes == 3) {
                    arg.push_back(u'"');
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) {
                quotes = 0;
            }
        }
        args.push_back(std::move(arg));
        while (i < n && IsBlank(line[i])) {
            ++i;
        }
    }
    return args;
}

}  // namespace korva::platform
