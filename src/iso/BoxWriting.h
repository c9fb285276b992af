#pragma once
// Writing boxes into bytes, the one way every writer of boxes does it (the
// output's moov writers, the Spherical Video V2 writer, the fixture builder):
// a box is opened at the end of the bytes with a size of 0 and its type, its
// contents are appended, and closing it writes its size, from its first
// byte to the end of the bytes (boxes nest as the scopes that open them).
// Boxes that enclose a change made later get the change added to their size
// fields by AddToBoxSize. Sizes are the plain 32-bit form: a writer whose
// whole output may grow past 4 GiB checks that once, at its outermost box.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/ByteOrder.h"
#include "iso/BoxHeader.h"

namespace spatialmux {

// Appends the header of a box of `type` (four characters) with a size of 0
// to `out`, and for a full box its version 0 and flags 0; returns where the
// box starts, for CloseBoxAt.
inline std::size_t OpenBoxAt(std::vector<uint8_t>& out, const char* type, bool fullBox = false) {
    const std::size_t start = out.size();
    AppendBE32(out, 0);
    out.insert(out.end(), type, type + 4);
    if (fullBox) AppendBE32(out, 0);
    return start;
}

// Writes the size of the box that starts at `start`: up to the end of `out`.
inline void CloseBoxAt(std::vector<uint8_t>& out, std::size_t start) {
    if (start > out.size() || out.size() - start < 4) return;
    WriteBE32(out.data() + start, static_cast<uint32_t>(out.size() - start));
}

// A box open at the end of `out` until Close, or the end of its scope.
class OpenBox {
public:
    OpenBox(std::vector<uint8_t>& out, const char* type, bool fullBox = false)
        : out_(out), start_(OpenBoxAt(out, type, fullBox)) {}
    ~OpenBox() { Close(); }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;

    void Close() {
        if (closed_) return;
        closed_ = true;
        CloseBoxAt(out_, start_);
    }

private:
    std::vector<uint8_t>& out_;
    std::size_t start_;
    bool closed_ = false;
};

// Adds `change` to the plain 32-bit size field at `at` of `bytes` (a box
// that encloses bytes added or taken away). False, and nothing changed, when
// the field is not within `bytes` or the new size would be smaller than a
// box header or larger than 32 bits hold.
inline bool AddToBoxSize(std::vector<uint8_t>& bytes, uint64_t at, int64_t change) {
    if (at > bytes.size() || bytes.size() - at < 4) return false;
    const int64_t size = static_cast<int64_t>(ReadBE32(bytes.data() + at)) + change;
    if (size < static_cast<int64_t>(kBoxHeaderSize) || size > static_cast<int64_t>(UINT32_MAX)) {
        return false;
    }
    WriteBE32(bytes.data() + at, static_cast<uint32_t>(size));
    return true;
}

}  // namespace spatialmux
