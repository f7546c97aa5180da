// POSIX: the program's text is UTF-8 bytes.
#include "mail/message.h"

namespace platform {

std::string MailCharset() {
    return "UTF-8";
}

} // namespace platform
