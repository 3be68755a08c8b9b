// What the binding keeps for the life of the process, in one place. Filled under the
// interpreter lock as first needed and never released, since the interpreter may still hand
// these objects out while the process ends. Each extension module links its own copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "binding/ref.hpp"

namespace tessaron::py {

struct ProcessState {
    // The one interpreter the module serves; -1 until one has imported it.
    std::atomic<std::int64_t> owner_interpreter{-1};
    PyObject* module = nullptr;
    PyObject* class_object = nullptr;  // the module's class
    PyObject* panic_type = nullptr;    // pyo3_runtime.PanicException
    std::string sequence_name;         // __qualname__ of collections.abc.Sequence
};

inline ProcessState process_state;

}  // namespace tessaron::py
