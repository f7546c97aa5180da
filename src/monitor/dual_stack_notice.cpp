#include "monitor/dual_stack_notice.h"

#include "monitor/family_plan.h"

namespace modGetExternalIP {

namespace {

std::string FamilyLine(const char* family, const NoticeFamily& f) {
    if (!f.address) {
        return std::string("WAN ") + family + ":  not found (" + f.reason + ")";
    }
    if (f.isNew) {
        return std::string("New WAN ") + family + " Detected:  " + *f.address;
    }
    return std::string("WAN ") + family + ":  " + *f.address + " (unchanged)";
}

} // namespace

std::string DualStackNoticeLines(const NoticeFamily& ipv4, const NoticeFamily& ipv6,
                                 const std::vector<std::string>& reachable) {
    std::string lines = FamilyLine("IP", ipv4) + "\r\n" + FamilyLine("IPv6", ipv6);
    if (!ipv6.address) {
        return lines;
    }
    lines += "\r\nIPv6 prefix:  " + Prefix64Of(*ipv6.address).value_or(*ipv6.address);
    lines += "\r\nReachable at:  ";
    if (reachable.empty()) {
        lines += "none found on this machine";
    }
    for (std::size_t i = 0; i < reachable.size(); ++i) {
        lines += (i == 0 ? "" : ", ") + reachable[i];
    }
    return lines;
}

} // namespace modGetExternalIP
