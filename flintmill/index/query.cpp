#include "flintmill/index/query.hpp"

#include <algorithm>
#include <cmath>

#include "flintmill/index/words.hpp"

namespace flintmill::index {
namespace {

// BM25's idf, kept positive: a word in every document still counts a little.
double idf(double n, double df) {
    return std::log(1.0 + (n - df + 0.5) / (df + 0.5));
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

int QueryPlan::word_of(const std::string& term) const {
    for (std::size_t i = 0; i < words.size(); ++i) {
        for (const QueryTerm& t : words[i].terms) {
            // Prefixed terms (Z for stems, S, Q) begin with a capital letter;
            // a prefix stands only for raw words.
            const bool raw = !term.empty() && !(term[0] >= 'A' && term[0] <= 'Z');
            if (t.prefix ? raw && term.starts_with(t.term) : term == t.term) {
                return static_cast<int>(i);
            }
        }
    }
    return -1;
}

QueryPlan build_query(std::string_view text, const Xapian::Database& db, const Xapian::Stem& stem) {
    QueryPlan plan;
    const double n = static_cast<double>(db.get_doccount());
    const std::vector<Word> words = split_words(text);
    const bool typing = !text.empty() && !is_blank(text.back());
    std::vector<Xapian::Query> subqueries;
    for (std::size_t i = 0; i < words.size(); ++i) {
        QueryWord word;
        word.lower = words[i].lower;
        word.stem = stem(word.lower);
        // The same word twice adds nothing but weight.
        bool seen = false;
        for (const QueryWord& w : plan.words) {
            seen = seen || w.stem == word.stem;
        }
        const bool last = i + 1 == words.size();
        if (seen) {
            continue;
        }
        word.terms.push_back({"Z" + word.stem, 1.0, false});
        // A word the stemmer leaves alone in the index (a number, a name in
        // capitals): the raw form finds it.
        word.terms.push_back({word.lower, 1.0, false});
        double df = std::max(db.get_termfreq("Z" + word.stem), db.get_termfreq(word.lower));
        if (last && typing && word.lower.size() >= 2) {
            word.terms.push_back({word.lower, 1.0, true});
            // The prefix is as rare as its most common completion, roughly;
            // a bounded look at the completions is enough to say.
            int looked = 0;
            for (auto t = db.allterms_begin(word.lower);
                 t != db.allterms_end(word.lower) && looked < 200 && df < n; ++t, ++looked) {
                df = std::max(df, static_cast<double>(t.get_termfreq()));
            }
        }
        word.idf = idf(n, std::min(df, n));
        std::vector<Xapian::Query> alternatives;
        for (const QueryTerm& t : word.terms) {
            Xapian::Query q =
                t.prefix ? Xapian::Query(Xapian::Query::OP_WILDCARD, t.term, PREFIX_EXPANSIONS,
                                         Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT)
                         : Xapian::Query(t.term);
            if (t.weight != 1.0) {
                q = Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, t.weight);
            }
            alternatives.push_back(std::move(q));
        }
        subqueries.emplace_back(Xapian::Query::OP_OR, alternatives.begin(), alternatives.end());
        plan.words.push_back(std::move(word));
    }
    if (!subqueries.empty()) {
        plan.query = Xapian::Query(Xapian::Query::OP_OR, subqueries.begin(), subqueries.end());
    }
    return plan;
}

}  // namespace flintmill::index
