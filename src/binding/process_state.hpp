// What the binding keeps for the life of the process, in one place. Filled under the
// interpreter lock as first needed and never released, since the interpreter may still hand
// these objects out while the process ends. Each extension module links its own copy.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "binding/ref.hpp"

namespace tessaron::py {

// Ids below this get one shared int each: filling a list then costs a reference increment per
// id instead of an allocation.
inline constexpr std::size_t kSharedInts = std::size_t{1} << 16;

struct ProcessState {
    // The one interpreter the module serves; -1 until one has imported it.
    std::atomic<std::int64_t> owner_interpreter{-1};
    PyObject* module = nullptr;
    PyObject* class_object = nullptr;  // the module's class
    PyObject* panic_type = nullptr;    // pyo3_runtime.PanicException
    std::string sequence_name;         // __qualname__ of collections.abc.Sequence
    std::array<PyObject*, kSharedInts> shared_ints{};
};

inline ProcessState process_state;

}  // namespace tessaron::py
