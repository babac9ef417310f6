// Search quality and query latency of flintmill's index, printed as figures:
//   scifact DIR    nDCG@10 on SciFact (test split; train too, for tuning) for
//                  plain BM25 and for each step up to the full ranking
//   quality DIR    recall@10 and nDCG@10 per kind of the project's own set
//   latency N...   query p50/p95/p99 over N synthetic documents, every feature on
// Each figure is taken in the same run for every configuration, so they
// compare. Work files go under $TMPDIR.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flintmill/index/index.hpp"
#include "flintmill/index/search.hpp"

namespace fs = std::filesystem;
namespace fi = flintmill::index;

namespace {

struct Config {
    const char* name;
    fi::SearchOptions options;
};

std::vector<Config> configs() {
    fi::SearchOptions plain;
    plain.query.prefix = plain.query.spelling = plain.query.related = false;
    plain.rerank = false;
    fi::SearchOptions first = plain;
    first.query.prefix = true;
    first.rerank = true;
    fi::SearchOptions spelling = first;
    spelling.query.spelling = true;
    fi::SearchOptions full = spelling;
    full.query.related = true;
    fi::SearchOptions bm25_order = full;
    bm25_order.rerank = false;
    return {{"plain BM25", plain},
            {"+ prefix, calibrated order", first},
            {"+ spelling", spelling},
            {"+ related words (full)", full},
            {"full, BM25 order", bm25_order}};
}

std::string temp_dir(const std::string& name) {
    const char* t = std::getenv("TMPDIR");
    fs::path p = fs::path(t != nullptr ? t : "/tmp") / ("bench-flintmill-" + name);
    fs::remove_all(p);
    return p.string();
}

double ndcg10(const std::vector<std::string>& ranked, const std::set<std::string>& relevant) {
    double dcg = 0.0;
    for (std::size_t i = 0; i < ranked.size() && i < 10; ++i) {
        if (relevant.count(ranked[i])) {
            dcg += 1.0 / std::log2(static_cast<double>(i) + 2.0);
        }
    }
    double ideal = 0.0;
    for (std::size_t i = 0; i < relevant.size() && i < 10; ++i) {
        ideal += 1.0 / std::log2(static_cast<double>(i) + 2.0);
    }
    return ideal > 0 ? dcg / ideal : 0.0;
}

double recall10(const std::vector<std::string>& ranked, const std::set<std::string>& relevant) {
    std::size_t found = 0;
    for (std::size_t i = 0; i < ranked.size() && i < 10; ++i) {
        found += relevant.count(ranked[i]);
    }
    return relevant.empty() ? 0.0 : static_cast<double>(found) / relevant.size();
}

std::vector<std::string> ranked_paths(const Xapian::Database& db, const std::string& text,
                                      const fi::SearchOptions& options, const Xapian::Stem& stem) {
    std::vector<std::string> out;
    auto hits = fi::search(db, text, 10, stem, options);
    if (hits) {
        for (auto& h : *hits) {
            out.push_back(h.path);
        }
    }
    return out;
}

int scifact(const std::string& dir) {
    if (!fs::exists(dir + "/corpus.jsonl")) {
        std::printf(
            "SciFact: not found at %s (the data is not in the repository; see "
            "its README)\n",
            dir.c_str());
        return 0;
    }
    const std::string idx = temp_dir("scifact");
    auto index = fi::Index::open(idx, "en");
    if (!index) {
        std::fprintf(stderr, "%s\n", index.error().message.c_str());
        return 1;
    }
    std::ifstream corpus(dir + "/corpus.jsonl");
    std::size_t docs = 0;
    for (std::string line; std::getline(corpus, line);) {
        auto j = nlohmann::json::parse(line);
        fi::DocumentRecord r;
        r.path = j["_id"].get<std::string>();
        r.title = j["title"].get<std::string>();
        r.text = j["text"].get<std::string>();
        (void)index->add(r);
        ++docs;
    }
    (void)index->commit();
    auto db = fi::open_reader(idx);
    Xapian::Stem stem("english");
    for (const auto& [split, queries, qrels] :
         {std::tuple{"test", "queries.jsonl", "qrels-test.tsv"},
          std::tuple{"train", "queries-train.jsonl", "qrels-train.tsv"}}) {
        std::map<std::string, std::set<std::string>> rel;
        std::ifstream q(dir + "/" + qrels);
        std::string line;
        std::getline(q, line);
        while (std::getline(q, line)) {
            std::istringstream in(line);
            std::string qid, cid, score;
            in >> qid >> cid >> score;
            if (score != "0") {
                rel[qid].insert(cid);
            }
        }
        std::vector<std::pair<std::string, std::string>> qs;
        std::ifstream qf(dir + "/" + queries);
        while (std::getline(qf, line)) {
            auto j = nlohmann::json::parse(line);
            std::string id = j["_id"].get<std::string>();
            if (rel.count(id)) {
                // A claim is a finished query: it ends in a space.
                qs.emplace_back(id, j["text"].get<std::string>() + " ");
            }
        }
        std::printf(
            "SciFact %s split: %zu queries over %zu documents (published BM25 on "
            "test: 0.665)\n",
            split, qs.size(), docs);
        for (const Config& c : configs()) {
            double sum = 0.0;
            for (const auto& [id, text] : qs) {
                sum += ndcg10(ranked_paths(*db, text, c.options, stem), rel[id]);
            }
            std::printf("  %-30s nDCG@10 %.3f\n", c.name, sum / static_cast<double>(qs.size()));
        }
        if (std::getenv("BENCH_TUNE") != nullptr && std::string(split) == "train") {
            // The grid the defaults were chosen from (train split only).
            for (double k1 : {0.8, 1.0, 1.2, 1.6}) {
                for (double b : {0.4, 0.5, 0.75}) {
                    for (double rw : {0.2, 0.35, 0.5}) {
                        fi::SearchOptions o = configs()[4].options;
                        o.k1 = k1;
                        o.b = b;
                        o.query.related_weight = rw;
                        double sum = 0.0;
                        for (const auto& [id, text] : qs) {
                            sum += ndcg10(ranked_paths(*db, text, o, stem), rel[id]);
                        }
                        std::printf("  tune k1 %.1f b %.2f related %.2f: %.3f\n", k1, b, rw,
                                    sum / static_cast<double>(qs.size()));
                    }
                }
            }
        }
    }
    fs::remove_all(idx);
    return 0;
}

int quality(const std::string& dir) {
    const std::string idx = temp_dir("quality");
    auto index = fi::Index::open(idx, "en");
    if (!index) {
        std::fprintf(stderr, "%s\n", index.error().message.c_str());
        return 1;
    }
    for (const auto& e : fs::directory_iterator(dir + "/docs")) {
        std::ifstream f(e.path());
        std::stringstream body;
        body << f.rdbuf();
        std::string text = body.str();
        fi::DocumentRecord r;
        r.path = e.path().filename().string();
        std::string first = text.substr(0, text.find('\n'));
        r.title = first.starts_with("# ") ? first.substr(2) : first;
        r.text = text;
        (void)index->add(r);
    }
    (void)index->commit();
    auto db = fi::open_reader(idx);
    Xapian::Stem stem("english");
    std::map<std::string, std::vector<std::pair<std::string, std::set<std::string>>>> kinds;
    std::ifstream tsv(dir + "/queries.tsv");
    for (std::string line; std::getline(tsv, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream row(line);
        std::string kind, query, docs;
        std::getline(row, kind, '\t');
        std::getline(row, query, '\t');
        std::getline(row, docs, '\t');
        std::set<std::string> rel;
        std::istringstream names(docs);
        for (std::string n; std::getline(names, n, ',');) {
            rel.insert(n);
        }
        kinds[kind].emplace_back(query, rel);
    }
    std::printf("Own quality set (%s): recall@10 / nDCG@10, queries as typed\n", dir.c_str());
    std::printf("  %-30s", "");
    for (const auto& [kind, qs] : kinds) {
        std::printf(" %-12s", (kind + " (" + std::to_string(qs.size()) + ")").c_str());
    }
    std::printf("\n");
    for (const Config& c : configs()) {
        std::printf("  %-30s", c.name);
        for (const auto& [kind, qs] : kinds) {
            double r = 0, n = 0;
            for (const auto& [q, rel] : qs) {
                auto ranked = ranked_paths(*db, q, c.options, stem);
                r += recall10(ranked, rel);
                n += ndcg10(ranked, rel);
            }
            std::printf(" %.2f / %.2f  ", r / qs.size(), n / qs.size());
        }
        std::printf("\n");
    }
    fs::remove_all(idx);
    return 0;
}

int latency(const std::vector<std::size_t>& sizes) {
    // A vocabulary of real words with a Zipf-like use, so that related
    // words, spelling and prefixes have something to find.
    std::vector<std::string> vocab;
    std::ifstream nouns("/usr/share/wordnet/index.noun");
    for (std::string line; std::getline(nouns, line) && vocab.size() < 30000;) {
        std::string w = line.substr(0, line.find(' '));
        if (!line.starts_with(" ") &&
            w.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos &&
            w.size() >= 3) {
            vocab.push_back(w);
        }
    }
    std::mt19937 rng(42);
    std::shuffle(vocab.begin(), vocab.end(), rng);
    std::vector<double> zipf(vocab.size());
    for (std::size_t i = 0; i < zipf.size(); ++i) {
        zipf[i] = 1.0 / static_cast<double>(i + 1);
    }
    std::discrete_distribution<std::size_t> pick(zipf.begin(), zipf.end());
    std::uniform_int_distribution<std::size_t> common(0, 2000);
    Xapian::Stem stem("english");
    for (std::size_t n : sizes) {
        const std::string idx = temp_dir("latency");
        auto index = fi::Index::open(idx, "en");
        auto t0 = std::chrono::steady_clock::now();
        for (std::size_t d = 0; d < n; ++d) {
            fi::DocumentRecord r;
            r.path = "/notes/" + std::to_string(d) + ".txt";
            r.title = vocab[pick(rng)] + " " + vocab[pick(rng)];
            for (int k = 0; k < 80; ++k) {
                r.text += vocab[pick(rng)] + (k % 12 == 11 ? ". " : " ");
            }
            (void)index->add(r);
        }
        (void)index->commit();
        double build = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        auto db = fi::open_reader(idx);
        std::vector<std::string> queries;
        for (int q = 0; q < 300; ++q) {
            std::string a = vocab[common(rng)], b = vocab[common(rng)], c = vocab[common(rng)];
            switch (q % 4) {
                case 0:
                    queries.push_back(a + " " + b + " ");
                    break;  // finished
                case 1:
                    queries.push_back(a + " " + b.substr(0, 3));
                    break;  // typing
                case 2:
                    queries.push_back(a.substr(0, a.size() - 1) + "x " + b);
                    break;  // slip
                default:
                    queries.push_back(a + " " + b + " " + c);
                    break;
            }
        }
        std::vector<double> ms;
        fi::SearchOptions full;
        (void)fi::load_meaning();
        for (const auto& q : queries) {
            auto a = std::chrono::steady_clock::now();
            (void)fi::search(*db, q, 10, stem, full);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a)
                    .count());
        }
        std::sort(ms.begin(), ms.end());
        auto pct = [&](double p) { return ms[static_cast<std::size_t>(p * (ms.size() - 1))]; };
        std::printf(
            "Query latency, %zu documents (every feature on, %zu queries, built in "
            "%.1f s): p50 %.2f ms  p95 %.2f ms  p99 %.2f ms (goal p99 <= 10 ms at 100k)\n",
            n, ms.size(), build, pct(0.5), pct(0.95), pct(0.99));
        fs::remove_all(idx);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "scifact") {
        return scifact(args[1]);
    }
    if (args.size() >= 2 && args[0] == "quality") {
        return quality(args[1]);
    }
    if (args.size() >= 2 && args[0] == "latency") {
        std::vector<std::size_t> sizes;
        for (std::size_t i = 1; i < args.size(); ++i) {
            sizes.push_back(std::stoul(args[i]));
        }
        return latency(sizes);
    }
    std::fprintf(stderr, "usage: bench_flintmill scifact DIR | quality DIR | latency N...\n");
    return 2;
}
