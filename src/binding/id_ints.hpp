// One Python int per token of a model (the encoder's tokens, then the special tokens), made
// when the model changes and shared by every list of its ids: filling a list then costs a reference
// increment per id instead of an allocation. It costs about 40 bytes per token above 256 (the int
// and a pointer to it; smaller ids are the interpreter's own shared ints). Read-only between
// rebuilds, and its ints are touched under the interpreter lock only, so encodes on several
// threads may share it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "binding/ref.hpp"
#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/id_map.hpp"

namespace tessaron::py {

class IdInts {
public:
    // `outer`, when given, maps the model's ids to those the lists show; it outlives this.
    explicit IdInts(const IdMap* outer = nullptr) : outer_(outer) {}
    IdInts(const IdInts&) = delete;
    IdInts& operator=(const IdInts&) = delete;
    ~IdInts() { clear(); }

    // Until the next rebuild: for a model about to change. Not while lists_of fills lists.
    void clear();
    // The ints of `model`'s tokens. Throws ErrorAlreadySet, left clear, when one fails.
    void rebuild(const basic::Model& model);
    bool empty() const { return ints_.empty(); }

    // A list made at its final length of ids that `model` encoded. Rebuilds first when clear.
    Ref list_of(const basic::Model& model, const basic::Encoding& ids) {
        return list_of(model, ids.tokens());
    }
    // The same from token numbers that may include special tokens (encode_with_specials.hpp).
    Ref list_of(const basic::Model& model, std::span<const std::uint32_t> numbers);
    // The ints by token number, for lists filled elsewhere; empty until built.
    std::span<PyObject* const> all() const { return ints_; }

private:
    const IdMap* outer_;
    std::vector<PyObject*> ints_;  // per token number
};

}  // namespace tessaron::py
