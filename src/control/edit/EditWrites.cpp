// The boxes an edit writes over the copy of its input.
#include "control/edit/EditWrites.h"

#include <algorithm>
#include <vector>

#include "platform/FileCopy.h"
#include "platform/FileFacts.h"

namespace spatialmux {

std::optional<EditInput> EditInput::Open(const std::string& path) {
    EditInput input;
    input.path = path;
    input.fd = platform::OpenForReading(path);
    input.identity = platform::IdentityOfFd(input.fd.Get());
    input.stream.open(path, std::ios::binary);
    const auto size = platform::CurrentFileFacts().Size(path);
    if (!input.fd.Valid() || !input.stream || !size) return std::nullopt;
    input.size = *size;
    return input;
}

bool EditInput::Replaced() const {
    return !identity || platform::IdentityOfPath(path) != identity;
}

namespace {

constexpr std::size_t kBlankStepBytes = 1u << 20;

// Overwrites the box `range` of the output with a free box of its size and
// zeros, so that no byte of an old moov or private box stays behind.
bool BlankBox(int fd, const output::ByteRange& range) {
    const std::vector<uint8_t> header = output::FreeBoxHeader(range);
    if (!platform::WriteAllAt(fd, range.offset, header.data(), header.size())) return false;
    const std::vector<uint8_t> zeros(kBlankStepBytes, 0);
    for (uint64_t at = header.size(); at < range.size;) {
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(range.size - at, zeros.size()));
        if (!platform::WriteAllAt(fd, range.offset + at, zeros.data(), n)) return false;
        at += n;
    }
    return true;
}

}  // namespace

std::optional<std::string> RewriteBoxesInPlace(int fd, const output::PreparedEdit& edit) {
    const output::EditPlan& plan = edit.plan;
    if (!platform::WriteAllAt(fd, plan.ftyp.offset, edit.ftyp.data(), edit.ftyp.size())) {
        return std::string("could not write the output's ftyp box");
    }
    for (const output::ByteRange& blank : plan.blanks) {
        if (!BlankBox(fd, blank)) return std::string("could not clear the old movie box");
    }
    for (const output::BytePatch& size : plan.sizes) {
        if (!platform::WriteAllAt(fd, size.offset, size.bytes.data(), size.bytes.size())) {
            return std::string("could not write the size of the media data");
        }
    }
    return std::nullopt;
}

bool AppendNewMoov(int fd, const output::PreparedEdit& edit) {
    const uint64_t at = edit.plan.copyLength;
    return platform::WriteAllAt(fd, at, edit.moov.data(), edit.moov.size()) &&
           platform::TruncateTo(fd, at + edit.moov.size());
}

}  // namespace spatialmux
