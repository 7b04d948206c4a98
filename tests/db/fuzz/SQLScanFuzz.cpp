// libFuzzer entry: arbitrary bytes as statement text through the kind, the
// quick scan, both scan modes, the server text assembly and the 8-bit codec.
// The layer's parse errors are expected; a broken invariant aborts.
#include "db/FIBErrors.h"
#include "db/SQLParser.h"
#include "platform/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrakel;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

struct TOutcome {
    std::optional<TScanResult> Result;
    int ErrorCode = -1; // the client error raised, -1 when none
};

TOutcome Run(std::string_view text, TSQLKind kind, TScanMode mode, bool loading) {
    TOutcome out;
    try {
        out.Result = ScanSQL(text, kind, mode, "Form1.q", loading);
    } catch (const EFIBClientError& e) {
        out.ErrorCode = e.SQLCode();
        Check(out.ErrorCode == fibeSQLParseError);
    }
    return out;
}

// Positions in range and in order; a parameter's text is what stands between
// its marks; the server text is the input with each token written over.
void CheckTokens(std::string_view text, const std::vector<TSQLToken>& tokens) {
    size_t previousEnd = 0;
    for (const TSQLToken& t : tokens) {
        Check(t.Begin > previousEnd && t.Begin <= t.End && t.End <= text.size());
        previousEnd = t.End;
        if (t.IsMacro()) {
            Check(text.substr(t.Begin - 1, t.Text.size()) == t.Text);
        } else if (t.Quoted) {
            Check(t.End - t.Begin >= 2 && text.substr(t.Begin + 1, t.End - t.Begin - 2) == t.Text);
        } else {
            Check(!t.Text.empty() && text.substr(t.Begin, t.End - t.Begin) == t.Text);
        }
    }
}

void CheckServer(std::string_view text, const TScanResult& server) {
    CheckTokens(text, server.Tokens);
    const std::string& processed = server.ProcessedText;
    Check(processed.size() == text.size());
    std::vector<bool> inToken(text.size(), false);
    for (const TSQLToken& t : server.Tokens) {
        Check(!t.IsMacro());
        Check(processed[t.Begin - 1] == '?');
        for (size_t k = t.Begin; k < t.End; ++k) {
            Check(processed[k] == ' ');
            inToken[k] = true;
        }
        inToken[t.Begin - 1] = true;
    }
    // Elsewhere only macros are blanked.
    for (size_t k = 0; k < text.size(); ++k)
        if (!inToken[k]) Check(processed[k] == text[k] || processed[k] == ' ');
}

bool SameTokens(const std::vector<TSQLToken>& a, const std::vector<TSQLToken>& b, bool decodedB) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        const std::string bText = decodedB ? Utf8ToWin1250(b[k].Text) : b[k].Text;
        if (a[k].Text != bText || a[k].InWhere != b[k].InWhere ||
            a[k].CanForceIsNull != b[k].CanForceIsNull || a[k].Quoted != b[k].Quoted)
            return false;
        if (!decodedB && (a[k].Begin != b[k].Begin || a[k].End != b[k].End)) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte: a kind to scan with besides the text's own, loading, and
    // the seed of the NULL states; the rest is the text.
    const uint8_t control = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const TSQLKind kind = SQLKindOfText(text);
    const bool loading = (control & 0x10) != 0;

    for (TSQLKind k : {kind, static_cast<TSQLKind>(control % 9)}) {
        const TOutcome caller = Run(text, k, TScanMode::Caller, loading);
        const TOutcome server = Run(text, k, TScanMode::Server, loading);
        // Both modes read the same text the same way; the server drops macros.
        Check(caller.ErrorCode == server.ErrorCode && caller.Result.has_value() == server.Result.has_value());
        if (!caller.Result) continue;
        Check(caller.Result->ProcessedText.empty());
        CheckTokens(text, caller.Result->Tokens);
        CheckServer(text, *server.Result);
        std::vector<TSQLToken> params;
        bool hasMacros = false;
        for (const TSQLToken& t : caller.Result->Tokens) {
            if (t.IsMacro()) {
                hasMacros = true;
            } else {
                params.push_back(t);
            }
        }
        Check(SameTokens(params, server.Result->Tokens, false));
        // The quick scan never misses what the full scan finds.
        if (!caller.Result->Tokens.empty()) Check(QuickScanHasParams(text));

        // The assembly with NULL states drawn from the text, then its server scan.
        std::vector<TAssemblyEntry> entries;
        bool anyNull = false;
        for (const TSQLToken& t : caller.Result->Tokens) {
            TAssemblyEntry e;
            e.IsMacro = t.IsMacro();
            if (e.IsMacro) {
                const TMacroParts parts = SplitMacro(t);
                Check(parts.Name.size() <= 254 * 4);
                e.MacroQuoted = parts.Quoted;
                e.MacroValue = (control & 0x20) ? parts.DefaultValue : parts.Name;
            }
            e.IsNull =
                !e.IsMacro &&
                ((static_cast<unsigned char>(text[t.Begin - 1 + (t.End - t.Begin) / 2]) ^ control) & 1);
            anyNull = anyNull || e.IsNull;
            e.InWhere = t.InWhere;
            e.CanForceIsNull = t.CanForceIsNull;
            e.Begin = t.Begin;
            e.End = t.End;
            entries.push_back(std::move(e));
        }
        const bool noForce = (control & 0x40) != 0;
        const bool mayForce = (control & 0x80) != 0;
        const TAssemblyResult assembled = AssembleServerText(text, entries, hasMacros, noForce, mayForce);
        Check(assembled.Replaced.size() == entries.size());
        if (!hasMacros && (noForce || !mayForce || !anyNull))
            Check(assembled.Text == text && !assembled.AnyReplaced());
        const TOutcome again = Run(assembled.Text, k, TScanMode::Server, loading);
        if (again.Result) CheckServer(assembled.Text, *again.Result);
    }

    // Through the 8-bit code page: lossless for every byte, and the decoded
    // text scans to the same tokens, flags and errors (every special
    // character is ASCII, and nothing beyond ASCII is a name character).
    const std::string decoded = Win1250ToUtf8(text);
    Check(Utf8ToWin1250(decoded) == text);
    const TOutcome raw = Run(text, kind, TScanMode::Caller, false);
    Check(SQLKindOfText(decoded) == kind && QuickScanHasParams(decoded) == QuickScanHasParams(text));
    const TOutcome viaCodec = Run(decoded, kind, TScanMode::Caller, false);
    Check(raw.ErrorCode == viaCodec.ErrorCode);
    if (raw.Result) Check(viaCodec.Result && SameTokens(raw.Result->Tokens, viaCodec.Result->Tokens, true));
    (void)Utf8ToWin1250(text);
    return 0;
}
