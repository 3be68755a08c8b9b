// Encoding many texts on several threads. The texts are cut into runs that the threads take
// in turn, each a share of the bytes still left: a few long texts among many short ones still
// spread over every thread, and the runs shrink toward the end so that the threads finish
// together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/basic/model.hpp"
#include "tokenizer/id_map.hpp"
#include "tokenizer/pretok/known_pieces.hpp"
#include "tokenizer/special_matcher.hpp"

namespace tessaron::basic {

// Where encode_batch_to puts the numbers (as encode_with_specials gives them) of a batch.
class BatchTaker {
public:
    // Once every text is encoded, on the calling thread while the others wait: the number of
    // numbers of each text, and how many threads will call take (numbered from 0).
    virtual void prepare(std::span<const std::size_t> lengths, std::size_t threads) = 0;
    // The numbers of text `text`, on thread `thread`: each text once, on the thread that
    // encoded it, so that the threads share this work as they shared the encoding.
    virtual void take(std::size_t thread, std::size_t text,
                      std::span<const std::uint32_t> numbers) = 0;

protected:
    ~BatchTaker() = default;
};

// Encodes every text on the calling thread and up to `threads - 1` more, which share `known`,
// and hands the numbers to `taker`. A failure of either stops both before anything more is
// taken and is rethrown once the threads have stopped.
void encode_batch_to(const Model& model, std::span<const std::string_view> texts,
                     const SpecialMatcher* specials, pretok::KnownPieces* known,
                     std::size_t threads, BatchTaker& taker);

// The same ids written as text, on the same threads: a line per text, its ids in decimal
// separated by single spaces and ended by a line feed. The lines come in order, in pieces
// (one per run) to be joined, so that no thread waits for another's text. `outer`, when given,
// maps the model's ids to those written (a model from elsewhere keeps its source's ids).
std::vector<std::string> encode_batch_lines(const Model& model,
                                            std::span<const std::string_view> texts,
                                            const SpecialMatcher* specials,
                                            pretok::KnownPieces* known, std::size_t threads,
                                            const IdMap* outer = nullptr);

// The lines of `data`: a line ends at a line feed, which is not part of it, and a final line
// feed ends the last line rather than starting an empty one.
std::vector<std::string_view> split_lines(std::string_view data);

}  // namespace tessaron::basic
