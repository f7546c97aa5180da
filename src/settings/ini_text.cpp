#include "settings/ini_text.h"

#include "common/text.h"

#include <vector>

namespace ini {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

enum class Kind { Blank, Comment, Section, Entry };

struct Line {
    std::size_t begin = 0; // offset of the line's first byte
    std::size_t end = 0;   // offset just past its last byte, before the line break
    std::size_t next = 0;  // offset of the following line
    Kind kind = Kind::Blank;
    std::string_view name;                 // section or key name
    std::optional<std::string_view> value; // an entry's value, when it has "="
};

std::size_t BodyStart(std::string_view content) {
    return content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

Line Classify(std::string_view content, std::size_t begin) {
    Line line;
    line.begin = begin;
    std::size_t end = content.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) {
        end = content.size();
    }
    line.end = end;
    line.next = end;
    if (end < content.size()) {
        line.next = (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
                        ? end + 2
                        : end + 1;
    }
    const std::string_view text = Trim(content.substr(begin, end - begin));
    if (text.empty()) {
        return line;
    }
    if (text.front() == ';') {
        line.kind = Kind::Comment;
        return line;
    }
    if (text.front() == '[') {
        const auto close = text.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = Trim(text.substr(1, close - 1));
            return line;
        }
    }
    line.kind = Kind::Entry;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) {
        line.name = text;
    } else {
        line.name = Trim(text.substr(0, eq));
        line.value = Trim(text.substr(eq + 1));
    }
    return line;
}

std::vector<Line> Lines(std::string_view content) {
    std::vector<Line> lines;
    for (std::size_t at = BodyStart(content); at < content.size();) {
        lines.push_back(Classify(content, at));
        at = lines.back().next;
    }
    return lines;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

struct SectionSpan {
    std::size_t header = 0; // index of the header line, or lines.size() for "not found"
    std::size_t end = 0;    // index of the next section header, or lines.size()
};

SectionSpan FindSection(const std::vector<Line>& lines, std::string_view section) {
    SectionSpan span{lines.size(), lines.size()};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section && text::EqualsIgnoreCaseAscii(lines[i].name, section)) {
            span.header = i;
            break;
        }
    }
    for (std::size_t i = span.header + 1; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section) {
            span.end = i;
            break;
        }
    }
    return span;
}

std::size_t FindKey(const std::vector<Line>& lines, SectionSpan span, std::string_view key) {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (lines[i].kind == Kind::Entry && text::EqualsIgnoreCaseAscii(lines[i].name, key)) {
            return i;
        }
    }
    return span.end;
}

std::string_view LineBreakOf(std::string_view content) {
    const auto at = content.find_first_of("\r\n");
    if (at == std::string_view::npos) {
        return "\n";
    }
    if (content[at] == '\r') {
        return (at + 1 < content.size() && content[at + 1] == '\n') ? "\r\n" : "\r";
    }
    return "\n";
}

} // namespace

std::optional<std::string> Lookup(std::string_view content, std::string_view section,
                                  std::string_view key) {
    const auto lines = Lines(content);
    const SectionSpan span = FindSection(lines, section);
    if (span.header == lines.size()) {
        return std::nullopt;
    }
    const std::size_t at = FindKey(lines, span, key);
    if (at == span.end || !lines[at].value) {
        return std::nullopt;
    }
    return std::string(Unquote(*lines[at].value));
}

std::string Update(std::string_view content, std::string_view section, std::string_view key,
                   std::string_view value) {
    const auto lines = Lines(content);
    const std::string_view eol = LineBreakOf(content);
    const std::string entry = std::string(key) + "=" + std::string(value);
    const SectionSpan span = FindSection(lines, section);
    std::string out;
    out.reserve(content.size() + entry.size() + section.size() + 8);

    if (span.header == lines.size()) {
        out.assign(content);
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out += eol;
        }
        out += "[" + std::string(section) + "]";
        out += eol;
        out += entry;
        out += eol;
        return out;
    }

    const std::size_t at = FindKey(lines, span, key);
    if (at != span.end) {
        out.append(content.substr(0, lines[at].begin));
        out += entry;
        out.append(content.substr(lines[at].end));
        return out;
    }

    // After the section's last non-blank line, so blank lines that separate sections stay put.
    std::size_t last = span.header;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (lines[i].kind != Kind::Blank) {
            last = i;
        }
    }
    const Line& after = lines[last];
    out.append(content.substr(0, after.end));
    if (after.next == after.end) {
        // The last line of the file has no line break of its own.
        out += eol;
        out += entry;
        return out;
    }
    out.append(content.substr(after.end, after.next - after.end));
    out += entry;
    out += eol;
    out.append(content.substr(after.next));
    return out;
}

} // namespace ini
