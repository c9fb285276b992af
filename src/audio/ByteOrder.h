#pragma once
// The one place that turns integers into bytes and back: big-endian for the
// box structure of a movie (and the maker note's directories), little-endian
// for the WAV header. Every caller passes a pointer to at least as many bytes
// as the field is wide; the bounds are the caller's to check.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace spatialmux {

constexpr uint16_t ReadBE16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

constexpr uint32_t ReadBE32(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

constexpr uint64_t ReadBE64(const uint8_t* bytes) {
    return (static_cast<uint64_t>(ReadBE32(bytes)) << 32) | ReadBE32(bytes + 4);
}

constexpr void WriteBE16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

constexpr void WriteBE32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

constexpr void WriteBE64(uint8_t* bytes, uint64_t value) {
    WriteBE32(bytes, static_cast<uint32_t>(value >> 32));
    WriteBE32(bytes + 4, static_cast<uint32_t>(value));
}

constexpr uint16_t ReadLE16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

constexpr uint32_t ReadLE32(const uint8_t* bytes) {
    return ReadLE16(bytes) | (static_cast<uint32_t>(ReadLE16(bytes + 2)) << 16);
}

constexpr void WriteLE16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void WriteLE32(uint8_t* bytes, uint32_t value) {
    WriteLE16(bytes, static_cast<uint16_t>(value));
    WriteLE16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

// Appending forms for byte buffers that grow as they are written.
namespace byte_order_detail {
template <auto Write, class Value>
inline void Append(std::vector<uint8_t>& out, Value value) {
    const std::size_t at = out.size();
    out.resize(at + sizeof(Value));
    Write(out.data() + at, value);
}
}  // namespace byte_order_detail

inline void AppendLE16(std::vector<uint8_t>& out, uint16_t value) {
    byte_order_detail::Append<WriteLE16>(out, value);
}
inline void AppendBE16(std::vector<uint8_t>& out, uint16_t value) {
    byte_order_detail::Append<WriteBE16>(out, value);
}
inline void AppendBE32(std::vector<uint8_t>& out, uint32_t value) {
    byte_order_detail::Append<WriteBE32>(out, value);
}
inline void AppendBE64(std::vector<uint8_t>& out, uint64_t value) {
    byte_order_detail::Append<WriteBE64>(out, value);
}

}  // namespace spatialmux
