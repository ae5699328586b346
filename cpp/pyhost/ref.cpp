// The single place where C++ exceptions become Python exceptions.
#include "pyhost/ref.hpp"

#include <exception>
#include <new>

namespace pyhost {

void detail::release_last(PyObject* p) {
    try {
        Py_DECREF(p);
    } catch (...) {
        mark_if_forced_unwind();
        throw;
    }
}

void set_error_from_exception() {
    try {
        throw;
    } catch (const Error&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

}  // namespace pyhost
