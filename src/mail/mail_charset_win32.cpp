// Windows: the program's text is in the ANSI code page; name it as MIME does.
#include "common/windows_api.h"
#include "mail/message.h"

namespace platform {

std::string MailCharset() {
    const UINT cp = GetACP();
    switch (cp) {
    case 65001:
        return "UTF-8";
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "EUC-KR";
    case 950:
        return "Big5";
    case 28591:
        return "ISO-8859-1";
    default:
        return "windows-" + std::to_string(cp);
    }
}

} // namespace platform
