// libFuzzer target: the argument binding and conversions of every method, driven from an
// embedded interpreter by arguments_driver.py. The driver raises only when a call ends
// in something other than the documented exceptions; that aborts the run.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" PyObject* PyInit_tessaron();

namespace {

PyObject* driver = nullptr;

[[noreturn]] void die(const char* what) {
    if (PyErr_Occurred()) PyErr_Print();
    std::fprintf(stderr, "arguments fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (PyImport_AppendInittab("tessaron", PyInit_tessaron) < 0) die("inittab");
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;
    if (PyStatus_Exception(PyConfig_SetBytesString(&config, &config.home, TESSARON_PYTHON_HOME)) ||
        PyStatus_Exception(Py_InitializeFromConfig(&config))) {
        die("interpreter start");
    }
    PyConfig_Clear(&config);
    PyObject* path = PySys_GetObject("path");
    PyObject* dir = PyUnicode_FromString(TESSARON_FUZZ_DIR);
    if (path == nullptr || dir == nullptr || PyList_Insert(path, 0, dir) < 0) die("sys.path");
    Py_DECREF(dir);
    PyObject* module = PyImport_ImportModule("arguments_driver");
    if (module == nullptr) die("import arguments_driver");
    driver = PyObject_GetAttrString(module, "one");
    Py_DECREF(module);
    if (driver == nullptr) die("arguments_driver.one");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PyObject* input = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                                static_cast<Py_ssize_t>(size));
    if (input == nullptr) die("input");
    PyObject* result = PyObject_CallOneArg(driver, input);
    Py_DECREF(input);
    if (result == nullptr) die("unexpected outcome");
    Py_DECREF(result);
    return 0;
}
