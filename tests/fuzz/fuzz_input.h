// The input layout shared by the stream targets: a first line of control bytes, then the bytes
// the peer sends. Control bytes choose the options of a run and where the stream is cut into
// reads, so one input covers every way a network read could split it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzzing {

struct FuzzInput {
    std::string_view control; // before the first LF; empty when there is none
    std::string_view stream;  // everything after it
};

inline FuzzInput SplitControlLine(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = all.find('\n');
    if (lf == std::string_view::npos) {
        return {{}, all};
    }
    return {all.substr(0, lf), all.substr(lf + 1)};
}

// Cuts stream into reads whose lengths cycle through sizes (each byte modulo 64; 0 gives an
// empty read); the last read takes what is left. No sizes: the stream in one read.
inline std::vector<std::string_view> Pieces(std::string_view stream, std::string_view sizes) {
    std::vector<std::string_view> out;
    std::size_t leftAtCycleStart = 0;
    for (std::size_t i = 0; !sizes.empty() && !stream.empty(); ++i) {
        if (i % sizes.size() == 0) {
            if (i > 0 && stream.size() == leftAtCycleStart) {
                break; // only empty reads: the rest comes in one
            }
            leftAtCycleStart = stream.size();
        }
        const std::size_t n = static_cast<unsigned char>(sizes[i % sizes.size()]) % 64;
        out.push_back(stream.substr(0, n));
        stream.remove_prefix(std::min(n, stream.size()));
    }
    if (!stream.empty() || out.empty()) {
        out.push_back(stream);
    }
    return out;
}

} // namespace fuzzing
