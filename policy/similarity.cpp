// The similarity search evaluated without its exponential branching.
//
// The branch-and-bound recursion that defines the measure computes, for a pattern offset k and a text
// position p, the bounded edit distance D(p, k) of the whole pattern suffix pattern[k..] against the best
// prefix of the text suffix text[p..] (text after the matched part is free), and counts k + D(p, k) as a
// candidate only when it lies below the current bound. Values at or above the bound never change the outcome,
// so the measure depends only on the exact D values, which a dynamic programme over suffixes gives in
// O(len(text) * len(pattern)):
//
//     D(i, m) = 0                      (pattern used up: the rest of the text is free)
//     D(N, j) = m - j                  (text used up: the rest of the pattern is missing)
//     D(i, j) = D(i+1, j+1)            when text[i] == pattern[j]
//     D(i, j) = 1 + min(D(i+1, j+1), D(i+1, j), D(i, j+1))   otherwise (substitute, extra in text, missing)
//
// Row j (all i) depends only on row j+1, so rows are produced from the pattern's end towards its start. The
// scan over offsets needs the rows in the opposite order (k = 0, 1, ...), so a first descending pass keeps
// every B-th row as a checkpoint and each block of B rows is recomputed from the checkpoint above it when the
// scan reaches it: O(N * sqrt(K)) memory for the K offsets the scan may visit, and at most twice the row work
// of a full table.
#include "policy/similarity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace korva {
namespace {

// A copy of a text that may be a password: wiped before its memory is released.
class WipedText {
  public:
    WipedText(const WChar* text, size_t length, bool fold) : text_(text, length) {
        if (fold) {
            for (WChar& c : text_)
                c = AsciiLower(c);
        }
    }
    ~WipedText() { SecureZero(text_.data(), text_.size() * sizeof(WChar)); }
    WipedText(const WipedText&) = delete;
    WipedText& operator=(const WipedText&) = delete;
    const WString& str() const { return text_; }

  private:
    WString text_;
};

using Row = std::vector<int32_t>;

// Serves the rows D(., k) for k = 0, 1, ... rowsNeeded - 1, in ascending order.
class SuffixDistanceRows {
  public:
    SuffixDistanceRows(const WString& text, const WString& pattern, size_t rowsNeeded)
        : text_(text), pattern_(pattern), rowsNeeded_(rowsNeeded) {
        block_ =
            std::max<size_t>(1, static_cast<size_t>(std::ceil(std::sqrt(static_cast<double>(rowsNeeded)))));
        // A block [cB, cB + B) is rebuilt from row min(cB + B, m); keep every such top row below m.
        const size_t blocks = (rowsNeeded_ + block_ - 1) / block_;
        checkpoints_.resize(blocks);
        Row next = BaseRow();
        Row current(text_.size() + 1);
        const size_t lowestTop = block_;  // rows below the first block's top are rebuilt with block 0
        for (size_t j = pattern_.size(); j-- > lowestTop;) {
            ComputeRow(j, next, &current);
            next.swap(current);
            if (j % block_ == 0 && j / block_ <= blocks)
                checkpoints_[j / block_ - 1] = next;
        }
    }

    const int32_t* Get(size_t k) {
        const size_t blockIndex = k / block_;
        if (blockIndex != loadedBlock_)
            LoadBlock(blockIndex);
        return rows_[k - blockIndex * block_].data();
    }

  private:
    Row BaseRow() const { return Row(text_.size() + 1, 0); }

    // Row j from row j + 1 (`next`).
    void ComputeRow(size_t j, const Row& next, Row* current) const {
        const size_t n = text_.size();
        Row& cur = *current;
        const WChar pj = pattern_[j];
        cur[n] = static_cast<int32_t>(pattern_.size() - j);
        for (size_t i = n; i-- > 0;) {
            if (text_[i] == pj) {
                cur[i] = next[i + 1];
            } else {
                cur[i] = 1 + std::min({next[i + 1], cur[i + 1], next[i]});
            }
        }
    }

    void LoadBlock(size_t blockIndex) {
        const size_t first = blockIndex * block_;
        const size_t top = first + block_;
        const size_t last = std::min(top, rowsNeeded_);  // rows [first, last) are kept
        Row next = top >= pattern_.size() ? BaseRow() : checkpoints_[blockIndex];
        Row current(text_.size() + 1);
        rows_.resize(last - first);
        for (size_t j = std::min(top, pattern_.size()); j-- > first;) {
            ComputeRow(j, next, &current);
            next.swap(current);
            if (j < last)
                rows_[j - first] = next;
        }
        loadedBlock_ = blockIndex;
    }

    const WString& text_;
    const WString& pattern_;
    size_t rowsNeeded_;
    size_t block_ = 1;
    std::vector<Row> checkpoints_;  // checkpoints_[c] is row (c + 1) * B, when below m
    std::vector<Row> rows_;         // the rows of the loaded block
    size_t loadedBlock_ = SIZE_MAX;
};

}  // namespace

double Similarity(const WChar* text, const WChar* pattern, double ratio, bool ignoreCase) {
    const size_t textLength = WLen(text);
    const size_t n = WLen(pattern);
    if (textLength == 0 && n == 0)
        return 1.0;
    if (textLength == 0 || n == 0)
        return 0.0;

    const WipedText t(text, textLength, ignoreCase);
    const WipedText s(pattern, n, ignoreCase);

    // A NaN ratio counts as 0: the strictest reading, which allows the most edits.
    if (!(ratio >= 0.0))
        ratio = 0.0;
    if (ratio > 1.0)
        ratio = 1.0;
    int64_t limit = static_cast<int64_t>(static_cast<double>(n) * (1.0 - ratio)) + 1;

    SuffixDistanceRows rows(t.str(), s.str(),
                            static_cast<size_t>(std::min<int64_t>(limit, static_cast<int64_t>(n))));
    bool found = false;
    size_t p = 0;  // carries over from one pattern offset to the next
    for (size_t k = 0; static_cast<int64_t>(k) < limit && k < n; ++k) {
        const int32_t* row = rows.Get(k);
        for (;;) {
            const size_t position = t.str().find(s.str()[k], p);
            if (position == WString::npos)
                break;
            p = position;
            const int64_t d = static_cast<int64_t>(k) + row[p];
            if (d < limit) {
                found = true;
                limit = d;
            }
            ++p;
        }
    }
    return found ? 1.0 - static_cast<double>(limit) / static_cast<double>(n) : 0.0;
}

double MutualSimilarity(const WChar* a, const WChar* b, double ratio, bool ignoreCase) {
    return std::min(Similarity(a, b, ratio, ignoreCase), Similarity(b, a, ratio, ignoreCase));
}

}  // namespace korva
