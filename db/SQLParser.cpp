// Reading a statement's text: kind, quick scan, the parameter scan with its
// processed text, macro splitting and the assembly of the server text.
#include "db/SQLParser.h"

#include "db/FIBErrors.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace ostrakel {

namespace {

char At(std::string_view text, size_t i) {
    return i < text.size() ? text[i] : '\0';
}

bool IsBlank(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// What may stand directly before a keyword.
bool IsWordBefore(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"' || c == ')';
}

// What may stand directly after a keyword; the same set is passed over when
// the IS NULL rewriting looks left of a parameter.
bool IsWordAfter(char c) {
    return IsBlank(c) || c == '"' || c == '(' || c == '-' || c == '/' || c == ';' || c == '^';
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsNameChar(char c) {
    return c == '#' || c == '$' || c == '%' || c == '.' || c == '_' || (c >= '0' && c <= '9') ||
           (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Word (in capitals) stands at i in either letter case, followed by a
// character that ends a word; with CheckBefore also preceded by one.
bool WordAt(std::string_view text, size_t i, std::string_view word, bool checkBefore = true) {
    if (i + word.size() > text.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (UpperAscii(text[i + k]) != word[k]) return false;
    if (checkBefore && i > 0 && !IsWordBefore(text[i - 1])) return false;
    return IsWordAfter(At(text, i + word.size()));
}

// Passes over blanks and comments (and with Separators the characters that
// may open a statement: "(", ";" and "^") to the next significant character.
size_t SkipToWord(std::string_view text, size_t i, bool separators) {
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (IsBlank(c) || (separators && (c == '(' || c == ';' || c == '^'))) {
            ++i;
        } else if (c == '-' && At(text, i + 1) == '-') {
            i += 2;
            while (i < n && text[i] != '\n' && text[i] != '\r')
                ++i;
        } else if (c == '/' && At(text, i + 1) == '*') {
            const size_t close = text.find("*/", i + 2);
            if (close == std::string_view::npos) return n;
            i = close + 2;
        } else {
            break;
        }
    }
    return i;
}

// The keywords that end the WHERE region; the length of the one at i, or 0.
size_t WhereEndAt(std::string_view text, size_t i) {
    static constexpr std::array<std::string_view, 7> kEnds = {"FOR",  "GROUP", "HAVING", "ORDER",
                                                              "PLAN", "START", "UNION"};
    for (std::string_view word : kEnds)
        if (WordAt(text, i, word)) return word.size();
    return 0;
}

// Whether a NULL parameter whose name ends before index i may become IS NULL:
// not when an arithmetic or concatenation operator follows it.
bool CanForceAfter(std::string_view text, size_t i) {
    while (i < text.size() && (text[i] == '\t' || text[i] == '\n' || text[i] == '\r' || text[i] == ' '))
        ++i;
    if (i >= text.size()) return true;
    switch (text[i]) {
    case '*':
    case '+':
    case '|':
        return false;
    case '-':
        return At(text, i + 1) == '-';
    case '/':
        return At(text, i + 1) == '*';
    default:
        return true;
    }
}

[[noreturn]] void RaiseParseError(const std::string& namePath, const char* detail) {
    RaiseClientError(fibeSQLParseError, namePath, detail);
}

// Doubles every single quote, so that the value stays one SQL string.
std::string DoubleQuotes(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

} // namespace

TSQLKind SQLKindOfText(std::string_view Text) {
    // The skipped characters already set the word apart, so only the
    // character after each word is checked.
    const size_t i = SkipToWord(Text, 0, true);
    const auto is = [&](std::string_view word) { return WordAt(Text, i, word, false); };
    const auto followedBy = [&](std::string_view word, std::string_view next) {
        return WordAt(Text, SkipToWord(Text, i + word.size(), false), next, false);
    };
    if (is("SELECT") || is("MERGE")) return skSelect;
    if (is("UPDATE")) return followedBy("UPDATE", "OR") ? skUpdateOrInsert : skUpdate;
    if (is("DELETE")) return skDelete;
    if (is("INSERT")) return skInsert;
    if (is("EXECUTE")) {
        if (followedBy("EXECUTE", "PROCEDURE")) return skExecuteProc;
        if (followedBy("EXECUTE", "BLOCK")) return skExecuteBlock;
    }
    for (std::string_view word :
         {"ALTER", "CREATE", "COMMENT", "DROP", "DECLARE", "GRANT", "RECREATE", "REVOKE"})
        if (is(word)) return skDDL;
    if (is("SET") && followedBy("SET", "GENERATOR")) return skDDL;
    return skUnknown;
}

bool QuickScanHasParams(std::string_view Text) {
    const size_t n = Text.size();
    size_t i = 0;
    while (i < n) {
        const char c = Text[i];
        if (c == ':' || c == '?' || c == kMacroChar) return true;
        if (c == '\'' || c == '"') {
            // A doubled quote closes and reopens: the same as staying inside.
            const size_t close = Text.find(c, i + 1);
            if (close == std::string_view::npos) return false;
            i = close + 1;
        } else if (c == '/' && At(Text, i + 1) == '*') {
            const size_t close = Text.find("*/", i + 2);
            if (close == std::string_view::npos) return false;
            i = close + 2;
        } else if (c == '-' && At(Text, i + 1) == '-') {
            // A line added with a bare LF (or a NUL) ends its comment there too; the
            // full scan does the same, and a parameter after it must be found.
            const size_t close = Text.find_first_of(std::string_view("\r\n\0", 3), i + 2);
            if (close == std::string_view::npos) return false;
            i = close + 1;
        } else {
            ++i;
        }
    }
    return false;
}

std::optional<TScanResult> ScanSQL(std::string_view Text, TSQLKind Kind, TScanMode Mode,
                                   const std::string& NamePath, bool Loading) {
    const size_t n = Text.size();
    const bool server = Mode == TScanMode::Server;
    const bool whereKinds = Kind != skExecuteProc && Kind != skExecuteBlock;
    bool paramsOn = CanParamsCheck(Kind);
    bool inWhere = false;
    long depth = 0;

    TScanResult result;
    if (server) result.ProcessedText.assign(Text);

    // A ")" closing more than the WHERE region opened leaves it.
    const auto countParen = [&](char c) {
        if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth < 0) {
            inWhere = false;
        }
    };
    const auto record = [&](TSQLToken token) {
        token.InWhere = inWhere;
        token.CanForceIsNull = CanForceAfter(Text, token.End);
        if (server) {
            const size_t first = token.Begin - 1;
            std::fill(result.ProcessedText.begin() + static_cast<std::ptrdiff_t>(first),
                      result.ProcessedText.begin() + static_cast<std::ptrdiff_t>(token.End), ' ');
            if (token.IsMacro()) return;
            result.ProcessedText[first] = '?';
        }
        result.Tokens.push_back(std::move(token));
    };

    enum class TState { Normal, String, BlockComment, LineComment };
    TState state = TState::Normal;
    char quote = 0;
    size_t i = 0;
    while (i < n) {
        const char c = Text[i];
        switch (state) {
        case TState::String:
            if (c == quote) {
                if (At(Text, i + 1) == quote) {
                    i += 2;
                    continue;
                }
                state = TState::Normal;
            }
            ++i;
            continue;
        case TState::BlockComment:
            if (c == '*' && At(Text, i + 1) == '/') {
                state = TState::Normal;
                i += 2;
                continue;
            }
            ++i;
            continue;
        case TState::LineComment:
            if (c == '\0' || c == '\n' || c == '\r') state = TState::Normal;
            ++i;
            continue;
        case TState::Normal:
            break;
        }

        if (whereKinds) {
            if (!inWhere) {
                if (WordAt(Text, i, "WHERE")) {
                    inWhere = true;
                    depth = 0;
                    i += 5;
                    continue;
                }
            } else if (c == '(' || c == ')') {
                countParen(c);
            } else if (const size_t len = WhereEndAt(Text, i)) {
                inWhere = false;
                i += len;
                continue;
            }
        }
        // The body of an EXECUTE BLOCK names its variables with ":" too.
        if (Kind == skExecuteBlock && paramsOn && (c == 'A' || c == 'a') && WordAt(Text, i, "AS")) {
            paramsOn = false;
            i += 2;
            continue;
        }

        if (c == '\'' || c == '"') {
            state = TState::String;
            quote = c;
            ++i;
        } else if (c == '-' && At(Text, i + 1) == '-') {
            state = TState::LineComment;
            i += 2;
        } else if (c == '/' && At(Text, i + 1) == '*') {
            state = TState::BlockComment;
            i += 2;
        } else if ((c == ':' || c == '?') && paramsOn && i + 1 < n) {
            const char next = Text[i + 1];
            TSQLToken token;
            token.Begin = i + 1;
            if (next == '"') {
                const size_t close = Text.find('"', i + 2);
                if (close == std::string_view::npos) RaiseParseError(NamePath, "EOF in string detected");
                token.Text.assign(Text.substr(i + 2, close - i - 2));
                token.End = close + 1;
                token.Quoted = true;
                record(std::move(token));
                i = close + 1;
                continue;
            }
            if (!IsNameChar(next)) {
                if (Loading) return std::nullopt;
                RaiseParseError(NamePath, "Parameter name expected");
            }
            size_t j = i + 1;
            while (j < n && IsNameChar(Text[j]))
                ++j;
            token.Text.assign(Text.substr(i + 1, j - i - 1));
            token.End = j;
            record(std::move(token));
            // The character after the name goes with it, unless a comment opens there.
            if (j < n && !(Text[j] == '-' && At(Text, j + 1) == '-') &&
                !(Text[j] == '/' && At(Text, j + 1) == '*')) {
                if (whereKinds && inWhere) countParen(Text[j]);
                ++j;
            }
            i = j;
        } else if (c == kMacroChar) {
            const char next = At(Text, i + 1);
            if (next == '\n' || next == '\r' || next == ' ') {
                if (Loading) return std::nullopt;
                RaiseParseError(NamePath, "Parameter name expected");
            }
            TSQLToken token;
            token.Begin = i + 1;
            size_t j;
            if (next == kMacroChar) {
                // @@text@: up to the closing macro character, or the end of the text.
                const size_t close = Text.find(kMacroChar, i + 2);
                token.Text.assign(Text.substr(i, (close == std::string_view::npos ? n : close) - i));
                j = close == std::string_view::npos ? n : close + 1;
            } else {
                j = i + 1;
                while (j < n && Text[j] != '\n' && Text[j] != '\r' && Text[j] != ' ')
                    ++j;
                token.Text.assign(Text.substr(i, j - i));
            }
            token.End = j;
            record(std::move(token));
            i = j;
        } else {
            ++i;
        }
    }
    if (state == TState::String) RaiseParseError(NamePath, "EOF in string detected");
    if (state == TState::BlockComment) RaiseParseError(NamePath, "EOF in comment detected");
    return result;
}

std::string ParamNameOf(const TSQLToken& Token) {
    std::string name = Token.Text;
    if (!Token.Quoted) std::transform(name.begin(), name.end(), name.begin(), UpperAscii);
    return name;
}

TMacroParts SplitMacro(const TSQLToken& Token) {
    std::string_view text = Token.Text;
    // Both forms: @name%default and @@name%default (the closing @ is not in the token).
    const size_t lead = text.starts_with("@@") ? 2 : text.starts_with(kMacroChar) ? 1 : 0;
    text.remove_prefix(lead);
    TMacroParts parts;
    const size_t percent = text.find('%');
    std::string_view name = text.substr(0, percent);
    if (percent != std::string_view::npos) parts.DefaultValue.assign(text.substr(percent + 1));
    // 254 characters, not bytes: a UTF-8 sequence (a byte and at most three
    // continuation bytes) is never cut.
    size_t end = 0;
    for (int chars = 0; end < name.size() && chars < 254; ++chars) {
        ++end;
        for (int more = 0;
             more < 3 && end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80; ++more)
            ++end;
    }
    name = name.substr(0, end);
    parts.Name.assign(name);
    if (!parts.DefaultValue.empty() && parts.DefaultValue.front() == '#') {
        parts.Quoted = true;
        parts.DefaultValue.erase(0, 1);
    }
    return parts;
}

std::string QuoteMacroValue(const std::string& Value) {
    if (Value.empty()) return "''";
    if (Value.front() == '\'') return Value;
    const std::string_view body = Value.front() == '#' ? std::string_view(Value).substr(1) : Value;
    return "'" + DoubleQuotes(body) + "'";
}

bool TAssemblyResult::AnyReplaced() const {
    return std::find(Replaced.begin(), Replaced.end(), true) != Replaced.end();
}

TAssemblyResult AssembleServerText(std::string_view JoinedText, const std::vector<TAssemblyEntry>& Entries,
                                   bool HasMacros, bool NoForceIsNull, bool MayForceIsNull) {
    TAssemblyResult result;
    result.Text.assign(JoinedText);
    result.Replaced.assign(Entries.size(), false);
    if (!HasMacros && NoForceIsNull) return result;

    std::string& text = result.Text;
    std::ptrdiff_t shift = 0; // new length minus old length of the replacements so far
    size_t previousEnd = 0;   // entries come in text order and never overlap
    for (size_t k = 0; k < Entries.size(); ++k) {
        const TAssemblyEntry& entry = Entries[k];
        if (entry.Begin <= previousEnd || entry.End < entry.Begin) continue;
        previousEnd = entry.End;
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(entry.Begin) - 1 + shift;
        const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(entry.End) - 1 + shift;
        if (first < 0 || last >= static_cast<std::ptrdiff_t>(text.size())) continue;

        std::ptrdiff_t from = first;
        std::string with;
        if (entry.IsMacro) {
            with = entry.MacroQuoted ? QuoteMacroValue(entry.MacroValue) : entry.MacroValue;
        } else if (!NoForceIsNull && MayForceIsNull && entry.IsNull && entry.InWhere &&
                   entry.CanForceIsNull) {
            // An opening parenthesis is not passed: "= (:p)" would lose it
            // and leave its closing one behind.
            std::ptrdiff_t p = first - 1;
            while (p >= 0 && text[static_cast<size_t>(p)] != '(' && IsWordAfter(text[static_cast<size_t>(p)]))
                --p;
            if (p < 0) continue;
            const char op = text[static_cast<size_t>(p)];
            const char before = p > 0 ? text[static_cast<size_t>(p - 1)] : '\0';
            if (op == '=' && (before == '!' || before == '^' || before == '~')) {
                from = p - 1;
                with = " IS NOT NULL ";
            } else if (op == '=' && (before == '<' || before == '>')) {
                continue;
            } else if (op == '=') {
                from = p;
                with = " IS NULL ";
            } else if (op == '>' && before == '<') {
                from = p - 1;
                with = " IS NOT NULL ";
            } else {
                continue;
            }
        } else {
            continue;
        }
        const std::ptrdiff_t oldLength = last + 1 - from;
        text.replace(static_cast<size_t>(from), static_cast<size_t>(oldLength), with);
        shift += static_cast<std::ptrdiff_t>(with.size()) - oldLength;
        result.Replaced[k] = true;
    }
    return result;
}

} // namespace ostrakel
