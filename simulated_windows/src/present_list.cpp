#include "present_list.h"

#include "code_page.h"
#include "marvin32.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <random>

namespace simulated_windows {
namespace {

// A device instance ID has fewer characters than this (MAX_DEVICE_ID_LEN, cfgmgr32.h).
constexpr std::size_t MaxDeviceIdLength = 200;

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// What IRP_MN_QUERY_ID allows in an ID: above the blank, up to DEL, and no comma.
bool IsIdCharacter(char16_t c)
{
    return c > 0x20 && c <= 0x7F && c != u',';
}

// The table's hash is Marvin32 under a seed drawn once a process: a list is the customer's file,
// and under a hash it could predict, IDs chosen to meet in one slot make every lookup a scan of
// them all.
std::uint64_t Hash(std::string_view text)
{
    static const std::uint64_t seed = [] {
        std::random_device random;
        return std::uint64_t{random()} << 32 | random();
    }();
    return Marvin32({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, seed);
}

// One field of a record, kept only as far as it matters: without the blanks around it, and no
// more than `limit` units of it, however long it is.
class Field {
  public:
    void Start(std::size_t limit)
    {
        text_.clear();
        limit_ = limit;
        blanks_ = 0;
        blankInside_ = false;
        longer_ = false;
    }
    void Put(char16_t c)
    {
        if (IsBlank(c)) {
            blanks_ += text_.empty() ? 0 : 1;
            return;
        }
        blankInside_ = blankInside_ || blanks_ != 0;
        blanks_ = 0;
        if (text_.size() < limit_) {
            text_.push_back(c);
        } else {
            longer_ = true;
        }
    }
    const std::u16string& Text() const { return text_; }
    bool BlankInside() const { return blankInside_; }
    // Whether more than `limit` units came.
    bool Longer() const { return longer_; }

  private:
    std::u16string text_;
    std::size_t limit_ = 0;
    std::size_t blanks_ = 0; // after the text so far: dropped unless more text follows
    bool blankInside_ = false;
    bool longer_ = false;
};

class ListReader {
  public:
    ListReader(std::string_view bytes, const std::string& fileName) : bytes_(bytes), fileName_(fileName)
    {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes_[i]); };
        const ByteOrderMark mark = ReadByteOrderMark(bytes_);
        bytes_.remove_prefix(mark.size);
        if (mark.encoding == ByteOrderMark::Utf16Le || mark.encoding == ByteOrderMark::Utf16Be) {
            encoding_ = mark.encoding == ByteOrderMark::Utf16Le ? Encoding::Utf16Le : Encoding::Utf16Be;
        } else if (mark.encoding == ByteOrderMark::None && bytes_.size() >= 2 &&
                   (byte(0) == 0) != (byte(1) == 0)) {
            // Text begins with a character of its header, never a NUL: its NUL byte tells the order.
            encoding_ = byte(1) == 0 ? Encoding::Utf16Le : Encoding::Utf16Be;
        }
        units_ = encoding_ == Encoding::Bytes ? bytes_.size() : bytes_.size() / 2;
    }

    PresentDevices Read()
    {
        // No ID takes more room than it has in the file: its room is taken once, and only what
        // the IDs fill of it is ever touched.
        present_.Reserve(bytes_.size() + 1);
        StartRecord();
        for (std::size_t i = 0; i < units_; ++i) {
            const char16_t c = Unit(i);
            if (quoted_) {
                if (c == u'"' && i + 1 < units_ && Unit(i + 1) == u'"') {
                    field_.Put(u'"');
                    ++i;
                } else if (c == u'"') {
                    quoted_ = false;
                } else {
                    Put(c);
                    CountLineBreak(c, i);
                }
            } else if (c == u'\r' || c == u'\n') {
                EndRecord();
                CountLineBreak(c, i);
                StartRecord();
            } else if (!comment_) {
                Take(c, i);
            }
        }
        if (quoted_) {
            Fail(quoteLine_, "a quoted field lacks its closing quote");
        }
        if (encoding_ != Encoding::Bytes && bytes_.size() % 2 != 0) {
            Fail(line_, "the file ends in the middle of a UTF-16 character");
        }
        EndRecord();
        if (!column_) {
            throw RefusedInput(fileName_, 0, "not a list of present devices: it is empty");
        }
        return std::move(present_);
    }

  private:
    enum class Encoding { Bytes, Utf16Le, Utf16Be };

    [[noreturn]] void Fail(unsigned line, const std::string& reason) const
    {
        throw RefusedInput(fileName_, line, reason);
    }

    // UTF-8 needs no decoding here: what matters (line ends, commas, quotes, IDs) is ASCII, which
    // no byte of a longer character can be.
    char16_t Unit(std::size_t i) const
    {
        const auto byte = [&](std::size_t at) {
            return static_cast<char16_t>(static_cast<unsigned char>(bytes_[at]));
        };
        switch (encoding_) {
        case Encoding::Utf16Le:
            return static_cast<char16_t>(byte(2 * i) | byte(2 * i + 1) << 8);
        case Encoding::Utf16Be:
            return static_cast<char16_t>(byte(2 * i) << 8 | byte(2 * i + 1));
        case Encoding::Bytes:
            break;
        }
        return byte(i);
    }

    // CRLF is one line break, as are a lone CR and a lone LF.
    void CountLineBreak(char16_t c, std::size_t& i)
    {
        if (c == u'\r' && i + 1 < units_ && Unit(i + 1) == u'\n') {
            ++i;
        }
        if (c == u'\r' || c == u'\n') {
            ++line_;
        }
    }

    void StartRecord()
    {
        recordLine_ = line_;
        content_ = false;
        comment_ = false;
        index_ = 0;
        StartField();
    }

    void StartField()
    {
        // Only the header's names and the column of IDs are ever looked at.
        field_.Start(!column_ ? 16 : index_ == *column_ ? MaxDeviceIdLength : 0);
        fieldLine_ = line_;
    }

    void Take(char16_t c, std::size_t i)
    {
        if (!content_ && !IsBlank(c) && !column_ && c == u'#' && i + 5 <= units_ && Unit(i + 1) == u'T' &&
            Unit(i + 2) == u'Y' && Unit(i + 3) == u'P' && Unit(i + 4) == u'E') {
            comment_ = true; // Windows PowerShell 5 writes "#TYPE <class>" before the header
            return;
        }
        content_ = content_ || !IsBlank(c);
        if (c == u'"') {
            quoted_ = true;
            quoteLine_ = line_;
            content_ = true;
        } else if (c == u',') {
            EndField();
            ++index_;
            StartField();
        } else {
            Put(c);
        }
    }

    // An ID too long is refused as soon as it is seen to be, however long its field.
    void Put(char16_t c)
    {
        field_.Put(c);
        if (field_.Longer() && column_ && index_ == *column_) {
            FailLongId();
        }
    }

    [[noreturn]] void FailLongId() const
    {
        Fail(fieldLine_, "not a device instance ID: longer than " + std::to_string(MaxDeviceIdLength - 1) +
                             " characters");
    }

    void EndField()
    {
        if (!column_) {
            if (!headerColumn_ && (Named(u"InstanceId") || Named(u"PNPDeviceID"))) {
                headerColumn_ = index_;
            }
            return;
        }
        if (index_ != *column_ || (field_.Text().empty() && !field_.BlankInside())) {
            return;
        }
        if (field_.Text().size() >= MaxDeviceIdLength) {
            FailLongId();
        }
        std::string id;
        for (const char16_t c : field_.Text()) {
            if (!IsIdCharacter(c)) {
                break;
            }
            id.push_back(static_cast<char>(UpcaseForCompare(c)));
        }
        if (field_.BlankInside() || id.size() != field_.Text().size()) {
            Fail(fieldLine_,
                 "not a device instance ID: it holds a blank, a comma or a character beyond ASCII");
        }
        if (!present_.Add(id)) {
            Fail(fieldLine_, "more device instance IDs than a list can hold (4 GiB of them)");
        }
    }

    bool Named(std::u16string_view name) const
    {
        const std::u16string& text = field_.Text();
        return !field_.BlankInside() && text.size() == name.size() &&
               std::equal(text.begin(), text.end(), name.begin(),
                          [](char16_t a, char16_t b) { return UpcaseForCompare(a) == UpcaseForCompare(b); });
    }

    // Blank records are nothing (wmic ends its lines with "\r\r\n"); the first other one is the
    // header.
    void EndRecord()
    {
        if (!content_ || comment_) {
            return;
        }
        EndField();
        if (!column_) {
            if (!headerColumn_) {
                Fail(recordLine_,
                     "not a list of present devices: it has neither an InstanceId nor a PNPDeviceID column");
            }
            column_ = headerColumn_;
        }
    }

    std::string_view bytes_; // after any byte-order mark
    const std::string& fileName_;
    Encoding encoding_ = Encoding::Bytes;
    std::size_t units_ = 0;
    unsigned line_ = 1;
    unsigned recordLine_ = 1;
    unsigned fieldLine_ = 1;
    unsigned quoteLine_ = 1;
    bool quoted_ = false;
    bool content_ = false; // whether the record has more than blanks
    bool comment_ = false;
    std::size_t index_ = 0; // of the field in its record
    Field field_;
    std::optional<std::size_t> headerColumn_; // found in the header so far
    std::optional<std::size_t> column_;       // of the IDs, once the header is read
    PresentDevices present_;
};

} // namespace

bool PresentDevices::Add(std::string_view upperCaseId)
{
    if (ids_.size() + upperCaseId.size() + 1 > UINT32_MAX) {
        return false;
    }
    if ((size_ + 1) * 4 > slots_.size() * 3) {
        Grow();
    }
    const std::size_t slot = Slot(upperCaseId);
    if (slots_[slot] == 0) {
        slots_[slot] = static_cast<std::uint32_t>(ids_.size() + 1);
        ids_.append(upperCaseId);
        ids_.push_back('\0');
        ++size_;
    }
    return true;
}

bool PresentDevices::Contains(std::u16string_view upperCaseId) const
{
    if (slots_.empty() || upperCaseId.size() >= MaxDeviceIdLength ||
        !std::all_of(upperCaseId.begin(), upperCaseId.end(), IsIdCharacter)) {
        return false;
    }
    const std::string id(upperCaseId.begin(), upperCaseId.end());
    return slots_[Slot(id)] != 0;
}

// The slot that holds `id`, or the free slot where it would go.
std::size_t PresentDevices::Slot(std::string_view id) const
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = Hash(id) & mask;; slot = (slot + 1) & mask) {
        const std::size_t start = slots_[slot];
        if (start == 0 ||
            (ids_.compare(start - 1, id.size(), id) == 0 && ids_[start - 1 + id.size()] == '\0')) {
            return slot;
        }
    }
}

void PresentDevices::Grow()
{
    std::vector<std::uint32_t> old(std::max<std::size_t>(16, 2 * slots_.size()));
    old.swap(slots_);
    for (const std::uint32_t start : old) {
        if (start != 0) {
            slots_[Slot(ids_.c_str() + start - 1)] = start;
        }
    }
}

std::u16string InstanceIdKey(std::u16string_view instanceId)
{
    std::u16string key(instanceId);
    std::transform(key.begin(), key.end(), key.begin(), UpcaseForCompare);
    return key;
}

PresentDevices ReadPresentDevices(std::string_view csvBytes, const std::string& fileName)
{
    return ListReader(csvBytes, fileName).Read();
}

} // namespace simulated_windows
