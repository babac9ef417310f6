#include "flintmill/index/search.hpp"

#include <algorithm>

#include "flintmill/index/query.hpp"
#include "flintmill/index/score.hpp"
#include "flintmill/index/words.hpp"

namespace flintmill::index {
namespace {

using flintsearch::Result;
using flintsearch::unexpected;

// How many BM25 candidates are re-ordered by calibrated score: enough that
// a document matching every word is not lost behind ones that repeat one.
std::size_t candidates_for(std::size_t limit) {
    return std::max<std::size_t>(limit * 4, 50);
}

}  // namespace

Result<std::vector<Hit>, IndexError> search(const Xapian::Database& db, std::string_view text,
                                            std::size_t limit, const Xapian::Stem& stem) {
    std::vector<Hit> hits;
    if (limit == 0) {
        return hits;
    }
    try {
        const QueryPlan plan = build_query(text, db, stem);
        if (plan.query.empty()) {
            return hits;
        }
        double total_idf = 0.0;
        for (const QueryWord& w : plan.words) {
            total_idf += w.idf;
        }
        Xapian::Enquire enquire(db);
        enquire.set_weighting_scheme(Xapian::BM25Weight());
        enquire.set_query(plan.query);
        const Xapian::MSet mset =
            enquire.get_mset(0, static_cast<Xapian::doccount>(candidates_for(limit)));
        const double max_weight = mset.get_max_possible();
        struct Scored {
            Hit hit;
            double weight;
            Xapian::Document doc;
        };
        std::vector<Scored> scored;
        scored.reserve(mset.size());
        for (auto it = mset.begin(); it != mset.end(); ++it) {
            std::vector<bool> found(plan.words.size(), false);
            for (auto t = enquire.get_matching_terms_begin(it);
                 t != enquire.get_matching_terms_end(it); ++t) {
                if (const int i = plan.word_of(*t); i >= 0) {
                    found[static_cast<std::size_t>(i)] = true;
                }
            }
            Xapian::Document doc = it.get_document();
            // Xapian names a wildcard's expansions only as the wildcard: a
            // prefix word is looked up in the document's own terms.
            for (std::size_t i = 0; i < found.size(); ++i) {
                const QueryWord& w = plan.words[i];
                if (!found[i] && !w.terms.empty() && w.terms.back().prefix) {
                    auto t = doc.termlist_begin();
                    t.skip_to(w.lower);
                    found[i] = t != doc.termlist_end() && (*t).starts_with(w.lower);
                }
            }
            double matched = 0.0;
            for (std::size_t i = 0; i < found.size(); ++i) {
                matched += found[i] ? plan.words[i].idf : 0.0;
            }
            Hit hit;
            hit.path = doc.get_value(PATH);
            hit.title = doc.get_value(TITLE);
            ScoreInputs in;
            in.coverage = total_idf > 0 ? matched / total_idf : 0.0;
            in.strength = max_weight > 0 ? it.get_weight() / max_weight : 0.0;
            in.title = coverage_in(hit.title, plan, stem);
            in.exact_title = is_exact_title(hit.title, plan);
            hit.score = calibrated_score(in);
            scored.push_back({std::move(hit), it.get_weight(), std::move(doc)});
        }
        std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
            return a.hit.score != b.hit.score ? a.hit.score > b.hit.score : a.weight > b.weight;
        });
        if (scored.size() > limit) {
            scored.resize(limit);
        }
        for (Scored& s : scored) {
            // Only the hits sent out pay for their snippet.
            s.hit.snippet = make_snippet(s.doc.get_data(), plan, stem);
            hits.push_back(std::move(s.hit));
        }
        return hits;
    } catch (const Xapian::Error& e) {
        return unexpected(IndexError{IndexError::Kind::Other, e.get_description()});
    }
}

Result<std::vector<Hit>, IndexError> search(const Xapian::Database& db, std::string_view text,
                                            std::size_t limit) {
    return search(db, text, limit, stemmer_for_locale(index_language(db).value_or("en")));
}

}  // namespace flintmill::index
