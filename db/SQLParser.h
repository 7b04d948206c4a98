// Reading a statement's text: its kind from the first keyword, the named
// parameters and macros outside strings and comments, the WHERE region, and
// the server text in which every parameter is a "?" padded to its length.
//
// Texts are UTF-8; positions are 1-based byte positions in the joined text
// (lines joined with CR LF). Every name character is ASCII, so a parameter
// token keeps its length in bytes when it becomes "?" and blanks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrakel {

enum TSQLKind {
    skUnknown,
    skSelect,
    skUpdate,
    skInsert,
    skDelete,
    skExecuteProc,
    skDDL,
    skExecuteBlock,
    skUpdateOrInsert
};

// The macro character: the at sign.
inline constexpr char kMacroChar = '@';

// The kind of a statement from its first significant word.
TSQLKind SQLKindOfText(std::string_view Text);

// Parameters are looked for in every kind but DDL.
inline bool CanParamsCheck(TSQLKind Kind) { return Kind != skDDL; }

// The quick scan of a text change: true at the first ":", "?" or macro
// character outside quoted strings, block comments and line comments (a line
// comment ends at CR, LF or NUL, as in the full scan).
bool QuickScanHasParams(std::string_view Text);

// One parameter or macro found by the scan.
struct TSQLToken {
    // A parameter: its name as written, without the ":" or "?" and without the
    // quotes of a quoted name. A macro: its whole text, starting with the
    // macro character (the closing one of the double form left out).
    std::string Text;
    size_t Begin = 0; // position of the ":", "?" or (first) macro character
    size_t End = 0;   // the name's last character, or the closing quote
    bool InWhere = false;
    bool CanForceIsNull = false;
    bool Quoted = false;

    // A quoted parameter name may start with the macro character and stays a parameter.
    bool IsMacro() const { return !Quoted && !Text.empty() && Text.front() == kMacroChar; }
};

enum class TScanMode {
    Caller, // at a text change: the caller's list
    Server  // at prepare, on the assembled text: the server's list and the processed text
};

struct TScanResult {
    std::vector<TSQLToken> Tokens; // in text order; in server mode without macros
    std::string ProcessedText;     // server mode only: the text as sent to the server
};

// Scans the text once. Raises client error 51 ("SQL Parse Error in :%s
// \r\n\r\n%s") with NamePath for an unterminated string or block comment, a
// ":" or "?" without a name, or a macro character followed by a line break or
// blank. With Loading set (the statement or an owner is being read from its
// design) a missing name instead ends the scan with nullopt, and the caller
// keeps its earlier lists.
std::optional<TScanResult> ScanSQL(std::string_view Text, TSQLKind Kind, TScanMode Mode,
                                   const std::string& NamePath, bool Loading = false);

// A parameter's list name: ASCII a-z turned into A-Z unless it was quoted.
std::string ParamNameOf(const TSQLToken& Token);

// A macro token split at its first "%" into name (cut to 254 characters) and
// default value; a default starting with "#" makes the macro quoted, and the
// "#" is dropped.
struct TMacroParts {
    std::string Name;
    std::string DefaultValue;
    bool Quoted = false;
};
TMacroParts SplitMacro(const TSQLToken& Token);

// What the assembly of the server text needs to know of one caller entry.
struct TAssemblyEntry {
    bool IsMacro = false;
    bool MacroQuoted = false;
    std::string MacroValue; // the macro's value as text
    bool IsNull = false;
    bool InWhere = false;
    bool CanForceIsNull = false;
    size_t Begin = 0, End = 0; // the token's positions in the joined text
};

struct TAssemblyResult {
    std::string Text;
    // Per entry: its macro value was put in, or it was rewritten to IS NULL /
    // IS NOT NULL. Either makes the server list differ from the caller's.
    std::vector<bool> Replaced;
    bool AnyReplaced() const;
};

// Assembles the text that is then scanned in server mode. With no macros
// and NoForceIsNull the text comes back unchanged. MayForceIsNull is false
// for a bare prepare, which never rewrites a NULL parameter.
TAssemblyResult AssembleServerText(std::string_view JoinedText, const std::vector<TAssemblyEntry>& Entries,
                                   bool HasMacros, bool NoForceIsNull, bool MayForceIsNull);

// A macro's value as it stands in a quoted macro's place: "''" for an empty
// value, a value starting with "'" unchanged, a leading "#" turned into a
// quote with one appended, anything else between single quotes.
std::string QuoteMacroValue(const std::string& Value);

} // namespace ostrakel
