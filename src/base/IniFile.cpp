#include "base/IniFile.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"

namespace ristova {

namespace {

// The file is handled as code page bytes, so that every line we do not touch
// goes back byte for byte, whatever it holds.
bool IsBlankByte(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

// Blanks and control bytes are never part of a double-byte character, so
// trimming on bytes is safe.
std::string_view TrimBytes(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlankByte(s[b])) ++b;
    while (e > b && IsBlankByte(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Upper-cases single-byte ASCII letters only: a trail byte of a Chinese
// character may look like a letter and must not be folded.
std::string FoldName(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = codec::CodePageCharLength(bytes, i);
        char c = bytes[i];
        if (len == 1 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
        out.append(bytes.substr(i + 1, len - 1));
        i += len;
    }
    return out;
}

// Finds ch as a character of its own, not as the trail byte of another one.
std::size_t FindChar(std::string_view bytes, char ch, std::size_t from) {
    for (std::size_t i = from; i < bytes.size();) {
        if (bytes[i] == ch) return i;
        i += codec::CodePageCharLength(bytes, i);
    }
    return std::string_view::npos;
}

// A line break in a value or name would split it into lines of its own and
// could forge keys; it is stored as a blank instead.
std::string NoLineBreaks(std::string_view bytes) {
    std::string out(bytes);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

class IniDocument {
  public:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string raw;  // with its own line end, if it had one
        Kind kind = Kind::Other;
        std::string name;         // folded section or key name
        std::size_t valueAt = 0;  // raw offset just behind '=' for keys
    };

    // Line feeds end lines; carriage returns and other odd endings stay part
    // of the raw line and are only trimmed for parsing.
    explicit IniDocument(std::string_view bytes) {
        std::size_t pos = 0;
        while (pos < bytes.size()) {
            std::size_t lf = bytes.find('\n', pos);
            std::size_t next = lf == std::string_view::npos ? bytes.size() : lf + 1;
            lines_.push_back(Parse(std::string(bytes.substr(pos, next - pos))));
            pos = next;
        }
    }

    static std::optional<IniDocument> Load(const std::string& fileName) {
        std::string bytes;
        if (!ReadFileBytes(fileName, bytes)) return std::nullopt;
        // A file saved as UTF-8 is read as such and written back as code page.
        return IniDocument(codec::DataFileToCodePage(bytes));
    }

    // The document a write starts from. A file that is there but cannot be
    // read is refused: starting from nothing would replace all its lines.
    static IniDocument LoadForWrite(const std::string& fileName) {
        if (auto doc = Load(fileName)) return std::move(*doc);
        if (FileExists(fileName)) ThrowUnableToWrite(fileName);
        return IniDocument(std::string_view());
    }

    std::string Bytes() const {
        std::string out;
        for (const Line& l : lines_) out += l.raw;
        return out;
    }

    // Index of the first section header of that name.
    std::optional<std::size_t> FindSection(const std::string& folded) const {
        for (std::size_t i = 0; i < lines_.size(); ++i)
            if (lines_[i].kind == Kind::Section && lines_[i].name == folded) return i;
        return std::nullopt;
    }

    // One past the last line of the section whose header is at `header`.
    std::size_t SectionEnd(std::size_t header) const {
        std::size_t i = header + 1;
        while (i < lines_.size() && lines_[i].kind != Kind::Section) ++i;
        return i;
    }

    std::optional<std::size_t> FindKey(std::size_t header, const std::string& folded) const {
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i)
            if (lines_[i].kind == Kind::Key && lines_[i].name == folded) return i;
        return std::nullopt;
    }

    std::optional<std::string_view> Value(const std::string& section,
                                          const std::string& key) const {
        auto header = FindSection(section);
        if (!header) return std::nullopt;
        auto line = FindKey(*header, key);
        if (!line) return std::nullopt;
        return ValueOf(lines_[*line]);
    }

    // Every key of the first section of that name, the first of duplicates kept.
    std::unordered_map<std::string, std::string_view> SectionValues(
        const std::string& section) const {
        std::unordered_map<std::string, std::string_view> values;
        auto header = FindSection(section);
        if (!header) return values;
        const std::size_t end = SectionEnd(*header);
        for (std::size_t i = *header + 1; i < end; ++i)
            if (lines_[i].kind == Kind::Key) values.emplace(lines_[i].name, ValueOf(lines_[i]));
        return values;
    }

    // Sets the value in place, or adds the key (and the section) with CR LF.
    void SetValue(std::string_view section, std::string_view key, std::string_view value) {
        const std::string foldedSection = FoldName(section);
        auto header = FindSection(foldedSection);
        if (!header) {
            Append(std::string("[").append(section).append("]\r\n"));
            Append(std::string(key).append("=").append(value).append("\r\n"));
            return;
        }
        if (auto line = FindKey(*header, FoldName(key))) {
            Line& l = lines_[*line];
            l.raw = l.raw.substr(0, l.valueAt) + std::string(value) + LineEnd(l.raw);
            return;
        }
        // Behind the section's last non-blank line, so that blank lines that
        // separate it from the next section stay where they are.
        std::size_t at = SectionEnd(*header);
        while (at > *header + 1 && TrimBytes(lines_[at - 1].raw).empty()) --at;
        EndLine(at - 1);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                      Parse(std::string(key).append("=").append(value).append("\r\n")));
    }

    // Removes every section of that name; true when something went.
    // One pass: a file that repeats the header thousands of times must not
    // cost one scan and one shift of the tail per copy.
    bool EraseSection(std::string_view section) {
        const std::string folded = FoldName(section);
        bool dropping = false, erased = false;
        std::erase_if(lines_, [&](const Line& l) {
            if (l.kind == Kind::Section) dropping = l.name == folded;
            erased = erased || dropping;
            return dropping;
        });
        return erased;
    }

    void AppendSection(std::string_view section) {
        Append(std::string("[").append(section).append("]\r\n"));
    }
    void AppendKey(std::string_view key, std::string_view value) {
        Append(std::string(key).append("=").append(value).append("\r\n"));
    }

  private:
    static Line Parse(std::string raw) {
        Line line;
        line.raw = std::move(raw);
        std::string_view content = TrimBytes(line.raw);
        if (!content.empty() && content.front() == '[') {
            std::size_t close = FindChar(content, ']', 1);
            if (close != std::string_view::npos) {
                line.kind = Kind::Section;
                line.name = FoldName(TrimBytes(content.substr(1, close - 1)));
            }
            return line;
        }
        std::size_t eq = FindChar(line.raw, '=', 0);
        if (eq != std::string::npos) {
            line.kind = Kind::Key;
            line.name = FoldName(TrimBytes(std::string_view(line.raw).substr(0, eq)));
            line.valueAt = eq + 1;
        }
        return line;
    }

    static std::string_view ValueOf(const Line& l) {
        return TrimBytes(std::string_view(l.raw).substr(l.valueAt));
    }

    static std::string LineEnd(const std::string& raw) {
        if (raw.size() >= 2 && raw.compare(raw.size() - 2, 2, "\r\n") == 0) return "\r\n";
        if (!raw.empty() && raw.back() == '\n') return "\n";
        return std::string();
    }

    // A line we add after another must not run into it.
    void EndLine(std::size_t i) {
        if (i < lines_.size() && (lines_[i].raw.empty() || lines_[i].raw.back() != '\n'))
            lines_[i].raw += "\r\n";
    }

    void Append(std::string raw) {
        if (!lines_.empty()) EndLine(lines_.size() - 1);
        lines_.push_back(Parse(std::move(raw)));
    }

    std::vector<Line> lines_;
};

std::string DecodeValue(std::string_view bytes) {
    return codec::FromCodePage(codec::CutCodePageBytes(bytes, kIniValueMaxBytes));
}

// A section or key name as the caller gives it, in the form lines are matched on.
std::string RequestName(std::string_view utf8) {
    return FoldName(TrimBytes(codec::ToCodePage(utf8)));
}

// A name as it is written into the file.
std::string CodePageName(std::string_view utf8) {
    return std::string(TrimBytes(codec::ToCodePage(NoLineBreaks(utf8))));
}

std::string RowKey(int i) {
    return "Row" + std::to_string(i);
}

}  // namespace

std::string ReadIniText(const std::string& fileName, std::string_view section,
                        std::string_view key) {
    return ReadIniTextDef(fileName, section, key, std::string_view());
}

std::string ReadIniTextDef(const std::string& fileName, std::string_view section,
                           std::string_view key, std::string_view def) {
    auto doc = IniDocument::Load(fileName);
    if (!doc) return std::string(def);
    auto value = doc->Value(RequestName(section), RequestName(key));
    return value ? DecodeValue(*value) : std::string(def);
}

namespace {

// Code page bytes that happen to form non-ASCII UTF-8 would be read back as
// a file edited in a Linux text editor, and their text changed. A comment in
// code page 936 (its first byte is no UTF-8 lead) makes the file unmistakable.
void WriteIniBytes(const std::string& fileName, std::string bytes) {
    if (codec::ReadsAsUtf8(bytes)) {
        if (!bytes.empty() && bytes.back() != '\n') bytes += "\r\n";
        bytes += codec::ToCodePage("; 代码页936\r\n");
    }
    WriteFileAtomically(fileName, bytes);
}

}  // namespace

void WriteIniText(const std::string& fileName, std::string_view section, std::string_view key,
                  std::string_view value) {
    if (fileName.empty()) return;
    IniDocument doc = IniDocument::LoadForWrite(fileName);
    const std::string before = doc.Bytes();
    doc.SetValue(CodePageName(section), CodePageName(key), codec::ToCodePage(NoLineBreaks(value)));
    const std::string after = doc.Bytes();
    // An unchanged file is not rewritten: the value is already there.
    if (after != before) WriteIniBytes(fileName, after);
}

void EraseIniSection(const std::string& fileName, std::string_view section) {
    auto doc = IniDocument::Load(fileName);
    if (!doc) return;
    if (doc->EraseSection(CodePageName(section))) WriteIniBytes(fileName, doc->Bytes());
}

void SaveGridToIni(const std::string& fileName, std::string_view section, const StringGrid& grid) {
    if (fileName.empty()) return;
    CheckGridStorable(grid);
    // Erase and rewrite in one replacement of the file: a refused write
    // leaves the old rows whole instead of half a table.
    IniDocument doc = IniDocument::LoadForWrite(fileName);
    const std::string cpSection = CodePageName(section);
    doc.EraseSection(cpSection);
    doc.AppendSection(cpSection);
    for (int r = 0; r < grid.RowCount(); ++r)
        doc.AppendKey(RowKey(r), codec::ToCodePage(NoLineBreaks(GridRowToText(grid, r))));
    WriteIniBytes(fileName, doc.Bytes());
}

void LoadGridFromIni(const std::string& fileName, std::string_view section, StringGrid& grid) {
    auto doc = IniDocument::Load(fileName);
    if (!doc) return;
    const auto values = doc->SectionValues(RequestName(section));
    for (int i = 0;; ++i) {
        auto it = values.find(FoldName(RowKey(i)));
        if (it == values.end() || it->second.empty()) break;
        const std::string text = DecodeValue(it->second);
        if (i == 0) {
            const int cells = CountCells(text);
            if (grid.ColCount() < cells) grid.SetColCount(cells);
        }
        if (grid.RowCount() < i + 1) grid.SetRowCount(i + 1);
        TextToGridRow(text, grid, i);
    }
}

}  // namespace ristova
