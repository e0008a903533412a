// The settings file is a plain INI file with the rules of the classic profile files: section and
// key names match without regard to case, blanks around "=" and around values do not count, a
// value in matching quotes loses them, ";" starts a comment line, and anything missing reads as
// empty. Reading never fails loudly; writing rewrites only the one key's line, keeps every other
// byte of the file, and swaps the new file in with a rename so that a crash or a full disk can
// never leave a half-written settings file behind. A file that is more than our own file with one
// name (several hard links, someone else's) keeps its identity instead: see rewriteInPlace.
//
// Opening, checking and replacing the file are the platform's (settings_file_*.cpp); this file
// is only the format.
#include "state/settings.h"
#include "state/settings_file.h"

#include <string_view>
#include <vector>

namespace veltrace::state {

namespace {

// The profile read's buffer holds 255 characters including the terminating zero.
constexpr std::size_t MaxValueLength = 254;
using detail::FileFacts;
using detail::LoadResult;

struct Line {
    std::string text; // without its line ending
    std::string eol;  // "\n", "\r\n" or "" for a last line without an ending
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// What one line of the file means.
struct LineMeaning {
    enum Kind { Other, Section, Entry } kind = Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // entry value, trimmed, quotes removed
};

LineMeaning interpret(const std::string& line) {
    LineMeaning meaning;
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';') {
        return meaning;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        meaning.kind = LineMeaning::Section;
        meaning.name =
            trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
        return meaning;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return meaning;
    }
    meaning.kind = LineMeaning::Entry;
    meaning.name = trim(text.substr(0, equals));
    std::string_view value = trim(text.substr(equals + 1));
    if (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    meaning.value = value;
    return meaning;
}

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t newline = content.find('\n', start);
        Line line;
        if (newline == std::string::npos) {
            line.text = content.substr(start);
            start = content.size();
        } else {
            line.text = content.substr(start, newline - start);
            line.eol = "\n";
            start = newline + 1;
        }
        if (!line.eol.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.eol = "\r\n";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// A value that reading would change (outer blanks or a pair of outer quotes) is written in
// quotes, so that whatever is written reads back unchanged.
std::string encodeValue(const std::string& value) {
    const std::string_view view(value);
    const bool needsQuotes =
        !value.empty() &&
        (trim(view).size() != value.size() ||
         (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front()));
    return needsQuotes ? "\"" + value + "\"" : value;
}

} // namespace

std::string readSetting(const std::string& section, const std::string& key,
                        const std::string& file) {
    std::string content;
    FileFacts facts;
    if (detail::loadFile(file, content, facts) != LoadResult::Loaded) {
        return "";
    }
    bool inSection = false;
    for (const Line& line : splitLines(content)) {
        const LineMeaning meaning = interpret(line.text);
        if (meaning.kind == LineMeaning::Section) {
            inSection = sameName(meaning.name, section);
        } else if (meaning.kind == LineMeaning::Entry && inSection && sameName(meaning.name, key)) {
            return std::string(meaning.value.substr(0, MaxValueLength));
        }
    }
    return "";
}

int writeSetting(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& file) {
    // Names and values that cannot stand on one INI line are refused rather than written in a
    // form that would read back as something else.
    const auto fitsOnLine = [](const std::string& text) {
        return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
    };
    const std::string_view keyName = trim(key);
    const std::string_view sectionName = trim(section);
    if (keyName.empty() || sectionName.empty() || !fitsOnLine(key) || !fitsOnLine(section) ||
        !fitsOnLine(value) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == ';' || keyName.front() == '[' ||
        sectionName.find(']') != std::string_view::npos) {
        return 0;
    }

    const std::string target = detail::writeTarget(file);
    if (target.empty()) {
        return 0;
    }
    std::string content;
    FileFacts facts;
    const LoadResult loaded = detail::loadFile(target, content, facts);
    if (loaded == LoadResult::Refused) {
        return 0;
    }

    std::vector<Line> lines = splitLines(content);
    const std::string eol = (!lines.empty() && lines.front().eol == "\r\n") ? "\r\n" : "\n";
    const std::string entry = std::string(keyName) + "=" + encodeValue(value);

    bool inSection = false;
    bool inFirstSection = false;
    bool sectionFound = false;
    std::size_t insertAfter = 0; // the last entry of the first matching section, or its header
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        const LineMeaning meaning = interpret(lines[i].text);
        if (meaning.kind == LineMeaning::Section) {
            inSection = sameName(meaning.name, sectionName);
            inFirstSection = inSection && !sectionFound;
            if (inFirstSection) {
                sectionFound = true;
                insertAfter = i;
            }
        } else if (meaning.kind == LineMeaning::Entry && inSection) {
            if (sameName(meaning.name, keyName)) {
                lines[i].text = entry;
                replaced = true;
            } else if (inFirstSection) {
                insertAfter = i;
            }
        }
    }

    if (!replaced) {
        if (sectionFound) {
            if (lines[insertAfter].eol.empty()) {
                lines[insertAfter].eol = eol;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                         Line{entry, eol});
        } else {
            if (!lines.empty() && lines.back().eol.empty()) {
                lines.back().eol = eol;
            }
            lines.push_back(Line{"[" + std::string(sectionName) + "]", eol});
            lines.push_back(Line{entry, eol});
        }
    }

    std::string output;
    output.reserve(content.size() + entry.size() + sectionName.size() + 8);
    for (const Line& line : lines) {
        output += line.text;
        output += line.eol;
    }
    return detail::storeFile(target, content, output,
                             loaded == LoadResult::Loaded ? &facts : nullptr)
               ? 1
               : 0;
}

} // namespace veltrace::state
