#include "convert.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>

#include "frame.hpp"

namespace ostrel::python {

namespace {

// A sequence that is not a list or tuple may report any length; more than
// this many elements are not reserved ahead, the vector grows as it fills.
constexpr Py_ssize_t kMaxSpeculativeReserve = Py_ssize_t{1} << 20;

// The __qualname__ of the object's type as a str, or a stand-in text if it
// cannot be read.
PyRef type_name(PyObject* obj) {
  PyRef name(PyType_GetQualName(Py_TYPE(obj)));
  if (name && PyUnicode_Check(name.get())) return name;
  PyErr_Clear();
  return PyRef(PyUnicode_FromString("<failed to extract type name>"));
}

// "'<type>' object cannot be converted to '<target>'"
bool fail_downcast(PyObject* obj, const char* target) {
  PyRef name = type_name(obj);
  if (!name) return false;
  raise(PyExc_TypeError,
        PyRef(PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", name.get(), target)));
  return false;
}

// Appends the float value of each item of a list or tuple, read by index.
// The size is read again at each step, as the list iterator does, because an
// item's __float__ may change the list.
template <Py_ssize_t (*Size)(PyObject*), PyObject* (*Item)(PyObject*, Py_ssize_t)>
bool append_indexed(PyObject* seq, Vec& out) {
  for (Py_ssize_t i = 0; i < Size(seq); ++i) {
    const PyRef item = PyRef::borrow(Item(seq, i));
    double value = 0.0;
    if (!convert(item.get(), value)) return false;
    out.push_back(value);
  }
  return true;
}

Py_ssize_t list_size(PyObject* seq) { return PyList_GET_SIZE(seq); }
PyObject* list_item(PyObject* seq, Py_ssize_t i) { return PyList_GET_ITEM(seq, i); }
Py_ssize_t tuple_size(PyObject* seq) { return PyTuple_GET_SIZE(seq); }
PyObject* tuple_item(PyObject* seq, Py_ssize_t i) { return PyTuple_GET_ITEM(seq, i); }

// ---- buffer fast path --------------------------------------------------
//
// Arrays of doubles (NumPy float64 arrays, array.array('d'), memoryviews of
// them) expose their memory through the buffer protocol.  Iterating such an
// array yields one float per element, holding exactly the element's bits, so
// copying the elements straight out of the buffer gives the same vector as
// the general path at a fraction of the cost (no float object per element).
//
// That equivalence holds only where the general path reads the buffer's
// elements one by one: a one-dimensional buffer of native-order 8-byte IEEE
// doubles, exported by a type whose iteration, item access and export are all
// implemented in C.  Anything else takes the general path, which yields the
// values and errors the iteration gives: other element types (bytes and
// bytearray export "B", a bool array "?", an object array "O"), byte-swapped
// doubles, 0-d and multi-dimensional arrays (a 2-D array iterates rows), and
// subclasses that redefine __iter__, __getitem__ or __buffer__ in Python (a
// masked array yields its masked elements differently from its raw data).

// True for the struct format codes of a native-order double.
bool is_native_double(const char* format) {
  if (format == nullptr) return false;  // no format means unsigned bytes
  const std::string_view code(format);
  constexpr bool little = std::endian::native == std::endian::little;
  return code == "d" || code == "@d" || code == "=d" || code == (little ? "<d" : ">d") ||
         (!little && code == "!d");
}

// True if the type's attribute is missing or a slot wrapper, i.e. not
// redefined by a class written in Python.
bool is_c_slot(PyTypeObject* type, const char* name) {
  const PyRef attribute(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
  if (!attribute) {
    PyErr_Clear();
    return true;
  }
  return Py_IS_TYPE(attribute.get(), &PyWrapperDescr_Type);
}

bool reads_buffer_in_c(PyTypeObject* type) {
  return is_c_slot(type, "__iter__") && is_c_slot(type, "__getitem__") &&
         is_c_slot(type, "__buffer__");
}

// Holds an exported buffer and releases it when it goes out of scope.
class BufferView {
 public:
  explicit BufferView(PyObject* exporter) noexcept
      : held_(PyObject_GetBuffer(exporter, &view_, PyBUF_RECORDS_RO) == 0) {
    // An export that fails is left to the general path, which then meets the
    // same object through iteration and reports its own error, if any.
    if (!held_) PyErr_Clear();
  }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() {
    if (held_) PyBuffer_Release(&view_);
  }

  // One dimension of native doubles: the only layout read here.
  bool is_vector_of_doubles() const noexcept {
    return held_ && view_.ndim == 1 && view_.itemsize == sizeof(double) &&
           is_native_double(view_.format) && view_.shape != nullptr && view_.strides != nullptr;
  }

  // Copies the elements in index order; strides may be larger than an
  // element, zero or negative, and the memory need not be aligned.
  void copy_to(Vec& out) const {
    const auto n = static_cast<std::size_t>(view_.shape[0]);
    const Py_ssize_t stride = view_.strides[0];
    const auto* base = static_cast<const char*>(view_.buf);
    out.resize(n);
    if (stride == static_cast<Py_ssize_t>(sizeof(double))) {
      if (n != 0) std::memcpy(out.data(), base, n * sizeof(double));
      return;
    }
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(&out[i], base + static_cast<Py_ssize_t>(i) * stride, sizeof(double));
    }
  }

 private:
  Py_buffer view_{};
  bool held_;
};

// Reads a sequence of doubles through its buffer; false (with no error set)
// if the object does not qualify, and the general path must read it.
bool read_double_buffer(PyObject* seq, Vec& out) {
  if (!PyObject_CheckBuffer(seq) || !reads_buffer_in_c(Py_TYPE(seq))) return false;
  const BufferView view(seq);
  if (!view.is_vector_of_doubles()) return false;
  view.copy_to(out);
  return true;
}

// Appends the float value of each item that the iterator protocol yields.
bool append_iterated(PyObject* seq, Vec& out) {
  const PyRef iterator(PyObject_GetIter(seq));
  if (!iterator) return false;
  while (const PyRef item{PyIter_Next(iterator.get())}) {
    double value = 0.0;
    if (!convert(item.get(), value)) return false;
    out.push_back(value);
  }
  return PyErr_Occurred() == nullptr;
}

}  // namespace

bool convert(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return false;
  out = value;
  return true;
}

bool convert(PyObject* obj, Vec& out) {
  if (PyUnicode_Check(obj)) {
    raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) return fail_downcast(obj, "Sequence");

  // The length only sizes the storage; a sequence that cannot tell it is
  // still read to its end.
  out.clear();
  const Py_ssize_t length = PySequence_Size(obj);
  if (length < 0) {
    PyErr_Clear();
  } else if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    out.reserve(static_cast<std::size_t>(length));
  } else {
    out.reserve(static_cast<std::size_t>(std::min(length, kMaxSpeculativeReserve)));
  }

  // Exact lists and tuples are read by index: the same items in the same
  // order as their iterators give, without the iterator object.
  if (PyList_CheckExact(obj)) return append_indexed<list_size, list_item>(obj, out);
  if (PyTuple_CheckExact(obj)) return append_indexed<tuple_size, tuple_item>(obj, out);
  if (read_double_buffer(obj, out)) return true;
  return append_iterated(obj, out);
}

bool convert(PyObject* obj, bool& out) {
  if (Py_IS_TYPE(obj, &PyBool_Type)) {
    out = obj == Py_True;
    return true;
  }
  return fail_downcast(obj, "PyBool");
}

bool convert(PyObject* obj, std::optional<bool>& out) {
  if (obj == nullptr || obj == Py_None) {
    out.reset();
    return true;
  }
  bool flag = false;
  if (!convert(obj, flag)) return false;
  out = flag;
  return true;
}

bool convert(PyObject* obj, FloatOrVector& out) {
  if (convert(obj, out.value)) {
    out.is_vector = false;
    return true;
  }
  PyErr_Clear();
  if (convert(obj, out.values)) {
    out.is_vector = true;
    return true;
  }
  PyErr_Clear();
  raise(PyExc_TypeError, "Argument must be a float or a list of floats.");
  return false;
}

}  // namespace ostrel::python
