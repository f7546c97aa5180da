// Any token or device endpoint answer, and any ID token: the readers never throw or crash, and
// an answer they accept has every field the flows rely on (an error code, or the tokens and
// codes with positive times), whatever types, duplicates or sizes the members have.
#include "invariant.h"
#include "oauth/answers.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using fuzzing::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const oauth::TokenAnswer token = oauth::ParseTokenAnswer(input);
    if (token.valid && token.error.empty()) {
        Check(!token.accessToken.empty(), "an accepted token answer has an access token");
    }
    if (!token.valid) {
        Check(token.accessToken.empty() && token.refreshToken.empty(),
              "a refused token answer hands on no token");
    }

    const oauth::DeviceAnswer device = oauth::ParseDeviceAnswer(input);
    if (device.valid && device.error.empty()) {
        Check(!device.deviceCode.empty() && !device.userCode.empty() &&
                  !device.verificationUri.empty(),
              "an accepted device answer has its codes and address");
        Check(device.expiresIn > 0 && device.interval > 0,
              "the device answer's times are positive");
    }

    // The same bytes as an ID token's payload, and as a whole token.
    oauth::AccountOfIdToken("h." + oauth::Base64UrlEncode(input) + ".s");
    if (const auto account = oauth::AccountOfIdToken(input)) {
        Check(!account->empty(), "an account is never empty");
    }
    if (const auto decoded = oauth::Base64UrlDecode(input)) {
        Check(decoded->size() <= input.size(), "decoding never grows the text");
    }
    return 0;
}
