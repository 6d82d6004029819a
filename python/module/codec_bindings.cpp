// vorlan._vorlan: encode and decode on numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <memory>

#include "bindings.h"
#include "codec.h"
#include "interrupt.h"
#include "nearest_level.h"
#include "plugin_home.h"

namespace py = pybind11;

namespace vorlan::python {
namespace {

// Planes carry their byte count in an int32.
constexpr int64_t kMostSamples = std::numeric_limits<int32_t>::max() / 8;

[[noreturn]] void Refuse(const std::string& message) { throw ModuleError(message); }

// The image as a plane: float64 samples are borrowed where they lie, other
// kinds are converted into `converted`.
Plane PlaneOf(const py::array& image, double low, double high, std::vector<double>& converted) {
  if (image.ndim() != 2) {
    Refuse("vorlan.encode: the image must be a 2-D array (rows, columns) of grey levels, not " +
           std::to_string(image.ndim()) + "-D");
  }
  const py::dtype dtype = image.dtype();
  const char kind = dtype.kind();
  const auto size = dtype.itemsize();
  const bool known = (kind == 'u' && (size == 1 || size == 2)) || (kind == 'f' && (size == 4 || size == 8));
  if (!known) {
    Refuse("vorlan.encode: the image's dtype " + py::str(py::object(dtype)).cast<std::string>() +
           " is not one of uint8, uint16, float32, float64");
  }
  if (dtype.byteorder() == '>') Refuse("vorlan.encode: the image's samples are big-endian; give native byte order");
  const py::ssize_t rows = image.shape(0);
  const py::ssize_t columns = image.shape(1);
  if (rows == 0 || columns == 0) {
    Refuse("vorlan.encode: the image is empty (" + std::to_string(rows) + " x " + std::to_string(columns) + ")");
  }
  if ((image.flags() & py::array::c_style) == 0) {
    Refuse("vorlan.encode: the image is not C-contiguous (a view with strides or a transposed array); "
           "pass numpy.ascontiguousarray(image)");
  }
  if (rows > kMostSamples / columns) {
    Refuse("vorlan.encode: the image has " + std::to_string(rows * columns) + " samples; a plane holds at most " +
           std::to_string(kMostSamples));
  }
  if (!(std::isfinite(low) && std::isfinite(high) && low < high)) {
    Refuse("vorlan.encode: value_range must be two finite numbers, low below high");
  }

  const int64_t count = int64_t{rows} * columns;
  const double* samples = nullptr;
  auto finite = [&](auto* values) {
    for (int64_t k = 0; k < count; ++k) {
      if (!std::isfinite(values[k])) {
        Refuse("vorlan.encode: the image holds a sample that is not a finite number (NaN or infinity) at row " +
               std::to_string(k / columns) + ", column " + std::to_string(k % columns));
      }
    }
  };
  auto convert = [&](auto* values) {
    converted.resize(static_cast<size_t>(count));
    for (int64_t k = 0; k < count; ++k) converted[static_cast<size_t>(k)] = static_cast<double>(values[k]);
    samples = converted.data();
  };
  if (kind == 'f' && size == 8) {
    samples = static_cast<const double*>(image.data());
    finite(samples);
  } else if (kind == 'f') {
    finite(static_cast<const float*>(image.data()));
    convert(static_cast<const float*>(image.data()));
  } else if (size == 1) {
    convert(static_cast<const uint8_t*>(image.data()));
  } else {
    convert(static_cast<const uint16_t*>(image.data()));
  }
  return Plane{static_cast<int32_t>(columns), static_cast<int32_t>(rows), low, high, static_cast<int32_t>(count * 8),
               const_cast<double*>(samples)};
}

[[noreturn]] void RaiseOutcome(const SignalPoll& poll, const ChainOutcome& outcome) {
  if (poll.Raised()) throw py::error_already_set();
  throw ModuleError(outcome.error);
}

py::bytes Encode(const py::array& image, std::pair<double, double> range, const NamedSettings& settings,
                 const NamedSettings& packerSettings) {
  std::vector<double> converted;
  const Plane plane = PlaneOf(image, range.first, range.second, converted);
  const host::Registry& registry = ModuleRegistry();
  std::vector<uint8_t> code;
  ChainOutcome outcome;
  SignalPoll poll;
  try {
    py::gil_scoped_release release;
    EncodePlane(registry, plane, settings, packerSettings, poll.Function(), code, outcome);
  } catch (const CodecRefusal& refusal) {
    Refuse(refusal.message);
  }
  if (outcome.result != Ok) RaiseOutcome(poll, outcome);
  return py::bytes(reinterpret_cast<const char*>(code.data()), code.size());
}

// `levels` 0 keeps the samples (float64); 255 or 65535 gives the nearest
// level of the declared range as uint8 or uint16, as the picture encoders
// write them.
py::array Decode(const py::buffer& data, const NamedSettings& settings, int32_t levels) {
  const py::buffer_info view = data.request();
  if (view.itemsize != 1 || view.ndim > 1 || (view.ndim == 1 && view.strides[0] != 1)) {
    Refuse("vorlan.decode: the code must be contiguous bytes (bytes, bytearray, memoryview or a uint8 array)");
  }
  if (view.size > std::numeric_limits<int32_t>::max()) Refuse("vorlan.decode: the code is larger than 2 GiB");
  const host::Registry& registry = ModuleRegistry();
  DecodedPlane plane;
  ChainOutcome outcome;
  SignalPoll poll;
  try {
    py::gil_scoped_release release;
    DecodeCode(registry, static_cast<const uint8_t*>(view.ptr), static_cast<int32_t>(view.size), settings,
               poll.Function(), plane, outcome);
  } catch (const CodecRefusal& refusal) {
    Refuse(refusal.message);
  }
  if (outcome.result != Ok) RaiseOutcome(poll, outcome);

  const std::vector<py::ssize_t> shape{plane.height, plane.width};
  if (levels == 0) {
    auto* owned = new std::vector<double>(std::move(plane.samples));
    py::capsule free(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    return py::array_t<double>(shape, owned->data(), free);
  }
  auto toLevels = [&](auto tag) {
    using T = decltype(tag);
    py::array_t<T> out(shape);
    T* dst = out.mutable_data();
    for (size_t k = 0; k < plane.samples.size(); ++k) {
      dst[k] = static_cast<T>(NearestLevel(plane.samples[k], plane.min, plane.max, levels));
    }
    return py::array(out);
  };
  if (levels == 255) return toLevels(uint8_t{});
  if (levels == 65535) return toLevels(uint16_t{});
  Refuse("vorlan.decode: levels must be 0, 255 or 65535");
}

}  // namespace

void BindCodec(py::module_& m) {
  m.def("_encode", &Encode, py::arg("image"), py::arg("value_range"), py::arg("settings"),
        py::arg("packer_settings") = NamedSettings{},
        "The packed HV code of a 2-D array (checked, not copied when float64) under the encoder and packer "
        "settings given by identifier, values as text.");
  m.def("_decode", &Decode, py::arg("data"), py::arg("settings"), py::arg("levels"),
        "The plane a packed HV code decodes to, under the decoder settings given by identifier.");
}

}  // namespace vorlan::python
