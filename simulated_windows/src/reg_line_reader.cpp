#include "reg_line_reader.h"

#include "code_page.h"
#include "simulated_windows/refused_input.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace simulated_windows {

RegLineReader::RegLineReader(std::string_view fileBytes, std::string fileName, ImportProgress progress)
    : fileName_(std::move(fileName)), bytes_(fileBytes), progress_(std::move(progress))
{
    // A registry file is UTF-16LE behind its mark or else text of the code page, where a UTF-8
    // mark is three characters that spoil the header.
    const ByteOrderMark mark = ReadByteOrderMark(bytes_);
    utf16_ = mark.encoding == ByteOrderMark::Utf16Le;
    if (utf16_) {
        bytes_.remove_prefix(mark.size);
        markBytes_ = mark.size;
        if (bytes_.size() % 2 != 0) {
            Fail(LastLineNumber(), "the file ends in the middle of a UTF-16 character");
        }
    }
    if (bytes_.empty()) {
        Fail(1, "not a registry file: the file is empty");
    }
}

std::optional<std::u16string_view> RegLineReader::NextLine(bool hexData)
{
    if (cut_) {
        // The rest of the last line, which the importer had no use for.
        bool nul = false;
        position_ = FindLineEnd(position_, Units(), nul, true);
        if (lineNumber_ > 1 && nul) {
            Fail("NUL character in the text");
        }
        cut_ = false;
        position_ = PastLineEnd(position_);
    }
    if (position_ >= Units()) {
        return std::nullopt;
    }
    GiveBack(position_);
    bool nul = false;
    position_ = Decode(position_, hexData, nul);
    if (!cut_) {
        position_ = PastLineEnd(position_);
    }
    ++lineNumber_;
    // The first line is the header, which a NUL can only spoil; text holds none.
    if (lineNumber_ > 1 && nul) {
        Fail("NUL character in the text");
    }
    return std::u16string_view(line_);
}

void RegLineReader::Fail(unsigned line, const std::string& reason) const
{
    throw RefusedInput(fileName_, line, reason);
}

// Tells the caller, every so often, how much of the file lies behind the reader for good.
void RegLineReader::GiveBack(std::size_t position)
{
    const std::size_t every = std::size_t{16} << 20;
    const std::size_t done = markBytes_ + (utf16_ ? 2 * position : position);
    if (progress_ && done >= reported_ + every) {
        progress_(done);
        reported_ = done;
    }
}

char16_t RegLineReader::Unit(std::size_t i) const
{
    if (!utf16_) {
        return static_cast<unsigned char>(bytes_[i]); // line ends are ASCII in the code page
    }
    return static_cast<char16_t>(static_cast<unsigned char>(bytes_[2 * i]) |
                                 (static_cast<unsigned char>(bytes_[2 * i + 1]) << 8));
}

std::size_t RegLineReader::PastLineEnd(std::size_t end) const
{
    if (end >= Units()) {
        return end;
    }
    return Unit(end) == u'\r' && end + 1 < Units() && Unit(end + 1) == u'\n' ? end + 2 : end + 1;
}

// How much of the line at `from` the importer can use, told by its first characters; `mark` when
// a line cut short ends in a NUL, which no line holds, so that the importer refuses what it would
// have refused whole.
std::size_t RegLineReader::DecodeLimit(std::size_t from, bool hexData, bool& mark) const
{
    mark = true;
    if (lineNumber_ == 0) {
        return HeaderLimit;
    }
    std::size_t first = from;
    while (first < Units() && IsBlank(Unit(first))) {
        ++first;
    }
    const char16_t c = first < Units() ? Unit(first) : u'\n';
    if (c == u'[') {
        return first - from + KeyLineLimit;
    }
    mark = false;
    if (c == u'@' || c == u'"' || (hexData && HexDigit(c) >= 0)) {
        return std::u16string::npos;
    }
    return c == u'\r' || c == u'\n' ? 0 : first - from + 1;
}

// Decodes the line at `from`, as far as the importer can use it, into line_, and returns where the
// decoding stopped: the line's end, or where it was cut short (cut_). `nul` tells whether the part
// read holds a NUL. A whole line is found first, so that its room is taken once: it never costs
// more than its UTF-16 and the pages of it still to decode.
std::size_t RegLineReader::Decode(std::size_t from, bool hexData, bool& nul)
{
    bool mark = false;
    const std::size_t limit = DecodeLimit(from, hexData, mark);
    const std::size_t stop = limit >= Units() - from ? Units() : from + limit + 1;
    const std::size_t end = FindLineEnd(from, stop, nul, false);
    cut_ = end - from > limit;
    const std::size_t to = cut_ ? from + limit : end;
    if (line_.capacity() > 2 * (to - from) + Chunk) {
        std::u16string().swap(line_); // a long line's room goes with it
    }
    line_.clear();
    line_.reserve(to - from + 1);
    for (std::size_t at = from; at < to;) {
        const std::size_t next = std::min(to, at + Chunk);
        Append(at, next);
        at = next;
        GiveBack(at);
    }
    if (cut_ && mark) {
        if (lineNumber_ > 0 && line_.find(u']') == std::u16string::npos) {
            Fail(lineNumber_ + 1, KeyPathTooLong());
        }
        line_.push_back(u'\0');
    }
    return to;
}

// The first line end in [from, stop), or stop; `giveBack` what lies behind on the way.
std::size_t RegLineReader::FindLineEnd(std::size_t from, std::size_t stop, bool& nul, bool giveBack)
{
    for (std::size_t at = from; at < stop;) {
        const std::size_t next = std::min(stop, at + Chunk);
        if (!utf16_) {
            const std::string_view text = bytes_.substr(at, next - at);
            const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
            nul = nul || text.substr(0, end).find('\0') != std::string_view::npos;
            if (end < text.size()) {
                return at + end;
            }
        } else {
            for (; at < next; ++at) {
                const char16_t unit = Unit(at);
                if (unit == u'\r' || unit == u'\n') {
                    return at;
                }
                nul = nul || unit == u'\0';
            }
        }
        at = next;
        if (giveBack) {
            GiveBack(at);
        }
    }
    return stop;
}

void RegLineReader::Append(std::size_t from, std::size_t to)
{
    if (!utf16_) {
        line_ += AnsiToUtf16(bytes_.substr(from, to - from));
        return;
    }
    // The file's UTF-16LE is the host's own char16_t: it is copied as it stands.
    static_assert(std::endian::native == std::endian::little);
    const std::size_t size = line_.size();
    line_.resize(size + (to - from));
    std::memcpy(line_.data() + size, bytes_.data() + 2 * from, 2 * (to - from));
}

unsigned RegLineReader::LastLineNumber() const
{
    unsigned line = 1;
    for (std::size_t i = 0; i < Units(); ++i) {
        if (Unit(i) == u'\n' || (Unit(i) == u'\r' && (i + 1 >= Units() || Unit(i + 1) != u'\n'))) {
            ++line;
        }
    }
    return line;
}

} // namespace simulated_windows
