// The one place where C++ failures become Python exceptions: every entry point from the
// interpreter runs its body through guarded().
#pragma once

#include <cstdio>
#include <cstdlib>
#include <new>

#include "binding/ref.hpp"
#include "binding/raise.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::py {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const ErrorAlreadySet&) {
        return nullptr;
    } catch (const InternalFailure& failure) {
        set_panic(failure.message());
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    } catch (...) {
        std::fputs("uncaught panic at ffi boundary\n", stderr);
        std::abort();
    }
}

}  // namespace tessaron::py
