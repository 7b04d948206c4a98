// Parameter lines ("user_name=SYSDBA", "read_committed") and the builders that turn
// them into the client API's database (DPB) and transaction (TPB) parameter blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ostrakel {

// Splits a text into lines at CR LF, CR or LF; no empty line after a final break.
std::vector<std::string> SplitLines(const std::string& text);

// A list of parameter lines (UTF-8) that tells its owner before and after every
// change, so a connection can refuse changes while attached and know when to
// rebuild its block. The builders trim the lines through Edit(), which is not a
// change in that sense.
class TParamLines {
public:
    size_t Count() const { return FLines.size(); }
    bool Empty() const { return FLines.empty(); }
    const std::string& operator[](size_t index) const { return FLines.at(index); }
    const std::vector<std::string>& Lines() const { return FLines; }
    auto begin() const { return FLines.begin(); }
    auto end() const { return FLines.end(); }

    void Add(std::string line);
    void Insert(size_t index, std::string line);
    void Delete(size_t index);
    void Put(size_t index, std::string line);
    void Clear();
    void Assign(std::vector<std::string> lines);
    // Lines joined with "\r\n", and the reverse (CR LF, LF or CR separate lines).
    std::string Text() const;
    void SetText(const std::string& text);

    // Index of the first line equal to `line` ignoring ASCII letter case, or -1.
    int IndexOfIgnoreCase(const std::string& line) const;

    // OnChanging may raise to refuse the change; OnChange runs after it.
    void SetOnChanging(std::function<void()> handler) { FOnChanging = std::move(handler); }
    void SetOnChange(std::function<void()> handler) { FOnChange = std::move(handler); }

    // The lines without notification, for the builders' trimming write-back.
    std::vector<std::string>& Edit() { return FLines; }

private:
    template <class F> void Change(F&& change);

    std::vector<std::string> FLines;
    std::function<void()> FOnChanging;
    std::function<void()> FOnChange;
};

// The byte-coded blocks. Their length goes to the client API as a 16-bit number.
using TParamBlock = std::string;

// Builds the DPB. Each line is trimmed in place; values travel as Windows-1250.
// Raises client error 8 (known but not encodable) or 9 (unknown name), and
// EConvertError for a numeric item whose value is not a number. A value over
// 255 bytes or a block over 32767 bytes is refused with a client error (-1).
TParamBlock BuildDPB(std::vector<std::string>& lines, bool isFirebird);
inline TParamBlock BuildDPB(TParamLines& lines, bool isFirebird) {
    return BuildDPB(lines.Edit(), isFirebird);
}

// Builds the TPB; an empty list gives an empty block (the server's defaults).
// Raises client error 10 (not supported) or 11 (unknown name).
TParamBlock BuildTPB(std::vector<std::string>& lines);
inline TParamBlock BuildTPB(TParamLines& lines) {
    return BuildTPB(lines.Edit());
}

// The name tables: a name without its isc_dpb_/isc_tpb_ prefix to its code
// (0 when unknown), and a code back to its name (empty when none).
int DPBConstantCode(const std::string& name);
std::string DPBConstantName(int code);
int TPBConstantCode(const std::string& name);
std::string TPBConstantName(int code);

// Flags of a "shutdown" value such as "attachment,force": the or of its parts.
int32_t ShutdownFlags(const std::string& value);

// Leading and trailing characters with codes up to 32 removed.
std::string TrimParamLine(const std::string& line);

// Leading blanks, then a decimal number with optional sign or a hexadecimal one
// with "0x", "0X" or "$"; anything else raises EConvertError.
int32_t StrToInt(const std::string& text);

} // namespace ostrakel
