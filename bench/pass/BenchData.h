// The benchmark's two databases: built once per run into a pristine pair,
// copied for every pass, and the state a correct pass leaves in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrakel::bench {

inline constexpr const char* kMouldsFile = "kalimbor_db.fdb";
inline constexpr const char* kReportsFile = "vendrel_data.fdb";

// What goes before a database file's path to attach it: empty (embedded) or a
// server's "host/port:" prefix.
void SetDatabasePrefix(const std::string& prefix);
const std::string& DatabasePrefix();
// The name to attach dir/name by.
std::string DatabaseName(const std::string& dir, const char* name);

struct TDataShape {
    int Moulds = 10000;
    int Reports = 1000000;
    bool Index = true; // an index on raporth.toolid
};

// What one pass must leave: every mould's counter and whether it was written,
// and the history rows, in the order the dumps below give them.
struct TExpectedState {
    std::vector<std::vector<int64_t>> Moulds;  // id, counter, touched (0/1)
    std::vector<std::vector<int64_t>> History; // id_f, stan, ostan, id_p, lm, opis is "Raport Vendrel" (0/1)
    int Walked = 0;                            // moulds the pass checks
    int Changed = 0;                           // moulds whose counter it writes
};

// Creates dir/kalimbor_db.fdb and dir/vendrel_data.fdb with forced writes off.
// Moulds: ids 1..N; by id mod 50, 7 and 13 are not counted (countmode 0, NULL),
// 21 and 33 have no tool (id_vendrel 0, NULL); tool 100000+id; ids with id mod 25
// = 3 already hold their sum. Reports: spread over the tools in turn, none for
// tools with id mod 50 = 41, cycles with two decimals.
TExpectedState BuildPristinePair(const std::string& dir, const TDataShape& shape);

// Sets forced writes of both files of the pair.
void SetForcedWrites(const std::string& dir, bool on);

// Copies the pair of files (both detached) from one directory into another.
void CopyPair(const std::string& from, const std::string& to);

// The state a pass left in the mould database of the pair, as TExpectedState holds it.
std::vector<std::vector<int64_t>> DumpMoulds(const std::string& dir);
std::vector<std::vector<int64_t>> DumpHistory(const std::string& dir);

} // namespace ostrakel::bench
