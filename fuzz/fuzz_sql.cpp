// Fuzzes the embedded client's SQL front end: the loader's script splitter,
// the tokenizer, the Oracle type parser and the rewrite into SQLite's
// dialect, which must either produce SQL or raise an Oracle-style
// SQLException, never crash, hang or recurse without bound (deep nesting,
// comments and quotes left open are among the seeds).
#include <occi.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "internal.h"
#include "script.h"

namespace emb = oracle::occi::embedded;

namespace {

// Three schemas: the session's own, a second user and the catalogue.
class FuzzResolver : public emb::SchemaResolver {
public:
    explicit FuzzResolver(bool p_admin) : admin_(p_admin) {}
    std::string schemaAlias(const std::string& p_name) override {
        if (p_name == "DEMO") return "main";
        if (p_name == "OTHER") return "s_other";
        if (p_name == "MDSYS") return "s_mdsys";
        return "";
    }
    std::string currentAlias() override {
        if (admin_) emb::raise(1435, "user does not exist");
        return "main";
    }
    std::string sessionUser() const override { return admin_ ? "SYSTEM" : "DEMO"; }
    bool qualifyTables() const override { return admin_; }

private:
    bool admin_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_data, size_t p_size) {
    if (p_size == 0) return 0;
    bool admin = (p_data[0] & 1) != 0;
    std::string sql(reinterpret_cast<const char*>(p_data + 1), p_size - 1);

    std::vector<emb::Token> tokens = emb::tokenize(sql);
    std::vector<emb::Token> solid;
    for (const emb::Token& token : tokens) {
        if (token.kind != emb::Token::SPACE && token.kind != emb::Token::COMMENT) solid.push_back(token);
    }

    emb::ColumnType type;
    std::string affinity;
    emb::parseOracleType(solid, type, affinity);

    FuzzResolver resolver(admin);
    auto rewrite = [&](const std::string& p_text, bool p_hoist) {
        try {
            emb::Rewritten out = emb::rewriteSql(p_text, resolver, p_hoist);
            (void)out;
        } catch (const oracle::occi::SQLException& e) {
            // Refusals are Oracle-style.
            if (e.getMessage().compare(0, 4, "ORA-") != 0) std::abort();
        }
    };
    rewrite(sql, false);

    // the same text as a loader script: each statement it splits off is
    // rewritten as the loader's session would (literals hoisted)
    emb::SplitError error;
    size_t statements = 0;
    bool whole = emb::splitScript(
        sql,
        [&](const emb::ScriptStatement& p_statement) {
            if (p_statement.line < 1) std::abort();
            rewrite(p_statement.text, true);
            return ++statements < 64;
        },
        error);
    // a malformed script names where: a line of the text, and a message
    if (!whole && error.line > 0 && error.message.empty()) std::abort();
    return 0;
}
