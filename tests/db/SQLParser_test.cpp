// Statement text scanning: the kind from the first word, the parameters and
// macros found, the WHERE region, the server text, its assembly with macro
// values and IS NULL rewriting, and the three parse errors.
#include "db/SQLParser.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const std::string kPath = "Form1.q";
const std::string kSum = "select  sum (r.d_l) as scykli from raporth R where r.toolid =:tid";

TScanResult Scan(const std::string& text, TScanMode mode) {
    return ScanSQL(text, SQLKindOfText(text), mode, kPath).value();
}

// Each token as the caller list sees it: a macro's text, or the parameter's
// name with w (in WHERE), f (can be forced to IS NULL) and q (quoted).
std::string Describe(const std::vector<TSQLToken>& tokens) {
    std::string out;
    for (const TSQLToken& t : tokens) {
        if (!out.empty()) out += "; ";
        if (t.IsMacro()) {
            out += t.Text;
            continue;
        }
        out += ParamNameOf(t);
        const std::string flags =
            std::string(t.InWhere ? "w" : "") + (t.CanForceIsNull ? "f" : "") + (t.Quoted ? "q" : "");
        if (!flags.empty()) out += " " + flags;
    }
    return out;
}

TEST(SQLParser, ScanFindsParametersAndWritesTheServerText) {
    struct Case {
        std::string Text;
        std::string Tokens;
        std::optional<std::string> Processed; // the server text, when checked
    };
    const Case cases[] = {
        {kSum, "TID wf", "select  sum (r.d_l) as scykli from raporth R where r.toolid =?   "},
        {"select * from t where a = :\"MyName\" and b = :low", "MyName wfq; LOW wf",
         "select * from t where a = ?         and b = ?   "},
        {"select ':p', \":q\" from t -- :r\r\nwhere /* :s */ x = 'it''s :t' and y = :y", "Y wf",
         "select ':p', \":q\" from t -- :r\r\nwhere /* :s */ x = 'it''s :t' and y = ? "},
        {"insert into t values (:a, :a)", "A f; A f", "insert into t values (? , ? )"},
        {"select * from t where a = :", "", "select * from t where a = :"},
        {"select * from t where a = ?", "", "select * from t where a = ?"},
        {"select  a,\r\n  b  from t", "", "select  a,\r\n  b  from t"},
        {"UPDATE kalimbor set counter=:counter, counttch=:counttch  \r\nWHERE id = :id",
         "COUNTER f; COUNTTCH f; ID wf",
         "UPDATE kalimbor set counter=?       , counttch=?          \r\nWHERE id = ?  "},
        {"select * from t where a = :p + 1 or b = :q || 'x' or c = :r-1 or d = :s -- :c",
         "P w; Q w; R w; S wf", std::nullopt},
        // "bas " ends in "as ": only the word AS opens the block's body.
        {"execute block (bas int = :b) returns (y int) as begin y = :b; suspend; end", "B f",
         "execute block (bas int = ? ) returns (y int) as begin y = :b; suspend; end"},
        // A ")" after a name closes the sub-select's WHERE; ORDER ends the outer one.
        {"select (select max(x) from u where u.id = (:a)), :b from t where c in (1, :c) order by :d",
         "A wf; B f; C wf; D f", std::nullopt},
        {"select xwhere, where_x, :p from t", "P f", std::nullopt},
        {"select * from t where a = :a group by b having c > :c", "A wf; C f", std::nullopt},
        // The character after a name is taken with it, unless a comment opens there.
        {"select :a/* :b */, :c:d from t where x = :e.f", "A f; C f; E.F wf",
         "select ? /* :b */, ? :d from t where x = ?   "},
        {"select * from t where a = :ab\xc3\xa9 and b = ?b", "AB wf; B wf",
         "select * from t where a = ?  \xc3\xa9 and b = ? "},
        {"select * from @@table%t1@ where a = :a and b = @b%#x", "@@table%t1; A wf; @b%#x",
         "select * from " + std::string(11, ' ') + " where a = ?  and b =      "},
        {"select * from t where a = :\"@x\"", "@x wfq", "select * from t where a = ?    "},
        {"create procedure p (a int) as begin x = :y; end", "",
         "create procedure p (a int) as begin x = :y; end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const TScanResult caller = Scan(c.Text, TScanMode::Caller);
        EXPECT_EQ(Describe(caller.Tokens), c.Tokens);
        EXPECT_TRUE(caller.ProcessedText.empty());
        const TScanResult server = Scan(c.Text, TScanMode::Server);
        if (c.Processed) {
            EXPECT_EQ(server.ProcessedText, *c.Processed);
        }
        EXPECT_EQ(server.ProcessedText.size(), c.Text.size());
        std::vector<TSQLToken> params;
        for (const TSQLToken& t : caller.Tokens)
            if (!t.IsMacro()) params.push_back(t);
        EXPECT_EQ(Describe(server.Tokens), Describe(params));
    }
}

TEST(SQLParser, TokenPositionsAreOneBasedFromMarkToNameEnd) {
    const TScanResult sum = Scan(kSum, TScanMode::Caller);
    ASSERT_EQ(sum.Tokens.size(), 1u);
    EXPECT_EQ(sum.Tokens[0].Text, "tid");
    EXPECT_EQ(sum.Tokens[0].Begin, kSum.size() - 3);
    EXPECT_EQ(sum.Tokens[0].End, kSum.size());

    const std::string text = "x :\"Ab\" @@m@ @n";
    const TScanResult r = Scan(text, TScanMode::Caller);
    ASSERT_EQ(r.Tokens.size(), 3u);
    EXPECT_EQ(r.Tokens[0].Begin, 3u); // ":"
    EXPECT_EQ(r.Tokens[0].End, 7u);   // the closing quote
    EXPECT_EQ(r.Tokens[1].Begin, 9u);
    EXPECT_EQ(r.Tokens[1].End, 12u); // the closing macro character
    EXPECT_EQ(r.Tokens[2].Begin, 14u);
    EXPECT_EQ(r.Tokens[2].End, 15u);
}

TEST(SQLParser, KindFromTheFirstWord) {
    const std::pair<const char*, TSQLKind> cases[] = {
        {"select 1 from rdb$database", skSelect},
        {"  \r\n\tSeLeCt\"A\" from t", skSelect},
        {"MERGE into t using u on 1=1", skSelect},
        {"-- note\r\n/* more */ (select 1 from t)", skSelect},
        {";select 1", skSelect},
        {"selectx from t", skUnknown},
        {"update t set a = 1", skUpdate},
        {"update order_t set a = 1", skUpdate},
        {"UPDATE /* c */ OR insert into t", skUpdateOrInsert},
        {"delete from t", skDelete},
        {"insert into t values (1)", skInsert},
        {"execute procedure p", skExecuteProc},
        {"EXECUTE\r\nBLOCK AS BEGIN END", skExecuteBlock},
        {"execute statement 'x'", skUnknown},
        {"create table t (a int)", skDDL},
        {"alter table t", skDDL},
        {"comment on table t is 'x'", skDDL},
        {"drop table t", skDDL},
        {"declare external function f", skDDL},
        {"grant all on t to u", skDDL},
        {"recreate view v as select 1 from t", skDDL},
        {"revoke all on t from u", skDDL},
        {"set generator g to 1", skDDL},
        {"set transaction", skUnknown},
        {"-1", skUnknown},
        {"/* never closed select", skUnknown},
        {"", skUnknown},
    };
    for (const auto& [text, kind] : cases)
        EXPECT_EQ(SQLKindOfText(text), kind) << text;
}

TEST(SQLParser, QuickScanSkipsStringsAndComments) {
    const std::pair<std::string_view, bool> cases[] = {
        {"select * from t where a = :a", true},
        {"select ? ", true},
        {"select @x from t", true},
        {"select 'a:b', \"c?d\" /* :e */ from t", false},
        {"select 1 -- :a\r\nfrom t", false},
        {"select 1 -- c\r\nfrom t where a = :a", true},
        {"select 1 -- c\nfrom t where a = :a", true},   // a bare LF ends the comment too
        {std::string_view("{-- \0\0:c\r\0", 10), true}, // as does a NUL (found by the fuzzer)
        {"select ' :a", false},
        {"select 1 from t", false},
    };
    for (const auto& [text, has] : cases)
        EXPECT_EQ(QuickScanHasParams(text), has) << text;
}

TEST(SQLParser, ParseErrorsAreCode51WithTheirTexts) {
    const std::string prefix = "SQL Parse Error in :Form1.q \r\n\r\n";
    struct Case {
        const char* Text;
        const char* Detail;
        bool SilentWhileLoading;
    };
    const Case cases[] = {
        {"select 'abc", "EOF in string detected", false},
        {"select \"abc", "EOF in string detected", false},
        {"select * from t where a = :\"abc", "EOF in string detected", false},
        {"select /* abc", "EOF in comment detected", false},
        {"where x = ? and y = 1", "Parameter name expected", true},
        {"select :(1)", "Parameter name expected", true},
        {"select @ x", "Parameter name expected", true},
        {"select @\r\n", "Parameter name expected", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        for (TScanMode mode : {TScanMode::Caller, TScanMode::Server}) {
            const auto scan = [&] { ScanSQL(c.Text, skSelect, mode, kPath); };
            EXPECT_EQ(ClientErrorCode(scan), 51);
            EXPECT_EQ(ErrorText(scan), prefix + c.Detail);
        }
        if (c.SilentWhileLoading) {
            EXPECT_FALSE(ScanSQL(c.Text, skSelect, TScanMode::Caller, kPath, true).has_value());
        } else {
            EXPECT_EQ(ClientErrorCode([&] { ScanSQL(c.Text, skSelect, TScanMode::Caller, kPath, true); }),
                      51);
        }
    }
}

TEST(SQLParser, MacroSplitAndQuoting) {
    struct Split {
        std::string Token;
        std::string Name, Default;
        bool Quoted;
    };
    const Split splits[] = {
        {"@x", "x", "", false},
        {"@@name%def", "name", "def", false},
        {"@v%#x", "v", "x", true},
        {"@a%b%c", "a", "b%c", false},
        {"@" + std::string(300, 'n') + "%d", std::string(254, 'n'), "d", false},
    };
    for (const Split& s : splits) {
        TSQLToken token;
        token.Text = s.Token;
        const TMacroParts parts = SplitMacro(token);
        EXPECT_EQ(parts.Name, s.Name) << s.Token;
        EXPECT_EQ(parts.DefaultValue, s.Default) << s.Token;
        EXPECT_EQ(parts.Quoted, s.Quoted) << s.Token;
    }
    const std::pair<const char*, const char*> quoted[] = {
        {"", "''"},     {"'ab'", "'ab'"},          {"#ab", "'ab'"},
        {"ab", "'ab'"}, {"O'Brien", "'O''Brien'"}, {"#it's", "'it''s'"},
    };
    for (const auto& [value, expected] : quoted)
        EXPECT_EQ(QuoteMacroValue(value), expected) << value;
}

TEST(SQLParser, AssemblyPutsInMacrosAndRewritesNullComparisons) {
    struct Case {
        std::string Text;
        const char* States;                   // per token: N a NULL parameter, - a set one, M a macro
        std::vector<std::string> MacroValues; // empty: the defaults
        bool MayForce, NoForce;
        std::string Expected;
        const char* Replaced;
    };
    const Case cases[] = {
        {kSum,
         "N",
         {},
         true,
         false,
         "select  sum (r.d_l) as scykli from raporth R where r.toolid  IS NULL ",
         "1"},
        {kSum, "N", {}, false, false, kSum, "0"},
        {kSum, "N", {}, true, true, kSum, "0"},
        {kSum, "-", {}, true, false, kSum, "0"},
        {"select * from t where a <> :p", "N", {}, true, false, "select * from t where a  IS NOT NULL ", "1"},
        {"select * from t where a != :p", "N", {}, true, false, "select * from t where a  IS NOT NULL ", "1"},
        {"select * from t where a ^=:p", "N", {}, true, false, "select * from t where a  IS NOT NULL ", "1"},
        {"select * from t where a >= :p", "N", {}, true, false, "select * from t where a >= :p", "0"},
        {"select * from t where a <= :p", "N", {}, true, false, "select * from t where a <= :p", "0"},
        {"select * from t where a = :p + 1", "N", {}, true, false, "select * from t where a = :p + 1", "0"},
        {"select * from t where a = (:p)", "N", {}, true, false, "select * from t where a = (:p)", "0"},
        {"insert into t values (:a)", "N", {}, true, false, "insert into t values (:a)", "0"},
        {"update t set a = :p where b = :q",
         "NN",
         {},
         true,
         false,
         "update t set a = :p where b  IS NULL ",
         "01"},
        {"select * from t where a = :p and b = :q",
         "NN",
         {},
         true,
         false,
         "select * from t where a  IS NULL  and b  IS NULL ",
         "11"},
        {"select * from @@tab%t1@ where a = @v%#x and b = :b",
         "MMN",
         {},
         true,
         false,
         "select * from t1 where a = 'x' and b  IS NULL ",
         "111"},
        {"select * from @@tab%t1@ where a = @v%#x and b = :b",
         "MMN",
         {"table_two", "O'Brien"},
         true,
         false,
         "select * from table_two where a = 'O''Brien' and b  IS NULL ",
         "111"},
        {"select @@f%a@ from t where b = :b", "MN", {}, true, true, "select a from t where b = :b", "10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const TScanResult scan = Scan(c.Text, TScanMode::Caller);
        ASSERT_EQ(scan.Tokens.size(), std::string(c.States).size());
        std::vector<TAssemblyEntry> entries;
        bool hasMacros = false;
        size_t macro = 0;
        for (size_t k = 0; k < scan.Tokens.size(); ++k) {
            const TSQLToken& t = scan.Tokens[k];
            TAssemblyEntry e;
            e.IsMacro = t.IsMacro();
            ASSERT_EQ(e.IsMacro, c.States[k] == 'M');
            if (e.IsMacro) {
                const TMacroParts parts = SplitMacro(t);
                e.MacroQuoted = parts.Quoted;
                e.MacroValue = c.MacroValues.empty() ? parts.DefaultValue : c.MacroValues[macro++];
                hasMacros = true;
            }
            e.IsNull = c.States[k] == 'N';
            e.InWhere = t.InWhere;
            e.CanForceIsNull = t.CanForceIsNull;
            e.Begin = t.Begin;
            e.End = t.End;
            entries.push_back(e);
        }
        const TAssemblyResult r = AssembleServerText(c.Text, entries, hasMacros, c.NoForce, c.MayForce);
        EXPECT_EQ(r.Text, c.Expected);
        std::string replaced;
        for (bool b : r.Replaced)
            replaced += b ? '1' : '0';
        EXPECT_EQ(replaced, c.Replaced);
        EXPECT_EQ(r.AnyReplaced(), replaced.find('1') != std::string::npos);
    }
}

} // namespace
