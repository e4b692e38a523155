// UTF-8 to UTF-16 on Windows: the platform's own conversion, MultiByteToWideChar(CP_UTF8, 0), whose
// replacement of invalid input (U+FFFD, no MB_ERR_INVALID_CHARS) the Linux build reproduces.
#include "platform/win32/utf8_win32.h"

#include <windows.h>

#include <climits>

namespace korva {

namespace platform {

namespace {

// Where to end a piece that would otherwise end at `limit`: before the earliest lead byte (C0..FF) among the
// last three bytes, so that no sequence in a piece can reach past its end. Cutting before a lead byte never
// changes the result: a lead byte always starts a new sequence (or a replacement of its own), so no valid or
// invalid sequence spans it from the left.
size_t PieceEnd(std::string_view utf8, size_t start, size_t limit) {
    if (limit >= utf8.size()) {
        return utf8.size();
    }
    size_t end = limit;
    for (size_t back = 1; back <= 3 && limit - back > start; ++back) {
        if (static_cast<unsigned char>(utf8[limit - back]) >= 0xC0) {
            end = limit - back;
        }
    }
    return end;
}

void AppendPiece(WString& out, const char* data, size_t size) {
    // A piece never exceeds INT_MAX bytes and yields at most one UTF-16 unit per byte.
    const int inLength = static_cast<int>(size);
    const size_t before = out.size();
    out.resize(before + size);
    const int written = MultiByteToWideChar(CP_UTF8, 0, data, inLength, out.data() + before, inLength);
    out.resize(before + static_cast<size_t>(written > 0 ? written : 0));
}

}  // namespace

WString Utf8ToUtf16Chunked(std::string_view utf8, size_t maxChunk) {
    WString out;
    if (maxChunk < 4) {
        maxChunk = 4;
    }
    out.reserve(utf8.size());
    size_t start = 0;
    while (start < utf8.size()) {
        const size_t end =
            PieceEnd(utf8, start, start + maxChunk < utf8.size() ? start + maxChunk : utf8.size());
        AppendPiece(out, utf8.data() + start, end - start);
        start = end;
    }
    return out;
}

}  // namespace platform

WString Utf8ToUtf16(std::string_view utf8) {
    // MultiByteToWideChar takes int lengths; 1 GiB pieces stay far below INT_MAX.
    constexpr size_t kPiece = size_t{1} << 30;
    static_assert(kPiece <= static_cast<size_t>(INT_MAX));
    return platform::Utf8ToUtf16Chunked(utf8, kPiece);
}

}  // namespace korva
