// The connection's single-row query and the server clock reading of every
// connect, which runs on it.
#include "db/FIBDatabase.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"

#include <map>

namespace ostrakel {

struct TFIBDatabase::TQueryCache {
    // Statements with parameters, by transaction and text, ready for their next use.
    std::map<std::pair<const TFIBTransaction*, std::string>, std::unique_ptr<TFIBQuery>> Statements;
};

const TFIBDatabase::TStatementDescription* TFIBDatabase::FindDescription(const std::string& Text) const {
    const auto it = FDescriptions.find(Text);
    return it == FDescriptions.end() ? nullptr : &it->second;
}

TFIBDatabase::TStatementDescription& TFIBDatabase::RememberDescription(const std::string& Text) {
    // A program uses a handful of texts; one that builds texts without end
    // starts over now and then instead of growing.
    constexpr size_t kMostTexts = 256;
    if (FDescriptions.size() >= kMostTexts && !FDescriptions.contains(Text)) FDescriptions.clear();
    return FDescriptions[Text];
}

void TFIBDatabase::ForgetDescription(const std::string& Text) { FDescriptions.erase(Text); }

void TFIBDatabase::DropQueryCache() {
    // Reset first: a statement's destructor may come back here through its link.
    std::shared_ptr<TQueryCache> cache = std::move(FQueryCache);
    cache.reset();
}

namespace {

template <class F>
auto RunSingleRow(TFIBDatabase& db, std::shared_ptr<TFIBDatabase::TQueryCache>& cacheSlot,
                  const std::string& aSQL, TFIBTransaction* transaction, bool internal, bool aCacheQuery, F&& read) {
    std::unique_ptr<TFIBQuery> q;
    const auto key = std::make_pair(static_cast<const TFIBTransaction*>(transaction), aSQL);
    if (cacheSlot) {
        auto it = cacheSlot->Statements.find(key);
        if (it != cacheSlot->Statements.end()) {
            q = std::move(it->second);
            cacheSlot->Statements.erase(it);
            // A transaction of the same address is not the one this was made for.
            if (q->Transaction() != transaction || q->Database() != &db) q.reset();
        }
    }
    if (!q) {
        q = std::make_unique<TFIBQuery>(nullptr);
        q->SetDatabase(&db);
        q->SetTransaction(transaction);
        q->SQL().SetText(aSQL);
    }
    try {
        if (!transaction->Active()) transaction->StartTransaction();
        q->ExecQuery();
        auto result = read(*q);
        q->Close();
        if (internal) transaction->Commit();
        if (aCacheQuery && q->Params().Count() > 0) {
            if (!cacheSlot) cacheSlot = std::make_shared<TFIBDatabase::TQueryCache>();
            cacheSlot->Statements[key] = std::move(q);
        }
        return result;
    } catch (...) {
        try {
            if (transaction->Active()) transaction->Rollback();
        } catch (...) {
            // The query's own error is the one to report.
        }
        throw;
    }
}

TFIBVariant FieldValue(TFIBXSQLVAR& field) {
    if (field.IsBlob()) return field.IsNull() ? TFIBVariant{} : TFIBVariant{field.AsString()};
    return field.AsVariant();
}

} // namespace

TFIBVariant TFIBDatabase::QueryValue(const std::string& aSQL, int FieldNo, TFIBTransaction* aTransaction,
                                     bool aCacheQuery) {
    TFIBTransaction* tr = aTransaction ? aTransaction : vInternalTransaction.get();
    return RunSingleRow(*this, FQueryCache, aSQL, tr, !aTransaction, aCacheQuery, [FieldNo](TFIBQuery& q) {
        if (q.FieldCount() == 0) return TFIBVariant{false};
        return FieldValue(q.Current()[FieldNo]);
    });
}

std::vector<TFIBVariant> TFIBDatabase::QueryValues(const std::string& aSQL, TFIBTransaction* aTransaction,
                                                   bool aCacheQuery) {
    TFIBTransaction* tr = aTransaction ? aTransaction : vInternalTransaction.get();
    return RunSingleRow(*this, FQueryCache, aSQL, tr, !aTransaction, aCacheQuery, [](TFIBQuery& q) {
        std::vector<TFIBVariant> values;
        for (int i = 0; i < q.FieldCount(); ++i) values.push_back(FieldValue(q.Current()[i]));
        return values;
    });
}

void TFIBDatabase::ReadServerClock() {
    const char* text = FSQLDialect > 1 ? "SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE"
                                       : "SELECT CAST('NOW' AS DATE) from RDB$DATABASE";
    const TFIBVariant now = QueryValue(text, 0, nullptr, false);
    const auto* server = std::get_if<TVarDateTime>(&now);
    FDifferenceTime = server ? SystemClock().Now() - server->Value : 0;
}

} // namespace ostrakel
