// Bounds-checked octet reader and appending writer: the only way the layer touches
// PDU bytes. A failed read leaves the cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bacstack {

class Reader {
public:
    Reader() = default;
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }
    bool empty() const { return pos_ >= data_.size(); }
    std::span<const std::uint8_t> rest() const { return data_.subspan(pos_); }

    bool peek_u8(std::uint8_t& out) const {
        if (empty()) return false;
        out = data_[pos_];
        return true;
    }
    bool read_u8(std::uint8_t& out) {
        if (!peek_u8(out)) return false;
        ++pos_;
        return true;
    }
    // Big-endian unsigned of 0 to 8 octets.
    bool read_uint(std::size_t octets, std::uint64_t& out) {
        if (octets > 8 || octets > remaining()) return false;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < octets; ++i) v = (v << 8) | data_[pos_ + i];
        pos_ += octets;
        out = v;
        return true;
    }
    bool read_u16(std::uint16_t& out) {
        std::uint64_t v;
        if (!read_uint(2, v)) return false;
        out = static_cast<std::uint16_t>(v);
        return true;
    }
    bool read_u32(std::uint32_t& out) {
        std::uint64_t v;
        if (!read_uint(4, v)) return false;
        out = static_cast<std::uint32_t>(v);
        return true;
    }
    bool read_span(std::size_t n, std::span<const std::uint8_t>& out) {
        if (n > remaining()) return false;
        out = data_.subspan(pos_, n);
        pos_ += n;
        return true;
    }
    bool skip(std::size_t n) {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

    std::size_t size() const { return out_.size(); }
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v) { uint(v, 2); }
    void u32(std::uint32_t v) { uint(v, 4); }
    // Big-endian, the low `octets` octets of v.
    void uint(std::uint64_t v, std::size_t octets) {
        for (std::size_t i = octets; i > 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * (i - 1))));
    }
    void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    // Overwrites an octet already written (length fields filled in after the body).
    void patch_u16(std::size_t at, std::uint16_t v) {
        out_.at(at) = static_cast<std::uint8_t>(v >> 8);
        out_.at(at + 1) = static_cast<std::uint8_t>(v);
    }

private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace bacstack
