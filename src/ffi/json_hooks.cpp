// Test-only entry point of `to_json`, compiled in with the test_hooks build
// option: `_to_json_two_pass_for_test(obj, default=None, option=0, /)` takes the road
// through the Value tree whatever the options, so that tests can check that
// it and the one-walk writer give the same bytes and the same errors.
#include "ffi/json_hooks.hpp"

#ifdef OSTREVANE_TEST_HOOKS
#include "ffi/dumps.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/test_hooks.hpp"
#endif

namespace ostrevane::ffi {

#ifdef OSTREVANE_TEST_HOOKS
namespace {

PyObject* to_json_two_pass_entry(PyObject* /*self*/, PyObject* args) {
  return guarded_call([&]() -> PyResult<PyRef> {
    PyObject* obj = nullptr;
    PyObject* default_fn = Py_None;
    unsigned long long option = 0;
    if (!PyArg_ParseTuple(args, "O|OK", &obj, &default_fn, &option)) {
      return std::unexpected(PyError::fetch());
    }
    return to_json(ToJsonArgs{obj, default_fn == Py_None ? nullptr : default_fn, option},
                   JsonRoad::TwoPass);
  });
}

PyMethodDef g_hooks[] = {
    {"_to_json_two_pass_for_test", to_json_two_pass_entry, METH_VARARGS,
     "_to_json_two_pass_for_test(obj, default=None, option=0, /)\n--\n\n"
     "Test-only: to_json through the Value tree."},
};

}  // namespace

PyResult<void> add_json_hooks(PyObject* module) { return add_hook_functions(module, g_hooks); }
#else
PyResult<void> add_json_hooks(PyObject*) { return {}; }
#endif

}  // namespace ostrevane::ffi
